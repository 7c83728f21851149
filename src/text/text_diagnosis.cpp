// Locating the first flaw of text that is not UTF-8, naming it, and guessing where it came from
// from the bytes of the whole text.
#include "text/text_diagnosis.h"

#include <algorithm>
#include <cstdio>

#include "base/bytes.h"
#include "text/utf8.h"

namespace corvandel::unicode {
namespace {

// How much of the start of a text is looked at for the NUL bytes of UTF-16.
constexpr std::size_t kUtf16Sample = 4096;

constexpr std::string_view kUtf16 = "It seems to be saved as UTF-16 ('Unicode' in Notepad)";

// The characters of Windows-1252 at 0x80 to 0x9F (0 where it has none); from 0xA0 on, it and
// Latin-1 agree with the code points.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char32_t windows_1252(Byte b) {
  return b >= 0xA0 ? b : kWindows1252High[b - 0x80];
}

// The bytes shown for the flaw at `p`: its first byte and those after it that continue the
// sequence that this byte's high bits begin.
std::size_t shown_length(const Byte* p, const Byte* end) {
  const Byte b = p[0];
  const std::size_t expected = b < 0xC0 || b >= 0xF8 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
  std::size_t length = 1;
  while (length < expected && p + length != end && is_continuation(p[length])) ++length;
  return length;
}

// The kinds of ill-formed sequence, and how a report names them.
enum class Kind {
  mark_le,
  mark_be,
  stray,
  never_used,
  overlong,
  surrogate,
  above_last,
  cut_off,
  unended
};

std::string_view name_of(Kind kind) {
  switch (kind) {
    case Kind::mark_le:
      return "the byte-order mark of UTF-16 (little-endian)";
    case Kind::mark_be:
      return "the byte-order mark of UTF-16 (big-endian)";
    case Kind::stray:
      return "a byte that continues a character where none began";
    case Kind::never_used:
      return "a byte that UTF-8 never uses";
    case Kind::overlong:
      return "an overlong form, which UTF-8 does not allow";
    case Kind::surrogate:
      return "a UTF-16 surrogate, which UTF-8 does not allow";
    case Kind::above_last:
      return "a code above U+10FFFF, the last of Unicode";
    case Kind::cut_off:
      return "a character cut off by the end of the file";
    case Kind::unended:
      break;
  }
  return "the start of a character without the bytes that end it";
}

// What the ill-formed sequence at `p`, the text's `offset`th byte, is.
Kind kind_at(const Byte* p, const Byte* end, std::size_t offset) {
  const Byte b = p[0];
  if (offset == 0 && end - p >= 2 && b >= 0xFE && (b ^ p[1]) == 0x01) {
    return b == 0xFF ? Kind::mark_le : Kind::mark_be;  // FF FE, FE FF
  }
  if (is_continuation(b)) return Kind::stray;
  if (b >= 0xF8) return Kind::never_used;
  if (b <= 0xC1) return Kind::overlong;
  if (b >= 0xF5) return Kind::above_last;
  const LeadByte lead = lead_byte(b);
  for (std::size_t i = 1; i < lead.length; ++i) {
    if (p + i == end) return Kind::cut_off;
    if (!is_continuation(p[i])) return Kind::unended;
    if (i == 1 && (p[1] < lead.second_min || p[1] > lead.second_max)) {
      return b == 0xED ? Kind::surrogate : b == 0xF4 ? Kind::above_last : Kind::overlong;
    }
  }
  return Kind::unended;  // not reached: the sequence is ill-formed
}

bool has_multibyte_character(const Byte* p, const Byte* end) {
  for (; p != end; ++p) {
    if (*p >= 0x80 && multibyte_length(p, static_cast<std::size_t>(end - p)) != 0) return true;
  }
  return false;
}

std::string hex(const Byte* p, std::size_t length) {
  std::string text;
  for (std::size_t i = 0; i < length; ++i) {
    char digits[4];
    std::snprintf(digits, sizeof digits, i == 0 ? "%02X" : " %02X", p[i]);
    text += digits;
  }
  return text;
}

// The likely cause of a flaw of `kind` at `p`, `shown` bytes long, from the whole text: the
// mark or the NUL bytes of UTF-16, a lone byte in text with no character beyond ASCII, which an
// ANSI code page gives, or the text's end.
void guess_cause(const Byte* begin, const Byte* p, const Byte* end, Kind kind, std::size_t shown,
                 TextFlaw& flaw) {
  const std::size_t sample = std::min(static_cast<std::size_t>(end - begin), kUtf16Sample);
  const std::size_t nuls = static_cast<std::size_t>(std::count(begin, begin + sample, Byte{0}));
  if (kind == Kind::mark_le || kind == Kind::mark_be) {
    flaw.cause = std::string(kUtf16) + ".";
  } else if (nuls * 4 >= sample) {
    flaw.cause = std::string(kUtf16) + ": NUL bytes stand between its letters.";
  } else if (shown == 1 && windows_1252(*p) != 0 && !has_multibyte_character(begin, end)) {
    char character[4];
    const std::string_view as_ansi(character, encode(windows_1252(*p), character));
    flaw.cause = "It seems to be saved in an ANSI code page (Windows-1252, Latin-1), in which " +
                 flaw.bytes + " is \"" + std::string(as_ansi) + "\".";
  } else {
    if (kind == Kind::cut_off) flaw.cause = "It seems to be cut off: it ends inside a character.";
    return;
  }
  flaw.other_encoding = true;
}

}  // namespace

std::optional<TextFlaw> find_text_flaw(std::string_view text) {
  const std::size_t offset = first_ill_formed(text);
  if (offset == std::string_view::npos) return std::nullopt;
  const Byte* const begin = bytes(text.data());
  const Byte* const end = begin + text.size();
  const Byte* const p = begin + offset;
  TextFlaw flaw;
  flaw.offset = offset;
  const std::size_t line_start = text.rfind('\n', offset) + 1;  // 0 when there is no LF before
  flaw.line += static_cast<std::size_t>(std::count(begin, p, Byte{'\n'}));
  flaw.column += static_cast<std::size_t>(
      std::count_if(begin + line_start, p, [](Byte b) { return !is_continuation(b); }));
  const Kind kind = kind_at(p, end, offset);
  const bool mark = kind == Kind::mark_le || kind == Kind::mark_be;
  const std::size_t shown = mark ? 2 : shown_length(p, end);
  flaw.bytes = hex(p, shown);
  flaw.what = name_of(kind);
  guess_cause(begin, p, end, kind, shown, flaw);
  return flaw;
}

}  // namespace corvandel::unicode
