// The merged list: the distinct words of two lists in ascending byte-wise order, written in the
// list format (joined by LF, with no line break after the last word).
#pragma once

#include "list_reader.h"
#include "platform.h"
#include "result.h"
#include "tunables.h"
#include "word_list.h"

namespace corvandel {

/// The distinct words of two lists in ascending byte-wise order: the two lists, each sorted,
/// whose merge without repeats is the result. It refers to the lists, which must outlive it.
struct MergedWords {
  const WordList* current;
  const WordList* update;
};

/// Sorts each list (a list that is already sorted and distinct is left as it is), ready for
/// write_word_list to write the distinct words of both.
MergedWords merge_distinct(WordList& current, WordList& update, const Tunables& tunables);

/// Writes the distinct words of both lists of `merged` in ascending order, in the list format.
Result<void> write_word_list(OutputFile& out, const MergedWords& merged, const Tunables& tunables);

/// Writes the merge of the list that `current` reads, in written form, and `update` (which it
/// sorts first) in the list format. Stops early when a read fails (see current.failure()).
Result<void> write_merged_stream(OutputFile& out, ListReader& current, WordList& update,
                                 const Tunables& tunables);

}  // namespace corvandel
