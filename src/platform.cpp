// The platform switch shared by every build.
#include "platform.h"

#include <cstring>

namespace corvandel {

namespace {
Platform* installed = nullptr;
}  // namespace

Platform& platform() {
  return installed != nullptr ? *installed : native_platform();
}

void install_platform(Platform* replacement) {
  installed = replacement;
}

void grow_file_buffer(FileData& data, std::size_t& capacity) {
  std::size_t larger = capacity * 2;
  auto grown = std::make_unique_for_overwrite<char[]>(larger);
  std::memcpy(grown.get(), data.bytes.get(), data.size);
  data.bytes = std::move(grown);
  capacity = larger;
}

const char* error_kind_name(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::not_found:
      return "not found";
    case ErrorKind::permission_denied:
      return "permission denied";
    case ErrorKind::already_exists:
      return "already exists";
    case ErrorKind::is_a_directory:
      return "is a directory";
    case ErrorKind::not_a_regular_file:
      return "not a regular file";
    case ErrorKind::invalid_input:
      return "invalid input";
    case ErrorKind::invalid_data:
      return "invalid data";
    case ErrorKind::storage_full:
      return "storage full";
    case ErrorKind::cross_device:
      return "cross-device link";
    case ErrorKind::unsupported:
      return "unsupported";
    case ErrorKind::broken_pipe:
      return "broken pipe";
    case ErrorKind::out_of_memory:
      return "out of memory";
    case ErrorKind::interrupted:
      return "interrupted";
    case ErrorKind::other:
      return "other";
  }
  return "other";
}

}  // namespace corvandel
