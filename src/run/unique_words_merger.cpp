// One merge pass: the words of an update list are added to a current list, which is replaced by
// the sorted set of the distinct upper-case words of both; its previous version is kept as a
// time-stamped backup.
#include "run/unique_words_merger.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "list/merge_walk.h"
#include "list/streamed_merge.h"
#include "list/word_list.h"
#include "platform/platform.h"
#include "platform/replacement.h"
#include "run/reports.h"
#include "text/utf8.h"

namespace corvandel {
namespace {

// How often the backup step takes a fresh stamp when the stamped name is already taken, and how
// long it waits for the clock to move on before each new stamp.
constexpr int kStampAttempts = 3;
constexpr int kStampPollMilliseconds = 100;
constexpr int kStampPolls = 15;

enum class ListKind { reduced, master };

struct ListNames {
  std::string_view live_name;
  std::string_view backup_prefix;
};

ListNames names_of(ListKind kind) {
  if (kind == ListKind::reduced) return {"reduced.txt", "BU_Previous_Files/reduced_"};
  return {"master.txt", "BU_Previous_Files/master_"};
}

bool is_regular_file(const std::string& path) {
  Result<FileType> type = platform().file_type(path);
  return type && type.value() == FileType::regular;
}

// A new list is written beside the live one under the live name and this, then a number.
constexpr std::string_view kUnfinishedMark = ".new-";

// Whether `name` is that of a new list beside a live one, as create_temporary() names it.
bool is_unfinished_list(std::string_view name) {
  for (const ListKind kind : {ListKind::reduced, ListKind::master}) {
    const std::string prefix = std::string(names_of(kind).live_name) + std::string(kUnfinishedMark);
    if (name.size() > prefix.size() && name.starts_with(prefix) &&
        name.find_first_not_of("0123456789", prefix.size()) == std::string_view::npos) {
      return true;
    }
  }
  return false;
}

// Creates a file of its own beside `live`; a name left behind by an interrupted run is skipped.
std::pair<std::string, std::unique_ptr<OutputFile>> create_temporary(const std::string& live) {
  for (int n = 1;; ++n) {
    std::string path = live + std::string(kUnfinishedMark) + std::to_string(n);
    Result<std::unique_ptr<OutputFile>> file = platform().create_new_file(path);
    if (file) return {path, std::move(file.value())};
    if (file.error().kind != ErrorKind::already_exists || n == 1000) {
      fatal_failure(file.error(), Doing::creating, path);
    }
  }
}

void discard_temporary(const std::string& path) {
  [[maybe_unused]] Result<void> removed = platform().remove_file(path);
}

// The list a pass rewrites, open, and what the file was when it was opened.
struct CurrentList {
  std::string path;
  std::unique_ptr<InputFile> file;
  std::string state;
};

// Writes the merge of `current` and `update` to `out`. A current list in written form, as every
// list is once this program wrote it, is read once, a piece at a time, checked and merged as it
// goes, so that it is never held in memory; one found not to be in written form on the way is read
// again whole, from its start, and the output started afresh. A failed read of it, or text that is
// not UTF-8, stops the merge at once with `read_error` set.
Result<void> write_merged_list(OutputFile& out, CurrentList& current, WordList& update,
                               std::optional<Error>& read_error, const Tunables& tunables) {
  {
    StreamedMerge streamed = write_merged_stream(out, *current.file, update, tunables);
    read_error = streamed.read_failure;
    if (read_error || !streamed.not_written) return streamed.written;
  }
  Result<void> rewound = current.file->rewind();
  if (!rewound) return read_error = rewound.error(), Result<void>();
  Result<FileData> text = read_rest(*current.file);
  if (!text) return read_error = text.error(), Result<void>();
  Result<WordList> words = parse_word_list(std::move(text.value()), tunables);
  if (!words) return read_error = words.error(), Result<void>();
  if (Result<void> emptied = out.restart(); !emptied) return emptied;
  return write_merged_lists(out, words.value(), update, tunables);
}

// Writes the merge to a new file beside the live list `live` and flushes it to stable storage;
// returns its path. A failure is fatal, the file removed first (and closed before that: Windows
// removes no file that is open).
std::string write_new_list(const std::string& live, CurrentList& current, WordList& update,
                           const Tunables& tunables) {
  auto [path, file] = create_temporary(live);
  std::optional<Error> read_error;
  Result<void> written = write_merged_list(*file, current, update, read_error, tunables);
  if (written && !read_error) written = file->finish();
  if (!written || read_error) {
    file.reset();
    discard_temporary(path);
    if (read_error) fatal_failure(*read_error, Doing::reading, current.path);
    fatal_failure(written.error(), Doing::writing, path);
  }
  return path;
}

std::string stamp_or_fail(const std::string& temporary) {
  Result<std::string> stamp = platform().local_time_stamp();
  if (!stamp) {
    discard_temporary(temporary);
    fatal_failure(stamp.error(), Doing::reading_clock);
  }
  return std::move(stamp.value());
}

void wait_for_next_second(const std::string& stamp) {
  for (int poll = 0; poll < kStampPolls; ++poll) {
    platform().sleep_milliseconds(kStampPollMilliseconds);
    Result<std::string> now = platform().local_time_stamp();
    if (!now || now.value() != stamp) return;
  }
}

// The word sequence of the file at `path`; a file that cannot be read as UTF-8 text is fatal.
WordList read_words(const std::string& path, const Tunables& tunables) {
  Result<FileData> text = platform().read_file(path);
  if (!text) fatal_failure(text.error(), Doing::reading, path);
  Result<WordList> list = parse_word_list(std::move(text.value()), tunables);
  if (!list) fatal_failure(list.error(), Doing::reading, path);
  return std::move(list.value());
}

// The current list at `path`, opened; a file that cannot be opened is fatal.
CurrentList open_current(const std::string& path) {
  Result<std::unique_ptr<InputFile>> file = platform().open_file(path);
  if (!file) fatal_failure(file.error(), Doing::reading, path);
  Result<std::string> state = file.value()->state();
  if (!state) fatal_failure(state.error(), Doing::reading, path);
  return {path, std::move(file.value()), std::move(state.value())};
}

// Reads the rest of the current list, which must be UTF-8 text: a list that is not is reported
// before an update list without words, however the list would have been read.
void check_text(CurrentList& current) {
  const Result<FileData> text = read_rest(*current.file);
  if (!text) fatal_failure(text.error(), Doing::reading, current.path);
  if (!unicode::is_valid_utf8(text.value().view())) {
    fatal_failure(invalid_utf8_error(), Doing::reading, current.path);
  }
}

// The kind of list named by the file name (last path component) of `current_file`: "reduced"
// is looked for first, then "master".
std::optional<ListKind> list_kind(std::string_view current_file) {
  const std::string_view name = file_name_of(current_file);
  if (name.find("reduced") != std::string_view::npos) return ListKind::reduced;
  if (name.find("master") != std::string_view::npos) return ListKind::master;
  return std::nullopt;
}

// Where the passes of one list kind write: the live list, and the start of its backups' names.
struct ListPaths {
  std::string live;
  std::string backup_prefix;
};

// The paths in `list_dir` of the list kind that the file name of `current_file` names; a name
// that names neither kind ends the run.
ListPaths list_paths(std::string_view current_file, const std::string& list_dir) {
  std::optional<ListKind> kind = list_kind(current_file);
  if (!kind) {
    print_stdout("Error: current_file is not reduced or master\n");
    pause_and_exit();
  }
  const ListNames names = names_of(*kind);
  return {list_dir + std::string(names.live_name), list_dir + std::string(names.backup_prefix)};
}

// Moves the live list into BU_Previous_Files under a time-stamped name and puts the new list at
// `temporary` in its place, so that the live name always holds a complete list. Ends the process
// on any failure, with nothing changed.
void back_up_list(const ListPaths& paths, const std::string& temporary,
                  const CurrentList& current) {
  // The list replaced must be the list read, as it was read: one that another program changed or
  // replaced meanwhile is left as it is. (A current list named otherwise than the live one, which
  // the update run never passes, is not compared.)
  const std::optional<std::string> read_state =
      paths.live == current.path ? std::optional(current.state) : std::nullopt;
  for (int attempt = 1;; ++attempt) {
    const std::string stamp = stamp_or_fail(temporary);
    const std::string backup = paths.backup_prefix + stamp + ".txt";
    Result<void> replaced =
        replace_keeping_backup(platform(), temporary, paths.live, backup, read_state);
    if (replaced) {
      note_replaced(paths.live, backup);
      return;
    }
    if (replaced.error().kind == ErrorKind::changed_meanwhile) {
      discard_temporary(temporary);
      fatal_failure(replaced.error(), Doing::replacing, paths.live);
    }
    // Two passes of one kind within a second: never overwrite the earlier backup.
    if (replaced.error().kind == ErrorKind::already_exists && attempt < kStampAttempts) {
      wait_for_next_second(stamp);
      continue;
    }
    discard_temporary(temporary);
    print_stdout("Error renaming file: " + replaced.error().text + "\n");
    pause_and_exit();
  }
}

}  // namespace

void remove_unfinished_lists(const std::string& list_dir) {
  Result<std::vector<std::string>> names = platform().directory_names(list_dir);
  if (!names) return;
  for (const std::string& name : names.value()) {
    if (is_unfinished_list(name)) discard_temporary(list_dir + name);
  }
}

void report_not_a_regular_file(const std::string& path) {
  print_stdout(path + " is missing (or not a regular file)\n");
  pause_and_exit();
}

void merge_word_list(const std::string& current_file, const std::string& update_file,
                     const std::string& list_dir, const Tunables& tunables) {
  if (!is_regular_file(current_file)) report_not_a_regular_file(current_file);
  if (!is_regular_file(update_file)) report_not_a_regular_file(update_file);
  // The current list is opened first, read as the new list is written.
  CurrentList current = open_current(current_file);
  WordList update = read_words(update_file, tunables);
  if (update.empty()) {
    check_text(current);
    print_stdout("No text found in " + update_file + " file. Exiting...\n");
    pause_and_exit();
  }
  const ListPaths paths = list_paths(current_file, list_dir);
  const std::string temporary = write_new_list(paths.live, current, update, tunables);
  current.file.reset();  // read to its end; Windows replaces no file that is still open
  back_up_list(paths, temporary, current);
}

}  // namespace corvandel