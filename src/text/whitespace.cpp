// Recognising the whitespace set in text: one character, a run, and trimming.
#include "text/whitespace.h"

namespace corvandel::unicode {

std::size_t whitespace_length(std::string_view text) {
  if (text.empty()) return 0;
  const Byte first = bytes(text.data())[0];
  if (first < 0x80) return is_ascii_whitespace(first) ? 1 : 0;
  if (!is_whitespace_lead(first)) return 0;
  const std::size_t length = multibyte_length(bytes(text.data()), text.size());
  if (length == 0) return 0;
  return is_whitespace(decode_multibyte(bytes(text.data()), length).code_point) ? length : 0;
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
    if (whitespace_length(std::string_view(reinterpret_cast<const char*>(p), length)) == 0) break;
    p += length;
  }
  return static_cast<std::size_t>(p - begin);
}

namespace {

// The length of the whitespace character that ends `text`, or 0.
std::size_t trailing_whitespace_length(std::string_view text) {
  if (text.empty()) return 0;
  std::size_t start = text.size() - 1;
  while (start > 0 && text.size() - start < 3 && is_continuation(bytes(text.data())[start])) {
    --start;
  }
  const std::string_view last = text.substr(start);
  return whitespace_length(last) == last.size() ? last.size() : 0;
}

}  // namespace

std::string_view trim_whitespace(std::string_view text) {
  while (const std::size_t length = whitespace_length(text)) text.remove_prefix(length);
  while (const std::size_t length = trailing_whitespace_length(text)) text.remove_suffix(length);
  return text;
}

}  // namespace corvandel::unicode
