// Upper-casing: the Unicode 16.0 default full upper-case mapping (ß becomes SS, ŉ becomes ʼN, ﬁ
// becomes FI; no locale or context rules), from the generated tables in unicode_tables.inc; what
// upper-casing does to a character and to a word, and upper-casing in place or appended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
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

/// What a word holds, as far as upper-casing it goes.
struct WordScan {
  std::size_t length;  ///< bytes up to the first whitespace character or the end, or kNotUtf8
  bool changes;        ///< some character has an upper case other than itself
  bool keeps_length;   ///< every character's upper case has the character's byte length
};

/// Scans the run of characters other than whitespace that starts `text`: validates it as UTF-8
/// (with the character that ends it) and looks up the upper case of each character.
WordScan scan_word(std::string_view text);

/// Appends the full upper-case form of valid UTF-8 `word` to `out`.
void append_upper(std::string_view word, std::string& out);

/// Upper-cases valid UTF-8 `word` in place; every character's upper case must have the
/// character's byte length (WordScan::keeps_length).
void upper_in_place(char* word, std::size_t length);

}  // namespace corvandel::unicode
