// Reading a list a piece at a time into two buffers in turn: while the caller merges the stretch
// of one, the helper checks the stretch of the other.
#include "list/list_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <system_error>

#include "base/file_data.h"

namespace corvandel {
namespace {

// The length from which the check judges a stretch on two cores, a half on each: none, for a list
// read a piece at a time. Its second core is the helper thread, which checks the next piece while
// this one is merged; each stretch is judged on one core alone, with the helper or without.
constexpr std::size_t kNoStretchOnTwoCores = SIZE_MAX;

// Makes room in `piece` for `needed` bytes, at least twice what it had, keeping what it holds.
template <class Piece>
void reserve(Piece& piece, std::size_t needed) {
  if (needed <= piece.capacity) return;
  const std::size_t capacity = std::max(needed, 2 * piece.capacity);
  auto larger = std::make_unique_for_overwrite<char[]>(capacity + kSlack);
  std::memcpy(larger.get(), piece.buffer.get(), piece.size);
  piece.buffer = std::move(larger);
  piece.capacity = capacity;
}

}  // namespace

ListReader::ListReader(InputFile& file, const Tunables& tunables)
    : file_(file), check_(kNoStretchOnTwoCores) {
  for (Piece& piece : pieces_) {
    piece.buffer = std::make_unique_for_overwrite<char[]>(tunables.piece + kSlack);
    piece.capacity = tunables.piece;
  }
  if (!tunables.read_ahead) return;
  try {
    helper_ = std::thread([this] { check_ahead(); });
  } catch (const std::system_error&) {
    // No thread: each piece is checked in turn, in next().
  }
}

ListReader::~ListReader() {
  if (!helper_.joinable()) return;
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  helper_.join();
}

void ListReader::read(std::size_t n) {
  Piece& piece = pieces_[n % 2];
  piece.size = 0;
  if (n > 0) {  // the beginning of a word that the piece before cut off
    const Piece& before = pieces_[(n - 1) % 2];
    const std::size_t left = before.size - (before.stretch + 1);
    reserve(piece, left);
    std::memcpy(piece.buffer.get(), before.buffer.get() + before.stretch + 1, left);
    piece.size = left;
  }
  for (;;) {
    while (!at_end_ && piece.size < piece.capacity) {
      Result<std::size_t> read =
          file_.read(piece.buffer.get() + piece.size, piece.capacity - piece.size);
      if (!read) {
        piece.failure = read.error();
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
      // The last stretch ends at the file's end: an LF after it, as after every other.
      piece.buffer[piece.size] = '\n';
      piece.stretch = piece.size;
      piece.last = true;
      return;
    }
    reserve(piece, piece.capacity + 1);  // a word longer than the buffer
  }
}

void ListReader::check(std::size_t n) {
  Piece& piece = pieces_[n % 2];
  if (piece.failure) return;
  piece.verdict = check_.check(std::string_view(piece.buffer.get(), piece.stretch));
}

void ListReader::check_ahead() {
  for (;;) {
    std::size_t n;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return stopping_ || handed_ > checked_; });
      if (stopping_) return;
      n = checked_;
    }
    check(n);
    {
      const std::lock_guard lock(mutex_);
      checked_ = n + 1;
    }
    changed_.notify_all();
  }
}

void ListReader::start_check(std::size_t n) {
  if (!helper_.joinable()) return check(n);
  {
    const std::lock_guard lock(mutex_);
    handed_ = n + 1;
  }
  changed_.notify_all();
}

void ListReader::finish_check(std::size_t n) {
  if (!helper_.joinable()) return;
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return checked_ > n; });
}

std::optional<std::string_view> ListReader::next() {
  const std::size_t n = next_;
  if (n > 0 && pieces_[(n - 1) % 2].last) return std::nullopt;
  if (n == 0) {
    read(0);
    start_check(0);
  }
  finish_check(n);
  next_ = n + 1;
  Piece& piece = pieces_[n % 2];
  if (piece.failure) {
    failure_ = piece.failure;
    return std::nullopt;
  }
  if (piece.verdict == WrittenForm::not_utf8) failure_ = invalid_utf8_error();
  not_written_ = piece.verdict == WrittenForm::not_written;
  if (piece.verdict != WrittenForm::written) return std::nullopt;
  // The next piece, read now into the other buffer, is checked while this one is merged.
  if (!piece.last) {
    read(n + 1);
    start_check(n + 1);
  }
  return std::string_view(piece.buffer.get(), piece.stretch);
}

}  // namespace corvandel
