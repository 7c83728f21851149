#!/usr/bin/env bash
# Builds everything and runs every test. Installs the Debian packages it needs when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh g++ cmake ninja-build libgtest-dev libgmock-dev

echo "=== Linux build and tests"
cmake --preset linux
cmake --build --preset linux
ctest --preset linux -j "$(nproc)"
