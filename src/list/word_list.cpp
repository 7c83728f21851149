// Reading a list: a list in written form is only checked; any other is validated as UTF-8, split
// at whitespace and upper-cased in one pass, noting whether its words already stand in order.
#include "list/word_list.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#include "list/written_form.h"
#include "platform/platform.h"
#include "text/block_scan.h"
#include "text/upper_case.h"
#include "text/utf8.h"
#include "text/whitespace.h"

namespace corvandel {

using unicode::kBlock;

// Lists are read front to back in 64-byte steps that each wait on the last; asking for the text
// this far ahead keeps it arriving from memory in time.
constexpr std::size_t kReadAhead = 1024;

// Reads a list's text in one pass: validates it as UTF-8, splits it at whitespace, upper-cases
// each word (in place when the byte length allows) and notes whether the words already stand in
// strictly ascending order.
class ListParser {
 public:
  explicit ListParser(WordList& list)
      : list_(list), text_(list.text_.data()), end_(text_ + list.text_.size) {}

  // False when the text is not valid UTF-8.
  bool run() {
    if (list_.text_.size >= WordRef::kOffsetLimit) platform().fail_out_of_memory(list_.text_.size);
    // Room for a word per eight bytes, more than lists of ordinary words need (pages never used
    // are never touched); a list of shorter words grows the references as it goes.
    list_.refs_.reserve(list_.text_.size / 8 + 4096);
    platform().advise_large_memory(list_.refs_.data(), list_.refs_.capacity() * sizeof(WordRef));
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
      if (!read_block(p) && !read_word(p)) return false;
    }
    return true;
  }

 private:
  // Reads the words that start at `p` and end within the 64 bytes from there, all at once from
  // the block's byte classes (and, where it holds other bytes than ASCII, the scan of its
  // characters). Stops before a word that runs past the block; returns false when that is the
  // first word, or when the block is not well-formed UTF-8 (the word scan then finds where).
  bool read_block(char*& p) {
    if (available(p) < kBlock + 8) return false;
    __builtin_prefetch(p + kReadAhead);
    const unicode::ByteClasses classes = unicode::classify_64(p);
    // Upper-case the block's ASCII letters first (a letter's upper case does not depend on its
    // neighbours, so words with other characters come out the same); a list in upper case, as
    // written, needs no stores at all.
    if (classes.lower != 0) unicode::upper_ascii_letters(p, kBlock);
    std::uint64_t space = classes.whitespace, changes = 0, resizes = 0;
    if (classes.non_ascii != 0) {
      const unicode::BlockScan scan = unicode::scan_block(p, classes);
      if (scan.invalid != 0) return false;
      space = scan.whitespace;
      changes = scan.changes;
      resizes = scan.resizes;
    }
    std::uint64_t starts = ~space & ~(~space << 1);
    char* next = p;
    while (starts != 0) {
      const unsigned start = static_cast<unsigned>(std::countr_zero(starts));
      const std::uint64_t after = space >> start;
      if (after == 0) break;  // runs past the block
      const unsigned length = static_cast<unsigned>(std::countr_zero(after));
      const std::uint64_t bits = ((std::uint64_t{1} << length) - 1) << start;
      char* const word = p + start;
      if ((changes & bits) != 0) {
        add_upper_word(word, unicode::WordScan{length, true, (resizes & bits) == 0});
      } else {
        add_in_order(WordRef(static_cast<std::uint64_t>(word - text_), length),
                     word_key(word, length, available(word)));
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
    if (in_place && scan.changes) unicode::upper_in_place(start, length);
    if (in_place && length < WordRef::kLongLength) {
      add_in_order(WordRef(static_cast<std::uint64_t>(start - text_), length),
                   word_key(start, length, available(start)));
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
    std::vector<char>& spill = list_.spill_;
    const std::uint64_t offset = list_.text_.size + spill.size();
    if (offset + word.size() + 8 >= WordRef::kOffsetLimit) {
      platform().fail_out_of_memory(word.size());
    }
    std::uint64_t length = word.size();
    if (length >= WordRef::kLongLength) {
      const char* bytes = reinterpret_cast<const char*>(&length);
      spill.insert(spill.end(), bytes, bytes + sizeof length);
      length = WordRef::kLongLength;
    }
    spill.insert(spill.end(), word.begin(), word.end());
    add_in_order(WordRef(offset, length), word_key(word));
  }

  [[gnu::always_inline]] void add_in_order(WordRef ref, std::uint64_t key) {
    // Keys only rise in a sorted list; anything else needs a closer look.
    if (key <= previous_key_ && list_.sorted_distinct_) check_order(ref, key);
    previous_key_ = key;
    list_.refs_.push_back(ref);
  }

  [[gnu::noinline]] void check_order(WordRef ref, std::uint64_t key) {
    const std::vector<WordRef>& refs = list_.refs_;
    if (refs.empty()) return;
    if (!sorts_below(previous_key_, list_.word(refs.back()), key, list_.word(ref))) {
      list_.sorted_distinct_ = false;
    }
  }

  std::size_t available(const char* p) const { return static_cast<std::size_t>(end_ - p); }
  std::string_view rest(const char* p) const { return {p, available(p)}; }

  WordList& list_;
  char* const text_;
  char* const end_;
  std::uint64_t previous_key_ = 0;
  std::string upper_;
};

std::string_view WordList::spilled_word(std::uint64_t offset, std::uint64_t length) const {
  const char* p = spill_.data() + offset;
  if (length == WordRef::kLongLength) {
    std::uint64_t long_length;
    std::memcpy(&long_length, p, sizeof long_length);
    return {p + sizeof long_length, static_cast<std::size_t>(long_length)};
  }
  return {p, static_cast<std::size_t>(length)};
}

Result<WordList> parse_word_list(FileData text, const Tunables& tunables) {
  WordList list;
  list.text_ = std::move(text);
  list.text_.data()[list.text_.size] = '\n';
  switch (WrittenFormCheck(tunables.two_cores_from).check(list.text())) {
    case WrittenForm::written:
      return list;
    case WrittenForm::not_utf8:
      return invalid_utf8_error();
    case WrittenForm::not_written:
      break;
  }
  list.written_form_ = false;
  if (!ListParser(list).run()) return invalid_utf8_error();
  return list;
}

}  // namespace corvandel
