// Every file-system step of a whole update run, failed in turn with a realistic error by a
// platform double linked into a copy of the program (fault_platform.cpp): each failure must end
// the run with its own message and exit status, keep every word, and leave nothing that disturbs
// the next run.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <regex>
#include <set>
#include <sstream>

#include "list_dir.h"

namespace corvandel::testing {
namespace {
namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

const ListContents kLists{"DOG\nEMU", "CAT\r\nant", "bee Ant\nfox", "ANT\nBEE\nCAT\nDOG\nEMU\nFOX",
                          "ANT\nBEE\nCAT\nFOX"};

std::string error_text(int code) {
  return std::string(std::strerror(code)) + " (os error " + std::to_string(code) + ")";
}

// One operation of a successful run, as the double logs it.
struct Operation {
  std::string kind;
  std::string path;    // relative to the base directory
  int occurrence = 0;  // 1 for the first operation of its kind
  int lists_replaced_before = 0;
  bool read_before = false;
};

// How a run with one failed operation must end.
struct Outcome {
  int status = 0;
  std::string out;
  std::string err;          // the exact standard error, unless fatal
  std::string fatal_cause;  // for status 101: "<context>: <error text>" in the report
  bool reduced_replaced = true;
  bool master_replaced = true;
};

Outcome success() {
  return Outcome{0, kSuccess, "", "", true, true};
}

Outcome fatal(std::string out, std::string cause, bool reduced, bool master) {
  return Outcome{101, std::move(out), "", std::move(cause), reduced, master};
}

Outcome reported(std::string out, std::string err, bool reduced, bool master) {
  return Outcome{1, kBanner + out + kPrompt, std::move(err), "", reduced, master};
}

// The outcome of failing `op` with `code`, from the program's rules.
Outcome expected_outcome(Operation op, int code, const ListDir& dir) {
  if (!op.path.empty()) op.path = dir.base_text() + op.path;
  const bool reduced = op.lists_replaced_before >= 1, master = op.lists_replaced_before >= 2;
  const bool read_before = op.read_before;
  const std::string text = error_text(code);
  if (op.kind == "write_stdout") {
    if (op.occurrence == 1) return fatal("", "failed printing to stdout: " + text, false, false);
    if (op.occurrence == 2) return fatal(kBanner, "failed printing to stdout: " + text, true, true);
    return fatal(kBanner + "Update successful.\n", "failed printing to stdout: " + text, true,
                 true);
  }
  if (op.kind == "file_type" && op.path == dir.list_path("BU_Previous_Files")) {
    return success();  // the folder is then made, or found, by create_directories
  }
  if (op.kind == "make_directory") {
    return reported("", "Failed to create directory: " + text + "\n", false, false);
  }
  if (op.kind == "file_type" && !read_before) {
    return reported("Update words file, " + op.path +
                        ", was not found.\nCreate a non-empty file, with this name, containing new "
                        "text strings to add to the dictionary lists.\n",
                    "", false, false);
  }
  if (op.kind == "file_type") {
    return reported(op.path + " is missing (or not a regular file)\n", "", reduced, master);
  }
  if (op.kind == "read_file")
    return fatal(kBanner, "reading " + op.path + ": " + text, reduced, master);
  if (op.kind == "create_new_file") {
    if (code == EEXIST) return success();  // taken to be a leftover: the next name is used
    return fatal(kBanner, "creating " + op.path + ": " + text, reduced, master);
  }
  if (op.kind == "write" || op.kind == "finish") {
    return fatal(kBanner, "writing " + op.path + ": " + text, reduced, master);
  }
  if (op.kind == "local_time_stamp") {
    return fatal(kBanner, "reading the local time: " + text, reduced, master);
  }
  if (op.kind == "replace_keeping_backup") {
    if (code == EEXIST) return success();  // a backup of that second exists: the next is used
    return reported("Error renaming file: " + text + "\n", "", reduced, master);
  }
  if (op.kind == "ignored") return success();
  ADD_FAILURE() << "no rule for " << op.kind;
  return success();
}

std::vector<int> realistic_errors(const std::string& kind) {
  if (kind == "write_stdout") return {EIO, ENOSPC};
  if (kind == "file_type") return {EACCES, EIO};
  if (kind == "make_directory") return {EACCES, ENOSPC};
  if (kind == "read_file") return {EIO, EACCES};
  if (kind == "create_new_file") return {ENOSPC, EACCES, EEXIST};
  if (kind == "write") return {ENOSPC, EIO};
  if (kind == "finish") return {EIO, ENOSPC};
  if (kind == "local_time_stamp") return {EOVERFLOW};
  if (kind == "replace_keeping_backup") return {EXDEV, EACCES, EIO, EEXIST};
  return {EIO};
}

// Checks a run that started from kLists in `dir` against `expected`, and the promise after it.
void expect_outcome(const RunResult& r, const Outcome& expected, const ListDir& dir) {
  EXPECT_EQ(r.status, expected.status);
  EXPECT_EQ(r.out, expected.out);
  if (expected.status == 101) {
    EXPECT_THAT(r.err, StartsWith("corvandel: fatal error at "));
    EXPECT_THAT(r.err, HasSubstr(": " + expected.fatal_cause + " [kind: "));
  } else {
    EXPECT_EQ(r.err, expected.err);
  }
  ListDir::Replaced replaced = dir.check_promise(kLists);
  EXPECT_EQ(replaced.reduced, expected.reduced_replaced);
  EXPECT_EQ(replaced.master, expected.master_replaced);
  EXPECT_THAT(dir.strays(), IsEmpty()) << "a failed step removes its temporary file";
}

RunResult run_with_faults(const ListDir& dir, const std::string& faults,
                          const std::string& log = "", const std::string& clock_offset = "") {
  RunOptions options;
  if (!clock_offset.empty()) options.environment["CORVANDEL_CLOCK_OFFSET"] = clock_offset;
  if (!faults.empty()) options.environment["CORVANDEL_FAULTS"] = faults;
  if (!log.empty()) options.environment["CORVANDEL_FAULT_LOG"] = log;
  return dir.run(CORVANDEL_WITH_FAULTS, options);
}

// The next run without faults completes the update, whatever the failed one left. Its clock is a
// day ahead, so that it never waits for the stamp of a backup that the failed run made.
void expect_recovery(const ListDir& dir) {
  RunResult again = run_with_faults(dir, "", "", "86400");
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.out, kSuccess);
  EXPECT_EQ(read_file(dir.lists() / "reduced.txt"), kLists.new_reduced);
  EXPECT_EQ(read_file(dir.lists() / "master.txt"), kLists.new_master);
}

std::vector<Operation> operations_of_a_successful_run() {
  ListDir dir;
  dir.write_lists(kLists);
  TempDir log_dir;
  const fs::path log = log_dir.path() / "operations";
  RunResult r = run_with_faults(dir, "", log.string());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kSuccess);
  std::vector<Operation> run;
  std::map<std::string, int> counts;
  std::istringstream lines(read_file(log));
  for (std::string line; std::getline(lines, line);) {
    std::size_t space = line.find(' ');
    std::string path = line.substr(space + 1);
    if (path.rfind(dir.base_text(), 0) == 0) path.erase(0, dir.base_text().size());
    Operation op{line.substr(0, space), path, 0, 0, false};
    op.occurrence = ++counts[op.kind];
    op.lists_replaced_before =
        counts["replace_keeping_backup"] - (op.kind == "replace_keeping_backup");
    op.read_before = counts["read_file"] - (op.kind == "read_file") > 0;
    run.push_back(op);
  }
  return run;
}

TEST(FaultInjection, EveryOperationOfARunFailsCleanly) {
  const std::vector<Operation> run = operations_of_a_successful_run();
  std::set<std::string> kinds;
  for (const Operation& op : run) kinds.insert(op.kind);
  EXPECT_EQ(kinds, (std::set<std::string>{"create_new_file", "file_type", "finish",
                                          "local_time_stamp", "make_directory", "read_file",
                                          "replace_keeping_backup", "write", "write_stdout"}))
      << "the run no longer performs the operations this test expects";

  int failed = 0;
  for (std::size_t i = 0; i < run.size(); ++i) {
    for (int code : realistic_errors(run[i].kind)) {
      const std::string fault =
          run[i].kind + ":" + std::to_string(run[i].occurrence) + ":" + std::to_string(code);
      SCOPED_TRACE("failing " + fault + " (" + run[i].path + ")");
      ListDir dir;
      dir.write_lists(kLists);
      const Outcome expected = expected_outcome(run[i], code, dir);
      expect_outcome(run_with_faults(dir, fault), expected, dir);
      expect_recovery(dir);
      ++failed;
    }
  }
  std::printf("operations failed: %d (of %zu in a run)\n", failed, run.size());
}

TEST(FaultInjection, RepeatedAndCompoundFaults) {
  std::string every_temporary_name;
  for (int n = 1; n <= 1000; ++n)
    every_temporary_name += "create_new_file:" + std::to_string(n) + ":17,";
  every_temporary_name.pop_back();
  const struct {
    std::string faults;
    int status;
    std::string report;  // part of the output or the fatal report
    bool reduced_replaced;
    std::size_t strays;
  } cases[] = {
      // The temporary file cannot be removed after a failed write or rename: it stays behind as
      // an unfinished list, and the next run still succeeds beside it.
      {"write:1:28,remove_file:1:13", 101, "writing ", false, 1},
      {"finish:2:5,remove_file:1:5", 101, "writing ", true, 1},
      {"replace_keeping_backup:1:18,remove_file:1:13", 1, "Error renaming file: ", false, 1},
      // A backup name taken at every try, and every temporary name taken.
      {"replace_keeping_backup:1:17,replace_keeping_backup:2:17,replace_keeping_backup:3:17", 1,
       kBanner + "Error renaming file: " + error_text(EEXIST) + "\n" + kPrompt, false, 0},
      {every_temporary_name, 101, "reduced.txt.new-1000: " + error_text(EEXIST), false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.faults.substr(0, 80));
    ListDir dir;
    dir.write_lists(kLists);
    RunResult r = run_with_faults(dir, c.faults);
    EXPECT_EQ(r.status, c.status);
    EXPECT_THAT(r.out + r.err, HasSubstr(c.report));
    EXPECT_EQ(dir.check_promise(kLists).reduced, c.reduced_replaced);
    EXPECT_EQ(dir.strays().size(), c.strays);
    expect_recovery(dir);
  }
}

// The same promise on the real program, with its real system calls failed by strace.
class SystemCallFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* candidate : {"/usr/bin/strace", "/bin/strace"}) {
      if (fs::exists(candidate)) strace_ = candidate;
    }
    if (strace_.empty()) GTEST_SKIP() << "strace is not installed";
  }

  RunResult run_traced(const ListDir& dir, const std::vector<std::string>& injections,
                       const std::string& traced, const std::string& log = "/dev/null") const {
    return dir.run(strace_, under_strace(CORVANDEL_BINARY, traced, injections, log));
  }

  // The system calls of a successful run (with `injections` in place), each as the platform
  // operation it belongs to; calls outside the list folder are left out.
  struct Call {
    std::string name;
    int occurrence = 0;
    Operation operation;
  };
  std::vector<Call> calls_of_a_successful_run(const std::vector<std::string>& injections) const {
    ListDir dir;
    dir.write_lists(kLists);
    TempDir log_dir;
    const std::string log = (log_dir.path() / "trace").string();
    RunResult r = run_traced(dir, injections, kTraced, log);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, kSuccess);

    const std::regex path_pattern("\"([^\"]*)\"");
    std::map<std::string, int> counts, operations;
    // Descriptors open in the list folder: the operation they belong to, and the path.
    std::map<std::string, std::pair<std::string, std::string>> open_files;
    std::vector<Call> calls;
    for (const auto& [name, args, result] : traced_calls(log)) {
      std::smatch path_match;
      Call call{name, ++counts[name], {}};
      std::string path;
      if (std::regex_search(args, path_match, path_pattern)) path = path_match[1];
      if (path.rfind(dir.base_text(), 0) == 0) path.erase(0, dir.base_text().size());
      const std::string fd = args.substr(0, args.find_first_of(",)"));
      const auto open = open_files.find(fd);
      const bool reading = open != open_files.end() && open->second.first == "read_file";
      const bool writing = open != open_files.end() && open->second.first == "write";
      std::string kind;
      if (call.name == "mkdir") {
        kind = "make_directory";
      } else if (call.name == "openat") {
        if (path.rfind("DicLists", 0) != 0) continue;  // the loader, the time zone
        kind = args.find("O_DIRECTORY") != std::string::npos ? "ignored"
               : args.find("O_CREAT") != std::string::npos   ? "create_new_file"
                                                             : "read_file";
        open_files[result] = {kind == "create_new_file" ? "write" : kind, path};
      } else if (call.name == "newfstatat" && fd == "AT_FDCWD") {
        if (path.rfind("DicLists", 0) != 0) continue;
        kind = "file_type";
      } else if (call.name == "newfstatat" || call.name == "read") {
        // Standard input is read for the closing prompt, whose failure changes nothing.
        if (call.name == "read" && fd == "0") {
          kind = "ignored";
        } else if (reading) {
          kind = "read_file";
          path = open->second.second;
        } else {
          continue;  // the loader, the time zone
        }
      } else if (call.name == "write") {
        // Writes elsewhere belong to the runtime (a sanitizer probing memory through a pipe).
        if (fd != "1" && !writing) continue;
        kind = fd == "1" ? "write_stdout" : "write";
        if (writing) path = open->second.second;
      } else if (call.name == "fsync" || call.name == "close") {
        if (open == open_files.end()) continue;
        path = open->second.second;
        // The backup folder is flushed between keeping the old list and replacing it; the list
        // folder only after the new list is in place, when a failure is no longer reported.
        const bool backup_sync = call.name == "fsync" && path == "DicLists/BU_Previous_Files";
        kind = writing ? "write" : backup_sync ? "replace_keeping_backup" : "ignored";
        if (backup_sync) path.clear();
        if (call.name == "close") open_files.erase(open);
      } else if (call.name == "link" || call.name == "rename" || call.name == "renameat2") {
        kind = "replace_keeping_backup";
        path = "";
      } else {
        continue;
      }
      call.operation = Operation{kind, path, 0, 0, false};
      call.operation.occurrence = ++operations[kind];
      call.operation.lists_replaced_before = counts["rename"] - (call.name == "rename");
      call.operation.read_before = operations["read_file"] - (kind == "read_file") > 0;
      calls.push_back(call);
    }
    return calls;
  }

  // Fails each call of a successful run (with `base` injections in place) in turn.
  int fail_each_call(const std::vector<std::string>& base, const std::set<std::string>& names) {
    const std::vector<Call> calls = calls_of_a_successful_run(base);
    int failed = 0;
    for (const Call& call : calls) {
      if (!names.count(call.name)) continue;
      for (int code : call_errors(call.name)) {
        std::vector<std::string> injections = base;
        injections.push_back(call.name + ":error=" + errno_name(code) +
                             ":when=" + std::to_string(call.occurrence));
        SCOPED_TRACE("injecting " + injections.back() + " (" + call.operation.kind + " " +
                     call.operation.path + ")");
        ListDir dir;
        dir.write_lists(kLists);
        Outcome expected = expected_outcome(call.operation, code, dir);
        // Without hard links the list is set aside by a rename instead.
        if (call.name == "link" && code == EPERM) expected = success();
        // An interrupted read or write is tried again.
        if (code == EINTR) expected = success();
        std::string traced;  // strace injects only into the calls it traces
        for (const std::string& injection : injections) {
          traced += injection.substr(0, injection.find(':')) + ",";
        }
        traced.pop_back();
        expect_outcome(run_traced(dir, injections, traced), expected, dir);
        ++failed;
      }
    }
    return failed;
  }

  static std::vector<int> call_errors(const std::string& name) {
    if (name == "read") return {EIO, EINTR};
    if (name == "write") return {ENOSPC, EIO, EINTR};
    if (name == "fsync" || name == "close") return {EIO};
    if (name == "newfstatat") return {EACCES, EIO};
    if (name == "openat") return {EACCES, EIO, EEXIST};
    if (name == "mkdir") return {ENOSPC};
    if (name == "link") return {EXDEV, EACCES, EPERM, EEXIST};
    return {EXDEV, EACCES, EIO};  // the renames
  }

  static std::string errno_name(int code) {
    const std::map<int, std::string> names{{ENOSPC, "ENOSPC"}, {EIO, "EIO"},     {EACCES, "EACCES"},
                                           {EEXIST, "EEXIST"}, {EXDEV, "EXDEV"}, {EPERM, "EPERM"},
                                           {EINTR, "EINTR"}};
    return names.at(code);
  }

  static constexpr const char* kTraced =
      "newfstatat,mkdir,openat,read,write,fsync,close,link,linkat,rename,renameat,renameat2";
  std::string strace_;
};

TEST_F(SystemCallFaults, EveryCallOfARun) {
  const int failed = fail_each_call(
      {}, {"newfstatat", "mkdir", "openat", "read", "write", "fsync", "close", "link", "rename"});
  EXPECT_GT(failed, 30);
  std::printf("system calls failed: %d\n", failed);
}

TEST_F(SystemCallFaults, FileSystemWithoutHardLinks) {
  // Every link is refused as on a file system without hard links: the list is set aside by a
  // rename that refuses an existing backup, and moved back when the new list cannot be put in
  // place.
  const int failed = fail_each_call({"link:error=EPERM"}, {"rename", "renameat2", "fsync"});
  EXPECT_GE(failed, 6);
  std::printf("system calls failed: %d\n", failed);
}

TEST_F(SystemCallFaults, EachStepIsDurableBeforeTheNext) {
  // A power cut may come at any moment, and a directory entry is only on disk once its folder is
  // flushed. So the new backup folder is flushed into its parent before anything is linked into
  // it, the backup name is flushed before the new list takes the live name, and the live name is
  // flushed before the pass ends.
  ListDir dir;
  dir.write_lists(kLists);
  TempDir log_dir;
  const std::string log = (log_dir.path() / "trace").string();
  RunResult r = run_traced(dir, {}, "mkdir,openat,fsync,close,link,rename", log);
  ASSERT_EQ(r.status, 0) << r.err;

  // The trace as a list of steps: "mkdir DIR", "sync DIR", "link BACKUP", "rename LIVE".
  const std::regex paths_pattern("\"([^\"]*)\"(?:, \"([^\"]*)\")?");
  std::map<std::string, std::string> open_dirs;
  std::vector<std::string> steps;
  for (const auto& [name, args, result] : traced_calls(log)) {
    std::smatch paths;
    std::regex_search(args, paths, paths_pattern);
    const std::string fd = args.substr(0, args.find_first_of(",)"));
    if (name == "openat") {
      open_dirs.erase(result);
      if (args.find("O_DIRECTORY") != std::string::npos) open_dirs[result] = paths[1];
    } else if (name == "fsync" && open_dirs.count(fd)) {
      steps.push_back("sync " + open_dirs[fd]);
    } else if (name == "mkdir") {
      steps.push_back("mkdir " + std::string(paths[1]));
    } else if (name == "link" || name == "rename") {
      steps.push_back(name + " " + std::string(paths[2]));
    }
  }
  const std::string lists = dir.lists().string(), backups = dir.backup_dir().string();
  auto position = [&](const std::string& step, std::size_t from = 0) {
    for (std::size_t i = from; i < steps.size(); ++i) {
      if (steps[i].rfind(step, 0) == 0) return i;
    }
    ADD_FAILURE() << "no step " << step << " after step " << from;
    return steps.size();
  };
  auto sync_between = [&](const std::string& folder, std::size_t first, std::size_t second) {
    for (std::size_t i = first + 1; i < second && i < steps.size(); ++i) {
      if (steps[i] == "sync " + folder) return true;
    }
    return false;
  };
  SCOPED_TRACE(::testing::PrintToString(steps));
  const std::size_t made = position("mkdir " + backups);
  for (const char* list : {"reduced", "master"}) {
    const std::size_t link = position("link " + backups + "/" + list + "_", made);
    const std::size_t rename = position("rename " + lists + "/" + list + ".txt", link);
    EXPECT_TRUE(sync_between(lists, made, link)) << "the new backup folder is flushed";
    EXPECT_TRUE(sync_between(backups, link, rename)) << list << ": the backup name is flushed";
    std::size_t next = rename + 1;
    while (next < steps.size() && steps[next].rfind("link ", 0) != 0) ++next;
    EXPECT_TRUE(sync_between(lists, rename, next)) << list << ": the live name is flushed";
  }
}

}  // namespace
}  // namespace corvandel::testing
