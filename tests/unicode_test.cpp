#include "unicode.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "test_text.h"

namespace corvandel::unicode {
namespace {

using corvandel::testing::utf8;

// "U+00E9", for failure messages.
std::string name(char32_t c) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(c));
  return buffer;
}

bool is_surrogate(char32_t c) {
  return c >= 0xD800 && c <= 0xDFFF;
}

// Well-formedness by its definition: decode by the bit patterns, then reject overlong forms,
// surrogates and values above U+10FFFF. Independent of the table-driven implementation.
bool reference_is_valid(std::string_view text) {
  static constexpr char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80             ? 1
                               : (lead & 0xE0) == 0xC0 ? 2
                               : (lead & 0xF0) == 0xE0 ? 3
                               : (lead & 0xF8) == 0xF0 ? 4
                                                       : 0;
    if (length == 0 || i + length > text.size()) return false;
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      c = (c << 6) | (next & 0x3F);
    }
    if (c < kMinimum[length] || is_surrogate(c) || c > 0x10FFFF) return false;
    i += length;
  }
  return true;
}

std::string upper(std::string_view word) {
  std::string out;
  append_upper(word, out);
  return out;
}

// The text upper-cased in place as reading does, word by word, or nullopt when the scan of a word
// says that its upper case has another byte length.
std::optional<std::string> upper_in_place(std::string text) {
  for (std::size_t i = 0; i < text.size();) {
    if (const std::size_t space = whitespace_length(std::string_view(text).substr(i))) {
      i += space;
      continue;
    }
    const WordScan scan = scan_word(std::string_view(text).substr(i));
    if (!scan.keeps_length) return std::nullopt;
    if (scan.changes) upper_in_place_keeping_length(text.data() + i, scan.length);
    i += scan.length;
  }
  return text;
}

// --- UTF-8 validation ---

TEST(Utf8Validation, AcceptsEmptyAsciiAndMixedText) {
  EXPECT_TRUE(is_valid_utf8(""));
  EXPECT_TRUE(is_valid_utf8(std::string_view("\0", 1)));
  EXPECT_TRUE(is_valid_utf8("plain words\n"));
  EXPECT_TRUE(is_valid_utf8("Straße, café, Ελληνικά, 日本語, 😀 and back to ASCII"));
}

TEST(Utf8Validation, AcceptsTheEdgesOfEachEncodingLength) {
  for (char32_t c : {0x00, 0x7F, 0x80, 0x7FF, 0x800, 0xD7FF, 0xE000, 0xFFFD, 0xFFFF, 0x10000,
                     0x3FFFF, 0x40000, 0xFFFFF, 0x100000, 0x10FFFF}) {
    EXPECT_TRUE(is_valid_utf8(utf8(c))) << name(c);
  }
}

TEST(Utf8Validation, RejectsOverlongSurrogateAndTooLargeForms) {
  EXPECT_FALSE(is_valid_utf8("\xC0\x80"));          // overlong U+0000
  EXPECT_FALSE(is_valid_utf8("\xC1\xBF"));          // overlong U+007F
  EXPECT_FALSE(is_valid_utf8("\xE0\x80\x80"));      // overlong U+0000
  EXPECT_FALSE(is_valid_utf8("\xE0\x9F\xBF"));      // overlong U+07FF
  EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));      // U+D800
  EXPECT_FALSE(is_valid_utf8("\xED\xBF\xBF"));      // U+DFFF
  EXPECT_FALSE(is_valid_utf8("\xF0\x80\x80\x80"));  // overlong U+0000
  EXPECT_FALSE(is_valid_utf8("\xF0\x8F\xBF\xBF"));  // overlong U+FFFF
  EXPECT_FALSE(is_valid_utf8("\xF4\x90\x80\x80"));  // U+110000
  EXPECT_FALSE(is_valid_utf8("\xF5\x80\x80\x80"));
  EXPECT_FALSE(is_valid_utf8("\xF7\xBF\xBF\xBF"));
  EXPECT_FALSE(is_valid_utf8("\xF8\x88\x80\x80\x80"));  // old five-byte form
  EXPECT_FALSE(is_valid_utf8("\xFE"));
  EXPECT_FALSE(is_valid_utf8("\xFF"));
}

TEST(Utf8Validation, SecondByteRangesAreExact) {
  struct Case {
    const char* text;
    bool valid;
  };
  const Case cases[] = {
      {"\xC2\x80", true},          {"\xC2\x7F", false},         {"\xDF\xBF", true},
      {"\xDF\xC0", false},         {"\xE0\xA0\x80", true},      {"\xE0\x9F\x80", false},
      {"\xE0\xBF\xBF", true},      {"\xE0\xC0\x80", false},     {"\xE1\x80\x80", true},
      {"\xE1\x7F\x80", false},     {"\xEC\xBF\xBF", true},      {"\xED\x80\x80", true},
      {"\xED\x9F\xBF", true},      {"\xED\xA0\x80", false},     {"\xEE\x80\x80", true},
      {"\xEF\xBF\xBF", true},      {"\xEF\xC0\x80", false},     {"\xF0\x90\x80\x80", true},
      {"\xF0\x8F\x80\x80", false}, {"\xF0\xBF\xBF\xBF", true},  {"\xF0\xC0\x80\x80", false},
      {"\xF1\x80\x80\x80", true},  {"\xF1\x7F\x80\x80", false}, {"\xF3\xBF\xBF\xBF", true},
      {"\xF4\x80\x80\x80", true},  {"\xF4\x8F\xBF\xBF", true},  {"\xF4\x90\x80\x80", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(is_valid_utf8(c.text), c.valid) << ::testing::PrintToString(c.text);
}

TEST(Utf8Validation, LaterBytesMustBeContinuations) {
  EXPECT_FALSE(is_valid_utf8("\xE1\x80\x7F"));
  EXPECT_FALSE(is_valid_utf8("\xE1\x80\xC0"));
  EXPECT_FALSE(is_valid_utf8("\xF1\x80\x80\x7F"));
  EXPECT_FALSE(is_valid_utf8("\xF1\x80\xC0\x80"));
  EXPECT_FALSE(is_valid_utf8("\xF1\x80\x80\xC0"));
}

TEST(Utf8Validation, RejectsStrayContinuationBytes) {
  EXPECT_FALSE(is_valid_utf8("\x80"));
  EXPECT_FALSE(is_valid_utf8("\xBF"));
  EXPECT_FALSE(is_valid_utf8("a\x80z"));
  EXPECT_FALSE(is_valid_utf8("\xC3\xA9\xA9"));          // one too many after é
  EXPECT_FALSE(is_valid_utf8("\xF0\x9F\x98\x80\x80"));  // one too many after 😀
}

TEST(Utf8Validation, RejectsSequencesTruncatedByTheEndOfText) {
  for (char32_t c : {0x80, 0x7FF, 0x800, 0xFFFF, 0x10000, 0x10FFFF}) {
    const std::string full = utf8(c);
    for (std::size_t keep = 1; keep < full.size(); ++keep) {
      const std::string cut = full.substr(0, keep);
      EXPECT_FALSE(is_valid_utf8(cut)) << name(c) << " cut to " << keep;
      EXPECT_FALSE(is_valid_utf8("word " + cut)) << name(c) << " cut to " << keep;
      EXPECT_FALSE(is_valid_utf8(cut + "word")) << name(c) << " cut to " << keep;
    }
  }
}

TEST(Utf8Validation, AgreesWithTheDefinitionOnAllShortByteStrings) {
  std::string text(2, '\0');
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) {
      text[0] = static_cast<char>(a);
      text[1] = static_cast<char>(b);
      ASSERT_EQ(is_valid_utf8(text), reference_is_valid(text)) << ::testing::PrintToString(text);
    }
  }
  // Three and four bytes: every lead and second byte, with the later bytes at the edges of the
  // continuation range and just outside it.
  const int later_bytes[] = {0x00, 0x7F, 0x80, 0xBF, 0xC0, 0xFF};
  for (int a = 0xC0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) {
      for (int c : later_bytes) {
        for (int d : later_bytes) {
          const std::string four = {static_cast<char>(a), static_cast<char>(b),
                                    static_cast<char>(c), static_cast<char>(d)};
          ASSERT_EQ(is_valid_utf8(four), reference_is_valid(four))
              << ::testing::PrintToString(four);
          const std::string three = four.substr(0, 3);
          ASSERT_EQ(is_valid_utf8(three), reference_is_valid(three))
              << ::testing::PrintToString(three);
        }
      }
    }
  }
}

TEST(Utf8Validation, FindsAnInvalidByteAtAnyOffsetInLongAsciiRuns) {
  const std::string ascii(80, 'x');
  for (std::size_t at = 0; at < ascii.size(); ++at) {
    for (char bad : {'\x80', '\xC2', '\xF5', '\xFF'}) {
      std::string text = ascii;
      text[at] = bad;
      EXPECT_FALSE(is_valid_utf8(text)) << "at " << at;
    }
    // A well-formed character there must not disturb the ASCII runs around it.
    const std::string with_char = ascii.substr(0, at) + "é" + ascii.substr(at);
    EXPECT_TRUE(is_valid_utf8(with_char)) << "at " << at;
  }
}

TEST(Utf8Validation, UnalignedStartsAndEveryLength) {
  const std::string text = std::string(40, 'a') + "\xE2\x82\xAC" + std::string(40, 'b');
  for (std::size_t start = 0; start < 16; ++start) {
    for (std::size_t end = start; end <= text.size(); ++end) {
      const std::string_view slice = std::string_view(text).substr(start, end - start);
      EXPECT_EQ(is_valid_utf8(slice), reference_is_valid(slice)) << start << ".." << end;
    }
  }
}

TEST(Utf8Validation, AcceptsEveryScalarValueAndNoSurrogate) {
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    ASSERT_EQ(is_valid_utf8(utf8(c)), !is_surrogate(c)) << name(c);
  }
  EXPECT_FALSE(is_valid_utf8(utf8(0x110000)));
}

// --- Whitespace ---

const std::vector<char32_t> kWhitespace = {0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x0020, 0x0085,
                                           0x00A0, 0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
                                           0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028,
                                           0x2029, 0x202F, 0x205F, 0x3000};

TEST(Whitespace, EveryMemberIsWhitespace) {
  for (char32_t c : kWhitespace) EXPECT_TRUE(is_whitespace(c)) << name(c);
}

TEST(Whitespace, LookalikesAndNeighboursAreNot) {
  // Zero-width and format characters that other definitions of "space" include.
  for (char32_t c :
       {0x0000, 0x0008, 0x000E, 0x001C, 0x001F, 0x0021, 0x007F, 0x0084, 0x0086,  0x009F,
        0x00A1, 0x167F, 0x1681, 0x180E, 0x1FFF, 0x200B, 0x200C, 0x200D, 0x2027,  0x202A,
        0x202E, 0x2030, 0x205E, 0x2060, 0x2FFF, 0x3001, 0xFEFF, 0xFFFF, 0x10FFFF}) {
    EXPECT_FALSE(is_whitespace(c)) << name(c);
  }
}

TEST(Whitespace, TheSetHasExactlyItsMembers) {
  std::vector<char32_t> found;
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (is_whitespace(c)) found.push_back(c);
  }
  EXPECT_EQ(found, kWhitespace);
}

TEST(WhitespaceLength, MeasuresEachEncodedMember) {
  for (char32_t c : kWhitespace) {
    const std::string encoded = utf8(c);
    EXPECT_EQ(whitespace_length(encoded), encoded.size()) << name(c);
    EXPECT_EQ(whitespace_length(encoded + "word"), encoded.size()) << name(c);
    EXPECT_EQ(whitespace_length(encoded + encoded), encoded.size()) << name(c);
  }
}

TEST(WhitespaceLength, IsZeroForEmptyTextAndOtherCharacters) {
  EXPECT_EQ(whitespace_length(""), 0u);
  EXPECT_EQ(whitespace_length("word "), 0u);
  EXPECT_EQ(whitespace_length("\xE2\x80\x8B "), 0u);  // U+200B, then a space
  EXPECT_EQ(whitespace_length("\xEF\xBB\xBF"), 0u);   // U+FEFF
}

TEST(WhitespaceLength, MatchesIsWhitespaceForEveryCodePoint) {
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (is_surrogate(c)) continue;
    const std::string encoded = utf8(c) + "x";
    const std::size_t expected = is_whitespace(c) ? encoded.size() - 1 : 0;
    ASSERT_EQ(whitespace_length(encoded), expected) << name(c);
  }
}

TEST(WhitespaceLength, DoesNotReadPastACutOffCharacter) {
  const std::string ideographic_space = utf8(0x3000);
  for (std::size_t keep = 1; keep < ideographic_space.size(); ++keep) {
    EXPECT_EQ(whitespace_length(std::string_view(ideographic_space).substr(0, keep)), 0u);
  }
}

TEST(TrimWhitespace, RemovesAllKindsFromBothEnds) {
  EXPECT_EQ(trim_whitespace(" \t\r\nword\n"), "word");
  EXPECT_EQ(trim_whitespace(utf8({0x3000, 0x00A0, 'a', 0x2029, 0x205F})), "a");
  EXPECT_EQ(trim_whitespace(utf8({0x1680, 0x0085, 'x', 0x202F})), "x");
}

TEST(TrimWhitespace, KeepsInnerWhitespaceAndOtherCharacters) {
  EXPECT_EQ(trim_whitespace("  two words  "), "two words");
  EXPECT_EQ(trim_whitespace(utf8({0x200B, 'w', 0x200B})), utf8({0x200B, 'w', 0x200B}));
  EXPECT_EQ(trim_whitespace(utf8({0xFEFF, 'w'})), utf8({0xFEFF, 'w'}));
  // Characters sharing lead or trail bytes with whitespace.
  EXPECT_EQ(trim_whitespace(utf8({0x00A1, 'w', 0x00A1})), utf8({0x00A1, 'w', 0x00A1}));
  EXPECT_EQ(trim_whitespace(utf8({'w', 0x20AC})), utf8({'w', 0x20AC}));
  EXPECT_EQ(trim_whitespace(utf8({'w', 0x10080})), utf8({'w', 0x10080}));
}

TEST(TrimWhitespace, EmptyAndAllWhitespace) {
  EXPECT_EQ(trim_whitespace(""), "");
  EXPECT_EQ(trim_whitespace(" \t "), "");
  EXPECT_EQ(trim_whitespace(utf8({0x3000, 0x2000, 0x0085})), "");
}

// --- Upper-casing ---

TEST(Upper, AsciiLettersOnly) {
  EXPECT_EQ(upper("hello, World_42 [a-z]{`~}@"), "HELLO, WORLD_42 [A-Z]{`~}@");
  for (int b = 0; b < 0x80; ++b) {
    const std::string one(1, static_cast<char>(b));
    const char expected = static_cast<char>(b >= 'a' && b <= 'z' ? b - 0x20 : b);
    EXPECT_EQ(upper(one), std::string(1, expected)) << b;
    EXPECT_EQ(upper_in_place(one), std::string(1, expected)) << b;
  }
}

TEST(Upper, AsciiWordsOfEveryLength) {
  const std::string lower = "abcdefghijklmnopqrstuvwxyz{`@[0123456789abcdefghijklmnopqrstuvwxyz";
  const std::string upper_form =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZ{`@[0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  for (std::size_t length = 0; length <= lower.size(); ++length) {
    EXPECT_EQ(upper(lower.substr(0, length)), upper_form.substr(0, length));
    EXPECT_EQ(upper_in_place(lower.substr(0, length)), upper_form.substr(0, length));
  }
}

TEST(Upper, AppendsAfterExistingContent) {
  std::string out = "kept|";
  append_upper("straße", out);
  append_upper("|", out);
  EXPECT_EQ(out, "kept|STRASSE|");
}

TEST(Upper, FullMappingsThatExpand) {
  EXPECT_EQ(upper("ß"), "SS");
  EXPECT_EQ(upper("straße"), "STRASSE");
  EXPECT_EQ(upper(utf8(0x0149)), utf8({0x02BC, 0x004E}));          // ŉ
  EXPECT_EQ(upper(utf8(0xFB01)), "FI");                            // ﬁ
  EXPECT_EQ(upper(utf8(0xFB03)), "FFI");                           // ﬃ
  EXPECT_EQ(upper(utf8(0x0390)), utf8({0x0399, 0x0308, 0x0301}));  // ΐ
  EXPECT_EQ(upper(utf8(0x1F80)), utf8({0x1F08, 0x0399}));          // ᾀ
  EXPECT_EQ(upper(utf8(0x0587)), utf8({0x0535, 0x0552}));          // Armenian ech-yiwn
}

TEST(Upper, SimpleMappings) {
  EXPECT_EQ(upper("café"), "CAFÉ");
  EXPECT_EQ(upper("σς"), "ΣΣ");  // no final-sigma rule needed for upper case
  EXPECT_EQ(upper("привет"), "ПРИВЕТ");
  EXPECT_EQ(upper(utf8(0x0131)), "I");             // dotless ı
  EXPECT_EQ(upper(utf8(0x017F)), "S");             // long s
  EXPECT_EQ(upper(utf8(0x0345)), utf8(0x0399));    // combining ypogegrammeni
  EXPECT_EQ(upper(utf8(0x01C5)), utf8(0x01C4));    // title-case Dž
  EXPECT_EQ(upper(utf8(0x1E943)), utf8(0x1E921));  // Adlam, the last letter with a mapping
  for (char32_t c = 0x24D0; c <= 0x24E9; ++c) EXPECT_EQ(upper(utf8(c)), utf8(c - 0x1A));
  for (char32_t c = 0x2170; c <= 0x217F; ++c) EXPECT_EQ(upper(utf8(c)), utf8(c - 0x10));
}

TEST(Upper, NoLocaleOrContextRules) {
  EXPECT_EQ(upper("i"), "I");                                  // not the Turkish İ
  EXPECT_EQ(upper(utf8(0x0130)), utf8(0x0130));                // İ stays
  EXPECT_EQ(upper(utf8({'i', 0x0307})), utf8({'I', 0x0307}));  // no Lithuanian dot removal
}

TEST(Upper, CharactersWithoutUpperCaseStay) {
  for (const std::string& word :
       {std::string("0123456789"), utf8(0xFEFF), utf8({0x65E5, 0x672C}), utf8(0x1F600),
        utf8(0x10FFFF), utf8(0x00AA), utf8(0x02B0), std::string("\xC2\xA0"), std::string("")}) {
    EXPECT_EQ(upper(word), word);
    EXPECT_EQ(upper_in_place(word), word);
  }
}

// Case pairs first encoded in Unicode 16.0, and some that only came with 17.0.
TEST(Upper, FollowsUnicode16) {
  EXPECT_EQ(upper(utf8(0x019B)), utf8(0xA7DC));  // ƛ, new capital in 16.0
  EXPECT_EQ(upper(utf8(0x0264)), utf8(0xA7CB));  // ɤ, new capital in 16.0
  EXPECT_EQ(upper(utf8(0xA7CD)), utf8(0xA7CC));
  EXPECT_EQ(upper(utf8(0xA7DB)), utf8(0xA7DA));
  EXPECT_EQ(upper(utf8(0x1C8A)), utf8(0x1C89));  // Cyrillic tje
  for (char32_t c = 0x10D70; c <= 0x10D85; ++c) EXPECT_EQ(upper(utf8(c)), utf8(c - 0x20));  // Garay
  for (char32_t c : {0xA7CF, 0xA7D3, 0xA7D5, 0x16EBB, 0x16ED3}) {
    EXPECT_EQ(upper(utf8(c)), utf8(c)) << name(c);
  }
}

TEST(UpperInPlace, UpperCasesWhenTheLengthStays) {
  EXPECT_EQ(upper_in_place("café"), "CAFÉ");
  EXPECT_EQ(upper_in_place("straße"), "STRASSE");  // ß and SS are both two bytes
  EXPECT_EQ(upper_in_place("ǆemal"), utf8(0x01C4) + "EMAL");
  EXPECT_EQ(upper_in_place(utf8(0x24D0)), utf8(0x24B6));
  EXPECT_EQ(upper_in_place(utf8(0x10D70)), utf8(0x10D50));
  EXPECT_EQ(upper_in_place("long ascii prefix then ё"), "LONG ASCII PREFIX THEN Ё");
}

TEST(UpperInPlace, RefusesWhenTheLengthChanges) {
  EXPECT_EQ(upper_in_place(utf8(0x0131)), std::nullopt);  // 2 bytes to 1
  EXPECT_EQ(upper_in_place(utf8(0x017F)), std::nullopt);  // 2 bytes to 1
  EXPECT_EQ(upper_in_place(utf8(0x0149)), std::nullopt);  // 2 bytes to 3
  EXPECT_EQ(upper_in_place(utf8(0xFB01)), std::nullopt);  // 3 bytes to 2
  EXPECT_EQ(upper_in_place(utf8(0x019B)), std::nullopt);  // 2 bytes to 3
  EXPECT_EQ(upper_in_place(utf8(0x2C65)), std::nullopt);  // 3 bytes to 2
  EXPECT_EQ(upper_in_place("abc" + utf8(0x0390) + "def"), std::nullopt);
}

// For every code point, the scan of a word says what upper-casing it does, and upper-casing in
// place where the scan allows it gives the upper case.
TEST(Scanning, KnowsWhatUpperCasingDoesToEveryCodePoint) {
  for (char32_t c = 0x80; c <= 0x10FFFF; ++c) {
    if (is_surrogate(c)) continue;
    const std::string word = "AB" + utf8(c);
    const WordScan scan = scan_word(word);
    if (is_whitespace(c)) {
      ASSERT_EQ(scan.length, 2u) << name(c);
      continue;
    }
    const std::string upper_word = upper(word);
    ASSERT_EQ(scan.length, word.size()) << name(c);
    ASSERT_EQ(scan.changes, upper_word != word) << name(c);
    ASSERT_EQ(scan.keeps_length, upper_word.size() == word.size()) << name(c);
    if (scan.keeps_length) {
      std::string in_place = "ab" + utf8(c);
      upper_in_place_keeping_length(in_place.data(), in_place.size());
      ASSERT_EQ(in_place, upper_word) << name(c);
    }
  }
}

// Every code point, alone and behind ASCII: both functions agree, produce valid UTF-8, and
// upper-casing the result again changes nothing.
TEST(Upper, ConsistentForEveryCodePoint) {
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (is_surrogate(c)) continue;
    for (const std::string& word : {utf8(c), "ab" + utf8(c) + "z"}) {
      const std::string appended = upper(word);
      ASSERT_TRUE(is_valid_utf8(appended)) << name(c);
      ASSERT_EQ(upper(appended), appended) << name(c);
      const std::optional<std::string> in_place = upper_in_place(word);
      if (appended.size() == word.size()) {
        ASSERT_EQ(in_place, appended) << name(c);
      } else {
        ASSERT_EQ(in_place, std::nullopt) << name(c);
      }
    }
  }
}

// Byte classes of 64-byte blocks, both implementations, and upper-casing of ASCII letters,
// against a byte-by-byte reading.
TEST(Scanning, ClassifiesAndUpperCasesEveryByte) {
  std::vector<unsigned char> bytes(256);
  for (unsigned b = 0; b < 256; ++b) bytes[b] = static_cast<unsigned char>(b);
  std::uint32_t state = 12345;
  for (int round = 0; round < 200; ++round) {
    char block[64];
    for (int i = 0; i < 64; ++i) {
      // Every byte value appears at every position over the rounds; the rest are random.
      state = state * 1103515245 + 12345;
      block[i] = static_cast<char>(round < 4 ? bytes[(64 * round + i) % 256] : state >> 24);
    }
    std::uint64_t whitespace = 0, non_ascii = 0, lower = 0;
    std::string upper(block, 64);
    for (int i = 0; i < 64; ++i) {
      const auto b = static_cast<unsigned char>(block[i]);
      const std::uint64_t bit = std::uint64_t{1} << i;
      if (b == 0x20 || (b >= 0x09 && b <= 0x0D)) whitespace |= bit;
      if (b >= 0x80) non_ascii |= bit;
      if (b >= 'a' && b <= 'z') {
        lower |= bit;
        upper[i] = static_cast<char>(b - 0x20);
      }
    }
    for (const ByteClasses& classes : {classify_64(block), classify_64_portable(block)}) {
      ASSERT_EQ(classes.whitespace, whitespace) << "round " << round;
      ASSERT_EQ(classes.non_ascii, non_ascii) << "round " << round;
      ASSERT_EQ(classes.lower, lower) << "round " << round;
    }
    // Every length and alignment of the same bytes.
    for (std::size_t from = 0; from < 64; from += 7) {
      for (std::size_t length = 0; from + length <= 64; length += 5) {
        std::string copy(block, 64);
        upper_ascii_letters(copy.data() + from, length);
        ASSERT_EQ(copy, std::string(block, from) + upper.substr(from, length) +
                            std::string(block + from + length, 64 - from - length))
            << "round " << round << " from " << from << " length " << length;
      }
    }
  }
}

TEST(Scanning, WordAndWhitespaceRuns) {
  auto length = [](std::string_view text) { return scan_word(text).length; };
  EXPECT_EQ(length("abc def"), 3u);
  EXPECT_EQ(length("a\xC3\xA9\xE2\x80\x8B\xC2\xA0"
                   "b"),
            6u);  // stops at U+00A0
  EXPECT_EQ(length("\xEF\xBB\xBF"
                   "x\xE3\x80\x80"),
            4u);  // stops at U+3000
  EXPECT_EQ(length(std::string_view("a\0b\x1F\x7F", 5)), 5u);
  EXPECT_EQ(length("ab"), 2u);
  EXPECT_EQ(length("ab\xC3"), kNotUtf8);
  EXPECT_EQ(length("ab\xC3 "), kNotUtf8);
  EXPECT_EQ(length("\xED\xA0\x80"), kNotUtf8);
  // What upper-casing the word takes.
  const auto changes = [](std::string_view text) {
    const WordScan scan = scan_word(text);
    return std::pair(scan.changes, scan.keeps_length);
  };
  EXPECT_EQ(changes("ABC\xC3\x89\xE4\xB8\x80 x"), std::pair(false, true));
  EXPECT_EQ(changes("ABc"), std::pair(true, true));
  EXPECT_EQ(changes("A\xC3\xA9"), std::pair(true, true));   // é
  EXPECT_EQ(changes("A\xC3\x9F"), std::pair(true, true));   // ß to SS
  EXPECT_EQ(changes("A\xC4\xB1"), std::pair(true, false));  // ı to I
  EXPECT_EQ(changes("\xC5\x89"), std::pair(true, false));   // ŉ to ʼN
  EXPECT_EQ(whitespace_run_length(" \t\xC2\x85\xE2\x80\xA8\xE2\x81\x9F"
                                  "x "),
            10u);
  EXPECT_EQ(whitespace_run_length("\xE2\x80\x8B "), 0u);  // zero-width space is no whitespace
  EXPECT_EQ(whitespace_run_length("  \xE2\x80"), kNotUtf8);
  EXPECT_EQ(whitespace_run_length(""), 0u);
}

}  // namespace
}  // namespace corvandel::unicode
