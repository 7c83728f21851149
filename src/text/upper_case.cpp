// Upper-casing words from the case tables: ASCII letters by the ASCII kernels, two-byte
// characters by the table of their upper cases, every other character by its mapping.
#include "text/upper_case.h"

#include <cstring>

#include "base/bytes.h"
#include "text/case_tables.h"
#include "text/utf8.h"

namespace corvandel::unicode {
namespace {

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

}  // namespace

void append_upper(std::string_view word, std::string& out) {
  const Byte* const begin = bytes(word.data());
  const Byte* const end = begin + word.size();
  const std::size_t ascii_length = static_cast<std::size_t>(skip_ascii(begin, end) - begin);
  const std::size_t start = out.size();
  out.append(word.data(), ascii_length);
  upper_ascii_letters(out.data() + start, ascii_length);
  append_upper_slow(begin + ascii_length, end, out);
}

void upper_in_place(char* p, std::size_t length) {
  for (char* const end = p + length; p != end;) {
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

}  // namespace corvandel::unicode
