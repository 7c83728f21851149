// Text as bytes: the unsigned byte that every scan looks at, loads of eight bytes at a time from
// any offset, and the masks that treat such a load as eight bytes side by side.
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

/// 0x01 in each byte of a 64-bit word: times a byte, that byte in all eight.
inline constexpr std::uint64_t kEachByte = 0x0101010101010101;
/// The high bit of each byte of a 64-bit word, which is set in the bytes that are not ASCII.
inline constexpr std::uint64_t kHighBits = 0x80 * kEachByte;

}  // namespace corvandel
