// The merge walk: both lists walked in order side by side, each word of either written once, in
// ascending byte-wise order, through the block writer. A list in written form is walked along its
// own text, and a run of its words below the other list's next word is found by a galloping
// search and handed on whole.
#include "list/merge_walk.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "base/bytes.h"
#include "base/file_data.h"
#include "list/list_writer.h"
#include "list/word_key.h"
#include "list/word_sort.h"
#include "list/written_form.h"

namespace corvandel {
namespace {

// A list's words in written form, as the written-form check has judged them: the LF-separated
// pieces of data[begin, end), in strictly ascending order, where `readable` bytes from `data` on
// may be loaded.
struct WrittenText {
  const char* data = nullptr;
  std::uint64_t readable = 0, begin = 0, end = 0;

  // The offset of the first LF from `offset` on, or the end. Words are short: eight bytes at a
  // time, the LFs among them found in a register (the first zero byte of x ^ LFs is exact).
  std::uint64_t line_feed_from(std::uint64_t offset) const {
    if constexpr (std::endian::native == std::endian::little) {
      for (std::uint64_t at = offset; at < end; at += 8) {
        const std::uint64_t x = load8(data + at) ^ (0x0A * kEachByte);
        const std::uint64_t zero = (x - kEachByte) & ~x & kHighBits;
        if (zero != 0) return std::min<std::uint64_t>(at + (std::countr_zero(zero) >> 3), end);
      }
      return end;
    }
    const void* lf = std::memchr(data + offset, '\n', static_cast<std::size_t>(end - offset));
    return lf == nullptr ? end : static_cast<std::uint64_t>(static_cast<const char*>(lf) - data);
  }

  // The start of the first word that begins after `offset`, or the end.
  std::uint64_t word_after(std::uint64_t offset) const {
    return std::min(line_feed_from(offset) + 1, end);
  }

  // The word that starts at `start`, up to the next LF or the end, and its key.
  std::string_view word_at(std::uint64_t start) const {
    return {data + start, static_cast<std::size_t>(line_feed_from(start) - start)};
  }
  std::uint64_t key_at(std::uint64_t start, std::string_view word) const {
    return word_key(word.data(), word.size(), static_cast<std::size_t>(readable - start));
  }

  // Whether the word from `start` to the LF at `lf` sorts below (key, word).
  bool below(std::uint64_t start, std::uint64_t lf, std::uint64_t key,
             std::string_view word) const {
    const std::string_view here(data + start, static_cast<std::size_t>(lf - start));
    return sorts_below(key_at(start, here), here, key, word);
  }

  // The start of the first word after the one at `start`, which sorts below (key, word), that
  // does not, or the end. The first few words are looked at one by one, as the words of two
  // lists often lie close together; then, as the words stand in order, the search leaps ahead,
  // each leap twice the last, halves what is left, and walks the last few words: in a long list
  // with few words to add, most of the list goes by unread.
  std::uint64_t first_not_below(std::uint64_t start, std::uint64_t key,
                                std::string_view word) const {
    constexpr int kWordsFirst = 4;
    constexpr std::uint64_t kFirstLeap = 64;
    std::uint64_t lf = line_feed_from(start);
    for (int n = 0; n < kWordsFirst; ++n) {
      if (lf >= end) return end;
      start = lf + 1;
      lf = line_feed_from(start);
      if (!below(start, lf, key, word)) return start;
    }
    std::uint64_t lo = start, hi = end;  // the word at lo sorts below; the answer is in (lo, hi]
    for (std::uint64_t leap = kFirstLeap; lo + leap < hi; leap *= 2) {
      const std::uint64_t next = word_after(lo + leap);
      if (next >= hi) break;
      if (!below(next, line_feed_from(next), key, word)) {
        hi = next;
        break;
      }
      lo = next;
    }
    while (hi - lo > kFirstLeap) {
      const std::uint64_t next = word_after(lo + (hi - lo) / 2);
      if (next >= hi) break;
      (below(next, line_feed_from(next), key, word) ? lo : hi) = next;
    }
    for (lf = line_feed_from(lo); lf < hi;) {
      const std::uint64_t next = lf + 1;
      lf = line_feed_from(next);
      if (!below(next, lf, key, word)) return next;
    }
    return hi;
  }
};

// The words of `span` of a list in written form: up to the end of its last word, before the LF
// that follows it where the span ends at the start of a word.
WrittenText text_of(const WordList& list, ListSpan span) {
  const std::uint64_t size = list.text().size();
  const std::uint64_t end = span.end == span.begin || span.end >= size ? span.end : span.end - 1;
  return {list.text().data(), size + kSlack, span.begin, end};
}

// Walks a sorted list's distinct words in order, each with its sort key. A list in written form
// is walked along its text.
class SortedWords {
 public:
  explicit SortedWords(const WordList& list) : SortedWords(list, all_words(list)) {}

  SortedWords(const WordList& list, ListSpan span)
      : SortedWords(list.written_form() ? text_of(list, span) : WrittenText{}) {
    if (!list.written_form()) {
      list_ = &list;
      i_ = span.begin;
      end_ = span.end;
      done_ = false;
      load();
    }
  }

  explicit SortedWords(const WrittenText& text) : written_(text) { move_to(written_.begin); }

  bool done() const { return done_; }
  std::uint64_t key() const { return key_; }
  std::string_view word() const { return word_; }

  bool same(const SortedWords& other) const { return key_ == other.key_ && word_ == other.word_; }

  void add_to(ListWriter& writer) const {
    if (list_ == nullptr) {
      writer.add_text(written_.data, position_, word_.size());
    } else {
      writer.add(*list_, list_->refs()[i_]);
    }
  }

  void next() {
    if (list_ == nullptr) return move_to(position_ + word_.size() + 1);
    if (list_->sorted_distinct()) {
      ++i_;
      load();
      return;
    }
    const std::uint64_t key = key_;
    const std::string_view word = word_;
    do {
      ++i_;
      load();
    } while (!done_ && key_ == key && word_ == word);
  }

  // Writes this list's words that sort below `other`'s current word (all of them when `other`
  // is done).
  void write_below(const SortedWords& other, ListWriter& writer) {
    write_below(other.done(), other.key(), other.word(), writer);
  }

  // Writes this list's words that sort below (key, word), or all of them. A list in written form
  // hands the writer the whole stretch of its text.
  void write_below(bool all, std::uint64_t key, std::string_view word, ListWriter& writer) {
    if (done_) return;
    if (list_ == nullptr) {
      const std::uint64_t begin = position_, end = written_.end;
      if (all) {
        writer.add_text(written_.data, begin, end - begin);
        done_ = true;
        return;
      }
      if (!sorts_below(key_, word_, key, word)) return;
      const std::uint64_t stop = written_.first_not_below(begin, key, word);
      writer.add_text(written_.data, begin, (stop < end ? stop - 1 : end) - begin);
      move_to(stop);
      return;
    }
    for (; !done_ && (all || sorts_below(key_, word_, key, word)) && writer.ok(); next()) {
      add_to(writer);
    }
  }

 private:
  // Moves to the word of the written text that starts at `position`.
  void move_to(std::uint64_t position) {
    position_ = position;
    done_ = position >= written_.end;
    if (done_) return;
    word_ = written_.word_at(position);
    key_ = written_.key_at(position, word_);
  }

  void load() {
    const std::span<const WordRef> refs = list_->refs();
    if (i_ == end_) {
      done_ = true;
      return;
    }
    if (i_ + kPrefetchAhead < end_) list_->prefetch(refs[i_ + kPrefetchAhead], 0);
    word_ = list_->word(refs[i_]);
    key_ = list_->key(refs[i_]);
  }

  static constexpr std::size_t kPrefetchAhead = 24;
  const WordList* list_ = nullptr;  // a list with references, or
  WrittenText written_;             // a list in written form
  std::size_t i_ = 0, end_ = 0;     // the current word and the end, with references
  std::uint64_t position_ = 0;      // the current word, in written form
  std::string_view word_;
  std::uint64_t key_ = 0;
  bool done_ = false;
};

// Writes the merge of `a` and `b` as far as `a` goes, and the rest of `b` when `a` is the last of
// its list.
void merge_walk(SortedWords& a, SortedWords& b, ListWriter& writer, bool last) {
  while (!a.done() && !b.done() && writer.ok()) {
    a.write_below(b, writer);
    if (a.done()) break;
    b.write_below(a, writer);
    if (b.done()) break;
    if (a.same(b)) {
      a.add_to(writer);
      a.next();
      b.next();
    }
  }
  if (writer.ok()) a.write_below(b, writer);
  if (writer.ok() && last) b.write_below(a, writer);
}

// Merges a piece of a list in written form with a stretch of a sorted list, word by word as the
// check of written form passes the piece's words: most words sort below the other list's next
// one, and cost a comparison of keys; the piece's text between the places where the other list's
// words fall goes to the writer as one run.
class PieceMerge {
 public:
  PieceMerge(ListWriter& writer, std::string_view piece, const WordList& list, ListSpan span)
      : writer_(writer), piece_(piece), other_(list, span) {}

  [[gnu::always_inline]] void operator()(const char* word, std::size_t length,
                                         std::uint64_t key) {
    if (!other_.done() && key >= other_.key()) place(word, length, key);
  }

  // The rest of the piece, and then the other list's words after its last.
  void finish() {
    write_run_to(piece_.size());
    other_.write_below(true, 0, {}, writer_);
  }

 private:
  // The piece's word at `word` sorts at or above the other list's next word: the other list's
  // words below it go before it, and one equal to it is passed over.
  void place(const char* word, std::size_t length, std::uint64_t key) {
    const std::string_view here(word, length);
    if (sorts_below(other_.key(), other_.word(), key, here)) {
      const std::uint64_t at = static_cast<std::uint64_t>(word - piece_.data());
      write_run_to(at);
      run_begin_ = at;
      other_.write_below(false, key, here, writer_);
    }
    if (!other_.done() && other_.key() == key && other_.word() == here) other_.next();
  }

  // The piece's words from the start of the run to `at` (the start of a word, or the end).
  void write_run_to(std::uint64_t at) {
    if (at == run_begin_) return;
    const std::uint64_t end = at < piece_.size() ? at - 1 : at;
    writer_.add_text(piece_.data(), run_begin_, end - run_begin_);
  }

  ListWriter& writer_;
  std::string_view piece_;
  SortedWords other_;
  std::uint64_t run_begin_ = 0;  // the first of the piece's words not yet written
};

}  // namespace

Result<void> write_merged_lists(OutputFile& out, WordList& current, WordList& update,
                                const Tunables& tunables) {
  sort_words(current, tunables);
  sort_words(update, tunables);
  ListWriter writer(out, tunables.write_block);
  SortedWords a(current);
  SortedWords b(update);
  merge_walk(a, b, writer, true);
  return writer.finish();
}

ListSpan all_words(const WordList& list) {
  return {0, list.written_form() ? list.text().size() : list.refs().size()};
}

std::uint64_t end_of_words_up_to(const WordList& list, ListSpan span, std::string_view word) {
  const std::uint64_t key = word_key(word);
  if (list.written_form()) {
    const WrittenText text = text_of(list, {span.begin, list.text().size()});
    std::uint64_t at = span.begin;
    if (at < text.end && text.below(at, text.line_feed_from(at), key, word)) {
      at = text.first_not_below(at, key, word);
    }
    return std::min(at < text.end && text.word_at(at) == word ? text.word_after(at) : at,
                    span.end);
  }
  const std::span<const WordRef> refs = list.refs();
  return static_cast<std::uint64_t>(
      std::upper_bound(refs.begin() + span.begin, refs.begin() + span.end, word,
                       [&](std::string_view w, WordRef ref) {
                         return sorts_below(key, w, list.key(ref), list.word(ref));
                       }) -
      refs.begin());
}

WrittenForm merge_piece(WrittenFormWalk& walk, ListWriter& writer, std::string_view words,
                        const WordList& list, ListSpan span) {
  PieceMerge merge(writer, words, list, span);
  const WrittenForm verdict = walk.check(words, merge);
  if (verdict == WrittenForm::written) merge.finish();
  return verdict;
}

}  // namespace corvandel
