// The Windows platform layer against the real system (under Wine when cross-compiled): path
// forms, error texts, file operations on deep non-ASCII paths, the two ways of replacing a list,
// the environment, the standard streams and the out-of-memory exit. corvandel.exe as a whole is
// run by the Wine cases of the whole-run table.
#ifndef UNICODE
#define UNICODE
#endif
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <random>
#include <regex>

#include "platform-win32.h"
#include "platform.h"

namespace corvandel::win32 {
namespace {
namespace fs = std::filesystem;

const std::string kGreek = "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC";
const std::string kCjk = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE";

std::wstring wide(std::string_view text) {
  return fs::path(std::u8string(text.begin(), text.end())).wstring();
}

bool matches(const std::string& text, const std::string& pattern) {
  return std::regex_match(text, std::regex(pattern));
}

Platform& os() {
  return native_platform();
}

TEST(ApiPath, FormsOfThePathsPassedToTheSystem) {
  wchar_t cwd[4096];
  std::wstring base(cwd, GetCurrentDirectoryW(4096, cwd));
  base = L"\\\\?\\" + base + (base.back() == L'\\' ? L"" : L"\\");
  const std::string as_written[] = {
      "C:\\lists\\DicLists\\BU_Previous_Files/reduced_260203_090507.txt",
      "d:/lists/x",
      "\\\\server\\share\\DicLists\\master.txt",
      "\\\\?\\C:\\" + std::string(400, 'x') + "/mixed",
      "\\??\\C:\\nt\\form",
      "C:\\" + kGreek + "\\" + kCjk,
      "C:\\" + std::string(243, 'a')};  // 246 UTF-16 units: below the limit
  for (const std::string& path : as_written) EXPECT_EQ(api_path(path).value(), wide(path)) << path;
  // Relative paths, and from 247 UTF-16 units on, absolute ones: resolved and extended.
  const std::pair<std::string, std::wstring> extended[] = {
      {"DicLists\\reduced.txt", base + L"DicLists\\reduced.txt"},
      {"a/b/../DicLists\\BU_Previous_Files/r.txt", base + L"a\\DicLists\\BU_Previous_Files\\r.txt"},
      {"C:\\" + std::string(239, 'a') + "/tail",
       L"\\\\?\\C:\\" + std::wstring(239, L'a') + L"\\tail"},
      {"C:\\" + std::string(242, 'b') + "\xF0\x9F\x98\x80",
       L"\\\\?\\C:\\" + std::wstring(242, L'b') + L"\U0001F600"},
      {"\\\\server\\share\\" + std::string(250, 'c'),
       L"\\\\?\\UNC\\server\\share\\" + std::wstring(250, L'c')}};
  for (const auto& [path, api] : extended) EXPECT_EQ(api_path(path).value(), api) << path;
  for (const std::string& path : {std::string("C:\\a\0b", 6), std::string("C:\\caf\xC3")}) {
    EXPECT_EQ(api_path(path).error().kind, ErrorKind::invalid_input);
    EXPECT_EQ(os().file_type(path).error().kind, ErrorKind::invalid_input);
  }
}

TEST(ErrorText, SystemMessagesAndFallbacks) {
  const std::pair<unsigned long, ErrorKind> codes[] = {
      {ERROR_FILE_NOT_FOUND, ErrorKind::not_found},
      {ERROR_PATH_NOT_FOUND, ErrorKind::not_found},
      {ERROR_ACCESS_DENIED, ErrorKind::permission_denied},
      {ERROR_FILE_EXISTS, ErrorKind::already_exists},
      {ERROR_ALREADY_EXISTS, ErrorKind::already_exists},
      {ERROR_NO_DATA, ErrorKind::broken_pipe},
      {ERROR_DISK_FULL, ErrorKind::storage_full},
      {ERROR_NOT_SAME_DEVICE, ErrorKind::cross_device}};
  for (const auto& [code, kind] : codes) {
    const Error error = os_error(code);
    EXPECT_EQ(error.kind, kind);
    EXPECT_EQ(error.code, static_cast<int>(code));
    // The system's text on one line, without trailing spaces, then the code.
    EXPECT_TRUE(
        matches(error.text, "[^\r\n]*[^ \r\n] \\(os error " + std::to_string(code) + "\\)") &&
        !error.text.starts_with("OS Error"))
        << error.text;
  }
  // Customer codes (bit 29) have no text; with bit 28 the lookup also covers NTDLL's messages.
  EXPECT_TRUE(matches(os_error(0x20001234).text,
                      "OS Error 536875572 \\(FormatMessageW\\(\\) returned error [0-9]+\\) \\(os "
                      "error 536875572\\)"));
  EXPECT_TRUE(os_error(0xD0000034).text.ends_with(" (os error -805306316)"));
  EXPECT_EQ(message_part(L"  Text\u3000\u00A0\u2029\t \r\n", 5), "  Text");
  EXPECT_EQ(message_part(L"Text\u200B\u03bb", 5), "Text\xE2\x80\x8B\xCE\xBB");
  EXPECT_EQ(message_part(std::wstring(L"bad \xD800 text"), 0x10000005),
            "OS Error 268435461 (FormatMessageW() returned invalid UTF-16)");
  EXPECT_EQ(to_utf8(L"\U0001F600"), "\xF0\x9F\x98\x80");
}

class FileSystem : public ::testing::Test {
 protected:
  FileSystem() {
    std::random_device seed;
    while (!fs::create_directory(temp_ = fs::temp_directory_path() /
                                         ("corvandel-" + std::to_string(seed())))) {
    }
    // Greek and CJK folder names, nested until the list paths pass 300 UTF-16 units.
    const std::u8string text = temp_.u8string();
    dir_ = std::string(text.begin(), text.end()) + "\\";
    for (int level = 0; wide(dir_).size() < 290; ++level)
      dir_ += (level % 2 ? kCjk : kGreek) + "\\";
    dir_ += "DicLists\\";
    EXPECT_TRUE(os().create_directories(dir_ + "BU_Previous_Files").ok());
  }
  ~FileSystem() override {
    std::error_code ignored;  // paths past the classic limit may be left to the system's cleanup
    fs::remove_all(temp_, ignored);
  }

  void write(const std::string& path, std::string_view content) {
    auto file = os().create_new_file(path);
    ASSERT_TRUE(file.ok() && file.value()->write(content).ok() && file.value()->finish().ok());
  }
  std::string read(const std::string& path) {
    Result<FileData> data = os().read_file(path);
    return data ? std::string(data.value().view()) : "<" + data.error().text + ">";
  }

  fs::path temp_;
  std::string dir_;
};

TEST_F(FileSystem, TypesFoldersReadsAndNewFiles) {
  EXPECT_EQ(os().file_type(dir_).value(), FileType::directory);
  EXPECT_TRUE(os().create_directories(dir_ + "BU_Previous_Files\\").ok()) << "it exists: success";
  write(dir_ + "list.txt", std::string(100000, 'w') + "\xC3\xA9");
  EXPECT_EQ(os().file_type(dir_ + "list.txt").value(), FileType::regular);
  EXPECT_EQ(read(dir_ + "list.txt"), std::string(100000, 'w') + "\xC3\xA9");
  EXPECT_EQ(os().create_new_file(dir_ + "list.txt").error().kind, ErrorKind::already_exists);
  EXPECT_EQ(os().read_file(dir_).error().code, 336) << "a folder is not read";
  EXPECT_EQ(os().read_file("\\\\.\\NUL").error().kind, ErrorKind::not_a_regular_file);
  EXPECT_EQ(os().file_type(dir_ + "missing").error().kind, ErrorKind::not_found);
  EXPECT_EQ(os().read_file(dir_ + "missing").error().kind, ErrorKind::not_found);
  // A file in the way, at the name itself or at a missing parent's name.
  for (const std::string& blocked : {dir_ + "list.txt", dir_ + "list.txt\\sub\\dir"}) {
    const Result<void> made = os().create_directories(blocked);
    EXPECT_TRUE(!made && matches(made.error().text, ".+ \\(os error [0-9]+\\)")) << blocked;
  }
  EXPECT_TRUE(os().remove_file(dir_ + "list.txt").ok());
  EXPECT_FALSE(os().file_type(dir_ + "list.txt").ok());
}

// Both ways of putting a new list in place, with a hard link and with two moves (volumes without
// hard links): each keeps the previous file as the backup, refuses an existing backup, and undoes
// a failed second step.
TEST_F(FileSystem, ReplacementWithAHardLinkOrTwoMoves) {
  using Replace = Result<void> (*)(const std::string&, const std::string&, const std::string&);
  const Replace ways[] = {
      [](auto& a, auto& b, auto& c) { return os().replace_keeping_backup(a, b, c); },
      &replace_by_two_moves};
  const std::string live = dir_ + "master.txt", next = live + ".new-1",
                    backup = dir_ + "BU_Previous_Files/master_260203_090507.txt";
  for (const Replace replace : ways) {
    write(live, "OLD");
    write(next, "NEW");
    write(backup, "EARLIER");
    EXPECT_EQ(replace(next, live, backup).error().kind, ErrorKind::already_exists);
    EXPECT_TRUE(read(live) == "OLD" && read(next) == "NEW" && read(backup) == "EARLIER");
    EXPECT_TRUE(os().remove_file(backup).ok());
    ASSERT_TRUE(replace(next, live, backup).ok());
    EXPECT_TRUE(read(live) == "NEW" && read(backup) == "OLD" && !os().file_type(next).ok());
    EXPECT_TRUE(os().remove_file(backup).ok());
    EXPECT_EQ(replace(next, live, backup).error().kind, ErrorKind::not_found) << "no new file";
    EXPECT_TRUE(read(live) == "NEW" && !os().file_type(backup).ok()) << "undone";
    EXPECT_TRUE(os().remove_file(live).ok());
  }
}

TEST(Environment, TheVariableAsUnicode) {
  const std::pair<std::wstring, std::optional<std::string>> values[] = {
      {L"  Z:\\\u0395\u03bb\\\u65e5\U0001F600\\ ",
       "  Z:\\\xCE\x95\xCE\xBB\\\xE6\x97\xA5\xF0\x9F\x98\x80\\ "},
      {std::wstring(1000, L'v'), std::string(1000, 'v')},
      {L"", ""},
      {L"C:\\\xD800\\", std::nullopt}};  // a lone surrogate is no Unicode text
  for (const auto& [value, expected] : values) {
    ASSERT_TRUE(SetEnvironmentVariableW(L"CORVANDEL_TEST", value.c_str()));
    EXPECT_EQ(os().environment_variable("CORVANDEL_TEST"), expected);
  }
  ASSERT_TRUE(SetEnvironmentVariableW(L"CORVANDEL_TEST", nullptr));
  EXPECT_EQ(os().environment_variable("CORVANDEL_TEST"), std::nullopt);
}

TEST(StandardStreams, MissingHandlesRedirectedInputAndTheConsole) {
  const HANDLE saved_out = GetStdHandle(STD_OUTPUT_HANDLE),
               saved_in = GetStdHandle(STD_INPUT_HANDLE);
  for (const HANDLE missing : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
    SetStdHandle(STD_OUTPUT_HANDLE, missing);
    SetStdHandle(STD_INPUT_HANDLE, missing);
    EXPECT_TRUE(os().write_stdout("dropped\n").ok() && os().read_stdin_line().ok());
  }
  SetStdHandle(STD_OUTPUT_HANDLE, saved_out);
  // Only the first line of redirected input is consumed; a writer gone is the end of input.
  HANDLE read_end, write_end;
  DWORD count = 0;
  ASSERT_TRUE(CreatePipe(&read_end, &write_end, nullptr, 0));
  WriteFile(write_end, "typed text\r\nnext\n", 17, &count, nullptr);
  CloseHandle(write_end);
  SetStdHandle(STD_INPUT_HANDLE, read_end);
  EXPECT_TRUE(os().read_stdin_line().ok());
  char rest[32] = {};
  EXPECT_TRUE(ReadFile(read_end, rest, sizeof rest, &count, nullptr) &&
              std::string(rest, count) == "next\n");
  EXPECT_TRUE(os().read_stdin_line().ok());
  SetStdHandle(STD_INPUT_HANDLE, saved_in);
  CloseHandle(read_end);
  // At a console the read ends at a line feed, or at Ctrl+Z typed first in the line.
  const std::tuple<std::wstring, bool, bool> typed[] = {
      {L"\x1A", true, true},        {L"\r\n", true, true},           {L"typed \x1A", true, false},
      {L"\x1A more", false, false}, {L"words\r\nnext", false, true}, {L"", true, false}};
  for (const auto& [text, at_start, ends] : typed) {
    bool start = at_start;
    EXPECT_EQ(ends_console_read(text, start), ends);
  }
}

TEST(OutOfMemory, ReportsAndFailsFast) {
  EXPECT_EXIT(fail_out_of_memory(123456789), ::testing::ExitedWithCode(0xC0000409),
              "^memory allocation of 123456789 bytes failed\n$");
  EXPECT_DEATH(
      {
        volatile std::size_t huge = std::size_t{1} << 62;
        static_cast<char*>(new char[huge])[0] = 1;
      },
      "^memory allocation of 4611686018427387904 bytes failed\n$");
}

}  // namespace
}  // namespace corvandel::win32
