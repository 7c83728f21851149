// The list format: reading (validation, splitting, upper-casing), ordering and writing, checked
// on chosen cases and against the plain model on random lists; and the merge pass's own rules.
#include "word_list.h"

#include <gtest/gtest.h>

#include <random>

#include "merged_list.h"
#include "test_support.h"
#include "unique_words_merger.h"

namespace corvandel::testing {
namespace {

// The list a merge pass writes from two list texts, or nothing when one is refused (which must
// be as text that is not UTF-8).
std::optional<std::string> merged(std::string_view current, std::string_view update) {
  Result<WordList> a = parse_word_list(file_data(current));
  Result<WordList> b = parse_word_list(file_data(update));
  for (const Result<WordList>* list : {&a, &b}) {
    if (list->ok()) continue;
    EXPECT_EQ(list->error().text, "stream did not contain valid UTF-8");
    EXPECT_EQ(list->error().kind, ErrorKind::invalid_data);
    return std::nullopt;
  }
  StringOutput out;
  EXPECT_TRUE(write_word_list(out, merge_distinct(a.value(), b.value())).ok());
  return out.text;
}

TEST(ReadingAList, SeparatorsCaseAndByteOrderMark) {
  std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},
      {" \r\n\t\xE3\x80\x80", ""},
      // Words keep every character that is not whitespace, NUL included.
      {"a\xE2\x80\x8B"
       "b c\xEF\xBB\xBF"
       "d e\xE1\xA0\x8E"
       "f " +
           std::string("g\0h", 3),
       "A\xE2\x80\x8B"
       "B\nC\xEF\xBB\xBF"
       "D\nE\xE1\xA0\x8E"
       "F\n" +
           std::string("G\0H", 3)},
      // The default full upper-case mapping, without locale or context rules.
      {"stra\xC3\x9F"
       "e don't, \xC5\x89 \xEF\xAC\x81x \xC4\xB1 \xC4\xB0 \xC7\x86"
       "emal",
       "DON'T,\nFIX\nI\nSTRASSE\n\xC4\xB0\n\xC7\x84"
       "EMAL\n\xCA\xBCN"},
      // A byte-order mark belongs to the word it starts, or is a word of its own.
      {"\xEF\xBB\xBFword rest", "REST\n\xEF\xBB\xBFWORD"},
      {"\xEF\xBB\xBF\r\nword", "WORD\n\xEF\xBB\xBF"},
  };
  for (char32_t c : kWhitespace) {
    const std::string space = utf8(c);
    cases.push_back({space + "b" + space + space + "a" + space, "A\nB"});
  }
  for (const auto& [text, written] : cases) EXPECT_EQ(merged(text, ""), written) << text;
}

TEST(ReadingAList, InvalidUtf8BeforeInsideAndAfterABlock) {
  const std::string bad[] = {"\xC0\xAF",
                             "\xE0\x80\xAF",
                             "\xF0\x80\x80\xAF",  // overlong
                             "\xED\xA0\x80",
                             "\xED\xBF\xBF",  // surrogates
                             "\xF4\x90\x80\x80",
                             "\xF5\x80",
                             "\xFF",  // too large
                             "\xC3",
                             "\xE2\x82",
                             "\xF0\x9F\x98",
                             "\x80",
                             "\xBF"};
  // A list in written form and one that is not, each long enough for the 64-byte block paths,
  // and one with non-ASCII letters; the sequence goes before, into and after their words.
  std::string written, unsorted, accented;
  for (int i = 0; i < 30; ++i) {
    written += (i ? "\n" : "") + std::string("W") + static_cast<char>('A' + i % 26) + "X";
    unsorted += "word" + std::to_string(30 - i) + (i % 3 ? " " : "\n");
    accented += "\xC3\xA9t\xC3\xA9 \xCE\xB1" + std::to_string(i) + "\n";
  }
  for (const std::string* list : {&written, &unsorted, &accented}) {
    for (const std::string& sequence : bad) {
      for (std::size_t at = 0; at <= std::min<std::size_t>(140, list->size()); ++at) {
        std::string text = *list;
        text.insert(at, sequence);
        const bool valid = model_words(text).has_value();
        ASSERT_EQ(merged(text, "").has_value(), valid) << ::testing::PrintToString(text);
        ASSERT_EQ(merged("", text).has_value(), valid);
      }
    }
  }
}

TEST(WritingAList, OrderRepeatsAndExactBytes) {
  const std::string cases[][3] = {
      {"B APPLES APPLE 1ST", "APPLE \xC3\x89 Z B", "1ST\nAPPLE\nAPPLES\nB\nZ\n\xC3\x89"},
      {"", "ONLY", "ONLY"},
      {"ONLY", "", "ONLY"},
      {"apple Banana\r\ncherry banana\n\nDate  apple", "", "APPLE\nBANANA\nCHERRY\nDATE"},
      {"stra\xC3\x9F"
       "e",
       "STRASSE", "STRASSE"},
      // Lists in written form, and ones that only look it before upper-casing.
      {"ANT\nBEE\nCAT", "bee\ndog", "ANT\nBEE\nCAT\nDOG"},
      {"Zz\nab\nab", "AB", "AB\nZZ"},
      {"A\nA\nB", "B\nB\nC", "A\nB\nC"},
      {"\xEF\xBB\xBFZ \xE4\xB8\x80", "Z", "Z\n\xE4\xB8\x80\n\xEF\xBB\xBFZ"},
  };
  for (const auto& [current, update, written] : cases) {
    EXPECT_EQ(merged(current, update), written) << current << " + " << update;
  }
}

TEST(WritingAList, OutputBlocksFilledExactlyAndCrossed) {
  // Words taken in turn from the two lists go out one by one. With a first word of 64 bytes and
  // the rest of 63, word 16384 ends exactly where a 1 MiB block does; words of 100 bytes cross.
  for (const std::size_t length : {std::size_t{63}, std::size_t{100}}) {
    std::string current, update, written;
    for (int i = 0; i < 20000; ++i) {
      char number[16];
      std::snprintf(number, sizeof number, "%06d", i);
      const std::string word = number + std::string((i == 0 ? 64 : length) - 6, 'W');
      (i % 2 ? update : current) += word + "\n";
      written += (i ? "\n" : "") + word;
    }
    EXPECT_TRUE(merged(current, update) == written) << "words of " << length << " bytes";
  }
}

TEST(WritingAList, WordsOfSixteenMebibytesAndMore) {
  // Longer than the length field of a word reference holds, in place and spilled.
  const std::string lower((1 << 24) + 3, 'x');
  const std::string upper(lower.size(), 'X');
  EXPECT_TRUE(merged("b " + lower + " a", lower + " \xC3\x9F") == "A\nB\nSS\n" + upper);
  EXPECT_TRUE(merged(lower + "\xC4\xB1", "") == upper + "I");
}

// Random lists of every shape against the model.
class ListMaker {
 public:
  explicit ListMaker(unsigned seed) : rng_(seed) {}
  std::size_t pick(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_);
  }

  // Mostly ASCII letters in either case; sometimes anything else that is not whitespace,
  // including characters whose upper case is longer or shorter.
  std::string word_char() {
    static const char32_t kOther[] = {
        '0',    '\'',  ',',    0x00,   0x1F,   0x7F,    0xE9,     0xC9,   0xDF,    0xFF,   0x149,
        0xFB01, 0x131, 0x130,  0x390,  0x3B1,  0x3C2,   0x430,    0x4E00, 0x1F600, 0xFEFF, 0x200B,
        0x180E, 0x345, 0x24D0, 0x2170, 0x1E9E, 0x10428, 0x10FFFF, 0x84,   0xA1,    0x2027, 0x3001};
    const std::size_t r = pick(16);
    if (r < 12) return std::string(1, static_cast<char>((r < 6 ? 'a' : 'A') + pick(26)));
    return utf8(kOther[pick(std::size(kOther))]);
  }
  std::string separator() {
    if (pick(3) != 0) return "\n";
    std::string space;
    for (std::size_t n = 1 + pick(3); n > 0; --n) space += utf8(kWhitespace[pick(25)]);
    return space;
  }
  // Words share prefixes of every length, so that ordering has to look deep.
  std::string word() {
    std::string word;
    for (std::size_t n = pick(4) == 0 ? pick(prefix_.size()) : 0, i = 0; i < n; ++i)
      word += prefix_[i];
    const std::size_t length = pick(8) == 0 ? 1 + pick(40) : 1 + pick(16);
    while (word.size() < length || word.empty()) word += word_char();
    return word;
  }
  // Any layout: repeats in other cases, any whitespace, an optional byte-order mark.
  std::string messy_list(std::size_t max_words) {
    std::vector<std::string> words;
    for (std::size_t n = pick(max_words + 1); n > 0; --n) {
      std::string w = words.empty() || pick(4) ? word() : words[pick(words.size())];
      for (char& c : w) c ^= std::isalpha(static_cast<unsigned char>(c)) && pick(2) ? 0x20 : 0;
      words.push_back(w);
    }
    std::string text = pick(8) == 0 ? "\xEF\xBB\xBF" : "";
    for (const std::string& w : words) text += (pick(4) ? "" : separator()) + w + separator();
    return text;
  }
  // As this program writes it, sometimes with a disorder or other whitespace anywhere in it.
  std::string written_list(std::size_t max_words) {
    std::string text = model_list({messy_list(max_words)});
    const std::size_t at = text.find('\n', pick(text.size() + 1));
    if (at != std::string::npos && pick(3) == 0) text.replace(at, 1, separator());
    if (at != std::string::npos && pick(3) == 0) text.insert(at, "\n0" + word());
    return pick(8) ? text : separator() + text + separator();
  }
  std::string any_list(std::size_t max_words) {
    return pick(2) ? messy_list(max_words) : written_list(max_words);
  }
  void new_prefix() {
    prefix_.clear();
    while (prefix_.size() < 80) prefix_.push_back(word_char());
  }

 private:
  std::mt19937 rng_;
  std::vector<std::string> prefix_{"p", "r", "e"};
};

TEST(MergeDifferential, RandomListsOfEveryShapeAndSize) {
  ListMaker maker(1);
  for (int round = 0; round < 3000; ++round) {
    if (round % 100 == 0) maker.new_prefix();
    const std::size_t size = round % 300 == 0 ? 30000 : round % 10 == 0 ? 2 : 40;
    const std::string current = maker.any_list(size), update = maker.any_list(size / 2 + 1);
    ASSERT_EQ(merged(current, update), model_list({current, update}))
        << ::testing::PrintToString(current) << "\n+ " << ::testing::PrintToString(update);
  }
  // Enough words that ordering takes their first two bytes in one step, and many repeats.
  std::string big, repeats;
  for (int i = 0; i < 100000; ++i) big += maker.word() + maker.separator();
  for (int i = 0; i < 20000; ++i)
    repeats += (i % 2 ? "stra\xC3\x9F"
                        "e"
                      : "ab") +
               maker.separator();
  EXPECT_EQ(merged(big, repeats), model_list({big, repeats}));
}

// --- The merge pass's own rules, in-process on real files ---

class MergePass : public ::testing::Test {
 protected:
  MergePass() {
    fs::create_directories(folder_.backup_dir());
    folder_.write({"DOG", "CAT", "ant"});
  }
  RunResult pass(const std::string& current) {
    const std::string dir = folder_.lists().string() + "/";
    return run_in_process(platform_, folder_.root(),
                          [&] { merge_word_list(dir + current, dir + "update_words.txt", dir); });
  }
  std::vector<std::string> backups() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder_.backup_dir())) {
      names.push_back(e.path().filename());
    }
    return names;
  }
  ListFolder folder_;
  TestPlatform platform_;
};

TEST_F(MergePass, TheListKindComesFromTheFileNameAlone) {
  fs::create_directories(folder_.lists() / "reduced");
  const std::string cases[][2] = {
      {"reduced.txt", "reduced"},        {"master.txt", "master"},
      {"reduced/master.txt", "master"},  {"C:\\reduced\\DicLists\\master.txt", "master"},
      {"master_reduced.txt", "reduced"}, {"C:\\lists\\words.txt", ""}};
  platform_.fixed_stamp = "260203_090507";
  for (const auto& [current, kind] : cases) {
    fs::remove_all(folder_.backup_dir());
    fs::create_directories(folder_.backup_dir());
    write_file(folder_.lists() / current, "CAT");
    platform_.out.clear();
    const RunResult r = pass(current);
    EXPECT_EQ(r.status, kind.empty() ? 1 : -1) << current;
    EXPECT_EQ(r.out,
              kind.empty() ? "Error: current_file is not reduced or master\n" + kPrompt : "");
    EXPECT_EQ(backups(), kind.empty() ? std::vector<std::string>{}
                                      : std::vector<std::string>{kind + "_260203_090507.txt"});
  }
}

TEST_F(MergePass, NeverOverwritesAnEarlierBackup) {
  // The clock stands still, so every stamp names the backup that is already there.
  write_file(folder_.backup_dir() / "reduced_260203_090507.txt", "EARLIER");
  platform_.fixed_stamp = "260203_090507";
  const RunResult r = pass("reduced.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Error renaming file: File exists (os error 17)\n" + kPrompt);
  EXPECT_GT(platform_.sleeps, 0) << "it waited for the clock before giving up";
  EXPECT_EQ(read_file(folder_.backup_dir() / "reduced_260203_090507.txt"), "EARLIER");
  EXPECT_EQ(folder_.read().reduced, "CAT");
  EXPECT_TRUE(folder_.strays().empty());
}

}  // namespace
}  // namespace corvandel::testing
