// How a run reports and ends: messages on the console, the closing prompt, and the three exit
// statuses (0 after success, 1 after a reported failure, 101 after an unrecoverable one). The
// update run and the merge pass both report through these.
#pragma once

#include <source_location>
#include <string_view>

#include "result.h"

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

/// Reports an unrecoverable failure on standard error, naming the place in the source where it
/// was detected, and ends the process at once with status 101. `context` says what was being
/// done, e.g. "reading /lists/DicLists/master.txt".
[[noreturn]] void fatal_failure(const Error& error, std::string_view context,
                                std::source_location where = std::source_location::current());

}  // namespace corvandel
