// The Win32 file calls of whole runs, each failed in turn (in this process) or the process ended
// inside it (a run in a child process), through the platform's table of those calls, by the
// driver that sweeps the system calls on Linux; the order of the flushes; other programs at the
// edges of a replacement.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <tuple>
#include <type_traits>

#include "platform-win32-calls.h"
#include "platform-win32.h"
#include "sweep.h"
#include "test_support.h"

namespace corvandel::testing {
namespace {
using win32::FileCalls;

// The system's own calls, which the hooks pass on to.
const FileCalls kSystem;

// The status of a run ended inside a call.
constexpr UINT kKilled = 0xDEAD;

// The attributes a list's file may have that a replacement keeps, and the one it must not.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

Fault fault(DWORD code, Treatment treatment = Treatment::fails) {
  return {static_cast<int>(code), treatment, win32::os_error(code).text};
}

// What the table's calls do while a test has them: each is noted as a step of the run (what it
// does, on which file), passed on, or failed with an error, or the process ended inside it.
struct Hooks {
  std::string base;  // the base directory's text, cut from the paths noted
  std::vector<Step> steps;
  // Calls refused with `code`: of `name`, the `nth` and the `times` - 1 after it (every one
  // from it on when `times` is 0).
  struct Refusal {
    std::string name;
    int nth, times;
    DWORD code;
  };
  std::vector<Refusal> refusals;
  // Ends the process inside the `kill_nth` call of `kill_name`, once the call has done its work.
  std::string kill_name;
  int kill_nth = 0;
  // Reports these attributes as well for the lists looked at in a replacement; reports no times.
  DWORD extra_attributes = 0;
  bool no_times = false;
  // Called before each call, with the step it is.
  std::function<void(const Step&)> before;

  std::mutex mutex;
  std::map<std::string, int> counts;
  std::map<HANDLE, std::pair<std::string, std::string>> handles;  // what each was opened for
};
Hooks* hooks = nullptr;

std::string noted_path(const wchar_t* path) {
  std::string text = win32::to_utf8(path).value_or("?");
  if (text.starts_with(hooks->base)) text.erase(0, hooks->base.size());
  std::replace(text.begin(), text.end(), '\\', '/');
  return text;
}

bool new_list(const std::string& path) {
  return path.find(".new-") != std::string::npos;
}

// A call on a path, or on a handle that the hooks saw opened: what it does and what it meets.
template <class First, class... Rest>
Step describe(const std::string& name, First first, Rest...) {
  Step step{.name = name};
  std::string opened_for;
  if constexpr (std::is_same_v<First, LPCWSTR>) {
    step.path = noted_path(first);
  } else if constexpr (std::is_same_v<First, HANDLE>) {
    const auto known = hooks->handles.find(first);
    if (known == hooks->handles.end()) return step;
    std::tie(opened_for, step.path) = known->second;
  }
  const bool list = step.path.ends_with(".txt");
  const Fault device = fault(ERROR_IO_DEVICE), denied = fault(ERROR_ACCESS_DENIED);
  step.changes_disk = name == "WriteFile" || name == "FlushFileBuffers" || name == "SetEndOfFile" ||
                      name == "SetFileAttributesW" || name == "CreateDirectoryW" ||
                      name == "DeleteFileW";
  step.faults = {device};
  if (name == "GetFileAttributesExW") {
    step.act = "look", step.faults = {denied};
  } else if (name == "CreateDirectoryW") {
    step.act = "make_directory", step.faults = {denied, fault(ERROR_DISK_FULL)};
  } else if (opened_for == "create") {
    step.act = "write";  // written, flushed, emptied, or closed once written
    if (name == "WriteFile" || name == "FlushFileBuffers") {
      step.faults = {device, fault(ERROR_DISK_FULL)};
    }
  } else if ((opened_for == "open" || opened_for == "state") && name != "CloseHandle") {
    step.act = opened_for == "open" ? "open" : "replace";
  } else {
    step.act = "ignored";  // the lock, the attributes kept, the folder's listing, removals
    step.faults = {name == "LockFileEx" ? fault(ERROR_LOCK_VIOLATION) : denied};
  }
  if (!list && !new_list(step.path) && step.act != "look" && step.act != "make_directory" &&
      step.act != "ignored") {
    step.act = "ignored";
  }
  return step;
}

Step describe(const std::string& name, LPCWSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES,
              DWORD disposition, DWORD, HANDLE) {
  Step step{.name = name, .path = noted_path(path)};
  const Fault sharing = fault(ERROR_SHARING_VIOLATION, Treatment::retried);
  if (disposition == CREATE_NEW) {
    step.act = "create";
    step.faults = {fault(ERROR_ACCESS_DENIED), fault(ERROR_FILE_EXISTS, Treatment::name_taken),
                   fault(ERROR_DISK_FULL)};
  } else if (disposition == OPEN_ALWAYS) {
    step.act = "ignored", step.detail = "lock", step.faults = {fault(ERROR_ACCESS_DENIED)};
  } else if (access == FILE_READ_ATTRIBUTES) {
    // An open for the attributes alone is never refused for sharing.
    step.act = "replace", step.detail = "state", step.faults = {fault(ERROR_IO_DEVICE)};
  } else {
    step.act = access == DELETE ? "replace" : "open";
    step.detail = access == DELETE ? "wait" : "";
    step.faults = {sharing, fault(ERROR_ACCESS_DENIED, Treatment::retried), fault(ERROR_IO_DEVICE)};
  }
  step.changes_disk = disposition != OPEN_EXISTING;
  return step;
}

Step describe(const std::string& name, LPCWSTR path, DWORD attributes) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%lx", static_cast<unsigned long>(attributes));
  return {.name = name,
          .act = "ignored",
          .path = noted_path(path),
          .detail = hex,
          .faults = {fault(ERROR_ACCESS_DENIED)}};
}

Step describe(const std::string& name, LPCWSTR from, LPCWSTR, DWORD flags) {
  Step step{.name = name, .path = noted_path(from)};
  step.act = new_list(step.path) ? "put_in_place" : "set_aside";
  step.detail = std::string((flags & MOVEFILE_WRITE_THROUGH) != 0 ? "write-through" : "") +
                ((flags & MOVEFILE_REPLACE_EXISTING) != 0 ? " replacing" : "");
  step.faults = {fault(ERROR_SHARING_VIOLATION, Treatment::retried),
                 fault(ERROR_ACCESS_DENIED, Treatment::retried), fault(ERROR_NOT_SAME_DEVICE)};
  if ((flags & MOVEFILE_REPLACE_EXISTING) == 0) {
    step.faults.push_back(fault(ERROR_ALREADY_EXISTS, Treatment::name_taken));
  }
  return step;
}

Step describe(const std::string& name, LPCWSTR, LPCWSTR existing, LPSECURITY_ATTRIBUTES) {
  Step step{.name = name, .act = "set_aside", .path = noted_path(existing)};
  step.faults = {fault(ERROR_SHARING_VIOLATION, Treatment::retried),
                 fault(ERROR_ACCESS_DENIED, Treatment::retried),
                 fault(ERROR_ALREADY_EXISTS, Treatment::name_taken),
                 fault(ERROR_NOT_SUPPORTED, Treatment::no_hard_links),
                 fault(ERROR_INVALID_FUNCTION, Treatment::no_hard_links),
                 fault(ERROR_DISK_FULL)};
  return step;
}

// What a hooked call returns when it fails.
template <class R>
R failed_result() {
  if constexpr (std::is_same_v<R, HANDLE>) return INVALID_HANDLE_VALUE;
  return R{};
}

// A call of the table, with `entry` the system's own: noted, then failed, passed on, or passed
// on and the process ended inside it.
template <auto entry, class... Args>
auto hooked(const char* name, Args... args) -> decltype((kSystem.*entry)(args...)) {
  using R = decltype((kSystem.*entry)(args...));
  std::unique_lock lock(hooks->mutex);
  Step step = describe(name, args...);
  step.occurrence = ++hooks->counts[name];
  if (step.path.starts_with("DicLists")) {
    if (hooks->before) hooks->before(step);
    hooks->steps.push_back(step);
  }
  DWORD code = 0;
  for (const Hooks::Refusal& refusal : hooks->refusals) {
    if (name == refusal.name && step.occurrence >= refusal.nth &&
        (refusal.times == 0 || step.occurrence < refusal.nth + refusal.times)) {
      code = refusal.code;
    }
  }
  const bool fail = code != 0;
  const bool kill = name == hooks->kill_name && step.occurrence == hooks->kill_nth;
  lock.unlock();
  // A handle that fails to close is closed all the same, as the system does.
  if (fail && step.name != "CloseHandle") return SetLastError(code), failed_result<R>();
  R result = (kSystem.*entry)(args...);
  if (fail) return SetLastError(code), failed_result<R>();
  if (kill) TerminateProcess(GetCurrentProcess(), kKilled);
  if constexpr (std::is_same_v<R, HANDLE>) {
    lock.lock();
    hooks->handles[result] = {step.act == "replace" ? step.detail : step.act, step.path};
  }
  if constexpr (std::is_same_v<decltype(entry), decltype(&FileCalls::GetFileInformationByHandle)>) {
    const auto info = std::get<1>(std::tuple(args...));
    if (step.act == "replace" && step.path.ends_with(".txt")) {
      info->dwFileAttributes |= hooks->extra_attributes;
    }
  }
  if constexpr (std::is_same_v<decltype(entry),
                               decltype(&FileCalls::GetFileInformationByHandleEx)>) {
    auto* times = static_cast<FILE_BASIC_INFO*>(std::get<2>(std::tuple(args...)));
    if (hooks->no_times) times->ChangeTime.QuadPart = times->LastWriteTime.QuadPart = 0;
  }
  return result;
}

// Puts the hooks in the table while it exists.
class Hooked : public Hooks {
 public:
  explicit Hooked(const ListFolder& folder) {
    base = folder.base_text();
    hooks = this;
    FileCalls& calls = win32::file_calls();
#define CORVANDEL_HOOK(name) \
  calls.name = [](auto... args) { return hooked<&FileCalls::name>(#name, args...); };
    CORVANDEL_WIN32_FILE_CALLS(CORVANDEL_HOOK)
#undef CORVANDEL_HOOK
  }
  ~Hooked() {
    win32::file_calls() = kSystem;
    hooks = nullptr;
  }
};

RunResult run_hooked(const ListFolder& folder) {
  TestPlatform platform;
  platform.environment["QUILLMERE_DIR"] = folder.base_text();
  return run_in_process(platform, folder.root());
}

// The steps of a successful run on `lists`, with `refusals` in place.
std::vector<Step> steps_of_a_run(const Lists& lists,
                                 const std::vector<Hooks::Refusal>& refusals = {}) {
  ListFolder folder;
  folder.write(lists);
  Hooked hooked(folder);
  hooked.refusals = refusals;
  EXPECT_EQ(run_hooked(folder).status, 0);
  number_steps(hooked.steps);
  return std::move(hooked.steps);
}

// A run in a child process: this program again, with the run to do and the call to end it in
// named in its environment (the test SweepChild.EndsInsideACall does it).
RunResult run_child(const ListFolder& folder, const Step& step, const std::string& refused) {
  const std::pair<const wchar_t*, std::string> variables[] = {
      {L"CORVANDEL_SWEEP_BASE", folder.base_text()},
      {L"CORVANDEL_SWEEP_KILL", step.name + " " + std::to_string(step.occurrence)},
      {L"CORVANDEL_SWEEP_REFUSED", refused}};
  for (const auto& [name, value] : variables) {
    SetEnvironmentVariableW(name, fs::u8path(value).wstring().c_str());
  }
  wchar_t program[MAX_PATH];
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(program) + L"\" --gtest_filter=SweepChild.*";
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  const HANDLE nul =
      CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  &inherited, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW start{};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = start.hStdOutput = start.hStdError = nul;
  PROCESS_INFORMATION child{};
  RunResult r;
  if (CreateProcessW(program, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start,
                     &child)) {
    DWORD status = 0;
    if (WaitForSingleObject(child.hProcess, 60000) != WAIT_OBJECT_0)
      TerminateProcess(child.hProcess, 1);
    GetExitCodeProcess(child.hProcess, &status);
    r.status = static_cast<int>(status);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
  }
  CloseHandle(nul);
  for (const auto& variable : variables) SetEnvironmentVariableW(variable.first, nullptr);
  return r;
}

// Volumes without hard links refuse every link so.
const Hooks::Refusal kNoHardLinks{"CreateHardLinkW", 1, 0, ERROR_NOT_SUPPORTED};

TEST(SweepChild, EndsInsideACall) {
  const char* kill = std::getenv("CORVANDEL_SWEEP_KILL");
  if (kill == nullptr) GTEST_SKIP() << "run by the Windows sweep only";
  ListFolder folder;  // for its paths alone: the lists are in the folder the parent made
  folder.use_base(fs::u8path(std::getenv("CORVANDEL_SWEEP_BASE")));
  Hooked hooked(folder);
  std::istringstream(kill) >> hooked.kill_name >> hooked.kill_nth;
  if (std::string(std::getenv("CORVANDEL_SWEEP_REFUSED")) == kNoHardLinks.name) {
    hooked.refusals = {kNoHardLinks};
  }
  run_hooked(folder);
  ADD_FAILURE() << "the run was not ended inside " << kill;
}

// Every call of a run failed with each error it meets, then ended inside each call that changes
// the disk; on a volume without hard links, the moves and flushes of the replacement.
void sweep_calls(bool no_hard_links) {
  const std::vector<Hooks::Refusal> refused =
      no_hard_links ? std::vector{kNoHardLinks} : std::vector<Hooks::Refusal>{};
  const std::set<std::string> names = no_hard_links
                                          ? std::set<std::string>{"MoveFileExW", "FlushFileBuffers"}
                                          : std::set<std::string>{};
  for (const bool kill : {false, true}) {
    const Lists before = sweep_lists(kill);
    sweep(steps_of_a_run(before, refused), names, kill, before, kKilled,
          [&](const ListFolder& folder, const Step& step, const Fault* failure) {
            if (!failure) return run_child(folder, step, no_hard_links ? kNoHardLinks.name : "");
            Hooked hooked(folder);
            hooked.refusals = refused;
            hooked.refusals.push_back(
                {step.name, step.occurrence, 1, static_cast<DWORD>(failure->code)});
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

// A name is on disk before the next step relies on it: the new list is flushed before it is
// linked or moved, the live list is free of other programs' handles before anything changes,
// and moves are written through. The backup name is there when the live name changes, and the
// new list keeps the attributes that a replacement keeps (not read-only).
TEST(WindowsSweep, TheBackupNameIsOnDiskBeforeTheLiveNameChanges) {
  ListFolder folder;
  folder.write(kLists);
  Hooked hooked(folder);
  hooked.extra_attributes = FILE_ATTRIBUTE_READONLY | kKeptAttributes;
  std::string steps;
  hooked.before = [&](const Step& step) {
    if (step.name == "FlushFileBuffers" || step.name == "SetFileAttributesW" ||
        step.detail == "wait" || step.act == "set_aside" || step.act == "put_in_place") {
      steps += step.name + " " + step.path + " " + step.detail;
      if (step.act == "put_in_place") {
        const bool reduced = step.path.find("reduced") != std::string::npos;
        steps +=
            ", backups: " + std::to_string(folder.backups(reduced ? "reduced" : "master").size());
      }
      steps += "\n";
    }
  };
  ASSERT_EQ(run_hooked(folder).status, 0);
  std::string order;
  for (const std::string list : {"reduced", "master"}) {
    const std::string live = "DicLists/" + list + ".txt";
    order += "FlushFileBuffers " + live + ".new-1 \nCreateFileW " + live +
             " wait\nSetFileAttributesW " + live + ".new-1 0x2022\nCreateHardLinkW " + live +
             " \nMoveFileExW " + live + ".new-1 write-through replacing, backups: 1\n";
  }
  EXPECT_EQ(steps, order);
}

// Other programs at the replacement's edges: an editor's save renamed over the master list while
// its move is tried again is kept, and the run that would have replaced it fails; moves refused
// for a while (as while a reader holds the list with full sharing) are waited out.
TEST(WindowsSweep, CompanyWhileTheMoveIsTriedAgain) {
  const std::string merged = model_list({kLists.master, kLists.reduced, kLists.update});
  const std::tuple<const char*, DWORD, int, bool> rows[] = {
      {"a save meanwhile", ERROR_SHARING_VIOLATION, 1, true},
      {"a reader with full sharing", ERROR_ACCESS_DENIED, 5, false}};
  for (const auto& [what, code, times, save] : rows) {
    SCOPED_TRACE(what);
    ListFolder folder;
    folder.write(kLists);
    Hooked hooked(folder);
    hooked.refusals = {{"MoveFileExW", 2, times, code}};
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
    EXPECT_EQ(folder.backups("master").size(), save ? 0u : 1u);
    EXPECT_TRUE(folder.strays().empty());
  }
}

// A file's state changes with its size alone, where its times do not tell (a coarse clock).
TEST(WindowsSweep, TheStateOfAFileHoldsItsSize) {
  ListFolder folder;
  folder.write(kLists);
  Hooked hooked(folder);
  hooked.no_times = true;
  const std::string live = folder.list_path("master.txt");
  Result<FileState> before = native_platform().file_state(live);
  std::ofstream(folder.lists() / "master.txt", std::ios::app) << "S";
  ASSERT_TRUE(before.ok());
  EXPECT_NE(native_platform().file_state(live).value().identity, before.value().identity);
}

}  // namespace
}  // namespace corvandel::testing
