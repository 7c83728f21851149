// How a run reports and ends: messages on the console, the closing prompt, and the three exit
// statuses (0 after success, 1 after a reported failure, 101 after an unrecoverable one). The
// update run and the merge pass both report through these.
#pragma once

#include <source_location>
#include <string>
#include <string_view>

#include "base/result.h"

namespace corvandel {

/// Writes `text` to standard output; a failed write is a fatal failure.
void print_stdout(std::string_view text);
/// Writes `text` to standard error; a failed write is a fatal failure.
void print_stderr(std::string_view text);

/// Shows the closing prompt and waits for a line of input (end of input counts as one).
void closing_prompt();

/// Ends the process with `status` through the platform (so that a test's platform can end a run
/// otherwise).
[[noreturn]] void exit_with(int status);

/// Shows the closing prompt, waits for a line of input and ends the process with status 1.
[[noreturn]] void pause_and_exit();

/// What a run was doing when it failed, to its subject (a file, a stream or nothing).
enum class Doing {
  reading,        ///< a file, as text
  creating,       ///< a new list's file
  writing,        ///< a new list's file
  replacing,      ///< a list, by its new version
  printing,       ///< to a standard stream, "stdout" or "stderr"
  reading_clock,  ///< the local time
};

/// Reports an unrecoverable failure on standard error and ends the process at once with status
/// 101. The one report says, for the user, what went wrong with which file (for text that is not
/// UTF-8: where, and its likely cause), what this run already changed and what to do next; then,
/// for whoever looks into it, the place in the source where the failure was detected, what was
/// being done and the error, e.g. "reading /lists/DicLists/master.txt: ... [kind: ...]".
[[noreturn]] void fatal_failure(const Error& error, Doing doing, std::string_view subject = "",
                                std::source_location where = std::source_location::current());

/// Notes that this run replaced `list`, keeping its previous version as `backup`, for the fatal
/// report of a later failure.
void note_replaced(const std::string& list, const std::string& backup);
/// Starts a run's note of what it replaced: nothing yet.
void forget_replaced();

}  // namespace corvandel
