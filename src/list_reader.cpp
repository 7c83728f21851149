// Reading a list front to back through a buffer of one piece, a stretch of whole words at a time.
#include "list_reader.h"

#include <cstring>

namespace corvandel {

ListReader::ListReader(std::unique_ptr<InputFile> file, std::size_t piece)
    : file_(std::move(file)),
      buffer_(std::make_unique_for_overwrite<char[]>(piece + kSlack)),
      capacity_(piece) {}

std::optional<std::string_view> ListReader::next() {
  if (done_) return std::nullopt;
  // What the last read cut off (a word's beginning) moves to the front; then the buffer fills.
  std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
  end_ -= begin_;
  begin_ = 0;
  for (;;) {
    while (!at_end_ && end_ < capacity_) {
      Result<std::size_t> read = file_->read(buffer_.get() + end_, capacity_ - end_);
      if (!read) {
        failure_ = read.error();
        done_ = true;
        return std::nullopt;
      }
      at_end_ = read.value() == 0;
      end_ += read.value();
    }
    const std::size_t last = std::string_view(buffer_.get(), end_).rfind('\n');
    if (last != std::string_view::npos) {
      begin_ = last + 1;
      return std::string_view(buffer_.get(), last);
    }
    if (at_end_) {
      // The last stretch ends at the file's end: an LF after it, as after every other.
      buffer_[end_] = '\n';
      begin_ = end_;
      done_ = true;
      return std::string_view(buffer_.get(), end_);
    }
    // A word longer than the buffer: room for more.
    auto larger = std::make_unique_for_overwrite<char[]>(2 * capacity_ + kSlack);
    std::memcpy(larger.get(), buffer_.get(), end_);
    buffer_ = std::move(larger);
    capacity_ *= 2;
  }
}

}  // namespace corvandel
