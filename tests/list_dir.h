// A scratch DicLists folder for whole runs of a built program, and the checks of the promise that
// every run keeps: each list is whole (its old or its new content), the words it held before are
// still on disk (in the list or in its one backup), and the update file is untouched.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "run_program.h"

namespace corvandel::testing {

inline const std::string kBanner = "corvandel:\n";
inline const std::string kPrompt = "\nPress Enter to exit...\n";
inline const std::string kSuccess = kBanner + "Update successful.\n" + kPrompt;

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
  ListDir() : lists_(temp_.path() / "DicLists"), backups_(lists_ / "BU_Previous_Files") {
    std::filesystem::create_directories(lists_);
  }

  const std::filesystem::path& lists() const { return lists_; }
  const std::filesystem::path& backup_dir() const { return backups_; }
  std::string base_text() const { return temp_.path().string() + "/"; }
  std::string list_path(const std::string& name) const { return base_text() + "DicLists/" + name; }

  void write_lists(const ListContents& contents) const {
    write_file(lists_ / "master.txt", contents.master);
    write_file(lists_ / "reduced.txt", contents.reduced);
    write_file(lists_ / "update_words.txt", contents.update);
  }

  /// Runs `program` with QUILLMERE_DIR naming this folder's parent, unless `options` sets it.
  RunResult run(const std::filesystem::path& program, RunOptions options = {}) const {
    if (!options.environment.count("QUILLMERE_DIR")) {
      options.environment["QUILLMERE_DIR"] = base_text();
    }
    if (options.working_dir.empty()) options.working_dir = temp_.path();
    return run_program(program, options);
  }

  /// The backup files of one kind ("reduced" or "master"), by name.
  std::vector<std::filesystem::path> backups(const std::string& kind) const {
    std::vector<std::filesystem::path> found;
    if (!std::filesystem::is_directory(backups_)) return found;
    for (const auto& entry : std::filesystem::directory_iterator(backups_)) {
      if (entry.path().filename().string().rfind(kind + "_", 0) == 0) found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    return found;
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
  /// has at most the one backup that this run made) and tells which lists were replaced.
  Replaced check_promise(const ListContents& contents) const {
    EXPECT_EQ(read_file(lists_ / "update_words.txt"), contents.update) << "the update file";
    Replaced replaced;
    replaced.reduced = check_list("reduced", contents.reduced, contents.new_reduced);
    replaced.master = check_list("master", contents.master, contents.new_master);
    return replaced;
  }

  /// Checks the promise after a run that was killed: as check_promise, except that a backup of
  /// a list that was not replaced may exist (the run died between keeping the old list and putting
  /// the new one in place); it must then hold that list's words.
  Replaced check_promise_after_kill(const ListContents& contents) const {
    EXPECT_TRUE(read_file(lists_ / "update_words.txt") == contents.update) << "the update file";
    Replaced replaced;
    replaced.reduced = check_killed_list("reduced", contents.reduced, contents.new_reduced);
    replaced.master = check_killed_list("master", contents.master, contents.new_master);
    return replaced;
  }

 private:
  bool check_killed_list(const std::string& kind, const std::string& old_text,
                         const std::string& new_text) const {
    const std::string live = read_file(lists_ / (kind + ".txt"));
    const std::vector<std::filesystem::path> kept = backups(kind);
    EXPECT_LE(kept.size(), 1u) << kind << ": one run keeps one backup";
    const bool replaced = live != old_text;
    EXPECT_TRUE(!replaced || live == new_text)
        << kind << " is neither its old nor its new content (" << live.size() << " bytes)";
    EXPECT_TRUE(!replaced || kept.size() == 1) << kind << " was replaced without a backup";
    for (const auto& backup : kept) {
      EXPECT_TRUE(read_file(backup) == old_text) << kind << " backup holds other words";
    }
    return replaced;
  }

  bool check_list(const std::string& kind, const std::string& old_text,
                  const std::string& new_text) const {
    const std::string live = read_file(lists_ / (kind + ".txt"));
    const std::vector<std::filesystem::path> kept = backups(kind);
    if (live == old_text && live != new_text) {
      EXPECT_TRUE(kept.empty()) << kind << ": a backup of a list that was not replaced";
      return false;
    }
    EXPECT_EQ(live.size(), new_text.size()) << kind << " is neither its old nor its new content";
    EXPECT_TRUE(live == new_text) << kind << " is neither its old nor its new content";
    EXPECT_EQ(kept.size(), 1u) << kind << ": the replaced list must be kept once";
    if (kept.size() == 1) {
      EXPECT_TRUE(read_file(kept[0]) == old_text) << kind << " backup";
    }
    return true;
  }

  TempDir temp_;
  std::filesystem::path lists_;
  std::filesystem::path backups_;
};

}  // namespace corvandel::testing
