// The block writer's steps taken once a list: its block, and the last write.
#include "list/list_writer.h"

namespace corvandel {

ListWriter::ListWriter(OutputFile& out, std::size_t block_size)
    : out_(out),
      block_(std::make_unique_for_overwrite<char[]>(block_size)),
      block_size_(block_size) {}

Result<void> ListWriter::finish() {
  end_of_text();
  if (status_ && used_ != 0) status_ = out_.write(std::string_view(block_.get(), used_));
  used_ = 0;
  return status_;
}

}  // namespace corvandel
