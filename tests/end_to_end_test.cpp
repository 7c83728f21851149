// Whole runs of a built program in temporary directories: exact console bytes, exit statuses,
// list contents and stamped backups. The same cases run against the Linux build and, compiled
// with CORVANDEL_WINDOWS_EXE, against corvandel.exe under Wine (Windows paths in the messages,
// the system's error texts), which also gets the checks of what the .exe imports and carries and
// of its behaviour at a real console.
//
// The Wine cases are skipped when the .exe has not been built or Wine is not installed;
// tools/test-all.sh provides both. Wine uses the prefix named by WINEPREFIX, by default
// build/wine-prefix.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>
#include <thread>

#include "list_dir.h"

namespace corvandel::testing {
namespace {
namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Matcher;
using ::testing::MatchesRegex;

#ifdef CORVANDEL_WINDOWS_EXE
constexpr bool kWindows = true;
const fs::path kExe = CORVANDEL_WINDOWS_EXE;
const fs::path kWine = CORVANDEL_WINE_LOADER;
#else
constexpr bool kWindows = false;
#endif

// A system error text: exact where the Linux text is known, by pattern for Windows.
Matcher<std::string> system_text(const std::string& linux_text,
                                 const std::string& windows_pattern) {
  if (kWindows) return MatchesRegex(windows_pattern);
  return linux_text;
}

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

// Characters in UTF-8 text (every character of these paths is a single UTF-16 unit).
std::size_t characters(const std::string& text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// The local time in `zone` as "%y%m%d_%H%M%S".
std::string local_stamp(const char* zone, std::time_t when) {
  const char* saved = std::getenv("TZ");
  const std::string saved_value = saved ? saved : "";
  setenv("TZ", zone, 1);
  tzset();
  std::tm local{};
  localtime_r(&when, &local);
  char text[32];
  std::strftime(text, sizeof text, "%y%m%d_%H%M%S", &local);
  saved ? setenv("TZ", saved_value.c_str(), 1) : unsetenv("TZ");
  tzset();
  return text;
}

std::string update_not_found(const std::string& path) {
  return kBanner + "Update words file, " + path +
         ", was not found.\nCreate a non-empty file, with this name, containing new text strings "
         "to add to the dictionary lists.\n" +
         kPrompt;
}

std::string not_a_list(const std::string& path) {
  return kBanner + path + " is missing (or not a regular file)\n" + kPrompt;
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef CORVANDEL_WINDOWS_EXE
    if (!fs::exists(kExe)) GTEST_SKIP() << kExe << " is not built (cmake --preset windows)";
    if (!fs::exists(kWine)) GTEST_SKIP() << kWine << " is missing (Debian package wine64)";
#endif
  }

  // Runs the program; QUILLMERE_DIR is the base directory unless `options` sets it, or
  // `set_base` is false.
  RunResult run(RunOptions options = {}, bool set_base = true) const {
#ifdef CORVANDEL_WINDOWS_EXE
    // Wine names Linux files in the locale's character set.
    options.environment["LANG"] = "C.UTF-8";
    if (!std::getenv("WINEPREFIX")) options.environment["WINEPREFIX"] = CORVANDEL_WINE_PREFIX;
    if (!std::getenv("WINEDEBUG")) options.environment["WINEDEBUG"] = "-all";
    options.arguments.insert(options.arguments.begin(), kExe.string());
    return dir_.run(kWine, options, set_base);
#else
    return dir_.run(CORVANDEL_BINARY, options, set_base);
#endif
  }

  RunResult run_with(const std::string& variable, const std::string& value) const {
    RunOptions options;
    options.environment[variable] = value;
    return run(options);
  }

  ListDir dir_{kWindows};
};

TEST_F(EndToEnd, WholeRunInADeepNonAsciiFolderWithStampedBackups) {
  // Greek and CJK folder names, nested until the list paths are past 300 characters, below a
  // folder whose name holds the names of both lists.
  fs::path base = dir_.root() / "reduced master";
  for (int level = 0; characters(dir_.program_path(base / "DicLists/reduced.txt")) <= 300;
       ++level) {
    base /= (level % 2 == 0 ? kGreek : kCjk) + " " + std::to_string(level);
  }
  dir_.use_base(base);

  // Mixed case, CR LF, Unicode spaces, one-to-many mappings, byte-order marks and Unicode order.
  const ListContents lists{"DOG", "apple Banana\r\ncherry\r\n",
                           "banana\n\nDate  apple\xE3\x80\x80stra\xC3\x9F"
                           "e zebra STRASSE "
                           "\xC3\xA9"
                           "cole\n\xEF\xBB\xBF\n\xEF\xBB\xBFword\xE2\x80\x8Bjoined",
                           "", ""};
  const std::string tail =
      "STRASSE\nZEBRA\n\xC3\x89"
      "COLE\n\xEF\xBB\xBF\n"
      "\xEF\xBB\xBFWORD\xE2\x80\x8BJOINED";
  for (const char* zone : kZones) {
    fs::remove_all(dir_.backup_dir());
    dir_.write_lists(lists);
    RunOptions options;
    options.environment["TZ"] = zone;
    options.arguments = {"ignored", "--help"};
    const std::time_t before = std::time(nullptr);
    RunResult r = run(options);
    const std::time_t after = std::time(nullptr);
    EXPECT_EQ(r.status, 0) << zone;
    EXPECT_EQ(r.out, kSuccess);
    EXPECT_EQ(r.err, "");
    dir_.expect_lists("APPLE\nBANANA\nCHERRY\nDATE\nDOG\n" + tail,
                      "APPLE\nBANANA\nCHERRY\nDATE\n" + tail);
    EXPECT_EQ(read_file(dir_.lists() / "update_words.txt"), lists.update);
    EXPECT_THAT(dir_.strays(), IsEmpty());

    // Each backup is the list it replaced, stamped with the local time of the zone, daylight
    // saving time included.
    std::set<std::string> stamps;
    for (std::time_t t = before; t <= after; ++t) stamps.insert(local_stamp(zone, t));
    for (const std::string kind : {"reduced", "master"}) {
      std::vector<fs::path> kept = dir_.backups(kind);
      ASSERT_EQ(kept.size(), 1u) << kind;
      const std::string name = kept[0].filename().string();
      EXPECT_TRUE(stamps.count(name.substr(kind.size() + 1, 13))) << name << " in " << zone;
      EXPECT_EQ(read_file(kept[0]), kind == "reduced" ? lists.reduced : lists.master);
    }
  }
}

TEST_F(EndToEnd, RunsInOneSecondKeepEveryBackup) {
  dir_.write_lists("DOG", "CAT", "ant");
  EXPECT_EQ(run().status, 0);
  write_file(dir_.lists() / "update_words.txt", "bee");
  RunResult second = run();
  EXPECT_EQ(second.status, 0) << second.out;
  ASSERT_EQ(dir_.backups("reduced").size(), 2u);
  ASSERT_EQ(dir_.backups("master").size(), 2u);
  EXPECT_EQ(dir_.backup_text("reduced", 0), "CAT");
  EXPECT_EQ(dir_.backup_text("reduced", 1), "ANT\nCAT");
  EXPECT_EQ(dir_.backup_text("master", 0), "DOG");
  EXPECT_EQ(dir_.backup_text("master", 1), "ANT\nCAT\nDOG");
  dir_.expect_lists("ANT\nBEE\nCAT\nDOG", "ANT\nBEE\nCAT");
}

TEST_F(EndToEnd, UpdateFileMissingEmptyOrWithoutWords) {
  write_file(dir_.lists() / "master.txt", "DOG");
  write_file(dir_.lists() / "reduced.txt", "CAT");
  const std::string update = dir_.list_path("update_words.txt");
  struct Case {
    std::optional<std::string> content;  // none: the file is missing
    std::string out;
  } const cases[] = {
      {std::nullopt, update_not_found(update)},
      {"",
       kBanner + "Update words file, " + update +
           ", is empty.\nEnsure a file, with this name, contains new text strings to add to the "
           "dictionary lists.\n" +
           kPrompt},
      {kAllWhitespace + "\r\n" + kAllWhitespace,
       kBanner + "No text found in " + update + " file. Exiting...\n" + kPrompt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content ? ::testing::PrintToString(*c.content) : "missing");
    if (c.content) write_file(dir_.lists() / "update_words.txt", *c.content);
    RunResult r = run();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
    dir_.expect_lists("DOG", "CAT");
    EXPECT_TRUE(fs::is_directory(dir_.backup_dir())) << "the backup folder is made first";
    EXPECT_TRUE(dir_.backups("reduced").empty());
    EXPECT_THAT(dir_.strays(), IsEmpty());
  }
}

TEST_F(EndToEnd, InvalidUtf8IsFatalAndChangesNothing) {
  for (const std::string file : {"update_words.txt", "reduced.txt", "master.txt"}) {
    SCOPED_TRACE(file);
    fs::remove_all(dir_.backup_dir());
    dir_.write_lists("DOG", "CAT", "zebra");
    write_file(dir_.lists() / file, "caf\xC3");
    RunResult r = run();
    EXPECT_EQ(r.status, 101);
    EXPECT_EQ(r.out, kBanner);
    EXPECT_THAT(r.err, HasSubstr(": reading " + dir_.list_path(file) +
                                 ": stream did not contain valid UTF-8"));
    EXPECT_THAT(r.err, HasSubstr(".cpp:")) << "the report names its source position";
    // The reduced pass completes before the master list is read.
    dir_.expect_lists(file == "master.txt" ? "caf\xC3" : "DOG", file == "master.txt" ? "CAT\nZEBRA"
                                                                : file == "reduced.txt" ? "caf\xC3"
                                                                                        : "CAT");
  }
}

TEST_F(EndToEnd, ListsMissingOrFolders) {
  // The reduced pass completes, then the missing master list is reported.
  write_file(dir_.lists() / "reduced.txt", "CAT");
  write_file(dir_.lists() / "update_words.txt", "ant");
  RunResult no_master = run();
  EXPECT_EQ(no_master.status, 1);
  EXPECT_EQ(no_master.out, not_a_list(dir_.list_path("master.txt")));
  EXPECT_EQ(read_file(dir_.lists() / "reduced.txt"), "ANT\nCAT");
  EXPECT_EQ(dir_.backup_text("reduced"), "CAT");

  write_file(dir_.lists() / "master.txt", "DOG");
  fs::remove(dir_.lists() / "reduced.txt");
  fs::create_directory(dir_.lists() / "reduced.txt");
  RunResult r = run();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, not_a_list(dir_.list_path("reduced.txt")));

  // A folder passes the update file's existence check, but cannot be read.
  fs::remove(dir_.lists() / "reduced.txt");
  write_file(dir_.lists() / "reduced.txt", "CAT");
  fs::remove(dir_.lists() / "update_words.txt");
  fs::create_directory(dir_.lists() / "update_words.txt");
  RunResult dir = run();
  EXPECT_EQ(dir.status, 101);
  EXPECT_EQ(dir.out, kBanner);
  EXPECT_THAT(dir.err, HasSubstr(kWindows ? "(os error 336)" : "Is a directory (os error 21)"));
  dir_.expect_lists("DOG", "CAT");
}

TEST_F(EndToEnd, BackupFolderCannotBeMade) {
  dir_.write_lists("DOG", "CAT", "ant");
  write_file(dir_.backup_dir(), "a file in the way");
  RunResult r = run();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kBanner + kPrompt);
  EXPECT_THAT(r.err, system_text("Failed to create directory: File exists (os error 17)\n",
                                 "Failed to create directory: [^\n]+ \\(os error [0-9]+\\)\n"));
  dir_.expect_lists("DOG", "CAT");
  EXPECT_EQ(read_file(dir_.backup_dir()), "a file in the way");

  // A file where a missing parent folder should be.
  write_file(dir_.root() / "outer", "x");
  RunResult n =
      run_with("QUILLMERE_DIR", dir_.program_path(dir_.root() / "outer") + dir_.separator());
  EXPECT_EQ(n.status, 1);
  EXPECT_THAT(n.err, MatchesRegex("Failed to create directory: [^\n]+ \\(os error [0-9]+\\)\n"));
}

TEST_F(EndToEnd, BaseDirectoryFromTheVariable) {
  const std::string sep = dir_.separator();
  // Unset: the fallback text is the start of every path, relative to the working directory.
  RunResult unset = run({}, false);
  EXPECT_EQ(unset.status, 1);
  EXPECT_EQ(unset.out,
            update_not_found("Environment variable not foundDicLists" + sep + "update_words.txt"));
  EXPECT_TRUE(
      fs::is_directory(dir_.root() / "Environment variable not foundDicLists/BU_Previous_Files"));

  // Whitespace of every kind is trimmed from both ends; no separator is added.
  const std::string joined = dir_.program_path(dir_.root() / "in ner");
  RunResult j = run_with("QUILLMERE_DIR", kAllWhitespace + joined + kAllWhitespace);
  EXPECT_EQ(j.status, 1);
  EXPECT_EQ(j.out, update_not_found(joined + "DicLists" + sep + "update_words.txt"));
  EXPECT_TRUE(fs::is_directory(dir_.root() / "in nerDicLists/BU_Previous_Files"));

  // Empty or whitespace only: paths are relative, starting with DicLists.
  dir_.write_lists("DOG", "CAT", "ant");
  const std::vector<std::string> blank =
      kWindows ? std::vector<std::string>{" \t\r\n"} : std::vector<std::string>{"", " \t\r\n"};
  for (const std::string& value : blank) EXPECT_EQ(run_with("QUILLMERE_DIR", value).status, 0);
  EXPECT_EQ(read_file(dir_.lists() / "reduced.txt"), "ANT\nCAT");
  EXPECT_EQ(dir_.backups("reduced").size(), blank.size()) << "every run keeps what it replaced";

  // A relative base directory with a non-ASCII name.
  dir_.use_base(dir_.root() / "rel" / kGreek);
  dir_.write_lists("DOG", "CAT", "ant");
  const std::string relative = "rel" + sep + kGreek + sep;
  RunResult r = run_with("QUILLMERE_DIR", relative);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  dir_.expect_lists("ANT\nCAT\nDOG", "ANT\nCAT");
  EXPECT_EQ(dir_.backups("master").size(), 1u);
  fs::remove(dir_.lists() / "update_words.txt");
  EXPECT_EQ(run_with("QUILLMERE_DIR", relative).out,
            update_not_found(relative + "DicLists" + sep + "update_words.txt"));
}

TEST_F(EndToEnd, LeftoverTemporaryFilesAreLeftAlone) {
  dir_.write_lists("DOG", "CAT", "ant");
  write_file(dir_.lists() / "reduced.txt.new-1", "half written");
  RunResult r = run();
  EXPECT_EQ(r.status, 0) << r.err;
  dir_.expect_lists("ANT\nCAT\nDOG", "ANT\nCAT");
  EXPECT_EQ(read_file(dir_.lists() / "reduced.txt.new-1"), "half written");
  EXPECT_THAT(dir_.strays(), ::testing::ElementsAre("reduced.txt.new-1"));
}

TEST_F(EndToEnd, EveryBackupNameTakenChangesNothing) {
  // Every backup name of the coming minute is taken, so no backup can be made.
  dir_.write_lists("DOG", "CAT", "ant");
  fs::create_directories(dir_.backup_dir());
  const std::time_t now = std::time(nullptr);
  for (std::time_t t = now - 2; t < now + 60; ++t) {
    write_file(dir_.backup_dir() / ("reduced_" + local_stamp(kZones[0], t) + ".txt"), "EARLIER");
  }
  const std::size_t taken = dir_.backups("reduced").size();
  RunResult r = run_with("TZ", kZones[0]);
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.out,
              system_text(kBanner + "Error renaming file: File exists (os error 17)\n" + kPrompt,
                          "corvandel:\nError renaming file: [^\n]+ \\(os error 183\\)\n\n"
                          "Press Enter to exit...\n"));
  dir_.expect_lists("DOG", "CAT");
  EXPECT_THAT(dir_.strays(), IsEmpty()) << "the new list's temporary file is removed";
  ASSERT_EQ(dir_.backups("reduced").size(), taken);
  for (const fs::path& kept : dir_.backups("reduced")) EXPECT_EQ(read_file(kept), "EARLIER");
}

TEST_F(EndToEnd, RedirectedStandardStreams) {
  dir_.write_lists("DOG", "CAT", "ant");
  // A closed standard output swallows the messages; the run itself succeeds.
  RunOptions closed;
  closed.close_stdout = true;
  RunResult c = run(closed);
  EXPECT_EQ(c.status, 0) << c.err;
  EXPECT_EQ(c.err, "");
  dir_.expect_lists("ANT\nCAT\nDOG", "ANT\nCAT");

  // Output into a pipe that nobody reads is a fatal failure with the system's error text, not a
  // silent death by SIGPIPE.
  RunOptions broken;
  broken.stdout_to_closed_pipe = true;
  RunResult b = run(broken);
  EXPECT_EQ(b.status, 101);
  EXPECT_THAT(b.err, MatchesRegex("corvandel: fatal error at [^\n]*failed printing to stdout: " +
                                  std::string(kWindows ? "[^\n]+ \\(os error (109|232|233)\\)"
                                                       : "Broken pipe \\(os error 32\\)") +
                                  " \\[kind: broken pipe, os error code: [0-9]+\\]\n"));

  // End of input counts as Enter.
  RunOptions eof;
  eof.standard_input = "";
  EXPECT_EQ(run(eof).status, 0);
}

#ifdef CORVANDEL_WINDOWS_EXE
// The .exe stands alone: it imports only DLLs that come with Windows.
TEST_F(EndToEnd, ImportsOnlySystemDlls) {
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
TEST_F(EndToEnd, CarriesVersionAndManifest) {
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
class AtAConsole : public EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    if (IsSkipped()) return;
    if (std::system("command -v tmux >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is missing";
    socket_ = dir_.root() / "tmux.sock";
  }
  void TearDown() override {
    if (!socket_.empty()) tmux("kill-server");
  }

  int tmux(const std::string& arguments, const std::string& output = "/dev/null") {
    return std::system(("tmux -u -f /dev/null -S '" + socket_.string() + "' " + arguments + " >'" +
                        output + "' 2>/dev/null")
                           .c_str());
  }
  std::string pane() {
    const fs::path capture = dir_.root() / "pane.txt";
    tmux("capture-pane -J -p", capture.string());
    return read_file(capture);
  }

  // Starts corvandel.exe in a new console; its exit status goes to `status_file_`.
  void start() {
    const fs::path script = dir_.root() / "run.sh";
    std::string text = "#!/bin/sh\nexport LANG=C.UTF-8 WINEDEBUG=-all\n";
    const char* prefix = std::getenv("WINEPREFIX");
    text += "export WINEPREFIX='" + std::string(prefix ? prefix : CORVANDEL_WINE_PREFIX) + "'\n";
    text += "export QUILLMERE_DIR='" + dir_.base_text() + "'\n";
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
  fs::path status_file_ = dir_.root() / "status";
};

TEST_F(AtAConsole, NonAsciiPathsShowAsThemselvesAndTheReadEndsOnATypedLine) {
  dir_.use_base(dir_.root() / kGreek / kCjk);
  dir_.write_lists("DOG", "CAT", "");
  start();
  const std::string message =
      "Update words file, " + dir_.list_path("update_words.txt") + ", is empty.";
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
  dir_.expect_lists("DOG", "CAT");
}
#endif

}  // namespace
}  // namespace corvandel::testing
