// UTF-8 validation, the whitespace set and the default full upper-case mapping (Unicode 16.0).
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvandel::unicode {

/// True when `text` is well-formed UTF-8: no overlong forms, no surrogates, nothing above
/// U+10FFFF, no truncated sequence.
bool is_valid_utf8(std::string_view text);

/// What the bytes of a 64-byte block are: bit i of each mask describes byte i.
struct ByteClasses {
  std::uint64_t whitespace;  ///< ASCII whitespace: 0x09..0x0D and 0x20
  std::uint64_t non_ascii;   ///< 0x80 and up: part of a multi-byte sequence
  std::uint64_t lower;       ///< 'a' to 'z'
  std::uint64_t line_feeds;  ///< 0x0A
};

/// Classifies the 64 bytes at `p`, eight bytes at a time in general-purpose registers.
ByteClasses classify_64_portable(const char* p);

/// Classifies the 64 bytes at `p`: with SSE2 where the target has it. Inline, as the word scan
/// calls it for every block.
inline ByteClasses classify_64(const char* p) {
#if defined(__SSE2__)
  ByteClasses classes{0, 0, 0, 0};
  const __m128i tab = _mm_set1_epi8(0x09);
  const __m128i line_feed = _mm_set1_epi8(0x0A);
  const __m128i four = _mm_set1_epi8(4);
  const __m128i space = _mm_set1_epi8(0x20);
  const __m128i a = _mm_set1_epi8('a');
  const __m128i twenty_five = _mm_set1_epi8(25);
  for (int i = 0; i < 4; ++i) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
    // lo <= x <= lo + n is x - lo <= n, unsigned.
    const __m128i from_tab = _mm_sub_epi8(v, tab);
    const __m128i controls = _mm_cmpeq_epi8(_mm_min_epu8(from_tab, four), from_tab);
    const __m128i whitespace = _mm_or_si128(controls, _mm_cmpeq_epi8(v, space));
    const __m128i from_a = _mm_sub_epi8(v, a);
    const __m128i lower = _mm_cmpeq_epi8(_mm_min_epu8(from_a, twenty_five), from_a);
    const int shift = 16 * i;
    classes.whitespace |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(whitespace))}
                          << shift;
    classes.non_ascii |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(v))} << shift;
    classes.lower |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(lower))} << shift;
    classes.line_feeds |=
        std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, line_feed)))}
        << shift;
  }
  return classes;
#else
  return classify_64_portable(p);
#endif
}

/// What the characters of a 64-byte block that holds non-ASCII bytes are, taken from its first
/// byte on; bit i of each mask describes byte i. A character that the block cuts off at its end is
/// judged with the bytes after the block (at least three more must be readable).
struct BlockScan {
  std::uint64_t invalid;     ///< bytes where the UTF-8 structure is broken (none for a character
                             ///< cut off at the end)
  std::uint64_t whitespace;  ///< every byte of each whitespace character
  std::uint64_t changes;  ///< the first byte of each non-ASCII character that upper-casing changes
  std::uint64_t resizes;  ///< the first byte of each one whose upper case has another length
};

/// Scans the 64 bytes at `p`, whose classes are `classes`: the UTF-8 structure from the classes of
/// lead and continuation bytes (with SSE2 where the target has it), whitespace beyond ASCII by its
/// lead bytes, and what upper-casing does from a table per character.
BlockScan scan_block(const char* p, const ByteClasses& classes);

/// The same, byte by byte: the portable reference of scan_block's masks.
BlockScan scan_block_portable(const char* p, const ByteClasses& classes);

/// Upper-cases the ASCII letters among the `length` bytes at `p`, leaving every other byte as it
/// is (so valid UTF-8 stays valid).
void upper_ascii_letters(char* p, std::size_t length);

/// Returned by the scanning functions below for text that is not well-formed UTF-8.
inline constexpr std::size_t kNotUtf8 = static_cast<std::size_t>(-1);

/// What a word holds, as far as upper-casing it goes.
struct WordScan {
  std::size_t length;  ///< bytes up to the first whitespace character or the end, or kNotUtf8
  bool changes;        ///< some character has an upper case other than itself
  bool keeps_length;   ///< every character's upper case has the character's byte length
};

/// Scans the run of characters other than whitespace that starts `text`: validates it as UTF-8
/// (with the character that ends it) and looks up the upper case of each character.
WordScan scan_word(std::string_view text);

/// The byte length of the run of whitespace characters that starts `text`, or kNotUtf8 when the
/// run, or the character that ends it, is not well-formed UTF-8.
std::size_t whitespace_run_length(std::string_view text);

/// True for the ASCII characters of the White_Space property: U+0009..U+000D and U+0020.
inline bool is_ascii_whitespace(unsigned char b) {
  return b == 0x20 || (b >= 0x09 && b <= 0x0D);
}

/// True for the characters of the White_Space property: U+0009..U+000D, U+0020, U+0085, U+00A0,
/// U+1680, U+2000..U+200A, U+2028, U+2029, U+202F, U+205F, U+3000.
bool is_whitespace(char32_t c);

/// The byte length of the whitespace character that starts `text`, or 0 when `text` is empty or
/// starts with anything else. `text` must be valid UTF-8.
std::size_t whitespace_length(std::string_view text);

/// `text` without whitespace at either end. `text` must be valid UTF-8.
std::string_view trim_whitespace(std::string_view text);

/// Appends the full upper-case form of valid UTF-8 `word` to `out` (ß becomes SS, ŉ becomes ʼN,
/// ﬁ becomes FI; no locale or context rules).
void append_upper(std::string_view word, std::string& out);

/// Upper-cases valid UTF-8 `word` in place; every character's upper case must have the
/// character's byte length (WordScan::keeps_length).
void upper_in_place_keeping_length(char* word, std::size_t length);

}  // namespace corvandel::unicode
