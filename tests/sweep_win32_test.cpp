// The Win32 file calls of whole runs, each failed in turn in this process or the process ended
// inside it (in a child process), through the platform's table of those calls, by the driver of
// the Linux sweep; the order of the flushes; other programs at the edges of a replacement.
#include <gtest/gtest.h>
#include <process.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <tuple>
#include <type_traits>

#include "platform/platform-win32-calls.h"
#include "platform/platform-win32.h"
#include "sweep.h"

namespace corvandel::testing {
namespace {
using win32::FileCalls;

const FileCalls kSystem;          // the system's own calls, which the hooks pass on to
constexpr UINT kKilled = 0xDEAD;  // the status of a run ended inside a call

Fault fault(DWORD code, Treatment treatment = Treatment::fails) {
  return {static_cast<int>(code), treatment, win32::os_error(code).text};
}

// Calls of `name` refused with `code`: the `nth` and the `times` - 1 after it (all from it on
// when `times` is 0).
struct Refusal {
  std::string name;
  int nth, times;
  DWORD code;
};

// What the table's calls do while a test has them: each is noted as a step of the run, then
// refused, passed on, or passed on and the process ended inside it.
struct Hooks {
  std::string base;  // the base directory's text, cut from the paths noted
  std::vector<Step> steps;
  std::vector<Refusal> refusals;
  std::string kill_name;
  int kill_nth = 0;
  DWORD extra_attributes = 0;  // reported as well for a list looked at in a replacement
  bool no_times = false;       // no times of change reported
  std::function<void(const Step&)> before;
  std::mutex mutex;
  std::map<std::string, int> counts;
  std::map<HANDLE, std::pair<std::string, std::string>> handles;  // what each was opened for
};
Hooks* hooks = nullptr;

// The arguments of a call that tell what it does.
struct Args {
  const wchar_t* path = nullptr;
  HANDLE handle = nullptr;
  DWORD access = 0, disposition = 0, flags = 0;
};

// What a call does for the run, and the errors it meets in the world.
Step describe(const std::string& name, const Args& a) {
  Step step{.name = name, .changes_disk = false};
  std::string opened_for;
  if (a.path) {
    step.path = win32::to_utf8(a.path).value_or("?");
    if (step.path.starts_with(hooks->base)) step.path.erase(0, hooks->base.size());
    std::replace(step.path.begin(), step.path.end(), '\\', '/');
  } else if (const auto known = hooks->handles.find(a.handle); known != hooks->handles.end()) {
    std::tie(opened_for, step.path) = known->second;
  }
  const Fault device = fault(ERROR_IO_DEVICE), denied = fault(ERROR_ACCESS_DENIED),
              full = fault(ERROR_DISK_FULL);
  const std::vector<Fault> held = {fault(ERROR_SHARING_VIOLATION, Treatment::retried),
                                   fault(ERROR_ACCESS_DENIED, Treatment::retried)};
  step.faults = {device};
  if (name == "CreateFileW") {
    step.changes_disk = a.disposition != OPEN_EXISTING;
    if (a.disposition == CREATE_NEW) {
      step.act = "create", step.faults = {denied, fault(ERROR_FILE_EXISTS, Treatment::name_taken)};
    } else if (a.disposition == OPEN_ALWAYS) {
      step.act = "ignored", step.detail = "lock", step.faults = {denied};
    } else if (a.access == FILE_READ_ATTRIBUTES) {  // never refused for sharing
      step.act = "replace", step.detail = "state";
    } else {
      step.act = a.access == DELETE ? "replace" : "open", step.faults = held;
      step.detail = a.access == DELETE ? "wait" : "", step.faults.push_back(device);
    }
  } else if (name == "CreateHardLinkW" || name == "MoveFileExW") {
    step.changes_disk = true, step.faults = held;
    step.act = step.path.find(".new-") != std::string::npos ? "put_in_place" : "set_aside";
    if ((a.flags & MOVEFILE_REPLACE_EXISTING) == 0) {
      step.faults.push_back(fault(ERROR_ALREADY_EXISTS, Treatment::name_taken));
    }
    if (name == "CreateHardLinkW") {
      for (const DWORD code : {ERROR_NOT_SUPPORTED, ERROR_INVALID_FUNCTION})
        step.faults.push_back(fault(code, Treatment::no_hard_links));
    }
    step.faults.push_back(name == "MoveFileExW" ? fault(ERROR_NOT_SAME_DEVICE) : full);
    if ((a.flags & MOVEFILE_WRITE_THROUGH) != 0) step.detail = "write-through";
    if ((a.flags & MOVEFILE_REPLACE_EXISTING) != 0) step.detail += " replacing";
  } else if (name == "GetFileAttributesExW") {
    step.act = "look", step.faults = {denied};
  } else if (name == "CreateDirectoryW") {
    step.act = "make_directory", step.faults = {denied, full}, step.changes_disk = true;
  } else if (opened_for == "create") {  // written, flushed, emptied, or closed once written
    step.act = "write";
    step.changes_disk = name == "WriteFile" || name == "FlushFileBuffers" || name == "SetEndOfFile";
    if (name == "WriteFile" || name == "FlushFileBuffers") step.faults = {device, full};
  } else if ((opened_for == "open" || opened_for == "state") && name != "CloseHandle") {
    step.act = opened_for == "open" ? "open" : "replace";
  } else {  // the lock, the attributes kept, the folder's listing, removals, handles closed
    step.act = "ignored";
    step.faults = {name == "LockFileEx" ? fault(ERROR_LOCK_VIOLATION) : denied};
    step.changes_disk = name == "SetFileAttributesW" || name == "DeleteFileW";
    if (name == "SetFileAttributesW") step.detail = "attributes " + std::to_string(a.flags);
  }
  return step;
}

template <auto a, auto b>
constexpr bool same_entry() {
  if constexpr (std::is_same_v<decltype(a), decltype(b)>) return a == b;
  return false;
}

// A call of the table, `entry` naming the system's own: noted, then refused, passed on, or passed
// on and the process ended inside it.
template <auto entry, class... A>
auto hooked(const char* name, A... args) -> decltype((kSystem.*entry)(args...)) {
  using R = decltype((kSystem.*entry)(args...));
  const std::tuple<A...> t(args...);
  Args a;
  using First = std::tuple_element_t<0, std::tuple<A...>>;
  if constexpr (std::is_same_v<First, LPCWSTR>) a.path = std::get<0>(t);
  if constexpr (std::is_same_v<First, HANDLE>) a.handle = std::get<0>(t);
  if constexpr (same_entry<entry, &FileCalls::CreateFileW>()) {
    a.access = std::get<1>(t), a.disposition = std::get<4>(t);
  }
  if constexpr (same_entry<entry, &FileCalls::CreateHardLinkW>()) a.path = std::get<1>(t);
  if constexpr (same_entry<entry, &FileCalls::MoveFileExW>()) a.flags = std::get<2>(t);
  if constexpr (same_entry<entry, &FileCalls::SetFileAttributesW>()) a.flags = std::get<1>(t);
  std::unique_lock lock(hooks->mutex);
  Step step = describe(name, a);
  step.occurrence = ++hooks->counts[name];
  if (step.path.starts_with("DicLists")) {
    if (hooks->before) hooks->before(step);
    hooks->steps.push_back(step);
  }
  DWORD code = 0;
  for (const Refusal& refusal : hooks->refusals) {
    if (name == refusal.name && step.occurrence >= refusal.nth &&
        (refusal.times == 0 || step.occurrence < refusal.nth + refusal.times)) {
      code = refusal.code;
    }
  }
  const bool kill = name == hooks->kill_name && step.occurrence == hooks->kill_nth;
  lock.unlock();
  R failed{};
  if constexpr (std::is_same_v<R, HANDLE>) failed = INVALID_HANDLE_VALUE;
  // A handle that fails to close is closed all the same, as the system does.
  if (code != 0 && step.name != "CloseHandle") return SetLastError(code), failed;
  R result = (kSystem.*entry)(args...);
  if (code != 0) return SetLastError(code), failed;
  if (kill) TerminateProcess(GetCurrentProcess(), kKilled);
  if constexpr (std::is_same_v<R, HANDLE>) {
    lock.lock();
    hooks->handles[result] = {step.act == "replace" ? step.detail : step.act, step.path};
  }
  if constexpr (same_entry<entry, &FileCalls::GetFileInformationByHandle>()) {
    if (step.act == "replace") std::get<1>(t)->dwFileAttributes |= hooks->extra_attributes;
  }
  if constexpr (same_entry<entry, &FileCalls::GetFileInformationByHandleEx>()) {
    auto* times = static_cast<FILE_BASIC_INFO*>(std::get<2>(t));
    if (hooks->no_times) times->ChangeTime.QuadPart = times->LastWriteTime.QuadPart = 0;
  }
  return result;
}

// The hooks in the table while it exists.
struct Hooked : Hooks {
  explicit Hooked(const ListFolder& folder) {
    base = folder.base_text();
    hooks = this;
#define CORVANDEL_HOOK(name) \
  win32::file_calls().name = [](auto... args) { return hooked<&FileCalls::name>(#name, args...); };
    CORVANDEL_WIN32_FILE_CALLS(CORVANDEL_HOOK)
#undef CORVANDEL_HOOK
  }
  ~Hooked() {
    win32::file_calls() = kSystem, hooks = nullptr;
  }
};

RunResult run_hooked(const ListFolder& folder) {
  TestPlatform platform;
  platform.environment["QUILLMERE_DIR"] = folder.base_text();
  return run_in_process(platform, folder.root());
}

// Volumes without hard links refuse every link so.
const Refusal kNoHardLinks{"CreateHardLinkW", 1, 0, ERROR_NOT_SUPPORTED};

// A run in a child process, this program again, ended inside the call `step` (the test
// SweepChild.EndsInsideACall runs it, as its environment says).
RunResult run_child(const ListFolder& folder, const Step& step, bool no_hard_links) {
  const std::string run = step.name + " " + std::to_string(step.occurrence) + " " +
                          (no_hard_links ? "1 " : "0 ") + folder.base_text();
  _wputenv_s(L"CORVANDEL_SWEEP_KILL", fs::u8path(run).wstring().c_str());
  wchar_t program[MAX_PATH];
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  const intptr_t status = _wspawnl(_P_WAIT, program, L"unit_tests", L"--gtest_filter=SweepChild.*",
                                   L"--gtest_brief=1", nullptr);
  _wputenv_s(L"CORVANDEL_SWEEP_KILL", L"");
  return {static_cast<int>(status), "", ""};
}

TEST(SweepChild, EndsInsideACall) {
  const char* run = std::getenv("CORVANDEL_SWEEP_KILL");
  if (run == nullptr) GTEST_SKIP() << "run by the Windows sweep only";
  ListFolder folder;  // for its paths alone: the lists are in the folder the parent made
  std::istringstream what(run);
  std::string no_hard_links, base;
  Hooked hooked(folder);
  what >> hooked.kill_name >> hooked.kill_nth >> no_hard_links >> std::ws;
  std::getline(what, base);
  folder.use_base(fs::u8path(base.substr(0, base.size() - 1)));
  hooked.base = folder.base_text();
  if (no_hard_links == "1") hooked.refusals = {kNoHardLinks};
  run_hooked(folder);
  ADD_FAILURE() << "the run was not ended inside " << run;
}

// Every call of a run failed with each error it meets, then the run ended inside each call that
// changes the disk; on a volume without hard links, each move and flush.
void sweep_calls(bool no_hard_links) {
  const std::vector<Refusal> refused =
      no_hard_links ? std::vector{kNoHardLinks} : std::vector<Refusal>{};
  for (const bool kill : {false, true}) {
    const Lists before = sweep_lists(kill);
    std::vector<Step> steps;
    {
      ListFolder folder;
      folder.write(before);
      Hooked hooked(folder);
      hooked.refusals = refused;
      EXPECT_EQ(run_hooked(folder).status, 0);
      steps = std::move(hooked.steps);
    }
    number_steps(steps);
    const std::set<std::string> names =
        no_hard_links ? std::set<std::string>{"MoveFileExW", "FlushFileBuffers"}
                      : std::set<std::string>{};
    sweep(steps, names, kill, before, kKilled,
          [&](const ListFolder& folder, const Step& step, const Fault* failure) {
            if (!failure) return run_child(folder, step, no_hard_links);
            Hooked hooked(folder);
            hooked.refusals = refused;
            hooked.refusals.push_back({step.name, step.occurrence, 1, DWORD(failure->code)});
            return run_hooked(folder);
          });
  }
}

TEST(WindowsSweep, EachCallFailedOrEndedInside) {
  sweep_calls(false);
}

TEST(WindowsSweep, WithoutHardLinksEachMoveFailedOrEndedInside) {
  sweep_calls(true);
}

// The new list is flushed before it is linked or moved, the live list is free of other
// programs' handles before anything changes, moves are written through, the backup name is
// there when the live name changes, and the new list keeps the attributes that a replacement
// keeps (hidden, archive, not indexed), never read-only.
TEST(WindowsSweep, TheBackupNameIsOnDiskBeforeTheLiveNameChanges) {
  ListFolder folder;
  folder.write(kLists);
  Hooked hooked(folder);
  hooked.extra_attributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                            FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  std::string steps;
  hooked.before = [&](const Step& step) {
    if (step.name == "FlushFileBuffers" || step.name == "SetFileAttributesW" ||
        step.detail == "wait" || step.act == "set_aside" || step.act == "put_in_place") {
      steps += step.name + " " + step.path + " " + step.detail;
      const bool reduced = step.path.find("reduced") != std::string::npos;
      if (step.act == "put_in_place")
        steps +=
            ", backups: " + std::to_string(folder.backups(reduced ? "reduced" : "master").size());
      steps += "\n";
    }
  };
  ASSERT_EQ(run_hooked(folder).status, 0);
  std::string order;
  for (const std::string list : {"reduced", "master"}) {
    const std::string live = "DicLists/" + list + ".txt";
    order += "FlushFileBuffers " + live + ".new-1 \nCreateFileW " + live + " wait\n" +
             "SetFileAttributesW " + live + ".new-1 attributes 8226\nCreateHardLinkW " + live +
             " \n" + "MoveFileExW " + live + ".new-1 write-through replacing, backups: 1\n";
  }
  EXPECT_EQ(steps, order);
}

// Other programs at the replacement's edges: an editor's save renamed over the master list while
// its move is tried again is kept, and the run that would have replaced it fails; moves refused
// for a while (as while a reader holds the list with full sharing) are waited out. A file's state
// changes with its size alone, where its times do not tell.
TEST(WindowsSweep, CompanyWhileTheMoveIsTriedAgain) {
  const std::string merged = model_list({kLists.master, kLists.reduced, kLists.update});
  for (const auto& [code, times, save] :
       {std::tuple{ERROR_SHARING_VIOLATION, 1, true}, std::tuple{ERROR_ACCESS_DENIED, 5, false}}) {
    ListFolder folder;
    folder.write(kLists);
    Hooked hooked(folder);
    hooked.refusals = {{"MoveFileExW", 2, times, DWORD(code)}};
    const fs::path live = folder.lists() / "master.txt", saved = folder.lists() / "saved";
    hooked.before = [&, save = save](const Step& step) {
      if (!save || step.name != "MoveFileExW" || step.occurrence != 2) return;
      write_file(saved, "SAVED");
      kSystem.MoveFileExW(saved.c_str(), live.c_str(), MOVEFILE_REPLACE_EXISTING);
    };
    const RunResult r = run_hooked(folder);
    EXPECT_EQ(r.status, save ? 101 : 0);
    EXPECT_EQ(r.err.find(changed_meanwhile_error().text) != std::string::npos, save) << r.err;
    EXPECT_EQ(folder.read().master, save ? "SAVED" : merged);
    EXPECT_TRUE(folder.backups("master").size() == !save && folder.strays().empty());
    hooked.no_times = true;
    const Result<FileState> state = native_platform().file_state(live.string());
    std::ofstream(live, std::ios::app) << "S";
    EXPECT_NE(native_platform().file_state(live.string()).value().identity, state.value().identity);
  }
}

}  // namespace
}  // namespace corvandel::testing
