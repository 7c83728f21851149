// What the tests share: a scratch list folder with the promise every run keeps, runs inside the
// test process or as a process, and one driver that fails or kills each file call of a whole run
// in turn, on Linux (system calls, under strace) and Windows (Win32 calls, through their table).
#pragma once

#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/tunables.h"
#include "model.h"
#include "platform/platform.h"

namespace corvandel::testing {
namespace fs = std::filesystem;

/// The list that a merge pass writes from two list texts, read and written with `sizes`; nothing
/// when one is refused as text that is not UTF-8.
std::optional<std::string> merged(std::string_view current, std::string_view update,
                                  const Tunables& sizes = {});

std::string read_file(const fs::path& path);
void write_file(const fs::path& path, std::string_view content);
/// Whether `text` is `pattern`, where * stands for any run of characters and # for a digit.
bool like(std::string_view text, std::string_view pattern);
/// `text` with each key, in turn, replaced by its value wherever it stands.
std::string filled(std::string text, const std::vector<std::pair<std::string, std::string>>& keys);
/// The stamp of a backup made at `when`: local time as yymmdd_HHMMSS.
std::string local_stamp(std::time_t when);

struct Lists {
  std::string master, reduced, update;
};

class ListFolder {
 public:
  /// `under_wine`: for corvandel.exe under Wine, which sees the Linux root as drive Z:.
  /// `in_memory`: in /dev/shm where there is one, for runs by the thousand.
  explicit ListFolder(bool under_wine = false, bool in_memory = false);
  /// One that holds `lists`.
  explicit ListFolder(const Lists& lists, bool under_wine = false) : ListFolder(under_wine) {
    write(lists);
  }
  ~ListFolder() { fs::remove_all(root_, ignored_); }
  ListFolder(const ListFolder&) = delete;
  ListFolder& operator=(const ListFolder&) = delete;

  /// Makes `base`, in the scratch folder, the base directory.
  void use_base(const fs::path& base) { fs::create_directories((base_ = base) / "DicLists"); }
  const fs::path& root() const { return root_; }
  fs::path lists() const { return base_ / "DicLists"; }
  fs::path backup_dir() const { return lists() / "BU_Previous_Files"; }
  /// A path as the program names it; the base directory as QUILLMERE_DIR holds it.
  std::string program_path(const fs::path& path) const;
  std::string separator() const {
    return under_wine_ || fs::path::preferred_separator == '\\' ? "\\" : "/";
  }
  std::string base_text() const { return program_path(base_) + separator(); }
  std::string list_path(const std::string& name) const {
    return base_text() + "DicLists" + separator() + name;
  }

  void write(const Lists& lists) const;
  Lists read() const {
    return {read_file(lists() / "master.txt"), read_file(lists() / "reduced.txt"),
            read_file(lists() / "update_words.txt")};
  }
  /// The backups of one kind ("reduced" or "master"), oldest first.
  std::vector<fs::path> backups(const std::string& kind) const;
  /// Everything in DicLists but the three files, the backup folder and the lock file.
  std::vector<std::string> strays() const;

  /// Checks the promise after a run from `before`, with no backups yet: the update file unchanged;
  /// each list its old content or the model's merge in written form; a replaced list's old content
  /// its one backup, an unreplaced one none (after a `killed` run it may have one, and the list may
  /// be absent). Returns which lists were replaced.
  std::pair<bool, bool> check_promise(const Lists& before, bool killed = false) const;

 private:
  bool under_wine_;
  fs::path root_, base_;
  std::error_code ignored_;
};

struct RunResult {
  int status = -1;  // exit status, or 128 + signal number; -1 when the code run returned
  std::string out, err;
};

/// Thrown where a run inside the test process would end the process.
struct ProcessExit {
  int status;
};

/// A platform for runs inside the test process, installed while it exists: the native file system
/// with chosen operations failed, a console, environment and clock of its own; exits throw.
class TestPlatform final : public Platform {
 public:
  TestPlatform() { install_platform(this); }
  ~TestPlatform() override { install_platform(nullptr); }
  TestPlatform(const TestPlatform&) = delete;
  TestPlatform& operator=(const TestPlatform&) = delete;

  /// Fails the `nth` operation `name` with the errno value `code`.
  void fail(const std::string& name, int nth, int code) { faults_[{name, nth}] = code; }
  /// Takes one operation and returns the error to fail it with, if any.
  std::optional<Error> step(const std::string& name, const std::string& path);

  /// Called before each operation with "<name> <path>", to act on the files meanwhile.
  std::function<void(const std::string&)> before_step;
  std::map<std::string, std::string> environment;
  std::string out, err;
  /// Seconds added to the clock, or a stamp that stands still; waits move it on, and are counted.
  long clock_offset = 0;
  std::optional<std::string> fixed_stamp;
  int sleeps = 0;

  Result<void> write_stdout(std::string_view text) override { return out += text, Result<void>(); }
  Result<void> write_stderr(std::string_view text) override {
    if (auto error = step("write_stderr", "")) return *error;
    return err += text, Result<void>();
  }
  Result<void> read_stdin_line() override { return {}; }
  std::optional<std::string> environment_variable(const char* name) override {
    return environment.count(name) ? std::optional(environment.at(name)) : std::nullopt;
  }
  void keep_permissions(const std::string& path, std::uint32_t permissions) override {
    if (!step("keep_permissions", path)) native_platform().keep_permissions(path, permissions);
  }
  Result<std::string> local_time_stamp() override;
  /// Opens a file of the native platform whose reads are steps too ("read").
  Result<std::unique_ptr<InputFile>> open_file(const std::string& path) override;
  void sleep_milliseconds(int milliseconds) override { ++sleeps, slept_ += milliseconds; }
  [[noreturn]] void exit_process(int status) override { throw ProcessExit{status}; }

  // clang-format off
  using Path = const std::string&;
#define CORVANDEL_PASSED_ON(Type, op, Params, ...) \
  Type op Params override { return pass(#op, &Platform::op, __VA_ARGS__); }
  CORVANDEL_PASSED_ON(Result<FileType>, file_type, (Path p), p)
  CORVANDEL_PASSED_ON(Result<void>, make_directory, (Path p), p)
  CORVANDEL_PASSED_ON(Result<std::unique_ptr<OutputFile>>, create_new_file, (Path p), p)
  CORVANDEL_PASSED_ON(Result<void>, remove_file, (Path p), p)
  CORVANDEL_PASSED_ON(Result<void>, wait_until_replaceable, (Path p), p)
  CORVANDEL_PASSED_ON(Result<FileState>, file_state, (Path p), p)
  CORVANDEL_PASSED_ON(Result<void>, sync_directory, (Path p), p)
  CORVANDEL_PASSED_ON(Result<std::vector<std::string>>, directory_names, (Path p), p)
  CORVANDEL_PASSED_ON(Result<void>, hard_link, (Path p, Path to), p, to)
  CORVANDEL_PASSED_ON(Result<void>, move_file, (Path p, Path to, bool replace), p, to, replace)
  CORVANDEL_PASSED_ON(Result<std::unique_ptr<FileLock>>, lock_file, (Path p, bool wait), p, wait)
#undef CORVANDEL_PASSED_ON
#define CORVANDEL_NATIVE(Type, op, Params, args, ...) \
  Type op Params __VA_ARGS__ override { return native_platform().op args; }
  CORVANDEL_NATIVE(std::span<const std::string_view>, system_help_options, (), (), const)
  CORVANDEL_NATIVE(std::string_view, path_separators, (), (), const)
  CORVANDEL_NATIVE(bool, held_by_another_program, (const Error& e), (e), const)
  CORVANDEL_NATIVE(SystemErrorCause, system_error_cause, (int code), (code), const)
  CORVANDEL_NATIVE(void, advise_large_memory, (void* p, std::size_t size), (p, size))
  CORVANDEL_NATIVE(void, fail_out_of_memory, (std::size_t bytes), (bytes))
#undef CORVANDEL_NATIVE
  // clang-format on

 private:
  // Fails an operation on `path` when chosen, or passes it on to the native platform's.
  template <class R, class... Params, class... Args>
  R pass(const char* name, R (Platform::*op)(Params...), const std::string& path, Args... rest) {
    if (std::optional<Error> error = step(name, path)) return *error;
    return (native_platform().*op)(path, rest...);
  }

  std::map<std::pair<std::string, int>, int> faults_;
  std::map<std::string, int> counts_;
  long slept_ = 0;
};

/// Runs `what` (the update run by default) on `platform` in `working_dir`, until it ends.
RunResult run_in_process(TestPlatform& platform, const fs::path& working_dir,
                         const std::function<void()>& what = {});

#ifndef _WIN32
struct ProcessOptions {
  std::vector<std::string> command;  // the program, then its arguments
  fs::path working_dir;
  /// Set in the child's otherwise minimal environment (PATH, HOME, TZ and Wine's are kept).
  std::map<std::string, std::string> environment;
};

/// Runs a process through the shell, and waits for it; one still running after a minute is killed.
RunResult run_process(const ProcessOptions& options);

/// The built Linux program, after `prefix` (strace, say), with QUILLMERE_DIR naming `folder`.
ProcessOptions program_in(const ListFolder& folder, std::vector<std::string> prefix = {});
#endif

// Lists of a few words, and what the program prints.
inline const Lists kLists{"DOG\nEMU", "CAT\r\nant", "bee Ant\nfox \u00E9t\u00E9"};
inline const std::string kBanner = "corvandel:\n", kWritten = "Update successful.\n";
inline const std::string kPrompt = "\nPress Enter to exit...\n";
inline const std::string kNotFound =
    ", was not found.\nCreate a non-empty file, with this name, containing new text strings to "
    "add to the dictionary lists.\n";

/// An error to fail a call with, how the program takes it beyond failing the step ("", "retried",
/// "name-taken", "no-hard-links", "stream-closed"), its text in the messages.
struct Fault {
  int code = 0;
  std::string treatment = "", text = "";
};

/// A file call of a successful run, the how-manyth of its name; what it does ("look" at a type or
/// state, "read", "create", "write", "flush", "close", "link", "rename", "remove", "make-folder",
/// "lock", "attributes"); its path (from the base directory with '/'; a link's or rename's source;
/// "console", "keyboard"); the text it prints, or its flags; the errors it meets.
struct Call {
  std::string name;
  int occurrence = 0;
  std::string effect = "", path = "", detail = "";
  std::vector<Fault> faults = {};
};

/// Lists that fill several write blocks when `large`, so that a kill can land inside one.
Lists sweep_lists(bool large);

/// A run in `folder` with `call` failed by `fault`, or killed inside it when `fault` is null.
using SweptRun = std::function<RunResult(const ListFolder&, const Call&, const Fault* fault)>;

/// Fails each call of `calls` named among `names` (all for "") with each of its faults, or kills
/// the run inside each that changes the disk, from `before`; checks the end, promise and next run.
void sweep(const std::vector<Call>& calls, const std::string& names, bool kill, const Lists& before,
           int killed_status, const SweptRun& run);

/// Checks the order of both replacements' steps ("effect path[ detail]") in `calls`: `after_folder`
/// follows the making of the backup folder, `before_link` ($: the live list) the new list's flush,
/// `moved` ends the line of its move; looks with the detail `freeing` are steps too.
void expect_replacement_order(const std::vector<Call>& calls, const std::string& after_folder,
                              const std::string& before_link = "", const std::string& moved = "",
                              const std::string& freeing = "");

}  // namespace corvandel::testing
