// The platform layer on Linux (it uses sync_file_range, renameat2 and the GNU strerror_r).
#include "platform/platform-linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/platform.h"

namespace corvandel {
namespace {

ErrorKind kind_of(int code) {
  switch (code) {
    case ENOENT:
      return ErrorKind::not_found;
    case EACCES:
    case EPERM:
    case EROFS:
      return ErrorKind::permission_denied;
    case EEXIST:
      return ErrorKind::already_exists;
    case EISDIR:
      return ErrorKind::is_a_directory;
    case ENOTDIR:
    case EINVAL:
    case ENAMETOOLONG:
      return ErrorKind::invalid_input;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return ErrorKind::storage_full;
    case EXDEV:
      return ErrorKind::cross_device;
    case EOPNOTSUPP:
    case ENOSYS:
      return ErrorKind::unsupported;
    case EPIPE:
      return ErrorKind::broken_pipe;
    case ENOMEM:
      return ErrorKind::out_of_memory;
    case EINTR:
      return ErrorKind::interrupted;
    case EWOULDBLOCK:
      return ErrorKind::busy;
    default:
      return ErrorKind::other;
  }
}

}  // namespace

namespace linux_os {
// "No such file or directory (os error 2)": the C library's text for the code, then the code.
Error os_error(int code) {
  char buffer[256];
  const char* text = strerror_r(code, buffer, sizeof buffer);
  return Error{kind_of(code), code, std::string(text) + " (os error " + std::to_string(code) + ")"};
}
}  // namespace linux_os

namespace {
using linux_os::os_error;

Error last_os_error() {
  return os_error(errno);
}

// Writes all of `text` to `fd`. A descriptor that is not open swallows the text.
Result<void> write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EBADF) return {};
      return last_os_error();
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

// Flushes a directory's entries to disk, so that a rename inside it survives a power cut. File
// systems that cannot sync a directory (EINVAL) already keep renames durable on their own, and a
// directory that cannot be opened for reading cannot be flushed by this process: both count as
// flushed. A failed flush (an I/O error) is returned.
Result<void> sync_directory_at(const std::string& dir) {
  int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return {};
  Result<void> synced;
  if (::fsync(fd) != 0 && errno != EINVAL) synced = last_os_error();
  ::close(fd);
  return synced;
}

class PosixOutputFile final : public OutputFile {
 public:
  explicit PosixOutputFile(int fd) : fd_(fd) {}
  ~PosixOutputFile() override {
    if (fd_ >= 0) ::close(fd_);
  }

  Result<void> write(std::string_view bytes) override {
    const off_t start = written_;
    while (!bytes.empty()) {
      ssize_t n = ::write(fd_, bytes.data(), bytes.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        return last_os_error();
      }
      bytes.remove_prefix(static_cast<std::size_t>(n));
      written_ += n;
    }
    // Start writing the new bytes back now, without waiting: the flush in finish() then finds
    // most of the file already on its way to disk. Only a hint; finish() still syncs it all.
    ::sync_file_range(fd_, start, written_ - start, SYNC_FILE_RANGE_WRITE);
    return {};
  }

  Result<void> restart() override {
    if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0) return last_os_error();
    written_ = 0;
    return {};
  }

  Result<void> finish() override {
    if (::fsync(fd_) != 0) return last_os_error();
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return last_os_error();
    return {};
  }

 private:
  int fd_;
  off_t written_ = 0;
};

// What a file is, from its status: its identity, size and times of change. The change time moves
// with every write, also when another program puts the modification time back.
std::string state_of(const struct stat& st) {
  const auto number = [](auto value) { return std::to_string(value) + ":"; };
  return number(st.st_dev) + number(st.st_ino) + number(st.st_size) + number(st.st_mtim.tv_sec) +
         number(st.st_mtim.tv_nsec) + number(st.st_ctim.tv_sec) + number(st.st_ctim.tv_nsec);
}

class PosixInputFile final : public InputFile {
 public:
  explicit PosixInputFile(int fd) : fd_(fd) {}
  ~PosixInputFile() override { ::close(fd_); }

  // Refuses anything but a regular file; notes the size.
  Result<std::string> check_regular() {
    Result<std::string> now = state();
    if (now && S_ISDIR(stat_.st_mode)) return os_error(EISDIR);
    if (now && !S_ISREG(stat_.st_mode)) {
      return Error{ErrorKind::not_a_regular_file, 0, "not a regular file"};
    }
    size_ = static_cast<std::uint64_t>(stat_.st_size);
    return now;
  }

  Result<std::size_t> read(char* buffer, std::size_t size) override {
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, size);
      if (n >= 0) return static_cast<std::size_t>(n);
      if (errno != EINTR) return last_os_error();
    }
  }

  std::uint64_t size_when_opened() const override { return size_; }

  Result<std::string> state() override {
    if (::fstat(fd_, &stat_) != 0) return last_os_error();
    return state_of(stat_);
  }

  Result<void> rewind() override {
    if (::lseek(fd_, 0, SEEK_SET) != 0) return last_os_error();
    return {};
  }

 private:
  int fd_;
  struct stat stat_ {};
  std::uint64_t size_ = 0;
};

// A lock by flock(): it belongs to the open file, so the system drops it when the process ends.
class PosixFileLock final : public FileLock {
 public:
  explicit PosixFileLock(int fd) : fd_(fd) {}
  ~PosixFileLock() override { ::close(fd_); }

 private:
  int fd_;
};

// Link errors that mean "this file system has no hard links" rather than a real refusal.
bool means_no_hard_links(int code) {
  return code == EPERM || code == EOPNOTSUPP || code == ENOSYS || code == EMLINK;
}

// Allocations up to this size come from the heap, and freed memory up to it stays there.
constexpr int kHeldInHeap = 64 << 20;

class PosixPlatform final : public Platform {
 public:
  PosixPlatform() {
    // A closed pipe on standard output must surface as a failed write, not kill the process.
    ::signal(SIGPIPE, SIG_IGN);
    ::tzset();
    // The buffers of a pass (its pieces, a list read whole) are a few megabytes each, allocated
    // when the pass starts and freed when it ends. Kept in the heap rather than mapped and
    // unmapped each time, the second pass reuses the first one's pages instead of faulting in
    // fresh ones, which costs more than the copy into them on a virtual machine.
    ::mallopt(M_MMAP_THRESHOLD, kHeldInHeap);
    ::mallopt(M_TRIM_THRESHOLD, kHeldInHeap);
  }

  Result<void> write_stdout(std::string_view text) override { return write_all(1, text); }
  Result<void> write_stderr(std::string_view text) override { return write_all(2, text); }

  Result<void> read_stdin_line() override {
    // One byte at a time, so that only the first line is consumed.
    char c = 0;
    for (;;) {
      ssize_t n = ::read(0, &c, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return last_os_error();
      if (n == 0 || c == '\n') return {};
    }
  }

  std::optional<std::string> environment_variable(const char* name) override {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
  }

  std::span<const std::string_view> system_help_options() const override { return {}; }

  Result<FileType> file_type(const std::string& path) override {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return last_os_error();
    if (S_ISREG(st.st_mode)) return FileType::regular;
    if (S_ISDIR(st.st_mode)) return FileType::directory;
    return FileType::other;
  }

  // The entry is flushed into the parent at once, so that what is later put inside the new
  // directory cannot vanish with it in a power cut. ENOENT, the only code of kind not_found,
  // means a missing parent.
  Result<void> make_directory(const std::string& path) override {
    if (::mkdir(path.c_str(), 0777) != 0) return last_os_error();
    [[maybe_unused]] Result<void> synced = sync_directory_at(parent_of(path));
    return {};
  }

  Result<std::unique_ptr<InputFile>> open_file(const std::string& path) override {
    // O_NONBLOCK keeps a FIFO from blocking the open; only regular files are read.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return last_os_error();
    auto file = std::make_unique<PosixInputFile>(fd);
    Result<std::string> checked = file->check_regular();
    if (!checked) return checked.error();
    return std::unique_ptr<InputFile>(std::move(file));
  }

  Result<std::unique_ptr<FileLock>> lock_file(const std::string& path, bool wait) override {
    int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) return last_os_error();
    auto lock = std::make_unique<PosixFileLock>(fd);
    while (::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB)) != 0) {
      if (errno != EINTR) return last_os_error();
    }
    return std::unique_ptr<FileLock>(std::move(lock));
  }

  Result<std::unique_ptr<OutputFile>> create_new_file(const std::string& path) override {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) return last_os_error();
    return std::unique_ptr<OutputFile>(new PosixOutputFile(fd));
  }

  Result<void> remove_file(const std::string& path) override {
    if (::unlink(path.c_str()) != 0) return last_os_error();
    return {};
  }

  Result<void> wait_until_replaceable(const std::string&) override { return {}; }

  Result<FileState> file_state(const std::string& path) override {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return last_os_error();
    return FileState{state_of(st), static_cast<std::uint32_t>(st.st_mode & 07777)};
  }

  void keep_permissions(const std::string& path, std::uint32_t permissions) override {
    ::chmod(path.c_str(), static_cast<mode_t>(permissions));
  }

  Result<void> hard_link(const std::string& existing, const std::string& link) override {
    if (::link(existing.c_str(), link.c_str()) == 0) return {};
    Error failed = last_os_error();
    if (means_no_hard_links(failed.code)) failed.kind = ErrorKind::unsupported;
    return failed;
  }

  Result<void> move_file(const std::string& from, const std::string& to, bool replace) override {
    const int moved =
        replace ? ::rename(from.c_str(), to.c_str())
                : ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (moved != 0) return last_os_error();
    return {};
  }

  Result<void> sync_directory(const std::string& dir) override { return sync_directory_at(dir); }

  Result<std::vector<std::string>> directory_names(const std::string& dir) override {
    DIR* stream = ::opendir(dir.empty() ? "." : dir.c_str());
    if (stream == nullptr) return last_os_error();
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = ::readdir(stream)) {
      const std::string_view name = entry->d_name;
      if (name != "." && name != "..") names.emplace_back(name);
    }
    Result<std::vector<std::string>> listed = names;
    if (errno != 0) listed = last_os_error();
    ::closedir(stream);
    return listed;
  }

  std::string_view path_separators() const override { return "/"; }

  bool held_by_another_program(const Error&) const override { return false; }

  SystemErrorCause system_error_cause(int code) const override {
    return code == EIO ? SystemErrorCause::device_failed : SystemErrorCause::none;
  }

  Result<std::string> local_time_stamp() override {
    std::time_t now = std::time(nullptr);
    if (now < 0) return Error{ErrorKind::other, 0, "the system clock reads a time before 1970"};
    std::tm local{};
    if (::localtime_r(&now, &local) == nullptr) return last_os_error();
    char text[32];
    std::size_t length = std::strftime(text, sizeof text, "%y%m%d_%H%M%S", &local);
    if (length == 0) return Error{ErrorKind::other, 0, "the local time could not be formatted"};
    return std::string(text, length);
  }

  void sleep_milliseconds(int milliseconds) override {
    struct timespec wait {
      milliseconds / 1000, (milliseconds % 1000) * 1000000L
    };
    while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
  }

  [[noreturn]] void exit_process(int status) override { std::exit(status); }

  void advise_large_memory(void* p, std::size_t size) override {
#if defined(MADV_HUGEPAGE)
    // Only whole large pages inside the range can be backed so.
    constexpr std::uintptr_t kLargePage = std::uintptr_t{2} << 20;
    const std::uintptr_t begin =
        (reinterpret_cast<std::uintptr_t>(p) + kLargePage - 1) & ~(kLargePage - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(p) + size) & ~(kLargePage - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)p, (void)size;
#endif
  }

  [[noreturn]] void fail_out_of_memory(std::size_t bytes) override {
    // No allocation here: the report is formatted on the stack.
    char text[64];
    int length = std::snprintf(text, sizeof text, "memory allocation of %zu bytes failed\n", bytes);
    if (length > 0) {
      [[maybe_unused]] ssize_t ignored = ::write(2, text, static_cast<std::size_t>(length));
    }
    std::abort();
  }
};

}  // namespace

Platform& native_platform() {
  static PosixPlatform instance;
  return instance;
}

}  // namespace corvandel
