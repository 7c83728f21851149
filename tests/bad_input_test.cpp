// Unusual and malformed input given to whole runs: each either gives the defined result, or ends
// with its own message or fatal report and changes nothing that it must not.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <csignal>
#include <regex>

#include "list_dir.h"

namespace corvandel::testing {
namespace {
namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

const ListContents kLists{"DOG\nEMU", "CAT", "ant", "ANT\nCAT\nDOG\nEMU", "ANT\nCAT"};
// The three files, and where their content is in ListContents.
const std::pair<std::string, std::string ListContents::*> kFiles[] = {
    {"update_words.txt", &ListContents::update},
    {"reduced.txt", &ListContents::reduced},
    {"master.txt", &ListContents::master}};

// A run must never hang on what it finds in place of a file; a run still going after this long
// is killed, which fails the test through its status.
RunOptions with_watchdog(RunOptions options = {}) {
  options.kill_after_milliseconds = 60000;
  return options;
}

RunResult run_once(const ListDir& dir, RunOptions options = {}) {
  return dir.run(CORVANDEL_BINARY, with_watchdog(std::move(options)));
}

TEST(BadInput, InvalidUtf8AtStartMiddleAndEndOfEachFile) {
  const std::string bad[] = {
      "\xC0\xAF",
      "\xE0\x80\xAF",
      "\xF0\x80\x80\xAF",  // overlong
      "\xED\xA0\x80",
      "\xED\xBF\xBF",  // surrogates
      "\xF4\x90\x80\x80",
      "\xF5\x80\x80\x80",
      "\xFF",  // above U+10FFFF, never UTF-8
      "\xC3",
      "\xE2\x82",
      "\xF0\x9F\x98",  // truncated
      "\x80",
      "\xBF",  // stray continuation bytes
  };
  for (const auto& [file, content] : kFiles) {
    for (const std::string& sequence : bad) {
      const std::string placed[] = {sequence + "start word", "a middle" + sequence + " word",
                                    "word at the end" + sequence};
      for (const std::string& text : placed) {
        SCOPED_TRACE(file + " holding " + ::testing::PrintToString(text));
        ListDir dir;
        ListContents contents = kLists;
        contents.*content = text;
        dir.write_lists(contents);
        RunResult r = run_once(dir);
        EXPECT_EQ(r.status, 101);
        EXPECT_EQ(r.out, kBanner);
        EXPECT_THAT(r.err, HasSubstr(": reading " + dir.list_path(file) +
                                     ": stream did not contain valid UTF-8 [kind: "));
        EXPECT_EQ(read_file(dir.lists() / "update_words.txt"), contents.update);
        EXPECT_EQ(read_file(dir.lists() / "reduced.txt"),
                  file == "master.txt" ? kLists.new_reduced : contents.reduced);
        EXPECT_EQ(read_file(dir.lists() / "master.txt"), contents.master);
        EXPECT_THAT(dir.strays(), ::testing::IsEmpty());
      }
    }
  }
}

TEST(BadInput, NulBytesAreWordCharacters) {
  ListDir dir;
  using namespace std::string_literals;
  dir.write_lists({"dog\0\0x"s, "CAT"s, "a\0b \0 c\0d\n"s, "", ""});
  RunResult r = run_once(dir);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(dir.lists() / "reduced.txt"), "\0\nA\0B\nC\0D\nCAT"s);
  EXPECT_EQ(read_file(dir.lists() / "master.txt"), "\0\nA\0B\nC\0D\nCAT\nDOG\0\0X"s);
  EXPECT_EQ(read_file(dir.lists() / "update_words.txt"), "a\0b \0 c\0d\n"s);
}

TEST(BadInput, OneWordOfAHundredMegabytes) {
  // The word ends in sharp s, so its upper-case form is longer and is built in a new buffer.
  constexpr std::size_t kLength = 100u << 20;
  std::string word(kLength, 'q');
  word.replace(kLength - 2, 2, "\xC3\x9F");
  ListDir dir;
  dir.write_lists({"DOG", "CAT", "\n" + word + "\r\n", "", ""});
  word.clear();
  word.shrink_to_fit();
  RunResult r = run_once(dir);
  EXPECT_EQ(r.status, 0) << r.err;
  std::string expected(kLength - 2, 'Q');
  expected = "CAT\n" + expected + "SS";
  EXPECT_TRUE(read_file(dir.lists() / "reduced.txt") == expected);
  expected.insert(4, "DOG\n");
  EXPECT_TRUE(read_file(dir.lists() / "master.txt") == expected);
}

TEST(BadInput, ListsOfOnlyWhitespaceOrAByteOrderMark) {
  const std::string blank = kAllWhitespace + "\r\n" + kAllWhitespace;
  {
    // Lists without words are empty lists.
    ListDir dir;
    ListContents contents{blank, blank, "ant", "ANT", "ANT"};
    dir.write_lists(contents);
    RunResult r = run_once(dir);
    EXPECT_EQ(r.status, 0) << r.err;
    dir.check_promise(contents);
  }
  {
    // A byte-order mark is not whitespace: alone, it is a word.
    ListDir dir;
    ListContents contents{"\xEF\xBB\xBF", "\xEF\xBB\xBF", "\xEF\xBB\xBF", "\xEF\xBB\xBF",
                          "\xEF\xBB\xBF"};
    dir.write_lists(contents);
    RunResult r = run_once(dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir.lists() / "reduced.txt"), "\xEF\xBB\xBF");
    EXPECT_EQ(dir.backups("reduced").size(), 1u);
  }
}

// What can stand in place of a file, besides a regular file.
enum class Stand { directory, fifo, device, link_to_device, dangling_link, link_to_directory };

const char* name_of(Stand stand) {
  static const char* const kNames[] = {"a directory",
                                       "a FIFO",
                                       "a device",
                                       "a symbolic link to /dev/zero",
                                       "a dangling symbolic link",
                                       "a symbolic link to a directory"};
  return kNames[static_cast<int>(stand)];
}

// Puts `stand` at `path`; false when this system does not allow it (a device needs privilege).
bool place(Stand stand, const fs::path& path) {
  fs::remove(path);
  switch (stand) {
    case Stand::directory:
      return fs::create_directory(path);
    case Stand::fifo:
      return ::mkfifo(path.c_str(), 0644) == 0;
    case Stand::device:
      return ::mknod(path.c_str(), S_IFCHR | 0644, ::makedev(1, 5)) == 0;
    case Stand::link_to_device:
      fs::create_symlink("/dev/zero", path);
      return true;
    case Stand::dangling_link:
      fs::create_symlink(path.string() + ".absent", path);
      return true;
    case Stand::link_to_directory:
      fs::create_symlink(path.parent_path(), path);
      return true;
  }
  return false;
}

TEST(BadInput, NotARegularFileInPlaceOfEachFile) {
  for (Stand stand : {Stand::directory, Stand::fifo, Stand::device, Stand::link_to_device,
                      Stand::dangling_link, Stand::link_to_directory}) {
    for (const auto& [file, content] : kFiles) {
      SCOPED_TRACE(std::string(name_of(stand)) + " in place of " + file);
      ListDir dir;
      dir.write_lists(kLists);
      if (!place(stand, dir.lists() / file)) continue;
      const fs::file_type type_before = fs::symlink_status(dir.lists() / file).type();
      RunResult r = run_once(dir);
      if (file != "update_words.txt") {
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, kBanner + dir.list_path(file) + " is missing (or not a regular file)\n" +
                             kPrompt);
      } else if (stand == Stand::dangling_link) {
        EXPECT_EQ(r.status, 1);
        EXPECT_THAT(r.out, HasSubstr(", was not found.\n"));
      } else {
        // It exists, but it cannot be read as a list: a fatal failure at the read, not a hang.
        EXPECT_EQ(r.status, 101);
        EXPECT_EQ(r.out, kBanner);
        EXPECT_THAT(r.err, HasSubstr(": reading " + dir.list_path(file) + ": "));
      }
      EXPECT_EQ(fs::symlink_status(dir.lists() / file).type(), type_before) << "left in place";
      EXPECT_EQ(dir.backups("reduced").size(), file == "master.txt" ? 1u : 0u);
      EXPECT_TRUE(dir.backups("master").empty());
      if (file != "reduced.txt") {
        EXPECT_EQ(read_file(dir.lists() / "reduced.txt"),
                  file == "master.txt" ? kLists.new_reduced : kLists.reduced);
      }
      if (file != "master.txt") {
        EXPECT_EQ(read_file(dir.lists() / "master.txt"), kLists.master);
      }
      EXPECT_THAT(dir.strays(), ::testing::IsEmpty());
    }
  }
}

TEST(BadInput, SymbolicLinksToListsAreFollowedAndKept) {
  for (const auto& [file, content] : kFiles) {
    for (bool relative : {false, true}) {
      SCOPED_TRACE(file + (relative ? " as a relative link" : " as an absolute link"));
      ListDir dir;
      dir.write_lists(kLists);
      const fs::path target = dir.lists() / ("real_" + file);
      fs::rename(dir.lists() / file, target);
      const fs::path link_text = relative ? fs::path("real_" + file) : target;
      fs::create_symlink(link_text, dir.lists() / file);
      const std::string target_before = read_file(target);
      RunResult r = run_once(dir);
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out, kSuccess);
      // The file the link points to keeps its words.
      EXPECT_EQ(read_file(target), target_before);
      EXPECT_EQ(read_file(dir.lists() / "reduced.txt"), kLists.new_reduced);
      EXPECT_EQ(read_file(dir.lists() / "master.txt"), kLists.new_master);
      if (file == "update_words.txt") {
        EXPECT_TRUE(fs::is_symlink(dir.lists() / file)) << "the update file is left as it is";
        continue;
      }
      // The replaced list is the link itself, moved into the backup folder.
      EXPECT_FALSE(fs::is_symlink(dir.lists() / file));
      std::vector<fs::path> kept = dir.backups(file == "master.txt" ? "master" : "reduced");
      ASSERT_EQ(kept.size(), 1u);
      EXPECT_TRUE(fs::is_symlink(kept[0]));
      EXPECT_EQ(fs::read_symlink(kept[0]), link_text);
    }
  }
}

TEST(BadInput, BackupFolderThatIsNotAFolder) {
  for (Stand stand : {Stand::fifo, Stand::dangling_link, Stand::link_to_device}) {
    SCOPED_TRACE(std::string(name_of(stand)) + " in place of BU_Previous_Files");
    ListDir dir;
    dir.write_lists(kLists);
    ASSERT_TRUE(place(stand, dir.backup_dir()));
    RunResult r = run_once(dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kBanner + kPrompt);
    EXPECT_EQ(r.err, "Failed to create directory: File exists (os error 17)\n");
    dir.check_promise(kLists);
  }
  // A link to a folder is a folder.
  ListDir dir;
  dir.write_lists(kLists);
  fs::create_directory(dir.lists() / "elsewhere");
  fs::create_directory_symlink(dir.lists() / "elsewhere", dir.backup_dir());
  RunResult r = run_once(dir);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(dir.backups("reduced").size(), 1u);
}

TEST(BadInput, BaseDirectoryVariable) {
  ListDir dir;
  dir.write_lists(kLists);
  // A value that is not UTF-8 counts as unset.
  for (const char* invalid :
       {"\xC0\xAF", "/tmp/\xED\xA0\x80/", "/tmp/x\xE2\x82", "\x80/tmp/", "/tmp/\xF4\x90\x80\x80"}) {
    RunOptions options;
    options.environment["QUILLMERE_DIR"] = invalid;
    RunResult bad = run_once(dir, options);
    EXPECT_EQ(bad.status, 1);
    EXPECT_THAT(bad.out, HasSubstr("Update words file, Environment variable not foundDicLists/"
                                   "update_words.txt, was not found."));
  }

  // A value far longer than any path: the backup folder cannot be made.
  for (std::size_t length : {5000u, 100000u}) {
    RunOptions options;
    options.environment["QUILLMERE_DIR"] = dir.base_text() + std::string(length, 'n') + "/";
    RunResult long_value = run_once(dir, options);
    EXPECT_EQ(long_value.status, 1);
    EXPECT_EQ(long_value.out, kBanner + kPrompt);
    EXPECT_EQ(long_value.err, "Failed to create directory: File name too long (os error 36)\n");
  }
  // Many short components that together pass the longest path the system takes.
  std::string deep = dir.base_text();
  for (int i = 0; i < 40; ++i) deep += std::string(200, 'd') + "/";
  RunOptions options;
  options.environment["QUILLMERE_DIR"] = deep;
  RunResult deep_run = run_once(dir, options);
  EXPECT_EQ(deep_run.status, 1);
  EXPECT_EQ(deep_run.err, "Failed to create directory: File name too long (os error 36)\n");
  dir.check_promise(kLists);
}

TEST(BadInput, MemoryRunsOut) {
  if (CORVANDEL_SANITIZED) {
    GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
  }
  std::string big;
  for (int i = 0; i < 3000000; ++i) {
    // Appended piece by piece: g++ 12 at -O3 warns falsely (-Wrestrict) about "w" + text.
    big += 'w';
    big += std::to_string(i);
    big += '\n';
  }
  for (const auto& [file, content] : {kFiles[1], kFiles[2]}) {
    SCOPED_TRACE("a big " + file);
    ListDir dir;
    ListContents contents = kLists;
    contents.*content = big;
    dir.write_lists(contents);
    RunOptions options;
    options.address_space_limit = 64l << 20;
    RunResult r = run_once(dir, options);
    EXPECT_EQ(r.status, 128 + SIGABRT);
    EXPECT_THAT(r.err, MatchesRegex("memory allocation of [0-9]+ bytes failed\n"));
    EXPECT_EQ(r.out, kBanner) << "no prompt after exhausted memory";
    // A big master list runs out in the master pass, after the reduced pass completed.
    EXPECT_TRUE(read_file(dir.lists() / "reduced.txt") ==
                (file == "master.txt" ? kLists.new_reduced : contents.reduced));
    EXPECT_TRUE(read_file(dir.lists() / "master.txt") == contents.master);
    EXPECT_TRUE(dir.backups("master").empty());
    for (const std::string& stray : dir.strays()) {
      EXPECT_EQ(stray, file + ".new-1") << "only an unfinished list may be left";
    }
  }
}

}  // namespace
}  // namespace corvandel::testing
