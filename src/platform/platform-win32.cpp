// The platform layer on Windows, in the system's own wide-character API: paths and console text
// cross it as UTF-16, converted from and to the program's UTF-8.
#ifndef UNICODE
#define UNICODE
#endif
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include "platform/platform-win32.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform-win32-calls.h"
#include "platform/platform.h"

namespace corvandel {
namespace win32 {

FileCalls& file_calls() {
  static FileCalls calls;
  return calls;
}

namespace {

FileCalls& sys() {
  return file_calls();
}

// Codes that this build's headers do not name.
constexpr DWORD kErrorDirectoryNotSupported = 336;
constexpr DWORD kErrorDiskQuotaExceeded = 1295;

// Error codes with this bit set may be NTSTATUS values; their texts are in NTDLL's messages.
constexpr DWORD kNtStatusBit = 0x10000000;

// Paths of this many UTF-16 units or more do not fit the classic limit of CreateDirectoryW (248
// units with the terminator) and are always passed in the extended-length form.
constexpr std::size_t kLegacyPathLimit = 247;

constexpr std::wstring_view kExtendedPrefix = L"\\\\?\\";
constexpr std::wstring_view kExtendedUncPrefix = L"\\\\?\\UNC\\";
constexpr std::wstring_view kNtPrefix = L"\\??\\";
constexpr std::wstring_view kDevicePrefix = L"\\\\.\\";

// The largest amount handed to one ReadFile, WriteFile or WriteConsoleW call.
constexpr DWORD kMaxIoBytes = 1u << 30;
constexpr std::size_t kConsoleChunk = 8192;

// What Ctrl+Z types at a console; as the first key of a line it means end of input.
constexpr wchar_t kCtrlZ = 0x1A;

ErrorKind kind_of(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return ErrorKind::not_found;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return ErrorKind::permission_denied;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return ErrorKind::already_exists;
    case kErrorDirectoryNotSupported:
      return ErrorKind::is_a_directory;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_INVALID_PARAMETER:
      return ErrorKind::invalid_input;
    case ERROR_INVALID_DATA:
      return ErrorKind::invalid_data;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_FILE_TOO_LARGE:
    case kErrorDiskQuotaExceeded:
      return ErrorKind::storage_full;
    case ERROR_NOT_SAME_DEVICE:
      return ErrorKind::cross_device;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
    case ERROR_CALL_NOT_IMPLEMENTED:
      return ErrorKind::unsupported;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
    case ERROR_PIPE_NOT_CONNECTED:
      return ErrorKind::broken_pipe;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ErrorKind::out_of_memory;
    case ERROR_OPERATION_ABORTED:
      return ErrorKind::interrupted;
    default:
      return ErrorKind::other;
  }
}

Error last_os_error() {
  return os_error(GetLastError());
}

// The system's message for `code`, or the fallback text when it has none.
std::string system_message(DWORD code) {
  DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  HMODULE module = nullptr;
  DWORD lookup = code;
  if ((code & kNtStatusBit) != 0) {
    module = GetModuleHandleW(L"ntdll.dll");
    if (module != nullptr) {
      flags |= FORMAT_MESSAGE_FROM_HMODULE;
      lookup = code & ~kNtStatusBit;
    }
  }
  wchar_t buffer[2048];
  DWORD length = FormatMessageW(flags, module, lookup, 0, buffer,
                                static_cast<DWORD>(std::size(buffer)), nullptr);
  if (length == 0) {
    DWORD failure = GetLastError();
    return "OS Error " + std::to_string(static_cast<int>(code)) +
           " (FormatMessageW() returned error " + std::to_string(failure) + ")";
  }
  return message_part(std::wstring_view(buffer, length), code);
}

// `text` converted by `convert` (MultiByteToWideChar or WideCharToMultiByte with its flags), once
// for the length, once into a string of it; nothing when refused (GetLastError() tells why).
template <class To, class From, class Convert>
std::optional<To> converted(From text, Convert convert) {
  if (text.empty()) return To();
  const int size = static_cast<int>(std::min<std::size_t>(text.size(), INT32_MAX));
  const int length = convert(text.data(), size, nullptr, 0);
  if (length == 0) return std::nullopt;
  To result(static_cast<std::size_t>(length), typename To::value_type{});
  convert(text.data(), size, result.data(), length);
  return result;
}

std::optional<std::wstring> utf16_of(std::string_view text, DWORD flags) {
  return converted<std::wstring>(text, [flags](const char* from, int size, wchar_t* to, int n) {
    return MultiByteToWideChar(CP_UTF8, flags, from, size, to, n);
  });
}

// Nothing for text that is not valid UTF-8 or is longer than INT32_MAX bytes.
std::optional<std::wstring> to_utf16(std::string_view text) {
  if (text.size() > static_cast<std::size_t>(INT32_MAX)) return std::nullopt;
  return utf16_of(text, MB_ERR_INVALID_CHARS);
}

bool is_separator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

bool starts_with(std::wstring_view text, std::wstring_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// "C:\…" or "C:/…", or two separators ("\\server\share", "\\.\device").
bool is_absolute(std::wstring_view path) {
  if (path.size() >= 3 && path[1] == L':' && is_separator(path[2]) && !is_separator(path[0])) {
    return true;
  }
  return path.size() >= 2 && is_separator(path[0]) && is_separator(path[1]);
}

// The extended-length form of a full path as GetFullPathNameW returns it (backslashes only).
std::wstring with_extended_prefix(std::wstring_view full) {
  if (starts_with(full, kExtendedPrefix) || starts_with(full, kNtPrefix)) {
    return std::wstring(full);
  }
  if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') {
    return std::wstring(kExtendedPrefix) + std::wstring(full);
  }
  if (starts_with(full, kDevicePrefix)) {
    return std::wstring(kExtendedPrefix) + std::wstring(full.substr(kDevicePrefix.size()));
  }
  if (starts_with(full, L"\\\\")) {
    return std::wstring(kExtendedUncPrefix) + std::wstring(full.substr(2));
  }
  return std::wstring(full);
}

Result<std::wstring> full_path(const std::wstring& path) {
  DWORD capacity = static_cast<DWORD>(path.size()) + MAX_PATH;
  for (;;) {
    std::wstring full(capacity, L'\0');
    DWORD length = sys().GetFullPathNameW(path.c_str(), capacity, full.data(), nullptr);
    if (length == 0) return last_os_error();
    if (length < capacity) {
      full.resize(length);
      return full;
    }
    capacity = length;  // the size needed, terminator included
  }
}

// Owns a handle from CreateFileW.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (valid()) sys().CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  HANDLE release() { return std::exchange(handle_, INVALID_HANDLE_VALUE); }

 private:
  HANDLE handle_;
};

// Whether `code` is the refusal of a file that another program holds open: a sharing violation,
// or access denied (what a file held without leave to delete it, or one being deleted, gives).
bool held(DWORD code) {
  return code == ERROR_SHARING_VIOLATION || code == ERROR_ACCESS_DENIED;
}

// Runs a Win32 `call` (true on success; else GetLastError() tells why) as retry_while_held() does.
template <class Call>
Result<void> retrying(Call call) {
  return retry_while_held(native_platform(), [&]() -> Result<void> {
    if (call()) return {};
    return last_os_error();
  });
}

// What the file open as `handle` is: its identity, size and times of change. The change time
// moves with every write, also when another program puts the modification time back.
Result<FileState> state_of(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  FILE_BASIC_INFO times;
  if (!sys().GetFileInformationByHandle(handle, &info) ||
      !sys().GetFileInformationByHandleEx(handle, FileBasicInfo, &times, sizeof times)) {
    return last_os_error();
  }
  std::string text;
  for (unsigned long long part :
       {ULONGLONG{info.dwVolumeSerialNumber}, ULONGLONG{info.nFileIndexHigh},
        ULONGLONG{info.nFileIndexLow}, ULONGLONG{info.nFileSizeHigh}, ULONGLONG{info.nFileSizeLow},
        static_cast<ULONGLONG>(times.LastWriteTime.QuadPart),
        static_cast<ULONGLONG>(times.ChangeTime.QuadPart)}) {
    text += std::to_string(part) + ":";
  }
  return FileState{std::move(text), info.dwFileAttributes};
}

// Writes all of `text` to a file, pipe or UTF-8 console, unchanged.
Result<void> write_bytes(HANDLE handle, std::string_view text) {
  while (!text.empty()) {
    DWORD written = 0;
    DWORD amount = static_cast<DWORD>(std::min<std::size_t>(text.size(), kMaxIoBytes));
    if (!sys().WriteFile(handle, text.data(), amount, &written, nullptr)) return last_os_error();
    if (written == 0) return Error{ErrorKind::other, 0, "failed to write the whole text"};
    text.remove_prefix(written);
  }
  return {};
}

// Writes `text` to a console as UTF-16, so that it shows as itself whatever the code page.
Result<void> write_console(HANDLE handle, std::string_view text) {
  if (text.empty()) return {};
  // The program's messages are valid UTF-8; anything else would show as U+FFFD.
  const std::optional<std::wstring> wide = utf16_of(text, 0);
  if (!wide) return last_os_error();

  std::wstring_view rest = *wide;
  while (!rest.empty()) {
    std::size_t chunk = std::min(rest.size(), kConsoleChunk);
    // Never split a surrogate pair between two calls.
    if (chunk < rest.size() && IS_HIGH_SURROGATE(rest[chunk - 1])) --chunk;
    DWORD written = 0;
    if (!WriteConsoleW(handle, rest.data(), static_cast<DWORD>(chunk), &written, nullptr)) {
      return last_os_error();
    }
    if (written == 0) return Error{ErrorKind::other, 0, "failed to write the whole text"};
    rest.remove_prefix(written);
  }
  return {};
}

// A standard stream that does not exist, or whose handle is not valid, swallows the text.
Result<void> write_standard(DWORD which, std::string_view text) {
  HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return {};
  DWORD mode = 0;
  Result<void> written = GetConsoleMode(handle, &mode) && GetConsoleOutputCP() != CP_UTF8
                             ? write_console(handle, text)
                             : write_bytes(handle, text);
  if (!written && written.error().code == static_cast<int>(ERROR_INVALID_HANDLE)) return {};
  return written;
}

Result<void> read_console_line(HANDLE handle) {
  wchar_t buffer[256];
  bool at_line_start = true;
  for (;;) {
    // The wake-up mask makes Ctrl+Z return at once, without Enter.
    CONSOLE_READCONSOLE_CONTROL control{sizeof(CONSOLE_READCONSOLE_CONTROL), 0, 1u << kCtrlZ, 0};
    DWORD count = 0;
    if (!ReadConsoleW(handle, buffer, static_cast<DWORD>(std::size(buffer)), &count, &control)) {
      return last_os_error();
    }
    if (count == 0 || ends_console_read(std::wstring_view(buffer, count), at_line_start)) {
      return {};
    }
  }
}

Result<void> read_file_line(HANDLE handle) {
  // One byte at a time, so that only the first line is consumed.
  for (;;) {
    char c = 0;
    DWORD count = 0;
    if (!sys().ReadFile(handle, &c, 1, &count, nullptr)) {
      DWORD code = GetLastError();
      // A pipe whose writer has gone is at its end.
      if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF) return {};
      return os_error(code);
    }
    if (count == 0 || c == '\n') return {};
  }
}

class Win32OutputFile final : public OutputFile {
 public:
  explicit Win32OutputFile(HANDLE handle) : handle_(handle) {}

  Result<void> write(std::string_view bytes) override { return write_bytes(handle_.get(), bytes); }

  Result<void> restart() override {
    if (!sys().SetFilePointerEx(handle_.get(), LARGE_INTEGER{}, nullptr, FILE_BEGIN) ||
        !sys().SetEndOfFile(handle_.get())) {
      return last_os_error();
    }
    return {};
  }

  Result<void> finish() override {
    if (!sys().FlushFileBuffers(handle_.get())) return last_os_error();
    if (!sys().CloseHandle(handle_.release())) return last_os_error();
    return {};
  }

 private:
  Handle handle_;
};

class Win32InputFile final : public InputFile {
 public:
  explicit Win32InputFile(HANDLE handle) : handle_(handle) {}

  // Refuses anything but a file on disk that is not a directory; notes the size.
  Result<void> check_regular() {
    SetLastError(NO_ERROR);
    if (sys().GetFileType(handle_.get()) != FILE_TYPE_DISK) {
      if (GetLastError() != NO_ERROR) return last_os_error();
      return Error{ErrorKind::not_a_regular_file, 0, "not a regular file"};
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!sys().GetFileInformationByHandle(handle_.get(), &info)) return last_os_error();
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return os_error(kErrorDirectoryNotSupported);
    }
    size_ = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return {};
  }

  Result<std::size_t> read(char* buffer, std::size_t size) override {
    DWORD count = 0;
    const DWORD amount = static_cast<DWORD>(std::min<std::size_t>(size, kMaxIoBytes));
    if (!sys().ReadFile(handle_.get(), buffer, amount, &count, nullptr)) return last_os_error();
    return std::size_t{count};
  }

  std::uint64_t size_when_opened() const override { return size_; }

  Result<std::string> state() override {
    Result<FileState> now = state_of(handle_.get());
    if (!now) return now.error();
    return std::move(now.value().identity);
  }

  Result<void> rewind() override {
    if (!sys().SetFilePointerEx(handle_.get(), LARGE_INTEGER{}, nullptr, FILE_BEGIN)) {
      return last_os_error();
    }
    return {};
  }

 private:
  Handle handle_;
  std::uint64_t size_ = 0;
};

// A lock by LockFileEx on an open handle: the system drops it when the process ends.
class Win32FileLock final : public FileLock {
 public:
  explicit Win32FileLock(HANDLE handle) : handle_(handle) {}

 private:
  Handle handle_;
};

// What the file at `path` is now, as state_of() tells it.
Result<FileState> state_at(const std::wstring& path) {
  Handle file(sys().CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.valid()) return last_os_error();
  return state_of(file.get());
}

std::string two_digits(unsigned value) {
  return {static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
}

// FILETIME of 1970-01-01 00:00 UTC, in 100-nanosecond units since 1601.
constexpr ULONGLONG kUnixEpochFileTime = 116444736000000000ULL;

class Win32Platform final : public Platform {
 public:
  Result<void> write_stdout(std::string_view text) override {
    return write_standard(STD_OUTPUT_HANDLE, text);
  }
  Result<void> write_stderr(std::string_view text) override {
    return write_standard(STD_ERROR_HANDLE, text);
  }

  Result<void> read_stdin_line() override {
    HANDLE handle = GetStdHandle(STD_INPUT_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return {};
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) ? read_console_line(handle) : read_file_line(handle);
  }

  std::optional<std::string> environment_variable(const char* name) override {
    std::optional<std::wstring> wide_name = to_utf16(name);
    if (!wide_name) return std::nullopt;
    std::wstring value(256, L'\0');
    for (;;) {
      SetLastError(ERROR_SUCCESS);
      DWORD length = GetEnvironmentVariableW(wide_name.value().c_str(), value.data(),
                                             static_cast<DWORD>(value.size()));
      if (length == 0) {
        // Zero is also the length of an empty value, which leaves the error unset.
        if (GetLastError() != ERROR_SUCCESS) return std::nullopt;
        value.clear();
        break;
      }
      if (length < value.size()) {
        value.resize(length);
        break;
      }
      value.resize(length);  // the size needed, terminator included
    }
    return to_utf8(value);
  }

  std::span<const std::string_view> system_help_options() const override {
    static constexpr std::string_view kOptions[] = {"/?", "/help", "/h", "-?"};
    return kOptions;
  }

  Result<FileType> file_type(const std::string& path) override {
    Result<std::wstring> wide = api_path(path);
    if (!wide) return wide.error();
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!sys().GetFileAttributesExW(wide.value().c_str(), GetFileExInfoStandard, &data)) {
      return last_os_error();
    }
    DWORD attributes = data.dwFileAttributes;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      // A symbolic link or junction: report what it leads to.
      Handle target(sys().CreateFileW(wide.value().c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
      if (!target.valid()) return last_os_error();
      BY_HANDLE_FILE_INFORMATION info;
      if (!sys().GetFileInformationByHandle(target.get(), &info)) return last_os_error();
      attributes = info.dwFileAttributes;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return FileType::directory;
    if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) return FileType::other;
    return FileType::regular;
  }

  Result<void> make_directory(const std::string& path) override {
    Result<std::wstring> wide = api_path(path);
    if (!wide) return wide.error();
    if (sys().CreateDirectoryW(wide.value().c_str(), nullptr)) return {};
    Error failed = last_os_error();
    // Only a missing parent directory counts as not found here (a missing drive, server or share
    // cannot be made by making parents).
    if (failed.code != ERROR_PATH_NOT_FOUND && failed.kind == ErrorKind::not_found) {
      failed.kind = ErrorKind::other;
    }
    return failed;
  }

  Result<std::unique_ptr<InputFile>> open_file(const std::string& path) override {
    Result<std::wstring> wide = api_path(path);
    if (!wide) return wide.error();
    // Backup semantics let a directory be opened, so that it is reported as one.
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (Result<void> opened = retrying([&] {
          handle = sys().CreateFileW(
              wide.value().c_str(), GENERIC_READ,
              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
          return handle != INVALID_HANDLE_VALUE;
        });
        !opened) {
      return opened.error();
    }
    auto file = std::make_unique<Win32InputFile>(handle);
    if (Result<void> checked = file->check_regular(); !checked) return checked.error();
    return std::unique_ptr<InputFile>(std::move(file));
  }

  Result<std::unique_ptr<OutputFile>> create_new_file(const std::string& path) override {
    Result<std::wstring> wide = api_path(path);
    if (!wide) return wide.error();
    HANDLE handle = sys().CreateFileW(wide.value().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return last_os_error();
    return std::unique_ptr<OutputFile>(new Win32OutputFile(handle));
  }

  Result<std::unique_ptr<FileLock>> lock_file(const std::string& path, bool wait) override {
    Result<std::wstring> wide = api_path(path);
    if (!wide) return wide.error();
    Handle file(sys().CreateFileW(wide.value().c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return last_os_error();
    OVERLAPPED start{};
    const DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
    if (!sys().LockFileEx(file.get(), flags, 0, 1, 0, &start)) {
      Error failed = last_os_error();
      if (failed.code == ERROR_LOCK_VIOLATION) failed.kind = ErrorKind::busy;
      return failed;
    }
    return std::unique_ptr<FileLock>(new Win32FileLock(file.release()));
  }

  Result<void> remove_file(const std::string& path) override {
    Result<std::wstring> wide = api_path(path);
    if (!wide) return wide.error();
    return retrying([&] { return sys().DeleteFileW(wide.value().c_str()) != 0; });
  }

  Result<void> wait_until_replaceable(const std::string& path) override {
    Result<std::wstring> wide = api_path(path);
    if (!wide) return wide.error();
    return retrying([&] {
      return Handle(sys().CreateFileW(wide.value().c_str(), DELETE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr))
          .valid();
    });
  }

  Result<FileState> file_state(const std::string& path) override {
    Result<std::wstring> wide = api_path(path);
    if (!wide) return wide.error();
    return state_at(wide.value());
  }

  // The attributes that a replacement keeps; not the read-only one, which would keep the next
  // run from replacing the list.
  void keep_permissions(const std::string& path, std::uint32_t attributes) override {
    constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    if (Result<std::wstring> wide = api_path(path)) {
      sys().SetFileAttributesW(wide.value().c_str(), attributes & kKept);
    }
  }

  Result<void> hard_link(const std::string& existing, const std::string& link) override {
    Result<std::wstring> from = api_path(existing), to = api_path(link);
    if (!from) return from.error();
    if (!to) return to.error();
    if (sys().CreateHardLinkW(to.value().c_str(), from.value().c_str(), nullptr)) return {};
    // Volumes without hard links (FAT32, exFAT) answer so.
    return last_os_error();
  }

  // Moves with MOVEFILE_WRITE_THROUGH return only once the move is on disk.
  Result<void> move_file(const std::string& from, const std::string& to, bool replace) override {
    Result<std::wstring> source = api_path(from), target = api_path(to);
    if (!source) return source.error();
    if (!target) return target.error();
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!sys().MoveFileExW(source.value().c_str(), target.value().c_str(), flags)) {
      return last_os_error();
    }
    return {};
  }

  Result<void> sync_directory(const std::string&) override { return {}; }

  Result<std::vector<std::string>> directory_names(const std::string& dir) override {
    const bool ends_in_separator = !dir.empty() && (dir.back() == '\\' || dir.back() == '/');
    Result<std::wstring> pattern = api_path(dir + (ends_in_separator ? "*" : "\\*"));
    if (!pattern) return pattern.error();
    WIN32_FIND_DATAW found;
    const HANDLE search = sys().FindFirstFileExW(pattern.value().c_str(), FindExInfoBasic, &found,
                                                 FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return last_os_error();
    std::vector<std::string> names;
    Result<std::vector<std::string>> listed = names;
    do {
      const std::wstring_view name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      if (std::optional<std::string> text = to_utf8(name)) names.push_back(std::move(*text));
    } while (sys().FindNextFileW(search, &found));
    listed = GetLastError() == ERROR_NO_MORE_FILES ? Result<std::vector<std::string>>(names)
                                                   : last_os_error();
    sys().FindClose(search);
    return listed;
  }

  std::string_view path_separators() const override { return "\\/"; }

  bool held_by_another_program(const Error& error) const override {
    return held(static_cast<DWORD>(error.code));
  }

  SystemErrorCause system_error_cause(int code) const override {
    switch (static_cast<DWORD>(code)) {
      case ERROR_SHARING_VIOLATION:
      case ERROR_LOCK_VIOLATION:
        return SystemErrorCause::held_by_another_program;
      case ERROR_NOT_READY:
      case ERROR_CRC:
      case ERROR_IO_DEVICE:
        return SystemErrorCause::device_failed;
      default:
        return SystemErrorCause::none;
    }
  }

  Result<std::string> local_time_stamp() override {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULONGLONG ticks = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    if (ticks < kUnixEpochFileTime) {
      return Error{ErrorKind::other, 0, "the system clock reads a time before 1970"};
    }
    SYSTEMTIME utc;
    SYSTEMTIME local;
    // The time zone's rules for this very date, daylight saving time included.
    if (!FileTimeToSystemTime(&now, &utc) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
      return last_os_error();
    }
    // "%y%m%d_%H%M%S"
    return two_digits(local.wYear % 100) + two_digits(local.wMonth) + two_digits(local.wDay) + "_" +
           two_digits(local.wHour) + two_digits(local.wMinute) + two_digits(local.wSecond);
  }

  void sleep_milliseconds(int milliseconds) override {
    Sleep(static_cast<DWORD>(std::max(milliseconds, 0)));
  }

  // Large pages need a privilege that users do not have.
  void advise_large_memory(void*, std::size_t) override {}

  [[noreturn]] void fail_out_of_memory(std::size_t bytes) override {
    // No allocation here: the report is put together on the stack.
    char text[64] = "memory allocation of ";
    char* end = text + std::strlen(text);
    end = std::to_chars(end, text + sizeof text, bytes).ptr;
    constexpr std::string_view kTail = " bytes failed\n";
    std::memcpy(end, kTail.data(), kTail.size());
    end += kTail.size();
    HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(handle, text, static_cast<DWORD>(end - text), &written, nullptr);
    }
    // The fail-fast request (__fastfail): ends the process at once with
    // STATUS_STACK_BUFFER_OVERRUN (0xC0000409), past every exception handler.
    __asm__ volatile("int $0x29" : : "c"(FAST_FAIL_FATAL_APP_EXIT) : "memory");
    __builtin_unreachable();
  }

  [[noreturn]] void exit_process(int status) override { std::exit(status); }
};

}  // namespace

Result<std::wstring> api_path(std::string_view path) {
  std::optional<std::wstring> wide = to_utf16(path);
  if (!wide) return Error{ErrorKind::invalid_input, 0, "path is not valid UTF-8"};
  std::wstring& text = *wide;
  if (text.find(L'\0') != std::wstring::npos) {
    return Error{ErrorKind::invalid_input, 0, "path contains a NUL character"};
  }
  // In the extended-length form the system converts no separator, so that the forward slash of
  // the backup names becomes a backslash here.
  if (starts_with(text, kExtendedPrefix) || starts_with(text, kNtPrefix)) {
    std::replace(text.begin(), text.end(), L'/', L'\\');
    return std::move(text);
  }
  if (text.size() < kLegacyPathLimit && is_absolute(text)) return std::move(text);
  Result<std::wstring> full = full_path(text);
  if (!full) return full;
  return with_extended_prefix(full.value());
}

std::optional<std::string> to_utf8(std::wstring_view text) {
  return converted<std::string>(text, [](const wchar_t* from, int size, char* to, int n) {
    return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, from, size, to, n, nullptr, nullptr);
  });
}

Error os_error(unsigned long code) {
  return Error{kind_of(code), static_cast<int>(code),
               system_message(code) + " (os error " + std::to_string(static_cast<int>(code)) + ")"};
}

std::string message_part(std::wstring_view message, unsigned long code) {
  // Messages end in CR LF, some in a space before it; all of Unicode's White_Space is trimmed.
  constexpr std::wstring_view kWhitespace =
      L"\t\n\v\f\r \x85\xA0\x1680\x2000\x2001\x2002\x2003"
      L"\x2004\x2005\x2006\x2007\x2008\x2009\x200A\x2028\x2029\x202F\x205F\x3000";
  message = message.substr(0, message.find_last_not_of(kWhitespace) + 1);
  std::optional<std::string> text = to_utf8(message);
  if (!text) {
    return "OS Error " + std::to_string(static_cast<int>(code)) +
           " (FormatMessageW() returned invalid UTF-16)";
  }
  return std::move(*text);
}

bool ends_console_read(std::wstring_view typed, bool& at_line_start) {
  for (wchar_t c : typed) {
    if (c == L'\n' || (c == kCtrlZ && at_line_start)) return true;
    at_line_start = false;
  }
  return false;
}

}  // namespace win32

Platform& native_platform() {
  static win32::Win32Platform instance;
  return instance;
}

}  // namespace corvandel
