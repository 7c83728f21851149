// The merged list: the distinct words of two lists in ascending byte-wise order, written in the
// list format (joined by LF, with no line break after the last word).
#pragma once

#include "list/list_reader.h"
#include "platform/platform.h"
#include "base/result.h"
#include "base/tunables.h"
#include "list/word_list.h"

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
