// In-process stand-ins for the update run's exits, so that tests can drive a merge pass and see
// how it ended.
#pragma once

#include <string>

#include "result.h"

namespace corvandel::testing {

/// Thrown where the program would show the closing prompt and end with status 1.
struct ReportedExit {};

/// Thrown where the program would end with status 101.
struct FatalExit {
  Error error;
  std::string context;
};

/// What the program wrote to standard output and standard error since the last call.
struct Console {
  std::string out;
  std::string err;
};
Console take_console();

}  // namespace corvandel::testing
