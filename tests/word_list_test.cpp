// The word list format (reading, normalising, ordering, writing) and a merge pass driven
// in-process against real files.
#include "word_list.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "forwarding_platform.h"
#include "merged_list.h"
#include "run_program.h"
#include "test_exits.h"
#include "test_text.h"
#include "unique_words_merger.h"

namespace corvandel::testing {
namespace {
namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::vector<std::string> words_of(std::string_view text) {
  Result<WordList> list = parse_word_list(file_data(text));
  EXPECT_TRUE(list.ok());
  if (!list) return {};
  std::vector<std::string_view> words = list_words(list.value());
  return {words.begin(), words.end()};
}

// The list written by merging the words of two list texts.
StringOutput merged_output(std::string_view current_text, std::string_view update_text) {
  Result<WordList> current = parse_word_list(file_data(current_text));
  Result<WordList> update = parse_word_list(file_data(update_text));
  StringOutput out;
  EXPECT_TRUE(current.ok() && update.ok());
  if (!current || !update) return out;
  EXPECT_TRUE(write_word_list(out, merge_distinct(current.value(), update.value())).ok());
  return out;
}

std::string list_text(std::string_view current_text, std::string_view update_text) {
  return merged_output(current_text, update_text).text;
}

TEST(WordListFormat, SplitsAtExactlyTheWhitespaceSet) {
  const std::string separators[] = {"\t",           "\n",           "\v",
                                    "\f",           "\r",           " ",
                                    "\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80",
                                    "\xE2\x80\x80", "\xE2\x80\x8A", "\xE2\x80\xA8",
                                    "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F",
                                    "\xE3\x80\x80"};
  for (const std::string& space : separators) {
    EXPECT_THAT(words_of(space + "A" + space + space + "B" + space), ElementsAre("A", "B"))
        << "separator bytes " << ::testing::PrintToString(space);
  }
  // Zero-width space, byte-order mark, Mongolian vowel separator and NUL are word characters.
  for (const std::string& joiner : {std::string("\xE2\x80\x8B"), std::string("\xEF\xBB\xBF"),
                                    std::string("\xE1\xA0\x8E"), std::string(1, '\0')}) {
    EXPECT_THAT(words_of("A" + joiner + "B"), ElementsAre("A" + joiner + "B"));
  }
  EXPECT_THAT(words_of(""), IsEmpty());
  EXPECT_THAT(words_of(" \r\n\t\xE3\x80\x80"), IsEmpty());
}

TEST(WordListFormat, ByteOrderMarkBelongsToTheFirstWord) {
  EXPECT_THAT(words_of("\xEF\xBB\xBFword rest"), ElementsAre("\xEF\xBB\xBFWORD", "REST"));
  EXPECT_THAT(words_of("\xEF\xBB\xBF\r\nword"), ElementsAre("\xEF\xBB\xBF", "WORD"));
  // A mark sorts after every word that starts below U+FEFF.
  EXPECT_EQ(list_text("\xEF\xBB\xBFZ \xE4\xB8\x80", "Z"), "Z\n\xE4\xB8\x80\n\xEF\xBB\xBFZ");
}

TEST(WordListFormat, UpperCasesWithTheFullMapping) {
  EXPECT_THAT(words_of("stra\xC3\x9F"
                       "e don't, \xC5\x89 \xEF\xAC\x81x \xC4\xB1 \xC4\xB0"),
              ElementsAre("STRASSE", "DON'T,", "\xCA\xBCN", "FIX", "I", "\xC4\xB0"));
  // Upper-casing that changes the byte length goes to separate storage; the rest stay in place.
  Result<WordList> list =
      parse_word_list(file_data("abc \xC4\xB1s \xC3\xA9t\xC3\xA9 stra\xC3\x9F"
                                "e"));
  ASSERT_TRUE(list.ok());
  std::string spilled;
  for (WordRef ref : list.value().refs()) {
    if (!list.value().in_text(ref)) spilled += list.value().word(ref);
  }
  EXPECT_EQ(spilled, "IS") << "only the dotless i shrinks";
  EXPECT_THAT(list_words(list.value()), ElementsAre("ABC", "IS", "\xC3\x89T\xC3\x89", "STRASSE"));
}

TEST(WordListFormat, RefusesInvalidUtf8) {
  for (std::string_view bad : {"ok \xC3", "\xC0\x80", "\xED\xBF\xBF", "\xF5\x80\x80\x80"}) {
    Result<WordList> list = parse_word_list(file_data(bad));
    ASSERT_FALSE(list.ok());
    EXPECT_EQ(list.error().text, "stream did not contain valid UTF-8");
    EXPECT_EQ(list.error().kind, ErrorKind::invalid_data);
  }
}

TEST(WordListFormat, MergedListIsSortedDistinctAndJoinedByLineFeeds) {
  EXPECT_EQ(list_text("B APPLES APPLE 1ST", "APPLE \xC3\x89 Z B"),
            "1ST\nAPPLE\nAPPLES\nB\nZ\n\xC3\x89");
  EXPECT_EQ(list_text("", "ONLY"), "ONLY");
  EXPECT_EQ(list_text("ONLY", ""), "ONLY");
  // Case variants collapse after upper-casing, into the form written back.
  EXPECT_EQ(list_text("apple Banana\r\ncherry banana\n\nDate  apple", ""),
            "APPLE\nBANANA\nCHERRY\nDATE");
  // A list already in written form, and one that only looks sorted before upper-casing.
  EXPECT_EQ(list_text("ANT\nBEE\nCAT", "bee\ndog"), "ANT\nBEE\nCAT\nDOG");
  EXPECT_EQ(list_text("Zz\nab\nab", "AB"), "AB\nZZ");
  EXPECT_EQ(list_text("A\nA\nB", "B\nB\nC"), "A\nB\nC");
}

TEST(WordListFormat, WrittenListReadsBackAsTheSameWords) {
  const std::string x(3 << 20, 'X');
  const std::string b(700000, 'B');
  StringOutput out = merged_output(x + " A\n" + b, "");
  EXPECT_GT(out.writes, 1) << "large output is written in blocks";
  EXPECT_THAT(words_of(out.text), ElementsAre("A", b, x));
}

TEST(WordListFormat, WordsOfSixteenMebibytesAndMore) {
  // Longer than the length field of a word reference holds.
  const std::string lower((1 << 24) + 3, 'x');
  const std::string upper(lower.size(), 'X');
  StringOutput out = merged_output("b " + lower + " a", lower + " \xC3\x9F");
  EXPECT_EQ(out.text, "A\nB\nSS\n" + upper);
  EXPECT_THAT(words_of(lower + "\xC4\xB1"), ElementsAre(upper + "I"));
}

// A merge pass on real files in a temporary DicLists folder, its exits caught in-process.
class MergePass : public ::testing::Test {
 protected:
  MergePass() {
    fs::create_directories(backups_);
    write_file(lists_ / "reduced.txt", "CAT");
    write_file(lists_ / "update_words.txt", "ant");
    take_console();
  }
  std::string dir() const { return lists_.string() + "/"; }
  std::vector<std::string> backup_names() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(backups_)) names.push_back(e.path().filename());
    return names;
  }
  void expect_unchanged() {
    EXPECT_EQ(read_file(lists_ / "reduced.txt"), "CAT");
    EXPECT_THAT(backup_names(), IsEmpty());
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(lists_)) left.push_back(e.path().filename());
    std::sort(left.begin(), left.end());
    EXPECT_THAT(left, ElementsAre("BU_Previous_Files", "reduced.txt", "update_words.txt"));
  }

  TempDir temp_;
  fs::path lists_ = temp_.path() / "DicLists";
  fs::path backups_ = lists_ / "BU_Previous_Files";
};

TEST_F(MergePass, RefusesAListThatIsNeitherReducedNorMaster) {
  write_file(lists_ / "words.txt", "CAT");
  EXPECT_THROW(merge_word_list((lists_ / "words.txt").string(),
                               (lists_ / "update_words.txt").string(), dir()),
               ReportedExit);
  EXPECT_EQ(take_console().out, "Error: current_file is not reduced or master\n");
  EXPECT_EQ(read_file(lists_ / "words.txt"), "CAT");
  fs::remove(lists_ / "words.txt");
  expect_unchanged();
}

TEST_F(MergePass, MissingBackupFolderIsARenameError) {
  fs::remove(backups_);
  EXPECT_THROW(merge_word_list((lists_ / "reduced.txt").string(),
                               (lists_ / "update_words.txt").string(), dir()),
               ReportedExit);
  EXPECT_EQ(take_console().out, "Error renaming file: No such file or directory (os error 2)\n");
  fs::create_directory(backups_);
  expect_unchanged();
}

// The clock stands still, so every stamp names a backup that is already there.
class FrozenClock : public ForwardingPlatform {
 public:
  Result<std::string> local_time_stamp() override { return std::string("260203_090507"); }
  void sleep_milliseconds(int) override { ++sleeps; }
  int sleeps = 0;
};

// The list kind comes from the file name alone: the pass backs up the live list of that kind.
TEST_F(MergePass, ListKindIsDecidedByTheFileName) {
  write_file(lists_ / "master.txt", "DOG");
  fs::create_directories(lists_ / "reduced");
  const struct {
    std::string current;  // in DicLists
    std::string kind;     // the backup made, or "" for none
  } cases[] = {{"reduced.txt", "reduced"},        {"master.txt", "master"},
               {"reduced/master.txt", "master"},  {"C:\\reduced\\DicLists\\master.txt", "master"},
               {"master_reduced.txt", "reduced"}, {"C:\\lists\\words.txt", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.current);
    fs::remove_all(backups_);
    fs::create_directories(backups_);
    write_file(lists_ / c.current, "CAT");
    FrozenClock clock;
    try {
      merge_word_list((lists_ / c.current).string(), (lists_ / "update_words.txt").string(), dir());
    } catch (const ReportedExit&) {
    }
    const std::vector<std::string> kept = backup_names();
    EXPECT_EQ(take_console().out,
              c.kind.empty() ? "Error: current_file is not reduced or master\n" : "");
    if (c.kind.empty()) {
      EXPECT_THAT(kept, IsEmpty());
    } else {
      EXPECT_THAT(kept, ElementsAre(c.kind + "_260203_090507.txt"));
    }
  }
}

TEST_F(MergePass, NeverOverwritesAnEarlierBackup) {
  write_file(backups_ / "reduced_260203_090507.txt", "EARLIER");
  FrozenClock clock;
  EXPECT_THROW(merge_word_list((lists_ / "reduced.txt").string(),
                               (lists_ / "update_words.txt").string(), dir()),
               ReportedExit);
  EXPECT_EQ(take_console().out, "Error renaming file: File exists (os error 17)\n");
  EXPECT_GT(clock.sleeps, 0) << "it waited for the clock before giving up";
  EXPECT_EQ(read_file(backups_ / "reduced_260203_090507.txt"), "EARLIER");
  fs::remove(backups_ / "reduced_260203_090507.txt");
  expect_unchanged();
}

TEST_F(MergePass, SucceedsSilentlyWithTheStampedBackup) {
  FrozenClock clock;
  merge_word_list((lists_ / "reduced.txt").string(), (lists_ / "update_words.txt").string(), dir());
  EXPECT_EQ(take_console().out, "");
  EXPECT_EQ(read_file(lists_ / "reduced.txt"), "ANT\nCAT");
  EXPECT_EQ(read_file(backups_ / "reduced_260203_090507.txt"), "CAT");
  EXPECT_EQ(read_file(lists_ / "update_words.txt"), "ant");
}

}  // namespace
}  // namespace corvandel::testing
