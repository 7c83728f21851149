// One driver that fails or kills each file call of a whole run in turn, on Linux (system calls,
// under strace) and on Windows (Win32 calls, through the platform's table of them).
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "test_support.h"

namespace corvandel::testing {

/// How the program takes an error, beyond failing the step.
enum class Treatment { fails, retried, name_taken, no_hard_links, stream_closed };

/// An error to fail a call with, how the program takes it there, its text in the messages.
struct Fault {
  int code;
  Treatment treatment;
  std::string text;
};

/// One file call of a successful run, the how-manyth of its name; what it does for the run, on
/// which path (from the base directory, '/' between components), the how-manyth of that act;
/// the errors it meets. The acts: "look" (the type of a file), "make_directory", "open" (a list
/// opened or read), "create", "write" (a new list written, emptied, flushed or closed),
/// "console", "set_aside" (the old list linked or moved to its backup), "put_in_place" (the new
/// list moved to the live name), "replace" (the other steps of a replacement) and "ignored"
/// (what the run passes over: the lock, a hint, the last flush).
struct Step {
  std::string name;
  int occurrence = 0;
  std::string act = "", path = "", detail = "";
  int nth = 0, replaced_before = 0;
  bool read_before = false, changes_disk = true;
  std::vector<Fault> faults = {};
};

/// Notes each step's `nth`, `replaced_before` and `read_before` from the acts in order.
void number_steps(std::vector<Step>& steps);

/// Lists that fill several write blocks when `large`, so that a kill can land inside one.
Lists sweep_lists(bool large);

/// A run in `folder` with `step` failed by `fault`, or killed inside it when `fault` is null.
using SweptRun = std::function<RunResult(const ListFolder&, const Step&, const Fault* fault)>;

/// Fails each step of `steps` named in `names` (all when none is) with each of its faults, or
/// when `kill` kills the run inside each that changes the disk, in a folder holding `before`;
/// checks the end, the promise and a next run. Prints how many calls of each name were swept.
void sweep(const std::vector<Step>& steps, const std::set<std::string>& names, bool kill,
           const Lists& before, int killed_status, const SweptRun& run);

}  // namespace corvandel::testing
