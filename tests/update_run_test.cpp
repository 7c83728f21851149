// Whole update runs: every message and exit status, the base directory, odd things in place of
// the files, backups. The table runs inside the test process on Linux and, built with
// CORVANDEL_WINDOWS_EXE, against corvandel.exe under Wine, where the Windows text is a column of
// its own. What only a real process shows (standard streams, exhausted memory, a FIFO that must
// not hang the run, the console) runs as one, once.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <csignal>
#include <ctime>
#include <thread>

#include "main.h"
#include "test_support.h"

namespace corvandel::testing {
namespace {

#ifdef CORVANDEL_WINDOWS_EXE
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

const Lists kLists{"DOG\nEMU", "CAT\r\nant", "bee Ant\nfox"};
const std::string kGreek = "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC";
const std::string kCjk = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE";
// A time zone with daylight saving time half of the year, written out so that no time zone
// database is needed.
constexpr const char* kZone = "AEST-10AEDT,M10.1.0,M4.1.0/3";
const std::string kNotFound =
    ", was not found.\nCreate a non-empty file, with this name, containing new text strings to "
    "add to the dictionary lists.\n";

// `text` with {base} replaced by the base directory as QUILLMERE_DIR names it, {D} by the list
// directory, {root} by the scratch folder, {/} by the separator, {ws} by every whitespace
// character and {E} by `error`.
std::string expand(std::string text, const ListFolder& folder, const std::string& error = "") {
  const std::pair<std::string, std::string> keys[] = {
      {"{base}", folder.base_text()}, {"{D}", folder.list_path("")},
      {"{/}", folder.separator()},    {"{root}", folder.program_path(folder.root())},
      {"{ws}", all_whitespace()},     {"{E}", error}};
  for (const auto& [key, value] : keys) {
    for (std::size_t at; (at = text.find(key)) != std::string::npos;)
      text.replace(at, key.size(), value);
  }
  return text;
}

// Sets TZ to `zone` in this process while it exists.
struct TimeZone {
  explicit TimeZone(const char* zone) : saved(std::getenv("TZ") ? std::getenv("TZ") : "") {
    ::setenv("TZ", zone, 1), ::tzset();
  }
  ~TimeZone() { saved.empty() ? ::unsetenv("TZ") : ::setenv("TZ", saved.c_str(), 1), ::tzset(); }
  std::string saved;
};

std::string local_stamp(std::time_t when, const char* zone = kZone) {
  const TimeZone in(zone);
  std::tm local{};
  char text[32];
  ::localtime_r(&when, &local);
  return std::string(text, std::strftime(text, sizeof text, "%y%m%d_%H%M%S", &local));
}

// Runs the update in `folder` with QUILLMERE_DIR set to `base` (unset when nothing), in `zone`.
// Runs the program in `folder` with `arguments` (which, but for a few, it does not read) and
// QUILLMERE_DIR set to `base` (unset when nothing), in `zone`.
RunResult run(const ListFolder& folder, const std::optional<std::string>& base,
              const char* zone = kZone, std::vector<std::string> arguments = {"ignored", "-h"}) {
#ifdef CORVANDEL_WINDOWS_EXE
  // Wine names Linux files in the locale's character set.
  ProcessOptions options;
  options.command = {CORVANDEL_WINE_LOADER, CORVANDEL_WINDOWS_EXE};
  options.command.insert(options.command.end(), arguments.begin(), arguments.end());
  options.working_dir = folder.root();
  options.environment = {{"LANG", "C.UTF-8"}, {"TZ", zone}};
  if (!std::getenv("WINEPREFIX")) options.environment["WINEPREFIX"] = CORVANDEL_WINE_PREFIX;
  if (base) options.environment["QUILLMERE_DIR"] = *base;
  return run_process(options);
#else
  const TimeZone in(zone);
  TestPlatform platform;
  if (base) platform.environment["QUILLMERE_DIR"] = *base;
  arguments.insert(arguments.begin(), "corvandel");
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  return run_in_process(platform, folder.root(), [&] { run_program(argv); });
#endif
}

void put(const ListFolder& folder, const std::string& name, std::optional<std::string> content) {
  fs::remove_all(folder.lists() / name);
  if (content) write_file(folder.lists() / name, *content);
  if (!content) fs::create_directory(folder.lists() / name);
}

// Whether `text` is `pattern`, where each * stands for any run of characters.
bool like(std::string_view text, std::string_view pattern) {
  const std::size_t star = pattern.find('*');
  if (star == std::string_view::npos || text.substr(0, star) != pattern.substr(0, star)) {
    return text == pattern;
  }
  for (std::size_t at = star; at <= text.size(); ++at) {
    if (like(text.substr(at), pattern.substr(star + 1))) return true;
  }
  return false;
}

struct WholeRun {
  std::string what;
  std::function<void(const ListFolder&)> setup;
  std::optional<std::string> base;  // QUILLMERE_DIR, expanded; nothing: unset
  int status, replaced;             // replaced: 0 neither list, 1 the reduced list, 2 both
  std::string out;                  // between the banner and the prompt
  std::string err = "";             // for status 101, the fatal report after its source position
  std::string error = "", windows_error = "";  // the system's error text, {E} in out and err
};

const std::string kWritten = "Update successful.\n";
const std::string kFatal = ": stream did not contain valid UTF-8 [kind: invalid data]\n";

const WholeRun kWholeRuns[] = {
    {"success", nullptr, "{base}", 0, 2, kWritten},
    {"update file missing", [](auto& f) { fs::remove(f.lists() / "update_words.txt"); }, "{base}",
     1, 0, "Update words file, {D}update_words.txt" + kNotFound},
    {"update file empty", [](auto& f) { put(f, "update_words.txt", ""); }, "{base}", 1, 0,
     "Update words file, {D}update_words.txt, is empty.\nEnsure a file, with this name, contains "
     "new text strings to add to the dictionary lists.\n"},
    {"update file of whitespace", [](auto& f) { put(f, "update_words.txt", all_whitespace()); },
     "{base}", 1, 0, "No text found in {D}update_words.txt file. Exiting...\n"},
    {"update file not UTF-8", [](auto& f) { put(f, "update_words.txt", "caf\xC3"); }, "{base}", 101,
     0, "", "reading {D}update_words.txt" + kFatal},
    {"reduced list not UTF-8", [](auto& f) { put(f, "reduced.txt", "\xED\xA0\x80"); }, "{base}",
     101, 0, "", "reading {D}reduced.txt" + kFatal},
    {"master list not UTF-8", [](auto& f) { put(f, "master.txt", "a\n\xFF"); }, "{base}", 101, 1,
     "", "reading {D}master.txt" + kFatal},
    {"master list missing", [](auto& f) { fs::remove(f.lists() / "master.txt"); }, "{base}", 1, 1,
     "{D}master.txt is missing (or not a regular file)\n"},
    {"reduced list a folder", [](auto& f) { put(f, "reduced.txt", {}); }, "{base}", 1, 0,
     "{D}reduced.txt is missing (or not a regular file)\n"},
    {"update file a folder", [](auto& f) { put(f, "update_words.txt", {}); }, "{base}", 101, 0, "",
     "reading {D}update_words.txt: {E} [kind: is a directory*", "Is a directory (os error 21)",
     "* (os error 336)"},
    {"a file as the backup folder", [](auto& f) { put(f, "BU_Previous_Files", "x"); }, "{base}", 1,
     0, "", "Failed to create directory: {E}\n", "File exists (os error 17)", "* (os error 183)"},
    {"a file above the backup folder", [](auto& f) { write_file(f.root() / "outer", ""); },
     "{root}{/}outer{/}", 1, 0, "", "Failed to create directory: {E}\n",
     "Not a directory (os error 20)", "* (os error 183)"},
    {"a leftover temporary file", [](auto& f) { put(f, "reduced.txt.new-1", "half"); }, "{base}", 0,
     2, kWritten},
    {"every backup name of the coming minute taken",
     [](auto& f) {
       fs::create_directories(f.backup_dir());
       for (std::time_t t = std::time(nullptr) - 2, end = t + 62; t < end; ++t) {
         write_file(f.backup_dir() / ("reduced_" + local_stamp(t) + ".txt"), "EARLIER");
       }
     },
     "{base}", 1, 0, "Error renaming file: {E}\n", "", "File exists (os error 17)",
     "* (os error 183)"},
    {"QUILLMERE_DIR unset", nullptr, std::nullopt, 1, 0,
     "Update words file, Environment variable not foundDicLists{/}update_words.txt" + kNotFound},
    {"QUILLMERE_DIR with whitespace around it and no separator at its end", nullptr,
     "{ws}{root}{/}in ner{ws}", 1, 0,
     "Update words file, {root}{/}in nerDicLists{/}update_words.txt" + kNotFound},
    {"QUILLMERE_DIR of whitespace: relative paths", nullptr, " \t\r\n", 0, 2, kWritten},
    {"QUILLMERE_DIR relative, with a non-ASCII name",
     [](auto& f) {  // the lists, moved there, stay in reach of the checks through a link
       fs::create_directories(f.root() / "rel" / kGreek);
       fs::rename(f.lists(), f.root() / "rel" / kGreek / "DicLists");
       fs::create_directory_symlink(f.root() / "rel" / kGreek / "DicLists", f.lists());
     },
     "rel{/}" + kGreek + "{/}", 0, 2, kWritten},
};

class UpdateRun : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef CORVANDEL_WINDOWS_EXE
    if (!fs::exists(CORVANDEL_WINDOWS_EXE)) GTEST_SKIP() << "corvandel.exe is not built";
#endif
  }
  ListFolder folder_{kWindows};
};

TEST_F(UpdateRun, EveryMessageAndStatus) {
  for (const WholeRun& c : kWholeRuns) {
    SCOPED_TRACE(c.what);
    ListFolder folder(kWindows);
    folder.write(kLists);
    if (c.setup) c.setup(folder);
    const Lists before = folder.read();
    const std::vector<fs::path> earlier = folder.backups("reduced");
    const RunResult r = run(folder, c.base ? std::optional(expand(*c.base, folder)) : std::nullopt);
    const std::string error = kWindows ? c.windows_error : c.error;
    EXPECT_EQ(r.status, c.status);
    EXPECT_TRUE(
        like(r.out, kBanner + expand(c.out, folder, error) + (c.status == 101 ? "" : kPrompt)))
        << r.out;
    const std::string err = expand(c.err, folder, error);
    EXPECT_TRUE(
        like(r.err, c.status == 101 ? "corvandel: fatal error at *.cpp:*: " + err + "*" : err))
        << r.err;
    if (!earlier.empty()) {  // the backups of earlier runs stay as they are, and so do the lists
      EXPECT_TRUE(folder.backups("reduced") == earlier && folder.read().reduced == before.reduced);
    } else if (fs::is_regular_file(folder.lists() / "reduced.txt")) {
      const auto [reduced, master] = folder.check_promise(before);
      EXPECT_EQ(reduced + master, c.replaced);
    }
    for (const std::string& stray : folder.strays()) EXPECT_EQ(stray, "reduced.txt.new-1");
  }
}

// The usage text and the version, for one argument that asks for them; nothing else is read.
TEST_F(UpdateRun, CommandLines) {
  const std::pair<std::vector<std::string>, std::string> lines[] = {
      {{"--help"}, "Usage: corvandel [--help | --version]\n"},
      {{"-h"}, "Usage: corvandel [--help | --version]\n"},
      {{"/?"}, kWindows ? "Usage: corvandel [--help | --version]\n" : ""},
      {{"--version"}, "corvandel " CORVANDEL_VERSION "\n"},
      {{"--help", "--version"}, ""},
      {{"--HELP"}, ""},
      {{}, ""}};
  for (const auto& [arguments, shown] : lines) {
    ListFolder folder(kWindows);
    folder.write(kLists);
    const RunResult r = run(folder, std::nullopt, kZone, arguments);
    EXPECT_EQ(r.status, shown.empty() ? 1 : 0) << arguments.size();
    if (shown.empty()) continue;  // the update run: no lists here, by an unset QUILLMERE_DIR
    EXPECT_EQ(r.out.substr(0, shown.size()), shown);
    EXPECT_EQ(r.out.ends_with("corvandel(1) and in the README.\n"), arguments[0] != "--version");
    EXPECT_TRUE(std::distance(fs::directory_iterator(folder.root()), {}) == 1 &&
                !fs::exists(folder.backup_dir()))
        << "nothing is made";
  }
}

TEST_F(UpdateRun, DeepNonAsciiFolderWithBackupsStampedInLocalTime) {
  // Folder names in two scripts, nested until the list paths are past 300 characters, below a
  // folder named after both lists.
  fs::path base = folder_.root() / "reduced master";
  for (int level = 0; folder_.program_path(base).size() < 900; ++level) {
    base /= (level % 2 ? kCjk : kGreek) + std::to_string(level);
  }
  folder_.use_base(base);
  for (const char* zone : {"EST5EDT,M3.2.0,M11.1.0", kZone}) {
    fs::remove_all(folder_.backup_dir());
    folder_.write(kLists);
    const std::time_t before = std::time(nullptr);
    EXPECT_EQ(run(folder_, folder_.base_text(), zone).status, 0);
    std::set<std::string> stamps;
    for (std::time_t t = before; t <= std::time(nullptr); ++t) stamps.insert(local_stamp(t, zone));
    folder_.check_promise(kLists);
    for (const std::string kind : {"reduced", "master"}) {
      EXPECT_TRUE(stamps.count(
          folder_.backups(kind).at(0).filename().string().substr(kind.size() + 1, 13)));
    }
  }
  // A second run, within the second as often as not, keeps every backup.
  write_file(folder_.lists() / "update_words.txt", "gnu");
  EXPECT_EQ(run(folder_, folder_.base_text()).status, 0);
  EXPECT_EQ(read_file(folder_.backups("master").at(1)),
            model_list({kLists.master, kLists.reduced, kLists.update}));
}

#ifndef CORVANDEL_WINDOWS_EXE
TEST_F(UpdateRun, NotARegularFileInPlaceOfEachFile) {
  using Place = std::function<void(const fs::path&)>;
  const Place stands[] = {
      [](const fs::path& p) { fs::create_directory(p); },
      [](const fs::path& p) { ::mkfifo(p.c_str(), 0644); },
      [](const fs::path& p) { ::mknod(p.c_str(), S_IFCHR | 0644, ::makedev(1, 5)); },
      [](const fs::path& p) { fs::create_symlink("/dev/zero", p); },
      [](const fs::path& p) { fs::create_symlink(p.string() + ".absent", p); },
      [](const fs::path& p) { fs::create_directory_symlink(p.parent_path().parent_path(), p); }};
  for (std::size_t stand = 0; stand < std::size(stands); ++stand) {
    for (const std::string file :
         {"update_words.txt", "reduced.txt", "master.txt", "BU_Previous_Files"}) {
      SCOPED_TRACE(file + " in place " + std::to_string(stand));
      ListFolder folder;
      folder.write(kLists);
      fs::remove(folder.lists() / file);
      stands[stand](folder.lists() / file);
      const auto type = fs::symlink_status(folder.lists() / file).type();
      const RunResult r = run(folder, folder.base_text());
      EXPECT_EQ(fs::symlink_status(folder.lists() / file).type(), type) << "left as it is";
      const std::string path = folder.list_path(file);
      if (file == "BU_Previous_Files") {  // a folder, or a link to one, serves
        const bool a_folder = stand == 0 || stand == 5;
        EXPECT_EQ(r.err, a_folder ? "" : "Failed to create directory: File exists (os error 17)\n");
      } else if (file == "update_words.txt" && stand == 4) {
        EXPECT_EQ(r.out, kBanner + "Update words file, " + path + kNotFound + kPrompt);
      } else if (file == "update_words.txt") {  // there, but no list: fatal at the read, no hang
        EXPECT_TRUE(r.status == 101 && r.err.find(": reading " + path + ": ") != std::string::npos);
      } else {
        EXPECT_EQ(r.out, kBanner + path + " is missing (or not a regular file)\n" + kPrompt);
      }
      const bool done = file == "master.txt" || (file == "BU_Previous_Files" && r.status == 0);
      if (file != "reduced.txt") {
        EXPECT_EQ(folder.read().reduced,
                  done ? model_list({kLists.reduced, kLists.update}) : kLists.reduced);
      }
    }
  }
}

TEST_F(UpdateRun, LinksToListsAreFollowedAndKeptAsBackups) {
  for (const std::string file : {"update_words.txt", "reduced.txt", "master.txt"}) {
    ListFolder folder;
    folder.write(kLists);
    fs::rename(folder.lists() / file, folder.lists() / ("real_" + file));
    fs::create_symlink("real_" + file, folder.lists() / file);
    EXPECT_EQ(run(folder, folder.base_text()).status, 0) << file;
    EXPECT_EQ(folder.read().master, model_list({kLists.master, kLists.reduced, kLists.update}));
    if (file == "update_words.txt") continue;
    // The link itself becomes the backup; the file it leads to keeps its words.
    EXPECT_TRUE(fs::is_symlink(folder.backups(file.substr(0, file.size() - 4)).at(0))) << file;
    EXPECT_EQ(read_file(folder.lists() / ("real_" + file)),
              file == "master.txt" ? kLists.master : kLists.reduced);
  }
}

TEST(ProgramProcess, StandardStreamsFifoAndTheVariable) {
  ListFolder folder;
  folder.write(kLists);
  // A FIFO in place of the update file must not make the run wait for a writer.
  fs::remove(folder.lists() / "update_words.txt");
  ::mkfifo((folder.lists() / "update_words.txt").c_str(), 0644);
  EXPECT_EQ(run_process(program_in(folder)).status, 101);
  fs::remove(folder.lists() / "update_words.txt");
  folder.write(kLists);
  // A closed standard output swallows the messages; end of input counts as Enter.
  ProcessOptions closed = program_in(folder);
  closed.stdout_to = ProcessOptions::Stdout::closed;
  closed.standard_input = "";
  EXPECT_EQ(run_process(closed).status, 0);
  folder.check_promise(kLists);
  // Output into a pipe that nobody reads is a fatal failure, not a silent death by SIGPIPE.
  ProcessOptions broken = program_in(folder);
  broken.stdout_to = ProcessOptions::Stdout::unread_pipe;
  const RunResult b = run_process(broken);
  EXPECT_EQ(b.status, 101);
  EXPECT_TRUE(
      b.err.ends_with(": failed printing to stdout: Broken pipe (os error 32) [kind: "
                      "broken pipe, os error code: 32]\n"))
      << b.err;
  // A value that is not UTF-8 counts as unset; one longer than any path cannot be made.
  const std::string values[][2] = {
      {"/tmp/\xED\xA0\x80/",
       "Update words file, Environment variable not foundDicLists/update_words.txt" + kNotFound},
      {folder.base_text() + std::string(5000, 'n') + "/", ""}};
  for (const auto& [value, out] : values) {
    ProcessOptions options = program_in(folder);
    options.environment["QUILLMERE_DIR"] = value;
    const RunResult r = run_process(options);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kBanner + out + kPrompt);
    EXPECT_EQ(r.err,
              out.empty() ? "Failed to create directory: File name too long (os error 36)\n" : "");
  }
}

TEST(ProgramProcess, MemoryRunsOut) {
  if (CORVANDEL_SANITIZED) GTEST_SKIP() << "the sanitizers reserve more than the limit allows";
  std::string big;
  for (int i = 0; i < 3000000; ++i) big.append("w").append(std::to_string(i)).append("\n");
  for (const bool big_master : {false, true}) {
    ListFolder folder;
    folder.write({big_master ? big : "DOG", big_master ? "CAT" : big, "ant"});
    ProcessOptions options = program_in(folder);
    options.address_space_limit = 64l << 20;
    const RunResult r = run_process(options);
    EXPECT_EQ(r.status, 128 + SIGABRT);
    EXPECT_TRUE(r.err.starts_with("memory allocation of ") && r.err.ends_with(" bytes failed\n"));
    EXPECT_EQ(r.out, kBanner) << "no prompt after exhausted memory";
    // A big master list runs out in the master pass, after the reduced pass completed.
    EXPECT_EQ(folder.backups("reduced").size(), big_master ? 1u : 0u);
    EXPECT_TRUE(folder.backups("master").empty());
  }
}
#else
// A terminal under tmux gives Wine a real console, where non-ASCII paths show as themselves and
// the read of the closing prompt ends on a typed line, not before.
TEST_F(UpdateRun, AtAConsole) {
  if (std::system("command -v tmux >/dev/null") != 0) GTEST_SKIP() << "tmux is missing";
  folder_.use_base(folder_.root() / kGreek / kCjk);
  folder_.write({"DOG", "CAT", ""});
  const fs::path status = folder_.root() / "status", script = folder_.root() / "run.sh";
  const std::string tmux = "tmux -u -f /dev/null -S '" + (folder_.root() / "tmux").string() + "' ";
  const auto screen = [&] {
    std::system((tmux + "capture-pane -J -p > '" + folder_.root().string() + "/pane'").c_str());
    return read_file(folder_.root() / "pane");
  };
  const auto wait_for = [](const std::function<bool()>& done, int tenths) {
    while (!done() && tenths-- > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return done();
  };
  const char* prefix = std::getenv("WINEPREFIX");
  write_file(script, "export LANG=C.UTF-8 WINEDEBUG=-all WINEPREFIX='" +
                         std::string(prefix ? prefix : CORVANDEL_WINE_PREFIX) +
                         "' QUILLMERE_DIR='" + folder_.base_text() +
                         "'\n'" CORVANDEL_WINE_LOADER "' '" CORVANDEL_WINDOWS_EXE "'\necho $? > '" +
                         status.string() + "'\nsleep 60\n");
  ASSERT_EQ(
      std::system((tmux + "new-session -d -x 250 -y 50 'sh " + script.string() + "'").c_str()), 0);
  EXPECT_TRUE(
      wait_for([&] { return screen().find("Press Enter to exit...") != std::string::npos; }, 1200));
  EXPECT_NE(
      screen().find("Update words file, " + folder_.list_path("update_words.txt") + ", is empty."),
      std::string::npos)
      << screen();
  std::system((tmux + "send-keys -l 'typed words'").c_str());
  EXPECT_FALSE(wait_for([&] { return fs::exists(status); }, 20)) << "ended before Enter";
  std::system((tmux + "send-keys Enter").c_str());
  EXPECT_TRUE(wait_for([&] { return read_file(status) == "1\n"; }, 600));
  std::system((tmux + "kill-server").c_str());
}
#endif

}  // namespace
}  // namespace corvandel::testing
