// The names of the kinds of error, and the errors that the program makes itself.
#include "base/result.h"

namespace corvandel {

Error invalid_utf8_error() {
  return Error{ErrorKind::invalid_data, 0, "stream did not contain valid UTF-8"};
}

Error changed_meanwhile_error() {
  return Error{ErrorKind::changed_meanwhile, 0,
               "another program changed this list while the update ran; the list is left as that "
               "program left it, and running the update again completes the update"};
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
    case ErrorKind::busy:
      return "busy";
    case ErrorKind::changed_meanwhile:
      return "changed meanwhile";
    case ErrorKind::other:
      return "other";
  }
  return "other";
}

}  // namespace corvandel
