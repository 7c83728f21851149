// Every file-system step of a whole update run, failed in turn with a realistic error by a
// platform double linked into a copy of the program (fault_platform.cpp): each failure must end
// the run with its own message and exit status, keep every word, and leave nothing that disturbs
// the next run.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
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

// The outcome of failing operation `index` of `run` with `code`, from the program's rules.
Outcome expected_outcome(const std::vector<Operation>& run, std::size_t index, int code,
                         const ListDir& dir) {
  Operation op = run[index];
  if (!op.path.empty()) op.path = dir.base_text() + op.path;
  int replaced = 0;
  bool read_before = false;
  for (std::size_t i = 0; i < index; ++i) {
    replaced += run[i].kind == "replace_keeping_backup";
    read_before = read_before || run[i].kind == "read_file";
  }
  const bool reduced = replaced >= 1, master = replaced >= 2;
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
  if (op.kind == "create_directories") {
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
  ADD_FAILURE() << "no rule for " << op.kind;
  return success();
}

std::vector<int> realistic_errors(const std::string& kind) {
  if (kind == "write_stdout") return {EIO, ENOSPC};
  if (kind == "file_type") return {EACCES, EIO};
  if (kind == "create_directories") return {EACCES, ENOSPC};
  if (kind == "read_file") return {EIO, EACCES};
  if (kind == "create_new_file") return {ENOSPC, EACCES, EEXIST};
  if (kind == "write") return {ENOSPC, EIO};
  if (kind == "finish") return {EIO, ENOSPC};
  if (kind == "local_time_stamp") return {EOVERFLOW};
  if (kind == "replace_keeping_backup") return {EXDEV, EACCES, EIO, EEXIST};
  return {EIO};
}

void expect_outcome(const RunResult& r, const Outcome& expected) {
  EXPECT_EQ(r.status, expected.status);
  EXPECT_EQ(r.out, expected.out);
  if (expected.status == 101) {
    EXPECT_THAT(r.err, StartsWith("corvandel: fatal error at "));
    EXPECT_THAT(r.err, HasSubstr(": " + expected.fatal_cause + " [kind: "));
  } else {
    EXPECT_EQ(r.err, expected.err);
  }
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
    Operation op{line.substr(0, space), path, 0};
    op.occurrence = ++counts[op.kind];
    run.push_back(op);
  }
  return run;
}

TEST(FaultInjection, EveryOperationOfARunFailsCleanly) {
  const std::vector<Operation> run = operations_of_a_successful_run();
  std::set<std::string> kinds;
  for (const Operation& op : run) kinds.insert(op.kind);
  EXPECT_EQ(kinds, (std::set<std::string>{"create_directories", "create_new_file", "file_type",
                                          "finish", "local_time_stamp", "read_file",
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
      const Outcome expected = expected_outcome(run, i, code, dir);
      RunResult r = run_with_faults(dir, fault);
      expect_outcome(r, expected);
      ListDir::Replaced replaced = dir.check_promise(kLists);
      EXPECT_EQ(replaced.reduced, expected.reduced_replaced);
      EXPECT_EQ(replaced.master, expected.master_replaced);
      EXPECT_THAT(dir.strays(), IsEmpty()) << "a failed step removes its temporary file";
      expect_recovery(dir);
      ++failed;
    }
  }
  std::printf("operations failed: %d (of %zu in a run)\n", failed, run.size());
}

TEST(FaultInjection, CleanupThatFailsToo) {
  // The temporary file cannot be removed after a failed write or rename: it stays behind as an
  // unfinished list, and the next run still succeeds beside it.
  for (const char* faults : {"write:1:28,remove_file:1:13", "finish:2:5,remove_file:1:5",
                             "replace_keeping_backup:1:18,remove_file:1:13"}) {
    SCOPED_TRACE(faults);
    ListDir dir;
    dir.write_lists(kLists);
    RunResult r = run_with_faults(dir, faults);
    EXPECT_NE(r.status, 0);
    dir.check_promise(kLists);
    EXPECT_EQ(dir.strays().size(), 1u);
    expect_recovery(dir);
  }
}

TEST(FaultInjection, BackupNameTakenAgainAndAgain) {
  ListDir dir;
  dir.write_lists(kLists);
  RunResult r = run_with_faults(
      dir, "replace_keeping_backup:1:17,replace_keeping_backup:2:17,replace_keeping_backup:3:17");
  expect_outcome(r,
                 reported("Error renaming file: " + error_text(EEXIST) + "\n", "", false, false));
  ListDir::Replaced replaced = dir.check_promise(kLists);
  EXPECT_FALSE(replaced.reduced);
  EXPECT_THAT(dir.strays(), IsEmpty());
}

TEST(FaultInjection, EveryTemporaryNameTaken) {
  ListDir dir;
  dir.write_lists(kLists);
  std::string faults;
  for (int n = 1; n <= 1000; ++n) faults += "create_new_file:" + std::to_string(n) + ":17,";
  faults.pop_back();
  RunResult r = run_with_faults(dir, faults);
  EXPECT_EQ(r.status, 101);
  EXPECT_THAT(r.err, HasSubstr("creating " + dir.list_path("reduced.txt.new-1000") + ": " +
                               error_text(EEXIST)));
  ListDir::Replaced replaced = dir.check_promise(kLists);
  EXPECT_FALSE(replaced.reduced);
}

}  // namespace
}  // namespace corvandel::testing
