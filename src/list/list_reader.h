// A list read front to back a piece at a time, each piece cut at the end of a word, so that a
// list of any size is read once without being held in memory.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>

#include "base/result.h"
#include "platform/platform.h"

namespace corvandel {

/// One piece of a list: whole words, from the list's start or just after an LF to just before an
/// LF or the list's end, and what follows them up to where the read stopped.
struct ListPiece {
  explicit ListPiece(std::size_t capacity);

  /// The piece's words; an LF stands right after them, and kSlack bytes after them are readable.
  std::string_view words() const { return {buffer.get(), stretch}; }
  /// The last of them.
  std::string_view last_word() const;

  std::unique_ptr<char[]> buffer;
  std::size_t capacity = 0;  // what reads may fill; kSlack more bytes follow
  std::size_t size = 0;      // the words, the LF after them, and what follows
  std::size_t stretch = 0;   // the words' length
  bool last = false;         // the list's last piece, or the read failed
  std::optional<Error> failure;
};

class ListReader {
 public:
  /// Reads `file`, which must outlive the reader.
  explicit ListReader(InputFile& file) : file_(file) {}

  /// Fills `piece` with what `before` (the piece read last, none for the first) holds after its
  /// words and what the file holds next: its capacity, more for a word longer than that.
  void read(ListPiece& piece, const ListPiece* before);

 private:
  InputFile& file_;
  bool at_end_ = false;
};

}  // namespace corvandel
