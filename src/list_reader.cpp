#include "list_reader.h"

#include <bit>
#include <cstdint>
#include <cstring>

#include "two_cores.h"
#include "unicode.h"
#include "word_key.h"
#include "word_list.h"

namespace corvandel {
namespace {

// How much is read at a time: large enough that each read costs little, small enough to stay in
// the caches and to keep the memory of a pass independent of the list's size.
constexpr std::size_t kPiece = std::size_t{1} << 20;

// Stretches at least this long are checked on two cores, a half on each: enough work that it
// outweighs starting a thread (tens of microseconds).
constexpr std::size_t kTwoCoresFrom = std::size_t{1} << 18;

}  // namespace

ListReader::ListReader(std::unique_ptr<InputFile> file)
    : file_(std::move(file)),
      buffer_(std::make_unique_for_overwrite<char[]>(kPiece + kSlack)),
      capacity_(kPiece) {}

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

namespace {

enum class Verdict { written, not_written, not_utf8 };

// Checks the stretches of a list, in turn, against written form: each word upper case, no
// whitespace but the single LFs between words, each word above the one before.
class WrittenFormCheck {
 public:
  Verdict check(std::string_view stretch) {
    if (stretch.empty()) return Verdict::not_written;  // an empty word, or an empty list
    const char* p = stretch.data();
    const char* const end = p + stretch.size();  // an LF stands there
    while (p < end) {
      const unicode::ByteClasses classes = unicode::classify_64(p);
      const std::size_t left = static_cast<std::size_t>(end - p);
      const std::uint64_t within = left >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << left) - 1;
      std::uint64_t line_feeds =
          (classes.line_feeds & within) | (left < 64 ? std::uint64_t{1} << left : 0);
      if ((classes.lower | (classes.whitespace & ~line_feeds)) & within)
        return Verdict::not_written;
      if (classes.non_ascii & within) {
        const unicode::BlockScan scan = unicode::scan_block(p, classes);
        if (scan.invalid & within) return Verdict::not_utf8;
        if ((scan.changes | (scan.whitespace & ~line_feeds)) & within) return Verdict::not_written;
      }
      // The words that end in this block, each after the one before; the next block starts at
      // the first word that does not.
      const char* word = p;
      for (; line_feeds != 0; line_feeds &= line_feeds - 1) {
        const char* const lf = p + std::countr_zero(line_feeds);
        if (!follows(word, lf)) return Verdict::not_written;
        word = lf + 1;
      }
      if (word == p) {  // a word longer than the block: its characters one by one
        const char* const lf = static_cast<const char*>(std::memchr(p, '\n', left + 1));
        const unicode::WordScan scan = unicode::scan_word(std::string_view(p, lf - p));
        if (scan.length == unicode::kNotUtf8) return Verdict::not_utf8;
        if (scan.length != static_cast<std::size_t>(lf - p) || scan.changes)
          return Verdict::not_written;
        if (!follows(p, lf)) return Verdict::not_written;
        word = lf + 1;
      }
      p = word;
    }
    continue_after(previous_word_);
    return Verdict::written;
  }

  // Goes on as if `word` had been the last word checked.
  void continue_after(std::string_view word) {
    previous_.assign(word.data(), word.size());
    previous_word_ = previous_;
    previous_key_ = word_key(previous_);
    first_ = false;
  }
  std::string_view last_word() const { return previous_word_; }

 private:
  // Takes the word [word, end) as the next: true when it is not empty and above the last one.
  bool follows(const char* word, const char* end) {
    const std::string_view current(word, static_cast<std::size_t>(end - word));
    const std::uint64_t key = word_key(word, current.size(), current.size() + ListReader::kSlack);
    const bool above = !current.empty() && (first_ || key > previous_key_ ||
                                            (key == previous_key_ && current > previous_word_));
    first_ = false;
    previous_word_ = current;
    previous_key_ = key;
    return above;
  }

  bool first_ = true;
  std::uint64_t previous_key_ = 0;
  std::string_view previous_word_;  // in the stretch being checked, or in previous_
  std::string previous_;            // the last word of the stretch before
};

// Checks a stretch as `check.check` does, a long one on two cores: the words from the first that
// starts after the middle on a second thread, which takes the word before them as the last one
// checked. The verdict is the first half's, unless that half is in written form. Reads stay on
// this thread, so the file is read in the same order either way.
Verdict check_on_two_cores(WrittenFormCheck& check, WrittenFormCheck& second,
                           std::string_view stretch) {
  const std::size_t middle = stretch.size() < kTwoCoresFrom
                                 ? std::string_view::npos
                                 : stretch.find('\n', stretch.size() / 2);
  if (middle == std::string_view::npos) return check.check(stretch);
  const std::size_t before = stretch.rfind('\n', middle - 1);
  const std::size_t start = before == std::string_view::npos ? 0 : before + 1;
  second.continue_after(stretch.substr(start, middle - start));
  Verdict earlier = Verdict::written, later = Verdict::written;
  run_on_two_cores([&] { earlier = check.check(stretch.substr(0, middle)); },
                   [&] { later = second.check(stretch.substr(middle + 1)); });
  if (earlier != Verdict::written) return earlier;
  if (later == Verdict::written) check.continue_after(second.last_word());
  return later;
}

}  // namespace

Result<bool> check_written_form(ListReader& reader) {
  WrittenFormCheck check, second;
  while (const std::optional<std::string_view> stretch = reader.next()) {
    const Verdict verdict = check_on_two_cores(check, second, *stretch);
    if (verdict == Verdict::not_written) return false;
    if (verdict == Verdict::not_utf8) {
      return invalid_utf8_error();
    }
  }
  if (reader.failure()) return *reader.failure();
  return true;
}

}  // namespace corvandel
