// The case tables: what upper-casing does to each character, by the Unicode 16.0 default full
// upper-case mapping in the generated tables of unicode_tables.inc, and the tables of the
// two-byte characters derived from it at compile time for the fast paths; and what it does to a
// word. The block scan and upper-casing both look characters up here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/bytes.h"

namespace corvandel::unicode {

/// What upper-casing does to a character.
enum CaseChange : std::uint8_t { kKeeps, kSameLength, kOtherLength };

/// What upper-casing does to the character `c`.
CaseChange case_change(char32_t c);

/// Three-byte characters led by E4 to E9 (U+4000 to U+9FFF: CJK ideographs and Yijing hexagrams)
/// have no case, so words of them need only be validated.
constexpr bool is_caseless_lead(Byte b) {
  return b >= 0xE4 && b <= 0xE9;
}

/// What upper-casing does to the 64 two-byte characters of one lead byte (C0 to DF): bit n of
/// each mask stands for the character whose second byte is 0x80 + n. `kept_first` to
/// `kept_last` (the low six bits of second bytes) is the longest run of characters that keep
/// their case (the capitals of a script, say); none when `kept_first` is above `kept_last`.
struct TwoByteCase {
  std::uint64_t changes;
  std::uint64_t resizes;
  Byte kept_first;
  Byte kept_last;
};

const TwoByteCase& two_byte_case(Byte lead);

/// The upper case of each two-byte character that is one two-byte character too (itself when it
/// has no case), indexed by code point; 0 for the few whose upper case is longer or more than one.
extern const std::array<char16_t, 0x800> kTwoByteUpper;

/// The longest upper-case form of one character, in bytes: three characters of four bytes.
inline constexpr std::size_t kMaxUpperBytes = 12;

/// Writes the UTF-8 upper-case form of `c` to `out` (kMaxUpperBytes long) and returns its length,
/// or returns 0 when `c` is its own upper case.
std::size_t encode_upper(char32_t c, char* out);

/// What a word holds, as far as upper-casing it goes.
struct WordScan {
  std::size_t length;  ///< bytes up to the first whitespace character or the end, or kNotUtf8
  bool changes;        ///< some character has an upper case other than itself
  bool keeps_length;   ///< every character's upper case has the character's byte length
};

/// Scans the run of characters other than whitespace that starts `text`: validates it as UTF-8
/// (with the character that ends it) and looks up the upper case of each character.
WordScan scan_word(std::string_view text);

}  // namespace corvandel::unicode
