// The update run: the banner, the base directory and the paths built from it, the backup folder
// ensured, the lock of the list folder, the update file checked, the two merge passes, and the
// closing prompt; before it, the few command lines that ask for the usage text or the version.
#include "run/update_run.h"

#include <algorithm>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "run/reports.h"
#include "run/unique_words_merger.h"
#include "text/utf8.h"
#include "text/whitespace.h"
#include "list/word_list.h"

namespace corvandel {
namespace {

constexpr int kExitSuccess = 0;

constexpr std::string_view kBaseDirVariable = "QUILLMERE_DIR";
constexpr std::string_view kBaseDirWhenUnset = "Environment variable not found";

// The file in DicLists whose lock a run holds, and how long a run waits for another quietly.
constexpr std::string_view kLockName = "corvandel.lock";
constexpr int kLockPollMilliseconds = 100;
constexpr int kQuietLockPolls = 10;

// The directory that the variable names, trimmed; a value that is not UTF-8 (Linux hands over the
// variable's bytes as they are) counts as unset.
std::string base_directory() {
  std::optional<std::string> value =
      platform().environment_variable(std::string(kBaseDirVariable).c_str());
  if (value && !unicode::is_valid_utf8(*value)) value.reset();
  std::string_view text = value ? std::string_view(*value) : kBaseDirWhenUnset;
  return std::string(unicode::trim_whitespace(text));
}

// The system's own path separator, the one that follows "DicLists" in the list directory.
std::string separator() {
  return std::string(platform().path_separators().substr(0, 1));
}

// The backup directory must exist before any pass moves a list into it.
void ensure_backup_directory(const std::string& backup_dir) {
  Result<FileType> type = platform().file_type(backup_dir);
  if (type && type.value() == FileType::directory) return;
  if (Result<void> made = platform().create_directories(backup_dir); !made) {
    print_stderr("Failed to create directory: " + made.error().text + "\n");
    pause_and_exit();
  }
}

// One run at a time on a folder of lists: a run that finds another at work waits for it to end,
// then works on the lists it left, and says so once when the wait is longer than about a second.
// Where no lock can be had (a folder that cannot be written, a file system without locks), the
// run goes on alone, and the later steps report what is wrong. The lock is held until the
// process ends.
std::unique_ptr<FileLock> lock_list_folder(const std::string& dic_lists) {
  const std::string path = dic_lists + std::string(kLockName);
  Result<std::unique_ptr<FileLock>> lock = platform().lock_file(path, false);
  for (int poll = 0; poll < kQuietLockPolls && !lock && lock.error().kind == ErrorKind::busy;
       ++poll) {
    platform().sleep_milliseconds(kLockPollMilliseconds);
    lock = platform().lock_file(path, false);
  }
  if (!lock && lock.error().kind == ErrorKind::busy) {
    print_stdout("Another run is updating these lists; waiting for it to end...\n");
    lock = platform().lock_file(path, true);
  }
  if (!lock) return nullptr;
  return std::move(lock.value());
}

// The update file must exist and hold at least one byte; the merge pass reads it again. A
// device, a FIFO or a socket in its place is refused before it is opened, as the merge pass
// refuses it: reading one whole may never end, or wait for a writer that never comes.
void check_update_file(const std::string& update_file) {
  const Result<FileType> type = platform().file_type(update_file);
  if (!type) {
    print_stdout("Update words file, " + update_file +
                 ", was not found.\nCreate a non-empty file, with this name, containing new text "
                 "strings to add to the dictionary lists.\n");
    pause_and_exit();
  }
  if (type.value() == FileType::other) report_not_a_regular_file(update_file);
  Result<FileData> text = platform().read_file(update_file);
  if (!text) fatal_failure(text.error(), Doing::reading, update_file);
  if (!unicode::is_valid_utf8(text.value().view())) {
    fatal_failure(invalid_utf8_error(), Doing::reading, update_file);
  }
  if (text.value().size == 0) {
    print_stdout("Update words file, " + update_file +
                 ", is empty.\nEnsure a file, with this name, contains new text strings to add "
                 "to the dictionary lists.\n");
    pause_and_exit();
  }
}

// What `corvandel --help` shows: what a run does, where the lists are, where to read more.
std::string usage_text() {
  const auto line = [](std::string_view name, std::string_view what) {
    return "  " + std::string(name) + std::string(name.size() < 48 ? 48 - name.size() : 1, ' ') +
           std::string(what) + "\n";
  };
  const std::string lists = "<" + std::string(kBaseDirVariable) + ">DicLists" + separator();
  std::string help = "-h, --help";
  for (std::string_view other : platform().system_help_options()) help += ", " + std::string(other);
  return "Usage: corvandel [--help | --version]\n\n"
         "Run without arguments, corvandel merges the words of the update file into the reduced\n"
         "list, then the reduced list into the master list. Each list is rewritten as the sorted\n"
         "set of its distinct words in upper case, and the version it replaces is kept under a\n"
         "time-stamped name. The update file is never changed.\n\n"
         "The lists are in the folder DicLists inside the folder that the environment variable\n"
         "QUILLMERE_DIR names; its value should end with a path separator:\n" +
         line(lists + "update_words.txt", "the new words") +
         line(lists + "reduced.txt", "the reduced list") +
         line(lists + "master.txt", "the master list") +
         line(lists + "BU_Previous_Files/", "the versions replaced") + "\n" +
         line(help, "show this text and exit") + line("--version", "show the version and exit") +
         "\nMore in the manual page corvandel(1) and in the README.\n";
}

}  // namespace

[[noreturn]] void run_program(std::span<char* const> arguments) {
  // Nothing but one of these as the one argument is read: any other command line runs the
  // update, as a double-click does.
  if (arguments.size() == 2) {
    const std::string_view argument = arguments[1];
    const std::span<const std::string_view> system_options = platform().system_help_options();
    if (argument == "--version") {
      print_stdout("corvandel " CORVANDEL_VERSION "\n");
      exit_with(kExitSuccess);
    }
    if (argument == "--help" || argument == "-h" ||
        std::find(system_options.begin(), system_options.end(), argument) != system_options.end()) {
      print_stdout(usage_text());
      exit_with(kExitSuccess);
    }
  }
  run_update();
}

[[noreturn]] void run_update(const Tunables& tunables) {
  forget_replaced();
  print_stdout("corvandel:\n");

  const std::string base = base_directory();
  const std::string dic_lists = base + "DicLists" + separator();
  const std::string backup_dir = dic_lists + "BU_Previous_Files";
  ensure_backup_directory(backup_dir);
  const std::unique_ptr<FileLock> lock = lock_list_folder(dic_lists);
  if (lock) remove_unfinished_lists(dic_lists);

  const std::string reduced_list = dic_lists + "reduced.txt";
  const std::string update_file = dic_lists + "update_words.txt";
  check_update_file(update_file);

  const std::string& list_dir = dic_lists;
  merge_word_list(reduced_list, update_file, list_dir, tunables);
  const std::string master_list = dic_lists + "master.txt";
  merge_word_list(master_list, reduced_list, list_dir, tunables);

  print_stdout("Update successful.\n");
  closing_prompt();
  exit_with(kExitSuccess);
}

}  // namespace corvandel
