// ASCII upper-casing: of one byte, and of the ASCII letters of a run of bytes in place, which
// reading does to whole blocks of a list and upper-casing to the ASCII start of a word.
#pragma once

#include <cstddef>

#include "base/bytes.h"

namespace corvandel::unicode {

/// The upper case of byte `b`: 'a' to 'z' become 'A' to 'Z', every other byte stays as it is.
constexpr char upper_ascii_char(Byte b) {
  return static_cast<char>(b >= 'a' && b <= 'z' ? b - 0x20 : b);
}

/// Upper-cases the ASCII letters among the `length` bytes at `p`, leaving every other byte as it
/// is (so valid UTF-8 stays valid).
void upper_ascii_letters(char* p, std::size_t length);

}  // namespace corvandel::unicode
