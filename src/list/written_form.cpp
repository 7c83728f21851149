// The check of written form: 64 bytes at a time from their byte classes, each word's key against
// the last one's, words longer than a block character by character; a long stretch split in two
// halves, judged on two cores.
#include "list/written_form.h"

#include <bit>
#include <cstring>

#include "base/file_data.h"
#include "base/two_cores.h"
#include "list/word_key.h"
#include "text/block_scan.h"
#include "text/upper_case.h"
#include "text/utf8.h"

namespace corvandel {

using unicode::kBlock;

WrittenForm WrittenFormCheck::Walk::check(std::string_view stretch) {
  if (stretch.empty()) return WrittenForm::not_written;  // an empty word, or an empty list
  const char* p = stretch.data();
  const char* const end = p + stretch.size();  // an LF stands there
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
      const unicode::BlockScan scan = unicode::scan_block(p, classes);
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
      if (!follows(word, lf)) return WrittenForm::not_written;
      word = lf + 1;
    }
    if (word == p) {  // a word longer than the block: its characters one by one
      const char* const lf = static_cast<const char*>(std::memchr(p, '\n', left + 1));
      const unicode::WordScan scan = unicode::scan_word(std::string_view(p, lf - p));
      if (scan.length == unicode::kNotUtf8) return WrittenForm::not_utf8;
      if (scan.length != static_cast<std::size_t>(lf - p) || scan.changes) {
        return WrittenForm::not_written;
      }
      if (!follows(p, lf)) return WrittenForm::not_written;
      word = lf + 1;
    }
    p = word;
  }
  continue_after(previous_word_);
  return WrittenForm::written;
}

void WrittenFormCheck::Walk::continue_after(std::string_view word) {
  previous_.assign(word.data(), word.size());
  previous_word_ = previous_;
  previous_key_ = word_key(previous_);
  first_ = false;
}

// Takes the word [word, end) as the next: true when it is not empty and above the last one.
bool WrittenFormCheck::Walk::follows(const char* word, const char* end) {
  const std::string_view current(word, static_cast<std::size_t>(end - word));
  const std::uint64_t key = word_key(word, current.size(), current.size() + kSlack);
  const bool above =
      !current.empty() && (first_ || sorts_below(previous_key_, previous_word_, key, current));
  first_ = false;
  previous_word_ = current;
  previous_key_ = key;
  return above;
}

// A long stretch: the words from the first that starts after the middle are judged on a second
// thread, which takes the word before them as the last one judged. The verdict is the first
// half's, unless that half is in written form.
WrittenForm WrittenFormCheck::check(std::string_view stretch) {
  const std::size_t middle = stretch.size() < two_cores_from_
                                 ? std::string_view::npos
                                 : stretch.find('\n', stretch.size() / 2);
  if (middle == std::string_view::npos || middle == 0) return first_.check(stretch);
  const std::size_t before = stretch.rfind('\n', middle - 1);
  const std::size_t start = before == std::string_view::npos ? 0 : before + 1;
  second_.continue_after(stretch.substr(start, middle - start));
  WrittenForm earlier = WrittenForm::written, later = WrittenForm::written;
  run_on_two_cores([&] { earlier = first_.check(stretch.substr(0, middle)); },
                   [&] { later = second_.check(stretch.substr(middle + 1)); });
  if (earlier != WrittenForm::written) return earlier;
  if (later == WrittenForm::written) first_.continue_after(second_.last_word());
  return later;
}

}  // namespace corvandel
