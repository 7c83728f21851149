// The tests' own model of the list format: it validates, splits, upper-cases, sorts and merges
// with the standard library and the Unicode data in tests/data (written from the Unicode
// Character Database by tools/gen-unicode-tables.sh), never with the program's code, so that the
// two can disagree. Header-only, so that the fuzz targets need nothing else.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace corvandel::testing {

/// Encodes any value up to 0x1FFFFF the plain way, surrogates included.
inline std::string utf8(char32_t c) {
  if (c < 0x80) return std::string(1, static_cast<char>(c));
  const std::size_t length = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
  std::string out(length, '\0');
  for (std::size_t i = length - 1; i > 0; --i, c >>= 6)
    out[i] = static_cast<char>(0x80 | (c & 0x3F));
  out[0] = static_cast<char>((0xF0 << (4 - length)) | c);
  return out;
}

/// The Unicode data of the model: the full upper case of each code point that has another, and
/// the White_Space characters, the separators of the list format.
struct ModelData {
  std::map<char32_t, std::u32string> upper;
  std::vector<char32_t> whitespace;
};

inline const ModelData& model_data() {
  static const ModelData data = [] {
    ModelData read;
    for (const char* name : {"upper_case.txt", "white_space.txt"}) {
      std::ifstream in(std::string(CORVANDEL_TEST_DATA) + "/" + name);
      if (!in) std::fprintf(stderr, "the model's data %s is missing\n", name), std::abort();
      // Each line that is not a comment: code points in hexadecimal.
      for (std::string line, field; std::getline(in, line);) {
        std::u32string c;
        for (std::istringstream fields(line); line[0] != '#' && fields >> field;)
          c += static_cast<char32_t>(std::stoul(field, nullptr, 16));
        if (c.empty()) continue;
        name[0] == 'u' ? void(read.upper[c[0]] = c.substr(1)) : read.whitespace.push_back(c[0]);
      }
    }
    return read;
  }();
  return data;
}

inline bool is_space(char32_t c) {
  const std::vector<char32_t>& set = model_data().whitespace;
  return std::find(set.begin(), set.end(), c) != set.end();
}

/// The code point that starts `text` and its byte length; nothing when not well-formed.
inline std::optional<char32_t> decode(std::string_view text, std::size_t& length) {
  static constexpr char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
  const auto lead = static_cast<unsigned char>(text[0]);
  length = lead < 0x80 ? 1 : lead >> 5 == 6 ? 2 : lead >> 4 == 14 ? 3 : lead >> 3 == 30 ? 4 : 0;
  if (length == 0 || length > text.size()) return std::nullopt;
  char32_t c = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if (static_cast<unsigned char>(text[i]) >> 6 != 2) return std::nullopt;
    c = (c << 6) | (text[i] & 0x3F);
  }
  if (c < kMinimum[length] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return std::nullopt;
  return c;
}

/// The upper case of the code point `c`, in UTF-8.
inline std::string model_upper(char32_t c) {
  const auto mapped = model_data().upper.find(c);
  if (mapped == model_data().upper.end()) return utf8(c);
  std::string out;
  for (char32_t u : mapped->second) out += utf8(u);
  return out;
}

/// The words of a list file, upper-cased; nothing when the text is not UTF-8.
inline std::optional<std::vector<std::string>> model_words(std::string_view text) {
  std::vector<std::string> words(1);
  for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
    const std::optional<char32_t> c = decode(text.substr(i), length);
    if (!c) return std::nullopt;
    if (is_space(*c) && !words.back().empty()) words.emplace_back();
    if (!is_space(*c)) words.back() += model_upper(*c);
  }
  if (words.back().empty()) words.pop_back();
  return words;
}

/// The list written from the words of the UTF-8 `texts`: distinct, byte-wise ascending, LF-joined.
inline std::string model_list(const std::vector<std::string_view>& texts) {
  std::set<std::string> set;
  for (std::string_view text : texts) {
    if (const auto words = model_words(text)) set.insert(words->begin(), words->end());
  }
  std::string out;
  for (const std::string& word : set) out += (out.empty() ? "" : "\n") + word;
  return out;
}

/// Whether `text` is a list as the program writes it: what the model writes from it, and not empty.
inline bool in_written_form(std::string_view text) {
  return !text.empty() && model_list({text}) == text;
}

}  // namespace corvandel::testing
