// Linked into a copy of the program for fault-injection tests: installs, before main() runs, a
// platform that forwards to the native one but fails chosen operations.
//
// CORVANDEL_FAULTS="write:3:28,remove_file:1:13" fails the 3rd OutputFile::write with errno 28
// and the first remove_file with errno 13. CORVANDEL_FAULT_LOG names a file that receives one
// line per operation, "<operation> <path>", in the order the program performs them.
// CORVANDEL_CLOCK_OFFSET="86400" moves the clock a number of seconds ahead, so that a run can
// follow another at once without waiting for a free backup stamp.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <sstream>
#include <string>

#include "forwarding_platform.h"
#include "platform-posix.h"

namespace corvandel::testing {
namespace {

class FaultPlatform final : public ForwardingPlatform {
 public:
  FaultPlatform(const char* faults, const char* log_path, const char* clock_offset) {
    if (faults != nullptr) parse_faults(faults);
    if (clock_offset != nullptr) clock_offset_ = std::atol(clock_offset);
    if (log_path != nullptr) log_fd_ = ::open(log_path, O_WRONLY | O_CREAT | O_APPEND, 0644);
  }

  // Counts one operation of `kind` and returns the error to fail it with, if any.
  std::optional<Error> step(const std::string& kind, const std::string& path) {
    if (log_fd_ >= 0) {
      std::string line = kind + " " + path + "\n";
      [[maybe_unused]] ssize_t n = ::write(log_fd_, line.data(), line.size());
    }
    int count = ++counts_[kind];
    auto fault = faults_.find({kind, count});
    if (fault == faults_.end()) return std::nullopt;
    return posix::os_error(fault->second);
  }

  Result<void> write_stdout(std::string_view text) override {
    if (auto error = step("write_stdout", "")) return *error;
    return ForwardingPlatform::write_stdout(text);
  }
  Result<FileType> file_type(const std::string& path) override {
    if (auto error = step("file_type", path)) return *error;
    return ForwardingPlatform::file_type(path);
  }
  Result<void> make_directory(const std::string& path) override {
    if (auto error = step("make_directory", path)) return *error;
    return ForwardingPlatform::make_directory(path);
  }
  Result<FileData> read_file(const std::string& path) override {
    if (auto error = step("read_file", path)) return *error;
    return ForwardingPlatform::read_file(path);
  }
  Result<std::unique_ptr<OutputFile>> create_new_file(const std::string& path) override;
  Result<void> remove_file(const std::string& path) override {
    if (auto error = step("remove_file", path)) return *error;
    return ForwardingPlatform::remove_file(path);
  }
  Result<void> replace_keeping_backup(const std::string& replacement, const std::string& live,
                                      const std::string& backup) override {
    if (auto error = step("replace_keeping_backup", live)) return *error;
    return ForwardingPlatform::replace_keeping_backup(replacement, live, backup);
  }
  Result<std::string> local_time_stamp() override {
    if (auto error = step("local_time_stamp", "")) return *error;
    if (clock_offset_ == 0) return ForwardingPlatform::local_time_stamp();
    std::time_t later = std::time(nullptr) + clock_offset_;
    std::tm local{};
    char text[32];
    ::localtime_r(&later, &local);
    return std::string(text, std::strftime(text, sizeof text, "%y%m%d_%H%M%S", &local));
  }

 private:
  void parse_faults(const std::string& text) {
    std::istringstream list(text);
    std::string item;
    while (std::getline(list, item, ',')) {
      std::size_t first = item.find(':'), second = item.rfind(':');
      if (first == std::string::npos || first == second) std::abort();
      faults_[{item.substr(0, first), std::atoi(item.substr(first + 1).c_str())}] =
          std::atoi(item.substr(second + 1).c_str());
    }
  }

  std::map<std::pair<std::string, int>, int> faults_;
  std::map<std::string, int> counts_;
  int log_fd_ = -1;
  long clock_offset_ = 0;
};

class FaultOutputFile final : public OutputFile {
 public:
  FaultOutputFile(FaultPlatform& platform, std::unique_ptr<OutputFile> file, std::string path)
      : platform_(platform), file_(std::move(file)), path_(std::move(path)) {}

  Result<void> write(std::string_view bytes) override {
    if (auto error = platform_.step("write", path_)) return *error;
    return file_->write(bytes);
  }
  Result<void> finish() override {
    if (auto error = platform_.step("finish", path_)) return *error;
    return file_->finish();
  }

 private:
  FaultPlatform& platform_;
  std::unique_ptr<OutputFile> file_;
  std::string path_;
};

Result<std::unique_ptr<OutputFile>> FaultPlatform::create_new_file(const std::string& path) {
  if (auto error = step("create_new_file", path)) return *error;
  Result<std::unique_ptr<OutputFile>> file = ForwardingPlatform::create_new_file(path);
  if (!file) return file;
  return std::unique_ptr<OutputFile>(new FaultOutputFile(*this, std::move(file.value()), path));
}

FaultPlatform installed(std::getenv("CORVANDEL_FAULTS"), std::getenv("CORVANDEL_FAULT_LOG"),
                        std::getenv("CORVANDEL_CLOCK_OFFSET"));

}  // namespace
}  // namespace corvandel::testing
