#include "test_exits.h"

#include "main.h"

namespace corvandel {
namespace {
testing::Console console;
}  // namespace

testing::Console testing::take_console() {
  return std::exchange(console, {});
}

void print_stdout(std::string_view text) {
  console.out += text;
}
void print_stderr(std::string_view text) {
  console.err += text;
}

void pause_and_exit() {
  throw testing::ReportedExit{};
}

void fatal_failure(const Error& error, std::string_view context, std::source_location) {
  throw testing::FatalExit{error, std::string(context)};
}

}  // namespace corvandel
