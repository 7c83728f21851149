// The Win32 calls that the Windows platform layer makes on files and folders, in one table that a
// test can change entry by entry, to fail a call or stop the process inside it. The program
// itself never changes it.
#pragma once

#ifndef UNICODE
#define UNICODE
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace corvandel::win32 {

// X(name) for each call, in the table's order.
#define CORVANDEL_WIN32_FILE_CALLS(X) \
  X(CreateFileW)                      \
  X(ReadFile)                         \
  X(WriteFile)                        \
  X(FlushFileBuffers)                 \
  X(CloseHandle)                      \
  X(GetFileType)                      \
  X(GetFileInformationByHandle)       \
  X(GetFileInformationByHandleEx)     \
  X(SetFilePointerEx)                 \
  X(SetEndOfFile)                     \
  X(GetFileAttributesExW)             \
  X(SetFileAttributesW)               \
  X(CreateDirectoryW)                 \
  X(CreateHardLinkW)                  \
  X(MoveFileExW)                      \
  X(DeleteFileW)                      \
  X(LockFileEx)                       \
  X(FindFirstFileExW)                 \
  X(FindNextFileW)                    \
  X(FindClose)                        \
  X(GetFullPathNameW)

struct FileCalls {
#define CORVANDEL_ENTRY(name) decltype(&::name) name = &::name;
  CORVANDEL_WIN32_FILE_CALLS(CORVANDEL_ENTRY)
#undef CORVANDEL_ENTRY
};

/// The table in use; the system's own calls unless a test put others in.
FileCalls& file_calls();

}  // namespace corvandel::win32
