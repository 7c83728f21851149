// The block scan: text 64 bytes at a time, each byte a bit of 64-bit masks, from which reading,
// the check of written form and the merge walk find whitespace, words, UTF-8 structure and case
// changes without looking at most bytes one by one. SSE2 where the target has it, and a portable
// version of each kernel beside it, which the tests hold the SSE2 one to.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvandel::unicode {

/// Text is scanned in blocks of this many bytes, one bit per byte in a 64-bit mask.
inline constexpr std::size_t kBlock = 64;

/// What the bytes of a 64-byte block are: bit i of each mask describes byte i.
struct ByteClasses {
  std::uint64_t whitespace;  ///< ASCII whitespace: 0x09..0x0D and 0x20
  std::uint64_t non_ascii;   ///< 0x80 and up: part of a multi-byte sequence
  std::uint64_t lower;       ///< 'a' to 'z'
  std::uint64_t line_feeds;  ///< 0x0A

  bool operator==(const ByteClasses&) const = default;
};

/// Classifies the 64 bytes at `p`.
ByteClasses classify_64(const char* p);
/// The same, eight bytes at a time in general-purpose registers.
ByteClasses classify_64_portable(const char* p);

/// What the characters of a 64-byte block that holds non-ASCII bytes are, taken from its first
/// byte on; bit i of each mask describes byte i. A character that the block cuts off at its end is
/// judged with the bytes after the block (at least three more must be readable).
struct BlockScan {
  std::uint64_t invalid;     ///< bytes where the UTF-8 structure is broken (none for a character
                             ///< cut off at the end)
  std::uint64_t whitespace;  ///< every byte of each whitespace character
  std::uint64_t changes;  ///< the first byte of each non-ASCII character that upper-casing changes
  std::uint64_t resizes;  ///< the first byte of each one whose upper case has another length

  bool operator==(const BlockScan&) const = default;
};

/// Scans the 64 bytes at `p`, whose classes are `classes`: the UTF-8 structure from the classes of
/// lead and continuation bytes, whitespace beyond ASCII by its lead bytes, and what upper-casing
/// does from a table per character.
BlockScan scan_block(const char* p, const ByteClasses& classes);
/// The same for text that should be in upper case, as a list in written form: a block whose
/// characters beyond ASCII are all of one lead byte and keep their case (text of one script in
/// upper case) is judged from the masks of that lead alone.
BlockScan scan_upper_block(const char* p, const ByteClasses& classes);
/// The same as `scan_block`, byte by byte.
BlockScan scan_block_portable(const char* p, const ByteClasses& classes);

}  // namespace corvandel::unicode
