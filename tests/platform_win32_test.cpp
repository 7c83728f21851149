// The Windows platform layer: each Win32 file call of whole runs failed or ended inside by the
// sweep's driver; other programs at the replacement's edges; paths, lock, handles, memory.
#include <gtest/gtest.h>
#include <process.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <tuple>

#include "platform/platform-win32-calls.h"
#include "platform/platform-win32.h"
#include "platform/replacement.h"
#include "test_support.h"

namespace corvandel::testing {
namespace {
using win32::FileCalls;

const FileCalls kSystem;          // the system's own calls, which the hooks pass on to
constexpr UINT kKilled = 0xDEAD;  // the status of a run ended inside a call

Fault fault(DWORD code, const char* treatment = "") {
  return {static_cast<int>(code), treatment, win32::os_error(code).text};
}

// The errors a call meets: a hold by another program (tried again; a status is never refused for
// sharing), a name taken, no hard links, a full disk, another volume.
std::vector<Fault> faults_of(const std::string& name, DWORD access, DWORD disposition,
                             DWORD flags) {
  const Fault device = fault(ERROR_IO_DEVICE), denied = fault(ERROR_ACCESS_DENIED),
              full = fault(ERROR_DISK_FULL), taken = fault(ERROR_ALREADY_EXISTS, "name-taken");
  std::vector<Fault> held = {fault(ERROR_SHARING_VIOLATION, "retried"),
                             fault(ERROR_ACCESS_DENIED, "retried")};
  const auto with = [&](std::initializer_list<Fault> more) {
    return held.insert(held.end(), more), held;
  };
  if (name == "CreateFileW" && disposition == CREATE_NEW)
    return {denied, fault(ERROR_FILE_EXISTS, "name-taken")};
  if (name == "CreateFileW" && disposition == OPEN_ALWAYS) return {denied};
  if (name == "CreateFileW" && access != FILE_READ_ATTRIBUTES) return with({device});
  if (name == "CreateHardLinkW")
    return with({taken, fault(ERROR_NOT_SUPPORTED, "no-hard-links"),
                 fault(ERROR_INVALID_FUNCTION, "no-hard-links"), full});
  if (name == "MoveFileExW" && (flags & MOVEFILE_REPLACE_EXISTING) == 0) held.push_back(taken);
  if (name == "MoveFileExW") return with({fault(ERROR_NOT_SAME_DEVICE)});
  if (name == "WriteFile" || name == "FlushFileBuffers") return {device, full};
  if (name == "CreateDirectoryW") return {denied, full};
  if (name == "LockFileEx") return {fault(ERROR_LOCK_VIOLATION)};
  return {name == "GetFileAttributesExW" ? denied : device};
}

// What a call does, where that is not what its handle was opened for: name, then effect.
const std::string kEffects =
    " WriteFile write SetEndOfFile write FlushFileBuffers flush CloseHandle close FindClose close"
    " LockFileEx lock GetFileAttributesExW look GetFullPathNameW look SetFileAttributesW attributes"
    " CreateDirectoryW make-folder CreateHardLinkW link MoveFileExW rename DeleteFileW remove"
    " FindFirstFileExW read ";

// The `nth` call of `name` and `times` - 1 after it (all from it on for 0) refused with `code`.
struct Refusal {
  std::string name;
  int nth, times;
  DWORD code;
};

// The table's calls while a test hooks them: noted, then refused, passed on, or ended inside.
struct Hooked {
  Hooked(std::string base_text, std::vector<Refusal> refused);
  ~Hooked();
  RunResult run() {
    TestPlatform platform;
    platform.environment["QUILLMERE_DIR"] = base;
    // The flushes of a folder that the run asks for, though its moves are written through.
    platform.before_step = [&](const std::string& step) {
      if (!step.starts_with("sync_directory ")) return;
      Call call{"sync_directory", 0, "flush", step.substr(15), "", {fault(ERROR_IO_DEVICE)}};
      const std::lock_guard lock(mutex);
      const DWORD code = note(call);
      if (code == kKilled) TerminateProcess(GetCurrentProcess(), kKilled);
      if (code != 0) platform.fail(call.name, call.occurrence, static_cast<int>(code));
    };
    return run_in_process(platform, fs::current_path());
  }
  // Notes `call`, its path from the base directory; what it is refused with (0: nothing).
  DWORD note(Call& call) {
    call.occurrence = ++counts[call.name];
    if (call.path.starts_with(base)) call.path.erase(0, base.size());
    std::replace(call.path.begin(), call.path.end(), '\\', '/');
    if (call.path.starts_with("DicLists")) {
      if (before) before(call);
      calls.push_back(call);
    }
    DWORD code = 0;
    for (const Refusal& r : refusals)
      if (call.name == r.name && call.occurrence >= r.nth &&
          (r.times == 0 || call.occurrence < r.nth + r.times))
        code = r.code;
    return code;
  }

  std::string base;  // the base directory's text, cut from the paths noted
  std::vector<Refusal> refusals;
  std::vector<Call> calls;
  DWORD extra_attributes = 0;  // reported as well for a file whose status is looked at
  bool no_times = false;       // no times of change reported
  std::function<void(const Call&)> before;
  std::mutex mutex;
  std::map<std::string, int> counts;
  std::map<HANDLE, std::pair<std::string, std::string>> handles;  // what its calls do, its path
};
Hooked* hooks = nullptr;

// The `i`th of a call's arguments where it is a `T`, else none.
template <class T, std::size_t i, class... A>
T arg(const std::tuple<A...>& args) {
  if constexpr (i < sizeof...(A))
    if constexpr (std::is_same_v<std::tuple_element_t<i, std::tuple<A...>>, T>)
      return std::get<i>(args);
  return T{};
}

// A call of the table, `entry` naming the system's own.
template <auto entry, class... A>
auto hooked(const std::string& name, A... args) -> decltype((kSystem.*entry)(args...)) {
  using R = decltype((kSystem.*entry)(args...));
  const std::tuple<A...> t(args...);
  // The path (a link's existing file); an open's access and disposition, a move's flags.
  const wchar_t* path = name == "CreateHardLinkW" ? arg<LPCWSTR, 1>(t) : arg<LPCWSTR, 0>(t);
  const DWORD access = arg<DWORD, 1>(t), disposition = arg<DWORD, 4>(t);
  const DWORD flags = name == "MoveFileExW" ? arg<DWORD, 2>(t) : access;
  std::unique_lock lock(hooks->mutex);
  Call call{.name = name, .detail = flags ? std::to_string(flags) : ""};
  if (!path) std::tie(call.effect, call.path) = hooks->handles[arg<HANDLE, 0>(t)];
  if (path) call.path = win32::to_utf8(path).value_or("?");
  if (const std::size_t at = kEffects.find(" " + name + " "); at != std::string::npos)
    std::istringstream(kEffects.substr(at + name.size() + 2)) >> call.effect;
  if (name == "CreateFileW") call.effect = access == GENERIC_READ ? "read" : "look";
  if (name == "CreateFileW" && disposition != OPEN_EXISTING) call.effect = "create";
  call.faults = faults_of(name, access, disposition, flags);
  const DWORD code = hooks->note(call);
  lock.unlock();
  R failed{};
  if constexpr (std::is_same_v<R, HANDLE>) failed = INVALID_HANDLE_VALUE;
  // A handle that fails to close is closed all the same, as the system does.
  if (code != 0 && code != kKilled && name != "CloseHandle") return SetLastError(code), failed;
  R result = (kSystem.*entry)(args...);
  if (code == kKilled) TerminateProcess(GetCurrentProcess(), kKilled);
  if (code != 0) return SetLastError(code), failed;
  if constexpr (std::is_same_v<R, HANDLE>) {
    lock.lock();
    hooks->handles[result] = {call.effect == "create" ? "write" : call.effect, call.path};
  }
  auto* info = arg<LPBY_HANDLE_FILE_INFORMATION, 1>(t);
  if (info && call.effect == "look") info->dwFileAttributes |= hooks->extra_attributes;
  if (name == "GetFileInformationByHandleEx" && hooks->no_times) {
    auto* times = static_cast<FILE_BASIC_INFO*>(arg<LPVOID, 2>(t));
    times->ChangeTime.QuadPart = times->LastWriteTime.QuadPart = 0;
  }
  return result;
}

Hooked::Hooked(std::string base_text, std::vector<Refusal> refused)
    : base(std::move(base_text)), refusals(std::move(refused)) {
  hooks = this;
#define CORVANDEL_HOOK(name) \
  win32::file_calls().name = [](auto... args) { return hooked<&FileCalls::name>(#name, args...); };
  CORVANDEL_WIN32_FILE_CALLS(CORVANDEL_HOOK)
#undef CORVANDEL_HOOK
}

Hooked::~Hooked() {
  win32::file_calls() = kSystem, hooks = nullptr;
}

// The calls of a successful run, from lists that fill several write blocks when `large`.
std::vector<Call> calls_of_a_run(bool large, const std::vector<Refusal>& refused,
                                 DWORD extra_attributes = 0) {
  const ListFolder folder(sweep_lists(large));
  Hooked hooked(folder.base_text(), refused);
  hooked.extra_attributes = extra_attributes;
  EXPECT_EQ(hooked.run().status, 0);
  return std::move(hooked.calls);
}

// A run with `refused` in a child process: this program, running SweepChild.EndsInsideACall.
RunResult run_child(const ListFolder& folder, const std::vector<Refusal>& refused) {
  std::string run = folder.base_text();
  for (const Refusal& r : refused)
    run += "\n" + r.name + " " + std::to_string(r.nth) + " " + std::to_string(r.times) + " " +
           std::to_string(r.code);
  _wputenv_s(L"CORVANDEL_SWEEP_CHILD", fs::u8path(run).wstring().c_str());
  wchar_t program[MAX_PATH];
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  const intptr_t status = _wspawnl(_P_WAIT, program, L"unit_tests", L"--gtest_filter=SweepChild.*",
                                   L"--gtest_brief=1", nullptr);
  _wputenv_s(L"CORVANDEL_SWEEP_CHILD", L"");
  return {static_cast<int>(status), "", ""};
}

TEST(SweepChild, EndsInsideACall) {
  const char* run = std::getenv("CORVANDEL_SWEEP_CHILD");
  if (run == nullptr) GTEST_SKIP() << "run by the Windows sweep only";
  std::istringstream what(run);
  std::string base;
  std::getline(what, base);
  Hooked hooked(base, {});
  for (Refusal r; what >> r.name >> r.nth >> r.times >> r.code;) hooked.refusals.push_back(r);
  hooked.run();
  ADD_FAILURE() << "the run was not ended inside a call: " << run;
}

// Every call of a run failed with each error it meets, then the run ended inside each call that
// changes the disk; on a volume without hard links (every link refused so), each move and flush.
TEST(WindowsSweep, EachCallFailedOrEndedInsideWithAndWithoutHardLinks) {
  for (const bool no_hard_links : {false, true}) {
    const std::vector<Refusal> refused(no_hard_links,
                                       {"CreateHardLinkW", 1, 0, ERROR_NOT_SUPPORTED});
    for (const bool kill : {false, true}) {
      sweep(calls_of_a_run(kill, refused),
            no_hard_links ? "MoveFileExW FlushFileBuffers sync_directory" : "", kill,
            sweep_lists(kill), kKilled,
            [&](const ListFolder& folder, const Call& call, const Fault* f) {
              std::vector<Refusal> refusals = refused;
              refusals.push_back({call.name, call.occurrence, 1, f ? DWORD(f->code) : kKilled});
              return f ? Hooked(folder.base_text(), refusals).run() : run_child(folder, refusals);
            });
    }
  }
}

// Beside the order of both platforms: the live list is freed of other handles (opened for
// deletion), the new list keeps a replacement's attributes (not read-only), moves write through.
TEST(WindowsSweep, TheBackupNameIsOnDiskBeforeTheLiveNameChanges) {
  const DWORD kept =
      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  expect_replacement_order(
      calls_of_a_run(false, {}, kept | FILE_ATTRIBUTE_READONLY), "",
      "look $ " + std::to_string(DELETE) + "\nattributes $.new-1 " + std::to_string(kept) + "\n",
      " " + std::to_string(MOVEFILE_WRITE_THROUGH | MOVEFILE_REPLACE_EXISTING),
      std::to_string(DELETE));
}

// An editor's save while the master list's move is tried again is kept, and the run fails; moves
// refused for a while are waited out. A file's state changes with its size alone.
TEST(WindowsSweep, CompanyWhileTheMoveIsTriedAgain) {
  const std::string merged = model_list({kLists.master, kLists.reduced, kLists.update});
  for (const auto& [code, times, save] :
       {std::tuple{ERROR_SHARING_VIOLATION, 1, true}, std::tuple{ERROR_ACCESS_DENIED, 5, false}}) {
    const ListFolder folder(kLists);
    Hooked hooked(folder.base_text(), {{"MoveFileExW", 2, times, DWORD(code)}});
    const fs::path live = folder.lists() / "master.txt", saved = folder.lists() / "saved";
    hooked.before = [&, save = save](const Call& call) {
      if (save && call.name == "MoveFileExW" && call.occurrence == 2)
        write_file(saved, "SAVED"),
            kSystem.MoveFileExW(saved.c_str(), live.c_str(), MOVEFILE_REPLACE_EXISTING);
    };
    const RunResult r = hooked.run();
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

Platform& os = native_platform();

TEST(ApiPath, FormsAtTheirEdges) {
  const std::pair<std::string, std::wstring> paths[] = {
      {"\\\\?\\C:\\" + std::string(400, 'x') + "/as/written",
       L"\\\\?\\C:\\" + std::wstring(400, L'x') + L"\\as\\written"},
      {"\\??\\C:\\nt\\form", {}},
      {"C:\\" + std::string(243, 'a'), {}},  // 246 UTF-16 units: below the limit
      {"C:\\" + std::string(239, 'a') + "/tail",
       L"\\\\?\\C:\\" + std::wstring(239, L'a') + L"\\tail"},
      {"C:\\" + std::string(242, 'b') + "\xF0\x9F\x98\x80",
       L"\\\\?\\C:\\" + std::wstring(242, L'b') + L"\U0001F600"},
      {"\\\\server\\share\\" + std::string(250, 'c'),
       L"\\\\?\\UNC\\server\\share\\" + std::wstring(250, L'c')}};
  for (const auto& [path, api] : paths)
    EXPECT_EQ(win32::api_path(path).value(), api.empty() ? fs::path(path).wstring() : api) << path;
  for (const std::string& path : {std::string("C:\\a\0b", 6), std::string("C:\\caf\xC3")}) {
    EXPECT_EQ(win32::api_path(path).error().kind, ErrorKind::invalid_input);
    EXPECT_EQ(os.file_type(path).error().kind, ErrorKind::invalid_input);
  }
}

// A list held open without leave to delete it is replaced once let go within two seconds, else
// left with no second name; one rewritten with its time put back has changed; the lock has one
// holder, and a waiter gets it once let go. A device is no list.
TEST(Replacement, AnotherProgramAtWork) {
  const ListFolder folder;
  const fs::path dir = folder.lists();
  const std::string live = (dir / "master.txt").string(), next = live + ".new-1",
                    backup = (dir / "master_backup.txt").string();
  const auto open = [&](DWORD share) {  // as another program does
    return CreateFileW(fs::path(live).c_str(), GENERIC_ALL, share, nullptr, OPEN_EXISTING, 0, 0);
  };
  for (const int held : {300, 3000}) {
    write_file(live, "OLD"), write_file(next, "NEW");
    const HANDLE handle = open(FILE_SHARE_READ);
    std::thread let_go([&] { Sleep(held), CloseHandle(handle); });
    const Result<void> replaced = replace_keeping_backup(os, next, live, backup, std::nullopt);
    let_go.join();
    EXPECT_EQ(replaced.ok(), held < 1000);
    EXPECT_EQ(fs::exists(backup), held < 1000) << "no second name left behind";
    EXPECT_EQ(fs::exists(next), held > 1000);
    fs::remove(backup);
  }
  Result<std::unique_ptr<InputFile>> file = os.open_file(live);
  const std::string before = file.value()->state().value();
  const HANDLE handle = open(FILE_SHARE_READ | FILE_SHARE_WRITE);
  FILETIME written;
  DWORD count = 0;
  ASSERT_TRUE(GetFileTime(handle, nullptr, nullptr, &written) &&
              WriteFile(handle, "NEX", 3, &count, nullptr) &&
              SetFileTime(handle, nullptr, nullptr, &written) && CloseHandle(handle));
  EXPECT_NE(file.value()->state().value(), before);
  EXPECT_EQ(replace_keeping_backup(os, next, live, backup, before).error().kind,
            ErrorKind::changed_meanwhile);
  file.value().reset();
  const std::string lock = (dir / "corvandel.lock").string();
  Result<std::unique_ptr<FileLock>> held = os.lock_file(lock, false);
  ASSERT_TRUE(held.ok());
  EXPECT_EQ(os.lock_file(lock, false).error().kind, ErrorKind::busy);
  std::atomic<bool> let_go = false;
  std::thread other([&] { Sleep(300), let_go = true, held.value().reset(); });
  EXPECT_TRUE(os.lock_file(lock, true).ok());
  EXPECT_TRUE(let_go) << "the lock was had while the other held it";
  other.join();
  EXPECT_EQ(os.read_file("\\\\.\\NUL").error().kind, ErrorKind::not_a_regular_file);
}

TEST(StandardStreams, MissingHandlesAndTheConsolesEndOfInput) {
  const HANDLE saved_out = GetStdHandle(STD_OUTPUT_HANDLE),
               saved_in = GetStdHandle(STD_INPUT_HANDLE);
  for (const HANDLE missing : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
    SetStdHandle(STD_OUTPUT_HANDLE, missing);
    SetStdHandle(STD_INPUT_HANDLE, missing);
    EXPECT_TRUE(os.write_stdout("dropped\n").ok() && os.read_stdin_line().ok());
  }
  SetStdHandle(STD_OUTPUT_HANDLE, saved_out);
  SetStdHandle(STD_INPUT_HANDLE, saved_in);
  // At a console the read ends at a line feed, or at Ctrl+Z typed first in the line.
  const std::tuple<std::wstring, bool, bool> typed[] = {
      {L"\x1A", true, true},        {L"\r\n", true, true},           {L"typed \x1A", true, false},
      {L"\x1A more", false, false}, {L"words\r\nnext", false, true}, {L"", true, false}};
  for (auto [text, start, ends] : typed) EXPECT_EQ(win32::ends_console_read(text, start), ends);
}

TEST(OutOfMemory, ReportsAndFailsFast) {
  EXPECT_EXIT(os.fail_out_of_memory(123456789), ::testing::ExitedWithCode(0xC0000409),
              "^memory allocation of 123456789 bytes failed\n$");
  EXPECT_DEATH(static_cast<char*>(new char[std::size_t{1} << 62])[0] = 1,
               "^memory allocation of 4611686018427387904 bytes failed\n$");
}

}  // namespace
}  // namespace corvandel::testing
