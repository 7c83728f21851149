// Two lists from one input (split at the first 0xFF byte), merged as the merge pass does, against
// the model: a list is refused exactly when it is not UTF-8, and the list written is the model's.
#include <cstdio>
#include <cstdlib>

#include "merged_list.h"
#include "test_support.h"
#include "word_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvandel;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = std::min(input.find('\xFF'), input.size());
  const std::string_view first = input.substr(0, split);
  const std::string_view second = split < size ? input.substr(split + 1) : std::string_view();
  Result<WordList> current = parse_word_list(testing::file_data(first));
  Result<WordList> update = parse_word_list(testing::file_data(second));
  const bool valid = testing::model_words(first) && testing::model_words(second);
  std::string written;
  if (current && update) {
    testing::StringOutput out;
    if (!write_word_list(out, merge_distinct(current.value(), update.value()))) std::abort();
    written = out.text;
  }
  if ((current && update) != valid || (valid && written != testing::model_list({first, second}))) {
    std::fprintf(stderr, "the merge pass and the model disagree\n");
    std::abort();
  }
  return 0;
}
