// Every step of a whole run at which the file system can fail it or the machine can stop it,
// failed or killed in turn by one driver: the operations of the platform (in-process), the real
// system calls (under strace, with an error or SIGKILL), and the same where the file system has
// no hard links. Each run must end as the program's rules say for that failure, keep the promise
// against the model of the lists, and leave nothing that keeps the next run from completing.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <regex>

#include "test_support.h"

namespace corvandel::testing {
namespace {

// Lists that fill several write blocks when `large`, so that a kill can land inside one.
Lists sweep_lists(bool large) {
  Lists lists{"DOG\nEMU", "CAT\r\nant", "bee Ant\nfox"};
  for (int i = 0; large && i < (CORVANDEL_SANITIZED ? 10000 : 50000); ++i) {
    lists.master +=
        "\nm" + std::to_string(i * 7 % 50000) + (i % 5 ? "" : "\xC3\xA9") + std::string(24, 'w');
    lists.update += (i % 3 ? " u" : "\r\nU") + std::to_string(i);
  }
  return lists;
}

// One step of a successful run: the operation or system call `name` and the how-manyth of its
// name; the platform operation it belongs to, the how-manyth of those and its path in the base
// directory; how many lists were replaced and whether a list was read before it.
struct Step {
  std::string name;
  int occurrence = 0;
  std::string operation, path;
  int nth = 0, replaced_before = 0;
  bool read_before = false, system_call = false;
};

// How a run that failed `step` with `code` ends by the program's rules: its status, standard
// output, standard error (or the cause in a fatal report) and the number of lists replaced.
struct Outcome {
  int status;
  std::string out, err;
  int replaced;
};

Outcome expected(const Step& step, int code, const ListFolder& folder) {
  const std::string path = folder.base_text() + step.path, op = step.operation;
  const std::string text =
      std::string(std::strerror(code)) + " (os error " + std::to_string(code) + ")";
  const Outcome success{0, kBanner + "Update successful.\n" + kPrompt, "", 2};
  const auto fatal = [&](const std::string& cause, const std::string& out = kBanner) {
    return Outcome{101, out, cause + ": " + text, step.replaced_before};
  };
  const auto reported = [&](const std::string& out, const std::string& err = "") {
    return Outcome{1, kBanner + out + kPrompt, err, step.replaced_before};
  };
  // Tried again, passed over, the next temporary name or stamp, or moved aside by a rename.
  if (code == EINTR || op == "ignored" || (step.name == "link" && code == EPERM) ||
      (code == EEXIST && (op == "create_new_file" || op == "replace_keeping_backup")) ||
      (op == "file_type" && step.path == "DicLists/BU_Previous_Files")) {
    return success;
  }
  if (op == "write_stdout") {
    const std::string printed[] = {"", kBanner, kBanner + "Update successful.\n"};
    return fatal("failed printing to stdout", printed[step.nth - 1]);
  }
  if (op == "make_directory") return reported("", "Failed to create directory: " + text + "\n");
  if (op == "file_type" && !step.read_before) {
    return reported("Update words file, " + path +
                    ", was not found.\nCreate a non-empty file, with this name, containing new "
                    "text strings to add to the dictionary lists.\n");
  }
  if (op == "file_type") return reported(path + " is missing (or not a regular file)\n");
  if (op == "replace_keeping_backup") return reported("Error renaming file: " + text + "\n");
  if (op == "local_time_stamp") return fatal("reading the local time");
  return fatal((op == "open_file"         ? "reading "
                : op == "create_new_file" ? "creating "
                                          : "writing ") +
               path);
}

// A realistic error for each operation and system call, and those that the program treats on
// their own: an interrupted call (which the platform tries again itself, so no operation fails
// with it), a name already taken, a file system without hard links.
std::vector<int> errors_of(const Step& step) {
  const std::string& name = step.name;
  if (name == "write" || name == "read") {
    return step.system_call ? std::vector<int>{EIO, EINTR} : std::vector<int>{ENOSPC};
  }
  if (name == "link") return {EXDEV, EPERM};
  if (name == "openat" || name == "create_new_file") return {EACCES, EEXIST};
  if (name == "renameat2" || name == "replace_keeping_backup") return {EXDEV, EEXIST};
  if (name == "local_time_stamp") return {EOVERFLOW};
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
      // The next run, its clock a day ahead so that every backup name is free, completes the
      // update; or, where a kill between the renames used without hard links left a list's old
      // words in its backup alone, reports the list missing rather than start it afresh.
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

// --- The operations of the platform, in-process ---

std::vector<Step> operations_of_a_run(bool backup_folder) {
  ListFolder folder;
  folder.write(sweep_lists(false));
  if (backup_folder) fs::create_directories(folder.backup_dir());
  TestPlatform platform;
  platform.environment["QUILLMERE_DIR"] = folder.base_text();
  EXPECT_EQ(run_in_process(platform, folder.root()).status, 0);
  std::vector<Step> steps;
  std::map<std::string, int> counts;
  for (const std::string& line : platform.log) {
    Step step;
    step.name = step.operation = line.substr(0, line.find(' '));
    step.path = line.substr(line.find(' ') + 1).erase(0, folder.base_text().size());
    step.occurrence = step.nth = ++counts[step.name];
    step.replaced_before =
        counts["replace_keeping_backup"] - (step.name == "replace_keeping_backup");
    step.read_before = counts["open_file"] - (step.name == "open_file") > 0;
    steps.push_back(step);
  }
  return steps;
}

Run in_process(bool backup_folder) {
  return [=](const ListFolder& folder, const Step& step, int code) {
    if (backup_folder) fs::create_directories(folder.backup_dir());
    TestPlatform platform;
    platform.environment["QUILLMERE_DIR"] = folder.base_text();
    platform.fail(step.name, step.occurrence, code);
    return run_in_process(platform, folder.root());
  };
}

TEST(Sweep, EveryOperationOfARunFailed) {
  const std::set<std::string> operations = {
      "file_type",       "make_directory",         "open_file",
      "create_new_file", "replace_keeping_backup", "local_time_stamp"};
  for (const bool backup_folder : {false, true}) {
    sweep(operations_of_a_run(backup_folder), operations, false, sweep_lists(false),
          in_process(backup_folder));
  }
}

TEST(Sweep, AFailedCleanUpLeavesOnlyAnUnfinishedList) {
  ListFolder folder;
  folder.write(sweep_lists(false));
  TestPlatform platform;
  platform.environment["QUILLMERE_DIR"] = folder.base_text();
  platform.fail("replace_keeping_backup", 1, EIO);
  platform.fail("remove_file", 1, EACCES);
  EXPECT_EQ(run_in_process(platform, folder.root()).status, 1);
  EXPECT_EQ(folder.strays(), std::vector<std::string>{"reduced.txt.new-1"});
  folder.check_promise(sweep_lists(false));
}

// --- The system calls, under strace ---

constexpr const char* kTraced =
    "newfstatat,mkdir,openat,read,write,fsync,close,link,rename,renameat2";

// The system calls of a successful run with `injections` in place, each with the platform
// operation it belongs to; calls outside the list folder are left out.
std::vector<Step> calls_of_a_run(bool large, const std::vector<std::string>& injections) {
  ListFolder folder;
  folder.write(sweep_lists(large));
  const std::string log = (folder.root() / "trace").string();
  EXPECT_EQ(run_process(program_in(folder, under_strace(kTraced, injections, log))).status, 0);
  const std::regex quoted("\"([^\"]*)\"");
  std::map<std::string, int> counts, operations;
  std::map<std::string, std::pair<std::string, std::string>> open;  // fd: operation, path
  std::vector<Step> steps;
  for (const auto& [name, args, result] : traced_calls(log)) {
    Step step;
    step.name = name;
    step.system_call = true;
    step.occurrence = ++counts[name];
    std::smatch match;
    if (std::regex_search(args, match, quoted))
      step.path = match[1].str().erase(0, folder.base_text().size());
    const std::string fd = args.substr(0, args.find_first_of(",)"));
    const auto file = open.find(fd);
    const std::string of = file == open.end() ? "" : file->second.first;
    if (file != open.end()) step.path = file->second.second;  // not the bytes read or written
    const bool in_lists =
        match.size() && match[1].str().starts_with(folder.base_text() + "DicLists");
    if (name == "mkdir") {
      step.operation = "make_directory";
    } else if (name == "openat" && in_lists) {
      const bool creates = args.find("O_CREAT") != std::string::npos;
      step.operation = args.find("O_DIRECTORY") != std::string::npos ? "ignored"
                       : creates                                     ? "create_new_file"
                                                                     : "open_file";
      open[result] = {creates ? "write" : step.operation, step.path};
    } else if (name == "newfstatat" && fd == "AT_FDCWD" && in_lists) {
      step.operation = "file_type";
    } else if ((name == "newfstatat" || name == "read") && (of == "open_file" || fd == "0")) {
      step.operation = fd == "0" ? "ignored" : "open_file";
    } else if (name == "write" && (fd == "1" || of == "write")) {
      step.operation = fd == "1" ? "write_stdout" : "write";
    } else if ((name == "fsync" || name == "close") && !of.empty()) {
      // The backup folder is flushed between keeping the old list and replacing it; the list
      // folder only after the new list is in place, when a failure is no longer reported.
      const bool backup_sync = name == "fsync" && step.path == "DicLists/BU_Previous_Files";
      step.operation = of == "write" ? "write" : backup_sync ? "replace_keeping_backup" : "ignored";
      if (name == "close") open.erase(file);
    } else if (name == "link" || name.starts_with("rename")) {
      step.operation = "replace_keeping_backup";
    } else {
      continue;
    }
    step.nth = ++operations[step.operation];
    step.replaced_before = counts["rename"] - (name == "rename");
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
              ":when=" + std::to_string(step.occurrence));
          std::string traced;  // strace injects only into the calls it traces
          for (const std::string& injection : injections)
            traced += injection.substr(0, injection.find(':')) + ",";
          return run_process(program_in(folder, under_strace(traced, injections)));
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
  // A directory entry is only on disk once its folder is flushed: the new backup folder is
  // flushed into its parent before anything is linked into it, the backup name before the new
  // list takes the live name, and the live name before the pass ends.
  ListFolder folder;
  folder.write(sweep_lists(false));
  const std::string log = (folder.root() / "trace").string();
  ASSERT_EQ(run_process(program_in(folder, under_strace("mkdir,openat,fsync,link,rename", {}, log)))
                .status,
            0);
  const std::regex paths("\"([^\"]*)\"(?:, \"([^\"]*)\")?");
  std::map<std::string, std::string> open_dirs;
  std::string steps;  // a line a step: "mkdir DIR", "sync DIR", "link BACKUP", "rename LIVE"
  for (const auto& [name, args, result] : traced_calls(log)) {
    std::smatch path;
    std::regex_search(args, path, paths);
    if (name == "openat" && args.find("O_DIRECTORY") != std::string::npos)
      open_dirs[result] = path[1];
    if (name == "fsync" && open_dirs.count(args)) steps += "sync " + open_dirs[args] + "\n";
    if (name == "mkdir") steps += "mkdir " + path[1].str() + "\n";
    if (name == "link" || name == "rename") steps += name + " " + path[2].str() + "\n";
  }
  const std::string lists = folder.lists().string(), backups = folder.backup_dir().string();
  std::string order = "mkdir " + backups + "\nsync " + lists + "\n";
  for (const std::string list : {"reduced", "master"}) {
    order += "(.*\n)*link " + backups + "/" + list + "_.*\nsync " + backups + "\nrename " + lists +
             "/" + list + ".txt\nsync " + lists + "\n";
  }
  EXPECT_TRUE(std::regex_match(steps, std::regex(order))) << steps;
}

}  // namespace
}  // namespace corvandel::testing
