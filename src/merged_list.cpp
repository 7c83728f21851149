// Merging two lists and writing the result: each list is walked in order (a list in written form
// along its own text), and the words go out in large blocks, runs of consecutive words of one
// list copied at once.
#include "merged_list.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>

#include "block_scan.h"
#include "word_key.h"
#include "word_sort.h"

namespace corvandel {
namespace {

// Gathers words into large blocks for the output file. Words that follow each other in a list's
// text, separated by a single LF, are copied as one run: a list already in written form is
// copied in long stretches, and a run that fills a block is written straight from the text.
class ListWriter {
 public:
  ListWriter(OutputFile& out, std::size_t block_size)
      : out_(out),
        block_(std::make_unique_for_overwrite<char[]>(block_size)),
        block_size_(block_size) {}

  void add(const WordList& list, WordRef ref) {
    const std::string_view word = list.word(ref);
    if (list.in_text(ref)) {
      return add_text(list.text().data(),
                      static_cast<std::uint64_t>(word.data() - list.text().data()), word.size());
    }
    end_of_text();
    put_word(word);
  }

  // Adds the `length` bytes of the text at `base`, from `offset`: one word, or several separated
  // by LFs.
  [[gnu::always_inline]] void add_text(const char* base, std::uint64_t offset,
                                       std::uint64_t length) {
    if (base == run_base_ && offset == run_end_ + 1 && base[run_end_] == '\n') {
      run_end_ = offset + length;
      return;
    }
    end_of_text();
    run_base_ = base;
    run_begin_ = offset;
    run_end_ = offset + length;
  }

  // Copies the run of words waiting, before the text it lies in changes.
  void end_of_text() {
    if (run_base_ == nullptr) return;
    put_word(std::string_view(run_base_ + run_begin_, run_end_ - run_begin_));
    run_base_ = nullptr;
  }

  bool ok() const { return status_.ok(); }

  Result<void> finish() {
    end_of_text();
    if (status_ && used_ != 0) status_ = out_.write(std::string_view(block_.get(), used_));
    used_ = 0;
    return status_;
  }

 private:
  void put_word(std::string_view word) {
    if (!first_ && used_ < block_size_) {
      block_[used_++] = '\n';
    } else if (!first_) {
      put("\n");
    }
    first_ = false;
    put(word);
  }

  void put(std::string_view bytes) {
    if (!status_) return;
    if (used_ + bytes.size() > block_size_) {
      status_ = out_.write(std::string_view(block_.get(), used_));
      used_ = 0;
      if (!status_) return;
      if (bytes.size() >= block_size_) {
        status_ = out_.write(bytes);
        return;
      }
    }
    std::memcpy(block_.get() + used_, bytes.data(), bytes.size());
    used_ += bytes.size();
  }

  OutputFile& out_;
  std::unique_ptr<char[]> block_;
  const std::size_t block_size_;
  std::size_t used_ = 0;
  bool first_ = true;
  Result<void> status_;
  // The run of words waiting to be copied: [run_begin_, run_end_) of the text at run_base_.
  const char* run_base_ = nullptr;
  std::uint64_t run_begin_ = 0;
  std::uint64_t run_end_ = 0;
};

// A list's words in written form: the LF-separated pieces of data[begin, end), where `readable`
// bytes from `data` on may be loaded.
struct WrittenText {
  const char* data = nullptr;
  std::uint64_t readable = 0, begin = 0, end = 0;
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
[[gnu::always_inline]] inline void load_text_word(const WrittenText& text, TextCursor& at) {
  const std::uint64_t end = text.end;
  if (at.position >= end) {
    at.done = true;
    return;
  }
  const char* const start = text.data + at.position;
  const std::uint64_t most = end - at.position;
  const std::uint64_t into_window = at.position - at.window;
  std::uint64_t line_feeds = into_window < 64 ? at.line_feeds >> into_window : 0;
  if (line_feeds == 0 && at.position + 64 <= text.readable) {
    __builtin_prefetch(start + kReadAhead);
    at.window = at.position;
    at.line_feeds = unicode::classify_64(start).line_feeds;
    line_feeds = at.line_feeds;
  }
  std::uint64_t length;
  if (line_feeds != 0) {
    length =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(std::countr_zero(line_feeds)), most);
  } else {
    length = std::min<std::uint64_t>(
        std::string_view(start, static_cast<std::size_t>(most)).find('\n'), most);
  }
  at.word = std::string_view(start, static_cast<std::size_t>(length));
  at.key = word_key(start, static_cast<std::size_t>(length),
                    static_cast<std::size_t>(text.readable - at.position));
}

// Walks a sorted list's distinct words in order, each with its sort key. A list in written form
// is walked along its text.
class SortedWords {
 public:
  explicit SortedWords(const WordList& list)
      : SortedWords(list.written_form()
                        ? WrittenText{list.text().data(), list.text().size() + kSlack, 0,
                                      list.text().size()}
                        : WrittenText{}) {
    if (!list.written_form()) {
      list_ = &list;
      done_ = false;
      load();
    }
  }

  explicit SortedWords(const WrittenText& text) : written_(text) {
    TextCursor at;
    at.position = written_.begin;
    load_text_word(written_, at);
    move_to(at);
  }

  bool done() const { return done_; }
  std::uint64_t key() const { return key_; }
  std::string_view word() const { return word_; }

  bool same(const SortedWords& other) const { return key_ == other.key_ && word_ == other.word_; }

  void add_to(ListWriter& writer) const {
    if (list_ == nullptr) {
      writer.add_text(written_.data, text_.position, word_.size());
    } else {
      writer.add(*list_, list_->refs()[i_]);
    }
  }

  void next() {
    if (list_ == nullptr) {
      TextCursor at = text_;
      at.position += word_.size() + 1;
      load_text_word(written_, at);
      move_to(at);
      return;
    }
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
  // is done). A list in written form hands the writer the whole stretch of its text.
  void write_below(const SortedWords& other, ListWriter& writer) {
    if (done_) return;
    const bool all = other.done();
    if (list_ == nullptr) {
      const std::uint64_t begin = text_.position;
      if (all) {
        writer.add_text(written_.data, begin, written_.end - begin);
        done_ = true;
        return;
      }
      // On a copy, so that the walk runs in registers.
      TextCursor at = text_;
      const std::uint64_t key = other.key();
      const std::string_view word = other.word();
      while (sorts_below(at.key, at.word, key, word)) {
        at.position = skip_window_below(at, key, word) + at.word.size() + 1;
        load_text_word(written_, at);
        if (at.done) break;
      }
      move_to(at);
      if (at.position != begin) writer.add_text(written_.data, begin, at.position - 1 - begin);
      return;
    }
    const std::uint64_t key = all ? 0 : other.key();
    const std::string_view word = all ? std::string_view() : other.word();
    for (; !done_ && (all || sorts_below(key_, word_, key, word)) && writer.ok(); next()) {
      add_to(writer);
    }
  }

 private:
  // Takes the place of a walk along the written text.
  void move_to(const TextCursor& at) {
    text_ = at;
    done_ = at.done;
    word_ = at.word;
    key_ = at.key;
  }

  void load() {
    const std::span<const WordRef> refs = list_->refs();
    if (i_ == refs.size()) {
      done_ = true;
      return;
    }
    if (i_ + kPrefetchAhead < refs.size()) list_->prefetch(refs[i_ + kPrefetchAhead], 0);
    word_ = list_->word(refs[i_]);
    key_ = list_->key(refs[i_]);
  }

  // Where the word before the next one to look at starts. When the LFs of the 64 bytes from
  // the current word are at hand, the last whole word among them is tried first: if it sorts
  // below the bound, so does everything before it, and the walk moves on to it at once. In a
  // long list with few words to add, most of the list goes by this way.
  [[gnu::always_inline]] std::uint64_t skip_window_below(TextCursor& at, std::uint64_t key,
                                                         std::string_view word) const {
    if (at.window != at.position || at.position + 64 > written_.end ||
        at.position + 64 + 8 > written_.readable) {
      return at.position;
    }
    const std::uint64_t line_feeds = at.line_feeds;
    if ((line_feeds & (line_feeds - 1)) == 0) return at.position;  // fewer than two LFs
    const unsigned last = 63 - static_cast<unsigned>(std::countl_zero(line_feeds));
    const std::uint64_t before = line_feeds & ~(std::uint64_t{1} << last);
    const unsigned from = 64 - static_cast<unsigned>(std::countl_zero(before));
    const char* const start = written_.data + at.position + from;
    const std::uint64_t length = last - from;
    const std::uint64_t candidate_key =
        word_key(start, static_cast<std::size_t>(length),
                 static_cast<std::size_t>(written_.readable - (at.position + from)));
    if (!sorts_below(candidate_key, std::string_view(start, static_cast<std::size_t>(length)), key,
                     word)) {
      return at.position;
    }
    at.word = std::string_view(start, static_cast<std::size_t>(length));
    return at.position + from;
  }

  static constexpr std::size_t kPrefetchAhead = 8;
  const WordList* list_ = nullptr;  // a list with references, or
  WrittenText written_;             // a list in written form
  std::size_t i_ = 0;               // the current word, with references
  TextCursor text_;                 // the current word, in written form
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

Result<void> write_merged_stream(OutputFile& out, ListReader& current, WordList& update,
                                 const Tunables& tunables) {
  sort_words(update, tunables);
  ListWriter writer(out, tunables.write_block);
  SortedWords b(update);
  while (const std::optional<std::string_view> stretch =
             writer.ok() ? current.next() : std::nullopt) {
    SortedWords a(WrittenText{stretch->data(), stretch->size() + kSlack, 0, stretch->size()});
    merge_walk(a, b, writer, false);
    writer.end_of_text();  // the reader's buffer takes the next stretch
  }
  if (writer.ok()) b.write_below(SortedWords(WrittenText{}), writer);
  return writer.finish();
}

}  // namespace corvandel
