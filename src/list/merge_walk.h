// Merging two lists: the distinct words of both in ascending byte-wise order, written in the list
// format (joined by LF, with no line break after the last word), from two lists in memory or from
// a piece of a list in written form and a stretch of a list in memory.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/result.h"
#include "base/tunables.h"
#include "list/list_writer.h"
#include "list/word_list.h"
#include "list/written_form.h"
#include "platform/platform.h"

namespace corvandel {

/// A stretch of a sorted list's words: its references from `begin` to `end`, or, for a list in
/// written form, the bytes of its text from `begin` to `end` (each at the start of a word or at
/// the text's end).
struct ListSpan {
  std::uint64_t begin = 0, end = 0;
};

/// All the words of `list`.
ListSpan all_words(const WordList& list);

/// Where the words of `span` (of the sorted `list`) that sort at or below `word` end: a search,
/// which leaps over most of the span where it is long.
std::uint64_t end_of_words_up_to(const WordList& list, ListSpan span, std::string_view word);

/// Judges `words` (a piece of a list; an LF and kSlack readable bytes follow it) against written
/// form with `walk`, and as the check passes its words adds to `writer` the distinct words of
/// the piece and of `span` of the sorted `list`, in ascending order. What the writer holds
/// stands only where the verdict is written.
WrittenForm merge_piece(WrittenFormWalk& walk, ListWriter& writer, std::string_view words,
                        const WordList& list, ListSpan span);

/// Writes the distinct words of both lists in ascending byte-wise order, in the list format; each
/// list is sorted first, unless it already is.
Result<void> write_merged_lists(OutputFile& out, WordList& current, WordList& update,
                                const Tunables& tunables);

}  // namespace corvandel
