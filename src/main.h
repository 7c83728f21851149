// The update run, how a run ends, and console output that ends the run when it fails: the update
// run owns these and the merge pass uses them.
#pragma once

#include <source_location>
#include <span>
#include <string_view>

#include "result.h"
#include "tunables.h"

namespace corvandel {

/// The program, given its command line: the usage text or the version when its one argument asks
/// for it (--help, -h, the system's own help option, --version), else the update run.
[[noreturn]] void run_program(std::span<char* const> arguments);

/// The whole update run, from the banner to the closing prompt; ends the process with its exit
/// status through the platform (so a test's platform can end it otherwise).
[[noreturn]] void run_update(const Tunables& tunables = {});

/// Writes `text` to standard output; a failed write is a fatal failure.
void print_stdout(std::string_view text);
/// Writes `text` to standard error; a failed write is a fatal failure.
void print_stderr(std::string_view text);

/// Shows the closing prompt, waits for a line of input and ends the process with status 1.
[[noreturn]] void pause_and_exit();

/// Reports an unrecoverable failure on standard error, naming the place in the source where it
/// was detected, and ends the process at once with status 101. `context` says what was being
/// done, e.g. "reading /lists/DicLists/master.txt".
[[noreturn]] void fatal_failure(const Error& error, std::string_view context,
                                std::source_location where = std::source_location::current());

}  // namespace corvandel
