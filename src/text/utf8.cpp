// UTF-8 validation: ASCII skipped in whole words of bytes, every other character by its lead
// byte.
#include "text/utf8.h"

#include <cstdint>

#include "base/bytes.h"

namespace corvandel::unicode {
namespace {

bool is_ascii8(const Byte* p) {
  return (load8(p) & kHighBits) == 0;
}

bool is_ascii16(const Byte* p) {
  return ((load8(p) | load8(p + 8)) & kHighBits) == 0;
}

}  // namespace

const Byte* skip_ascii(const Byte* p, const Byte* end) {
  while (end - p >= 16 && is_ascii16(p)) p += 16;
  while (end - p >= 8 && is_ascii8(p)) p += 8;
  while (p != end && *p < 0x80) ++p;
  return p;
}

std::size_t first_ill_formed(std::string_view text) {
  const Byte* const begin = bytes(text.data());
  const Byte* const end = begin + text.size();
  for (const Byte* p = begin; p != end;) {
    if (*p < 0x80) {
      p = skip_ascii(p, end);
      continue;
    }
    const std::size_t length = multibyte_length(p, static_cast<std::size_t>(end - p));
    if (length == 0) return static_cast<std::size_t>(p - begin);
    p += length;
  }
  return std::string_view::npos;
}

}  // namespace corvandel::unicode
