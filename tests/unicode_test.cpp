// The Unicode unit against the model's definitions over every code point, and the block classes
// byte by byte.
#include <gtest/gtest.h>

#include <cstdint>

#include "test_support.h"
#include "text/block_scan.h"
#include "text/upper_case.h"
#include "text/utf8.h"
#include "text/whitespace.h"

namespace corvandel::unicode {
namespace {
using namespace corvandel::testing;

TEST(Utf8, AgreesWithTheDefinition) {
  // Every two-byte string; three and four bytes with every lead and second byte, the later bytes
  // (c, d) at the edges of the continuation range and just outside it; each after an ASCII run of
  // a length that varies, so that it falls at any offset of the eight-byte steps.
  const int later[] = {0x00, 0x7F, 0x80, 0xBF, 0xC0, 0xFF};
  for (int i = 0; i < 256 * 256 * 36; ++i) {
    const int a = i >> 8 & 0xFF, b = i & 0xFF, c = later[(i >> 16) % 6], d = later[(i >> 16) / 6];
    const std::string text =
        std::string((a ^ b ^ c) % 19, 'a') + char(a) + char(b) + char(c) + char(d);
    for (std::size_t cut = 0; cut <= 2; ++cut) {
      const std::string_view part = std::string_view(text).substr(0, text.size() - cut);
      // The model reads a text's words exactly when each of its characters decodes.
      ASSERT_EQ(is_valid_utf8(part), model_words(part).has_value())
          << ::testing::PrintToString(text);
    }
  }
}

// Every code point: whitespace exactly when in the set, by each function that asks; alone and
// behind letters, the model's upper case, a scan that says what upper-casing does, and upper-casing
// in place, where the scan allows it, that gives the same.
TEST(EveryCodePoint, WhitespaceAndUpperCase) {
  for (char32_t c = 0; c <= 0x10FFFF; c += c == 0xD7FF ? 0x801 : 1) {
    const bool space = testing::is_space(c);
    const std::string s = utf8(c);
    ASSERT_TRUE(is_whitespace(c) == space && whitespace_length(s + "x") == (space ? s.size() : 0) &&
                whitespace_run_length(s + s + "x") == (space ? 2 * s.size() : 0) &&
                trim_whitespace(s + "x" + s) == (space ? "x" : s + "x" + s) &&
                whitespace_length(std::string_view(s).substr(0, s.size() - (c >= 0x80))) ==
                    (space && c < 0x80))
        << unsigned(c);
    if (space) continue;
    for (const std::string& word : {s, "ab" + s + "z"}) {
      const std::string expected = word == s ? model_upper(c) : "AB" + model_upper(c) + "Z";
      const WordScan scan = scan_word(word + " tail");
      std::string in_place = word, appended = "|";  // appended to what was there, which is kept
      if (scan.keeps_length) upper_in_place(in_place.data(), in_place.size());
      append_upper(word, appended);
      ASSERT_TRUE(appended == "|" + expected && scan.length == word.size() &&
                  scan.changes == (expected != word) &&
                  scan.keeps_length == (expected.size() == word.size()) &&
                  (!scan.keeps_length || in_place == expected))
          << unsigned(c);
    }
  }
  EXPECT_TRUE(whitespace_run_length("  \xE2\x80") == kNotUtf8 &&
              scan_word("ab\xC3 ").length == kNotUtf8 &&
              scan_word("\xED\xA0\x80").length == kNotUtf8);
}

// 64-byte blocks of random bytes and of text cut anywhere: both byte classes against a reading
// byte by byte, and the character scans against the portable one (the SSE2 one, and the one for
// text in upper case with its short cut for text of one script).
TEST(Scanning, BlocksOfBytesAndCharacters) {
  std::uint32_t state = 777;
  const auto next = [&](std::uint32_t n) { return (state = state * 1103515245 + 12345) >> 8 & n; };
  // Two-byte sequences of one lead byte (lead, first second byte, how many): capitals, small
  // letters, C2's symbols and spaces, the last two-byte lead, and the leads C0, C1 and E0 that
  // never lead two bytes. A third of the character rounds write mostly one of them, as a list in
  // one script does, with ASCII between and now and then another sequence of the same lead or
  // another character.
  static constexpr unsigned char kScripts[][3] = {
      {0xCE, 0x91, 25}, {0xD0, 0x80, 48}, {0xC3, 0x80, 31}, {0xD4, 0xB1, 15}, {0xCE, 0xB1, 15},
      {0xC2, 0x80, 53}, {0xC0, 0x80, 64}, {0xC1, 0x80, 64}, {0xDF, 0x80, 64}, {0xE0, 0x80, 64}};
  for (int round = 0; round < 24000; ++round) {
    // Every byte value at every position in the first rounds; then random bytes, then characters.
    const unsigned char* script = round >= 4000 && round % 3 == 0 ? kScripts[round % 10] : nullptr;
    std::string text;
    while (text.size() < 80) {
      if (script && next(7) != 0) {
        const unsigned second = next(15) ? script[1] + next(255) % script[2] : 0x80 + next(63);
        text += {static_cast<char>(script[0]), static_cast<char>(second)};
        continue;
      }
      const char32_t c = script && next(15) ? U"AZ\n "[next(3)]
                         : next(3)          ? next(0x7FF)
                         : next(7)          ? next(0xFFFF)
                                            : next(0x1FFFF);
      text += round < 4      ? std::string(1, static_cast<char>(64 * round + text.size()))
              : round < 4000 ? std::string(1, static_cast<char>(next(255)))
              : c < 0xD800 || c > 0xDFFF ? utf8(c)
                                         : "";
    }
    if (round % 2 && round >= 4) text[next(63)] = static_cast<char>(next(255));
    const char* block = text.data() + (round < 4 || round % 4 == 0 ? 0 : next(15));
    ByteClasses bytes{0, 0, 0, 0};
    for (int i = 0; i < 64; ++i) {
      const auto b = static_cast<unsigned char>(block[i]);
      const std::uint64_t bit = std::uint64_t{1} << i;
      bytes.whitespace |= b == 0x20 || (b >= 0x09 && b <= 0x0D) ? bit : 0;
      bytes.non_ascii |= b >= 0x80 ? bit : 0;
      bytes.lower |= b >= 'a' && b <= 'z' ? bit : 0;
      bytes.line_feeds |= b == '\n' ? bit : 0;
    }
    ASSERT_TRUE(classify_64(block) == bytes && classify_64_portable(block) == bytes) << round;
    // The characters' masks, cross-checked: the list reading checks the first against the model.
    const BlockScan portable = scan_block_portable(block, bytes);
    ASSERT_TRUE(scan_block(block, bytes) == portable && scan_upper_block(block, bytes) == portable)
        << ::testing::PrintToString(std::string(block, 64));
  }
}

}  // namespace
}  // namespace corvandel::unicode
