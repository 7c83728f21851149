// Upper-casing words: the Unicode 16.0 default full upper-case mapping (ß becomes SS, ŉ becomes
// ʼN, ﬁ becomes FI; no locale or context rules), character by character from the case tables, in
// place or appended. What upper-casing does to a word (scan_word(), from case_tables.h) and
// upper-casing the ASCII letters of a run of bytes (upper_ascii_letters(), from ascii_case.h)
// come with this header.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "text/ascii_case.h"
#include "text/case_tables.h"

namespace corvandel::unicode {

/// Appends the full upper-case form of valid UTF-8 `word` to `out`.
void append_upper(std::string_view word, std::string& out);

/// Upper-cases valid UTF-8 `word` in place; every character's upper case must have the
/// character's byte length (WordScan::keeps_length).
void upper_in_place(char* word, std::size_t length);

}  // namespace corvandel::unicode
