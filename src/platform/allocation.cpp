// The program's allocation-failure policy.
#include <cstdlib>
#include <new>

#include "platform/platform.h"

// Exhausted memory ends the process at once with a short report, instead of an exception that
// no caller is prepared to handle. Only the plain throwing forms are replaced: the nothrow forms
// already report failure as a null pointer, and the program allocates nothing over-aligned.
namespace {
void* allocate_or_die(std::size_t bytes) {
  void* p = std::malloc(bytes == 0 ? 1 : bytes);
  if (p == nullptr) corvandel::native_platform().fail_out_of_memory(bytes);
  return p;
}

}  // namespace

void* operator new(std::size_t bytes) {
  return allocate_or_die(bytes);
}
void* operator new[](std::size_t bytes) {
  return allocate_or_die(bytes);
}
