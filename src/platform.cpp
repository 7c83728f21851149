// The platform switch shared by every build, and the program's allocation-failure policy.
#include "platform.h"

#include <cstdlib>
#include <new>

namespace corvandel {

namespace {
Platform* installed = nullptr;
}  // namespace

Platform& platform() { return installed != nullptr ? *installed : native_platform(); }

void install_platform(Platform* replacement) { installed = replacement; }

const char* error_kind_name(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::not_found: return "not found";
    case ErrorKind::permission_denied: return "permission denied";
    case ErrorKind::already_exists: return "already exists";
    case ErrorKind::is_a_directory: return "is a directory";
    case ErrorKind::not_a_regular_file: return "not a regular file";
    case ErrorKind::invalid_input: return "invalid input";
    case ErrorKind::invalid_data: return "invalid data";
    case ErrorKind::storage_full: return "storage full";
    case ErrorKind::cross_device: return "cross-device link";
    case ErrorKind::unsupported: return "unsupported";
    case ErrorKind::broken_pipe: return "broken pipe";
    case ErrorKind::out_of_memory: return "out of memory";
    case ErrorKind::interrupted: return "interrupted";
    case ErrorKind::other: return "other";
  }
  return "other";
}

}  // namespace corvandel

// Exhausted memory ends the process at once with a short report, instead of an exception that
// no caller is prepared to handle. Only the plain throwing forms are replaced: the nothrow forms
// already report failure as a null pointer, and the program allocates nothing over-aligned.
namespace {
void* allocate_or_die(std::size_t bytes) {
  void* p = std::malloc(bytes == 0 ? 1 : bytes);
  if (p == nullptr) corvandel::fail_out_of_memory(bytes);
  return p;
}

}  // namespace

void* operator new(std::size_t bytes) { return allocate_or_die(bytes); }
void* operator new[](std::size_t bytes) { return allocate_or_die(bytes); }
