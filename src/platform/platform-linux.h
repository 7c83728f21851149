// Parts of the Linux platform layer that its test doubles reuse. The program itself uses only
// platform.h.
#pragma once

#include "base/result.h"

namespace corvandel::linux_os {

/// The error for `code` (an errno value) as this platform reports it: the C library's text, then
/// " (os error N)", and the matching kind.
Error os_error(int code);

}  // namespace corvandel::linux_os
