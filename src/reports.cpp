// The console messages, the closing prompt and the ends of a run.
#include "reports.h"

#include <cstdlib>
#include <string>

#include "platform.h"

namespace corvandel {
namespace {

constexpr int kExitReported = 1;
constexpr int kExitFatal = 101;

[[noreturn]] void fail_printing(std::string_view stream, const Error& error,
                                std::source_location where) {
  fatal_failure(error, std::string("failed printing to ") + std::string(stream), where);
}

}  // namespace

void print_stdout(std::string_view text) {
  if (Result<void> written = platform().write_stdout(text); !written) {
    fail_printing("stdout", written.error(), std::source_location::current());
  }
}

void print_stderr(std::string_view text) {
  if (Result<void> written = platform().write_stderr(text); !written) {
    fail_printing("stderr", written.error(), std::source_location::current());
  }
}

// Standard output is written unbuffered, a whole message at a time, so there is nothing to flush
// before the prompt. Only a failed write of the prompt is reported.
void closing_prompt() {
  print_stdout("\nPress Enter to exit...\n");
  [[maybe_unused]] Result<void> read = platform().read_stdin_line();
}

void exit_with(int status) {
  platform().exit_process(status);
  std::abort();  // a platform that returns from exit_process is a defect
}

void pause_and_exit() {
  closing_prompt();
  exit_with(kExitReported);
}

void fatal_failure(const Error& error, std::string_view context, std::source_location where) {
  std::string report = "corvandel: fatal error at ";
  report += file_name_of(where.file_name());
  report += ":" + std::to_string(where.line()) + ": ";
  report += context;
  report += ": " + error.text + " [kind: " + error_kind_name(error.kind);
  if (error.has_os_code()) report += ", os error code: " + std::to_string(error.code);
  report += "]\n";
  // Nothing is left to tell if standard error fails too.
  [[maybe_unused]] Result<void> written = platform().write_stderr(report);
  exit_with(kExitFatal);
}

}  // namespace corvandel
