// Merging a list read a piece at a time, checked against written form as it is read, with a list
// in memory, on both cores: the pieces are independent once the list in memory is cut at each
// piece's last word, so each is checked and merged by whichever thread is free, into a buffer of
// its own, and the buffers are written in order. Memory stays a few pieces, whatever the size.
#pragma once

#include <optional>

#include "base/result.h"
#include "base/tunables.h"
#include "list/word_list.h"
#include "platform/platform.h"

namespace corvandel {

/// How a streamed merge ended.
struct StreamedMerge {
  Result<void> written;                // the first failed write, if one failed
  bool not_written = false;            // the list read is not in written form
  std::optional<Error> read_failure;   // a read failed, or the list read is not UTF-8
  bool complete() const { return written && !not_written && !read_failure; }
};

/// Writes the merge of the list that `current` reads, which must be in written form, and
/// `update` (which it sorts first), in the list format, as the list is read. Where the list
/// proves not to be in written form or cannot be read, the merge stops there and what was
/// written is void.
StreamedMerge write_merged_stream(OutputFile& out, InputFile& current, WordList& update,
                                  const Tunables& tunables);

}  // namespace corvandel
