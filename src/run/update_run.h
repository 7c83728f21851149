// The program: one update run, from the banner to the closing prompt, or the usage text or the
// version when the command line asks for them.
#pragma once

#include <span>

#include "base/tunables.h"

namespace corvandel {

/// The program, given its command line: the usage text or the version when its one argument asks
/// for it (--help, -h, the system's own help option, --version), else the update run.
[[noreturn]] void run_program(std::span<char* const> arguments);

/// The whole update run, from the banner to the closing prompt; ends the process with its exit
/// status through the platform (so a test's platform can end it otherwise). The program passes
/// the default sizes; tests pass small ones.
[[noreturn]] void run_update(const Tunables& tunables = {});

}  // namespace corvandel
