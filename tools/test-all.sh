#!/usr/bin/env bash
# Builds everything and runs every test. Installs the Debian packages it needs when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh g++ cmake ninja-build libgtest-dev libgmock-dev
# The robustness tests in every suite use strace; the sanitizer and fuzz builds use clang.
tools/install-deps.sh strace clang libclang-rt-14-dev

echo "=== Linux build and tests"
cmake --preset linux
cmake --build --preset linux
ctest --preset linux -j "$(nproc)"

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
