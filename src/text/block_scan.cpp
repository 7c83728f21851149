// The block scan's kernels: the portable ones first, then, where the target has SSE2, the SSE2
// ones beside them; `kernels` names the set in use. Intrinsics are included here and, for the
// ASCII upper-casing kernel, in ascii_case.cpp; nowhere else.
#include "text/block_scan.h"

#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/bytes.h"
#include "text/case_tables.h"
#include "text/utf8.h"
#include "text/whitespace.h"

namespace corvandel::unicode {
namespace {

constexpr std::uint64_t kLow7 = 0x7F * kEachByte;

// The lead and continuation bytes of a block, the bytes that decide the narrower second-byte
// ranges after E0, ED, F0 and F4 (Table 3-7 of the Unicode Standard), and the lead bytes of
// whitespace beyond ASCII.
struct UtfMasks {
  std::uint64_t continuation, lead2, lead3, lead4, bad, e0, ed, f0, f4, from_a0, from_90,
      space_leads;
};

// The masks of one two-byte lead in a block: the bytes equal to it, and those in its run of second
// bytes that keep their case. `lead` is 0 where the block's first byte beyond ASCII is no such
// lead, or where the kernel does not find these masks.
struct LeadMasks {
  Byte lead = 0;
  std::uint64_t same_lead = 0, in_run = 0;
};

namespace portable {

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

ByteClasses classify_64(const char* p) {
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

UtfMasks utf_masks(const char* p, std::uint64_t) {
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
    m.space_leads |= is_whitespace_lead(b) ? bit : 0;
  }
  return m;
}

// The two-byte characters that need no look-up of their case, and the masks of a block's first
// lead that find them: none found without SSE2.
[[maybe_unused]] LeadMasks first_lead(const char*, std::uint64_t) {
  return LeadMasks{};
}
std::uint64_t kept_two_byte_characters(const char*, std::uint64_t, const LeadMasks&) {
  return 0;
}

}  // namespace portable

#if defined(__SSE2__)
namespace sse2 {

__m128i load16(const char* p, int i) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
}

// The bytes that `bits` marks in the i-th 16 bytes of a block, as bits of the block's mask.
std::uint64_t mask(__m128i bits, int i) {
  return std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(bits))} << (16 * i);
}

// The bytes of `v` from `low` to `low + span`: x - low <= span, unsigned.
__m128i in_range(__m128i v, Byte low, Byte span) {
  const __m128i from_low = _mm_sub_epi8(v, _mm_set1_epi8(static_cast<char>(low)));
  return _mm_cmpeq_epi8(_mm_min_epu8(from_low, _mm_set1_epi8(static_cast<char>(span))), from_low);
}

// The bytes of `v` equal to `b`; and, among the bytes from 0x80 on, those from `b` (at least
// 0x81) on, by a signed compare that takes ASCII bytes too.
__m128i equal(__m128i v, Byte b) {
  return _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(b)));
}
__m128i non_ascii_from(__m128i v, Byte b) {
  return _mm_cmpgt_epi8(v, _mm_set1_epi8(static_cast<char>(b - 1)));
}

ByteClasses classify_64(const char* p) {
  ByteClasses classes{0, 0, 0, 0};
  for (int i = 0; i < 4; ++i) {
    const __m128i v = load16(p, i);
    classes.whitespace |= mask(_mm_or_si128(in_range(v, 0x09, 4), equal(v, 0x20)), i);
    classes.non_ascii |= mask(v, i);
    classes.lower |= mask(in_range(v, 'a', 25), i);
    classes.line_feeds |= mask(equal(v, 0x0A), i);
  }
  return classes;
}

[[gnu::always_inline]] inline UtfMasks utf_masks(const char* p, std::uint64_t non_ascii) {
  UtfMasks m{};
  // What one- and two-byte characters need, in one pass; the rest only where bytes from E0 on
  // stand, which lead longer sequences or are never UTF-8.
  std::uint64_t from_c2 = 0, from_e0 = 0;
  for (int i = 0; i < 4; ++i) {
    const __m128i v = load16(p, i);
    m.continuation |= mask(in_range(v, 0x80, 0x3F), i);
    from_c2 |= mask(non_ascii_from(v, 0xC2), i);
    from_e0 |= mask(non_ascii_from(v, 0xE0), i);
    m.space_leads |= mask(equal(v, kWhitespaceLeads[0]), i);
  }
  from_c2 &= non_ascii;
  from_e0 &= non_ascii;
  m.lead2 = from_c2 & ~from_e0;
  m.bad = non_ascii & ~m.continuation & ~from_c2;  // C0 and C1
  for (int i = 0; i < 4 && from_e0 != 0; ++i) {
    const __m128i v = load16(p, i);
    const std::uint64_t from_f0 = mask(non_ascii_from(v, 0xF0), i);
    const std::uint64_t from_f5 = mask(non_ascii_from(v, 0xF5), i);
    const std::uint64_t here = from_e0 & (std::uint64_t{0xFFFF} << (16 * i));
    m.lead3 |= here & ~from_f0;
    m.lead4 |= here & from_f0 & ~from_f5;
    m.bad |= here & from_f5;
    m.e0 |= mask(equal(v, 0xE0), i);
    m.ed |= mask(equal(v, 0xED), i);
    m.f0 |= mask(equal(v, 0xF0), i);
    m.f4 |= mask(equal(v, 0xF4), i);
    m.from_a0 |= mask(in_range(v, 0xA0, 0x1F), i);
    m.from_90 |= mask(in_range(v, 0x90, 0x2F), i);
    m.space_leads |=
        mask(in_range(v, kWhitespaceLeads[1], kWhitespaceLeads[3] - kWhitespaceLeads[1]), i);
  }
  return m;
}

// The bytes of the block equal to `lead`, a two-byte lead, and those in its kept run.
[[gnu::always_inline]] inline LeadMasks lead_masks(const char* p, Byte lead) {
  const TwoByteCase& kind = two_byte_case(lead);
  LeadMasks masks{lead, 0, 0};
  for (int i = 0; i < 4; ++i) {
    const __m128i v = load16(p, i);
    masks.same_lead |= mask(equal(v, lead), i);
    masks.in_run |= mask(in_range(v, 0x80 + kind.kept_first, kind.kept_last - kind.kept_first), i);
  }
  return masks;
}

[[gnu::always_inline]] inline LeadMasks first_lead(const char* p, std::uint64_t non_ascii) {
  const Byte lead = bytes(p)[std::countr_zero(non_ascii)];
  return lead >= 0xC2 && lead <= 0xDF ? lead_masks(p, lead) : LeadMasks{};
}

// The two-byte characters of the block that need no look-up of their case: those led by the
// lead byte of its first (or first other) two-byte character whose second bytes lie in that
// lead's run of characters that keep their case. Text in one script, in upper case, is mostly
// that. The masks of the block's first lead are already at hand.
[[gnu::always_inline]] inline std::uint64_t kept_two_byte_characters(const char* p,
                                                                     std::uint64_t lead2,
                                                                     const LeadMasks& first) {
  std::uint64_t kept = 0, looked_at = 0;
  for (int round = 0; round < 2 && (lead2 & ~looked_at) != 0; ++round) {
    const Byte lead = bytes(p)[std::countr_zero(lead2 & ~looked_at)];
    const LeadMasks masks = lead == first.lead ? first : lead_masks(p, lead);
    looked_at |= masks.same_lead;
    const TwoByteCase& kind = two_byte_case(lead);
    if (kind.kept_first <= kind.kept_last) kept |= lead2 & masks.same_lead & (masks.in_run >> 1);
  }
  return kept;
}

}  // namespace sse2
namespace kernels = sse2;
#else
namespace kernels = portable;
#endif

// Whether every byte of the block beyond ASCII is part of a two-byte character led by its first
// lead byte, whose second byte lies in that lead's run of characters that keep their case: text
// in one script, in upper case, as a list in written form mostly is. Such a block is well-formed,
// has no whitespace beyond ASCII and no character whose case changes, so its scan is its ASCII
// whitespace alone. A lead at the block's end, whose character the block cuts off, or one that
// may start whitespace (C2: U+0085, U+00A0) leaves the block to the whole scan.
bool within_one_kept_run(const LeadMasks& first, std::uint64_t non_ascii) {
  if (first.lead == 0 || first.lead == kWhitespaceLeads[0]) return false;
  const TwoByteCase& kind = two_byte_case(first.lead);
  const std::uint64_t seconds = first.same_lead << 1;
  return kind.kept_first <= kind.kept_last && (first.same_lead >> 63) == 0 &&
         (first.same_lead | seconds) == non_ascii && (first.in_run & seconds) == seconds;
}

// Judges a block from its masks: the structure, whitespace beyond ASCII, and what upper-casing
// does to each character that is not ASCII.
BlockScan scan_masks(const char* p, const ByteClasses& classes, const UtfMasks& m,
                     std::uint64_t kept) {
  const std::uint64_t leads = m.lead2 | m.lead3 | m.lead4;
  const std::uint64_t needed = (leads << 1) | ((m.lead3 | m.lead4) << 2) | (m.lead4 << 3);
  BlockScan scan{(m.continuation ^ needed) | m.bad | ((m.e0 << 1) & ~m.from_a0 & m.continuation) |
                     ((m.ed << 1) & m.from_a0) | ((m.f0 << 1) & ~m.from_90 & m.continuation) |
                     ((m.f4 << 1) & m.from_90),
                 classes.whitespace, 0, 0};
  for (std::uint64_t candidates = m.space_leads; candidates != 0; candidates &= candidates - 1) {
    const int i = std::countr_zero(candidates);
    const std::size_t length = whitespace_length(std::string_view(p + i, 3));
    scan.whitespace |= ((std::uint64_t{1} << length) - 1) << i;
  }
  for (std::uint64_t rest = m.lead2 & ~kept; rest != 0; rest &= rest - 1) {
    const int i = std::countr_zero(rest);
    const TwoByteCase& kind = two_byte_case(bytes(p)[i]);
    const unsigned second = bytes(p)[i + 1] & 0x3F;
    scan.changes |= ((kind.changes >> second) & 1) << i;
    scan.resizes |= ((kind.resizes >> second) & 1) << i;
  }
  for (std::uint64_t rest = m.lead3 | m.lead4; rest != 0; rest &= rest - 1) {
    const int i = std::countr_zero(rest);
    if (is_caseless_lead(bytes(p)[i])) continue;
    const CaseChange change = case_change(decode_multibyte(bytes(p) + i, 4).code_point);
    scan.changes |= change != kKeeps ? std::uint64_t{1} << i : 0;
    scan.resizes |= change == kOtherLength ? std::uint64_t{1} << i : 0;
  }
  return scan;
}

}  // namespace

ByteClasses classify_64(const char* p) {
  return kernels::classify_64(p);
}

ByteClasses classify_64_portable(const char* p) {
  return portable::classify_64(p);
}

BlockScan scan_block(const char* p, const ByteClasses& classes) {
  const UtfMasks m = kernels::utf_masks(p, classes.non_ascii);
  return scan_masks(p, classes, m, kernels::kept_two_byte_characters(p, m.lead2, LeadMasks{}));
}

BlockScan scan_upper_block(const char* p, const ByteClasses& classes) {
  const LeadMasks first = kernels::first_lead(p, classes.non_ascii);
  if (within_one_kept_run(first, classes.non_ascii)) return {0, classes.whitespace, 0, 0};
  const UtfMasks m = kernels::utf_masks(p, classes.non_ascii);
  return scan_masks(p, classes, m, kernels::kept_two_byte_characters(p, m.lead2, first));
}

BlockScan scan_block_portable(const char* p, const ByteClasses& classes) {
  const UtfMasks m = portable::utf_masks(p, classes.non_ascii);
  return scan_masks(p, classes, m, portable::kept_two_byte_characters(p, m.lead2, LeadMasks{}));
}

}  // namespace corvandel::unicode
