// The merge pass against a plain model of the list format: random lists are split with a simple
// code-point loop, upper-cased word by word and collected in a std::set, and the pass must write
// exactly the same bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "merged_list.h"
#include "test_text.h"
#include "unicode.h"
#include "word_list.h"

namespace corvandel::testing {
namespace {

// --- The model ---

constexpr char32_t kWhitespace[] = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,
                                    0xA0,   0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
                                    0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028,
                                    0x2029, 0x202F, 0x205F, 0x3000};

bool model_is_space(char32_t c) {
  return std::find(std::begin(kWhitespace), std::end(kWhitespace), c) != std::end(kWhitespace);
}

// Splits valid UTF-8 at the whitespace characters, a code point at a time.
std::vector<std::string> model_split(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t c = length == 1 ? lead : lead & (0x3F >> (length - 1));
    for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (text[i + k] & 0x3F);
    if (model_is_space(c)) {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += text.substr(i, length);
    }
    i += length;
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

std::vector<std::string> model_words(const std::string& text) {
  std::vector<std::string> words;
  for (const std::string& word : model_split(text)) {
    std::string upper;
    unicode::append_upper(word, upper);
    words.push_back(upper);
  }
  return words;
}

std::string model_merge(const std::string& current, const std::string& update) {
  std::set<std::string> set;
  for (const std::string* text : {&current, &update}) {
    for (std::string& word : model_words(*text)) set.insert(std::move(word));
  }
  std::string out;
  for (const std::string& word : set) {
    if (!out.empty()) out += '\n';
    out += word;
  }
  return out;
}

// --- Random lists ---

class ListMaker {
 public:
  explicit ListMaker(unsigned seed) : rng_(seed) {}

  std::size_t pick(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_);
  }

  // One word character: mostly ASCII letters in either case, sometimes anything else that is
  // not whitespace, including characters whose upper case is longer or shorter.
  std::string word_char() {
    static const char32_t kOther[] = {
        '0',    '9',    '\'',    ',',      '-',    0x00,    0x01,   0x08,   0x0E,   0x1F,  0x7F,
        0xE9,   0xC9,   0xDF,    0xFF,     0x149,  0xFB01,  0x131,  0x130,  0x390,  0x3B1, 0x391,
        0x3C2,  0x430,  0x410,   0x4E00,   0x9FA5, 0x1F600, 0xFEFF, 0x200B, 0x180E, 0x345, 0x24D0,
        0x2170, 0x1E9E, 0x10428, 0x10FFFF, 0xFFFF, 0x84,    0xA1,   0x2027, 0x200C, 0x3001};
    const std::size_t r = pick(16);
    if (r < 6) return std::string(1, static_cast<char>('a' + pick(26)));
    if (r < 12) return std::string(1, static_cast<char>('A' + pick(26)));
    return utf8(kOther[pick(std::size(kOther))]);
  }

  std::string whitespace() { return utf8(kWhitespace[pick(std::size(kWhitespace))]); }

  std::string separator() {
    if (pick(3) != 0) return "\n";
    std::string space;
    for (std::size_t n = 1 + pick(3); n > 0; --n) space += whitespace();
    return space;
  }

  // Words with shared prefixes of every length, so that ordering has to look deep.
  std::string word() {
    std::string word;
    if (pick(4) == 0) {
      for (std::size_t n = pick(prefix_.size() + 1), i = 0; i < n; ++i) word += prefix_[i];
    }
    const std::size_t length = pick(8) == 0 ? 1 + pick(40) : 1 + pick(16);
    while (word.size() < length || word.empty()) word += word_char();
    return word;
  }

  std::string flip_case(const std::string& word) {
    std::string out = word;
    for (char& c : out) {
      if (std::isalpha(static_cast<unsigned char>(c)) && pick(2) == 0) c ^= 0x20;
    }
    return out;
  }

  // A list in any layout: repeats in other cases, any whitespace, an optional byte-order mark.
  std::string messy_list(std::size_t max_words) {
    std::vector<std::string> words;
    for (std::size_t n = pick(max_words + 1); n > 0; --n) {
      words.push_back(!words.empty() && pick(4) == 0 ? flip_case(words[pick(words.size())])
                                                     : word());
    }
    std::string text = pick(8) == 0 ? "\xEF\xBB\xBF" : "";
    if (pick(4) == 0) text += separator();
    for (std::size_t i = 0; i < words.size(); ++i) {
      if (i != 0) text += separator();
      text += words[i];
    }
    if (pick(4) == 0) text += separator();
    return text;
  }

  // A list as this program writes it, sometimes with one pair of words out of order or other
  // whitespace in it.
  std::string written_list(std::size_t max_words) {
    std::string text = model_merge(messy_list(max_words), "");
    if (pick(4) == 0) {
      std::vector<std::string> words = model_split(text);
      if (words.size() >= 2) {
        const std::size_t i = pick(words.size() - 1);
        std::swap(words[i], words[i + 1]);
        text.clear();
        for (const std::string& word : words) text += (text.empty() ? "" : "\n") + word;
      }
    }
    // Sometimes one LF is other whitespace, or whitespace comes before or after the list.
    if (pick(4) == 0) {
      const std::size_t lf = text.find('\n', pick(text.size() + 1));
      if (lf != std::string::npos) text.replace(lf, 1, separator());
    }
    if (pick(8) == 0) text = separator() + text;
    if (pick(8) == 0) text += separator();
    return text;
  }

  std::string any_list(std::size_t max_words) {
    return pick(2) == 0 ? messy_list(max_words) : written_list(max_words);
  }

  void new_prefix() {
    prefix_.clear();
    while (prefix_.size() < 80) prefix_.push_back(word_char());
  }

 private:
  std::mt19937 rng_;
  std::vector<std::string> prefix_{"p", "r", "e"};
};

std::string printable(const std::string& text) {
  return ::testing::PrintToString(text);
}

// Parses, merges and writes like the merge pass; checks every step against the model.
void expect_same_as_model(const std::string& current_text, const std::string& update_text) {
  Result<WordList> current = parse_word_list(file_data(current_text));
  Result<WordList> update = parse_word_list(file_data(update_text));
  ASSERT_TRUE(current.ok() && update.ok());
  std::vector<std::string_view> words = list_words(current.value());
  ASSERT_EQ(std::vector<std::string>(words.begin(), words.end()), model_words(current_text))
      << "words of " << printable(current_text);
  StringOutput out;
  ASSERT_TRUE(write_word_list(out, merge_distinct(current.value(), update.value())).ok());
  ASSERT_EQ(out.text, model_merge(current_text, update_text))
      << "current " << printable(current_text) << "\nupdate " << printable(update_text);
}

TEST(MergeDifferential, SmallListsOfEveryShape) {
  ListMaker maker(1);
  for (int round = 0; round < 3000; ++round) {
    if (round % 100 == 0) maker.new_prefix();
    const std::string current = maker.any_list(round % 10 == 0 ? 2 : 40);
    const std::string update = maker.any_list(round % 7 == 0 ? 1 : 30);
    expect_same_as_model(current, update);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

TEST(MergeDifferential, LargeListsSortedAndUnsorted) {
  ListMaker maker(2);
  for (int round = 0; round < 12; ++round) {
    maker.new_prefix();
    const std::string master = round % 2 == 0 ? maker.written_list(20000) : maker.messy_list(20000);
    const std::string reduced = maker.messy_list(3000);
    expect_same_as_model(master, reduced);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

// Enough words that ordering takes the first two bytes in one step.
TEST(MergeDifferential, ListOfHundredThousandWords) {
  ListMaker maker(4);
  std::string text;
  for (int i = 0; i < 100000; ++i) text += maker.word() + maker.separator();
  expect_same_as_model(text, maker.messy_list(100));
}

TEST(MergeDifferential, ManyRepeatsOfFewWords) {
  ListMaker maker(3);
  std::string text;
  for (int i = 0; i < 20000; ++i) {  // more words than a reference per eight bytes
    text += maker.flip_case(i % 3 == 0   ? "straSSe"
                            : i % 3 == 1 ? "stra\xC3\x9F"
                                           "e"
                                         : "ab");
    text += maker.separator();
  }
  expect_same_as_model(text, "AB");
  expect_same_as_model("", text);
}

}  // namespace
}  // namespace corvandel::testing
