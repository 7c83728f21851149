#!/usr/bin/env bash
# Builds corvandel and runs it on a scratch copy of the example lists in examples/DicLists,
# answering the closing prompt, then shows the rewritten lists and the backups.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh g++ cmake ninja-build
cmake --preset linux -DCORVANDEL_BUILD_TESTS=OFF >/dev/null
cmake --build --preset linux --target corvandel

scratch="$PWD/build/linux/example-run"
rm -rf "$scratch"
mkdir -p "$scratch"
cp -r examples/DicLists "$scratch/"

echo "--- running corvandel with QUILLMERE_DIR=$scratch/"
status=0
printf '\n' | QUILLMERE_DIR="$scratch/" build/linux/corvandel || status=$?
echo "--- exit status: $status"
for list in reduced master update_words; do
  echo "--- DicLists/$list.txt"
  cat "$scratch/DicLists/$list.txt"
  echo
done
echo "--- DicLists/BU_Previous_Files"
ls -l "$scratch/DicLists/BU_Previous_Files"
exit "$status"
