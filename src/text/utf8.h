// UTF-8 as the Unicode Standard defines it (no overlong forms, no surrogates, nothing above
// U+10FFFF): what each lead byte allows, validation, and the decoding and encoding of one
// character.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "base/bytes.h"

namespace corvandel::unicode {

/// Returned by the scanning functions for text that is not well-formed UTF-8.
inline constexpr std::size_t kNotUtf8 = static_cast<std::size_t>(-1);

/// What a lead byte allows: the sequence length and the range of its second byte. The narrower
/// ranges after E0, ED, F0 and F4 are what rule out overlong forms, surrogates and code points
/// above U+10FFFF (Table 3-7 of the Unicode Standard). Length 0 marks bytes that never lead.
struct LeadByte {
  Byte length;
  Byte second_min;
  Byte second_max;
};

constexpr LeadByte lead_byte(unsigned b) {
  if (b >= 0xC2 && b <= 0xDF) return {2, 0x80, 0xBF};
  if (b == 0xE0) return {3, 0xA0, 0xBF};
  if (b == 0xED) return {3, 0x80, 0x9F};
  if (b >= 0xE1 && b <= 0xEF) return {3, 0x80, 0xBF};
  if (b == 0xF0) return {4, 0x90, 0xBF};
  if (b >= 0xF1 && b <= 0xF3) return {4, 0x80, 0xBF};
  if (b == 0xF4) return {4, 0x80, 0x8F};
  return {0, 0, 0};
}

/// lead_byte() of each byte from 0x80 on.
inline constexpr std::array<LeadByte, 128> kLeadBytes = [] {
  std::array<LeadByte, 128> table{};
  for (unsigned b = 0x80; b <= 0xFF; ++b) table[b - 0x80] = lead_byte(b);
  return table;
}();

inline bool is_continuation(Byte b) {
  return (b & 0xC0) == 0x80;
}

/// The length of the well-formed sequence at `p`, whose first byte is not ASCII, or 0.
[[gnu::always_inline]] inline std::size_t multibyte_length(const Byte* p, std::size_t available) {
  const LeadByte lead = kLeadBytes[p[0] - 0x80];
  if (lead.length == 0 || lead.length > available) return 0;
  if (p[1] < lead.second_min || p[1] > lead.second_max) return 0;
  for (std::size_t i = 2; i < lead.length; ++i) {
    if (!is_continuation(p[i])) return 0;
  }
  return lead.length;
}

/// The first byte in [p, end) that is not ASCII, or end.
const Byte* skip_ascii(const Byte* p, const Byte* end);

/// Where the first sequence of `text` that is not well-formed UTF-8 starts, or npos when there is
/// none: no overlong form, no surrogate, nothing above U+10FFFF, no truncated sequence.
std::size_t first_ill_formed(std::string_view text);

/// True when `text` is well-formed UTF-8.
inline bool is_valid_utf8(std::string_view text) {
  return first_ill_formed(text) == std::string_view::npos;
}

/// What decode_multibyte() gives for a byte that does not start a complete sequence.
inline constexpr char32_t kNoCodePoint = 0xFFFFFFFF;

struct Decoded {
  char32_t code_point;
  std::size_t length;
};

/// The character at `p`, whose first byte is not ASCII, decoded without validation (the text is
/// valid UTF-8 by contract): a byte that does not start a complete sequence is kNoCodePoint, one
/// byte long.
[[gnu::always_inline]] inline Decoded decode_multibyte(const Byte* p, std::size_t available) {
  const Byte lead = p[0];
  const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
  if (length == 0 || length > available) return {kNoCodePoint, 1};
  char32_t code_point = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) code_point = (code_point << 6) | (p[i] & 0x3F);
  return {code_point, length};
}

constexpr std::size_t encoded_length(char32_t c) {
  return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

/// Writes the UTF-8 encoding of `c` to `out`, which has room for four bytes; returns its length.
constexpr std::size_t encode(char32_t c, char* out) {
  const std::size_t length = encoded_length(c);
  if (length == 1) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  for (std::size_t i = length - 1; i > 0; --i, c >>= 6) {
    out[i] = static_cast<char>(0x80 | (c & 0x3F));
  }
  out[0] = static_cast<char>((0xF00 >> length) | c);
  return length;
}

}  // namespace corvandel::unicode
