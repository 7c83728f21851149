// Whole update runs, in-process on Linux and (built with CORVANDEL_WINDOWS_EXE) as corvandel.exe
// under Wine: every message and status, the base directory, odd things in place of the files.
#include "run/update_run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <thread>

#include "test_support.h"

namespace corvandel::testing {
namespace {

#ifdef CORVANDEL_WINDOWS_EXE
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

const std::string kGreek = "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC";
const std::string kCjk = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE";
const std::string kSomeWhitespace = "\t\n\v\f\r \u0085\u00A0\u1680\u2000\u202F\u3000";
// A time zone with daylight saving time, written out so that no time zone database is needed.
constexpr const char* kZone = "AEST-10AEDT,M10.1.0,M4.1.0/3";
[[maybe_unused]] const bool kZoneSet = (::setenv("TZ", kZone, 1), ::tzset(), true);

// `text` with {base}, {D} (the list folder), {/}, {root}, {ws}, {E} (`error`), {long} filled in.
std::string expand(const std::string& text, const ListFolder& folder,
                   const std::string& error = "") {
  return filled(text, {{"{base}", folder.base_text()},
                       {"{D}", folder.list_path("")},
                       {"{/}", folder.separator()},
                       {"{root}", folder.program_path(folder.root())},
                       {"{ws}", kSomeWhitespace},
                       {"{E}", error},
                       {"{long}", kWindows ? "\\\\?\\" : ""}});
}

using Fault = std::tuple<const char*, int, int>;  // an operation's nth call fails with an errno

// Runs the program in `folder` with `arguments` and QUILLMERE_DIR `base` (unset when nothing).
RunResult run(const ListFolder& folder, const std::optional<std::string>& base,
              [[maybe_unused]] const std::vector<Fault>& faults = {},
              std::vector<std::string> arguments = {"ignored", "-h"}) {
#ifdef CORVANDEL_WINDOWS_EXE
  arguments.insert(arguments.begin(), {CORVANDEL_WINE_LOADER, CORVANDEL_WINDOWS_EXE});
  // Wine names Linux files in the locale's character set; TZ and WINEPREFIX are passed on.
  ProcessOptions options{arguments, folder.root(), {{"LANG", "C.UTF-8"}}};
  if (base) options.environment["QUILLMERE_DIR"] = *base;
  return run_process(options);
#else
  TestPlatform platform;
  if (base) platform.environment["QUILLMERE_DIR"] = *base;
  for (const auto& [operation, nth, code] : faults)
    if (nth) platform.fail(operation, nth, code);
  arguments.insert(arguments.begin(), "corvandel");
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  return run_in_process(platform, folder.root(), [&] { run_program(argv); });
#endif
}

// Puts a file with `content` in place of the file `name`, or a folder when nothing.
void put(const ListFolder& folder, const std::string& name, std::optional<std::string> content) {
  fs::remove_all(folder.lists() / name);
  content ? write_file(folder.lists() / name, *content)
          : (void)fs::create_directory(folder.lists() / name);
}

struct WholeRun {
  std::string what;
  std::function<void(ListFolder&)> setup;
  std::optional<std::string> base;  // QUILLMERE_DIR, expanded; nothing: unset
  int status, replaced;             // replaced: 0 neither list, 1 the reduced list, 2 both
  std::string out;                  // between the banner and the prompt
  std::string err = "";             // for status 101, the fatal report after "corvandel: "
  std::string error = "", windows_error = "";   // the system's error text, {E} in out and err
  Fault fault = {"", 0, 0}, then = {"", 0, 0};  // on Linux alone
  std::set<std::string> left = {};              // what stays in DicLists beside the lists
};

const WholeRun kWholeRuns[] = {
    {"success", nullptr, "{base}", 0, 2, kWritten},
    {"update file missing", [](auto& f) { fs::remove(f.lists() / "update_words.txt"); }, "{base}",
     1, 0, "Update words file, {D}update_words.txt" + kNotFound},
    {"update file empty", [](auto& f) { put(f, "update_words.txt", ""); }, "{base}", 1, 0,
     "Update words file, {D}update_words.txt, is empty.\nEnsure a file, with this name, contains "
     "new text strings to add to the dictionary lists.\n"},
    {"update file of whitespace", [](auto& f) { put(f, "update_words.txt", kSomeWhitespace); },
     "{base}", 1, 0, "No text found in {D}update_words.txt file. Exiting...\n"},
    {"update file of whitespace, reduced list not UTF-8: the list is judged first",
     [](auto& f) { put(f, "update_words.txt", "\n"), put(f, "reduced.txt", "\x80"); }, "{base}",
     101, 0, "",
     "{D}reduced.txt is not UTF-8 text: *details: fatal error at *.cpp:*: reading "
     "{D}reduced.txt: stream did not contain valid UTF-8 [kind: invalid data]\n"},
    {"master list not to be opened", nullptr, "{base}", 101, 1, "",
     "{D}master.txt could not be read: access to it was denied.\nThis run already updated "
     "{D}reduced.txt (*\nMake sure that you may read*: reading {D}master.txt: {E} [kind: *13]\n",
     "Permission denied (os error 13)", "", Fault("open_file", 4, EACCES)},
    {"update file not to be read", nullptr, "{base}", 101, 0, "",
     "{D}update_words.txt could not be read: the system reported \"{E}\".\nThis run changed no "
     "list.\nCheck the disk or device*",
     "Input/output error (os error 5)", "", Fault("read", 1, EIO)},
    {"no room for the new list", nullptr, "{base}", 101, 0, "",
     "The new list {D}reduced.txt.new-1 could not be created: the disk is full.\nThis run changed "
     "no list.\nFree some space*",
     "", "", Fault("create_new_file", 1, ENOSPC)},
    {"the clock failed", nullptr, "{base}", 101, 0, "", "*: reading the local time: {E} [*",
     "Input/output error (os error 5)", "", Fault("local_time_stamp", 1, EIO)},
    {"the report of a folder not made failed", nullptr, "{base}", 101, 0, "",
     "*: failed printing to stderr: {E} [*", "Permission denied (os error 13)", "",
     Fault("make_directory", 1, EIO), Fault("write_stderr", 1, EACCES)},
    {"the removal of the new list after a failed link failed: it stays", nullptr, "{base}", 1, 0,
     "Error renaming file: {E}\n", "", "Input/output error (os error 5)", "",
     Fault("hard_link", 1, EIO), Fault("remove_file", 1, EACCES),
     std::set<std::string>{"reduced.txt.new-1"}},
    {"master list missing", [](auto& f) { fs::remove(f.lists() / "master.txt"); }, "{base}", 1, 1,
     "{D}master.txt is missing (or not a regular file)\n"},
    {"reduced list a folder", [](auto& f) { put(f, "reduced.txt", {}); }, "{base}", 1, 0,
     "{D}reduced.txt is missing (or not a regular file)\n"},
    {"update file a folder", [](auto& f) { put(f, "update_words.txt", {}); }, "{base}", 101, 0, "",
     "{D}update_words.txt could not be read: it is a folder, not a file.\nThis run changed no "
     "list.\nPut a text file in its place*\ndetails: fatal error at *.cpp:*: reading "
     "{D}update_words.txt: {E} [kind: is a directory*",
     "Is a directory (os error 21)", "* (os error 336)"},
    {"a file as the backup folder", [](auto& f) { put(f, "BU_Previous_Files", "x"); }, "{base}", 1,
     0, "", "Failed to create directory: {E}\n", "File exists (os error 17)", "* (os error 183)"},
    {"a file above the backup folder", [](auto& f) { write_file(f.root() / "outer", ""); },
     "{root}{/}outer{/}", 1, 0, "", "Failed to create directory: {E}\n",
     "Not a directory (os error 20)", "* (os error 183)"},
    {"links to each file, followed; a link becomes the backup",
     [](auto& f) {
       for (const char* name : {"update_words.txt", "reduced.txt", "master.txt"})
         fs::rename(f.lists() / name, f.root() / name),
             fs::create_symlink(f.root() / name, f.lists() / name);
     },
     "{base}", 0, 2, kWritten},
    {"a base past 300 characters, of folders in two scripts below one named after both lists",
     [](auto& f) {
       fs::path base = f.root() / "reduced master";
       for (int level = 0; f.program_path(base).size() < 900; ++level)
         base /= (level % 2 ? kCjk : kGreek) + std::to_string(level);
       f.use_base(base);
       f.write(kLists);
     },
     "{base}", 0, 2, kWritten},
    {"unfinished lists that interrupted runs left, removed; other files kept",
     [](auto& f) {
       for (const char* name : {"reduced.txt.new-1", "master.txt.new-12", "reduced.txt.new-x",
                                "reduced.txt.new-", "notes.txt"})
         put(f, name, "half");
     },
     "{base}", 0, 2, kWritten, "", "", "", Fault(), Fault(),
     std::set<std::string>{"notes.txt", "reduced.txt.new-", "reduced.txt.new-x"}},
    {"an unfinished list kept by a run without the lock (a folder in its place)",
     [](auto& f) { put(f, "corvandel.lock", {}), put(f, "reduced.txt.new-1", "half"); }, "{base}",
     0, 2, kWritten, "", "", "", Fault(), Fault(), std::set<std::string>{"reduced.txt.new-1"}},
    {"every backup name of the coming minute taken",
     [](auto& f) {
       fs::create_directories(f.backup_dir());
       for (std::time_t t = std::time(nullptr) - 2, end = t + 62; t < end; ++t)
         write_file(f.backup_dir() / ("reduced_" + local_stamp(t) + ".txt"), "EARLIER");
     },
     "{base}", 1, 0, "Error renaming file: {E}\n", "", "File exists (os error 17)",
     "* (os error 183)"},
    {"QUILLMERE_DIR unset", nullptr, std::nullopt, 1, 0,
     "Update words file, Environment variable not foundDicLists{/}update_words.txt" + kNotFound},
    {"QUILLMERE_DIR with whitespace around it and no separator at its end", nullptr,
     "{ws}{root}{/}in ner{ws}", 1, 0,
     "Update words file, {root}{/}in nerDicLists{/}update_words.txt" + kNotFound},
    {"QUILLMERE_DIR of whitespace: relative paths", nullptr, " \t\r\n", 0, 2, kWritten},
    {"QUILLMERE_DIR in the extended-length form (on Windows)", nullptr, "{long}{base}", 0, 2,
     kWritten},
    {"QUILLMERE_DIR relative, with a non-ASCII name",
     [](auto& f) {  // the lists, moved there, stay in reach of the checks through a link
       fs::create_directories(f.root() / "rel" / kGreek);
       fs::rename(f.lists(), f.root() / "rel" / kGreek / "DicLists");
       fs::create_directory_symlink(f.root() / "rel" / kGreek / "DicLists", f.lists());
     },
     "rel{/}" + kGreek + "{/}", 0, 2, kWritten},
};

class UpdateRun : public ::testing::Test {
#ifdef CORVANDEL_WINDOWS_EXE
  void SetUp() override {
    ::setenv("WINEPREFIX", CORVANDEL_WINE_PREFIX, 0);
    if (!fs::exists(CORVANDEL_WINDOWS_EXE)) GTEST_SKIP() << "corvandel.exe is not built";
  }
#endif
};

void check_run(const WholeRun& c) {
  SCOPED_TRACE(c.what);
  if (kWindows && std::get<1>(c.fault)) return;
  ListFolder folder(kLists, kWindows);
  if (c.setup) c.setup(folder);
  const Lists before = folder.read();
  const std::vector<fs::path> earlier = folder.backups("reduced");
  const std::time_t start = std::time(nullptr);
  const RunResult r = run(folder, c.base ? std::optional(expand(*c.base, folder)) : std::nullopt,
                          {c.fault, c.then});
  const std::string error = kWindows ? c.windows_error : c.error,
                    tail = (c.status == 101 ? "corvandel: " : kPrompt) + c.err;
  EXPECT_EQ(r.status, c.status);
  EXPECT_TRUE(like(r.out + r.err, expand(kBanner + c.out + tail, folder, error))) << r.out + r.err;
  if (!earlier.empty()) {  // the backups of earlier runs stay as they are, and so do the lists
    EXPECT_TRUE(folder.backups("reduced") == earlier && folder.read().reduced == before.reduced);
  } else if (fs::is_regular_file(folder.lists() / "reduced.txt")) {
    const auto [reduced, master] = folder.check_promise(before);
    EXPECT_EQ(reduced + master, c.replaced);
    std::set<std::string> stamps;  // backups are named by the local time of the run
    for (std::time_t t = start; t <= std::time(nullptr); ++t) stamps.insert(local_stamp(t));
    for (const std::string kind : {"reduced", "master"})
      for (const fs::path& backup : folder.backups(kind))
        EXPECT_TRUE(stamps.count(backup.filename().string().substr(kind.size() + 1, 13)));
  }
  const std::vector<std::string> strays = folder.strays();
  EXPECT_EQ(std::set(strays.begin(), strays.end()), c.left);
}

TEST_F(UpdateRun, EveryMessageAndStatus) {
  for (const WholeRun& c : kWholeRuns) check_run(c);
}

// The usage text and the version for one argument that asks, nothing made; else an update run.
TEST_F(UpdateRun, CommandLines) {
  const std::string usage =
      "Usage: corvandel [--help | --version]\n*corvandel(1) and in the README.\n";
  std::vector<std::pair<std::vector<std::string>, std::string>> lines = {
      {{"--help"}, usage},
      {{"-h"}, usage},
      {{"--version"}, "corvandel " CORVANDEL_VERSION "\n"},
      {{"--help", "--version"}, ""},
      {{"--HELP"}, ""},
      {{}, ""}};
  for (const char* o : {"/?", "/help", "/h", "-?"}) lines.push_back({{o}, kWindows ? usage : ""});
  for (const auto& [arguments, shown] : lines) {
    ListFolder folder(kWindows);
    const RunResult r = run(folder, std::nullopt, {}, arguments);
    EXPECT_EQ(r.status, shown.empty() ? 1 : 0) << arguments.size();
    EXPECT_TRUE(shown.empty() || (like(r.out, shown) && fs::is_empty(folder.lists()))) << r.out;
  }
}

// Text that is not UTF-8 in each list: the report tells where, the bytes, their likely cause (with
// its line end), what the run changed and what to do.
struct BadFile {
  std::string what, content, where, cause = "";
};

// Words in written form, one with a byte that continues no character in a piece of its own.
std::string long_list_with_a_stray_byte() {
  std::string list;
  char word[16];
  for (int i = 0; i < 200000; ++i) list.append(word, std::snprintf(word, 16, "W%06d\u00C9\n", i));
  list.pop_back();
  return list.insert(1500003, "\x80");
}

const std::string kUtf16 = "It seems to be saved as UTF-16 ('Unicode' in Notepad)";
const std::string kAnsi = "It seems to be saved in an ANSI code page (Windows-1252, Latin-1), in ";
const std::string kStray = "byte that continues a character where none began";
const std::string kUnended = "the start of a character without the bytes that end it";
const std::string kMark = "1, column 1 (byte offset 0) it holds the bytes ";
const BadFile kBadFiles[] = {
    {"UTF-16 LE", std::string("\xFF\xFE\x63\0a\0f\0\xE9\0", 10),
     kMark + "FF FE, the byte-order mark of UTF-16 (little-endian)", kUtf16 + ".\n"},
    {"UTF-16 BE", std::string("\xFE\xFF\0c\0a\0f\0\xE9", 10),
     kMark + "FE FF, the byte-order mark of UTF-16 (big-endian)", kUtf16 + ".\n"},
    {"UTF-16 LE without its mark", std::string("c\0a\0f\0\xE9\0", 8),
     "1, column 7 (byte offset 6) it holds the byte E9, " + kUnended,
     kUtf16 + ": NUL bytes stand between its letters.\n"},
    {"Windows-1252", "tea\r\n\x93quoted\x94 caf\xE9",
     "2, column 1 (byte offset 5) it holds the byte 93, a " + kStray,
     kAnsi + "which 93 is \"\u201C\".\n"},
    {"Latin-1", "apple\nna\xEFve", "2, column 3 (byte offset 8) it holds the byte EF, " + kUnended,
     kAnsi + "which EF is \"\u00EF\".\n"},
    {"cut off", "\u00E9t\u00E9\n\xE2\x82",
     "2, column 1 (byte offset 6) it holds the bytes E2 82, a character cut off*",
     "It seems to be cut off: it ends inside a character.\n"},
    {"a stray byte in a long list in written form", long_list_with_a_stray_byte(),
     "150001, column 4 (byte offset 1500003) it holds the byte 80, a " + kStray},
    {"an overlong form", "ant \u00E9t\u00E9\n  b\xE0\x80\xAF",
     "2, column 4 (byte offset 13) it holds the bytes E0 80 AF, an overlong form, which UTF-8*"}};

TEST_F(UpdateRun, TextThatIsNotUtf8InEachList) {
  for (const BadFile& bad : kBadFiles) {
    for (const std::string file : {"update_words.txt", "reduced.txt", "master.txt"}) {
      const bool in_master = file == "master.txt";
      check_run({bad.what + " in " + file,
                 [&](auto& f) { write_file(f.lists() / file, bad.content); }, "{base}", 101,
                 in_master, "",
                 "{D}" + file + " is not UTF-8 text: at line " + bad.where + ".\n" + bad.cause +
                     (in_master ? "This run already updated {D}reduced.txt (its previous version "
                                  "is {D}BU_Previous_Files/reduced_######_######.txt); running*"
                                : "This run changed no list.") +
                     "\nSave it as UTF-8*and run the update again.\ndetails: fatal error at *: "
                     "reading {D}" +
                     file + ": stream did not contain valid UTF-8*"});
    }
  }
}

#ifdef CORVANDEL_WINDOWS_EXE
// A list that another program holds open without sharing: the report says to close that program.
TEST_F(UpdateRun, AListHeldOpenByAnotherProgram) {
  FILE* holder = nullptr;
  const auto hold = [&](auto& f) {
    const std::string command = "exec " CORVANDEL_WINE_LOADER " " CORVANDEL_HOLD_FILE_EXE " '";
    holder = ::popen((command + f.list_path("master.txt") + "'").c_str(), "r");
    EXPECT_EQ(std::fgetc(holder), 'h') << "the list is held";
  };
  check_run({"master list held", hold, "{base}", 101, 1, "",
             "{D}master.txt could not be read: another program has it open.\nThis run already "
             "updated *\nClose the program that has it open*details: *{E}*",
             "", "Sharing violation.*(os error 32)"});
  ::pclose(holder);
}
#else
// A folder, a FIFO (also with a writer waiting), a link to /dev/null, to nothing, to a folder, in
// place of each file, left as it is: a folder serves as the backup folder, an update file that is
// one is read and fails; anything else that is there but no file is refused unread, as a list.
TEST_F(UpdateRun, NotARegularFileInPlaceOfEachFile) {
  const std::function<void(const fs::path&)> stands[] = {
      [](const fs::path& p) { fs::create_directory(p); },
      [](const fs::path& p) { ::mkfifo(p.c_str(), 0644); },
      [](const fs::path& p) { fs::create_symlink("/dev/null", p); },
      [](const fs::path& p) { fs::create_symlink(p.string() + ".absent", p); },
      [](const fs::path& p) { fs::create_directory_symlink(p.parent_path().parent_path(), p); }};
  for (int stand = 0; stand < 6; ++stand) {  // 5: a FIFO with a writer waiting
    for (const std::string file :
         {"update_words.txt", "reduced.txt", "master.txt", "BU_Previous_Files"}) {
      SCOPED_TRACE(file + " in place " + std::to_string(stand));
      const ListFolder folder(kLists);
      const fs::path place = folder.lists() / file;
      fs::remove(place);
      stands[stand == 5 ? 1 : stand](place);
      const auto type = fs::symlink_status(place).type();
      std::thread writer([&] { stand == 5 && std::ofstream(place) << "words"; });
      const RunResult r = run(folder, folder.base_text());
      const int reader = stand == 5 ? ::open(place.c_str(), O_RDONLY | O_NONBLOCK) : -1;
      writer.join();
      if (reader >= 0) ::close(reader);
      EXPECT_EQ(fs::symlink_status(place).type(), type) << "left as it is";
      const std::string path = folder.list_path(file);
      const bool a_folder = stand == 0 || stand == 4, backups = file == "BU_Previous_Files";
      const std::string expected =
          backups ? (a_folder ? kWritten + kPrompt
                              : kPrompt + "Failed to create directory: File exists (os error 17)\n")
          : file != "update_words.txt" || stand == 1 || stand == 2 || stand == 5
              ? path + " is missing (or not a regular file)\n" + kPrompt
          : stand == 3 ? "Update words file, " + path + kNotFound + kPrompt
                       : "corvandel: *details: fatal error at *: reading " + path + ": *";
      EXPECT_TRUE(like(r.out + r.err, kBanner + expected)) << r.out + r.err;
      const bool done = file == "master.txt" || (backups && a_folder);
      EXPECT_TRUE(file == "reduced.txt" ||
                  folder.read().reduced ==
                      (done ? model_list({kLists.reduced, kLists.update}) : kLists.reduced));
    }
  }
}

// What only a real process shows: the prompt takes one line of standard input and leaves the rest
// to whoever reads next; with standard input closed, the lists' files may take its descriptor, 0;
// a variable that is not UTF-8 counts as unset.
TEST(ProgramProcess, StandardInputAndTheEnvironment) {
  const std::string merged = model_list({kLists.master, kLists.reduced, kLists.update});
  const std::tuple<std::string, std::string, std::string> scripts[] = {
      {R"(printf 'x\nleft\n' | { "$0"; cat; })", kWritten + kPrompt + "left\n", merged},
      {R"("$0" <&-)", kWritten + kPrompt, merged},
      {R"(QUILLMERE_DIR=$(printf '/tmp/\355\240\200/') "$0")",
       "Update words file, Environment variable not foundDicLists/update_words.txt" + kNotFound +
           kPrompt,
       kLists.master}};
  for (const auto& [script, out, master] : scripts) {
    const ListFolder folder(kLists);
    EXPECT_EQ(run_process(program_in(folder, {"/bin/sh", "-c", script})).out, kBanner + out);
    EXPECT_EQ(folder.read().master, master);
  }
}

// A big master list runs out in the master pass, after the reduced pass has completed.
TEST(ProgramProcess, MemoryRunsOut) {
  if (CORVANDEL_SANITIZED) GTEST_SKIP() << "the sanitizers reserve more than the limit allows";
  std::string big;
  for (int i = 0; i < 3000000; ++i) big.append("w").append(std::to_string(i)).append("\n");
  const ListFolder folder(Lists{big, "CAT", "ant"});
  const RunResult r = run_process(program_in(folder, {"/usr/bin/prlimit", "--as=67108864"}));
  EXPECT_EQ(r.status, 128 + SIGABRT);
  EXPECT_TRUE(r.err.starts_with("memory allocation of ") && r.err.ends_with(" bytes failed\n"));
  EXPECT_EQ(r.out, kBanner) << "no prompt after exhausted memory";
  EXPECT_TRUE(folder.backups("reduced").size() == 1 && folder.backups("master").empty());
}
#endif

}  // namespace
}  // namespace corvandel::testing
