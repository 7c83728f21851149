#include "test_support.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <fstream>
#include <random>
#include <thread>

#include "list/merge_walk.h"
#include "run/update_run.h"

#ifdef _WIN32
#include "platform/platform-win32.h"
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/platform-linux.h"
#endif

namespace corvandel::testing {

std::optional<std::string> merged(std::string_view current, std::string_view update,
                                  const Tunables& sizes) {
  struct : OutputFile {  // keeps what is written to it
    Result<void> write(std::string_view bytes) override { return text += bytes, Result<void>(); }
    Result<void> restart() override { return text.clear(), Result<void>(); }
    Result<void> finish() override { return {}; }
    std::string text;
  } out;
  const auto read = [&](std::string_view text) {
    FileData data = FileData::allocate(text.size());
    data.size = text.copy(data.data(), text.size());
    return parse_word_list(std::move(data), sizes);
  };
  Result<WordList> a = read(current), b = read(update);
  if (!a || !b) return std::nullopt;
  if (!write_merged_lists(out, a.value(), b.value(), sizes)) return "<failed>";
  return out.text;
}

std::string read_file(const fs::path& path) {
  if (!fs::is_regular_file(path)) return "";  // nor is a folder or a FIFO read
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_file(const fs::path& path, std::string_view content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

bool like(std::string_view text, std::string_view pattern) {
  if (pattern.empty()) return text.empty();
  if (pattern[0] == '*') {
    return like(text, pattern.substr(1)) || (!text.empty() && like(text.substr(1), pattern));
  }
  return !text.empty() &&
         (pattern[0] == '#' ? std::isdigit(static_cast<unsigned char>(text[0])) != 0
                            : pattern[0] == text[0]) &&
         like(text.substr(1), pattern.substr(1));
}

std::string local_stamp(std::time_t when) {
  std::tm local{};
  char text[32];
#ifdef _WIN32
  ::localtime_s(&local, &when);
#else
  ::localtime_r(&when, &local);
#endif
  return std::string(text, std::strftime(text, sizeof text, "%y%m%d_%H%M%S", &local));
}

// --- The list folder ---

ListFolder::ListFolder(bool under_wine, bool in_memory) : under_wine_(under_wine) {
  const fs::path memory = "/dev/shm";
  const fs::path temporary =
      in_memory && fs::is_directory(memory) ? memory : fs::temp_directory_path();
  static std::mt19937_64 random{std::random_device{}()};
  do {
    root_ = temporary / ("corvandel-test-" + std::to_string(random() % 1000000000));
  } while (!fs::create_directory(root_));
  use_base(root_);
}

std::string ListFolder::program_path(const fs::path& path) const {
  std::string text = (under_wine_ ? "Z:" : "") + path.string();
  if (under_wine_) std::replace(text.begin(), text.end(), '/', '\\');
  return text;
}

void ListFolder::write(const Lists& files) const {
  write_file(lists() / "master.txt", files.master);
  write_file(lists() / "reduced.txt", files.reduced);
  write_file(lists() / "update_words.txt", files.update);
}

std::vector<fs::path> ListFolder::backups(const std::string& kind) const {
  std::vector<fs::path> found;
  std::error_code none;  // no backup folder, no backups
  for (const auto& entry : fs::directory_iterator(backup_dir(), none)) {
    if (like(entry.path().filename().string(), kind + "_######_######.txt")) found.push_back(entry);
  }
  std::sort(found.begin(), found.end());
  return found;
}

std::vector<std::string> ListFolder::strays() const {
  static const std::set<std::string> kOwn = {"master.txt", "reduced.txt", "update_words.txt",
                                             "BU_Previous_Files", "corvandel.lock"};
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(lists()))
    if (!kOwn.count(entry.path().filename().string()))
      names.push_back(entry.path().filename().string());
  return names;
}

std::pair<bool, bool> ListFolder::check_promise(const Lists& before, bool killed) const {
  EXPECT_TRUE(read_file(lists() / "update_words.txt") == before.update) << "the update file";
  // What a pass writes, or nothing where it must fail: a list that is not UTF-8, no words to add.
  const auto merge = [](const std::string& current, const std::optional<std::string>& update) {
    const bool fails = !update || !model_words(current) ||
                       model_words(*update).value_or(std::vector<std::string>{}).empty();
    return fails ? std::nullopt : std::optional(model_list({current, *update}));
  };
  const std::optional<std::string> new_reduced = merge(before.reduced, before.update);
  const auto check = [&](const std::string& kind, const std::string& old_text,
                         const std::optional<std::string>& new_text) {
    const std::vector<fs::path> kept = backups(kind);
    const bool present = fs::exists(lists() / (kind + ".txt"));
    const std::string live = read_file(lists() / (kind + ".txt"));
    // A list that already held every word is replaced by the same text: its backup tells.
    const bool replaced = present && (live != old_text || (live == new_text && !kept.empty()));
    EXPECT_TRUE(!replaced || (live == new_text && in_written_form(live)))
        << kind << " is neither its old list nor its new one in written form";
    // A killed run may die between keeping the old list and putting the new one in place; one
    // killed between the two renames used without hard links leaves the list absent.
    EXPECT_TRUE(killed && !replaced ? kept.size() <= 1 && (present || kept.size() == 1)
                                    : kept.size() == (replaced ? 1u : 0u))
        << kind << ": " << kept.size() << " backups";
    for (const fs::path& backup : kept) {
      EXPECT_TRUE(read_file(backup) == old_text) << kind << ": its backup holds other words";
    }
    return replaced;
  };
  return {check("reduced", before.reduced, new_reduced),
          check("master", before.master, merge(before.master, new_reduced))};
}

// --- In-process runs ---

std::optional<Error> TestPlatform::step(const std::string& name, const std::string& path) {
  if (before_step) before_step(name + " " + path);
  const auto fault = faults_.find({name, ++counts_[name]});
  if (fault == faults_.end()) return std::nullopt;
#ifdef _WIN32
  return win32::os_error(static_cast<unsigned long>(fault->second));
#else
  return linux_os::os_error(fault->second);
#endif
}

Result<std::string> TestPlatform::local_time_stamp() {
  if (auto error = step("local_time_stamp", "")) return *error;
  if (fixed_stamp) return *fixed_stamp;
  if (clock_offset == 0 && slept_ == 0) return native_platform().local_time_stamp();
  const auto now = std::chrono::system_clock::now() + std::chrono::milliseconds(slept_);
  return local_stamp(std::chrono::system_clock::to_time_t(now) + clock_offset);
}

Result<std::unique_ptr<InputFile>> TestPlatform::open_file(const std::string& path) {
  struct Stepped final : InputFile {
    Stepped(TestPlatform& p, std::string f, std::unique_ptr<InputFile> in)
        : platform(p), path(std::move(f)), file(std::move(in)) {}
    Result<std::size_t> read(char* buffer, std::size_t size) override {
      if (std::optional<Error> error = platform.step("read", path)) return *error;
      return file->read(buffer, size);
    }
    std::uint64_t size_when_opened() const override { return file->size_when_opened(); }
    Result<std::string> state() override { return file->state(); }
    Result<void> rewind() override { return file->rewind(); }
    TestPlatform& platform;
    const std::string path;
    std::unique_ptr<InputFile> file;
  };
  Result<std::unique_ptr<InputFile>> file = pass("open_file", path, &Platform::open_file, path);
  if (!file) return file;
  return std::unique_ptr<InputFile>(new Stepped(*this, path, std::move(file.value())));
}

RunResult run_in_process(TestPlatform& platform, const fs::path& working_dir,
                         const std::function<void()>& what) {
  const fs::path saved = fs::current_path();
  fs::current_path(working_dir);
  int status = -1;
  try {
    what ? what() : run_update();
  } catch (const ProcessExit& exit) {
    status = exit.status;
  }
  fs::current_path(saved);
  return {status, platform.out, platform.err};
}

// --- Processes ---
#ifndef _WIN32

RunResult run_process(const ProcessOptions& options) {
  const ListFolder io;
  const fs::path out = io.root() / "out", err = io.root() / "err";
  std::vector<std::string> args = options.command, env;
  for (const char* kept : {"PATH", "HOME", "TZ", "WINEPREFIX", "WINEDEBUG", "WINEDLLOVERRIDES"}) {
    const char* value = std::getenv(kept);
    if (value && !options.environment.count(kept)) env.push_back(kept + ("=" + std::string(value)));
  }
  for (const auto& [name, value] : options.environment) env.push_back(name + "=" + value);
  std::vector<char*> argv, envp;
  for (std::string& a : args) argv.push_back(a.data());
  for (std::string& e : env) envp.push_back(e.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(::open("/dev/null", O_RDONLY), 0);  // end of input, which answers the prompt
    ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT, 0644), 2);
    ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT, 0644), 1);
    if (::chdir(options.working_dir.c_str()) == 0) ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) ::kill(pid, SIGKILL);
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), read_file(out),
          read_file(err)};
}

ProcessOptions program_in(const ListFolder& folder, std::vector<std::string> prefix) {
  ProcessOptions options;
  options.command = std::move(prefix);
  options.command.push_back(CORVANDEL_BINARY);
  options.working_dir = folder.root();
  options.environment["QUILLMERE_DIR"] = folder.base_text();
  // A sanitized build's leak check stops the process with ptrace, which a traced one cannot be.
  options.environment["ASAN_OPTIONS"] = "detect_leaks=0";
  return options;
}

#endif

}  // namespace corvandel::testing
