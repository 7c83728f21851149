// The list format and the merge pass: chosen lists, whole runs on random lists against the model
// with small sizes, the pass's own rules, and other programs at work meanwhile.
#include "list/word_list.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <random>

#include "list/merged_list.h"
#include "text/block_scan.h"
#include "test_support.h"
#include "run/unique_words_merger.h"
#include "run/update_run.h"

namespace corvandel::testing {
namespace {

// Chosen lists, each merged with another as a pass does, and the exact bytes written.
TEST(ReadingAndWriting, ChosenLists) {
  const std::array<std::string, 3> cases[] = {
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
      {"\uFEFFZ \u4E00", "Z", "Z\n\u4E00\n\uFEFFZ"}};
  for (const auto& [current, update, written] : cases) {
    EXPECT_EQ(merged(current, update), written) << current << " + " << update;
  }
  // Longer than the length field of a word reference holds, in place and spilled.
  const std::string lower((1 << 24) + 3, 'x'), upper(lower.size(), 'X');
  EXPECT_TRUE(merged("b " + lower + " a", lower + " ß") == "A\nB\nSS\n" + upper);
  EXPECT_TRUE(merged(lower + "\u0131", "") == upper + "I");
}

// Random lists of every shape: words of ASCII letters in either case, with now and then anything
// else that is not whitespace (characters whose upper case is longer or shorter among them),
// sharing prefixes of every length so that ordering has to look deep, now and then longer than a
// piece; in any layout, in written form, or in written form but for one flaw, put at a boundary
// of a block, a piece or a write block, at the middle or the end, or anywhere.
struct ListMaker {
  std::mt19937 rng{1};
  std::vector<std::string> prefix;
  Tunables sizes;

  std::size_t pick(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
  }
  std::string word_char() {
    static const char32_t kOther[] = {'0',   '\'',   ',',    0x00,    0x01,    0x7F,     0xE9,
                                      0xDF,  0xFF,   0x149,  0xFB01,  0x131,   0x130,    0x390,
                                      0x3C2, 0x430,  0x4E00, 0x1F600, 0xFEFF,  0x200B,   0x180E,
                                      0x345, 0x24D0, 0x2170, 0x1E9E,  0x10428, 0x10FFFF, 0x84};
    const std::size_t r = pick(16);
    return r < 12 ? std::string(1, static_cast<char>((r < 6 ? 'a' : 'A') + pick(26)))
                  : utf8(kOther[pick(std::size(kOther))]);
  }
  std::string space() {
    return utf8(model_data().whitespace[pick(model_data().whitespace.size())]);
  }
  std::string separator() { return pick(3) ? "\n" : space() + (pick(2) ? space() : ""); }
  std::string word() {
    std::string word;
    for (std::size_t n = pick(4) ? 0 : pick(prefix.size() + 1), i = 0; i < n; ++i)
      word += prefix[i];
    const std::size_t length = pick(8) ? 1 + pick(16) : pick(8) ? 1 + pick(40) : 1 + pick(700);
    while (word.size() < length) word += word_char();
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
    if (pick(3) == 0) return text;
    text = model_list({text});
    return pick(3) == 0 || text.empty() ? text : with_flaw(text);
  }
  // Near a multiple of a size that a path turns on, at the middle or the end, or anywhere.
  std::size_t place(const std::string& text) {
    const std::size_t units[] = {unicode::kBlock, sizes.piece, sizes.write_block, text.size() / 2 + 1};
    const std::size_t unit = units[pick(4)];
    std::size_t at = pick(3) ? unit * pick(text.size() / unit + 1) + pick(7) : pick(text.size());
    for (at = std::min(at - std::min<std::size_t>(at, 3), text.size());
         at > 0 && at < text.size() && (text[at] & 0xC0) == 0x80;)
      --at;  // at the start of a character
    return at;
  }
  // Not UTF-8 or cut off, lower case; after a word, an empty word, other whitespace, a CR, the
  // word repeated or one below it; a final LF.
  std::string with_flaw(std::string text) {
    static const char* const kBroken[] = {"\xC0\xAF",     "\xE0\x80\xAF", "\xF0\x80\x80\xAF",
                                          "\xED\xA0\x80", "\xED\xBF\xBF", "\xF4\x90\x80\x80",
                                          "\xF5\x80",     "\xFF",         "\xC3",
                                          "\xE2\x82",     "\xF0\x9F\x98", "\x80"};
    const std::size_t at = place(text), lf = std::min(text.find('\n', at), text.size());
    const std::size_t start = text.rfind('\n', lf - std::min<std::size_t>(lf, 1)) + 1;
    const std::string word = text.substr(start, lf - start);
    const std::pair<std::size_t, std::string> flaws[] = {
        {at, kBroken[pick(std::size(kBroken))]},
        {at, std::string(1, 'a' + pick(26))},
        {lf, "\n"},
        {lf, space()},
        {lf, "\r"},
        {lf, "\n" + word},
        {lf, "\n" + word.substr(0, word.size() / 2)},
        {text.size(), "\n"}};
    const auto& [where, what] = flaws[pick(std::size(flaws))];
    return text.insert(where, what);
  }
};

// Whole update runs with small sizes (every boundary falls everywhere) on lists of every shape, a
// read failed now and then: each list compared with the model, a failing pass changing nothing.
TEST(MergeDifferential, WholeRunsWithSmallSizes) {
  ListMaker maker;
  ListFolder folder(false, true);
  for (int round = 0; round < 2500; ++round) {
    if (round % 100 == 0) maker.prefix.clear();
    while (maker.prefix.size() < 80) maker.prefix.push_back(maker.word_char());
    maker.sizes = {64 + maker.pick(449), 1 + maker.pick(300), 1 + maker.pick(600),
                   1 + maker.pick(40), maker.pick(2) == 0};
    const std::size_t size = round % 250 == 0 ? 5000 : round % 10 == 0 ? 2 : 150;
    const Lists lists{maker.list(size), maker.list(size),  // now and then an update of whitespace
                      round % 10 == 1 ? maker.space() : maker.list(size / 3 + 1)};
    SCOPED_TRACE(::testing::PrintToString(lists.master) + "\n+ " +
                 ::testing::PrintToString(lists.reduced) + "\n+ " +
                 ::testing::PrintToString(lists.update));
    fs::remove_all(folder.backup_dir());
    folder.write(lists);
    TestPlatform platform;
    platform.environment["QUILLMERE_DIR"] = folder.base_text();
    if (maker.pick(8) == 0) platform.fail("read", 1 + static_cast<int>(maker.pick(40)), EIO);
    const RunResult r = run_in_process(platform, folder.root(), [&] { run_update(maker.sizes); });
    // A read failed on purpose ends the run at once, with nothing changed by its pass.
    const bool failed_read = r.err.find(": Input/output error") != std::string::npos;
    // Refused, in this order: an empty update file, a list not UTF-8, an update without words.
    const std::pair<int, int> outcome = lists.update.empty()                 ? std::pair(1, 0)
                                        : !model_words(lists.update)         ? std::pair(101, 0)
                                        : !model_words(lists.reduced)        ? std::pair(101, 0)
                                        : model_words(lists.update)->empty() ? std::pair(1, 0)
                                        : !model_words(lists.master)         ? std::pair(101, 1)
                                                                             : std::pair(0, 2);
    ASSERT_EQ(r.status, failed_read ? 101 : outcome.first) << r.out << r.err;
    ASSERT_EQ(r.status == 101 && !failed_read,
              r.err.ends_with(": stream did not contain valid UTF-8 [kind: invalid data]\n"));
    const auto [reduced, master] = folder.check_promise(lists);
    ASSERT_TRUE(failed_read ? reduced + master <= outcome.second
                            : reduced + master == outcome.second);
    ASSERT_TRUE(folder.strays().empty());
  }
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
    EXPECT_TRUE(in_written_form(read_file(folder.lists() / (kind + ".txt"))));
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

// Another program at work on the master list during a run: rewriting it in place with its size and
// time kept as the run begins to read it, or while it reads its update list; saving it as an editor
// does just before the swap. The pass fails and leaves that list. Alone, a run keeps its mode.
TEST(MergePass, AnotherProgramAtWork) {
  const auto in_place = [](const fs::path& list) {
    const auto time = fs::last_write_time(list);
    std::fstream(list, std::ios::in | std::ios::out | std::ios::binary) << "BNT";
    fs::last_write_time(list, time);
  };
  const auto saved = [](const fs::path& list) {
    write_file(list.string() + ".tmp", "SAVED");
    fs::rename(list.string() + ".tmp", list);
  };
  const std::tuple<std::string, std::string, int, std::function<void(const fs::path&)>> rows[] = {
      {"ANT\nBEE", "create_new_file */master.txt.new-1", 1, in_place},
      {"bee\nant", "open_file */reduced.txt", 2, in_place},
      {"ANT\nBEE", "wait_until_replaceable */master.txt", 1, saved},
      {"ANT\nBEE", "", 0, nullptr}};
  for (const auto& [master, step, nth, act] : rows) {
    SCOPED_TRACE(step);
    ListFolder folder;
    folder.write({master, "CAT", "dog"});
    const fs::path list = folder.lists() / "master.txt";
    if (!act) fs::permissions(list, fs::perms::owner_read | fs::perms::group_read);
    TestPlatform platform;
    platform.environment["QUILLMERE_DIR"] = folder.base_text();
    int seen = 0;
    std::string left = model_list({master, "CAT", "dog"});
    platform.before_step = [&](const std::string& now) {
      if (act && like(now, step) && ++seen == nth) {
        act(list);
        left = read_file(list);
      }
    };
    EXPECT_EQ(run_in_process(platform, folder.root()).status, act ? 101 : 0);
    EXPECT_EQ(read_file(list), left);
    EXPECT_TRUE(folder.strays().empty() && folder.backups("master").size() == (act ? 0 : 1));
    EXPECT_TRUE(act || fs::status(list).permissions() == fs::perms(0440));
  }
}

}  // namespace
}  // namespace corvandel::testing
