// A list file read whole into its words: UTF-8 text split at the Unicode whitespace set, each word
// upper-cased with the default full mapping (ß becomes SS; no locale or context rules). A list
// already in written form is kept as its text, only checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "base/file_data.h"
#include "base/result.h"
#include "base/tunables.h"
#include "list/word_key.h"

namespace corvandel {

/// Where one word of a list lies, in eight bytes, so that lists of millions of words stay
/// compact. Only its WordList reads it.
class WordRef {
 public:
  WordRef() = default;

 private:
  friend class WordList;
  friend class ListParser;

  // A byte offset below 2^40 into the list's text, or past the text's end into its spill buffer,
  // and a length below 2^24; a longer word is kept in the spill buffer with its length in front.
  static constexpr std::uint64_t kOffsetLimit = std::uint64_t{1} << 40;
  static constexpr std::uint64_t kLongLength = (std::uint64_t{1} << 24) - 1;

  WordRef(std::uint64_t offset, std::uint64_t length) : bits_(offset | (length << 40)) {}
  std::uint64_t offset() const { return bits_ & (kOffsetLimit - 1); }
  std::uint64_t short_length() const { return bits_ >> 40; }

  std::uint64_t bits_ = 0;
};

/// The words of one list file.
///
/// Words lie in the file's own buffer, upper-cased in place where the byte length allows; the
/// others are copied to a spill buffer of the list's own.
///
/// A list in written form (as this program writes it, judged by WrittenFormCheck) needs no
/// references: its words are the LF-separated pieces of text(). Any other list has a reference for
/// each word, in order of appearance until it is sorted.
class WordList {
 public:
  bool empty() const { return !written_form_ && refs_.empty(); }
  /// True when the words stand in strictly ascending byte-wise order (so are distinct).
  bool sorted_distinct() const { return sorted_distinct_; }
  bool written_form() const { return written_form_; }

  /// The file's bytes, as upper-cased in place; in written form, kSlack readable bytes follow.
  std::string_view text() const { return text_.view(); }

  /// A reference per word, for a list not in written form (one in written form has none).
  std::span<WordRef> refs() { return refs_; }
  std::span<const WordRef> refs() const { return refs_; }

  std::string_view word(WordRef ref) const {
    const std::uint64_t offset = ref.offset();
    const std::uint64_t length = ref.short_length();
    if (offset < text_.size) {
      return {text_.bytes.get() + offset, static_cast<std::size_t>(length)};
    }
    return spilled_word(offset - text_.size, length);
  }

  /// True when the word of `ref` lies in text(), false when it lies in the spill buffer.
  bool in_text(WordRef ref) const { return ref.offset() < text_.size; }

  /// The sort key of the word of `ref` from byte `depth` on (its first `depth` bytes set aside).
  [[gnu::always_inline]] std::uint64_t key(WordRef ref, std::size_t depth = 0) const {
    const std::uint64_t offset = ref.offset();
    if (offset < text_.size) {
      return word_key(text_.bytes.get() + offset + depth,
                      static_cast<std::size_t>(ref.short_length() - depth),
                      static_cast<std::size_t>(text_.size - offset - depth));
    }
    return word_key(word(ref).substr(depth));
  }

  /// Asks for the cache line of the word's byte at `depth` early: words in sorted order lie
  /// scattered over the text.
  void prefetch(WordRef ref, std::size_t depth) const {
    if (ref.offset() < text_.size) __builtin_prefetch(text_.bytes.get() + ref.offset() + depth);
  }

 private:
  friend class ListParser;
  friend Result<WordList> parse_word_list(FileData text, const Tunables& tunables);

  std::string_view spilled_word(std::uint64_t offset, std::uint64_t length) const;

  FileData text_;
  std::vector<char> spill_;
  std::vector<WordRef> refs_;
  bool sorted_distinct_ = true;
  bool written_form_ = true;
};

/// Validates, splits and upper-cases a list file's content, which has kSlack bytes of room after
/// it (FileData::allocate); a list in written form is only checked.
Result<WordList> parse_word_list(FileData text, const Tunables& tunables);

}  // namespace corvandel
