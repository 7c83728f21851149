// What of the Windows platform layer the whole runs and the sweep of its calls do not reach: path
// forms at their edges, another program's handle on a list, the state of a file rewritten in
// place, the lock, missing standard handles, the console's end of input and the out-of-memory
// exit.
#ifndef UNICODE
#define UNICODE
#endif
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/platform-win32.h"
#include "platform/platform.h"
#include "platform/replacement.h"

namespace corvandel::win32 {
namespace {
namespace fs = std::filesystem;

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
  for (const auto& [path, api] : paths) {
    EXPECT_EQ(api_path(path).value(), api.empty() ? fs::path(path).wstring() : api) << path;
  }
  for (const std::string& path : {std::string("C:\\a\0b", 6), std::string("C:\\caf\xC3")}) {
    EXPECT_EQ(api_path(path).error().kind, ErrorKind::invalid_input);
    EXPECT_EQ(os.file_type(path).error().kind, ErrorKind::invalid_input);
  }
}

// Another program at work: a list held open without leave to delete it (as scanners and indexers
// do) is replaced once it is let go within about two seconds, and otherwise left as it was, with
// no second name left in the backup folder; a list rewritten in place with its modification time
// put back is seen to have changed; the lock of a file has one holder at a time, and a run that
// waits for it gets it once the other lets go. A device is no list.
TEST(Replacement, AnotherProgramAtWork) {
  const fs::path dir = fs::temp_directory_path() / "corvandel-company";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string live = (dir / "master.txt").string(), next = live + ".new-1",
                    backup = (dir / "master_backup.txt").string();
  const auto open = [&](DWORD share) {  // as another program does
    return CreateFileW(fs::path(live).c_str(), GENERIC_ALL, share, nullptr, OPEN_EXISTING, 0, 0);
  };
  for (const int held : {300, 3000}) {
    std::ofstream(live) << "OLD";
    std::ofstream(next) << "NEW";
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
  fs::remove_all(dir);
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
  for (auto [text, start, ends] : typed) EXPECT_EQ(ends_console_read(text, start), ends);
}

TEST(OutOfMemory, ReportsAndFailsFast) {
  EXPECT_EXIT(os.fail_out_of_memory(123456789), ::testing::ExitedWithCode(0xC0000409),
              "^memory allocation of 123456789 bytes failed\n$");
  EXPECT_DEATH(static_cast<char*>(new char[std::size_t{1} << 62])[0] = 1,
               "^memory allocation of 4611686018427387904 bytes failed\n$");
}

}  // namespace
}  // namespace corvandel::win32
