// Merging two lists: the distinct words of both in ascending byte-wise order, written in the list
// format (joined by LF, with no line break after the last word), from two lists in memory or from
// a list read a piece at a time and one in memory.
#pragma once

#include "base/result.h"
#include "base/tunables.h"
#include "list/list_reader.h"
#include "list/word_list.h"
#include "platform/platform.h"

namespace corvandel {

/// Writes the distinct words of both lists in ascending byte-wise order, in the list format; each
/// list is sorted first, unless it already is.
Result<void> write_merged_lists(OutputFile& out, WordList& current, WordList& update,
                                const Tunables& tunables);

/// Writes the merge of the list that `current` reads and checks, in written form, and `update`
/// (which it sorts first), in the list format, as the list is read. Stops early where the reading
/// stops early (current.not_written(), current.failure()); what was written is then void.
Result<void> write_merged_stream(OutputFile& out, ListReader& current, WordList& update,
                                 const Tunables& tunables);

}  // namespace corvandel
