// Loads of machine words from text at any byte offset.
#pragma once

#include <cstdint>
#include <cstring>

namespace corvandel {

/// The eight bytes at `p`, in the machine's byte order; `p` need not be aligned.
inline std::uint64_t load8(const void* p) {
  std::uint64_t value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

}  // namespace corvandel
