#include "unique_words_merger.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>

#include "main.h"
#include "unicode.h"

namespace corvandel {
namespace {

// Output is gathered into blocks of this size before each write.
constexpr std::size_t kWriteBlockSize = 1 << 20;

// How often the backup step takes a fresh stamp when the stamped name is already taken, and how
// long it waits for the clock to move on before each new stamp.
constexpr int kStampAttempts = 3;
constexpr int kStampPollMilliseconds = 100;
constexpr int kStampPolls = 15;

struct ListNames {
  std::string_view live_name;
  std::string_view backup_prefix;
};

ListNames names_of(ListKind kind) {
  if (kind == ListKind::reduced) return {"reduced.txt", "BU_Previous_Files/reduced_"};
  return {"master.txt", "BU_Previous_Files/master_"};
}

using Byte = unsigned char;

// --- Reading a list ---

std::uint64_t load8(const char* p) {
  std::uint64_t value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

// The first `count` (1 to 8) bytes of a little-endian load.
std::uint64_t first_bytes(std::size_t count) {
  return ~std::uint64_t{0} >> (64 - 8 * count);
}

// kFirstBytes[n]: the first n (0 to 8) bytes of a little-endian load.
constexpr std::uint64_t kFirstBytes[9] = {0,
                                          0xFF,
                                          0xFFFF,
                                          0xFFFFFF,
                                          0xFFFFFFFF,
                                          0xFFFFFFFFFF,
                                          0xFFFFFFFFFFFF,
                                          0xFFFFFFFFFFFFFF,
                                          0xFFFFFFFFFFFFFFFF};

// Lists are read front to back in 64-byte steps that each wait on the last; asking for the text
// this far ahead keeps it arriving from memory in time.
constexpr std::size_t kReadAhead = 1024;

// The byte-wise sort key of a word's first eight bytes: big-endian, zero-padded.
std::uint64_t key_of_first8(std::uint64_t little_endian_bytes) {
  return __builtin_bswap64(little_endian_bytes);
}

std::uint64_t key_of(std::string_view word) {
  std::uint64_t bytes = 0;
  std::memcpy(&bytes, word.data(), std::min<std::size_t>(word.size(), 8));
  if constexpr (std::endian::native == std::endian::little) return key_of_first8(bytes);
  std::uint64_t key = 0;
  for (std::size_t i = 0; i < 8; ++i) {
    key = (key << 8) | (i < word.size() ? static_cast<Byte>(word[i]) : 0);
  }
  return key;
}

// Reads a list's text in one pass: validates it as UTF-8, splits it at whitespace, upper-cases
// each word (in place when the byte length allows) and notes whether the words already stand in
// strictly ascending order, as in a list this program wrote.
class ListParser {
 public:
  explicit ListParser(WordList& list)
      : list_(list), text_(list.text.data()), end_(text_ + list.text.size) {}

  // False when the text is not valid UTF-8.
  bool run() {
    if (list_.text.size >= WordRef::kOffsetLimit) fail_out_of_memory(list_.text.size);
    char* p = text_;
    for (;;) {
      // Mostly a single LF.
      while (p != end_ && unicode::is_ascii_whitespace(static_cast<Byte>(*p))) ++p;
      if (p == end_) break;
      if (static_cast<Byte>(*p) >= 0x80) {
        const std::size_t space = unicode::whitespace_run_length(rest(p));
        if (space == unicode::kNotUtf8) return false;
        if (space != 0) {
          p += space;
          continue;
        }
      }
      if (!read_block(p) && (invalid_ || !read_word(p))) return false;
    }
    list_.count = list_.written_form ? count_ : list_.refs.size();
    list_.written_end = last_end_;
    return true;
  }

 private:
  // Reads the ASCII words that start at `p` and end within the 64 bytes from there, all at once
  // from the block's byte classes. Stops before a word that runs past the block or holds
  // anything but ASCII; returns false when that is the first word.
  bool read_block(char*& p) {
    if (available(p) < kBlock + 8) return false;
    __builtin_prefetch(p + kReadAhead);
    const unicode::ByteClasses classes = unicode::classify_64(p);
    // Upper-case the block's ASCII letters first (a letter's upper case does not depend on its
    // neighbours, so words with other characters come out the same); a list in upper case, as
    // written, needs no stores at all.
    if (classes.lower != 0) unicode::upper_ascii_letters(p, kBlock);
    const std::uint64_t space = classes.whitespace;
    std::uint64_t starts = ~space & ~(~space << 1);
    char* next = p;
    if (std::endian::native == std::endian::little && classes.non_ascii == 0 &&
        list_.written_form && count_ != 0) {
      count_written_words(p, space, starts, next);
    }
    while (starts != 0) {
      const unsigned start = static_cast<unsigned>(std::countr_zero(starts));
      const std::uint64_t after = space >> start;
      if (after == 0) break;  // runs past the block
      const unsigned length = static_cast<unsigned>(std::countr_zero(after));
      const std::uint64_t bits = ((std::uint64_t{1} << length) - 1) << start;
      char* const word = p + start;
      if ((classes.non_ascii & bits) != 0) {
        // Not ASCII: the run may hold whitespace beyond ASCII, which the slow path splits.
        const unicode::WordScan scan = unicode::scan_word(std::string_view(word, length));
        if (scan.length == unicode::kNotUtf8) {
          invalid_ = true;
          return false;
        }
        if (scan.length != length) break;
        add_upper_word(word, scan);
      } else {
        add_word(WordRef(static_cast<std::uint64_t>(word - text_), length),
                 std::endian::native == std::endian::little
                     ? key_of_first8(load8(word) & kFirstBytes[std::min(length, 8u)])
                     : key_of(std::string_view(word, length)));
      }
      next = word + length;
      starts &= starts - 1;
    }
    if (starts != 0) {
      char* const stop = p + std::countr_zero(starts);
      if (stop == p) return false;
      p = stop;
      return true;
    }
    p = next;
    return true;
  }

  // While the list stays in written form, counts the words of an ASCII block at `p` that each
  // follow the last one after a single LF with a higher key, in registers; stops at the first
  // word that needs a closer look (one out of this simple order, or one that runs past the
  // block) and leaves it in `starts` for the general path.
  [[gnu::always_inline]] void count_written_words(char* p, std::uint64_t space,
                                                  std::uint64_t& starts, char*& next) {
    std::uint64_t last_end = last_end_;
    std::uint64_t previous_key = previous_key_;
    std::uint64_t previous_offset = previous_offset_;
    std::size_t count = count_;
    while (starts != 0) {
      const unsigned start = static_cast<unsigned>(std::countr_zero(starts));
      const std::uint64_t after = space >> start;
      if (after == 0) break;
      const unsigned length = static_cast<unsigned>(std::countr_zero(after));
      char* const word = p + start;
      const std::uint64_t offset = static_cast<std::uint64_t>(word - text_);
      const std::uint64_t key = key_of_first8(load8(word) & kFirstBytes[std::min(length, 8u)]);
      if (offset != last_end + 1 || text_[last_end] != '\n' || key <= previous_key) break;
      ++count;
      previous_key = key;
      previous_offset = offset;
      last_end = offset + length;
      next = word + length;
      starts &= starts - 1;
    }
    last_end_ = last_end;
    previous_key_ = previous_key;
    previous_offset_ = previous_offset;
    count_ = count;
  }

  // Any word.
  bool read_word(char*& p) {
    char* const start = p;
    const unicode::WordScan scan = unicode::scan_word(rest(p));
    if (scan.length == unicode::kNotUtf8) return false;
    p += scan.length;
    add_upper_word(start, scan);
    return true;
  }

  // Upper-cases the word at `start`, as scanned, and adds it.
  void add_upper_word(char* start, const unicode::WordScan& scan) {
    const std::size_t length = scan.length;
    const bool in_place = scan.keeps_length;
    if (in_place && scan.changes) unicode::upper_in_place_keeping_length(start, length);
    if (in_place && length < WordRef::kLongLength) {
      const std::string_view word(start, length);
      add_word(WordRef(static_cast<std::uint64_t>(start - text_), length), key_of(word));
    } else if (in_place) {
      spill_word(std::string_view(start, length));
    } else {
      upper_.clear();
      unicode::append_upper(std::string_view(start, length), upper_);
      spill_word(upper_);
    }
  }

  // Keeps a word that does not fit in place in the spill buffer.
  void spill_word(std::string_view word) {
    if (list_.written_form) keep_references();
    std::vector<char>& spill = list_.spill;
    const std::uint64_t offset = list_.text.size + spill.size();
    if (offset + word.size() + 8 >= WordRef::kOffsetLimit) fail_out_of_memory(word.size());
    std::uint64_t length = word.size();
    if (length >= WordRef::kLongLength) {
      const char* bytes = reinterpret_cast<const char*>(&length);
      spill.insert(spill.end(), bytes, bytes + sizeof length);
      length = WordRef::kLongLength;
    }
    spill.insert(spill.end(), word.begin(), word.end());
    add_in_order(WordRef(offset, length), key_of(word));
  }

  // Adds a word that lies in the text. While the list is in written form, only counts it.
  [[gnu::always_inline]] void add_word(WordRef ref, std::uint64_t key) {
    const std::uint64_t offset = ref.offset();
    const std::uint64_t end = offset + ref.short_length();
    if (list_.written_form) {
      if (count_ == 0) {
        list_.written_begin = offset;
      } else if (offset != last_end_ + 1 || text_[last_end_] != '\n' ||
                 !(key > previous_key_ ||
                   (key == previous_key_ &&
                    std::string_view(text_ + previous_offset_, last_end_ - previous_offset_) <
                        std::string_view(text_ + offset, end - offset)))) {
        keep_references();
        last_end_ = end;
        add_in_order(ref, key);
        return;
      }
      ++count_;
      previous_key_ = key;
      previous_offset_ = offset;
      last_end_ = end;
      return;
    }
    last_end_ = end;
    add_in_order(ref, key);
  }

  // Leaves written form: references for the words counted so far, which stand in the text
  // separated by single LFs.
  void keep_references() {
    list_.written_form = false;
    // Room for a word per eight bytes, more than lists of ordinary words need (pages never used
    // are never touched); a list of shorter words grows the references as it goes.
    list_.refs.reserve(list_.text.size / 8 + 4096);
    if (count_ == 0) return;
    std::uint64_t begin = list_.written_begin;
    for (;;) {
      const char* lf = static_cast<const char*>(
          std::memchr(text_ + begin, '\n', static_cast<std::size_t>(last_end_ - begin)));
      const std::uint64_t end = lf == nullptr ? last_end_ : static_cast<std::uint64_t>(lf - text_);
      list_.refs.emplace_back(begin, end - begin);
      if (lf == nullptr) break;
      begin = end + 1;
    }
  }

  [[gnu::always_inline]] void add_in_order(WordRef ref, std::uint64_t key) {
    // Keys only rise in a sorted list; anything else needs a closer look.
    if (key <= previous_key_ && list_.sorted_distinct) check_order(ref, key);
    previous_key_ = key;
    list_.refs.push_back(ref);
  }

  [[gnu::noinline]] void check_order(WordRef ref, std::uint64_t key) {
    const std::vector<WordRef>& refs = list_.refs;
    if (refs.empty()) return;
    if (key < previous_key_ || !(list_.word(refs.back()) < list_.word(ref))) {
      list_.sorted_distinct = false;
    }
  }

  std::size_t available(const char* p) const { return static_cast<std::size_t>(end_ - p); }
  std::string_view rest(const char* p) const { return {p, available(p)}; }

  static constexpr std::size_t kBlock = 64;

  WordList& list_;
  char* const text_;
  char* const end_;
  std::uint64_t previous_key_ = 0;
  std::uint64_t previous_offset_ = 0;  // where the last word in the text starts and ends
  std::uint64_t last_end_ = 0;
  std::size_t count_ = 0;  // words counted in written form
  bool invalid_ = false;
  std::string upper_;
};

// --- Ordering ---

// Asks for the cache line of a word's byte at `depth` early: words in sorted order lie scattered
// over the text.
void prefetch(const WordList& list, WordRef ref, std::size_t depth) {
  if (ref.offset() < list.text.size)
    __builtin_prefetch(list.text.bytes.get() + ref.offset() + depth);
}

// The byte-wise sort key of a word's first eight bytes, loaded whole where the text allows.
std::uint64_t prefix_key(const WordList& list, WordRef ref) {
  if constexpr (std::endian::native == std::endian::little) {
    const std::uint64_t offset = ref.offset();
    const std::uint64_t length = ref.short_length();
    if (offset + 8 <= list.text.size && length != 0) {
      const std::uint64_t bytes = load8(list.text.bytes.get() + offset);
      return key_of_first8(bytes & first_bytes(std::min<std::uint64_t>(length, 8)));
    }
  }
  return key_of(list.word(ref));
}

// Sorts a list's words byte-wise: most-significant-digit radix sort on one byte per level, so
// that each word's bytes are looked at about once, with a comparison sort for small groups.
class WordSorter {
 public:
  explicit WordSorter(const WordList& list)
      : list_(list), base_(list.refs.data()), scratch_(list.size()), digits_(list.size()) {}

  // Sorts all of the list's words, `refs`. Large lists take their first two bytes in one step: the
  // words are still in text order then, so both passes over them read the text front to back.
  void sort_all(WordRef* refs, std::size_t count) {
    if (count < kTwoByteSort) return sort(refs, count, 0);
    // Digit: the first byte plus one, times 257, plus the second byte plus one (0: no byte).
    const auto digit = [&](WordRef ref) {
      const std::string_view word = list_.word(ref);
      const unsigned first = static_cast<Byte>(word[0]) + 1u;
      const unsigned second = word.size() > 1 ? static_cast<Byte>(word[1]) + 1u : 0u;
      return first * kDigits + second;
    };
    std::vector<std::size_t> starts(kDigits * kDigits + 1, 0);
    for (std::size_t i = 0; i < count; ++i) ++starts[digit(refs[i]) + 1];
    for (std::size_t d = 1; d < starts.size(); ++d) starts[d] += starts[d - 1];
    std::vector<std::size_t> fill(starts.begin(), starts.end() - 1);
    WordRef* const out = scratch_.data();
    for (std::size_t i = 0; i < count; ++i) out[fill[digit(refs[i])]++] = refs[i];
    std::copy(out, out + count, refs);
    // Groups of one-byte words are single words repeated; the others go on from the third byte.
    for (std::size_t d = 0; d + 1 < starts.size(); ++d) {
      const std::size_t size = starts[d + 1] - starts[d];
      if (size > 1 && d % kDigits != 0) sort(refs + starts[d], size, 2);
    }
  }

  void sort(WordRef* refs, std::size_t count, std::size_t depth) {
    for (;; ++depth) {
      if (count < kSmallGroup) return sort_small(refs, count, depth);
      if (depth >= kMaxRadixDepth) {
        std::sort(refs, refs + count, [&](WordRef a, WordRef b) {
          return list_.word(a).substr(depth) < list_.word(b).substr(depth);
        });
        return;
      }
      // Digit 0: the word ends at `depth`; else the byte there plus one.
      std::uint16_t* const digits = digits_.data() + (refs - base_);
      std::size_t counts[kDigits] = {};
      for (std::size_t i = 0; i < count; ++i) {
        if (i + kPrefetchAhead < count) prefetch(list_, refs[i + kPrefetchAhead], depth);
        const std::string_view word = list_.word(refs[i]);
        const unsigned digit = depth < word.size() ? static_cast<Byte>(word[depth]) + 1u : 0u;
        digits[i] = static_cast<std::uint16_t>(digit);
        ++counts[digit];
      }
      if (counts[digits[0]] == count) {
        if (digits[0] == 0) return;  // all the same word
        continue;                    // one shared byte: look at the next
      }
      std::size_t starts[kDigits];
      std::size_t next = 0;
      for (unsigned d = 0; d < kDigits; ++d) {
        starts[d] = next;
        next += counts[d];
      }
      WordRef* const out = scratch_.data() + (refs - base_);
      std::size_t fill[kDigits];
      std::copy(std::begin(starts), std::end(starts), std::begin(fill));
      for (std::size_t i = 0; i < count; ++i) out[fill[digits[i]]++] = refs[i];
      std::copy(out, out + count, refs);
      // Words that ended at `depth` are equal; every other group goes one byte deeper.
      for (unsigned d = 1; d < kDigits; ++d) {
        if (counts[d] > 1) sort(refs + starts[d], counts[d], depth + 1);
      }
      return;
    }
  }

 private:
  // Sorts a small group on the next eight bytes of each word, read once; whole words decide ties.
  void sort_small(WordRef* refs, std::size_t count, std::size_t depth) {
    struct Keyed {
      std::uint64_t key;
      WordRef ref;
    };
    Keyed keyed[kSmallGroup];
    for (std::size_t i = 0; i < count; ++i) {
      keyed[i] = {key_from(refs[i], depth), refs[i]};
    }
    std::sort(keyed, keyed + count, [&](const Keyed& a, const Keyed& b) {
      if (a.key != b.key) return a.key < b.key;
      return list_.word(a.ref).substr(depth) < list_.word(b.ref).substr(depth);
    });
    for (std::size_t i = 0; i < count; ++i) refs[i] = keyed[i].ref;
  }

  // The sort key of a word's eight bytes from `depth` on.
  std::uint64_t key_from(WordRef ref, std::size_t depth) const {
    if constexpr (std::endian::native == std::endian::little) {
      const std::uint64_t offset = ref.offset();
      const std::uint64_t length = ref.short_length();
      if (offset + depth + 8 <= list_.text.size && length > depth) {
        const std::uint64_t bytes = load8(list_.text.bytes.get() + offset + depth);
        return key_of_first8(bytes & kFirstBytes[std::min<std::uint64_t>(length - depth, 8)]);
      }
    }
    return key_of(list_.word(ref).substr(depth));
  }

  static constexpr unsigned kDigits = 257;
  static constexpr std::size_t kSmallGroup = 64;
  static constexpr std::size_t kTwoByteSort = 1 << 16;
  static constexpr std::size_t kPrefetchAhead = 16;
  // Deeper than this, shared prefixes are long and rare: a comparison sort bounds the recursion.
  static constexpr std::size_t kMaxRadixDepth = 64;

  const WordList& list_;
  const WordRef* const base_;
  std::vector<WordRef> scratch_;
  std::vector<std::uint16_t> digits_;
};

// Puts a list's words in ascending order, unless they already are. Repeats are left for the
// merge to skip.
void sort_words(WordList& list) {
  if (list.sorted_distinct) return;
  WordSorter sorter(list);
  sorter.sort_all(list.refs.data(), list.refs.size());
}

// --- Writing a list ---

// Gathers words into large blocks for the output file. Words that follow each other in a list's
// text, separated by a single LF, are copied as one run: a list already in written form is
// copied in long stretches, and a run that fills a block is written straight from the text.
class ListWriter {
 public:
  explicit ListWriter(OutputFile& out)
      : out_(out), block_(std::make_unique_for_overwrite<char[]>(kWriteBlockSize)) {}

  void add(const WordList& list, WordRef ref) {
    const std::uint64_t offset = ref.offset();
    if (offset < list.text.size) return add_text(list, offset, ref.short_length());
    flush_run();
    put_word(list.word(ref));
  }

  // Adds the `length` bytes of `list`'s text at `offset`: one word, or several separated by LFs.
  [[gnu::always_inline]] void add_text(const WordList& list, std::uint64_t offset,
                                       std::uint64_t length) {
    if (&list == run_list_ && offset == run_end_ + 1 && list.text.bytes[run_end_] == '\n') {
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
    const char* text = run_list_->text.bytes.get();
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
  const std::uint64_t end = list.written_end;
  if (at.position >= end || list.count == 0) {
    at.done = true;
    return;
  }
  const char* const start = list.text.bytes.get() + at.position;
  const std::uint64_t most = end - at.position;
  const std::uint64_t into_window = at.position - at.window;
  std::uint64_t line_feeds = into_window < 64 ? at.line_feeds >> into_window : 0;
  if (line_feeds == 0 && at.position + 64 <= list.text.size) {
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
  if (std::endian::native == std::endian::little && at.position + 8 <= list.text.size) {
    at.key = key_of_first8(load8(start) & kFirstBytes[std::min<std::uint64_t>(length, 8)]);
  } else {
    at.key = key_of(at.word);
  }
}

// Walks a sorted list's distinct words in order, each with its sort key. A list in written form
// is walked along its text.
class SortedWords {
 public:
  explicit SortedWords(const WordList& list) : list_(list) {
    if (list.written_form) {
      text_.position = list.written_begin;
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
    if (list_.written_form) {
      writer.add_text(list_, text_.position, word_.size());
    } else {
      writer.add(list_, list_.refs[i_]);
    }
  }

  void next() {
    if (list_.written_form) {
      text_.position += word_.size() + 1;
      load_text_word(list_, text_);
      done_ = text_.done;
      word_ = text_.word;
      key_ = text_.key;
      return;
    }
    if (list_.sorted_distinct) {
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
    if (list_.written_form) {
      const std::uint64_t begin = text_.position;
      if (all) {
        writer.add_text(list_, begin, list_.written_end - begin);
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
    if (i_ == list_.refs.size()) {
      done_ = true;
      return;
    }
    if (i_ + kPrefetchAhead < list_.refs.size()) {
      prefetch(list_, list_.refs[i_ + kPrefetchAhead], 0);
    }
    word_ = list_.word(list_.refs[i_]);
    key_ = prefix_key(list_, list_.refs[i_]);
  }

  // Where the word before the next one to look at starts. When the LFs of the 64 bytes from
  // the current word are at hand, the last whole word among them is tried first: if it sorts
  // below the bound, so does everything before it, and the walk moves on to it at once. In a
  // long list with few words to add, most of the list goes by this way.
  [[gnu::always_inline]] std::uint64_t skip_window_below(TextCursor& at, std::uint64_t key,
                                                         std::string_view word) const {
    if (at.window != at.position || at.position + 64 > list_.written_end ||
        at.position + 64 + 8 > list_.text.size) {
      return at.position;
    }
    const std::uint64_t line_feeds = at.line_feeds;
    if ((line_feeds & (line_feeds - 1)) == 0) return at.position;  // fewer than two LFs
    const unsigned last = 63 - static_cast<unsigned>(std::countl_zero(line_feeds));
    const std::uint64_t before = line_feeds & ~(std::uint64_t{1} << last);
    const unsigned from = 64 - static_cast<unsigned>(std::countl_zero(before));
    const char* const start = list_.text.bytes.get() + at.position + from;
    const std::uint64_t length = last - from;
    const std::uint64_t candidate_key =
        key_of_first8(load8(start) & kFirstBytes[std::min<std::uint64_t>(length, 8)]);
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

// --- Backing up ---

bool is_regular_file(const std::string& path) {
  Result<FileType> type = platform().file_type(path);
  return type && type.value() == FileType::regular;
}

// Creates a file of its own beside `live`; a name left behind by an interrupted run is skipped.
std::pair<std::string, std::unique_ptr<OutputFile>> create_temporary(const std::string& live) {
  for (int n = 1;; ++n) {
    std::string path = live + ".new-" + std::to_string(n);
    Result<std::unique_ptr<OutputFile>> file = platform().create_new_file(path);
    if (file) return {path, std::move(file.value())};
    if (file.error().kind != ErrorKind::already_exists || n == 1000) {
      fatal_failure(file.error(), "creating " + path);
    }
  }
}

void discard_temporary(const std::string& path) {
  [[maybe_unused]] Result<void> removed = platform().remove_file(path);
}

// Writes `merged` to a new temporary file and flushes it to stable storage.
std::string write_temporary(const std::string& live, const MergedWords& merged) {
  auto [path, file] = create_temporary(live);
  Result<void> written = write_word_list(*file, merged);
  if (written) written = file->finish();
  if (!written) {
    file.reset();
    discard_temporary(path);
    fatal_failure(written.error(), "writing " + path);
  }
  return path;
}

std::string stamp_or_fail(const std::string& temporary) {
  Result<std::string> stamp = platform().local_time_stamp();
  if (!stamp) {
    discard_temporary(temporary);
    fatal_failure(stamp.error(), "reading the local time");
  }
  return std::move(stamp.value());
}

void wait_for_next_second(const std::string& stamp) {
  for (int poll = 0; poll < kStampPolls; ++poll) {
    platform().sleep_milliseconds(kStampPollMilliseconds);
    Result<std::string> now = platform().local_time_stamp();
    if (!now || now.value() != stamp) return;
  }
}

}  // namespace

std::string_view WordList::spilled_word(std::uint64_t offset, std::uint64_t length) const {
  const char* p = spill.data() + offset;
  if (length == WordRef::kLongLength) {
    std::uint64_t long_length;
    std::memcpy(&long_length, p, sizeof long_length);
    return {p + sizeof long_length, static_cast<std::size_t>(long_length)};
  }
  return {p, static_cast<std::size_t>(length)};
}

std::vector<std::string_view> WordList::words() const {
  std::vector<std::string_view> views;
  views.reserve(count);
  if (written_form) {
    std::string_view rest(text.bytes.get() + written_begin, written_end - written_begin);
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t lf = std::min(rest.find('\n'), rest.size());
      views.push_back(rest.substr(0, lf));
      rest.remove_prefix(std::min(lf + 1, rest.size()));
    }
    return views;
  }
  for (WordRef ref : refs) views.push_back(word(ref));
  return views;
}

Error invalid_utf8_error() {
  return Error{ErrorKind::invalid_data, 0, "stream did not contain valid UTF-8"};
}

Result<WordList> parse_word_list(FileData text) {
  WordList list;
  list.text = std::move(text);
  if (!ListParser(list).run()) return invalid_utf8_error();
  return list;
}

WordList read_words(const std::string& path) {
  Result<FileData> text = platform().read_file(path);
  if (!text) fatal_failure(text.error(), "reading " + path);
  Result<WordList> list = parse_word_list(std::move(text.value()));
  if (!list) fatal_failure(list.error(), "reading " + path);
  return std::move(list.value());
}

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

std::optional<ListKind> list_kind(std::string_view current_file) {
  std::size_t slash = current_file.find_last_of("/\\");
  std::string_view name =
      slash == std::string_view::npos ? current_file : current_file.substr(slash + 1);
  if (name.find("reduced") != std::string_view::npos) return ListKind::reduced;
  if (name.find("master") != std::string_view::npos) return ListKind::master;
  return std::nullopt;
}

void back_up_list(const std::string& current_file, const std::string& list_dir,
                  const MergedWords& merged) {
  std::optional<ListKind> kind = list_kind(current_file);
  if (!kind) {
    print_stdout("Error: current_file is not reduced or master\n");
    pause_and_exit();
  }
  const ListNames names = names_of(*kind);
  const std::string live = list_dir + std::string(names.live_name);
  const std::string temporary = write_temporary(live, merged);

  for (int attempt = 1;; ++attempt) {
    const std::string stamp = stamp_or_fail(temporary);
    const std::string backup = list_dir + std::string(names.backup_prefix) + stamp + ".txt";
    Result<void> replaced = platform().replace_keeping_backup(temporary, live, backup);
    if (replaced) return;
    // Two passes of one kind within a second: never overwrite the earlier backup.
    if (replaced.error().kind == ErrorKind::already_exists && attempt < kStampAttempts) {
      wait_for_next_second(stamp);
      continue;
    }
    discard_temporary(temporary);
    print_stdout("Error renaming file: " + replaced.error().text + "\n");
    pause_and_exit();
  }
}

void merge_word_list(const std::string& current_file, const std::string& update_file,
                     const std::string& list_dir) {
  if (!is_regular_file(current_file)) {
    print_stdout(current_file + " is missing (or not a regular file)\n");
    pause_and_exit();
  }
  if (!is_regular_file(update_file)) {
    print_stdout(update_file + " is missing (or not a regular file)\n");
    pause_and_exit();
  }
  WordList current = read_words(current_file);
  WordList update = read_words(update_file);
  if (update.empty()) {
    print_stdout("No text found in " + update_file + " file. Exiting...\n");
    pause_and_exit();
  }
  back_up_list(current_file, list_dir, merge_distinct(current, update));
}

}  // namespace corvandel
