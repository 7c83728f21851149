// Written form, the one shape in which this program writes a list: upper-case words in strictly
// ascending byte-wise order, joined by single LFs, with no other whitespace, no empty word and no
// LF at the end. The check here is its one judge: a list read whole and a list read a piece at a
// time count as written only where this check has passed over their text, and only text it has
// passed over is copied on as it stands.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "base/file_data.h"
#include "list/word_key.h"
#include "text/block_scan.h"
#include "text/case_tables.h"
#include "text/utf8.h"

namespace corvandel {

enum class WrittenForm { written, not_written, not_utf8 };

/// The words of a list's stretches in turn, each judged above the one before: one thread's share
/// of the check. Each word is told, with its key, to a visitor as the check passes it, so that
/// work on every word (a merge) rides on the check's own scan.
class WrittenFormWalk {
 public:
  /// Judges the next stretch of the list: whole words, from the list's start or just after an LF
  /// to just before an LF or the list's end. An LF must stand right after the stretch, and kSlack
  /// bytes after it must be readable. Stops at the first sign that the list is not in written
  /// form, or not UTF-8. `visit(word, length, key)` is called for each word judged to follow the
  /// one before, in order.
  template <class Visit>
  WrittenForm check(std::string_view stretch, Visit&& visit);
  WrittenForm check(std::string_view stretch) {
    return check(stretch, [](const char*, std::size_t, std::uint64_t) {});
  }

  /// Judges what follows as if the stretch judged last had ended with `word`: a piece of a list
  /// judged apart from the pieces before it, which must then each have been judged written.
  void continue_after(std::string_view word);
  std::string_view last_word() const { return previous_word_; }

 private:
  // Takes the word [word, word + length), whose key is `key`, as the next: true when it is not
  // empty and above the last one.
  [[gnu::always_inline]] bool follows(const char* word, std::size_t length, std::uint64_t key) {
    const std::string_view current(word, length);
    const bool above =
        length != 0 && (first_ || sorts_below(previous_key_, previous_word_, key, current));
    first_ = false;
    previous_word_ = current;
    previous_key_ = key;
    return above;
  }

  bool first_ = true;
  std::uint64_t previous_key_ = 0;
  std::string_view previous_word_;  // in the stretch being judged, or in previous_
  std::string previous_;            // the last word of the stretch before
};

/// Judges a list's text against written form, a long stretch on two cores, a half on each.
class WrittenFormCheck {
 public:
  /// Judges stretches of `two_cores_from` bytes or more on two cores.
  explicit WrittenFormCheck(std::size_t two_cores_from) : two_cores_from_(two_cores_from) {}

  /// Judges the next stretch of the list, as WrittenFormWalk::check does.
  WrittenForm check(std::string_view stretch);

 private:
  std::size_t two_cores_from_;
  WrittenFormWalk first_, second_;
};

// 64 bytes at a time from their byte classes, each word's key against the last one's, words
// longer than a block character by character.
template <class Visit>
WrittenForm WrittenFormWalk::check(std::string_view stretch, Visit&& visit) {
  using unicode::kBlock;
  if (stretch.empty()) return WrittenForm::not_written;  // an empty word, or an empty list
  const char* p = stretch.data();
  const char* const end = p + stretch.size();  // an LF stands there
  // Takes the word [word, lf) as the next, and tells it on.
  const auto next_word = [&](const char* word, const char* lf) __attribute__((always_inline)) {
    const std::size_t length = static_cast<std::size_t>(lf - word);
    const std::uint64_t key = word_key(word, length, length + kSlack);
    if (!follows(word, length, key)) return false;
    visit(word, length, key);
    return true;
  };
  // Up to the LF at `end` too: the word that ends there is judged like any other, also when it is
  // empty because the stretch ends in an LF.
  while (p <= end) {
    const unicode::ByteClasses classes = unicode::classify_64(p);
    const std::size_t left = static_cast<std::size_t>(end - p);
    const std::uint64_t within =
        left >= kBlock ? ~std::uint64_t{0} : (std::uint64_t{1} << left) - 1;
    const std::uint64_t ending = left < kBlock ? std::uint64_t{1} << left : 0;
    std::uint64_t line_feeds = (classes.line_feeds & within) | ending;
    if ((classes.lower | (classes.whitespace & ~line_feeds)) & within) {
      return WrittenForm::not_written;
    }
    if (classes.non_ascii & within) {
      const unicode::BlockScan scan = unicode::scan_upper_block(p, classes);
      // A character that the end of the stretch cuts off is broken at the LF after it.
      if (scan.invalid & (within | ending)) return WrittenForm::not_utf8;
      if ((scan.changes | (scan.whitespace & ~line_feeds)) & within) {
        return WrittenForm::not_written;
      }
    }
    // The words that end in this block, each after the one before; the next block starts at
    // the first word that does not.
    const char* word = p;
    for (; line_feeds != 0; line_feeds &= line_feeds - 1) {
      const char* const lf = p + std::countr_zero(line_feeds);
      if (!next_word(word, lf)) return WrittenForm::not_written;
      word = lf + 1;
    }
    if (word == p) {  // a word longer than the block: its characters one by one
      const char* const lf = static_cast<const char*>(std::memchr(p, '\n', left + 1));
      const unicode::WordScan scan = unicode::scan_word(std::string_view(p, lf - p));
      if (scan.length == unicode::kNotUtf8) return WrittenForm::not_utf8;
      if (scan.length != static_cast<std::size_t>(lf - p) || scan.changes) {
        return WrittenForm::not_written;
      }
      if (!next_word(p, lf)) return WrittenForm::not_written;
      word = lf + 1;
    }
    p = word;
  }
  continue_after(previous_word_);
  return WrittenForm::written;
}

}  // namespace corvandel
