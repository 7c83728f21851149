// The case tables: a two-stage look-up of each code point's upper-case mapping in the generated
// tables, the tables of the two-byte characters derived from it at compile time, and the word
// scan, whose look-up of each character is inlined here with the tables.
#include "text/case_tables.h"

#include "text/utf8.h"
#include "text/whitespace.h"

namespace corvandel::unicode {
namespace {

// One upper-case mapping: with count == 1 the code point `value` away from the original, with
// count >= 2 the `count` code points at kUpperExpansions[value].
struct UpperMapping {
  std::int32_t value;
  std::uint8_t count;
};

#include "text/unicode_tables.inc"

static_assert(kMaxUpperBytes == 4 * kUpperMaxExpansion);

[[gnu::always_inline]] constexpr const UpperMapping& upper_mapping(char32_t c) {
  if (c > kUpperLastMapped) return kUpperMappings[0];
  const unsigned block = kUpperStage1[c >> kUpperBlockShift];
  return kUpperMappings[kUpperStage2[block * kUpperBlockSize + (c & (kUpperBlockSize - 1))]];
}

// The byte length of the upper-case form of `c` under `mapping`.
constexpr std::size_t upper_length(char32_t c, const UpperMapping& mapping) {
  if (mapping.count == 1) return encoded_length(static_cast<char32_t>(c + mapping.value));
  std::size_t length = 0;
  for (std::size_t i = 0; i < mapping.count; ++i) {
    length += encoded_length(kUpperExpansions[mapping.value + i]);
  }
  return length;
}

constexpr CaseChange change_of(char32_t c) {
  const UpperMapping& mapping = upper_mapping(c);
  if (mapping.count == 0) return kKeeps;
  return upper_length(c, mapping) == encoded_length(c) ? kSameLength : kOtherLength;
}

constexpr bool no_case_between(char32_t first, char32_t last) {
  for (char32_t c = first; c <= last; ++c) {
    if (change_of(c) != kKeeps) return false;
  }
  return true;
}
static_assert(no_case_between(0x4000, 0x9FFF) && is_caseless_lead(0xE4) && is_caseless_lead(0xE9) &&
              !is_caseless_lead(0xE3) && !is_caseless_lead(0xEA));

// Case changes of the two-byte characters, U+0080 to U+07FF (Latin, Greek, Cyrillic and more),
// indexed by code point.
constexpr std::array<CaseChange, 0x800> kTwoByteCaseChanges = [] {
  std::array<CaseChange, 0x800> table{};
  for (char32_t c = 0x80; c < 0x800; ++c) table[c] = change_of(c);
  return table;
}();

// The same for each two-byte lead byte C0 to DF, with its longest run of characters that keep
// their case.
constexpr std::array<TwoByteCase, 32> kTwoByteCases = [] {
  std::array<TwoByteCase, 32> cases{};
  for (char32_t c = 0x80; c < 0x800; ++c) {
    cases[c >> 6].changes |= std::uint64_t{kTwoByteCaseChanges[c] != kKeeps} << (c & 0x3F);
    cases[c >> 6].resizes |= std::uint64_t{kTwoByteCaseChanges[c] == kOtherLength} << (c & 0x3F);
  }
  for (TwoByteCase& lead : cases) {
    lead.kept_first = 1, lead.kept_last = 0;  // none
    for (unsigned first = 0, n = 0; n <= 64; ++n) {
      if (n < 64 && ((lead.changes >> n) & 1) == 0) continue;
      if (n > first && n - first > unsigned(lead.kept_last + 1 - lead.kept_first)) {
        lead.kept_first = static_cast<Byte>(first), lead.kept_last = static_cast<Byte>(n - 1);
      }
      first = n + 1;
    }
  }
  return cases;
}();

}  // namespace

constexpr std::array<char16_t, 0x800> kTwoByteUpper = [] {
  std::array<char16_t, 0x800> table{};
  for (char32_t c = 0x80; c < 0x800; ++c) {
    const UpperMapping& mapping = upper_mapping(c);
    if (mapping.count == 0) table[c] = static_cast<char16_t>(c);
    if (mapping.count == 1 && encoded_length(static_cast<char32_t>(c + mapping.value)) == 2) {
      table[c] = static_cast<char16_t>(c + mapping.value);
    }
  }
  return table;
}();

CaseChange case_change(char32_t c) {
  return change_of(c);
}

const TwoByteCase& two_byte_case(Byte lead) {
  return kTwoByteCases[lead & 0x1F];
}

WordScan scan_word(std::string_view text) {
  const Byte* const begin = bytes(text.data());
  const Byte* const end = begin + text.size();
  const Byte* p = begin;
  WordScan scan{0, false, true};
  while (p != end) {
    const Byte lead = *p;
    if (lead < 0x80) {
      if (is_ascii_whitespace(lead)) break;
      scan.changes |= lead >= 'a' && lead <= 'z';
      ++p;
      continue;
    }
    const std::size_t length = multibyte_length(p, static_cast<std::size_t>(end - p));
    if (length == 0) return {kNotUtf8, false, false};
    if (is_whitespace_lead(lead) &&
        whitespace_length(std::string_view(reinterpret_cast<const char*>(p), length)) != 0) {
      break;
    }
    if (length == 2) {
      const CaseChange change = kTwoByteCaseChanges[((lead & 0x1F) << 6) | (p[1] & 0x3F)];
      scan.changes |= change != kKeeps;
      scan.keeps_length &= change != kOtherLength;
    } else if (!is_caseless_lead(lead)) {
      const CaseChange change = change_of(decode_multibyte(p, length).code_point);
      scan.changes |= change != kKeeps;
      scan.keeps_length &= change != kOtherLength;
    }
    p += length;
  }
  scan.length = static_cast<std::size_t>(p - begin);
  return scan;
}

std::size_t encode_upper(char32_t c, char* out) {
  const UpperMapping& mapping = upper_mapping(c);
  if (mapping.count == 0) return 0;
  if (mapping.count == 1) return encode(static_cast<char32_t>(c + mapping.value), out);
  std::size_t length = 0;
  for (std::size_t i = 0; i < mapping.count; ++i) {
    length += encode(kUpperExpansions[mapping.value + i], out + length);
  }
  return length;
}

}  // namespace corvandel::unicode
