#!/usr/bin/env bash
# Times a whole corvandel update run on large generated lists against its peers, side by side:
#   sort   the same two merges with `LC_ALL=C sort -u`
#   merge  `sort -u` for the reduced pass, then `sort -m -u` (the merge of sorted files) for the
#          master pass, as a user who knows the lists are sorted would do it (sorted sets only)
#   cat    `cat` + `sync` writing the same bytes: the floor of a durable rewrite
# Every tool ends with its files on disk (`sync`, or corvandel's own flushes). Prints medians,
# spreads and ratios, plots wall time against list size, and runs the micro-benchmarks, with the
# parse cost of each set.
#
# The sets: words mostly ASCII (ascii), a quarter of them in other scripts and mixed case
# (mixed), and Greek alone (greek); each in three states:
#   steady    both lists in written form, as every list is once corvandel has written it (the
#             sorted set after one run), and a fresh update file of 25,000 words: the usual run
#   sorted    the master list in written form, the reduced list edited by hand (unsorted)
#   unsorted  the master list from elsewhere: shuffled, mixed case, repeats
#
# Settings (environment):
#   BENCH_SIZES   master list sizes in millions of words   (default "1 2 5 10 20")
#   BENCH_SETS    sets to measure                          (default all nine: ascii-steady ...)
#   BENCH_ROUNDS  rounds per measurement                   (default 3)
#   BENCH_MAIN    the size whose ratios are the headline   (default 5, or the largest size below)
#   BENCH_MICRO   1 to run the micro-benchmarks            (default 1)
#   BENCH_REFERENCE  another corvandel executable, measured in every round beside this one, its
#                 times and this one's ratio to them reported too (default none)
#   BENCH_BUILD   build and scratch folder                 (default build/bench)
#
# Quick run: BENCH_SIZES="1" BENCH_SETS="ascii-sorted" BENCH_ROUNDS=1 bench/run.sh
# Results go to $BENCH_BUILD/results: runs.tsv (every measurement), summary.txt, scaling.png,
# micro.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh g++ cmake ninja-build time gnuplot-nox libbenchmark-dev

sizes=${BENCH_SIZES:-"1 2 5 10 20"}
sets=${BENCH_SETS:-"ascii-steady mixed-steady greek-steady ascii-sorted ascii-unsorted mixed-sorted mixed-unsorted greek-sorted greek-unsorted"}
rounds=${BENCH_ROUNDS:-3}
build=${BENCH_BUILD:-build/bench}
main_size=${BENCH_MAIN:-5}
case " $sizes " in *" $main_size "*) ;; *) main_size=$(echo "$sizes" | tr ' ' '\n' | sort -n | tail -1) ;; esac
results=$build/results
work=$build/work
mkdir -p "$results"

echo "=== Building (release with debug info, as the linux preset)"
CXX=${CXX:-g++} cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCORVANDEL_BUILD_BENCH=ON -DCORVANDEL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j 2 >/dev/null
corvandel=$(realpath "$build/corvandel")

# The data of a set: build/bench/data/SIZE/SCRIPTS/ORDER/DicLists.
data_of() { echo "$build/data/$1/${2%-*}/${2#*-}"; }

echo "=== Generating lists"
for size in $sizes; do
  for scripts in $(for set in $sets; do echo "${set%-*}"; done | sort -u); do
    data=$build/data/$size/$scripts
    if [ ! -e "$data/done" ] || [ ! -e "$data/steady/update_words.txt" ]; then
      rm -rf "$data"
      "$build/bench/gen_lists" "$((size * 1000000))" "$data" "$scripts"
      touch "$data/done"
    fi
    # The steady state: the sorted set's lists as one run leaves them, and the fresh update file.
    if [ ! -e "$data/steady/done" ]; then
      rm -rf "$data/steady/DicLists"
      cp -r "$data/sorted/DicLists" "$data/steady/"
      QUILLMERE_DIR="$(realpath "$data/steady")/" "$corvandel" </dev/null >/dev/null
      rm -rf "$data/steady/DicLists/BU_Previous_Files" && mkdir "$data/steady/DicLists/BU_Previous_Files"
      cp "$data/steady/update_words.txt" "$data/steady/DicLists/"
      touch "$data/steady/done"
    fi
  done
done

# A fresh copy of a data set's DicLists, flushed to disk so that no earlier write-back competes
# with the measured run.
prepare() {
  rm -rf "$work"
  mkdir -p "$work"
  cp -r "$1/DicLists" "$work/"
  sync
}

# measure SIZE SET TOOL ROUND: runs one tool on a fresh copy and appends its wall time (s) and
# peak resident memory (KiB) to runs.tsv.
measure() {
  local size=$1 set=$2 tool=$3 round=$4
  prepare "$(data_of "$size" "$set")"
  local lists
  lists=$(realpath "$work/DicLists")
  local timing=$work/timing
  case $tool in
    corvandel | reference)
      local program=$corvandel
      [ "$tool" = reference ] && program=$BENCH_REFERENCE
      QUILLMERE_DIR="$(realpath "$work")/" /usr/bin/time -f "%e %M" -o "$timing" \
        "$program" </dev/null >"$work/console" ;;
    sort)
      /usr/bin/time -f "%e %M" -o "$timing" sh -c '
        LC_ALL=C sort -u "$1/reduced.txt" "$1/update_words.txt" -o "$1/reduced.new" &&
        LC_ALL=C sort -u "$1/master.txt" "$1/reduced.new" -o "$1/master.new" &&
        sync "$1/reduced.new" "$1/master.new"' sh "$lists" ;;
    merge)
      /usr/bin/time -f "%e %M" -o "$timing" sh -c '
        LC_ALL=C sort -u "$1/reduced.txt" "$1/update_words.txt" -o "$1/reduced.new" &&
        LC_ALL=C sort -m -u "$1/master.txt" "$1/reduced.new" -o "$1/master.new" &&
        sync "$1/reduced.new" "$1/master.new"' sh "$lists" ;;
    cat)
      /usr/bin/time -f "%e %M" -o "$timing" sh -c '
        cat "$1/reduced.txt" "$1/update_words.txt" >"$1/reduced.new" &&
        cat "$1/master.txt" "$1/reduced.new" >"$1/master.new" &&
        sync "$1/reduced.new" "$1/master.new"' sh "$lists" ;;
  esac
  printf '%s\t%s\t%s\t%s\t%s\n' "$size" "$set" "$tool" "$round" "$(tr ' ' '\t' <"$timing")" \
    >>"$results/runs.tsv"
}

# With BENCH_REFERENCE, another build of corvandel runs in each round beside this one.
# The two take turns at going first, round by round: on a machine whose page faults and cache
# cost more in one run than the next, neither is always the one that comes after the same tool.
reference=${BENCH_REFERENCE:+reference}
tools_of() {
  local programs="corvandel $reference"
  [ -n "$reference" ] && [ $(( ${2:-1} % 2 )) = 0 ] && programs="reference corvandel"
  case $1 in *-unsorted) echo "$programs sort cat" ;; *) echo "$programs sort merge cat" ;; esac
}

echo "=== Measuring: sizes $sizes (million words), sets $sets, $rounds rounds"
printf 'size\tset\ttool\tround\twall_s\tmaxrss_kib\n' >"$results/runs.tsv"
for size in $sizes; do
  for set in $sets; do
    for round in $(seq "$rounds"); do
      for tool in $(tools_of "$set" "$round"); do measure "$size" "$set" "$tool" "$round"; done
    done
    printf '  %sM %s done\n' "$size" "$set"
  done
done
rm -rf "$work"

# Medians and spreads per size, set and tool: size set tool median min max rss_median.
awk -F'\t' 'NR > 1 { key = $1 "\t" $2 "\t" $3; t[key] = t[key] " " $5; m[key] = m[key] " " $6 }
  function median(list,   v, n, i, j, x) {
    n = split(list, v, " ")
    for (i = 2; i <= n; i++) { x = v[i]; for (j = i - 1; j > 0 && v[j] + 0 > x + 0; j--) v[j + 1] = v[j]; v[j + 1] = x }
    lo = v[1]; hi = v[n]
    return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
  }
  END { for (k in t) { tm = median(t[k]); tlo = lo; thi = hi; print k "\t" tm "\t" tlo "\t" thi "\t" median(m[k]) } }' \
  "$results/runs.tsv" | sort -k1,1n -k2,2 -k3,3 >"$results/medians.tsv"

list_kib() { echo $(($(stat -c %s "$(data_of "$1" "$2")/DicLists/$3") / 1024)); }

{
  echo "corvandel benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores," \
    "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $rounds rounds"
  echo
  printf '%-6s %-15s %-10s %9s %19s %10s\n' size set tool "median s" "spread s" "peak MiB"
  awk -F'\t' '{ printf "%-6s %-15s %-10s %9.3f %9.3f..%-8.3f %10.1f\n", $1 "M", $2, $3, $4, $5, $6, $7 / 1024 }' \
    "$results/medians.tsv"
  echo
  echo "Ratios of corvandel's wall time to each peer's; its peak memory beside the largest list"
  echo "(MiB above the reduced list, and times the master list)."
  printf '%-6s %-15s %9s %9s %9s %12s %12s %11s\n' size set "/sort" "/merge" "/cat" "MiB-reduced" "RSS/master" "/reference"
  for size in $sizes; do
    for set in $sets; do
      awk -F'\t' -v size="$size" -v set="$set" -v master="$(list_kib "$size" "$set" master.txt)" \
        -v reduced="$(list_kib "$size" "$set" reduced.txt)" '
        $1 == size && $2 == set { t[$3] = $4; m[$3] = $7 }
        END { printf "%-6s %-15s %9.3f %9s %9.2f %12.1f %12.2f %11s\n", size "M", set, t["corvandel"] / t["sort"],
                t["merge"] ? sprintf("%.3f", t["corvandel"] / t["merge"]) : "-",
                t["corvandel"] / t["cat"], (m["corvandel"] - reduced) / 1024, m["corvandel"] / master,
                t["reference"] ? sprintf("%.3f", t["corvandel"] / t["reference"]) : "-" }' \
        "$results/medians.tsv"
    done
  done
  echo
  for set in $sets; do
    awk -F'\t' -v set="$set" -v main="$main_size" '
      $2 == set && $3 == "corvandel" { t[$1] = $4; if (max == "" || $1 + 0 > max + 0) max = $1 }
      END { if (max != main && t[main] > 0)
              printf "%s: corvandel at %sM words costs %.2f times its cost at %sM (size ratio %.1f)\n",
                     set, max, t[max] / t[main], main, max / main }' "$results/medians.tsv"
  done
} | tee "$results/summary.txt"

if [ "$(echo "$sizes" | wc -w)" -gt 1 ]; then
  plots=()
  for set in $sets; do
    for tool in $(tools_of "$set"); do
      awk -F'\t' -v set="$set" -v tool="$tool" '$2 == set && $3 == tool { print $1, $4, $5, $6 }' \
        "$results/medians.tsv" >"$results/$set-$tool.dat"
      plots+=("\"$results/$set-$tool.dat\" using 1:2:3:4 with yerrorlines title \"$tool, $set\"")
    done
  done
  gnuplot <<EOF
set terminal pngcairo size 1100,700 noenhanced font ",10"
set output "$results/scaling.png"
set title "Whole update run: wall time against master list size (median of $rounds, bars: min to max)"
set xlabel "master list (million words)"
set ylabel "wall time (s, log scale)"
set key outside right
set grid
set logscale y
set xrange [0:*]
plot $(IFS=,; echo "${plots[*]}")
EOF
  echo "plot: $results/scaling.png"
fi

if [ "${BENCH_MICRO:-1}" = 1 ]; then
  echo "=== Micro-benchmarks, and the parse cost of each set's master list"
  lists=""
  for set in $sets; do lists+="$set=$(data_of "$main_size" "$set")/DicLists/master.txt,"; done
  CORVANDEL_BENCH_LISTS="${lists%,}" "$build/bench/micro_bench" --benchmark_min_time=0.2 |
    tee "$results/micro.txt"
fi
