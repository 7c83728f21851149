// The block writer's steps taken once a block: its block, a full block, and the last write.
#include "list/list_writer.h"

#include <algorithm>

namespace corvandel {

ListWriter::ListWriter(OutputFile& out, std::size_t block_size)
    : out_(&out),
      block_(std::make_unique_for_overwrite<char[]>(block_size)),
      block_size_(block_size) {}

ListWriter::ListWriter(std::size_t capacity)
    : out_(nullptr),
      block_(std::make_unique_for_overwrite<char[]>(capacity)),
      block_size_(capacity) {}

bool ListWriter::make_room(std::string_view bytes) {
  if (out_ == nullptr) {
    const std::size_t larger = std::max(2 * block_size_, used_ + bytes.size());
    auto block = std::make_unique_for_overwrite<char[]>(larger);
    std::memcpy(block.get(), block_.get(), used_);
    block_ = std::move(block);
    block_size_ = larger;
    return true;
  }
  status_ = out_->write(std::string_view(block_.get(), used_));
  used_ = 0;
  if (!status_) return false;
  if (bytes.size() < block_size_) return true;
  status_ = out_->write(bytes);
  return false;
}

Result<void> ListWriter::finish() {
  end_of_text();
  if (status_ && used_ != 0) status_ = out_->write(std::string_view(block_.get(), used_));
  used_ = 0;
  return status_;
}

}  // namespace corvandel
