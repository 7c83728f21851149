// Helpers for tests that build list text and collect list output in memory.
#pragma once

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "platform.h"
#include "word_list.h"

namespace corvandel::testing {

/// Encodes any value up to 0x1FFFFF the plain way, surrogates included, so that tests can build
/// ill-formed text too.
inline std::string utf8(char32_t c) {
  std::string out;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

inline std::string utf8(std::initializer_list<char32_t> code_points) {
  std::string out;
  for (char32_t c : code_points) out += utf8(c);
  return out;
}

/// `text` as the platform hands over a file's content.
inline FileData file_data(std::string_view text) {
  FileData data{std::make_unique<char[]>(text.size() + 1), text.size()};
  if (!text.empty()) std::memcpy(data.data(), text.data(), text.size());
  return data;
}

/// The words of `list`, in its current order.
inline std::vector<std::string_view> list_words(const WordList& list) {
  std::vector<std::string_view> views;
  if (list.written_form()) {
    std::string_view rest =
        list.text().substr(list.written_begin(), list.written_end() - list.written_begin());
    for (std::size_t i = 0; i < list.size(); ++i) {
      const std::size_t lf = std::min(rest.find('\n'), rest.size());
      views.push_back(rest.substr(0, lf));
      rest.remove_prefix(std::min(lf + 1, rest.size()));
    }
    return views;
  }
  for (WordRef ref : list.refs()) views.push_back(list.word(ref));
  return views;
}

/// An output file that keeps what is written to it.
class StringOutput : public OutputFile {
 public:
  Result<void> write(std::string_view bytes) override {
    text += bytes;
    ++writes;
    return {};
  }
  Result<void> finish() override { return {}; }

  std::string text;
  int writes = 0;
};

}  // namespace corvandel::testing
