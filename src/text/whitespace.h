// The whitespace set, which separates the words of a list and is trimmed from the base
// directory: the characters of the Unicode White_Space property, in one table. The fast paths
// that recognise whitespace without looking at the table (the byte classes and lead-byte masks
// of the block scan, the word scan) rely on what the static_asserts below state of it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

#include "base/bytes.h"
#include "text/utf8.h"

namespace corvandel::unicode {

/// The set. Nothing else counts as whitespace (not U+200B, not U+FEFF).
inline constexpr char32_t kWhitespace[] = {0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x0020, 0x0085,
                                           0x00A0, 0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
                                           0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028,
                                           0x2029, 0x202F, 0x205F, 0x3000};

constexpr bool is_whitespace(char32_t c) {
  return std::find(std::begin(kWhitespace), std::end(kWhitespace), c) != std::end(kWhitespace);
}

/// The members below U+0080, as the block scan classifies bytes: U+0009..U+000D and U+0020.
constexpr bool is_ascii_whitespace(Byte b) {
  return b == 0x20 || (b >= 0x09 && b <= 0x0D);
}

/// The lead bytes of the members beyond ASCII: the word scan and the block scan look closer at
/// characters led by these (the block scan compares with the first and with the range of the
/// others), and at no others.
inline constexpr Byte kWhitespaceLeads[] = {0xC2, 0xE1, 0xE2, 0xE3};

constexpr bool is_whitespace_lead(Byte b) {
  return b == kWhitespaceLeads[0] || (b >= kWhitespaceLeads[1] && b <= kWhitespaceLeads[3]);
}

static_assert([] {
  for (char32_t c = 0; c < 0x80; ++c) {
    if (is_whitespace(c) != is_ascii_whitespace(static_cast<Byte>(c))) return false;
  }
  for (char32_t c : kWhitespace) {
    char encoded[4];
    // Lead bytes of the members, and none above three bytes (so that a run of whitespace at
    // the end of a text is found by looking back three bytes at most).
    if (c >= 0x80 && (encode(c, encoded) > 3 || !is_whitespace_lead(Byte(encoded[0])))) {
      return false;
    }
  }
  return kWhitespaceLeads[2] == kWhitespaceLeads[1] + 1 &&
         kWhitespaceLeads[3] == kWhitespaceLeads[2] + 1;
}());

/// The byte length of the whitespace character that starts `text`, or 0 when `text` is empty or
/// starts with anything else (a sequence that is not well-formed included).
std::size_t whitespace_length(std::string_view text);

/// The byte length of the run of whitespace characters that starts `text`, or kNotUtf8 when the
/// run, or the character that ends it, is not well-formed UTF-8.
std::size_t whitespace_run_length(std::string_view text);

/// `text` without whitespace at either end. `text` must be valid UTF-8.
std::string_view trim_whitespace(std::string_view text);

}  // namespace corvandel::unicode
