// Parts of the Windows platform layer that its tests examine directly. The program itself uses
// only platform.h.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/result.h"

namespace corvandel::win32 {

/// `path` (UTF-8) as the wide-character file functions take it. A relative path, or one of 247
/// UTF-16 units or more, is made absolute against the current directory and given the
/// extended-length prefix (\\?\, or \\?\UNC\ for \\server\share); a shorter absolute path is
/// passed as written, and one already carrying the prefix with its forward slashes made
/// backslashes. A path holding U+0000 is invalid input.
Result<std::wstring> api_path(std::string_view path);

/// UTF-16 text as UTF-8, or nothing when it holds an unpaired surrogate.
std::optional<std::string> to_utf8(std::wstring_view text);

/// The error for the Win32 error `code`, rendered as "<system message> (os error <code>)".
Error os_error(unsigned long code);

/// The message part of an error text from what the system's message lookup returned: trailing
/// whitespace removed, or the fallback for text that is not valid UTF-16.
std::string message_part(std::wstring_view message, unsigned long code);

/// Whether console input `typed` (the next piece of one read) ends the read of a line: at a line
/// feed, or at Ctrl+Z (U+001A) typed as the first key of the line, which means end of input.
/// `at_line_start` says whether `typed` begins the line, and is updated.
bool ends_console_read(std::wstring_view typed, bool& at_line_start);

}  // namespace corvandel::win32
