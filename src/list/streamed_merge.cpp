// The streamed merge on both cores: this thread reads the pieces in turn, cuts the list in memory
// at each piece's last word and writes the merged pieces in order; in between, it checks and
// merges pieces as the helper thread does. The reads and writes stay on this thread, in the
// list's order, so that the file is read and written the same way with the helper or without.
#include "list/streamed_merge.h"

#include <array>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "list/list_reader.h"
#include "list/list_writer.h"
#include "list/merge_walk.h"
#include "list/word_sort.h"
#include "list/written_form.h"

namespace corvandel {
namespace {

// How many pieces are read ahead of the one written next: enough that both threads find a piece
// to merge while this one reads and writes; few, as each holds a piece and its merge.
constexpr std::size_t kPiecesInFlight = 4;

// One piece on its way: read, waiting for a thread, taken by one, merged; then written and free.
struct Slot {
  enum class State { free, waiting, taken, merged };

  explicit Slot(std::size_t piece_size)
      : piece(piece_size), merged_words(piece_size + piece_size / 4) {}

  ListPiece piece;
  std::size_t number = 0;
  std::string before;        // the last word of the piece before (none before the first)
  ListSpan updates;          // the words of the list in memory that go into this piece
  ListWriter merged_words;   // the piece merged with them, an LF in front but for the first
  WrittenForm verdict = WrittenForm::written;
  State state = State::free;
};

class PieceMerge {
 public:
  PieceMerge(InputFile& file, const WordList& update, const Tunables& tunables)
      : reader_(file), update_(update), rest_(all_words(update)) {
    for (std::unique_ptr<Slot>& slot : slots_) slot = std::make_unique<Slot>(tunables.piece);
    if (!tunables.read_ahead) return;
    try {
      helper_ = std::thread([this] { help(); });
    } catch (const std::system_error&) {
      // No thread: this one merges every piece itself.
    }
  }

  ~PieceMerge() { stop(); }
  PieceMerge(const PieceMerge&) = delete;
  PieceMerge& operator=(const PieceMerge&) = delete;

  StreamedMerge run(OutputFile& out) {
    StreamedMerge result;
    for (;;) {
      while (!read_all_ && read_ - written_ < kPiecesInFlight) read_next();
      if (written_ == read_) break;
      Slot& slot = slot_of(written_);
      wait_until_merged(slot);
      if (slot.piece.failure) {
        result.read_failure = slot.piece.failure;
        break;
      }
      if (slot.verdict == WrittenForm::not_utf8) {
        result.read_failure = invalid_utf8_error();
        break;
      }
      if (slot.verdict == WrittenForm::not_written) {
        result.not_written = true;
        break;
      }
      result.written = out.write(slot.merged_words.gathered());
      if (!result.written) break;
      {
        const std::lock_guard lock(mutex_);
        slot.state = Slot::State::free;
      }
      ++written_;
    }
    stop();
    return result;
  }

 private:
  Slot& slot_of(std::size_t number) { return *slots_[number % kPiecesInFlight]; }

  // Reads the next piece into its slot, gives it the words of the list in memory up to its last
  // word (the last piece all that are left), and hands it on.
  void read_next() {
    Slot& slot = slot_of(read_);
    const ListPiece* before = read_ == 0 ? nullptr : &slot_of(read_ - 1).piece;
    reader_.read(slot.piece, before);
    slot.number = read_;
    if (before != nullptr) slot.before.assign(before->last_word());
    const std::uint64_t cut = slot.piece.last
                                  ? rest_.end
                                  : end_of_words_up_to(update_, rest_, slot.piece.last_word());
    slot.updates = {rest_.begin, cut};
    rest_.begin = cut;
    read_all_ = slot.piece.last;
    ++read_;
    {
      const std::lock_guard lock(mutex_);
      slot.state = Slot::State::waiting;
    }
    changed_.notify_all();
  }

  // The first piece that waits for a thread, taken; none when none waits. Under the lock.
  Slot* take_waiting() {
    Slot* first = nullptr;
    for (const std::unique_ptr<Slot>& slot : slots_) {
      if (slot->state == Slot::State::waiting && (first == nullptr || slot->number < first->number))
        first = slot.get();
    }
    if (first != nullptr) first->state = Slot::State::taken;
    return first;
  }

  // Checks the piece against written form, after the last word of the piece before, and merges
  // it as the check goes.
  void merge(Slot& slot) {
    if (slot.piece.failure) return;
    WrittenFormWalk check;
    if (slot.number > 0) check.continue_after(slot.before);
    slot.merged_words.restart(slot.number > 0);
    slot.verdict =
        merge_piece(check, slot.merged_words, slot.piece.words(), update_, slot.updates);
  }

  // Takes and merges the pieces that wait, under `lock`, until `done` holds.
  template <class Done>
  void merge_waiting(std::unique_lock<std::mutex>& lock, Done done) {
    while (!done()) {
      Slot* slot = take_waiting();
      if (slot == nullptr) {
        changed_.wait(lock);
        continue;
      }
      lock.unlock();
      merge(*slot);
      lock.lock();
      slot->state = Slot::State::merged;
      changed_.notify_all();
    }
  }

  void wait_until_merged(Slot& slot) {
    std::unique_lock lock(mutex_);
    merge_waiting(lock, [&] { return slot.state == Slot::State::merged; });
  }

  // The helper's loop: each piece that waits, until the merge stops.
  void help() {
    std::unique_lock lock(mutex_);
    merge_waiting(lock, [&] { return stopping_; });
  }

  void stop() {
    if (!helper_.joinable()) return;
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    helper_.join();
  }

  ListReader reader_;
  const WordList& update_;
  ListSpan rest_;  // the words of the list in memory not yet given to a piece
  std::array<std::unique_ptr<Slot>, kPiecesInFlight> slots_;
  std::size_t read_ = 0, written_ = 0;  // pieces read, and written out
  bool read_all_ = false;
  bool stopping_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread helper_;
};

}  // namespace

StreamedMerge write_merged_stream(OutputFile& out, InputFile& current, WordList& update,
                                  const Tunables& tunables) {
  sort_words(update, tunables);
  return PieceMerge(current, update, tunables).run(out);
}

}  // namespace corvandel
