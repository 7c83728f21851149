// One driver that fails or kills each file call of a whole run in turn, on Linux (its system
// calls, under strace) and on Windows (its Win32 calls, through the platform's table of them):
// one table of what each failure must lead to, one promise check, and a next run that must
// complete the update.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "test_support.h"

namespace corvandel::testing {

/// How the program takes an error, beyond failing the step: tries the step again, takes the
/// next free name, does without hard links, or lets the closed stream swallow the text.
enum class Treatment { fails, retried, name_taken, no_hard_links, stream_closed };

/// An error to fail a call with: the system's code, how the program takes it at that call, and
/// its text as the program's messages show it.
struct Fault {
  int code;
  Treatment treatment;
  std::string text;
};

/// One file call of a successful run: its name and the how-manyth of that name; what it does
/// for the run, on which path (from the base directory on, '/' between the components), and
/// the how-manyth of that act; how many lists were replaced before it and whether a list was
/// opened before it; whether it changes the disk; the errors it meets in the world.
///
/// The acts, whatever the system calls them: "look" (the type of the backup folder, the update
/// file or a list), "make_directory", "open" (opening or reading a list), "create" (a new list),
/// "write" (writing, emptying, flushing or closing a new list), "console" (standard output),
/// "set_aside" (keeping the old list as the backup: a link, or a move without hard links),
/// "put_in_place" (the new list moved to the live name), "replace" (the other steps of a
/// replacement: looks at the lists, the wait for other programs' handles, the backup folder's
/// flush) and "ignored" (what the run passes over when it fails: the lock, a hint, the last flush).
struct Step {
  std::string name;
  int occurrence = 0;
  std::string act = "", path = "", detail = "";
  int nth = 0, replaced_before = 0;
  bool read_before = false, changes_disk = true;
  std::vector<Fault> faults = {};
};

/// Notes each step's act count, lists replaced before it and whether a list was read before it,
/// from the acts in order.
void number_steps(std::vector<Step>& steps);

/// Lists that fill several write blocks when `large`, so that a kill can land inside one.
Lists sweep_lists(bool large);

/// A run in `folder` with `step` failed by `fault`, or killed inside it when `fault` is null.
using SweptRun = std::function<RunResult(const ListFolder&, const Step&, const Fault* fault)>;

/// Fails each step of `steps` named in `names` with each of its faults (or, when `kill`, kills
/// the run inside each that changes the disk) by `run`, in a folder that holds `before`; checks
/// the run's end against the table, the promise, and that a next run completes the update.
/// Prints how many calls of each name the run made and how many were swept.
void sweep(const std::vector<Step>& steps, const std::set<std::string>& names, bool kill,
           const Lists& before, int killed_status, const SweptRun& run);

}  // namespace corvandel::testing
