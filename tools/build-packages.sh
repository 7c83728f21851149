#!/usr/bin/env bash
# Builds the packages of this checkout as a release is built, with the presets linux and windows,
# and prints the SHA-256 sum of each file that the release is made of (also written to
# build/SHA256SUMS). Every build of one commit gives the same bytes; see "Verifying a download" in
# the README. Given downloaded packages, it says of each whether it is the same as the one built
# here, and fails if one is not.
# Usage: tools/build-packages.sh [DOWNLOADED-PACKAGE...]
set -euo pipefail
for download in "$@"; do
  [ -f "$download" ] || { echo "No such file: $download" >&2; exit 2; }
done
downloads=()
for download in "$@"; do downloads+=("$(realpath "$download")"); done
cd "$(dirname "$0")/.."
tools/install-deps.sh g++ cmake ninja-build g++-mingw-w64-x86-64-posix dpkg-dev zip git
version=$(sed -n 's/^project(corvandel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

# The time stamps in the packages: the commit's time unless SOURCE_DATE_EPOCH says otherwise.
SOURCE_DATE_EPOCH=$(cmake -P cmake/source-date-epoch.cmake)
export SOURCE_DATE_EPOCH
echo "=== Packages of corvandel $version, time stamps $(date -u -d "@$SOURCE_DATE_EPOCH" '+%F %T') UTC"

# The tests are not built: they are no part of the packages.
cmake --preset linux -DCORVANDEL_BUILD_TESTS=OFF
cmake --build --preset linux
rm -f build/linux/corvandel[-_]*
cpack --preset linux
cmake --preset windows -DCORVANDEL_BUILD_TESTS=OFF
cmake --build --preset windows
rm -f build/windows/corvandel-*.zip
cpack --preset windows

# The packages, and the two programs as built (before the packaging strips them).
sha256sum build/linux/corvandel_"$version"_amd64.deb build/linux/corvandel-"$version"-Linux.tar.gz \
  build/windows/corvandel-"$version"-win64.zip build/linux/corvandel build/windows/corvandel.exe |
  tee build/SHA256SUMS

status=0
for download in "${downloads[@]}"; do
  name=$(basename "$download")
  built=$(awk -v name="$name" '{ file = $2; sub(".*/", "", file) } file == name { print $2 }' build/SHA256SUMS)
  if [ -z "$built" ]; then
    echo "$download: no package of this name is built here"
    status=1
  elif cmp -s "$download" "$built"; then
    echo "$download: the same as $built"
  else
    echo "$download: DIFFERS from $built"
    status=1
  fi
done
exit "$status"
