// The list format: chosen lists, and whole update runs on random lists against the model.
#include <gtest/gtest.h>

#include <array>
#include <random>

#include "run/update_run.h"
#include "test_support.h"
#include "text/block_scan.h"

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
  for (const auto& [current, update, written] : cases)
    EXPECT_EQ(merged(current, update), written) << current << " + " << update;
  // Longer than the length field of a word reference holds, in place and spilled.
  const std::string lower((1 << 24) + 3, 'x'), upper(lower.size(), 'X');
  EXPECT_TRUE(merged("b " + lower + " a", lower + " ß") == "A\nB\nSS\n" + upper);
  EXPECT_TRUE(merged(lower + "\u0131", "") == upper + "I");
}

// Random lists of every shape: words of ASCII letters in either case, with now and then anything
// else that is not whitespace (characters whose upper case is longer or shorter among them),
// sharing prefixes of every length so that ordering has to look deep, now and then longer than a
// piece; now and then of Greek letters in either case instead, as a list in one script; in any
// layout, in written form, or in written form but for one flaw, put at a boundary of a block, a
// piece or a write block, at the middle or the end, or anywhere.
struct ListMaker {
  std::mt19937 rng{1};
  std::vector<std::string> prefix;
  Tunables sizes;
  bool one_script = false;
  const std::vector<char32_t>& spaces = model_data().whitespace;

  auto pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); }
  std::string word_char() {
    if (one_script && pick(32) != 0) return utf8((pick(2) ? U'\u0391' : U'\u03B1') + pick(25));
    static constexpr char32_t kOther[] =  // and the NUL after them
        U"0',\0\x01\x7F\xE9\xDF\xFF\u0149\uFB01\u0131\u0130\u0390\u03C2\u0430\u4E00\U0001F600"
        U"\uFEFF\u200B\u180E\u0345\u24D0\u2170\u1E9E\U00010428\U0010FFFF\x84";
    const std::size_t r = pick(16);
    return r < 12 ? std::string(1, static_cast<char>((r < 6 ? 'a' : 'A') + pick(26)))
                  : utf8(kOther[pick(std::size(kOther) - 1)]);
  }
  std::string space() { return utf8(spaces[pick(spaces.size())]); }
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
      words.push_back(words.empty() || pick(4) ? word() : words[pick(words.size())]);
      for (char& c : words.back()) c ^= std::isalpha(c & 0xFF) && pick(2) ? 0x20 : 0;
    }
    std::string text = pick(8) ? "" : "\uFEFF";
    for (const std::string& w : words) text += (pick(4) ? "" : separator()) + w + separator();
    if (pick(3) == 0) return text;
    text = model_list({text});
    return pick(3) == 0 || text.empty() ? text : with_flaw(text);
  }
  // Words of `text`, as written: a run of them in a row, each now and then in lower case or
  // followed by a byte that puts it just after, so that the words of an update fall in one piece
  // or a few, on both sides of their edges, and mostly on words already there.
  std::string words_of(const std::string& text) {
    std::vector<std::string> words;
    const std::string sorted = model_words(text) ? model_list({text}) : "";
    for (std::string_view rest = sorted; !rest.empty();) {
      words.emplace_back(rest.substr(0, rest.find('\n')));
      rest.remove_prefix(std::min(words.back().size() + 1, rest.size()));
    }
    if (words.empty()) return word();
    const std::size_t from = pick(words.size()), to = from + 1 + pick(words.size() - from);
    std::string update;
    for (std::size_t i = from; i < to; ++i) {
      std::string word = words[i] + (pick(6) ? "" : "\x01");
      for (char& c : word) c ^= pick(6) == 0 && std::isalpha(c & 0xFF) ? 0x20 : 0;
      update += word + separator();
    }
    return update;
  }
  // A flaw near a multiple of a size that a path turns on, at the middle or the end, or anywhere:
  // not UTF-8 or cut off, lower case (ASCII or Greek); after the word there, an empty word, other
  // whitespace, a CR, the word repeated or one below it; a final LF.
  std::string with_flaw(std::string text) {
    const std::size_t units[] = {unicode::kBlock, sizes.piece, sizes.write_block,
                                 text.size() / 2 + 1};
    const std::size_t unit = units[pick(4)];
    std::size_t at = pick(3) ? unit * pick(text.size() / unit + 1) + pick(7) : pick(text.size());
    for (at = std::min(at - std::min<std::size_t>(at, 3), text.size());
         at > 0 && at < text.size() && (text[at] & 0xC0) == 0x80;)
      --at;  // at the start of a character
    const std::size_t lf = std::min(text.find('\n', at), text.size());
    const std::size_t start = text.rfind('\n', lf - std::min<std::size_t>(lf, 1)) + 1;
    const std::string word = text.substr(start, lf - start);
    // clang-format off
    static const char* const kBroken[] = {"\xC0\xAF", "\xE0\x80\xAF", "\xF0\x80\x80\xAF",
        "\xED\xA0\x80", "\xED\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80", "\xFF", "\xC3", "\xE2\x82",
        "\xF0\x9F\x98", "\x80"};
    const std::pair<std::size_t, std::string> flaws[] = {
        {at, kBroken[pick(std::size(kBroken))]}, {at, std::string(1, 'a' + pick(26))},
        {at, pick(2) ? "\u03B1" : "\u03C3"},
        {lf, "\n"}, {lf, space()}, {lf, "\r"}, {lf, "\n" + word},
        {lf, "\n" + word.substr(0, word.size() / 2)}, {text.size(), "\n"}};
    // clang-format on
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
    maker.one_script = round % 5 == 2;
    if (round % 100 == 0) maker.prefix.clear();
    while (maker.prefix.size() < 80) maker.prefix.push_back(maker.word_char());
    // Pieces of one word, or of several; a helper thread merging them, or none.
    maker.sizes = {maker.pick(4) ? 64 + maker.pick(449) : 1 + maker.pick(16), 1 + maker.pick(300),
                   1 + maker.pick(600), 1 + maker.pick(40), maker.pick(2) == 0};
    const std::size_t size = round % 250 == 0 ? 5000 : round % 10 == 0 ? 2 : 150;
    Lists lists{maker.list(size), maker.list(size),  // now and then an update of whitespace
                round % 10 == 1 ? maker.space() : maker.list(size / 3 + 1)};
    if (round % 4 == 3) {  // each pass's update mostly of the words of its list
      lists.reduced = maker.words_of(lists.master);
      lists.update = maker.words_of(lists.reduced);
    }
    SCOPED_TRACE(::testing::PrintToString(std::array{lists.master, lists.reduced, lists.update}));
    fs::remove_all(folder.backup_dir());
    folder.write(lists);
    TestPlatform platform;
    platform.environment["QUILLMERE_DIR"] = folder.base_text();
    if (maker.pick(8) == 0) platform.fail("read", 1 + static_cast<int>(maker.pick(40)), EIO);
    const RunResult r = run_in_process(platform, folder.root(), [&] { run_update(maker.sizes); });
    // A read failed on purpose ends the run at once, with nothing changed by its pass.
    const bool failed_read = r.err.find(": Input/output error") != std::string::npos;
    // Refused, in this order: an empty update file, a list not UTF-8, an update without words.
    const auto [status, replaced] = lists.update.empty()                 ? std::pair(1, 0)
                                    : !model_words(lists.update)         ? std::pair(101, 0)
                                    : !model_words(lists.reduced)        ? std::pair(101, 0)
                                    : model_words(lists.update)->empty() ? std::pair(1, 0)
                                    : !model_words(lists.master)         ? std::pair(101, 1)
                                                                         : std::pair(0, 2);
    ASSERT_EQ(r.status, failed_read ? 101 : status) << r.out << r.err;
    ASSERT_EQ(r.status == 101 && !failed_read,
              r.err.ends_with(": stream did not contain valid UTF-8 [kind: invalid data]\n"));
    const auto [reduced, master] = folder.check_promise(lists);
    ASSERT_TRUE(reduced + master == replaced || (failed_read && reduced + master < replaced));
    ASSERT_TRUE(folder.strays().empty());
  }
}

}  // namespace
}  // namespace corvandel::testing
