// One merge pass: the words of an update list are added to a current list, which is rewritten as
// the sorted set of the distinct upper-case words of both, its previous version kept as a backup.
//
// Word list format. Reading: UTF-8 text, split at the Unicode whitespace set; each word is
// upper-cased with the default full mapping. Writing: the distinct words in byte-wise order, joined
// by LF, with no line break after the last one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform.h"
#include "result.h"

namespace corvandel {

/// Where one word of a list lies: a byte offset into the list's text, or past the text's end into
/// its spill buffer, and a byte length. Eight bytes, so that lists of millions of words stay
/// compact.
class WordRef {
 public:
  /// Offsets stop below 2^40; lengths at or above kLongLength are kept in the spill buffer, in
  /// front of the word (see WordList).
  static constexpr std::uint64_t kOffsetLimit = std::uint64_t{1} << 40;
  static constexpr std::uint64_t kLongLength = (std::uint64_t{1} << 24) - 1;

  WordRef() = default;
  WordRef(std::uint64_t offset, std::uint64_t length) : bits_(offset | (length << 40)) {}
  std::uint64_t offset() const { return bits_ & (kOffsetLimit - 1); }
  /// The length, or kLongLength for a long word.
  std::uint64_t short_length() const { return bits_ >> 40; }

 private:
  std::uint64_t bits_ = 0;
};

/// The words of one list file, in order of appearance until merge_distinct() orders them.
///
/// Words lie in the file's own buffer, upper-cased in place where the byte length allows. The
/// others, and every word of kLongLength bytes or more, are copied to `spill`; a long word there
/// is preceded by its length as 8 bytes.
///
/// A list in written form (as this program writes it: its words, all in place, in strictly
/// ascending order and separated by single LFs) needs no references: its words are the
/// LF-separated pieces of text[written_begin, written_end). Any other list has a reference for
/// each word in `refs`.
struct WordList {
  FileData text;
  std::vector<char> spill;
  std::vector<WordRef> refs;
  std::size_t count = 0;
  /// True when the words are in strictly ascending byte-wise order (so distinct).
  bool sorted_distinct = true;
  bool written_form = true;
  std::uint64_t written_begin = 0;
  std::uint64_t written_end = 0;

  std::string_view word(WordRef ref) const {
    const std::uint64_t offset = ref.offset();
    const std::uint64_t length = ref.short_length();
    if (offset < text.size) return {text.bytes.get() + offset, static_cast<std::size_t>(length)};
    return spilled_word(offset - text.size, length);
  }
  std::size_t size() const { return count; }
  bool empty() const { return count == 0; }
  /// All words as views, in their current order.
  std::vector<std::string_view> words() const;

 private:
  std::string_view spilled_word(std::uint64_t offset, std::uint64_t length) const;
};

/// The error for text that is not valid UTF-8.
Error invalid_utf8_error();

/// Validates, splits and upper-cases a list file's content.
Result<WordList> parse_word_list(FileData text);

/// The word sequence of the file at `path`; a file that cannot be read as UTF-8 text is fatal.
WordList read_words(const std::string& path);

/// The distinct words of two lists in ascending byte-wise order: the two lists, each sorted,
/// whose merge without repeats is the result. It refers to the lists, which must outlive it.
struct MergedWords {
  const WordList* current;
  const WordList* update;
};

/// Sorts each list (a list that is already sorted and distinct is left as it is) and returns
/// their union.
MergedWords merge_distinct(WordList& current, WordList& update);

/// Writes the words of `merged` in the list format.
Result<void> write_word_list(OutputFile& out, const MergedWords& merged);

enum class ListKind { reduced, master };

/// The kind of list named by the file name (last path component) of `current_file`: "reduced"
/// is looked for first, then "master".
std::optional<ListKind> list_kind(std::string_view current_file);

/// Writes `merged` to a new file beside the live list, then moves the live list into
/// BU_Previous_Files under a time-stamped name and puts the new file in its place, so that the
/// live name always holds a complete list. Ends the process on any failure, with nothing changed.
void back_up_list(const std::string& current_file, const std::string& list_dir,
                  const MergedWords& merged);

/// Merges the words of `update_file` into `current_file` (see the top of this file). Returns
/// only when the pass succeeded; otherwise the process ends with the failure's message.
void merge_word_list(const std::string& current_file, const std::string& update_file,
                     const std::string& list_dir);

}  // namespace corvandel
