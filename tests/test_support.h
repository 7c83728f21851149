// What the tests share: a plain model of the list format, a scratch list folder with the promise
// every run keeps, and running the program inside the test process or as a process.
#pragma once

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform.h"
#include "unicode.h"

namespace corvandel::testing {
namespace fs = std::filesystem;

// --- The model of the list format (inline, so that the fuzz target needs nothing else) ---

/// Encodes any value up to 0x1FFFFF the plain way, surrogates included.
inline std::string utf8(char32_t c) {
  if (c < 0x80) return std::string(1, static_cast<char>(c));
  const std::size_t length = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
  std::string out(length, '\0');
  for (std::size_t i = length - 1; i > 0; --i, c >>= 6)
    out[i] = static_cast<char>(0x80 | (c & 0x3F));
  out[0] = static_cast<char>((0xF0 << (4 - length)) | c);
  return out;
}

/// The White_Space characters, the separators of the list format.
inline constexpr char32_t kWhitespace[] = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,
                                           0xA0,   0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
                                           0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028,
                                           0x2029, 0x202F, 0x205F, 0x3000};

inline bool is_space(char32_t c) {
  return std::find(std::begin(kWhitespace), std::end(kWhitespace), c) != std::end(kWhitespace);
}

/// The code point that starts `text` and its byte length; nothing when not well-formed.
inline std::optional<char32_t> decode(std::string_view text, std::size_t& length) {
  static constexpr char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
  const auto lead = static_cast<unsigned char>(text[0]);
  length = lead < 0x80 ? 1 : lead >> 5 == 6 ? 2 : lead >> 4 == 14 ? 3 : lead >> 3 == 30 ? 4 : 0;
  if (length == 0 || length > text.size()) return std::nullopt;
  char32_t c = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if (static_cast<unsigned char>(text[i]) >> 6 != 2) return std::nullopt;
    c = (c << 6) | (text[i] & 0x3F);
  }
  if (c < kMinimum[length] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return std::nullopt;
  return c;
}

/// The words of a list file, upper-cased; nothing when the text is not UTF-8.
inline std::optional<std::vector<std::string>> model_words(std::string_view text) {
  std::vector<std::string> words(1);
  for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
    const std::optional<char32_t> c = decode(text.substr(i), length);
    if (!c) return std::nullopt;
    if (is_space(*c) && !words.back().empty()) words.emplace_back();
    if (!is_space(*c)) unicode::append_upper(text.substr(i, length), words.back());
  }
  if (words.back().empty()) words.pop_back();
  return words;
}

/// The list written from the words of the UTF-8 `texts`: distinct, byte-wise ascending, LF-joined.
inline std::string model_list(const std::vector<std::string_view>& texts) {
  std::set<std::string> set;
  for (std::string_view text : texts) {
    if (const auto words = model_words(text)) set.insert(words->begin(), words->end());
  }
  std::string out;
  for (const std::string& word : set) out += (out.empty() ? "" : "\n") + word;
  return out;
}

/// An output file that keeps what is written to it.
struct StringOutput final : OutputFile {
  Result<void> write(std::string_view bytes) override { return text += bytes, Result<void>(); }
  Result<void> finish() override { return {}; }
  std::string text;
};

inline FileData file_data(std::string_view text) {
  FileData data{std::make_unique<char[]>(text.size() + 1), text.size()};
  std::copy(text.begin(), text.end(), data.data());
  return data;
}

// --- A scratch list folder ---

std::string read_file(const fs::path& path);
void write_file(const fs::path& path, std::string_view content);
/// Whether `text` is `pattern`, where each * stands for any run of characters and each # for a
/// digit.
bool like(std::string_view text, std::string_view pattern);
/// The stamp of a backup made at `when`: local time as yymmdd_HHMMSS.
std::string local_stamp(std::time_t when);

struct Lists {
  std::string master, reduced, update;
};

class ListFolder {
 public:
  /// `windows`: the program is corvandel.exe under Wine, which sees the Linux root as drive Z:.
  explicit ListFolder(bool windows = false);
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
  std::string separator() const { return windows_ ? "\\" : "/"; }
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
  /// Everything in DicLists but the three files and the backup folder.
  std::vector<std::string> strays() const;

  /// Checks the promise after a run from `before`, with no backups yet: the update file is
  /// unchanged; each list holds its old content or the model's merge; a replaced list's old
  /// content is its one backup, an unreplaced one has none (after a `killed` run it may have one,
  /// and the list may be absent). Returns which lists were replaced.
  std::pair<bool, bool> check_promise(const Lists& before, bool killed = false) const;

 private:
  bool windows_;
  fs::path root_, base_;
  std::error_code ignored_;
};

// --- Running the program ---

struct RunResult {
  int status = -1;  // exit status, or 128 + signal number; -1 when the code run returned
  std::string out, err;
};

/// Thrown where a run inside the test process would end the process.
struct ProcessExit {
  int status;
};

/// A platform for runs inside the test process, installed while it exists: the native file
/// system with chosen operations failed, a console, environment and clock of the test's own;
/// exit_process ends the run by throwing.
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
  Result<void> flush_stdout() override { return {}; }
  Result<void> read_stdin_line() override { return {}; }
  std::optional<std::string> environment_variable(const char* name) override {
    const auto value = environment.find(name);
    return value == environment.end() ? std::nullopt : std::optional(value->second);
  }
  Result<void> replace_keeping_backup(const std::string& replacement, const std::string& live,
                                      const std::string& backup) override {
    return pass("replace_keeping_backup", live, &Platform::replace_keeping_backup, replacement,
                live, backup);
  }
  Result<std::string> local_time_stamp() override;
  void sleep_milliseconds(int milliseconds) override { ++sleeps, slept_ += milliseconds; }
  [[noreturn]] void exit_process(int status) override { throw ProcessExit{status}; }
  std::string_view list_dir_separator() const override { return "/"; }

  // clang-format off
#define CORVANDEL_PASSED_ON(Type, op) \
  Type op(const std::string& p) override { return pass(#op, p, &Platform::op, p); }
  CORVANDEL_PASSED_ON(Result<FileType>, file_type)
  CORVANDEL_PASSED_ON(Result<void>, make_directory)
  CORVANDEL_PASSED_ON(Result<std::unique_ptr<InputFile>>, open_file)
  CORVANDEL_PASSED_ON(Result<std::unique_ptr<OutputFile>>, create_new_file)
  CORVANDEL_PASSED_ON(Result<void>, remove_file)
#undef CORVANDEL_PASSED_ON
  // clang-format on

 private:
  // Fails an operation when chosen, or passes it on to the native platform's.
  template <class R, class... Params, class... Args>
  R pass(const char* name, const std::string& path, R (Platform::*op)(Params...), Args&&... args) {
    if (std::optional<Error> error = step(name, path)) return *error;
    return (native_platform().*op)(std::forward<Args>(args)...);
  }

  std::map<std::pair<std::string, int>, int> faults_;
  std::map<std::string, int> counts_;
  long slept_ = 0;
};

/// Runs `what` (the update run by default) on `platform` in `working_dir`, until it ends.
RunResult run_in_process(TestPlatform& platform, const fs::path& working_dir,
                         const std::function<void()>& what = {});

struct ProcessOptions {
  std::vector<std::string> command;  // the program, then its arguments
  fs::path working_dir;
  /// Set in the child's otherwise minimal environment (PATH, HOME, TZ and Wine's are kept).
  std::map<std::string, std::string> environment;
};

/// Runs a process and waits for it; one still running after a minute is killed.
RunResult run_process(const ProcessOptions& options);

/// The built Linux program, after `prefix` (strace, say), with QUILLMERE_DIR naming `folder`.
ProcessOptions program_in(const ListFolder& folder, std::vector<std::string> prefix = {});

// Lists of a few words, and what the program prints.
inline const Lists kLists{"DOG\nEMU", "CAT\r\nant", "bee Ant\nfox \u00E9t\u00E9"};
inline const std::string kBanner = "corvandel:\n", kWritten = "Update successful.\n";
inline const std::string kPrompt = "\nPress Enter to exit...\n";
inline const std::string kNotFound =
    ", was not found.\nCreate a non-empty file, with this name, containing new text strings to "
    "add to the dictionary lists.\n";

}  // namespace corvandel::testing
