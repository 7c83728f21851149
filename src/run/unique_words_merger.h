// The merge pass, and the two steps around it that the update run takes too: the report of a list
// that is missing, and the clean-up of new lists that interrupted runs left behind.
#pragma once

#include <string>

#include "base/tunables.h"

namespace corvandel {

/// One merge pass: the words of `update_file` are added to `current_file`, which is rewritten as
/// the sorted set of the distinct upper-case words of both, its previous version kept as a
/// time-stamped backup in BU_Previous_Files. `list_dir` is the list directory, in which the live
/// list and the backup folder are named. Returns only when the pass succeeded; otherwise the
/// process ends with the failure's message.
void merge_word_list(const std::string& current_file, const std::string& update_file,
                     const std::string& list_dir, const Tunables& tunables = {});

/// Reports that the list at `path` is missing or not a regular file, and ends the run.
[[noreturn]] void report_not_a_regular_file(const std::string& path);

/// Removes the new lists that interrupted runs left unfinished beside the live ones in
/// `list_dir`. Only a run that holds the folder's lock may: no other run is writing them then.
void remove_unfinished_lists(const std::string& list_dir);

}  // namespace corvandel
