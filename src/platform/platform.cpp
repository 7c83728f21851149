// What every platform shares, over its own operations: the platform in use (the native one or a
// test's), the directory tree made one directory at a time, reading a file whole, and paths' last
// and parent components.
#include "platform/platform.h"

#include <cstring>

namespace corvandel {

namespace {
Platform* installed = nullptr;
}  // namespace

Platform& platform() {
  return installed != nullptr ? *installed : native_platform();
}

void install_platform(Platform* replacement) {
  installed = replacement;
}

Result<void> Platform::create_directories(const std::string& path) {
  if (path.empty()) return {};
  Result<void> made = make_directory(path);
  if (made) return {};
  if (made.error().kind == ErrorKind::not_found) {
    const std::string parent = parent_of(path);
    if (parent.empty()) return Error{ErrorKind::other, 0, "failed to create whole tree"};
    if (Result<void> parents = create_directories(parent); !parents) return parents;
    made = make_directory(path);
    if (made) return {};
  }
  // Another process may have made it meanwhile; that counts as success.
  if (Result<FileType> type = file_type(path); type && type.value() == FileType::directory) {
    return {};
  }
  return made;
}

std::string_view file_name_of(std::string_view path) {
  const std::size_t separator = path.find_last_of("/\\");
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

std::string parent_of(std::string_view path) {
  const std::string_view separators = platform().path_separators();
  const std::size_t end = path.find_last_not_of(separators);
  if (end == std::string_view::npos) return {};
  const std::size_t separator = path.find_last_of(separators, end);
  if (separator == std::string_view::npos) return {};
  const std::size_t parent_end = path.find_last_not_of(separators, separator);
  if (parent_end == std::string_view::npos) return std::string(path.substr(0, 1));
  if (parent_end == 1 && path[1] == ':') return std::string(path.substr(0, 3));
  return std::string(path.substr(0, parent_end + 1));
}

Result<FileData> Platform::read_file(const std::string& path) {
  Result<std::unique_ptr<InputFile>> file = open_file(path);
  if (!file) return file.error();
  return read_rest(*file.value());
}

Result<FileData> read_rest(InputFile& file) {
  // The size is a hint: a file that grows meanwhile is still read to its end. The byte past it
  // lets the read that finds the end fill nothing. A whole list is large, and its buffer fresh.
  const auto buffer = [](std::size_t capacity) {
    FileData data = FileData::allocate(capacity);
    platform().advise_large_memory(data.data(), capacity + kSlack);
    return data;
  };
  std::size_t capacity = static_cast<std::size_t>(file.size_when_opened()) + 1;
  FileData data = buffer(capacity);
  for (;;) {
    if (data.size == capacity) {
      FileData grown = buffer(capacity *= 2);
      std::memcpy(grown.data(), data.data(), data.size);
      grown.size = data.size;
      data = std::move(grown);
    }
    Result<std::size_t> read = file.read(data.data() + data.size, capacity - data.size);
    if (!read) return read.error();
    if (read.value() == 0) return data;
    data.size += read.value();
  }
}

}  // namespace corvandel
