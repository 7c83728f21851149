// One driver that fails or kills each file call of a whole run in turn, on Linux (system calls,
// under strace) and on Windows (Win32 calls, through the platform's table of them).
#pragma once

#include "test_support.h"

namespace corvandel::testing {

/// An error to fail a call with, how the program takes it there beyond failing the step ("",
/// "retried", "name-taken", "no-hard-links", "stream-closed"), its text in the messages.
struct Fault {
  int code = 0;
  std::string treatment = "", text = "";
};

/// One file call of a successful run, the how-manyth of its name; what it does, from the call
/// alone ("look" at a file's type or state, "read", "create", "write", "flush", "close", "link",
/// "rename", "remove", "make-folder", "lock", "attributes"); the path it names (from the base
/// directory, '/' between components; a link's or rename's source; "console", "keyboard"); the
/// text it prints, or its flags; the errors it meets.
struct Call {
  std::string name;
  int occurrence = 0;
  std::string effect = "", path = "", detail = "";
  std::vector<Fault> faults = {};
};

/// Whether `word` is one of the space-separated `words` (or `words` is empty).
bool among(const std::string& word, const std::string& words);

/// Lists that fill several write blocks when `large`, so that a kill can land inside one.
Lists sweep_lists(bool large);

/// A run in `folder` with `call` failed by `fault`, or killed inside it when `fault` is null.
using SweptRun = std::function<RunResult(const ListFolder&, const Call&, const Fault* fault)>;

/// Fails each call of `calls` named among `names` (all when none is) with each of its faults, or
/// when `kill` kills the run inside each that changes the disk, in a folder holding `before`;
/// checks the end, the promise and a next run.
void sweep(const std::vector<Call>& calls, const std::string& names, bool kill, const Lists& before,
           int killed_status, const SweptRun& run);

/// Checks the order of both replacements' steps ("effect path[ detail]") in a successful run's
/// `calls`: `after_folder` follows the making of the backup folder, `before_link` (where $ is the
/// live list) the new list's flush, `moved` ends the line of its move; looks with the detail
/// `freeing` are steps too.
void expect_replacement_order(const std::vector<Call>& calls, const std::string& after_folder,
                              const std::string& before_link = "", const std::string& moved = "",
                              const std::string& freeing = "");

}  // namespace corvandel::testing
