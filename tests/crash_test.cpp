// Whole runs on large lists killed with SIGKILL at many moments: at each system call that writes,
// flushes, links or renames (through strace), and after timed delays spread over the run. After
// every kill each list is whole and keeps its words, and the next run completes the update
// beside whatever the killed one left behind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <regex>
#include <sstream>

#include "list_dir.h"

namespace corvandel::testing {
namespace {
namespace fs = std::filesystem;

// A deterministic word list: mixed-case ASCII with some accented and Cyrillic letters, separated
// by spaces, line feeds and CR LF.
std::string generated_list(std::uint64_t seed, int words) {
  std::uint64_t state = seed;
  auto next = [&state] {
    state += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  };
  static const char* const kLetters[] = {
      "a", "b", "c", "d", "e", "f", "g", "h", "i", "k",        "l",        "m",       "n",
      "o", "p", "r", "s", "t", "u", "w", "E", "S", "\xC3\xA9", "\xC3\x9F", "\xD0\xB6"};
  static const char* const kSeparators[] = {"\n", "\n", "\n", " ", "\r\n"};
  std::string text;
  text.reserve(static_cast<std::size_t>(words) * 10);
  for (int i = 0; i < words; ++i) {
    std::uint64_t r = next();
    int length = 3 + static_cast<int>(r % 9);
    r /= 9;
    for (int j = 0; j < length; ++j) {
      text += kLetters[next() % 25];
    }
    text += kSeparators[r % 5];
  }
  return text;
}

class CrashConsistency : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    contents_ = new ListContents;
    contents_->master = generated_list(1, kMasterWords);
    contents_->reduced = generated_list(2, kReducedWords);
    // The update repeats part of the reduced list and brings new words.
    contents_->update = contents_->reduced.substr(0, contents_->reduced.size() / 4) +
                        generated_list(3, kUpdateWords);
    // A complete run gives the new content that a killed run may leave in place.
    ListDir dir;
    dir.write_lists(*contents_);
    const auto start = std::chrono::steady_clock::now();
    RunResult r = dir.run(CORVANDEL_BINARY);
    run_milliseconds_ = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
    EXPECT_EQ(r.status, 0) << r.err;
    contents_->new_reduced = read_file(dir.lists() / "reduced.txt");
    contents_->new_master = read_file(dir.lists() / "master.txt");
  }
  static void TearDownTestSuite() { delete contents_; }

  // Checks the folder after a killed run, then runs again (the clock a day ahead, so that no
  // backup stamp of the killed run is in the way) and expects the complete update.
  void check_after_kill(const ListDir& dir, const RunResult& killed) const {
    EXPECT_TRUE(killed.status == 128 + SIGKILL || killed.status == 0)
        << "status " << killed.status << ": " << killed.err;
    dir.check_promise_after_kill(*contents_);
    for (const std::string& stray : dir.strays()) {
      EXPECT_TRUE(stray == "reduced.txt.new-1" || stray == "master.txt.new-1") << stray;
    }
    RunOptions later;
    later.environment["CORVANDEL_CLOCK_OFFSET"] = "86400";
    RunResult next = dir.run(CORVANDEL_WITH_FAULTS, later);
    EXPECT_EQ(next.status, 0) << next.err;
    EXPECT_EQ(next.out, kSuccess);
    EXPECT_TRUE(read_file(dir.lists() / "reduced.txt") == contents_->new_reduced);
    EXPECT_TRUE(read_file(dir.lists() / "master.txt") == contents_->new_master);
    ++kill_points_;
  }

  // About 1.3 million words; a quarter of that in sanitized builds, which run several times slower.
  static constexpr int kScale = CORVANDEL_SANITIZED ? 4 : 1;
  static constexpr int kMasterWords = 800000 / kScale;
  static constexpr int kReducedWords = 300000 / kScale;
  static constexpr int kUpdateWords = 200000 / kScale;
  static ListContents* contents_;
  static long run_milliseconds_;
  static int kill_points_;
};

ListContents* CrashConsistency::contents_ = nullptr;
long CrashConsistency::run_milliseconds_ = 0;
int CrashConsistency::kill_points_ = 0;

TEST_F(CrashConsistency, KilledAtEachWriteFlushLinkAndRename) {
  if (!fs::exists("/usr/bin/strace")) GTEST_SKIP() << "strace is not installed";
  // The system calls of a complete run, by name and occurrence.
  const std::string traced = "openat,write,fsync,close,link,rename";
  std::vector<std::pair<std::string, int>> calls;
  {
    ListDir dir;
    dir.write_lists(*contents_);
    TempDir log_dir;
    const std::string log = (log_dir.path() / "trace").string();
    RunOptions options;
    options.environment = kUnderPtrace;
    options.arguments = {"-qq", "-o", log, "-e", "trace=" + traced, CORVANDEL_BINARY};
    RunResult r = dir.run("/usr/bin/strace", options);
    ASSERT_EQ(r.status, 0) << r.err;
    std::map<std::string, int> counts;
    std::istringstream lines(read_file(log));
    const std::regex call_pattern(R"(^(\w+)\((.*)\) += (-?\d+))");
    for (std::string line; std::getline(lines, line);) {
      std::smatch match;
      if (!std::regex_search(line, match, call_pattern)) continue;
      const std::string name = match[1], args = match[2];
      const int occurrence = ++counts[name];
      // Kill before: writing the new list (every third block), flushing it, closing it, linking
      // the backup, renaming, opening the folder to flush it (that is, after the rename), and
      // the stdout writes around the passes.
      const bool list_write = name == "write" && args.rfind("1,", 0) != 0;
      if ((list_write && occurrence % 3 == 0) || name == "fsync" || name == "link" ||
          name == "rename" || (name == "openat" && args.find("DicLists") != std::string::npos) ||
          (name == "write" && !list_write)) {
        calls.emplace_back(name, occurrence);
      }
    }
  }
  ASSERT_GT(calls.size(), 20u);
  for (const auto& [name, occurrence] : calls) {
    SCOPED_TRACE("killed at " + name + " #" + std::to_string(occurrence));
    ListDir dir;
    dir.write_lists(*contents_);
    RunOptions options;
    options.environment = kUnderPtrace;
    options.arguments = {"-qq",
                         "-o",
                         "/dev/null",
                         "-e",
                         "trace=" + name,
                         "-e",
                         "inject=" + name + ":signal=SIGKILL:when=" + std::to_string(occurrence),
                         CORVANDEL_BINARY};
    RunResult killed = dir.run("/usr/bin/strace", options);
    EXPECT_NE(killed.status, 0) << "the run was not killed";
    check_after_kill(dir, killed);
  }
  std::printf("kill points at system calls: %zu\n", calls.size());
}

TEST_F(CrashConsistency, KilledAfterTimedDelays) {
  // Delays spread over the length of a complete run; where a kill lands depends on the machine.
  constexpr int kPoints = 10;
  for (int point = 1; point <= kPoints; ++point) {
    const long delay = run_milliseconds_ * point / (kPoints + 1);
    SCOPED_TRACE("killed after " + std::to_string(delay) + " ms");
    ListDir dir;
    dir.write_lists(*contents_);
    RunOptions options;
    options.kill_after_milliseconds = delay;
    check_after_kill(dir, dir.run(CORVANDEL_BINARY, options));
  }
  std::printf("complete run: %ld ms; timed kill points: %d\n", run_milliseconds_, kPoints);
}

TEST(CrashWithoutHardLinks, KilledAroundEachRename) {
  // Where the file system has no hard links, the old list is moved into the backup folder by one
  // rename and the new one put in its place by another. Between the two the live name is absent:
  // a kill there leaves the old words in the backup alone, and the next run reports the list as
  // missing rather than starting it afresh.
  if (!fs::exists("/usr/bin/strace")) GTEST_SKIP() << "strace is not installed";
  const ListContents contents{"DOG\nEMU", "CAT", "ant", "ANT\nCAT\nDOG\nEMU", "ANT\nCAT"};
  int points = 0;
  for (const char* name : {"renameat2", "rename"}) {
    for (int occurrence = 1; occurrence <= 2; ++occurrence) {
      SCOPED_TRACE("killed at " + std::string(name) + " #" + std::to_string(occurrence));
      ListDir dir;
      dir.write_lists(contents);
      RunOptions options;
      options.environment = kUnderPtrace;
      options.arguments = {
          "-qq",
          "-o",
          "/dev/null",
          "-e",
          "trace=link," + std::string(name),
          "-e",
          "inject=link:error=EPERM",
          "-e",
          "inject=" + std::string(name) + ":signal=SIGKILL:when=" + std::to_string(occurrence),
          CORVANDEL_BINARY};
      RunResult killed = dir.run("/usr/bin/strace", options);
      EXPECT_EQ(killed.status, 128 + SIGKILL);
      ++points;
      const std::string kind = occurrence == 1 ? "reduced" : "master";
      const std::string old_text = occurrence == 1 ? contents.reduced : contents.master;
      const fs::path live = dir.lists() / (kind + ".txt");
      const std::vector<fs::path> kept = dir.backups(kind);
      if (name == std::string("renameat2")) {
        // Killed before the old list was moved: it is still in place.
        EXPECT_EQ(read_file(live), old_text);
        EXPECT_TRUE(kept.empty());
        continue;
      }
      // Killed between the two renames: the old words are in the backup, the live name absent.
      EXPECT_FALSE(fs::exists(live));
      ASSERT_EQ(kept.size(), 1u);
      EXPECT_EQ(read_file(kept[0]), old_text);
      EXPECT_EQ(read_file(dir.lists() / "update_words.txt"), contents.update);
      RunResult next = dir.run(CORVANDEL_BINARY);
      EXPECT_EQ(next.status, 1);
      EXPECT_EQ(next.out, kBanner + dir.list_path(kind + ".txt") +
                              " is missing (or not a regular file)\n" + kPrompt);
    }
  }
  std::printf("kill points without hard links: %d\n", points);
}

}  // namespace
}  // namespace corvandel::testing
