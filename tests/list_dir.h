// A scratch DicLists folder for whole runs of a built program, and the checks of the promise that
// every run keeps: each list is whole (its old or its new content), the words it held before are
// still on disk (in the list or in its one backup), and the update file is untouched.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "run_program.h"

namespace corvandel::testing {

inline const std::string kBanner = "corvandel:\n";
inline const std::string kPrompt = "\nPress Enter to exit...\n";
inline const std::string kSuccess = kBanner + "Update successful.\n" + kPrompt;

/// Every White_Space character.
inline const std::string kAllWhitespace =
    "\t\n\v\f\r \xC2\x85\xC2\xA0\xE1\x9A\x80\xE2\x80\x80\xE2\x80\x81\xE2\x80\x82\xE2\x80\x83"
    "\xE2\x80\x84\xE2\x80\x85\xE2\x80\x86\xE2\x80\x87\xE2\x80\x88\xE2\x80\x89\xE2\x80\x8A"
    "\xE2\x80\xA8\xE2\x80\xA9\xE2\x80\xAF\xE2\x81\x9F\xE3\x80\x80";

/// The environment for a program traced by strace: a sanitized build's leak check stops the
/// process with ptrace, which a traced process cannot be.
inline const std::map<std::string, std::string> kUnderPtrace{{"ASAN_OPTIONS", "detect_leaks=0"}};

/// The content of the three files before a run, and of both lists after a complete run.
struct ListContents {
  std::string master, reduced, update;
  std::string new_master, new_reduced;
};

class ListDir {
 public:
  /// `windows`: the program is corvandel.exe under Wine, which sees the Linux root as drive Z:.
  explicit ListDir(bool windows = false) : windows_(windows) { use_base(temp_.path()); }

  /// Makes `base` (the scratch folder or a folder inside it) the base directory.
  void use_base(const std::filesystem::path& base) {
    base_ = base;
    lists_ = base / "DicLists";
    backups_ = lists_ / "BU_Previous_Files";
    std::filesystem::create_directories(lists_);
  }

  const std::filesystem::path& root() const { return temp_.path(); }
  const std::filesystem::path& base() const { return base_; }
  const std::filesystem::path& lists() const { return lists_; }
  const std::filesystem::path& backup_dir() const { return backups_; }

  /// A path as the program names it.
  std::string program_path(const std::filesystem::path& path) const {
    if (!windows_) return path.string();
    std::string text = "Z:" + path.string();
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
  }
  std::string separator() const { return windows_ ? "\\" : "/"; }
  /// The base directory as the variable holds it, ending in a separator.
  std::string base_text() const { return program_path(base_) + separator(); }
  std::string list_path(const std::string& name) const {
    return base_text() + "DicLists" + separator() + name;
  }

  void write_lists(const std::string& master, const std::string& reduced,
                   const std::string& update) const {
    write_file(lists_ / "master.txt", master);
    write_file(lists_ / "reduced.txt", reduced);
    write_file(lists_ / "update_words.txt", update);
  }
  void write_lists(const ListContents& c) const { write_lists(c.master, c.reduced, c.update); }

  void expect_lists(const std::string& master, const std::string& reduced) const {
    EXPECT_TRUE(read_file(lists_ / "master.txt") == master) << "master.txt";
    EXPECT_TRUE(read_file(lists_ / "reduced.txt") == reduced) << "reduced.txt";
  }

  /// Runs `program` in the scratch folder with QUILLMERE_DIR naming the base directory, unless
  /// `options` sets it or `set_base` is false.
  RunResult run(const std::filesystem::path& program, RunOptions options = {},
                bool set_base = true) const {
    if (set_base && !options.environment.count("QUILLMERE_DIR")) {
      options.environment["QUILLMERE_DIR"] = base_text();
    }
    if (options.working_dir.empty()) options.working_dir = temp_.path();
    return run_program(program, options);
  }

  /// The backup files of one kind ("reduced" or "master"), sorted, each checked against the
  /// stamped name.
  std::vector<std::filesystem::path> backups(const std::string& kind) const {
    std::vector<std::filesystem::path> found;
    if (!std::filesystem::is_directory(backups_)) return found;
    const std::regex stamped(kind + "_[0-9]{6}_[0-9]{6}\\.txt");
    for (const auto& entry : std::filesystem::directory_iterator(backups_)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind(kind + "_", 0) != 0) continue;
      EXPECT_TRUE(std::regex_match(name, stamped)) << name;
      found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    return found;
  }

  /// The content of the `index`th backup of one kind.
  std::string backup_text(const std::string& kind, std::size_t index = 0) const {
    const std::vector<std::filesystem::path> kept = backups(kind);
    return index < kept.size() ? read_file(kept[index]) : "<no backup>";
  }

  /// Everything in DicLists apart from the three files and the backup folder.
  std::vector<std::string> strays() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(lists_)) {
      std::string name = entry.path().filename().string();
      if (name != "master.txt" && name != "reduced.txt" && name != "update_words.txt" &&
          name != "BU_Previous_Files") {
        names.push_back(name);
      }
    }
    return names;
  }

  /// Which lists a run replaced, as far as the promise can tell.
  struct Replaced {
    bool reduced = false;
    bool master = false;
  };

  /// Checks the promise after one run that started from `contents` (a fresh folder, so each list
  /// has at most the one backup that this run made) and tells which lists were replaced. After a
  /// `killed` run a list that was not replaced may have a backup (the run died between keeping
  /// the old list and putting the new one in place); it must then hold that list's words.
  Replaced check_promise(const ListContents& contents, bool killed = false) const {
    EXPECT_TRUE(read_file(lists_ / "update_words.txt") == contents.update) << "the update file";
    return {check_list("reduced", contents.reduced, contents.new_reduced, killed),
            check_list("master", contents.master, contents.new_master, killed)};
  }

 private:
  bool check_list(const std::string& kind, const std::string& old_text, const std::string& new_text,
                  bool killed) const {
    const std::string live = read_file(lists_ / (kind + ".txt"));
    const std::vector<std::filesystem::path> kept = backups(kind);
    const bool replaced = live != old_text || live == new_text;
    EXPECT_TRUE(!replaced || live == new_text)
        << kind << " is neither its old nor its new content (" << live.size() << " bytes)";
    if (replaced || killed) {
      EXPECT_LE(kept.size(), 1u) << kind << ": one run keeps one backup";
      EXPECT_TRUE(!replaced || kept.size() == 1) << kind << " was replaced without a backup";
    } else {
      EXPECT_TRUE(kept.empty()) << kind << ": a backup of a list that was not replaced";
    }
    for (const auto& backup : kept) {
      EXPECT_TRUE(read_file(backup) == old_text) << kind << " backup holds other words";
    }
    return replaced;
  }

  bool windows_;
  TempDir temp_;
  std::filesystem::path base_, lists_, backups_;
};

/// One system call of a trace written by strace: its name, arguments and result.
struct TracedCall {
  std::string name, args, result;
};

inline std::vector<TracedCall> traced_calls(const std::filesystem::path& log) {
  const std::regex call_pattern(R"(^(\w+)\((.*)\) += (-?\d+))");
  std::vector<TracedCall> calls;
  std::istringstream lines(read_file(log));
  for (std::string line; std::getline(lines, line);) {
    std::smatch match;
    if (std::regex_search(line, match, call_pattern))
      calls.push_back({match[1], match[2], match[3]});
  }
  return calls;
}

/// Options that run `program` under strace, tracing `traced` calls into `log`, with `injections`
/// ("link:error=EPERM", "write:signal=SIGKILL:when=3" ...).
inline RunOptions under_strace(const std::string& program, const std::string& traced,
                               const std::vector<std::string>& injections = {},
                               const std::string& log = "/dev/null") {
  RunOptions options;
  options.environment = kUnderPtrace;
  options.arguments = {"-qq", "-o", log, "-e", "trace=" + traced};
  for (const std::string& injection : injections) {
    options.arguments.insert(options.arguments.end(), {"-e", "inject=" + injection});
  }
  options.arguments.push_back(program);
  return options;
}

}  // namespace corvandel::testing
