// The buffer of a file's content.
#include "base/file_data.h"

namespace corvandel {

FileData FileData::allocate(std::size_t capacity) {
  return FileData{std::make_unique_for_overwrite<char[]>(capacity + kSlack), 0};
}

}  // namespace corvandel
