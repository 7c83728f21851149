// The narrow layer between the program and the operating system: console, environment, file
// system, clock and process. One implementation per platform (platform-linux.cpp,
// platform-win32.cpp); tests may install a double in its place.
//
// Paths and console text are UTF-8 throughout; each implementation converts as its system needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_data.h"
#include "base/result.h"

namespace corvandel {

enum class FileType { regular, directory, other };

/// What a system error code tells a user beyond its kind, where it has a usual remedy: a file
/// that another program holds open, a device that failed.
enum class SystemErrorCause { none, held_by_another_program, device_failed };

/// What a file is: its identity, size and times of change as one text that differs after any
/// write to it or its replacement by another file; and its permissions, in the system's terms.
struct FileState {
  std::string identity;
  std::uint32_t permissions = 0;
};

/// A file being read front to back, a piece at a time.
class InputFile {
 public:
  virtual ~InputFile() = default;
  /// Reads the next bytes into `buffer`, as many as fit and the file has; 0 at its end.
  virtual Result<std::size_t> read(char* buffer, std::size_t size) = 0;
  /// The file's size when it was opened (it may grow while it is read).
  virtual std::uint64_t size_when_opened() const = 0;
  /// What the file is now, as FileState::identity tells it.
  virtual Result<std::string> state() = 0;
  /// Goes back to the file's start.
  virtual Result<void> rewind() = 0;
};

/// What is left of `file` from where its reading stands, read whole.
Result<FileData> read_rest(InputFile& file);

/// An exclusive lock on a file, held until it is destroyed or the process ends, however it ends.
class FileLock {
 public:
  virtual ~FileLock() = default;
};

/// A new file being written. Destroying it before finish() closes it without syncing; the caller
/// then removes the file.
class OutputFile {
 public:
  virtual ~OutputFile() = default;
  /// Appends all of `bytes`.
  virtual Result<void> write(std::string_view bytes) = 0;
  /// Empties the file, to be written again from its start.
  virtual Result<void> restart() = 0;
  /// Flushes the content to stable storage and closes the file.
  virtual Result<void> finish() = 0;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Console. A standard stream that does not exist swallows what is written to it.

  /// Writes all of `text` to standard output (unbuffered: every message is written whole).
  virtual Result<void> write_stdout(std::string_view text) = 0;
  /// Writes all of `text` to standard error.
  virtual Result<void> write_stderr(std::string_view text) = 0;
  /// Reads and discards one line of standard input; end of input counts as a line.
  virtual Result<void> read_stdin_line() = 0;

  // Environment.

  /// The variable's value, or nothing when it is unset. Where the system keeps UTF-16 it is given
  /// as UTF-8 (nothing when it holds an unpaired surrogate); elsewhere as its bytes, UTF-8 or not.
  virtual std::optional<std::string> environment_variable(const char* name) = 0;
  /// The arguments that ask for the usage text by this system's custom besides --help and -h
  /// ("/?", "/help", "/h" and "-?" on Windows), none where there are none.
  virtual std::span<const std::string_view> system_help_options() const = 0;

  // File system.

  /// The type of the entry at `path`, following symbolic links.
  virtual Result<FileType> file_type(const std::string& path) = 0;
  /// Creates the one directory `path`, durably. Fails with ErrorKind::not_found exactly when the
  /// directory that should hold it does not exist.
  virtual Result<void> make_directory(const std::string& path) = 0;
  /// Creates `path` and its missing parents, one make_directory() each; succeeds when the
  /// directory exists at the end, also when another process made it meanwhile.
  Result<void> create_directories(const std::string& path);
  /// Opens the regular file at `path` for reading. Anything other than a regular file fails
  /// without blocking (a FIFO or a device is never opened for a blocking read).
  virtual Result<std::unique_ptr<InputFile>> open_file(const std::string& path) = 0;
  /// Reads the regular file at `path` whole, by open_file().
  Result<FileData> read_file(const std::string& path);
  /// Takes the exclusive lock of the file at `path`, made when missing. Without `wait`, fails
  /// with ErrorKind::busy while another process holds it; with `wait`, waits until it is free.
  virtual Result<std::unique_ptr<FileLock>> lock_file(const std::string& path, bool wait) = 0;
  /// Creates a file that must not exist yet (fails with already_exists) and opens it for writing.
  virtual Result<std::unique_ptr<OutputFile>> create_new_file(const std::string& path) = 0;
  /// Removes the file at `path`.
  virtual Result<void> remove_file(const std::string& path) = 0;
  /// Waits until no other program's handle keeps the file at `path` from being renamed or
  /// replaced (at once where open files never stand in the way), as retry_while_held() does.
  virtual Result<void> wait_until_replaceable(const std::string& path) = 0;
  /// What the file at `path` is now, as InputFile::state() tells it, and its permissions.
  virtual Result<FileState> file_state(const std::string& path) = 0;
  /// Gives the file at `path` those of `permissions` (as file_state() tells them) that a list
  /// keeps when it is replaced; a hint that may do nothing.
  virtual void keep_permissions(const std::string& path, std::uint32_t permissions) = 0;
  /// Makes `link` a second name of the file `existing`. Fails with already_exists when `link` is
  /// taken, and with unsupported where the volume has no hard links.
  virtual Result<void> hard_link(const std::string& existing, const std::string& link) = 0;
  /// Renames `from` to `to`, over an existing `to` when `replace`, else refusing it with
  /// already_exists. Durable once `to`'s directory is synced.
  virtual Result<void> move_file(const std::string& from, const std::string& to, bool replace) = 0;
  /// Makes the names in the directory `dir` durable (nothing to do where moves write through).
  virtual Result<void> sync_directory(const std::string& dir) = 0;
  /// The names of the entries of the directory `dir`, "." and ".." left out.
  virtual Result<std::vector<std::string>> directory_names(const std::string& dir) = 0;
  /// The characters that separate a path's components, the system's own first ("\\/" on Windows).
  virtual std::string_view path_separators() const = 0;

  // Errors.

  /// Whether `error` is a refusal that ends when another program lets go of the file (a sharing
  /// violation on Windows), so that the step is worth trying again.
  virtual bool held_by_another_program(const Error& error) const = 0;
  /// The cause that `code`, this system's error code, names.
  virtual SystemErrorCause system_error_cause(int code) const = 0;

  // Clock.

  /// The local date and time, daylight saving time included, as "%y%m%d_%H%M%S".
  virtual Result<std::string> local_time_stamp() = 0;
  /// Waits for about `milliseconds`.
  virtual void sleep_milliseconds(int milliseconds) = 0;

  // Memory and process.

  /// Asks the system to back the fresh memory at [p, p + size) with large pages where it can, so
  /// that touching it first costs far less; a hint that may do nothing.
  virtual void advise_large_memory(void* p, std::size_t size) = 0;
  /// Reports exhausted memory on standard error and ends the process at once, by the system's
  /// fail-fast path; allocates nothing.
  [[noreturn]] virtual void fail_out_of_memory(std::size_t bytes) = 0;
  /// Ends the process at once with `status`.
  [[noreturn]] virtual void exit_process(int status) = 0;
};

/// The platform in use: the native one unless a test installed another.
Platform& platform();
/// Makes `replacement` the platform in use; nullptr restores the native one.
void install_platform(Platform* replacement);
/// This system's implementation, the one thing that each platform's own source file defines.
Platform& native_platform();

/// How long a step that another program's open handle blocks is tried again, in all, and the
/// shortest and longest pause between two tries: virus scanners and search indexers open every
/// file that changes, for a moment.
inline constexpr int kHeldWaitMilliseconds = 2000;
inline constexpr int kFirstHeldPause = 10;
inline constexpr int kLongestHeldPause = 500;

/// Runs `step` (which returns a Result) until it succeeds, or fails otherwise than by another
/// program's hold on a file (as `os` tells), or about two seconds have passed; its last result.
template <class Step>
auto retry_while_held(Platform& os, Step step) -> decltype(step()) {
  for (int waited = 0, pause = kFirstHeldPause;;) {
    auto result = step();
    if (result || waited >= kHeldWaitMilliseconds || !os.held_by_another_program(result.error())) {
      return result;
    }
    os.sleep_milliseconds(pause);
    waited += pause;
    pause = pause * 2 < kLongestHeldPause ? pause * 2 : kLongestHeldPause;
  }
}

/// The last component of `path`, split at '/' or '\\' on every system: the name of a source file
/// in a diagnostic, the file name that tells a list's kind.
std::string_view file_name_of(std::string_view path);

/// The directory part of `path` ("" when it has none), split at platform().path_separators().
/// Trailing separators are not a component; a root ("/", "C:\\") keeps its separator.
std::string parent_of(std::string_view path);

}  // namespace corvandel
