// Holds a file open without sharing, as an editor may, for the Wine tests: says "held" then, and
// again until nothing reads it.
#include <windows.h>

#include <cstdio>

int main(int, char** argv) {
  const HANDLE file = CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  while (file != INVALID_HANDLE_VALUE && std::printf("held") > 0 && !std::fflush(stdout))
    Sleep(100);
}
