// Running two independent pieces of work at once, one on a second thread.
#pragma once

#include <system_error>
#include <thread>

namespace corvandel {

/// Runs `first` on this thread while `second` runs on another, and returns when both are done.
/// When no thread can be started, runs them one after the other here. The two must not share
/// anything that either changes.
template <class First, class Second>
void run_on_two_cores(First&& first, Second&& second) {
  std::thread helper;
  try {
    helper = std::thread(second);
  } catch (const std::system_error&) {
    first();
    second();
    return;
  }
  first();
  helper.join();
}

}  // namespace corvandel
