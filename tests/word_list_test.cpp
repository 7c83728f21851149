// The list format: reading (validation, splitting, upper-casing), ordering and writing, checked
// on chosen cases and against the plain model on random lists; and the merge pass's own rules.
#include "word_list.h"

#include <gtest/gtest.h>

#include <array>
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
    EXPECT_TRUE(list->error().text == "stream did not contain valid UTF-8" &&
                list->error().kind == ErrorKind::invalid_data);
    return std::nullopt;
  }
  StringOutput out;
  EXPECT_TRUE(write_word_list(out, merge_distinct(a.value(), b.value())).ok());
  return out.text;
}

TEST(ReadingAList, InvalidUtf8BeforeInsideAndAfterABlock) {
  // Overlong forms, surrogates, values too large, cut-off sequences and stray continuation bytes,
  // each put at every place in the first blocks of a list in written form, of one that is not,
  // and of one with non-ASCII letters (lists long enough for the 64-byte block paths).
  const std::string bad[] = {"\xC0\xAF",     "\xE0\x80\xAF",     "\xF0\x80\x80\xAF", "\xED\xA0\x80",
                             "\xED\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80",         "\xFF",
                             "\xC3",         "\xE2\x82",         "\xF0\x9F\x98",     "\x80",
                             "\xBF"};
  std::string written, unsorted, accented;
  for (int i = 0; i < 30; ++i) {
    written += (i ? "\nW" : "W") + std::string(1, static_cast<char>('A' + i % 26)) + "X";
    unsorted += "word" + std::to_string(30 - i) + (i % 3 ? " " : "\n");
    accented += "été α" + std::to_string(i) + "\n";
  }
  for (const std::string* list : {&written, &unsorted, &accented}) {
    for (const std::string& sequence : bad) {
      for (std::size_t at = 0; at <= std::min<std::size_t>(140, list->size()); ++at) {
        const std::string text = list->substr(0, at) + sequence + list->substr(at);
        const bool valid = model_words(text).has_value();
        ASSERT_TRUE(merged(text, "").has_value() == valid && merged("", text).has_value() == valid)
            << ::testing::PrintToString(text);
      }
    }
  }
}

// Chosen lists, each merged with another as a pass does, and the exact bytes written.
TEST(ReadingAndWriting, ChosenListsAndBlockEdges) {
  std::vector<std::array<std::string, 3>> cases = {
      {"", "", ""},
      {" \r\n\t\u3000", "", ""},
      // Words keep every character that is not whitespace, NUL included.
      {"a\u200Bb c\uFEFFd e\u180Ef " + std::string("g\0h", 3), "",
       "A\u200BB\nC\uFEFFD\nE\u180EF\n" + std::string("G\0H", 3)},
      // The default full upper-case mapping, without locale or context rules.
      {"straße don't, \u0149 \uFB01x \u0131 \u0130 \u01C6emal", "STRASSE",
       "DON'T,\nFIX\nI\nSTRASSE\n\u0130\n\u01C4EMAL\n\u02BCN"},
      // Case pairs new in Unicode 16.0 and none of 17.0; upper cases of several characters.
      {"\u019B\u0264\uA7CD\uA7DB\u1C8A\U00010D70\uA7CF\uA7D3\U00016EBB\u1F80\u0587\u0390", "",
       "\uA7DC\uA7CB\uA7CC\uA7DA\u1C89\U00010D50\uA7CF\uA7D3\U00016EBB\u1F08\u0399\u0535\u0552"
       "\u0399\u0308\u0301"},
      // A byte-order mark belongs to the word it starts, or is a word of its own.
      {"\uFEFFword rest", "", "REST\n\uFEFFWORD"},
      {"\uFEFF\r\nword", "", "WORD\n\uFEFF"},
      {"B APPLES APPLE 1ST apple", "APPLE É Z B", "1ST\nAPPLE\nAPPLES\nB\nZ\nÉ"},
      // Lists in written form, and ones that only look it before upper-casing.
      {"ANT\nBEE\nCAT", "bee\ndog", "ANT\nBEE\nCAT\nDOG"},
      {"Zz\nab\nab", "AB", "AB\nZZ"},
      {"\uFEFFZ \u4E00", "Z", "Z\n\u4E00\n\uFEFFZ"}};
  for (char32_t c : kWhitespace) {
    const std::string space = utf8(c);
    cases.push_back({space + "b" + space + space + "a" + space, "", "A\nB"});
  }
  for (const auto& [current, update, written] : cases) {
    EXPECT_EQ(merged(current, update), written) << current << " + " << update;
  }
  // Words taken in turn from the two lists go out one by one. With a first word of 64 bytes and
  // the rest of 63, word 16384 ends exactly where a 1 MiB block does; words of 100 bytes cross.
  for (const std::size_t length : {63, 100}) {
    std::string current, update, written;
    for (int i = 0; i < 20000; ++i) {
      const std::string number = std::to_string(100000 + i);
      const std::string word = number + std::string((i == 0 ? 64 : length) - number.size(), 'W');
      (i % 2 ? update : current) += word + "\n";
      written += (i ? "\n" : "") + word;
    }
    EXPECT_TRUE(merged(current, update) == written) << "words of " << length << " bytes";
  }
  // Longer than the length field of a word reference holds, in place and spilled.
  const std::string lower((1 << 24) + 3, 'x'), upper(lower.size(), 'X');
  EXPECT_TRUE(merged("b " + lower + " a", lower + " ß") == "A\nB\nSS\n" + upper);
  EXPECT_TRUE(merged(lower + "\u0131", "") == upper + "I");
}

// Random lists of every shape against the model: words of ASCII letters in either case, with now
// and then anything else that is not whitespace (characters whose upper case is longer or
// shorter among them), sharing prefixes of every length so that ordering has to look deep; in
// any layout, or in written form with now and then a disorder or other whitespace anywhere.
struct ListMaker {
  std::mt19937 rng{1};
  std::vector<std::string> prefix;

  std::size_t pick(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
  }
  std::string word_char() {
    static const char32_t kOther[] = {'0',   '\'',   ',',    0x00,    0x1F,    0x7F,     0xE9,
                                      0xDF,  0xFF,   0x149,  0xFB01,  0x131,   0x130,    0x390,
                                      0x3C2, 0x430,  0x4E00, 0x1F600, 0xFEFF,  0x200B,   0x180E,
                                      0x345, 0x24D0, 0x2170, 0x1E9E,  0x10428, 0x10FFFF, 0x84};
    const std::size_t r = pick(16);
    return r < 12 ? std::string(1, static_cast<char>((r < 6 ? 'a' : 'A') + pick(26)))
                  : utf8(kOther[pick(std::size(kOther))]);
  }
  std::string separator() {
    return pick(3) ? "\n"
                   : utf8(kWhitespace[pick(25)]) + (pick(2) ? utf8(kWhitespace[pick(25)]) : "");
  }
  std::string word() {
    std::string word;
    for (std::size_t n = pick(4) ? 0 : pick(prefix.size() + 1), i = 0; i < n; ++i)
      word += prefix[i];
    for (std::size_t length = pick(8) ? 1 + pick(16) : 1 + pick(40); word.size() < length;)
      word += word_char();
    return word;
  }
  std::string list(std::size_t max_words) {
    std::vector<std::string> words;
    for (std::size_t n = pick(max_words + 1); n > 0; --n) {
      std::string w = words.empty() || pick(4) ? word() : words[pick(words.size())];
      for (char& c : w) c ^= std::isalpha(static_cast<unsigned char>(c)) && pick(2) ? 0x20 : 0;
      words.push_back(w);
    }
    std::string text = pick(8) ? "" : "\uFEFF";
    for (const std::string& w : words) text += (pick(4) ? "" : separator()) + w + separator();
    if (pick(2)) return text;
    text = model_list({text});
    const std::size_t at = text.find('\n', pick(text.size() + 1));
    if (at != std::string::npos && pick(3) == 0) text.replace(at, 1, separator());
    if (at != std::string::npos && pick(3) == 0) text.insert(at, "\n0" + word());
    return pick(8) ? text : separator() + text + separator();
  }
};

TEST(MergeDifferential, RandomListsOfEveryShapeAndSize) {
  ListMaker maker;
  for (int round = 0; round < 3000; ++round) {
    if (round % 100 == 0) maker.prefix.clear();
    while (maker.prefix.size() < 80) maker.prefix.push_back(maker.word_char());
    const std::size_t size = round % 300 == 0 ? 30000 : round % 10 == 0 ? 2 : 40;
    const std::string current = maker.list(size), update = maker.list(size / 2 + 1);
    ASSERT_EQ(merged(current, update), model_list({current, update}))
        << ::testing::PrintToString(current) << "\n+ " << ::testing::PrintToString(update);
  }
  // Enough words that ordering takes their first two bytes in one step, and many repeats.
  std::string big, repeats;
  for (int i = 0; i < 100000; ++i) big += maker.word() + maker.separator();
  for (int i = 0; i < 20000; ++i) repeats += (i % 2 ? "straße" : "ab") + maker.separator();
  EXPECT_EQ(merged(big, repeats), model_list({big, repeats}));
}

// The list kind comes from the file name alone: a pass backs up the live list of that kind, and
// refuses a list that names neither. A second pass within the same second waits for the next
// stamp; with the clock standing still, it gives up and overwrites nothing.
TEST(MergePass, TheListKindAndTheBackupNeverOverwritten) {
  ListFolder folder;
  const std::string dir = folder.lists().string() + "/";
  fs::create_directories(folder.lists() / "reduced");
  const std::string cases[][2] = {
      {"reduced.txt", "reduced"},        {"master.txt", "master"},
      {"reduced/master.txt", "master"},  {"C:\\reduced\\DicLists\\master.txt", "master"},
      {"master_reduced.txt", "reduced"}, {"C:\\lists\\words.txt", ""}};
  for (const auto& [current, kind] : cases) {
    fs::remove_all(folder.backup_dir());
    fs::create_directories(folder.backup_dir());
    folder.write({"DOG", "CAT", "ant"});
    write_file(folder.lists() / current, "CAT");
    TestPlatform platform;
    const auto pass = [&] {
      return run_in_process(platform, folder.root(),
                            [&] { merge_word_list(dir + current, dir + "update_words.txt", dir); })
          .out;
    };
    EXPECT_EQ(pass(),
              kind.empty() ? "Error: current_file is not reduced or master\n" + kPrompt : "");
    EXPECT_EQ(folder.backups(kind).size(), kind.empty() ? 0 : 1) << current;
    if (kind.empty()) continue;
    EXPECT_EQ(pass(), "");
    const std::vector<fs::path> kept = folder.backups(kind);
    ASSERT_EQ(kept.size(), 2u);
    const std::string newest = read_file(kept[1]);
    platform.fixed_stamp = kept[1].filename().string().substr(kind.size() + 1, 13);
    EXPECT_EQ(pass(), "Error renaming file: File exists (os error 17)\n" + kPrompt);
    EXPECT_GT(platform.sleeps, 0) << "it waited for the clock before giving up";
    EXPECT_TRUE(folder.backups(kind) == kept && read_file(kept[1]) == newest);
  }
}

// A list in written form, as every list is after its first run, is checked by a first read and
// merged from a second, a piece at a time; one that turns out not to be is read whole. Faults in
// each half of a piece checked on two cores, across the split between the halves (after the
// first LF past the middle of the first 1 MiB read, whole words) and far into the file; a word
// longer than a piece, and a list changed between the two reads, which must change nothing.
TEST(MergePass, LargeListsStreamedOrReadWhole) {
  std::string written, update;
  for (int i = 0; i < 200000; ++i) {
    // Appended piece by piece: g++ 12 at -O3 takes `"a" + std::to_string(...)` for an overlap.
    written.append(i ? "\n" : "").append(1, static_cast<char>('A' + i / 8000));
    written.append(std::to_string(1000000 + i)).append(i % 7 ? "" : "ÉΩ");
    update.append("a").append(std::to_string(1000000 + 3 * i % 200000)).append(i % 11 ? " " : "\n");
  }
  const auto at = [&](std::size_t place, const std::string& text) {
    return written.substr(0, place) + text + written.substr(place);
  };
  const std::size_t first = written.size() / 8, second = first * 3, far = written.size() - 1000;
  const std::size_t split = written.find('\n', written.rfind('\n', (1 << 20) - 1) / 2);
  const std::size_t after = written.find('\n', split + 1);
  const std::pair<std::string, int> masters[] = {
      {written, 0},
      {at(second, "\n0"), 0},                      // out of order
      {at(first, "low"), 0},                       // lower case
      {at(second, "\t"), 0},                       // other whitespace
      {at(far, std::string(80, 'Q') + "\t"), 0},   // whitespace, then lower case, far into a word
      {at(first, std::string(80, 'Q') + "q"), 0},  // longer than a block
      {written + "\n" + std::string(80, 'Z') + "\tz", 0},  // the same, in the last word
      {written + "\n" + std::string(80, 'A'), 0},          // longer than a block, out of order
      {written + "\nZZZZZZZZB\nZZZZZZZZA", 0},  // out of order behind equal first eight bytes
      {written.substr(0, split + 1) + std::string(after - split - 1, '0') + written.substr(after),
       0},                        // out of order across the split
      {written + "\n", 0},        // a final LF
      {at(second, "\xC3"), 101},  // not UTF-8
      {at(far, "\xC3"), 101},
      {written + "\nZ" + std::string(3 << 20, 'W'), 0},  // a word longer than a piece
      {written, 101}};                                   // changed between the two reads
  for (const auto& [master, status] : masters) {
    SCOPED_TRACE(master.size());
    ListFolder folder;
    folder.write({master, "", update});
    TestPlatform platform;
    platform.environment["QUILLMERE_DIR"] = folder.base_text();
    int opened = 0;
    if (&master == &std::end(masters)[-1].first) {
      platform.before_step = [&](const std::string& step) {
        if (step.ends_with("master.txt") && step.starts_with("open_file") && ++opened == 2) {
          write_file(folder.lists() / "master.txt", master + "\nZZZ");
        }
      };
    }
    const RunResult r = run_in_process(platform, folder.root());
    EXPECT_EQ(r.status, status) << r.err;
    EXPECT_TRUE(status == 101 || folder.read().master == model_list({master, update}));
    EXPECT_TRUE(folder.strays().empty() && folder.backups("master").size() == (status ? 0u : 1u));
  }
}

}  // namespace
}  // namespace corvandel::testing
