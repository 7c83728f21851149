// Text as bytes: the unsigned byte that every scan looks at, and loads of eight bytes at a time
// from any offset.
#pragma once

#include <cstdint>
#include <cstring>

namespace corvandel {

using Byte = unsigned char;

inline const Byte* bytes(const char* p) {
  return reinterpret_cast<const Byte*>(p);
}

/// The eight bytes at `p`, in the machine's byte order; `p` need not be aligned.
inline std::uint64_t load8(const void* p) {
  std::uint64_t value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

}  // namespace corvandel
