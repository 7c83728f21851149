#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <fstream>
#include <random>
#include <set>

#include "list/merge_walk.h"
#include "run/update_run.h"

#ifdef _WIN32
#include "platform/platform-win32.h"
#else
#include <sys/wait.h>

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
  if (pattern[0] == '*')
    return like(text, pattern.substr(1)) || (!text.empty() && like(text.substr(1), pattern));
  return !text.empty() &&
         (pattern[0] == '#' ? std::isdigit(static_cast<unsigned char>(text[0])) != 0
                            : pattern[0] == text[0]) &&
         like(text.substr(1), pattern.substr(1));
}

std::string filled(std::string text, const std::vector<std::pair<std::string, std::string>>& keys) {
  for (const auto& [key, value] : keys)
    for (std::size_t at = 0; (at = text.find(key, at)) != std::string::npos; at += value.size())
      text.replace(at, key.size(), value);
  return text;
}

// Whether `word` is one of the space-separated `words` (or `words` is empty).
static bool among(const std::string& word, const std::string& words) {
  return words.empty() || (" " + words + " ").find(" " + word + " ") != std::string::npos;
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

ListFolder::ListFolder(bool under_wine, bool in_memory) : under_wine_(under_wine) {
  const bool shm = in_memory && fs::is_directory("/dev/shm");
  static std::mt19937_64 random{std::random_device{}()};
  do {
    root_ = (shm ? fs::path("/dev/shm") : fs::temp_directory_path()) /
            ("corvandel-test-" + std::to_string(random() % 1000000000));
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
  for (const auto& entry : fs::directory_iterator(backup_dir(), none))
    if (like(entry.path().filename().string(), kind + "_######_######.txt")) found.push_back(entry);
  std::sort(found.begin(), found.end());
  return found;
}

std::vector<std::string> ListFolder::strays() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(lists()))
    if (!among(entry.path().filename().string(),
               "master.txt reduced.txt update_words.txt BU_Previous_Files corvandel.lock"))
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
    // A killed run may die after keeping the old list; between two renames, it leaves none.
    EXPECT_TRUE(killed && !replaced ? kept.size() <= 1 && (present || kept.size() == 1)
                                    : kept.size() == (replaced ? 1u : 0u))
        << kind << ": " << kept.size() << " backups";
    for (const fs::path& backup : kept)
      EXPECT_TRUE(read_file(backup) == old_text) << kind << ": its backup holds other words";
    return replaced;
  };
  return {check("reduced", before.reduced, new_reduced),
          check("master", before.master, merge(before.master, new_reduced))};
}

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
  Result<std::unique_ptr<InputFile>> file = pass("open_file", &Platform::open_file, path);
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

#ifndef _WIN32

RunResult run_process(const ProcessOptions& options) {
  const ListFolder io;
  const auto quoted = [](const std::string& text) {  // for the shell, which passes it on as it is
    return "'" + filled(text, {{"'", "'\\''"}}) + "' ";
  };
  std::string command = "cd " + quoted(options.working_dir) + "&& exec timeout -s KILL 60 env -i ";
  for (const char* kept : {"PATH", "HOME", "TZ", "WINEPREFIX", "WINEDEBUG", "WINEDLLOVERRIDES"})
    if (const char* value = std::getenv(kept); value && !options.environment.count(kept))
      command += quoted(kept + ("=" + std::string(value)));
  for (const auto& [name, value] : options.environment) command += quoted(name + "=" + value);
  for (const std::string& argument : options.command) command += quoted(argument);
  // End of input answers the prompt.
  const fs::path out = io.root() / "out", err = io.root() / "err";
  const int status =
      std::system((command + "</dev/null >" + quoted(out) + "2>" + quoted(err)).c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), read_file(out),
          read_file(err)};
}

ProcessOptions program_in(const ListFolder& folder, std::vector<std::string> prefix) {
  prefix.push_back(CORVANDEL_BINARY);
  // A sanitized build's leak check stops the process with ptrace, which a traced one cannot be.
  return {prefix,
          folder.root(),
          {{"QUILLMERE_DIR", folder.base_text()}, {"ASAN_OPTIONS", "detect_leaks=0"}}};
}

#endif

namespace {

// How a run ends when a call fails: the first row naming what the call does, to which file, and
// how the program takes the error ("": any); then its status, what it prints between the banner
// and the prompt, and what it reports ($: the file, @: the live list, %: the error), or the cause
// in its fatal report. Files: a "list" (live, or the update file), the "unread-update" (before
// the run reads it), a "list-in-swap" (a live list whose new list is complete), a "new" list, a
// "backup", the "lists" and "backups" folders, the "lock", "console" and "keyboard".
const std::array<std::string, 6> kEndings[] = {
    {"", "", "retried", "0"},
    // The lock, the answer to the prompt, the list folder's listing and flushes: passed over.
    {"", "lock keyboard lists", "", "0"},
    {"look read close", "backups", "", "0"},  // then made; or not flushed
    {"write flush close", "new", "", "101", "", "writing $"},
    {"create", "new", "name-taken", "0"},  // the next number
    {"create", "new", "", "101", "", "creating $"},
    {"close remove attributes", "", "", "0"},
    {"write", "console", "stream-closed", "0"},  // what it prints is lost
    {"write", "console", "", "101", "", "failed printing to stdout"},
    {"look", "unread-update", "", "1", "Update words file, $" + kNotFound},
    {"look", "list", "", "1", "$ is missing (or not a regular file)\n"},
    {"read", "list", "", "101", "", "reading $"},
    {"look read flush", "list-in-swap backup backups", "", "1", "Error renaming file: %\n"},
    {"make-folder", "", "", "1", "", "Failed to create directory: %\n"},
    {"link aside", "", "no-hard-links name-taken", "0"},  // by two moves; a new stamp
    {"into-place", "", "name-taken", "101", "", "replacing @"},
    {"link into-place aside back", "", "", "1", "Error renaming file: %\n"},
};

// Which file a path names, as the table calls them.
std::string file_of(const std::string& path) {
  if (path == "DicLists" || path == "DicLists/" || path == "DicLists/*") return "lists";
  if (path == "DicLists/BU_Previous_Files") return "backups";
  if (path.starts_with("DicLists/BU_Previous_Files/")) return "backup";
  if (like(path, "DicLists/*.txt.new-#*")) return "new";
  if (path == "DicLists/corvandel.lock") return "lock";
  return path.starts_with("DicLists/") && path.ends_with(".txt") ? "list" : path;
}

// The status, output and error (the cause, for a fatal report) of a run that `row` tells of.
RunResult expected(const std::array<std::string, 6>& row, const Call& call, const Fault& fault,
                   const ListFolder& folder) {
  const std::string lists = "DicLists/",
                    path = call.path.starts_with(lists)
                               ? folder.list_path(call.path.substr(lists.size()))
                               : folder.base_text() + call.path;
  const std::string live = path.substr(0, path.rfind(".new-"));
  // Another program's save is what a move that finds the live name taken reports.
  const std::string error = row[5] == "replacing @" ? changed_meanwhile_error().text : fault.text;
  const auto fill = [&](const std::string& text) {
    return filled(text, {{"$", path}, {"@", live}, {"%", error}});
  };
  std::string all = kBanner + kWritten + kPrompt;
  const std::size_t printed = call.path == "console" ? all.find(call.detail) : kBanner.size();
  if (row[3] == "1") return {1, kBanner + fill(row[4]) + kPrompt, fill(row[5])};
  if (row[3] == "101") return {101, all.substr(0, printed), fill(row[5]) + ": " + error};
  return {0, fault.treatment == "stream-closed" ? all.erase(printed, call.detail.size()) : all, ""};
}

}  // namespace

Lists sweep_lists(bool large) {
  Lists lists = kLists;
  for (int i = 0; large && i < (CORVANDEL_SANITIZED ? 10000 : 50000); ++i) {
    lists.master +=
        "\nm" + std::to_string(i * 7 % 50000) + (i % 5 ? "" : "\xC3\xA9") + std::string(24, 'w');
    lists.update += (i % 3 ? " u" : "\r\nU") + std::to_string(i);
  }
  return lists;
}

void sweep(const std::vector<Call>& calls, const std::string& names, bool kill, const Lists& before,
           int killed_status, const SweptRun& run) {
  int swept = 0, replaced = 0;           // calls swept, lists put in place so far
  std::set<std::string> read, complete;  // files read, new lists complete so far
  for (const Call& call : calls) {
    // A rename by what it moves; the file as the run finds it then (see the table).
    std::string effect = call.effect, file = file_of(call.path);
    if (effect == "rename")
      effect = file == "new" ? "into-place" : file == "backup" ? "back" : "aside";
    if (effect == "look" && call.path.ends_with("/update_words.txt") && !read.count(call.path))
      file = "unread-update";
    for (const std::string& done : complete)
      if (file == "list" && done.starts_with(call.path + ".new-")) file = "list-in-swap";
    const int replaced_before = replaced;
    if (effect == "read") read.insert(call.path);
    if (effect == "close" && file == "new") complete.insert(call.path);
    if (effect == "into-place" || effect == "remove") complete.erase(call.path);
    replaced += effect == "into-place";
    if (!among(call.name, names)) continue;
    if (kill && among(effect, "look read close lock")) continue;  // these change nothing
    ++swept;
    for (const Fault& fault : kill ? std::vector<Fault>(1) : call.faults) {
      SCOPED_TRACE(call.name + " #" + std::to_string(call.occurrence) + " (" + effect + " " + file +
                   ") " + (kill ? "killed" : fault.text));
      const auto row = std::find_if(std::begin(kEndings), std::end(kEndings), [&](const auto& r) {
        return among(effect, r[0]) && among(file, r[1]) && among(fault.treatment, r[2]);
      });
      ASSERT_TRUE(kill || row != std::end(kEndings)) << "no ending for this call";
      const ListFolder folder(before);
      const RunResult r = run(folder, call, kill ? nullptr : &fault);
      const auto [reduced, master] = folder.check_promise(before, kill);
      const RunResult outcome =
          kill ? RunResult{killed_status, r.out, r.err} : expected(*row, call, fault, folder);
      EXPECT_EQ(r.status, outcome.status);
      EXPECT_EQ(r.out, outcome.out);
      EXPECT_TRUE(r.status == 101 ? r.err.find(": " + outcome.err + " [kind: ") != std::string::npos
                                  : r.err == outcome.err)
          << r.err;
      EXPECT_TRUE(kill || reduced + master == (outcome.status == 0 ? 2 : replaced_before));
      for (const std::string& stray : folder.strays())
        EXPECT_TRUE(kill && stray.ends_with(".txt.new-1")) << stray << " left behind";
      // The next run (a day ahead) completes the update and removes what a killed run left, or
      // reports missing a list that a kill between two renames left in its backup alone.
      TestPlatform next;
      next.clock_offset = 86400;
      next.environment["QUILLMERE_DIR"] = folder.base_text();
      const bool absent =
          !fs::exists(folder.lists() / "reduced.txt") || !fs::exists(folder.lists() / "master.txt");
      EXPECT_EQ(run_in_process(next, folder.root()).status, absent ? 1 : 0);
      EXPECT_TRUE(absent || folder.read().master ==
                                model_list({before.master, before.reduced, before.update}));
      EXPECT_TRUE(folder.strays().empty()) << "an unfinished list stays after the next run";
    }
  }
  EXPECT_GE(swept, 4);
}

// A name is on disk once its folder is flushed: the backup folder before a link into it, the new
// list before it is linked or moved, the backup name before the live one changes, that after.
void expect_replacement_order(const std::vector<Call>& calls, const std::string& after_folder,
                              const std::string& before_link, const std::string& moved,
                              const std::string& freeing) {
  std::string steps, order = "make-folder DicLists/BU_Previous_Files\n" + after_folder;
  for (const Call& c : calls) {
    if (among(c.effect, "make-folder flush link rename attributes") ||
        (c.effect == "look" && !freeing.empty() && c.detail == freeing))
      steps += c.effect + " " + c.path + (c.detail.empty() ? "" : " " + c.detail) + "\n";
  }
  for (const std::string list : {"DicLists/reduced.txt", "DicLists/master.txt"}) {
    order += "flush " + list + ".new-1\n" + filled(before_link, {{"$", list}}) + "link " + list +
             "\nflush DicLists/BU_Previous_Files\nrename " + list + ".new-1" + moved +
             "\nflush DicLists\n";
  }
  EXPECT_EQ(steps, order);
}

}  // namespace corvandel::testing
