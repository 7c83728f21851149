// One merge pass: the words of an update list are added to a current list, which is rewritten as
// the sorted set of the distinct upper-case words of both, its previous version kept as a backup.
//
// Word list format. Reading: UTF-8 text, split at the Unicode whitespace set; each word is
// upper-cased with the default full mapping. Writing: the distinct words in byte-wise order, joined
// by LF, with no line break after the last one.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform.h"
#include "result.h"

namespace corvandel {

/// The words of one list file, in order of appearance, duplicates included. Words point into the
/// file's own buffer (upper-cased in place where the byte length allows) or into `changed`.
struct WordList {
  FileData text;
  std::deque<std::string> changed;
  std::vector<std::string_view> words;
};

/// The error for text that is not valid UTF-8.
Error invalid_utf8_error();

/// Validates, splits and upper-cases a list file's content.
Result<WordList> parse_word_list(FileData text);

/// The word sequence of the file at `path`; a file that cannot be read as UTF-8 text is fatal.
WordList read_words(const std::string& path);

/// The distinct words of both sequences in ascending byte-wise order. Reorders its arguments.
std::vector<std::string_view> merge_distinct(std::vector<std::string_view>& current,
                                             std::vector<std::string_view>& update);

/// Writes `words` in the list format.
Result<void> write_word_list(OutputFile& out, const std::vector<std::string_view>& words);

enum class ListKind { reduced, master };

/// The kind of list named by the file name (last path component) of `current_file`: "reduced"
/// is looked for first, then "master".
std::optional<ListKind> list_kind(std::string_view current_file);

/// Writes `merged` to a new file beside the live list, then moves the live list into
/// BU_Previous_Files under a time-stamped name and puts the new file in its place, so that the
/// live name always holds a complete list. Ends the process on any failure, with nothing changed.
void back_up_list(const std::string& current_file, const std::string& list_dir,
                  const std::vector<std::string_view>& merged);

/// Merges the words of `update_file` into `current_file` (see the top of this file). Returns
/// only when the pass succeeded; otherwise the process ends with the failure's message.
void merge_word_list(const std::string& current_file, const std::string& update_file,
                     const std::string& list_dir);

}  // namespace corvandel
