// Writing a list in the list format (words joined by LF, with no line break after the last)
// through large blocks, runs of words that follow each other in a list's text copied at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "base/result.h"
#include "list/word_list.h"
#include "platform/platform.h"

namespace corvandel {

/// Gathers words into large blocks for the output file. Words that follow each other in a list's
/// text, separated by a single LF, are copied as one run: a list already in written form is
/// copied in long stretches, and a run that fills a block is written straight from the text.
/// The first failed write ends the writing; finish() returns it.
///
/// Or gathers them in memory, in one block that grows as needed: the merge of one piece of a
/// list, written out later in its place among the others.
class ListWriter {
 public:
  ListWriter(OutputFile& out, std::size_t block_size);
  explicit ListWriter(std::size_t capacity);

  /// In memory: starts gathering afresh; after a word, the text gathered starts with an LF.
  void restart(bool after_a_word) {
    used_ = 0;
    first_ = !after_a_word;
    run_base_ = nullptr;
  }
  /// In memory: what was gathered, valid until the next change.
  std::string_view gathered() {
    end_of_text();
    return {block_.get(), used_};
  }

  void add(const WordList& list, WordRef ref) {
    const std::string_view word = list.word(ref);
    if (list.in_text(ref)) {
      return add_text(list.text().data(),
                      static_cast<std::uint64_t>(word.data() - list.text().data()), word.size());
    }
    end_of_text();
    put_word(word);
  }

  // Adds the `length` bytes of the text at `base`, from `offset`: one word, or several separated
  // by LFs.
  [[gnu::always_inline]] void add_text(const char* base, std::uint64_t offset,
                                       std::uint64_t length) {
    if (base == run_base_ && offset == run_end_ + 1 && base[run_end_] == '\n') {
      run_end_ = offset + length;
      return;
    }
    end_of_text();
    run_base_ = base;
    run_begin_ = offset;
    run_end_ = offset + length;
  }

  // Copies the run of words waiting, before the text it lies in changes.
  void end_of_text() {
    if (run_base_ == nullptr) return;
    put_word(std::string_view(run_base_ + run_begin_, run_end_ - run_begin_));
    run_base_ = nullptr;
  }

  bool ok() const { return status_.ok(); }

  /// Writes what is still waiting; the first failure of any write, if one failed.
  Result<void> finish();

 private:
  void put_word(std::string_view word) {
    if (!first_ && used_ < block_size_) {
      block_[used_++] = '\n';
    } else if (!first_) {
      put("\n");
    }
    first_ = false;
    put(word);
  }

  void put(std::string_view bytes) {
    if (!status_) return;
    if (used_ + bytes.size() > block_size_ && !make_room(bytes)) return;
    std::memcpy(block_.get() + used_, bytes.data(), bytes.size());
    used_ += bytes.size();
  }

  // The block is full for `bytes`: writes it out, or in memory makes it larger. False when
  // `bytes` need not be added after all (written straight, or a write failed).
  bool make_room(std::string_view bytes);

  OutputFile* const out_;  // none: gathered in memory
  std::unique_ptr<char[]> block_;
  std::size_t block_size_;
  std::size_t used_ = 0;
  bool first_ = true;
  Result<void> status_;
  // The run of words waiting to be copied: [run_begin_, run_end_) of the text at run_base_.
  const char* run_base_ = nullptr;
  std::uint64_t run_begin_ = 0;
  std::uint64_t run_end_ = 0;
};

}  // namespace corvandel
