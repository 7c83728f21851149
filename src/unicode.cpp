#include "unicode.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "unaligned_load.h"

namespace corvandel::unicode {
namespace {

// One upper-case mapping: with count == 1 the code point `value` away from the original, with
// count >= 2 the `count` code points at kUpperExpansions[value].
struct UpperMapping {
  std::int32_t value;
  std::uint8_t count;
};

#include "unicode_tables.inc"

using Byte = unsigned char;

constexpr std::uint64_t kHighBits = 0x8080808080808080;
constexpr std::uint64_t kEachByte = 0x0101010101010101;
constexpr std::size_t kMaxUpperBytes = 4 * kUpperMaxExpansion;

constexpr std::uint64_t kLow7 = 0x7F * kEachByte;

const Byte* bytes(const char* p) {
  return reinterpret_cast<const Byte*>(p);
}

bool is_ascii8(const Byte* p) {
  return (load8(p) & kHighBits) == 0;
}

bool is_ascii16(const Byte* p) {
  return ((load8(p) | load8(p + 8)) & kHighBits) == 0;
}

// Returns the first non-ASCII byte in [p, end), or end. Text is mostly ASCII, so whole words of
// bytes are tested at once.
const Byte* skip_ascii(const Byte* p, const Byte* end) {
  while (end - p >= 16 && is_ascii16(p)) p += 16;
  while (end - p >= 8 && is_ascii8(p)) p += 8;
  while (p != end && *p < 0x80) ++p;
  return p;
}

// --- Validation ---

// What a lead byte allows: the sequence length and the range of its second byte. The narrower
// ranges after E0, ED, F0 and F4 are what rule out overlong forms, surrogates and code points
// above U+10FFFF (Table 3-7 of the Unicode Standard). Length 0 marks bytes that never lead.
struct LeadByte {
  Byte length;
  Byte second_min;
  Byte second_max;
};

constexpr LeadByte lead_byte(unsigned b) {
  if (b >= 0xC2 && b <= 0xDF) return {2, 0x80, 0xBF};
  if (b == 0xE0) return {3, 0xA0, 0xBF};
  if (b == 0xED) return {3, 0x80, 0x9F};
  if (b >= 0xE1 && b <= 0xEF) return {3, 0x80, 0xBF};
  if (b == 0xF0) return {4, 0x90, 0xBF};
  if (b >= 0xF1 && b <= 0xF3) return {4, 0x80, 0xBF};
  if (b == 0xF4) return {4, 0x80, 0x8F};
  return {0, 0, 0};
}

constexpr std::array<LeadByte, 128> kLeadBytes = [] {
  std::array<LeadByte, 128> table{};
  for (unsigned b = 0x80; b <= 0xFF; ++b) table[b - 0x80] = lead_byte(b);
  return table;
}();

bool is_continuation(Byte b) {
  return (b & 0xC0) == 0x80;
}

// The length of the well-formed sequence at p, whose first byte is not ASCII, or 0.
[[gnu::always_inline]] inline std::size_t multibyte_length(const Byte* p, std::size_t available) {
  const LeadByte lead = kLeadBytes[p[0] - 0x80];
  if (lead.length == 0 || lead.length > available) return 0;
  if (p[1] < lead.second_min || p[1] > lead.second_max) return 0;
  for (std::size_t i = 2; i < lead.length; ++i) {
    if (!is_continuation(p[i])) return 0;
  }
  return lead.length;
}

// --- Whitespace ---

// The byte at `index`, or 0 past the end; 0 never continues a sequence, so a short text simply
// fails the comparisons.
Byte byte_at(std::string_view text, std::size_t index) {
  return index < text.size() ? static_cast<Byte>(text[index]) : 0;
}

// Non-ASCII whitespace is U+0085 and U+00A0 (C2 xx), U+1680 (E1 9A 80), U+2000..U+200A,
// U+2028, U+2029, U+202F (E2 80 xx), U+205F (E2 81 9F) and U+3000 (E3 80 80).
std::size_t multibyte_whitespace_length(std::string_view text) {
  const Byte b1 = byte_at(text, 1);
  const Byte b2 = byte_at(text, 2);
  switch (static_cast<Byte>(text[0])) {
    case 0xC2:
      return b1 == 0x85 || b1 == 0xA0 ? 2 : 0;
    case 0xE1:
      return b1 == 0x9A && b2 == 0x80 ? 3 : 0;
    case 0xE2:
      if (b1 == 0x81) return b2 == 0x9F ? 3 : 0;
      if (b1 != 0x80) return 0;
      return (b2 >= 0x80 && b2 <= 0x8A) || b2 == 0xA8 || b2 == 0xA9 || b2 == 0xAF ? 3 : 0;
    case 0xE3:
      return b1 == 0x80 && b2 == 0x80 ? 3 : 0;
    default:
      return 0;
  }
}

// The length of the whitespace character that ends `text`, or 0.
std::size_t trailing_whitespace_length(std::string_view text) {
  if (text.empty()) return 0;
  std::size_t start = text.size() - 1;
  while (start > 0 && text.size() - start < 4 && is_continuation(byte_at(text, start))) --start;
  const std::string_view last = text.substr(start);
  return whitespace_length(last) == last.size() ? last.size() : 0;
}

// --- Upper-casing ---

char upper_ascii_char(Byte b) {
  return static_cast<char>(b >= 'a' && b <= 'z' ? b - 0x20 : b);
}

// Code points are decoded without validation: the text is valid UTF-8 by contract. A byte that
// does not start a complete sequence is passed through unchanged as kNoCodePoint.
constexpr char32_t kNoCodePoint = 0xFFFFFFFF;

struct Decoded {
  char32_t code_point;
  std::size_t length;
};

[[gnu::always_inline]] inline Decoded decode_multibyte(const Byte* p, std::size_t available) {
  const Byte lead = p[0];
  const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
  if (length == 0 || length > available) return {kNoCodePoint, 1};
  char32_t code_point = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) code_point = (code_point << 6) | (p[i] & 0x3F);
  return {code_point, length};
}

std::size_t encode(char32_t c, char* out) {
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (c >> 18));
  out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

[[gnu::always_inline]] constexpr const UpperMapping& upper_mapping(char32_t c) {
  if (c > kUpperLastMapped) return kUpperMappings[0];
  const unsigned block = kUpperStage1[c >> kUpperBlockShift];
  return kUpperMappings[kUpperStage2[block * kUpperBlockSize + (c & (kUpperBlockSize - 1))]];
}

// Writes the UTF-8 upper-case form of `c` to `out` (kMaxUpperBytes long) and returns its length,
// or returns 0 when `c` is its own upper case.
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

// Appends the upper case of [p, end), which may hold anything, character by character.
void append_upper_slow(const Byte* p, const Byte* end, std::string& out) {
  while (p != end) {
    if (*p < 0x80) {
      out.push_back(upper_ascii_char(*p++));
      continue;
    }
    const Decoded decoded = decode_multibyte(p, static_cast<std::size_t>(end - p));
    char upper[kMaxUpperBytes];
    const std::size_t upper_length = encode_upper(decoded.code_point, upper);
    if (upper_length == 0) {
      out.append(reinterpret_cast<const char*>(p), decoded.length);
    } else {
      out.append(upper, upper_length);
    }
    p += decoded.length;
  }
}

constexpr std::size_t encoded_length(char32_t c) {
  return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
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

// What upper-casing does to a character.
enum CaseChange : std::uint8_t { kKeeps, kSameLength, kOtherLength };

constexpr CaseChange case_change(char32_t c) {
  const UpperMapping& mapping = upper_mapping(c);
  if (mapping.count == 0) return kKeeps;
  return upper_length(c, mapping) == encoded_length(c) ? kSameLength : kOtherLength;
}

// Case changes of the two-byte characters, U+0080 to U+07FF (Latin, Greek, Cyrillic and more),
// indexed by code point.
constexpr std::array<CaseChange, 0x800> kTwoByteCaseChanges = [] {
  std::array<CaseChange, 0x800> table{};
  for (char32_t c = 0x80; c < 0x800; ++c) table[c] = case_change(c);
  return table;
}();

// The same for each two-byte lead byte C0 to DF: bit n of its entry stands for the character
// with the second byte 0x80 + n; one set of bits for a change, one for a change of length.
constexpr std::array<std::array<std::uint64_t, 32>, 2> kTwoByteChangeBits = [] {
  std::array<std::array<std::uint64_t, 32>, 2> bits{};
  for (char32_t c = 0x80; c < 0x800; ++c) {
    bits[0][c >> 6] |= std::uint64_t{kTwoByteCaseChanges[c] != kKeeps} << (c & 0x3F);
    bits[1][c >> 6] |= std::uint64_t{kTwoByteCaseChanges[c] == kOtherLength} << (c & 0x3F);
  }
  return bits;
}();

// The longest run of characters without case change under each two-byte lead byte, as the first
// and last of their second bytes' low six bits: the capitals of a script, say, lie in one.
constexpr std::array<std::pair<Byte, Byte>, 32> kTwoByteKeptRuns = [] {
  std::array<std::pair<Byte, Byte>, 32> runs{};
  for (unsigned lead = 0; lead < 32; ++lead) {
    runs[lead] = {1, 0};  // none
    for (unsigned first = 0, n = 0; n <= 64; ++n) {
      if (n < 64 && ((kTwoByteChangeBits[0][lead] >> n) & 1) == 0) continue;
      if (n > first && n - first > unsigned(runs[lead].second + 1 - runs[lead].first)) {
        runs[lead] = {static_cast<Byte>(first), static_cast<Byte>(n - 1)};
      }
      first = n + 1;
    }
  }
  return runs;
}();

// U+4000 to U+9FFF (three-byte sequences led by E4 to E9: CJK ideographs and Yijing hexagrams)
// have no case and hold no whitespace, so words of them need only be validated.
constexpr bool no_case_between(char32_t first, char32_t last) {
  for (char32_t c = first; c <= last; ++c) {
    if (case_change(c) != kKeeps) return false;
  }
  return true;
}
static_assert(no_case_between(0x4000, 0x9FFF));

// The upper case of each two-byte character that is one two-byte character too (itself when it
// has no case), indexed by code point; 0 for the few whose upper case is longer or more than one.
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

// Upper-cases [p, end), valid UTF-8, in place; every character's upper case must have its byte
// length.
void upper_same_length(char* p, char* end) {
  while (p != end) {
    const Byte lead = static_cast<Byte>(*p);
    if (lead < 0x80) {
      *p = upper_ascii_char(lead);
      ++p;
      continue;
    }
    if (lead < 0xE0) {
      const auto c = static_cast<char16_t>(((lead & 0x1F) << 6) | (static_cast<Byte>(p[1]) & 0x3F));
      if (const char16_t upper = kTwoByteUpper[c]; upper != 0) {
        p += encode(upper, p);
        continue;
      }
    }
    const Decoded decoded = decode_multibyte(bytes(p), static_cast<std::size_t>(end - p));
    char upper[kMaxUpperBytes];
    if (encode_upper(decoded.code_point, upper) != 0) std::memcpy(p, upper, decoded.length);
    p += decoded.length;
  }
}

// The high bit of each of eight bytes that is an ASCII lower-case letter. The per-byte sums
// never carry: the low seven bits plus at most 0x7F.
std::uint64_t lower_letters8(std::uint64_t x) {
  const std::uint64_t low = x & kLow7;
  return (low + (0x80 - 'a') * kEachByte) & ~(low + (0x80 - 'z' - 1) * kEachByte) & ~x & kHighBits;
}

// The high bits of eight bytes gathered into the low eight bits, byte i to bit i.
std::uint64_t gather_high_bits(std::uint64_t marks) {
  return ((marks >> 7) * 0x0102040810204080) >> 56;
}

}  // namespace

bool is_valid_utf8(std::string_view text) {
  const Byte* p = bytes(text.data());
  const Byte* const end = p + text.size();
  while (p != end) {
    if (*p < 0x80) {
      p = skip_ascii(p, end);
      continue;
    }
    const std::size_t length = multibyte_length(p, static_cast<std::size_t>(end - p));
    if (length == 0) return false;
    p += length;
  }
  return true;
}

ByteClasses classify_64_portable(const char* p) {
  ByteClasses classes{0, 0, 0, 0};
  for (int i = 0; i < 8; ++i) {
    std::uint64_t x = load8(bytes(p) + 8 * i);
    if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap64(x);
    // Per-byte sums that never carry, as in lower_letters8().
    const std::uint64_t low = x & kLow7;
    const std::uint64_t ascii = ~x & kHighBits;
    const std::uint64_t at_least_tab = low + (0x80 - 0x09) * kEachByte;
    const std::uint64_t past_cr = low + (0x80 - 0x0E) * kEachByte;
    const std::uint64_t not_space = ((x ^ (0x20 * kEachByte)) & kLow7) + kLow7;
    const std::uint64_t whitespace = ((at_least_tab & ~past_cr) | ~not_space) & ascii;
    const int shift = 8 * i;
    classes.whitespace |= gather_high_bits(whitespace & kHighBits) << shift;
    classes.non_ascii |= gather_high_bits(x & kHighBits) << shift;
    classes.lower |= gather_high_bits(lower_letters8(x)) << shift;
    const std::uint64_t not_line_feed = ((x ^ (0x0A * kEachByte)) & kLow7) + kLow7;
    classes.line_feeds |= gather_high_bits(~not_line_feed & ascii) << shift;
  }
  return classes;
}

void upper_ascii_letters(char* p, std::size_t length) {
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i a = _mm_set1_epi8('a');
  const __m128i twenty_five = _mm_set1_epi8(25);
  const __m128i case_bit = _mm_set1_epi8(0x20);
  for (; i + 16 <= length; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const __m128i from_a = _mm_sub_epi8(v, a);
    const __m128i lower = _mm_cmpeq_epi8(_mm_min_epu8(from_a, twenty_five), from_a);
    if (_mm_movemask_epi8(lower) == 0) continue;  // most text needs no store
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i),
                     _mm_sub_epi8(v, _mm_and_si128(lower, case_bit)));
  }
#endif
  for (; i + 8 <= length; i += 8) {
    const std::uint64_t x = load8(bytes(p + i));
    const std::uint64_t lower = lower_letters8(x);
    if (lower == 0) continue;
    const std::uint64_t upper = x ^ (lower >> 2);
    std::memcpy(p + i, &upper, sizeof upper);
  }
  for (; i < length; ++i) p[i] = upper_ascii_char(static_cast<Byte>(p[i]));
}

namespace {

// The lead and continuation bytes of a block, and the bytes that decide the narrower second-byte
// ranges after E0, ED, F0 and F4 (Table 3-7 of the Unicode Standard).
struct UtfMasks {
  std::uint64_t continuation, lead2, lead3, lead4, bad, e0, ed, f0, f4, from_a0, from_90,
      space_leads;
};

UtfMasks utf_masks_portable(const char* p) {
  UtfMasks m{};
  for (int i = 0; i < 64; ++i) {
    const Byte b = bytes(p)[i];
    const std::uint64_t bit = std::uint64_t{1} << i;
    m.continuation |= b >= 0x80 && b <= 0xBF ? bit : 0;
    m.lead2 |= b >= 0xC2 && b <= 0xDF ? bit : 0;
    m.lead3 |= b >= 0xE0 && b <= 0xEF ? bit : 0;
    m.lead4 |= b >= 0xF0 && b <= 0xF4 ? bit : 0;
    m.bad |= b == 0xC0 || b == 0xC1 || b >= 0xF5 ? bit : 0;
    m.e0 |= b == 0xE0 ? bit : 0;
    m.ed |= b == 0xED ? bit : 0;
    m.f0 |= b == 0xF0 ? bit : 0;
    m.f4 |= b == 0xF4 ? bit : 0;
    m.from_a0 |= b >= 0xA0 && b <= 0xBF ? bit : 0;
    m.from_90 |= b >= 0x90 && b <= 0xBF ? bit : 0;
    m.space_leads |= b == 0xC2 || (b >= 0xE1 && b <= 0xE3) ? bit : 0;
  }
  return m;
}

UtfMasks utf_masks(const char* p, std::uint64_t non_ascii) {
#if defined(__SSE2__)
  UtfMasks m{};
  // Signed byte compares: 0x80 is -128, 0xBF is -65, 0xC0 is -64, 0xFF is -1. Compares from
  // below take ASCII bytes too: `non_ascii` leaves them out.
  const auto in = [](__m128i v, int low, int high) {
    return _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(static_cast<char>(low - 1))),
                         _mm_cmplt_epi8(v, _mm_set1_epi8(static_cast<char>(high + 1))));
  };
  const auto is = [](__m128i v, int b) {
    return _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(b)));
  };
  const auto mask = [](__m128i bits, int i) {
    return std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(bits))} << (16 * i);
  };
  // What one- and two-byte characters need, in one pass; the rest only where bytes from E0 on
  // stand, which lead longer sequences or are never UTF-8.
  std::uint64_t from_c2 = 0, from_e0 = 0;
  for (int i = 0; i < 4; ++i) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
    m.continuation |= mask(_mm_cmplt_epi8(v, _mm_set1_epi8(-64)), i);
    from_c2 |= mask(_mm_cmpgt_epi8(v, _mm_set1_epi8(-63)), i);
    from_e0 |= mask(_mm_cmpgt_epi8(v, _mm_set1_epi8(-33)), i);
    m.space_leads |= mask(is(v, 0xC2), i);
  }
  from_c2 &= non_ascii;
  from_e0 &= non_ascii;
  m.lead2 = from_c2 & ~from_e0;
  m.bad = non_ascii & ~m.continuation & ~from_c2;  // C0 and C1
  for (int i = 0; i < 4 && from_e0 != 0; ++i) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
    const std::uint64_t from_f0 = mask(_mm_cmpgt_epi8(v, _mm_set1_epi8(-17)), i);
    const std::uint64_t from_f5 = mask(_mm_cmpgt_epi8(v, _mm_set1_epi8(-12)), i);
    const std::uint64_t here = from_e0 & (std::uint64_t{0xFFFF} << (16 * i));
    m.lead3 |= here & ~from_f0;
    m.lead4 |= here & from_f0 & ~from_f5;
    m.bad |= here & from_f5;
    m.e0 |= mask(is(v, 0xE0), i);
    m.ed |= mask(is(v, 0xED), i);
    m.f0 |= mask(is(v, 0xF0), i);
    m.f4 |= mask(is(v, 0xF4), i);
    m.from_a0 |= mask(in(v, -96, -65), i);
    m.from_90 |= mask(in(v, -112, -65), i);
    m.space_leads |= mask(in(v, -31, -29), i);
  }
  return m;
#else
  (void)non_ascii;
  return utf_masks_portable(p);
#endif
}

// The two-byte characters of the block that need no look-up of their case: those led by the
// lead byte of its first (or first other) two-byte character whose second bytes lie in that
// lead's run of characters without case change. Text in one script, in upper case, is mostly
// that. Found with SSE2 where the target has it; otherwise none.
std::uint64_t kept_two_byte_characters(const char* p, std::uint64_t lead2) {
  std::uint64_t kept = 0;
#if defined(__SSE2__)
  std::uint64_t looked_at = 0;
  for (int round = 0; round < 2 && (lead2 & ~looked_at) != 0; ++round) {
    const Byte lead = bytes(p)[std::countr_zero(lead2 & ~looked_at)];
    const auto [first, last] = kTwoByteKeptRuns[lead & 0x1F];
    const __m128i lead_byte = _mm_set1_epi8(static_cast<char>(lead));
    const __m128i run_start = _mm_set1_epi8(static_cast<char>(0x80 + first));
    const __m128i run_length = _mm_set1_epi8(static_cast<char>(last - first));
    std::uint64_t same_lead = 0, in_run = 0;
    for (int i = 0; i < 4; ++i) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
      // x in [start, start + length] is x - start <= length, unsigned.
      const __m128i from_start = _mm_sub_epi8(v, run_start);
      const __m128i run = _mm_cmpeq_epi8(_mm_min_epu8(from_start, run_length), from_start);
      same_lead |=
          std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lead_byte)))}
          << (16 * i);
      in_run |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(run))} << (16 * i);
    }
    looked_at |= same_lead;
    if (first <= last) kept |= lead2 & same_lead & (in_run >> 1);
  }
#endif
  (void)p;
  return kept;
}

// Judges a block from its masks: the structure, whitespace beyond ASCII, and what upper-casing
// does to each character that is not ASCII.
BlockScan scan_masks(const char* p, const ByteClasses& classes, const UtfMasks& m) {
  const std::uint64_t leads = m.lead2 | m.lead3 | m.lead4;
  const std::uint64_t needed = (leads << 1) | ((m.lead3 | m.lead4) << 2) | (m.lead4 << 3);
  BlockScan scan{(m.continuation ^ needed) | m.bad | ((m.e0 << 1) & ~m.from_a0 & m.continuation) |
                     ((m.ed << 1) & m.from_a0) | ((m.f0 << 1) & ~m.from_90 & m.continuation) |
                     ((m.f4 << 1) & m.from_90),
                 classes.whitespace, 0, 0};
  for (std::uint64_t candidates = m.space_leads; candidates != 0; candidates &= candidates - 1) {
    const int i = std::countr_zero(candidates);
    const std::size_t length = multibyte_whitespace_length(std::string_view(p + i, 3));
    scan.whitespace |= ((std::uint64_t{1} << length) - 1) << i;
  }
  for (std::uint64_t rest = m.lead2 & ~kept_two_byte_characters(p, m.lead2); rest != 0;
       rest &= rest - 1) {
    const int i = std::countr_zero(rest);
    const unsigned lead = bytes(p)[i] & 0x1F, second = bytes(p)[i + 1] & 0x3F;
    scan.changes |= ((kTwoByteChangeBits[0][lead] >> second) & 1) << i;
    scan.resizes |= ((kTwoByteChangeBits[1][lead] >> second) & 1) << i;
  }
  for (std::uint64_t rest = m.lead3 | m.lead4; rest != 0; rest &= rest - 1) {
    const int i = std::countr_zero(rest);
    const Byte lead = bytes(p)[i];
    if (lead >= 0xE4 && lead <= 0xE9) continue;  // ideographs, without case
    const CaseChange change = case_change(decode_multibyte(bytes(p) + i, 4).code_point);
    scan.changes |= change != kKeeps ? std::uint64_t{1} << i : 0;
    scan.resizes |= change == kOtherLength ? std::uint64_t{1} << i : 0;
  }
  return scan;
}

}  // namespace

BlockScan scan_block(const char* p, const ByteClasses& classes) {
  return scan_masks(p, classes, utf_masks(p, classes.non_ascii));
}

BlockScan scan_block_portable(const char* p, const ByteClasses& classes) {
  return scan_masks(p, classes, utf_masks_portable(p));
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
    if (length == 2 && lead != 0xC2) {
      const CaseChange change = kTwoByteCaseChanges[((lead & 0x1F) << 6) | (p[1] & 0x3F)];
      scan.changes |= change != kKeeps;
      scan.keeps_length &= change != kOtherLength;
      p += 2;
      continue;
    }
    if (lead >= 0xE4 && lead <= 0xE9) {
      p += length;
      continue;
    }
    // Whitespace beyond ASCII starts with C2, E1, E2 or E3.
    if ((lead == 0xC2 || (lead >= 0xE1 && lead <= 0xE3)) &&
        multibyte_whitespace_length(std::string_view(reinterpret_cast<const char*>(p), length)) !=
            0) {
      break;
    }
    const Decoded decoded = decode_multibyte(p, length);
    const UpperMapping& mapping = upper_mapping(decoded.code_point);
    if (mapping.count != 0) {
      scan.changes = true;
      if (upper_length(decoded.code_point, mapping) != length) scan.keeps_length = false;
    }
    p += length;
  }
  scan.length = static_cast<std::size_t>(p - begin);
  return scan;
}

std::size_t whitespace_run_length(std::string_view text) {
  const Byte* const begin = bytes(text.data());
  const Byte* const end = begin + text.size();
  const Byte* p = begin;
  while (p != end) {
    if (*p < 0x80) {
      if (!is_ascii_whitespace(*p)) break;
      ++p;
      continue;
    }
    const std::size_t length = multibyte_length(p, static_cast<std::size_t>(end - p));
    if (length == 0) return kNotUtf8;
    if (multibyte_whitespace_length(std::string_view(reinterpret_cast<const char*>(p), length)) ==
        0) {
      break;
    }
    p += length;
  }
  return static_cast<std::size_t>(p - begin);
}

bool is_whitespace(char32_t c) {
  if (c < 0x80) return is_ascii_whitespace(static_cast<Byte>(c));
  switch (c) {
    case 0x0085:
    case 0x00A0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200A;
  }
}

std::size_t whitespace_length(std::string_view text) {
  if (text.empty()) return 0;
  const Byte first = static_cast<Byte>(text[0]);
  if (first < 0x80) return is_ascii_whitespace(first) ? 1 : 0;
  return multibyte_whitespace_length(text);
}

std::string_view trim_whitespace(std::string_view text) {
  while (const std::size_t length = whitespace_length(text)) text.remove_prefix(length);
  while (const std::size_t length = trailing_whitespace_length(text)) text.remove_suffix(length);
  return text;
}

void append_upper(std::string_view word, std::string& out) {
  const Byte* const begin = bytes(word.data());
  const Byte* const end = begin + word.size();
  const std::size_t ascii_length = static_cast<std::size_t>(skip_ascii(begin, end) - begin);
  const std::size_t start = out.size();
  out.append(word.data(), ascii_length);
  upper_ascii_letters(out.data() + start, ascii_length);
  append_upper_slow(begin + ascii_length, end, out);
}

void upper_in_place_keeping_length(char* word, std::size_t length) {
  upper_same_length(word, word + length);
}

}  // namespace corvandel::unicode
