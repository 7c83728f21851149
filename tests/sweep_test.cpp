// Every system call of a whole run where the file system can fail or the machine stop it, failed
// (by strace) or killed in turn by one driver, also without hard links. Each run must end as the
// program's rules say, keep the promise against the model, and let the next run complete.
#include "sweep.h"

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

// A realistic error for each system call, and those the program treats on their own: EINTR
// (retried), EPIPE (with SIGPIPE), a closed output, a name already taken, no hard links.
std::vector<Fault> faults_of(const std::string& name) {
  const auto fault = [](int code, Treatment treatment = Treatment::fails) {
    return Fault{code, treatment,
                 std::string(std::strerror(code)) + " (os error " + std::to_string(code) + ")"};
  };
  if (name == "write") {
    return {fault(EIO), fault(EINTR, Treatment::retried), fault(EPIPE),
            fault(EBADF, Treatment::stream_closed)};
  }
  if (name == "read") return {fault(EIO), fault(EINTR, Treatment::retried)};
  if (name == "link") return {fault(EXDEV), fault(EPERM, Treatment::no_hard_links)};
  if (name == "openat") return {fault(EACCES), fault(EEXIST, Treatment::name_taken)};
  if (name == "renameat2") return {fault(EXDEV), fault(EEXIST, Treatment::name_taken)};
  return {fault(name == "rename" ? EXDEV : EIO)};
}

// What no system call shows: the clock failing; the removal of an unfinished list failing after a
// failed rename (it stays, nothing else changes); the report of a folder not made failing too.
TEST(Sweep, TheClockTheCleanUpOrAReportFailed) {
  const std::tuple<const char*, const char*, int, const char*> cases[] = {
      {"local_time_stamp", "", 101, ": reading the local time: Input/output error"},
      {"hard_link", "remove_file", 1, "Error renaming file: Input/output error"},
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

// The system calls of a successful run with `injections` in place, each with what it does for
// the run; calls outside the list folder and the standard streams are left out.
std::vector<Step> calls_of_a_run(bool large, const std::vector<std::string>& injections) {
  ListFolder folder;
  folder.write(sweep_lists(large));
  const std::string log = (folder.root() / "trace").string();
  EXPECT_EQ(run_process(traced(folder, injections, log)).status, 0);
  std::map<std::string, int> counts;
  std::vector<Step> steps;
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
    const bool new_list = has(".new-");
    // The backup folder is flushed between keeping the old list and replacing it, the list folder
    // after (a failure then goes unreported); the live list is looked at again just before it is
    // replaced; a run that cannot take the lock goes on without it.
    swapping |= name == "openat" && has("O_CREAT") && new_list;
    step.act = name == "mkdir"    ? "make_directory"
               : name == "openat" ? (has("O_DIRECTORY") || has("corvandel.lock") ? "ignored"
                                     : has("O_CREAT")                            ? "create"
                                                                                 : "open")
               : name == "newfstatat" && fd == "AT_FDCWD" ? (swapping ? "replace" : "look")
               : name == "newfstatat"         ? (step.path.ends_with(".txt") ? "open" : "ignored")
               : name == "read"               ? (fd == "0" ? "ignored" : "open")
               : name == "write" && fd == "1" ? "console"
               : name == "link"               ? "set_aside"
               : name.starts_with("rename")   ? (new_list ? "put_in_place" : "set_aside")
               : new_list                     ? "write"
               : name == "fsync" && step.path == "DicLists/BU_Previous_Files" ? "replace"
                                                                              : "ignored";
    if (step.act == "put_in_place") swapping = false;
    step.faults = faults_of(name);
    steps.push_back(step);
  }
  number_steps(steps);
  return steps;
}

// Fails or kills each call of `names` of a run with `base` injections in place.
void sweep_calls(const std::vector<std::string>& base, const std::set<std::string>& names,
                 bool kill) {
  sweep(calls_of_a_run(kill, base), names, kill, sweep_lists(kill), 128 + SIGKILL,
        [&](const ListFolder& folder, const Step& step, const Fault* fault) {
          std::vector<std::string> injections = base;
          injections.push_back(
              step.name +
              (fault ? ":error=" + std::string(strerrorname_np(fault->code)) : ":signal=SIGKILL") +
              (fault && fault->code == EPIPE ? ":signal=SIGPIPE" : "") +
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
