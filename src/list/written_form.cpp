// The check of written form over a whole stretch: a long one split in two halves, judged on two
// cores.
#include "list/written_form.h"

#include "base/two_cores.h"

namespace corvandel {

void WrittenFormWalk::continue_after(std::string_view word) {
  previous_.assign(word.data(), word.size());
  previous_word_ = previous_;
  previous_key_ = word_key(previous_);
  first_ = false;
}

// A long stretch: the words from the first that starts after the middle are judged on a second
// thread, which takes the word before them as the last one judged. The verdict is the first
// half's, unless that half is in written form.
WrittenForm WrittenFormCheck::check(std::string_view stretch) {
  const std::size_t middle = stretch.size() < two_cores_from_
                                 ? std::string_view::npos
                                 : stretch.find('\n', stretch.size() / 2);
  if (middle == std::string_view::npos || middle == 0) return first_.check(stretch);
  const std::size_t before = stretch.rfind('\n', middle - 1);
  const std::size_t start = before == std::string_view::npos ? 0 : before + 1;
  second_.continue_after(stretch.substr(start, middle - start));
  WrittenForm earlier = WrittenForm::written, later = WrittenForm::written;
  run_on_two_cores([&] { earlier = first_.check(stretch.substr(0, middle)); },
                   [&] { later = second_.check(stretch.substr(middle + 1)); });
  if (earlier != WrittenForm::written) return earlier;
  if (later == WrittenForm::written) first_.continue_after(second_.last_word());
  return later;
}

}  // namespace corvandel
