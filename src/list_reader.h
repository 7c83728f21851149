// A list read front to back through a small buffer, a stretch of whole words at a time, so that a
// list of any size can be merged without being held in memory.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform.h"
#include "result.h"
#include "tunables.h"

namespace corvandel {

class ListReader {
 public:
  /// Reads `file` `piece` bytes at a time (more for a word longer than that).
  ListReader(std::unique_ptr<InputFile> file, std::size_t piece);

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

}  // namespace corvandel
