// The Unicode unit against the definitions: UTF-8 well-formedness by the model's decoder, the
// White_Space set by its list, upper-casing by chosen mappings and by its own consistency over
// every code point, and the block classes byte by byte.
#include "unicode.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "test_support.h"

namespace corvandel::unicode {
namespace {
using testing::decode;
using testing::kWhitespace;
using testing::utf8;

bool reference_is_valid(std::string_view text) {
  for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
    if (!decode(text.substr(i), length)) return false;
  }
  return true;
}

std::string upper(std::string_view word) {
  std::string out = "|";
  append_upper(word, out);
  EXPECT_EQ(out[0], '|') << "what was there is kept";
  return out.substr(1);
}

TEST(Utf8, AgreesWithTheDefinition) {
  // Every two-byte string; three and four bytes with every lead and second byte, the later bytes
  // at the edges of the continuation range and just outside it.
  const int later[] = {0x00, 0x7F, 0x80, 0xBF, 0xC0, 0xFF};
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) {
      for (int c : later) {
        for (int d : later) {
          const std::string four{char(a), char(b), char(c), char(d)};
          for (std::size_t n = 2; n <= 4; ++n) {
            const std::string_view text = std::string_view(four).substr(0, n);
            ASSERT_EQ(is_valid_utf8(text), reference_is_valid(text))
                << ::testing::PrintToString(four);
          }
        }
      }
    }
  }
  for (char32_t c = 0; c <= 0x110000; ++c) {
    ASSERT_EQ(is_valid_utf8(utf8(c)), c < 0xD800 || (c > 0xDFFF && c < 0x110000)) << unsigned(c);
  }
  // A bad byte at any offset of a long ASCII run, and slices of every start and length.
  const std::string text = std::string(40, 'a') + "\xE2\x82\xAC" + std::string(40, 'b');
  for (std::size_t start = 0; start < 16; ++start) {
    for (std::size_t end = start; end <= text.size(); ++end) {
      std::string slice = text.substr(start, end - start);
      ASSERT_EQ(is_valid_utf8(slice), reference_is_valid(slice)) << start << ".." << end;
      if (slice.empty()) continue;
      slice[slice.size() / 2] = '\xF5';
      ASSERT_FALSE(is_valid_utf8(slice)) << start << ".." << end;
    }
  }
}

TEST(Whitespace, ExactlyTheSetForEveryCodePoint) {
  for (char32_t c = 0; c <= 0x10FFFF; c += c == 0xD7FF ? 0x801 : 1) {
    const bool space = testing::is_space(c);
    const std::string s = utf8(c);
    ASSERT_TRUE(is_whitespace(c) == space && whitespace_length(s + "x") == (space ? s.size() : 0) &&
                whitespace_run_length(s + s + "x") == (space ? 2 * s.size() : 0) &&
                trim_whitespace(s + "x" + s) == (space ? "x" : s + "x" + s) &&
                whitespace_length(std::string_view(s).substr(0, s.size() - (c >= 0x80))) ==
                    (space && c < 0x80))
        << unsigned(c);
  }
  EXPECT_EQ(whitespace_run_length("  \xE2\x80"), kNotUtf8);
}

TEST(Upper, TheDefaultFullMapping) {
  const std::pair<std::string, std::string> cases[] = {
      {"hello, World_42 [a-z]{`~}@", "HELLO, WORLD_42 [A-Z]{`~}@"},
      {"straße \u0149 \uFB01\uFB03", "STRASSE \u02BCN FIFFI"},
      {"\u0390 \u1F80 \u0587", "\u0399\u0308\u0301 \u1F08\u0399 \u0535\u0552"},
      {"café σς привет", "CAFÉ ΣΣ ПРИВЕТ"},
      {"\u0131\u017F\u0345\u01C5\U0001E943", "IS\u0399\u01C4\U0001E921"},
      {"\u24D0\u24E9\u2170\u217F", "\u24B6\u24CF\u2160\u216F"},
      {"i\u0130i\u0307", "I\u0130I\u0307"},  // no locale or context rules
      // Case pairs new in Unicode 16.0, and some that only came with 17.0.
      {"\u019B\u0264\uA7CD\uA7DB\u1C8A\U00010D70\U00010D85",
       "\uA7DC\uA7CB\uA7CC\uA7DA\u1C89\U00010D50\U00010D65"},
      {"\uA7CF\uA7D3\uA7D5\U00016EBB\U00016ED3", "\uA7CF\uA7D3\uA7D5\U00016EBB\U00016ED3"},
      {"0123456789\uFEFF\u65E5\U0001F600\U0010FFFF\u00AA\u02B0",
       "0123456789\uFEFF\u65E5\U0001F600\U0010FFFF\u00AA\u02B0"}};
  for (const auto& [lower, upper_form] : cases) EXPECT_EQ(upper(lower), upper_form);
}

// Every code point alone and behind ASCII letters: the upper case is valid UTF-8 and its own upper
// case; the scan of the word says what upper-casing does to it; upper-casing in place where the
// scan allows it gives the same.
TEST(Upper, ConsistentForEveryCodePoint) {
  for (char32_t c = 0; c <= 0x10FFFF; c += c == 0xD7FF ? 0x801 : 1) {
    for (const std::string& word : {utf8(c), "ab" + utf8(c) + "z"}) {
      if (testing::is_space(c)) continue;
      const std::string upper_word = upper(word);
      const WordScan scan = scan_word(word + " tail");
      std::string in_place = word;
      if (scan.keeps_length) upper_in_place_keeping_length(in_place.data(), in_place.size());
      ASSERT_TRUE(is_valid_utf8(upper_word) && upper(upper_word) == upper_word &&
                  scan.length == word.size() && scan.changes == (upper_word != word) &&
                  scan.keeps_length == (upper_word.size() == word.size()) &&
                  (!scan.keeps_length || in_place == upper_word))
          << unsigned(c);
    }
  }
  EXPECT_EQ(scan_word("ab\xC3 ").length, kNotUtf8);
  EXPECT_EQ(scan_word("\xED\xA0\x80").length, kNotUtf8);
}

// Byte classes of 64-byte blocks, both implementations, and upper-casing of ASCII letters at
// every length and alignment, against a byte-by-byte reading.
TEST(Scanning, BlockClassesAndAsciiLetters) {
  std::uint32_t state = 12345;
  for (int round = 0; round < 200; ++round) {
    char block[64];
    std::uint64_t whitespace = 0, non_ascii = 0, lower = 0, line_feeds = 0;
    std::string upper_block(64, '\0');
    for (int i = 0; i < 64; ++i) {
      // Every byte value appears at every position over the rounds; the rest are random.
      state = state * 1103515245 + 12345;
      const auto b = static_cast<unsigned char>(round < 4 ? (64 * round + i) % 256 : state >> 24);
      block[i] = static_cast<char>(b);
      const std::uint64_t bit = std::uint64_t{1} << i;
      whitespace |= b == 0x20 || (b >= 0x09 && b <= 0x0D) ? bit : 0;
      non_ascii |= b >= 0x80 ? bit : 0;
      lower |= b >= 'a' && b <= 'z' ? bit : 0;
      line_feeds |= b == '\n' ? bit : 0;
      upper_block[i] = static_cast<char>(b >= 'a' && b <= 'z' ? b - 0x20 : b);
    }
    for (const ByteClasses& classes : {classify_64(block), classify_64_portable(block)}) {
      ASSERT_EQ(classes.whitespace, whitespace) << round;
      ASSERT_EQ(classes.non_ascii, non_ascii) << round;
      ASSERT_EQ(classes.lower, lower) << round;
      ASSERT_EQ(classes.line_feeds, line_feeds) << round;
    }
    for (std::size_t from = 0; from < 64; from += 7) {
      for (std::size_t length = 0; from + length <= 64; length += 5) {
        std::string copy(block, 64);
        upper_ascii_letters(copy.data() + from, length);
        ASSERT_EQ(copy, std::string(block, from) + upper_block.substr(from, length) +
                            std::string(block + from + length, 64 - from - length))
            << round;
      }
    }
  }
}

// The characters of blocks of UTF-8 text, cut anywhere, and of ill-formed blocks, against the
// model's decoder and upper-casing, with and without SSE2.
TEST(Scanning, CharactersOfBlocks) {
  std::uint32_t state = 777;
  const auto next = [&](std::uint32_t n) { return (state = state * 1103515245 + 12345) >> 8 & n; };
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    while (text.size() < 80) {
      const char32_t c = next(3) ? next(0x7FF) : next(7) ? next(0xFFFF) : next(0x1FFFF);
      if (c < 0xD800 || c > 0xDFFF) text += utf8(c);
    }
    if (round % 2) text[next(63)] = static_cast<char>(next(255));  // perhaps no longer UTF-8
    const std::size_t from = round % 4 == 0 ? 0 : next(15);
    const char* block = text.data() + from;
    const ByteClasses classes = classify_64(block);
    const BlockScan scan = scan_block(block, classes),
                    portable = scan_block_portable(block, classes);
    ASSERT_TRUE(scan.invalid == portable.invalid && scan.whitespace == portable.whitespace &&
                scan.changes == portable.changes && scan.resizes == portable.resizes);
    // A character cut off at the block's end counts as well-formed when its bytes in the block
    // begin one (the model completes them with continuation bytes in the allowed ranges), and is
    // judged with the bytes after the block.
    BlockScan model{0, 0, 0, 0};
    bool judged = true;
    for (std::size_t i = 0, length = 0; i < 64; i += length) {
      std::string probe(block + i, std::min<std::size_t>(64 - i, 4));
      const auto lead = static_cast<unsigned char>(probe[0]);
      for (std::size_t k = probe.size(); k < 4; ++k) {
        probe += static_cast<char>(k > 1 ? 0x80 : lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80);
      }
      const std::uint64_t bit = std::uint64_t{1} << i;
      if (!decode(probe, length)) model.invalid |= bit;
      const std::optional<char32_t> c =
          decode(std::string_view(block + i, text.size() - from - i), length);
      judged = c.has_value();
      if (!c) break;
      const std::string character(block + i, length), upper_form = upper(character);
      model.whitespace |= testing::is_space(*c) ? ((std::uint64_t{1} << length) - 1) << i : 0;
      model.changes |= *c >= 0x80 && upper_form != character ? bit : 0;
      model.resizes |= *c >= 0x80 && upper_form.size() != length ? bit : 0;
    }
    ASSERT_EQ(scan.invalid == 0, model.invalid == 0)
        << ::testing::PrintToString(text.substr(from, 64));
    if (model.invalid || !judged) continue;
    ASSERT_EQ(scan.whitespace, model.whitespace);
    ASSERT_EQ(scan.changes, model.changes);
    ASSERT_EQ(scan.resizes, model.resizes);
  }
}

}  // namespace
}  // namespace corvandel::unicode
