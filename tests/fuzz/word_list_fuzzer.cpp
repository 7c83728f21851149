// Two lists from one input (split at the first 0xFF byte), merged as the merge pass does, against
// the model: a list is refused exactly when it is not UTF-8, and the list written is the model's.
// The sizes that paths turn on are small, and vary with the input.
#include <cstdlib>

#include "test_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvandel::testing;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string_view first = input.substr(0, input.find('\xFF'));
  const std::string_view second = input.substr(std::min(first.size() + 1, size));
  const std::optional<std::string> written =
      merged(first, second, {64, 1 + size % 61, 1 + size % 97, 1 + size % 13});
  const bool valid = model_words(first) && model_words(second);
  const bool agree =
      written.has_value() == valid && (!valid || *written == model_list({first, second}));
  if (!agree) std::fprintf(stderr, "the merge pass and the model disagree\n"), std::abort();
  return 0;
}
