// Where text that is not UTF-8 first goes wrong, and what its bytes suggest: another encoding
// (UTF-16, an ANSI code page such as Windows-1252), a file cut off, or damage. Asked only once a
// file is known not to be UTF-8, so it takes its time: a valid list never pays for it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace corvandel::unicode {

struct TextFlaw {
  std::size_t line = 1;         ///< from 1, counting LFs
  std::size_t column = 1;       ///< from 1, counting the characters before it on its line
  std::size_t offset = 0;       ///< in bytes, from 0
  std::string bytes;            ///< the offending bytes in hex, e.g. "E9" or "FF FE"
  std::string what;             ///< what they are, e.g. "a byte that UTF-8 never uses"
  std::string cause;            ///< the likely cause, as a sentence, or ""
  bool other_encoding = false;  ///< the text is in another encoding, which saving as UTF-8 mends
};

/// The first flaw of `text`, or nothing when it is well-formed UTF-8.
std::optional<TextFlaw> find_text_flaw(std::string_view text);

}  // namespace corvandel::unicode
