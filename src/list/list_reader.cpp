// Reading a list a piece at a time: each piece takes over the start of a word that the piece
// before cut off, and ends at the last LF it holds.
#include "list/list_reader.h"

#include <algorithm>
#include <cstring>

#include "base/file_data.h"

namespace corvandel {
namespace {

// Makes room in `piece` for `needed` bytes, at least twice what it had, keeping what it holds.
void reserve(ListPiece& piece, std::size_t needed) {
  if (needed <= piece.capacity) return;
  const std::size_t capacity = std::max(needed, 2 * piece.capacity);
  auto larger = std::make_unique_for_overwrite<char[]>(capacity + kSlack);
  std::memcpy(larger.get(), piece.buffer.get(), piece.size);
  piece.buffer = std::move(larger);
  piece.capacity = capacity;
}

}  // namespace

ListPiece::ListPiece(std::size_t capacity)
    : buffer(std::make_unique_for_overwrite<char[]>(capacity + kSlack)), capacity(capacity) {}

std::string_view ListPiece::last_word() const {
  const std::string_view all = words();
  const std::size_t lf = all.rfind('\n');
  return lf == std::string_view::npos ? all : all.substr(lf + 1);
}

void ListReader::read(ListPiece& piece, const ListPiece* before) {
  piece.size = 0;
  piece.last = false;
  piece.failure.reset();
  if (before != nullptr) {
    const std::size_t left = before->size - (before->stretch + 1);
    reserve(piece, left);
    std::memcpy(piece.buffer.get(), before->buffer.get() + before->stretch + 1, left);
    piece.size = left;
  }
  for (;;) {
    while (!at_end_ && piece.size < piece.capacity) {
      Result<std::size_t> read =
          file_.read(piece.buffer.get() + piece.size, piece.capacity - piece.size);
      if (!read) {
        piece.failure = read.error();
        piece.stretch = 0;
        piece.last = true;
        return;
      }
      at_end_ = read.value() == 0;
      piece.size += read.value();
    }
    const std::size_t lf = std::string_view(piece.buffer.get(), piece.size).rfind('\n');
    if (lf != std::string_view::npos) {
      piece.stretch = lf;
      return;
    }
    if (at_end_) {
      // The last piece ends at the file's end: an LF after it, as after every other.
      piece.buffer[piece.size] = '\n';
      piece.stretch = piece.size;
      piece.last = true;
      return;
    }
    reserve(piece, piece.capacity + 1);  // a word longer than the buffer
  }
}

}  // namespace corvandel
