// Reads two word lists from one input (split at the first 0xFF byte, which never occurs in UTF-8),
// merges them and writes the result, checking the list format's promises against a plain
// reference decoder:
// - text is accepted exactly when it is well-formed UTF-8;
// - the words are the runs between White_Space characters, each upper-cased;
// - the written list is valid UTF-8, strictly ascending byte-wise, free of whitespace inside
//   words, holds every word of both inputs, and reads back as itself.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "merged_list.h"
#include "test_text.h"
#include "unicode.h"
#include "word_list.h"

namespace {
using namespace corvandel;
using corvandel::testing::file_data;
using corvandel::testing::list_words;
using corvandel::testing::StringOutput;

void require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

// One code point decoded the long way, or nothing when the bytes at `text` are not well-formed.
std::optional<char32_t> decode(std::string_view text, std::size_t& length) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  char32_t c;
  char32_t minimum;
  if (lead < 0x80) {
    length = 1;
    return lead;
  } else if (lead >= 0xC0 && lead < 0xE0) {
    length = 2, c = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead < 0xF0) {
    length = 3, c = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead < 0xF8) {
    length = 4, c = lead & 0x07, minimum = 0x10000;
  } else {
    return std::nullopt;
  }
  if (text.size() < length) return std::nullopt;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return std::nullopt;
    c = (c << 6) | (byte(i) & 0x3F);
  }
  if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
  return c;
}

bool reference_whitespace(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

// The words of `text` as the reference sees them, not upper-cased; nothing for invalid UTF-8.
std::optional<std::vector<std::string_view>> reference_words(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t start = 0, i = 0;
  while (i < text.size()) {
    std::size_t length = 0;
    std::optional<char32_t> c = decode(text.substr(i), length);
    if (!c) return std::nullopt;
    if (reference_whitespace(*c)) {
      if (i > start) words.push_back(text.substr(start, i - start));
      start = i + length;
    }
    i += length;
  }
  if (i > start) words.push_back(text.substr(start));
  return words;
}

// Parses `text`, checking acceptance and splitting against the reference.
std::optional<WordList> checked_parse(std::string_view text) {
  std::optional<std::vector<std::string_view>> expected = reference_words(text);
  require(unicode::is_valid_utf8(text) == expected.has_value(), "UTF-8 validation");
  Result<WordList> list = parse_word_list(file_data(text));
  require(list.ok() == expected.has_value(), "parse accepts exactly valid UTF-8");
  if (!list) return std::nullopt;
  const std::vector<std::string_view> words = list_words(list.value());
  require(words.size() == expected->size(), "word count");
  for (std::size_t i = 0; i < expected->size(); ++i) {
    std::string upper;
    unicode::append_upper((*expected)[i], upper);
    require(words[i] == upper, "each word is the upper-case form of its run");
  }
  return std::move(list.value());
}

std::string written(const MergedWords& merged) {
  StringOutput out;
  require(write_word_list(out, merged).ok(), "writing to memory");
  return out.text;
}

// The lines of a written list.
std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t lf = std::min(text.find('\n'), text.size());
    lines.push_back(text.substr(0, lf));
    text.remove_prefix(std::min(lf + 1, text.size()));
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\xFF');
  const std::string_view first = input.substr(0, split);
  const std::string_view second = split == std::string_view::npos ? "" : input.substr(split + 1);

  std::optional<WordList> current = checked_parse(first);
  std::optional<WordList> update = checked_parse(second);
  if (!current || !update) return 0;
  // Views into the lists' own buffers, which ordering the lists leaves in place.
  const std::vector<std::string_view> all_current = list_words(*current),
                                      all_update = list_words(*update);

  const std::string text = written(merge_distinct(*current, *update));
  const std::vector<std::string_view> merged = lines_of(text);

  require(unicode::is_valid_utf8(text), "output is valid UTF-8");
  require(std::adjacent_find(merged.begin(), merged.end(), std::greater_equal<>()) == merged.end(),
          "strictly ascending");
  for (std::string_view word : merged) {
    require(!word.empty(), "no empty word");
    std::optional<std::vector<std::string_view>> parts = reference_words(word);
    require(parts && parts->size() == 1 && parts->front() == word, "no whitespace inside a word");
  }
  for (const auto* words : {&all_current, &all_update}) {
    for (std::string_view word : *words) {
      require(std::binary_search(merged.begin(), merged.end(), word), "every word is kept");
    }
  }

  // The written list reads back as the same words, and rewriting it changes nothing.
  std::optional<WordList> again = checked_parse(text);
  require(again.has_value(), "output reads back");
  require(list_words(*again) == merged, "output reads back as the merged words");
  std::optional<WordList> none = checked_parse("");
  require(written(merge_distinct(*again, *none)) == text, "rewriting is idempotent");
  return 0;
}
