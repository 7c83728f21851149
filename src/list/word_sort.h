// Ordering a list's words byte-wise (code point order), the first step of merging two lists.
#pragma once

#include "base/tunables.h"
#include "list/word_list.h"

namespace corvandel {

/// Puts a list's words in ascending byte-wise order, unless they already are. Repeats are left
/// for the merge to skip.
void sort_words(WordList& list, const Tunables& tunables);

}  // namespace corvandel
