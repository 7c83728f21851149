// The sort key of a word: its first eight bytes as one number, so that most comparisons of words
// in byte-wise order are one comparison of keys.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "base/bytes.h"

namespace corvandel {

// kFirstBytes[n]: the first n (0 to 8) bytes of a little-endian load.
inline constexpr std::uint64_t kFirstBytes[9] = {0,
                                                 0xFF,
                                                 0xFFFF,
                                                 0xFFFFFF,
                                                 0xFFFFFFFF,
                                                 0xFFFFFFFFFF,
                                                 0xFFFFFFFFFFFF,
                                                 0xFFFFFFFFFFFFFF,
                                                 0xFFFFFFFFFFFFFFFF};

/// The byte-wise sort key of the `length`-byte word at `p`: its first eight bytes, big-endian,
/// zero-padded. Two words with different keys compare as their keys; equal keys need the words.
/// `readable` is how many bytes from `p` may be read; with eight or more, the bytes are loaded
/// whole and the ones past the word masked off.
[[gnu::always_inline]] inline std::uint64_t word_key(const char* p, std::size_t length,
                                                     std::size_t readable) {
  if constexpr (std::endian::native == std::endian::little) {
    if (readable >= 8) {
      return __builtin_bswap64(load8(p) & kFirstBytes[std::min<std::size_t>(length, 8)]);
    }
  }
  std::uint64_t bytes = 0;
  std::memcpy(&bytes, p, std::min<std::size_t>(length, 8));
  if constexpr (std::endian::native == std::endian::little) return __builtin_bswap64(bytes);
  return bytes;  // big-endian: the first byte is already the most significant
}

inline std::uint64_t word_key(std::string_view word) {
  return word_key(word.data(), word.size(), word.size());
}

/// Whether the word `a` sorts below the word `b`, two words with the same key: by their next
/// eight bytes as one number where both have them, and by the rest of the words after that. Words
/// in one script share their first eight bytes often (four Greek or Cyrillic letters), and a
/// call to compare the whole words for each of them would cost more than the comparison itself.
[[gnu::always_inline]] inline bool tail_sorts_below(std::string_view a, std::string_view b) {
  if (a.size() < 16 || b.size() < 16) return a < b;
  const std::uint64_t a_next = word_key(a.data() + 8, 8, 8), b_next = word_key(b.data() + 8, 8, 8);
  if (a_next != b_next) return a_next < b_next;
  return a.substr(16) < b.substr(16);
}

/// Whether the word `a`, whose key is `a_key`, sorts below the word `b`, whose key is `b_key`: by
/// the keys, and by the rest of the words where the keys are equal.
[[gnu::always_inline]] inline bool sorts_below(std::uint64_t a_key, std::string_view a,
                                               std::uint64_t b_key, std::string_view b) {
  return a_key < b_key || (a_key == b_key && tail_sorts_below(a, b));
}

}  // namespace corvandel
