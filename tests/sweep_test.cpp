// Every system call of a whole run where the file system can fail or the machine stop it, failed
// (by strace) or killed in turn by one driver, also without hard links. Each run must end as the
// program's rules say, keep the promise against the model, and let the next run complete.
#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sstream>
#include <thread>
#include <tuple>

#include "test_support.h"

namespace corvandel::testing {
namespace {
using namespace std::chrono_literals;

// Lists that fill several write blocks when `large`, so that a kill can land inside one.
Lists sweep_lists(bool large) {
  Lists lists = kLists;
  for (int i = 0; large && i < (CORVANDEL_SANITIZED ? 10000 : 50000); ++i) {
    lists.master +=
        "\nm" + std::to_string(i * 7 % 50000) + (i % 5 ? "" : "\xC3\xA9") + std::string(24, 'w');
    lists.update += (i % 3 ? " u" : "\r\nU") + std::to_string(i);
  }
  return lists;
}

// One system call of a successful run, the how-manyth of its name; the platform operation it
// belongs to, the how-manyth of those, its path; lists replaced and whether one was read before.
struct Step {
  std::string name;
  int occurrence = 0;
  std::string operation = "", path = "";
  int nth = 0, replaced_before = 0;
  bool read_before = false;
};

// How a run that failed `step` with `code` ends: status, output, error (or the cause in a fatal
// report) and the number of lists replaced.
struct Outcome {
  int status;
  std::string out, err;
  int replaced;
};

Outcome expected(const Step& step, int code, const ListFolder& folder) {
  const std::string path = folder.base_text() + step.path, op = step.operation;
  const std::string text =
      std::string(std::strerror(code)) + " (os error " + std::to_string(code) + ")";
  const Outcome success{0, kBanner + kWritten + kPrompt, "", 2};
  const auto fatal = [&](const std::string& cause, const std::string& out = kBanner) {
    return Outcome{101, out, cause + ": " + text, step.replaced_before};
  };
  const auto reported = [&](const std::string& out, const std::string& err = "") {
    return Outcome{1, kBanner + out + kPrompt, err, step.replaced_before};
  };
  // Without hard links, the live name taken while the old list is moved aside: left as it is.
  if (code == EEXIST && step.name == "renameat2" && step.path.ends_with(".new-1")) {
    const std::string live = path.substr(0, path.size() - 6);
    return {101, kBanner, "replacing " + live + ": " + changed_meanwhile_error().text,
            step.replaced_before};
  }
  // Tried again, passed over, the next temporary name or stamp, or moved aside by a rename.
  if (code == EINTR || op == "ignored" || (step.name == "link" && code == EPERM) ||
      (code == EEXIST && (op == "create_new_file" || op == "replace_keeping_backup")) ||
      (op == "file_type" && step.path == "DicLists/BU_Previous_Files")) {
    return success;
  }
  if (op == "write_stdout") {  // a closed console swallows what is written to it
    std::string printed[] = {kBanner, kWritten, kPrompt};
    if (code == EBADF)
      return printed[step.nth - 1] = "", Outcome{0, printed[0] + printed[1] + printed[2], "", 2};
    return fatal("failed printing to stdout",
                 step.nth > 1 ? printed[0] + (step.nth > 2 ? printed[1] : "") : "");
  }
  if (op == "make_directory") return reported("", "Failed to create directory: " + text + "\n");
  if (op == "file_type" && !step.read_before) {
    return reported("Update words file, " + path + kNotFound);
  }
  if (op == "file_type") return reported(path + " is missing (or not a regular file)\n");
  if (op == "replace_keeping_backup") return reported("Error renaming file: " + text + "\n");
  return fatal((op == "open_file"         ? "reading "
                : op == "create_new_file" ? "creating "
                                          : "writing ") +
               path);
}

// A realistic error for each system call, and those the program treats on their own: EINTR
// (retried), EPIPE (with SIGPIPE), a closed output, a name already taken, no hard links.
std::vector<int> errors_of(const Step& step) {
  const std::string& name = step.name;
  if (name == "write") return {EIO, EINTR, EPIPE, EBADF};
  if (name == "read") return {EIO, EINTR};
  if (name == "link") return {EXDEV, EPERM};
  if (name == "openat") return {EACCES, EEXIST};
  if (name == "renameat2") return {EXDEV, EEXIST};
  return {name == "rename" ? EXDEV : EIO};
}

// Fails each step of `steps` named in `names` with each of its errors (`code` 0: kills the run
// there), by `run` in a folder that holds `before`; checks the run, and that a next run completes.
using Run = std::function<RunResult(const ListFolder&, const Step&, int code)>;

void sweep(const std::vector<Step>& steps, const std::set<std::string>& names, bool kill,
           const Lists& before, const Run& run) {
  int swept = 0;
  for (const Step& step : steps) {
    if (!names.count(step.name)) continue;
    for (const int code : kill ? std::vector<int>{0} : errors_of(step)) {
      SCOPED_TRACE(step.name + " #" + std::to_string(step.occurrence) + " (" + step.operation +
                   " " + step.path + ") " + (kill ? "killed" : std::strerror(code)));
      ListFolder folder;
      folder.write(before);
      const RunResult r = run(folder, step, code);
      const auto [reduced, master] = folder.check_promise(before, kill);
      const Outcome outcome = expected(step, code, folder);
      if (kill) {
        EXPECT_EQ(r.status, 128 + SIGKILL);
      } else {
        EXPECT_EQ(r.status, outcome.status);
        EXPECT_EQ(r.out, outcome.out);
        EXPECT_TRUE(r.status == 101
                        ? r.err.find(": " + outcome.err + " [kind: ") != std::string::npos
                        : r.err == outcome.err)
            << r.err;
        EXPECT_EQ(reduced + master, outcome.replaced);
      }
      for (const std::string& stray : folder.strays()) {
        EXPECT_TRUE(kill && stray.ends_with(".txt.new-1")) << stray << " left behind";
      }
      // The next run (every backup name free a day ahead) completes the update; or, where a kill
      // between the renames without hard links left a list in its backup alone, reports it missing.
      TestPlatform next;
      next.clock_offset = 86400;
      next.environment["QUILLMERE_DIR"] = folder.base_text();
      const bool absent =
          !fs::exists(folder.lists() / "reduced.txt") || !fs::exists(folder.lists() / "master.txt");
      EXPECT_EQ(run_in_process(next, folder.root()).status, absent ? 1 : 0);
      const std::string all = model_list({before.master, before.reduced, before.update});
      EXPECT_TRUE(absent || folder.read().master == all);
      ++swept;
    }
  }
  EXPECT_GE(swept, 4);
}

// What no system call shows: the clock failing; the removal of an unfinished list failing after a
// failed rename (it stays, nothing else changes); the report of a folder not made failing too.
TEST(Sweep, TheClockTheCleanUpOrAReportFailed) {
  const std::tuple<const char*, const char*, int, const char*> cases[] = {
      {"local_time_stamp", "", 101, ": reading the local time: Input/output error"},
      {"replace_keeping_backup", "remove_file", 1, "Error renaming file: Input/output error"},
      {"make_directory", "write_stderr", 101, ": failed printing to stderr: Permission denied"}};
  for (const auto& [first, then, status, text] : cases) {
    ListFolder folder;
    folder.write(sweep_lists(false));
    TestPlatform platform;
    platform.environment["QUILLMERE_DIR"] = folder.base_text();
    platform.fail(first, 1, EIO);
    if (*then) platform.fail(then, 1, EACCES);
    const RunResult r = run_in_process(platform, folder.root());
    EXPECT_EQ(r.status, status);
    EXPECT_NE((r.out + r.err).find(text), std::string::npos) << r.out + r.err;
    EXPECT_EQ(folder.strays().size(), status == 1 ? 1u : 0u) << "the list left behind, or none";
    folder.check_promise(sweep_lists(false));
  }
}

// --- The system calls, under strace ---

constexpr const char* kTraced =
    "trace=newfstatat,mkdir,openat,read,write,fsync,close,link,rename,renameat2";

// The built program under strace, which writes the traced calls (file descriptors with their
// paths) to `log` and injects `injections` ("link:error=EPERM:when=2") into them.
ProcessOptions traced(const ListFolder& folder, const std::vector<std::string>& injections,
                      const std::string& log = "/dev/null") {
  std::vector<std::string> strace = {"/usr/bin/strace", "-qq", "-y", "-o", log, "-e", kTraced};
  for (const std::string& injection : injections)
    strace.insert(strace.end(), {"-e", "inject=" + injection});
  return program_in(folder, strace);
}

// The system calls of a successful run with `injections` in place, each with the platform
// operation it belongs to; calls outside the list folder and the standard streams are left out.
std::vector<Step> calls_of_a_run(bool large, const std::vector<std::string>& injections) {
  ListFolder folder;
  folder.write(sweep_lists(large));
  const std::string log = (folder.root() / "trace").string();
  EXPECT_EQ(run_process(traced(folder, injections, log)).status, 0);
  std::map<std::string, int> counts, operations;
  std::vector<Step> steps;
  int replaced = 0;
  bool swapping = false;  // from the new list's creation to its rename
  std::istringstream lines(read_file(log));
  for (std::string line; std::getline(lines, line);) {
    // name(args) = result, the result padded to a column; signals and the exit are no calls.
    const std::size_t open = line.find('('), close = line.find_last_not_of(' ', line.rfind(" = "));
    if (!std::islower(static_cast<unsigned char>(line[0])) || line[close] != ')') continue;
    const std::string name = line.substr(0, open), args = line.substr(open + 1, close - open - 1);
    Step step{.name = name, .occurrence = ++counts[name]};
    const char* const marks = std::isdigit(args[0]) ? "<>" : "\"\"";  // a descriptor, or a name
    const std::size_t from = args.find(marks[0]) + 1;
    step.path =
        args.substr(from, args.find(marks[1], from) - from).erase(0, folder.base_text().size());
    const std::string fd = args.substr(0, args.find_first_of("<,)"));
    if (!step.path.starts_with("DicLists") && fd != "0" && fd != "1") continue;
    const auto has = [&](const char* flag) { return args.find(flag) != std::string::npos; };
    // The backup folder is flushed between keeping the old list and replacing it, the list folder
    // after (a failure then goes unreported); the live list is looked at again just before it is
    // replaced; a run that cannot take the lock goes on without it.
    swapping |= name == "openat" && has("O_CREAT") && has(".new-");
    step.operation = name == "mkdir"    ? "make_directory"
                     : name == "openat" ? (has("O_DIRECTORY") || has("corvandel.lock") ? "ignored"
                                           : has("O_CREAT") ? "create_new_file"
                                                            : "open_file")
                     : name == "newfstatat" && fd == "AT_FDCWD"
                         ? (swapping ? "replace_keeping_backup" : "file_type")
                     : name == "newfstatat" ? "open_file"
                     : name == "read"       ? (fd == "0" ? "ignored" : "open_file")
                     : name == "write"      ? (fd == "1" ? "write_stdout" : "write")
                     : name == "link" || name.starts_with("rename") ? "replace_keeping_backup"
                     : has(".new-")                                 ? "write"
                     : name == "fsync" && step.path == "DicLists/BU_Previous_Files"
                         ? "replace_keeping_backup"
                         : "ignored";
    step.nth = ++operations[step.operation];
    step.replaced_before = replaced;
    if (name.starts_with("rename") && has(".new-")) ++replaced, swapping = false;
    step.read_before = operations["open_file"] - (step.operation == "open_file") > 0;
    steps.push_back(step);
  }
  return steps;
}

// Fails or kills each call of `names` of a run with `base` injections in place.
void sweep_calls(const std::vector<std::string>& base, const std::set<std::string>& names,
                 bool kill) {
  sweep(calls_of_a_run(kill, base), names, kill, sweep_lists(kill),
        [&](const ListFolder& folder, const Step& step, int code) {
          std::vector<std::string> injections = base;
          injections.push_back(
              step.name +
              (kill ? ":signal=SIGKILL" : ":error=" + std::string(strerrorname_np(code))) +
              (code == EPIPE ? ":signal=SIGPIPE" : "") +
              ":when=" + std::to_string(step.occurrence));
          return run_process(traced(folder, injections));
        });
}

class SystemCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists("/usr/bin/strace")) GTEST_SKIP() << "strace is not installed";
  }
};

TEST_F(SystemCalls, EachFailed) {
  sweep_calls(
      {}, {"newfstatat", "mkdir", "openat", "read", "write", "fsync", "close", "link", "rename"},
      false);
}

TEST_F(SystemCalls, EachThatChangesTheDiskKilled) {
  sweep_calls({}, {"write", "fsync", "link", "rename"}, true);
}

TEST_F(SystemCalls, WithoutHardLinksEachFailedOrKilled) {
  // Every link is refused, as on a file system without hard links: the list is set aside by a
  // rename that refuses an existing backup, and moved back when the new one cannot be put in place.
  sweep_calls({"link:error=EPERM"}, {"renameat2", "rename", "fsync"}, false);
  sweep_calls({"link:error=EPERM"}, {"renameat2", "rename"}, true);
}

TEST_F(SystemCalls, TheBackupNameIsOnDiskBeforeTheLiveNameChanges) {
  // A name is on disk once its folder is flushed: the new backup folder before anything is linked
  // into it, the new list before it is linked or renamed, the backup name before the new list
  // takes the live name, that before the pass ends.
  std::string steps;
  for (const Step& step : calls_of_a_run(false, {})) {
    if (step.name == "mkdir" || step.name == "link" || step.name == "rename" ||
        step.name == "fsync") {
      steps += step.name + " " + step.path + "\n";
    }
  }
  std::string order = "mkdir DicLists/BU_Previous_Files\nfsync DicLists\n";
  for (const std::string list : {"reduced", "master"}) {
    order += "fsync DicLists/" + list + ".txt.new-1\nlink DicLists/" + list +
             ".txt\nfsync DicLists/BU_Previous_Files\nrename DicLists/" + list +
             ".txt.new-1\nfsync DicLists\n";
  }
  EXPECT_TRUE(like(steps, order)) << steps;
}

// Company on a slow disk (flushes of half a second): a second run, started with a new update file,
// waits for the first (and says so), then adds its words; an editor's save between the backup
// link and the rename is kept, and the run that would have replaced it fails.
TEST_F(SystemCalls, CompanyOnASlowDisk) {
  for (const bool editor : {false, true}) {
    SCOPED_TRACE(editor ? "an editor" : "a second run");
    ListFolder folder;
    folder.write(kLists);
    fs::create_directory(folder.backup_dir());
    RunResult first, second;
    std::thread run([&] { first = run_process(traced(folder, {"fsync:delay_enter=500000"})); });
    // Until the first run has read the update file (its new list is there), or has linked the
    // old master list as its backup.
    for (int i = 0; i < 20000 && (editor ? folder.backups("master").empty()
                                         : !fs::exists(folder.lists() / "reduced.txt.new-1"));
         ++i) {
      std::this_thread::sleep_for(1ms);
    }
    if (editor) {
      write_file(folder.lists() / "saved", "SAVED");
      fs::rename(folder.lists() / "saved", folder.lists() / "master.txt");
    } else {
      write_file(folder.lists() / "update_words.txt", "second words");
      second = run_process(program_in(folder));
    }
    run.join();
    const std::string reduced =
        model_list({kLists.reduced, kLists.update, editor ? "" : "second words"});
    EXPECT_EQ(folder.read().reduced, reduced);
    EXPECT_EQ(first.status, editor ? 101 : 0) << first.err;
    EXPECT_EQ(folder.read().master, editor ? "SAVED" : model_list({kLists.master, reduced}));
    EXPECT_EQ(folder.backups("master").size(), editor ? 0u : 2u);
    EXPECT_TRUE(editor || (second.status == 0 &&
                           second.out.find("waiting for it to end") != std::string::npos))
        << second.out;
    EXPECT_TRUE(folder.strays().empty());
  }
}

}  // namespace
}  // namespace corvandel::testing
