#include "unique_words_merger.h"

#include <algorithm>
#include <memory>

#include "main.h"
#include "unicode.h"

namespace corvandel {
namespace {

// Output is gathered into blocks of this size before each write.
constexpr std::size_t kWriteBlockSize = 1 << 20;

// How often the backup step takes a fresh stamp when the stamped name is already taken, and how
// long it waits for the clock to move on before each new stamp.
constexpr int kStampAttempts = 3;
constexpr int kStampPollMilliseconds = 100;
constexpr int kStampPolls = 15;

struct ListNames {
  std::string_view live_name;
  std::string_view backup_prefix;
};

ListNames names_of(ListKind kind) {
  if (kind == ListKind::reduced) return {"reduced.txt", "BU_Previous_Files/reduced_"};
  return {"master.txt", "BU_Previous_Files/master_"};
}

// The byte length of the UTF-8 sequence that starts with `lead` (valid text assumed).
std::size_t sequence_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  return 4;
}

bool is_regular_file(const std::string& path) {
  Result<FileType> type = platform().file_type(path);
  return type && type.value() == FileType::regular;
}

// Creates a file of its own beside `live`; a name left behind by an interrupted run is skipped.
std::pair<std::string, std::unique_ptr<OutputFile>> create_temporary(const std::string& live) {
  for (int n = 1;; ++n) {
    std::string path = live + ".new-" + std::to_string(n);
    Result<std::unique_ptr<OutputFile>> file = platform().create_new_file(path);
    if (file) return {path, std::move(file.value())};
    if (file.error().kind != ErrorKind::already_exists || n == 1000) {
      fatal_failure(file.error(), "creating " + path);
    }
  }
}

void discard_temporary(const std::string& path) {
  [[maybe_unused]] Result<void> removed = platform().remove_file(path);
}

// Writes `merged` to a new temporary file and flushes it to stable storage.
std::string write_temporary(const std::string& live, const std::vector<std::string_view>& merged) {
  auto [path, file] = create_temporary(live);
  Result<void> written = write_word_list(*file, merged);
  if (written) written = file->finish();
  if (!written) {
    file.reset();
    discard_temporary(path);
    fatal_failure(written.error(), "writing " + path);
  }
  return path;
}

std::string stamp_or_fail(const std::string& temporary) {
  Result<std::string> stamp = platform().local_time_stamp();
  if (!stamp) {
    discard_temporary(temporary);
    fatal_failure(stamp.error(), "reading the local time");
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

}  // namespace

Error invalid_utf8_error() {
  return Error{ErrorKind::invalid_data, 0, "stream did not contain valid UTF-8"};
}

Result<WordList> parse_word_list(FileData text) {
  if (!unicode::is_valid_utf8(text.view())) return invalid_utf8_error();
  WordList list;
  list.text = std::move(text);
  char* p = list.text.data();
  char* const end = p + list.text.size;
  auto rest = [&] { return std::string_view(p, static_cast<std::size_t>(end - p)); };
  while (p < end) {
    while (p < end) {
      std::size_t space = unicode::whitespace_length(rest());
      if (space == 0) break;
      p += space;
    }
    char* start = p;
    while (p < end && unicode::whitespace_length(rest()) == 0) {
      p += sequence_length(static_cast<unsigned char>(*p));
    }
    if (p == start) break;
    std::size_t length = static_cast<std::size_t>(p - start);
    if (unicode::upper_in_place(start, length)) {
      list.words.emplace_back(start, length);
    } else {
      std::string& upper = list.changed.emplace_back();
      unicode::append_upper(std::string_view(start, length), upper);
      list.words.emplace_back(upper);
    }
  }
  return list;
}

WordList read_words(const std::string& path) {
  Result<FileData> text = platform().read_file(path);
  if (!text) fatal_failure(text.error(), "reading " + path);
  Result<WordList> list = parse_word_list(std::move(text.value()));
  if (!list) fatal_failure(list.error(), "reading " + path);
  return std::move(list.value());
}

std::vector<std::string_view> merge_distinct(std::vector<std::string_view>& current,
                                             std::vector<std::string_view>& update) {
  std::vector<std::string_view> merged;
  merged.reserve(current.size() + update.size());
  merged.insert(merged.end(), current.begin(), current.end());
  merged.insert(merged.end(), update.begin(), update.end());
  std::sort(merged.begin(), merged.end());
  merged.erase(std::unique(merged.begin(), merged.end()), merged.end());
  return merged;
}

Result<void> write_word_list(OutputFile& out, const std::vector<std::string_view>& words) {
  std::string block;
  block.reserve(kWriteBlockSize);
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i != 0) block += '\n';
    if (block.size() + words[i].size() > kWriteBlockSize) {
      if (Result<void> written = out.write(block); !written) return written;
      block.clear();
      if (words[i].size() > kWriteBlockSize) {
        if (Result<void> written = out.write(words[i]); !written) return written;
        continue;
      }
    }
    block += words[i];
  }
  return out.write(block);
}

std::optional<ListKind> list_kind(std::string_view current_file) {
  std::size_t slash = current_file.find_last_of("/\\");
  std::string_view name =
      slash == std::string_view::npos ? current_file : current_file.substr(slash + 1);
  if (name.find("reduced") != std::string_view::npos) return ListKind::reduced;
  if (name.find("master") != std::string_view::npos) return ListKind::master;
  return std::nullopt;
}

void back_up_list(const std::string& current_file, const std::string& list_dir,
                  const std::vector<std::string_view>& merged) {
  std::optional<ListKind> kind = list_kind(current_file);
  if (!kind) {
    print_stdout("Error: current_file is not reduced or master\n");
    pause_and_exit();
  }
  const ListNames names = names_of(*kind);
  const std::string live = list_dir + std::string(names.live_name);
  const std::string temporary = write_temporary(live, merged);

  for (int attempt = 1;; ++attempt) {
    const std::string stamp = stamp_or_fail(temporary);
    const std::string backup = list_dir + std::string(names.backup_prefix) + stamp + ".txt";
    Result<void> replaced = platform().replace_keeping_backup(temporary, live, backup);
    if (replaced) return;
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

void merge_word_list(const std::string& current_file, const std::string& update_file,
                     const std::string& list_dir) {
  if (!is_regular_file(current_file)) {
    print_stdout(current_file + " is missing (or not a regular file)\n");
    pause_and_exit();
  }
  if (!is_regular_file(update_file)) {
    print_stdout(update_file + " is missing (or not a regular file)\n");
    pause_and_exit();
  }
  WordList current = read_words(current_file);
  WordList update = read_words(update_file);
  if (update.words.empty()) {
    print_stdout("No text found in " + update_file + " file. Exiting...\n");
    pause_and_exit();
  }
  std::vector<std::string_view> merged = merge_distinct(current.words, update.words);
  back_up_list(current_file, list_dir, merged);
}

}  // namespace corvandel
