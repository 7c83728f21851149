// A list read front to back through a small buffer, a stretch of whole words at a time, and the
// check that it is in written form, so that a list of any size can be merged without being held
// in memory.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform.h"
#include "result.h"

namespace corvandel {

class ListReader {
 public:
  /// Bytes that stay readable after each stretch, for loads of whole blocks and keys.
  static constexpr std::size_t kSlack = 128;

  explicit ListReader(std::unique_ptr<InputFile> file);

  /// The next stretch of the list: from just after the last LF returned to just before the last
  /// LF read (or to the end of the file); nothing after the last, or when a read failed. Valid
  /// until the next call; an LF stands right after it, and kSlack bytes after it are readable.
  std::optional<std::string_view> next();
  /// The error of a failed read.
  const std::optional<Error>& failure() const { return failure_; }
  InputFile& file() { return *file_; }

 private:
  std::unique_ptr<InputFile> file_;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_;
  std::size_t begin_ = 0, end_ = 0;  // the bytes read but not yet returned
  bool at_end_ = false, done_ = false;
  std::optional<Error> failure_;
};

/// Reads the list through `reader` and tells whether it is in written form, as this program writes
/// lists: upper-case words in strictly ascending byte-wise order, joined by single LFs, with no
/// other whitespace. Stops at the first sign that it is not. Fails when a read fails or the text
/// read is not UTF-8.
Result<bool> check_written_form(ListReader& reader);

}  // namespace corvandel
