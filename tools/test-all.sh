#!/usr/bin/env bash
# Builds everything and runs every test. Installs the Debian packages it needs when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh g++ cmake ninja-build libgtest-dev strace clang-16 libclang-rt-16-dev \
  g++-mingw-w64-x86-64-posix googletest wine64 tmux lintian dpkg-dev groff-base zip git
version=$(sed -n 's/^project(corvandel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
# What runs in the background (the Wine session, the fuzzers) ends with this script.
background=()
trap '/usr/lib/wine/wineserver -k 2>/dev/null; kill "${background[@]}" 2>/dev/null || true' EXIT
# The time stamps in the packages, here and in the second build below: the commit's time.
SOURCE_DATE_EPOCH=$(cmake -P cmake/source-date-epoch.cmake)
export SOURCE_DATE_EPOCH

echo "=== Includes point down the layers, with no circle"
tools/check-includes.sh

echo "=== Linux build and tests"
cmake --preset linux -DCORVANDEL_BUILD_TESTS=ON
cmake --build --preset linux
ctest --preset linux -j "$(nproc)"

echo "=== Windows build and tests (mingw-w64 cross build, run under Wine)"
export WINEPREFIX="$PWD/build/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine sets up its prefix on first start, here while the Windows tree builds.
mkdir -p build && /usr/lib/wine/wine64 wineboot -i >build/wine.log 2>&1 &
cmake --preset windows -DCORVANDEL_BUILD_TESTS=ON
cmake --build --preset windows
wait
# One Wine session for all the Wine tests: a server that stays up and a start of its devices done
# once, so that no test meets Wine's own start-up (whose device host can fault when it races).
/usr/lib/wine/wineserver -p
/usr/lib/wine/wine64 wineboot >>build/wine.log 2>&1
tools/check-exe.sh build/windows/corvandel.exe "$version"
ctest --preset windows
# The whole-run table against corvandel.exe, driven by the Linux build's tests.
ctest --preset windows-end-to-end -j "$(nproc)"

echo "=== Packages: the .deb, the .tar.gz and the Windows .zip"
rm -f build/linux/corvandel[-_]* build/windows/corvandel-*.zip
cpack --preset linux && cpack --preset windows
deb=build/linux/corvandel_${version}_amd64.deb zip=build/windows/corvandel-$version-win64.zip
lintian --fail-on error,warning,info "$deb"
[ -z "$(groff -ww -z -man build/linux/packaging/corvandel.1 2>&1)" ]  # the manual page is clean
# The installed program, on a scratch copy of the example lists.
scratch=$(mktemp -d) && dpkg -x "$deb" "$scratch" && cp -r examples/DicLists "$scratch/"
QUILLMERE_DIR="$scratch/" "$scratch/usr/bin/corvandel" </dev/null | grep -x 'Update successful.' >/dev/null
tools/check-program.sh "$scratch/usr/bin/corvandel"
[ "$(cmake -E tar tf "$zip" | sort | xargs)" = "LICENSE.txt README.txt corvandel.exe" ]
(cd "$scratch" && cmake -E tar xf "$OLDPWD/$zip" && ! grep -q -v $'\r$' README.txt LICENSE.txt)
rm -rf "$scratch"

echo "=== Reproducible packages: the same sources built again in another folder"
# The sources as they stand (committed or not, untracked files too, but no ignored ones) are
# copied to a temporary folder and built there by tools/build-packages.sh, at another time and
# without the tests; every file must have the same SHA-256 sum as its twin in this tree.
copy=$(mktemp -d "${TMPDIR:-/tmp}/corvandel-rebuild.XXXXXX")/corvandel
mkdir "$copy"
git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' file; do [ ! -e "$file" ] || printf '%s\0' "$file"; done |
  tar --null --files-from=- -cf - | tar -C "$copy" -xf -
"$copy/tools/build-packages.sh" >"$copy.log" 2>&1 || { cat "$copy.log"; exit 1; }
if ! sha256sum -c "$copy/build/SHA256SUMS"; then
  echo "The second build differs in the files marked FAILED; it stays in $copy for a look" \
    "(diffoscope shows where two files differ)." >&2
  exit 1
fi
rm -rf "$(dirname "$copy")"

echo "=== Sanitized build and tests (AddressSanitizer, UndefinedBehaviorSanitizer), and fuzzing"
cmake --preset asan
cmake --build --preset asan
cmake --preset fuzz
cmake --build --preset fuzz
# The fuzzers run while the sanitized tests wait on their processes.
seconds=${CORVANDEL_FUZZ_SECONDS:-30}
declare -A fuzzing
for fuzzer in word_list_fuzzer merge_pass_fuzzer; do
  mkdir -p "build/fuzz/corpus-$fuzzer"
  build/fuzz/tests/fuzz/$fuzzer -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix=build/fuzz/ \
    "build/fuzz/corpus-$fuzzer" tests/fuzz/corpus >"build/fuzz/$fuzzer.log" 2>&1 &
  fuzzing[$fuzzer]=$!
  background+=($!)
done
ctest --preset asan -j "$(nproc)"
echo "=== Fuzzing the list format and whole merge passes against the model ($seconds s)"
for fuzzer in "${!fuzzing[@]}"; do
  wait "${fuzzing[$fuzzer]}" || { cat "build/fuzz/$fuzzer.log"; exit 1; }
  tail -n 7 "build/fuzz/$fuzzer.log"
done
