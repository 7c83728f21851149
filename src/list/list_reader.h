// A list read front to back a piece at a time, a stretch of whole words at a time, and judged
// against written form as it is read, so that a list of any size is merged in one read without
// being held in memory. While the caller merges a stretch, a helper thread checks the next; where
// no thread can start, or Tunables::read_ahead is off, this thread checks each in turn. The reads
// stay on this thread, so that the file is read in the same order either way.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>

#include "base/result.h"
#include "base/tunables.h"
#include "list/written_form.h"
#include "platform/platform.h"

namespace corvandel {

class ListReader {
 public:
  /// Reads `file`, which must outlive the reader, `tunables.piece` bytes at a time (more for a
  /// word longer than that).
  ListReader(InputFile& file, const Tunables& tunables);
  ~ListReader();
  ListReader(const ListReader&) = delete;
  ListReader& operator=(const ListReader&) = delete;

  /// The next stretch of the list, in written form as far as it goes: whole words, from the
  /// list's start or just after an LF to just before an LF or the list's end. Nothing after the
  /// last, or when the list is found not to be in written form (not_written()), not to be UTF-8
  /// or a read fails (failure()). Valid until the next call; an LF stands right after it, and
  /// kSlack bytes after it are readable.
  std::optional<std::string_view> next();
  bool not_written() const { return not_written_; }
  const std::optional<Error>& failure() const { return failure_; }

 private:
  // One buffer of the two that are read in turn: one is merged while the other is checked.
  struct Piece {
    std::unique_ptr<char[]> buffer;
    std::size_t capacity = 0;  // what reads may fill; kSlack more bytes follow
    std::size_t size = 0;      // the stretch, the LF after it, and what follows it
    std::size_t stretch = 0;
    WrittenForm verdict = WrittenForm::written;
    bool last = false;
    std::optional<Error> failure;
  };

  // Fills the piece of number `n` with what the piece before it left after its stretch and what
  // the file holds next.
  void read(std::size_t n);
  // Judges the stretch of piece `n`; starts that on the helper, and waits for it to be done.
  void check(std::size_t n);
  void start_check(std::size_t n);
  void finish_check(std::size_t n);
  // The helper's loop: each piece handed to it, until the reader stops.
  void check_ahead();

  InputFile& file_;
  WrittenFormCheck check_;
  Piece pieces_[2];
  std::size_t next_ = 0;                  // the piece that next() returns
  std::size_t handed_ = 0, checked_ = 0;  // pieces handed to the helper, and checked by it
  bool at_end_ = false, stopping_ = false;
  bool not_written_ = false;
  std::optional<Error> failure_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread helper_;
};

}  // namespace corvandel
