#!/usr/bin/env bash
# Builds everything and runs every test. Installs the Debian packages it needs when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh g++ cmake ninja-build libgtest-dev libgmock-dev
# The robustness tests in every suite use strace; the sanitizer and fuzz builds use clang.
tools/install-deps.sh strace clang libclang-rt-14-dev

echo "=== Linux build and tests"
cmake --preset linux -DCORVANDEL_BUILD_TESTS=ON
cmake --build --preset linux
ctest --preset linux -j "$(nproc)"

echo "=== Windows build and tests (mingw-w64 cross build, run under Wine)"
tools/install-deps.sh g++-mingw-w64-x86-64-posix googletest wine64 tmux
export WINEPREFIX="$PWD/build/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine sets up its prefix on first start; done once here so that no test waits for it.
/usr/lib/wine/wine64 wineboot -i
cmake --preset windows
cmake --build --preset windows
ctest --preset windows
# corvandel.exe driven by the Linux build's tests (built by the Linux section above).
ctest --preset windows-end-to-end -j "$(nproc)"
rm -f build/windows/corvandel-*-win64.zip
cpack --preset windows
ls build/windows/corvandel-*-win64.zip

# --- Robustness: sanitizers, fuzzing ------------------------------------------------------------
# The fault-injection, crash and bad-input tests are part of both suites (robustness_tests); the
# strace-based ones need strace. The asan suite runs everything under AddressSanitizer and
# UndefinedBehaviorSanitizer; the fuzz target runs for a bounded time and fails on any finding.

echo "=== Sanitized build and tests (AddressSanitizer, UndefinedBehaviorSanitizer)"
cmake --preset asan
cmake --build --preset asan
ctest --preset asan -j "$(nproc)"

echo "=== Fuzzing the word-list format (${CORVANDEL_FUZZ_SECONDS:-60} s)"
cmake --preset fuzz
cmake --build --preset fuzz
mkdir -p build/fuzz/corpus
build/fuzz/tests/fuzz/word_list_fuzzer -max_total_time="${CORVANDEL_FUZZ_SECONDS:-60}" \
  -print_final_stats=1 build/fuzz/corpus tests/fuzz/corpus
