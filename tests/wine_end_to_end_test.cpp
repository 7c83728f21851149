// Whole runs of the Windows build, corvandel.exe, under Wine, driven from Linux: Windows paths in
// the messages, deep non-ASCII folders, relative base directories, failures with their system
// error texts, stamped backups, the console, and what the .exe imports and carries.
//
// Skipped when the .exe has not been built or Wine is not installed; tools/test-all.sh provides
// both. Wine uses the prefix named by WINEPREFIX, by default build/wine-prefix.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <thread>

#include "run_program.h"

namespace corvandel::testing {
namespace {
namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

const fs::path kExe = CORVANDEL_WINDOWS_EXE;
const fs::path kWine = CORVANDEL_WINE_LOADER;

const std::string kBanner = "corvandel:\n";
const std::string kPrompt = "\nPress Enter to exit...\n";

// "ΕλληνικάΑρχεία" and "日本語のフォルダ".
const std::string kGreek =
    "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC\xCE\x91\xCF\x81\xCF\x87\xCE"
    "\xB5\xCE\xAF\xCE\xB1";
const std::string kCjk =
    "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE3\x83\x95\xE3\x82\xA9\xE3\x83\xAB\xE3\x83"
    "\x80";

// A time zone with daylight saving time in effect half of the year, on each side of the equator;
// written out, so that no time zone database is needed.
const char* const kZones[] = {"AEST-10AEDT,M10.1.0,M4.1.0/3", "EST5EDT,M3.2.0,M11.1.0"};

// The Windows name of a Linux path: drive Z: is the root.
std::string windows_path(const fs::path& path) {
  std::string text = "Z:" + path.string();
  std::replace(text.begin(), text.end(), '/', '\\');
  return text;
}

// Characters in UTF-8 text (every character of these paths is a single UTF-16 unit).
std::size_t characters(const std::string& text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// The local time in `zone` as "%y%m%d_%H%M%S".
std::string local_stamp(const char* zone, std::time_t when) {
  const char* saved = std::getenv("TZ");
  std::string saved_value = saved ? saved : "";
  setenv("TZ", zone, 1);
  tzset();
  std::tm local{};
  localtime_r(&when, &local);
  char text[32];
  std::strftime(text, sizeof text, "%y%m%d_%H%M%S", &local);
  if (saved) {
    setenv("TZ", saved_value.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
  return text;
}

class UnderWine : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kExe)) GTEST_SKIP() << kExe << " is not built (cmake --preset windows)";
    if (!fs::exists(kWine)) GTEST_SKIP() << kWine << " is missing (Debian package wine64)";
    use_base(temp_.path());
  }

  // Makes `base` (a Linux path) the base directory, with its DicLists folder.
  void use_base(const fs::path& base) {
    base_ = base;
    lists_ = base / "DicLists";
    backups_ = lists_ / "BU_Previous_Files";
    fs::create_directories(lists_);
  }

  // The base directory as QUILLMERE_DIR holds it, ending in a backslash.
  std::string base_text() const { return windows_path(base_) + "\\"; }
  std::string list_path(const std::string& name) const { return base_text() + "DicLists\\" + name; }

  void write_lists(const std::string& master, const std::string& reduced,
                   const std::string& update) {
    write_file(lists_ / "master.txt", master);
    write_file(lists_ / "reduced.txt", reduced);
    write_file(lists_ / "update_words.txt", update);
  }

  // Runs corvandel.exe; QUILLMERE_DIR is the base directory unless `options` sets it, or
  // `unset_variable` leaves it out.
  RunResult run(RunOptions options = {}, bool unset_variable = false) {
    if (!unset_variable && !options.environment.count("QUILLMERE_DIR")) {
      options.environment["QUILLMERE_DIR"] = base_text();
    }
    // Wine names Linux files in the locale's character set.
    options.environment["LANG"] = "C.UTF-8";
    if (!std::getenv("WINEPREFIX")) options.environment["WINEPREFIX"] = CORVANDEL_WINE_PREFIX;
    if (!std::getenv("WINEDEBUG")) options.environment["WINEDEBUG"] = "-all";
    if (options.working_dir.empty()) options.working_dir = temp_.path();
    options.arguments.insert(options.arguments.begin(), kExe.string());
    return run_program(kWine, options);
  }

  std::vector<std::string> backups(const std::string& kind) const {
    std::vector<std::string> names;
    if (!fs::exists(backups_)) return names;
    const std::regex pattern(kind + "_[0-9]{6}_[0-9]{6}\\.txt");
    for (const auto& entry : fs::directory_iterator(backups_)) {
      std::string name = entry.path().filename().string();
      if (name.rfind(kind + "_", 0) == 0) {
        EXPECT_TRUE(std::regex_match(name, pattern)) << name;
        names.push_back(name);
      }
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // Everything in DicLists apart from the three lists and the backup folder.
  std::vector<std::string> strays() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(lists_)) {
      std::string name = entry.path().filename().string();
      if (name != "master.txt" && name != "reduced.txt" && name != "update_words.txt" &&
          name != "BU_Previous_Files") {
        names.push_back(name);
      }
    }
    return names;
  }

  void expect_lists(const std::string& master, const std::string& reduced) const {
    EXPECT_EQ(read_file(lists_ / "master.txt"), master);
    EXPECT_EQ(read_file(lists_ / "reduced.txt"), reduced);
  }

  TempDir temp_;
  fs::path base_, lists_, backups_;
};

TEST_F(UnderWine, WholeRunInADeepNonAsciiFolderWithStampedBackups) {
  // Greek and CJK folder names, nested until the list paths are past 300 characters.
  fs::path base = temp_.path();
  for (int level = 0; characters(windows_path(base / "DicLists" / "reduced.txt")) <= 300; ++level) {
    base /= (level % 2 == 0 ? kGreek : kCjk) + " " + std::to_string(level);
  }
  use_base(base);
  ASSERT_GT(characters(list_path("BU_Previous_Files/reduced_260203_090507.txt")), 300u);

  for (const char* zone : kZones) {
    fs::remove_all(backups_);
    write_lists("DOG", "APPLE\r\nCAT\r\n",
                "zebra Apple stra\xC3\x9F"
                "e");
    RunOptions options;
    options.environment["TZ"] = zone;
    const std::time_t before = std::time(nullptr);
    RunResult r = run(options);
    const std::time_t after = std::time(nullptr);
    EXPECT_EQ(r.status, 0) << zone;
    EXPECT_EQ(r.out, kBanner + "Update successful.\n" + kPrompt);
    EXPECT_EQ(r.err, "");
    expect_lists("APPLE\nCAT\nDOG\nSTRASSE\nZEBRA", "APPLE\nCAT\nSTRASSE\nZEBRA");
    EXPECT_EQ(read_file(lists_ / "update_words.txt"),
              "zebra Apple stra\xC3\x9F"
              "e");
    EXPECT_THAT(strays(), IsEmpty());

    // Each backup is the list it replaced, stamped with the local time of the zone, daylight
    // saving time included.
    std::set<std::string> stamps;
    for (std::time_t t = before; t <= after; ++t) stamps.insert(local_stamp(zone, t));
    for (const char* kind : {"reduced", "master"}) {
      std::vector<std::string> names = backups(kind);
      ASSERT_EQ(names.size(), 1u) << kind;
      const std::string stamp = names[0].substr(std::string(kind).size() + 1, 13);
      EXPECT_TRUE(stamps.count(stamp)) << names[0] << " in " << zone;
      EXPECT_EQ(read_file(backups_ / names[0]),
                kind == std::string("reduced") ? "APPLE\r\nCAT\r\n" : "DOG");
    }
  }
}

TEST_F(UnderWine, RunsInOneSecondKeepEveryBackup) {
  write_lists("DOG", "CAT", "ant");
  RunResult first = run();
  write_file(lists_ / "update_words.txt", "bee");
  RunResult second = run();
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(second.status, 0) << second.out;
  ASSERT_EQ(backups("reduced").size(), 2u);
  ASSERT_EQ(backups("master").size(), 2u);
  EXPECT_EQ(read_file(backups_ / backups("reduced")[0]), "CAT");
  EXPECT_EQ(read_file(backups_ / backups("reduced")[1]), "ANT\nCAT");
  expect_lists("ANT\nBEE\nCAT\nDOG", "ANT\nBEE\nCAT");
}

TEST_F(UnderWine, MessagesShowWindowsPaths) {
  write_file(lists_ / "master.txt", "DOG");
  write_file(lists_ / "reduced.txt", "CAT");
  RunResult missing = run();
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, kBanner + "Update words file, " + list_path("update_words.txt") +
                             ", was not found.\nCreate a non-empty file, with this name, "
                             "containing new text strings to add to the dictionary lists.\n" +
                             kPrompt);
  EXPECT_TRUE(fs::is_directory(backups_));

  write_file(lists_ / "update_words.txt", "");
  RunResult empty = run();
  EXPECT_EQ(empty.status, 1);
  EXPECT_EQ(empty.out, kBanner + "Update words file, " + list_path("update_words.txt") +
                           ", is empty.\nEnsure a file, with this name, contains new text "
                           "strings to add to the dictionary lists.\n" +
                           kPrompt);

  write_file(lists_ / "update_words.txt", " \r\n\t\xE3\x80\x80");
  RunResult blank = run();
  EXPECT_EQ(blank.status, 1);
  EXPECT_EQ(blank.out, kBanner + "No text found in " + list_path("update_words.txt") +
                           " file. Exiting...\n" + kPrompt);
  expect_lists("DOG", "CAT");

  write_file(lists_ / "update_words.txt", "caf\xC3");
  RunResult invalid = run();
  EXPECT_EQ(invalid.status, 101);
  EXPECT_EQ(invalid.out, kBanner);
  EXPECT_THAT(invalid.err, HasSubstr("stream did not contain valid UTF-8"));
  EXPECT_THAT(invalid.err, HasSubstr(list_path("update_words.txt")));

  // The reduced pass completes, then the missing master list is reported.
  fs::remove(lists_ / "master.txt");
  write_file(lists_ / "update_words.txt", "ant");
  RunResult no_master = run();
  EXPECT_EQ(no_master.status, 1);
  EXPECT_EQ(no_master.out,
            kBanner + list_path("master.txt") + " is missing (or not a regular file)\n" + kPrompt);
  EXPECT_EQ(read_file(lists_ / "reduced.txt"), "ANT\nCAT");
  EXPECT_EQ(backups("reduced").size(), 1u);
}

TEST_F(UnderWine, FoldersInPlaceOfLists) {
  write_file(lists_ / "master.txt", "DOG");
  fs::create_directory(lists_ / "reduced.txt");
  write_file(lists_ / "update_words.txt", "ant");
  RunResult r = run();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            kBanner + list_path("reduced.txt") + " is missing (or not a regular file)\n" + kPrompt);

  // A folder passes the update file's existence check, but cannot be read.
  fs::remove(lists_ / "reduced.txt");
  write_file(lists_ / "reduced.txt", "CAT");
  fs::remove(lists_ / "update_words.txt");
  fs::create_directory(lists_ / "update_words.txt");
  RunResult dir = run();
  EXPECT_EQ(dir.status, 101);
  EXPECT_EQ(dir.out, kBanner);
  EXPECT_THAT(dir.err, HasSubstr("(os error 336)"));
  expect_lists("DOG", "CAT");
}

TEST_F(UnderWine, BaseDirectoryFromTheVariable) {
  // Unset: the fallback text is the start of every path, relative to the working directory.
  RunResult unset = run({}, true);
  EXPECT_EQ(unset.status, 1);
  EXPECT_EQ(unset.out, kBanner +
                           "Update words file, Environment variable not foundDicLists\\"
                           "update_words.txt, was not found.\nCreate a non-empty file, with this "
                           "name, containing new text strings to add to the dictionary lists.\n" +
                           kPrompt);
  EXPECT_TRUE(fs::is_directory(temp_.path() / "Environment variable not foundDicLists" /
                               "BU_Previous_Files"));

  // No trailing separator: nothing is inserted before DicLists.
  RunOptions joined;
  joined.environment["QUILLMERE_DIR"] = " \t" + windows_path(base_ / "lists") + "\r\n";
  RunResult j = run(joined);
  EXPECT_EQ(j.status, 1);
  EXPECT_THAT(j.out, HasSubstr("Update words file, " + windows_path(base_ / "lists") +
                               "DicLists\\update_words.txt, was not found."));
  EXPECT_TRUE(fs::is_directory(base_ / "listsDicLists" / "BU_Previous_Files"));
}

TEST_F(UnderWine, RelativeBaseDirectory) {
  use_base(temp_.path() / "rel" / kGreek);
  write_lists("DOG", "CAT", "ant");
  RunOptions options;
  options.environment["QUILLMERE_DIR"] = "rel\\" + kGreek + "\\";
  RunResult r = run(options);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  expect_lists("ANT\nCAT\nDOG", "ANT\nCAT");
  EXPECT_EQ(backups("reduced").size(), 1u);
  EXPECT_EQ(backups("master").size(), 1u);

  fs::remove(lists_ / "update_words.txt");
  RunResult missing = run(options);
  EXPECT_EQ(missing.status, 1);
  EXPECT_THAT(missing.out, HasSubstr("Update words file, rel\\" + kGreek +
                                     "\\DicLists\\update_words.txt, was not found.\n"));
}

TEST_F(UnderWine, DirectoryCreationFailureShowsTheSystemError) {
  write_lists("DOG", "CAT", "ant");
  write_file(backups_, "a file in the way");
  RunResult r = run();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kBanner + kPrompt);
  EXPECT_THAT(
      r.err, ::testing::MatchesRegex("Failed to create directory: [^\n]+ \\(os error [0-9]+\\)\n"));
  expect_lists("DOG", "CAT");
  EXPECT_EQ(read_file(backups_), "a file in the way");

  // A file where a missing parent folder should be.
  fs::path outer = temp_.path() / "outer";
  write_file(outer, "x");
  RunOptions nested;
  nested.environment["QUILLMERE_DIR"] = windows_path(outer) + "\\";
  RunResult n = run(nested);
  EXPECT_EQ(n.status, 1);
  EXPECT_THAT(
      n.err, ::testing::MatchesRegex("Failed to create directory: [^\n]+ \\(os error [0-9]+\\)\n"));
}

TEST_F(UnderWine, RenameFailureShowsTheSystemErrorAndChangesNothing) {
  // Every backup name of the coming minute is taken, so no backup can be made.
  write_lists("DOG", "CAT", "ant");
  fs::create_directories(backups_);
  const char* zone = kZones[0];
  const std::time_t now = std::time(nullptr);
  for (std::time_t t = now - 2; t < now + 60; ++t) {
    write_file(backups_ / ("reduced_" + local_stamp(zone, t) + ".txt"), "EARLIER");
  }
  const std::size_t taken = backups("reduced").size();
  RunOptions options;
  options.environment["TZ"] = zone;
  RunResult r = run(options);
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.out, ::testing::MatchesRegex(
                         "corvandel:\nError renaming file: [^\n]+ \\(os error 183\\)\n\n"
                         "Press Enter to exit...\n"));
  expect_lists("DOG", "CAT");
  EXPECT_THAT(strays(), IsEmpty()) << "the new list's temporary file is removed";
  ASSERT_EQ(backups("reduced").size(), taken);
  for (const std::string& name : backups("reduced")) {
    EXPECT_EQ(read_file(backups_ / name), "EARLIER");
  }
}

TEST_F(UnderWine, RedirectedStandardStreams) {
  write_lists("DOG", "CAT", "ant");
  // A closed standard output swallows the messages; the run itself succeeds.
  RunOptions closed_options;
  closed_options.close_stdout = true;
  RunResult closed = run(closed_options);
  EXPECT_EQ(closed.status, 0) << closed.err;
  EXPECT_EQ(closed.err, "");
  expect_lists("ANT\nCAT\nDOG", "ANT\nCAT");

  // Output into a pipe that nobody reads is a fatal failure with the system's error text.
  RunOptions broken_options;
  broken_options.stdout_to_closed_pipe = true;
  RunResult broken = run(broken_options);
  EXPECT_EQ(broken.status, 101);
  EXPECT_THAT(broken.err, ::testing::MatchesRegex("corvandel: fatal error at [^\n]*"
                                                  "failed printing to stdout: [^\n]+ "
                                                  "\\(os error (109|232|233)\\)[^\n]*\n"));

  // End of input counts as Enter.
  RunOptions eof_options;
  eof_options.standard_input = "";
  EXPECT_EQ(run(eof_options).status, 0);
}

// The .exe stands alone: it imports only DLLs that come with Windows.
TEST_F(UnderWine, ImportsOnlySystemDlls) {
  const std::string command = "x86_64-w64-mingw32-objdump -p '" + kExe.string() + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string dump;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) dump.append(buffer, n);
  ASSERT_EQ(::pclose(pipe), 0) << command;

  const std::regex dll_line("DLL Name: (\\S+)");
  const std::regex system_dll(
      "(KERNEL32|msvcrt|ucrtbase|ADVAPI32|USER32|SHELL32|api-ms-win-[a-z0-9-]+)\\.dll",
      std::regex::icase);
  std::vector<std::string> dlls;
  for (std::sregex_iterator it(dump.begin(), dump.end(), dll_line), end; it != end; ++it) {
    dlls.push_back((*it)[1]);
  }
  EXPECT_THAT(dlls, ::testing::Contains("KERNEL32.dll"));
  for (const std::string& dll : dlls) {
    EXPECT_TRUE(std::regex_match(dll, system_dll)) << dll << " is not a system DLL";
  }
}

// The version resource names the product and its version; the manifest declares long paths.
TEST_F(UnderWine, CarriesVersionAndManifest) {
  const std::string bytes = read_file(kExe);
  auto utf16 = [](const std::string& ascii) {
    std::string wide;
    for (char c : ascii) wide += {c, '\0'};
    return wide;
  };
  // Version strings are UTF-16 name-value pairs, each value aligned to four bytes.
  auto has_value = [&](const std::string& name, const std::string& value) {
    const std::regex pair(utf16(name) + "(\\x00\\x00)+" + utf16(value) + "\\x00\\x00");
    return std::regex_search(bytes, pair);
  };
  EXPECT_TRUE(has_value("ProductName", "corvandel"));
  EXPECT_TRUE(has_value("ProductVersion", CORVANDEL_VERSION));
  EXPECT_TRUE(has_value("FileVersion", CORVANDEL_VERSION));
  // Checked without printing the binary on failure.
  EXPECT_TRUE(std::regex_search(bytes, std::regex("<longPathAware[^>]*>true</longPathAware>")));
  EXPECT_NE(bytes.find("<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>"),
            std::string::npos);
}

// A terminal under tmux gives Wine a real console.
class AtAConsole : public UnderWine {
 protected:
  void SetUp() override {
    UnderWine::SetUp();
    if (IsSkipped()) return;
    if (std::system("command -v tmux >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is missing";
    socket_ = temp_.path() / "tmux.sock";
  }
  void TearDown() override {
    if (!socket_.empty()) tmux("kill-server");
  }

  int tmux(const std::string& arguments) {
    return std::system(
        ("tmux -u -f /dev/null -S '" + socket_.string() + "' " + arguments + " >/dev/null 2>&1")
            .c_str());
  }
  std::string pane() {
    const fs::path capture = temp_.path() / "pane.txt";
    std::system(("tmux -u -f /dev/null -S '" + socket_.string() + "' capture-pane -J -p > '" +
                 capture.string() + "' 2>/dev/null")
                    .c_str());
    return read_file(capture);
  }

  // Starts corvandel.exe in a new console; its exit status goes to `status_file_`.
  void start() {
    const fs::path script = temp_.path() / "run.sh";
    std::string text = "#!/bin/sh\nexport LANG=C.UTF-8 WINEDEBUG=-all\n";
    const char* prefix = std::getenv("WINEPREFIX");
    text += "export WINEPREFIX='" + std::string(prefix ? prefix : CORVANDEL_WINE_PREFIX) + "'\n";
    text += "export QUILLMERE_DIR='" + base_text() + "'\n";
    text += "'" + kWine.string() + "' '" + kExe.string() + "'\n";
    text += "echo $? > '" + status_file_.string() + "'\nsleep 60\n";
    write_file(script, text);
    fs::permissions(script, fs::perms::owner_all);
    ASSERT_EQ(tmux("new-session -d -x 250 -y 50 '" + script.string() + "'"), 0);
  }

  // Polls `done` every 100 ms for up to `seconds`.
  template <class Done>
  bool wait_for(Done done, int seconds) {
    for (int i = 0; i < seconds * 10; ++i) {
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return done();
  }

  fs::path socket_;
  fs::path status_file_ = temp_.path() / "status";
};

TEST_F(AtAConsole, NonAsciiPathsShowAsThemselvesAndTheReadEndsOnATypedLine) {
  use_base(temp_.path() / kGreek / kCjk);
  write_lists("DOG", "CAT", "");
  start();
  const std::string message = "Update words file, " + list_path("update_words.txt") + ", is empty.";
  ASSERT_TRUE(
      wait_for([&] { return pane().find("Press Enter to exit...") != std::string::npos; }, 120))
      << pane();
  EXPECT_THAT(pane(), HasSubstr(message));

  // Typed text without Enter keeps it waiting; Enter ends the read.
  tmux("send-keys -l 'typed words'");
  EXPECT_FALSE(wait_for([&] { return fs::exists(status_file_); }, 2)) << "ended before Enter";
  tmux("send-keys Enter");
  ASSERT_TRUE(
      wait_for([&] { return fs::exists(status_file_) && read_file(status_file_) != ""; }, 60));
  EXPECT_EQ(read_file(status_file_), "1\n");
  expect_lists("DOG", "CAT");
}

}  // namespace
}  // namespace corvandel::testing
