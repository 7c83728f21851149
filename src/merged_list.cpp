// Merging two lists and writing the result: each list is walked in order (a list in written form
// along its own text), and the words go out in large blocks, runs of consecutive words of one
// list copied at once.
#include "merged_list.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>

#include "unicode.h"
#include "word_key.h"
#include "word_sort.h"

namespace corvandel {
namespace {

// Output is gathered into blocks of this size before each write.
constexpr std::size_t kWriteBlockSize = 1 << 20;

// Gathers words into large blocks for the output file. Words that follow each other in a list's
// text, separated by a single LF, are copied as one run: a list already in written form is
// copied in long stretches, and a run that fills a block is written straight from the text.
class ListWriter {
 public:
  explicit ListWriter(OutputFile& out)
      : out_(out), block_(std::make_unique_for_overwrite<char[]>(kWriteBlockSize)) {}

  void add(const WordList& list, WordRef ref) {
    const std::string_view word = list.word(ref);
    if (list.in_text(ref)) {
      return add_text(list, static_cast<std::uint64_t>(word.data() - list.text().data()),
                      word.size());
    }
    flush_run();
    put_word(word);
  }

  // Adds the `length` bytes of `list`'s text at `offset`: one word, or several separated by LFs.
  [[gnu::always_inline]] void add_text(const WordList& list, std::uint64_t offset,
                                       std::uint64_t length) {
    if (&list == run_list_ && offset == run_end_ + 1 && list.text()[run_end_] == '\n') {
      run_end_ = offset + length;
      return;
    }
    flush_run();
    run_list_ = &list;
    run_begin_ = offset;
    run_end_ = offset + length;
  }

  bool ok() const { return status_.ok(); }

  Result<void> finish() {
    flush_run();
    if (status_ && used_ != 0) status_ = out_.write(std::string_view(block_.get(), used_));
    used_ = 0;
    return status_;
  }

 private:
  void flush_run() {
    if (run_list_ == nullptr) return;
    const char* text = run_list_->text().data();
    put_word(std::string_view(text + run_begin_, run_end_ - run_begin_));
    run_list_ = nullptr;
  }

  void put_word(std::string_view word) {
    if (!first_ && used_ < kWriteBlockSize) {
      block_[used_++] = '\n';
    } else if (!first_) {
      put("\n");
    }
    first_ = false;
    put(word);
  }

  void put(std::string_view bytes) {
    if (!status_) return;
    if (used_ + bytes.size() > kWriteBlockSize) {
      status_ = out_.write(std::string_view(block_.get(), used_));
      used_ = 0;
      if (!status_) return;
      if (bytes.size() >= kWriteBlockSize) {
        status_ = out_.write(bytes);
        return;
      }
    }
    std::memcpy(block_.get() + used_, bytes.data(), bytes.size());
    used_ += bytes.size();
  }

  OutputFile& out_;
  std::unique_ptr<char[]> block_;
  std::size_t used_ = 0;
  bool first_ = true;
  Result<void> status_;
  // The run of words waiting to be copied: [run_begin_, run_end_) of run_list_'s text.
  const WordList* run_list_ = nullptr;
  std::uint64_t run_begin_ = 0;
  std::uint64_t run_end_ = 0;
};

// Where a walk along a list in written form stands: the current word and its key, and the LFs
// of the 64 bytes from `window` (in the written text, all whitespace is LF).
struct TextCursor {
  std::uint64_t position = 0;
  std::string_view word;
  std::uint64_t key = 0;
  std::uint64_t window = 0;
  std::uint64_t line_feeds = 0;
  bool done = false;
};

// Loads the word at `at.position`: up to the next LF, or the end of the written text.
[[gnu::always_inline]] inline void load_text_word(const WordList& list, TextCursor& at) {
  const std::uint64_t end = list.written_end();
  if (at.position >= end || list.empty()) {
    at.done = true;
    return;
  }
  const std::string_view text = list.text();
  const char* const start = text.data() + at.position;
  const std::uint64_t most = end - at.position;
  const std::uint64_t into_window = at.position - at.window;
  std::uint64_t line_feeds = into_window < 64 ? at.line_feeds >> into_window : 0;
  if (line_feeds == 0 && at.position + 64 <= text.size()) {
    __builtin_prefetch(start + kReadAhead);
    at.window = at.position;
    at.line_feeds = unicode::classify_64(start).whitespace;
    line_feeds = at.line_feeds;
  }
  std::uint64_t length;
  if (line_feeds != 0) {
    length =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(std::countr_zero(line_feeds)), most);
  } else {
    const void* lf = std::memchr(start, '\n', static_cast<std::size_t>(most));
    length =
        lf == nullptr ? most : static_cast<std::uint64_t>(static_cast<const char*>(lf) - start);
  }
  at.word = std::string_view(start, static_cast<std::size_t>(length));
  at.key = word_key(start, static_cast<std::size_t>(length),
                    static_cast<std::size_t>(text.size() - at.position));
}

// Walks a sorted list's distinct words in order, each with its sort key. A list in written form
// is walked along its text.
class SortedWords {
 public:
  explicit SortedWords(const WordList& list) : list_(list) {
    if (list.written_form()) {
      text_.position = list.written_begin();
      load_text_word(list, text_);
      done_ = text_.done;
      word_ = text_.word;
      key_ = text_.key;
    } else {
      load();
    }
  }

  bool done() const { return done_; }
  std::uint64_t key() const { return key_; }
  std::string_view word() const { return word_; }

  bool below(std::uint64_t key, std::string_view word) const {
    return key_ < key || (key_ == key && word_ < word);
  }
  bool same(const SortedWords& other) const { return key_ == other.key_ && word_ == other.word_; }

  void add_to(ListWriter& writer) const {
    if (list_.written_form()) {
      writer.add_text(list_, text_.position, word_.size());
    } else {
      writer.add(list_, list_.refs()[i_]);
    }
  }

  void next() {
    if (list_.written_form()) {
      text_.position += word_.size() + 1;
      load_text_word(list_, text_);
      done_ = text_.done;
      word_ = text_.word;
      key_ = text_.key;
      return;
    }
    if (list_.sorted_distinct()) {
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
  // is done). A list in written form hands the writer the whole stretch of its text.
  void write_below(const SortedWords& other, ListWriter& writer) {
    if (done_) return;
    const bool all = other.done();
    if (list_.written_form()) {
      const std::uint64_t begin = text_.position;
      if (all) {
        writer.add_text(list_, begin, list_.written_end() - begin);
        done_ = true;
        return;
      }
      // On a copy, so that the walk runs in registers.
      TextCursor at = text_;
      const std::uint64_t key = other.key();
      const std::string_view word = other.word();
      while (at.key < key || (at.key == key && at.word < word)) {
        at.position = skip_window_below(at, key, word) + at.word.size() + 1;
        load_text_word(list_, at);
        if (at.done) break;
      }
      text_ = at;
      done_ = at.done;
      word_ = at.word;
      key_ = at.key;
      if (at.position != begin) writer.add_text(list_, begin, at.position - 1 - begin);
      return;
    }
    const std::uint64_t key = all ? 0 : other.key();
    const std::string_view word = all ? std::string_view() : other.word();
    for (; !done_ && (all || below(key, word)) && writer.ok(); next()) add_to(writer);
  }

 private:
  void load() {
    if (i_ == list_.refs().size()) {
      done_ = true;
      return;
    }
    if (i_ + kPrefetchAhead < list_.refs().size()) {
      list_.prefetch(list_.refs()[i_ + kPrefetchAhead], 0);
    }
    word_ = list_.word(list_.refs()[i_]);
    key_ = list_.key(list_.refs()[i_]);
  }

  // Where the word before the next one to look at starts. When the LFs of the 64 bytes from
  // the current word are at hand, the last whole word among them is tried first: if it sorts
  // below the bound, so does everything before it, and the walk moves on to it at once. In a
  // long list with few words to add, most of the list goes by this way.
  [[gnu::always_inline]] std::uint64_t skip_window_below(TextCursor& at, std::uint64_t key,
                                                         std::string_view word) const {
    if (at.window != at.position || at.position + 64 > list_.written_end() ||
        at.position + 64 + 8 > list_.text().size()) {
      return at.position;
    }
    const std::uint64_t line_feeds = at.line_feeds;
    if ((line_feeds & (line_feeds - 1)) == 0) return at.position;  // fewer than two LFs
    const unsigned last = 63 - static_cast<unsigned>(std::countl_zero(line_feeds));
    const std::uint64_t before = line_feeds & ~(std::uint64_t{1} << last);
    const unsigned from = 64 - static_cast<unsigned>(std::countl_zero(before));
    const char* const start = list_.text().data() + at.position + from;
    const std::uint64_t length = last - from;
    const std::uint64_t candidate_key =
        word_key(start, static_cast<std::size_t>(length),
                 static_cast<std::size_t>(list_.text().size() - (at.position + from)));
    if (candidate_key > key ||
        (candidate_key == key &&
         !(std::string_view(start, static_cast<std::size_t>(length)) < word))) {
      return at.position;
    }
    at.word = std::string_view(start, static_cast<std::size_t>(length));
    return at.position + from;
  }

  static constexpr std::size_t kPrefetchAhead = 8;
  const WordList& list_;
  std::size_t i_ = 0;  // the current word, with references
  TextCursor text_;    // the current word, in written form
  std::string_view word_;
  std::uint64_t key_ = 0;
  bool done_ = false;
};

}  // namespace

MergedWords merge_distinct(WordList& current, WordList& update) {
  sort_words(current);
  sort_words(update);
  return {&current, &update};
}

Result<void> write_word_list(OutputFile& out, const MergedWords& merged) {
  ListWriter writer(out);
  SortedWords a(*merged.current);
  SortedWords b(*merged.update);
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
  if (writer.ok()) b.write_below(a, writer);
  return writer.finish();
}

}  // namespace corvandel
