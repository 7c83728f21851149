// The whole content of a file in memory, as the list code reads it and the platform fills it.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

namespace corvandel {

/// Bytes that stay readable (and writable) after the text that a scan is given, so that whole
/// 64-byte blocks and eight-byte keys can be loaded at its end. An LF is put right after the text.
inline constexpr std::size_t kSlack = 128;

/// The whole content of a file, in one writable buffer owned by the caller, with room for kSlack
/// more bytes after it.
struct FileData {
  /// No bytes yet, and room for `capacity` and kSlack more.
  static FileData allocate(std::size_t capacity);

  std::unique_ptr<char[]> bytes;
  std::size_t size = 0;

  char* data() { return bytes.get(); }
  std::string_view view() const { return {bytes.get(), size}; }
};

}  // namespace corvandel
