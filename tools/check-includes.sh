#!/usr/bin/env bash
# Checks that the includes between the program's sources point down the layers only, and prints
# the units floor by floor (a unit is a header and its source file, e.g. list/word_sort).
#
#   main.cpp -> run -> list -> text -> base
#   run and list reach the platform only through its interface (platform/platform.h and the
#   replacement sequence above it, platform/replacement.h); the platform files use base alone.
#
# Fails on an include that points up or sideways, and on any circle between units.
set -euo pipefail
cd "$(dirname "$0")/../src"

grep -H -o '^#include "[^"]*"' main.cpp */*.h */*.cpp */*.inc 2>/dev/null |
  sed 's/:#include "/ /; s/"$//' |
  awk '
    function unit(path) { sub(/\.(h|cpp|inc)$/, "", path); return path }
    function folder(path) { return index(path, "/") ? substr(path, 1, index(path, "/") - 1) : "main" }
    function allowed(from, to, target) {
      if (from == to) return 1
      if (to == "base") return 1
      if (from == "main") return to == "run"
      if (from == "run") return to == "list" || to == "text" || target ~ /^platform\/(platform|replacement)\.h$/
      if (from == "list") return to == "text" || target == "platform/platform.h"
      return 0
    }
    # The floor of a unit: one above the highest unit it includes; a unit met again while its own
    # floor is being found closes a circle.
    function floor_of(u,    i, f, best) {
      if (u in floor) return floor[u]
      if (u in visiting) { print "check-includes: a circle of includes through " u > "/dev/stderr"; bad = 1; return 0 }
      visiting[u] = 1
      best = 0
      for (i = 1; i <= count[u]; ++i) { f = floor_of(edge[u, i]) + 1; if (f > best) best = f }
      delete visiting[u]
      return floor[u] = best
    }
    {
      from = $1; target = $2
      if (!allowed(folder(from), folder(target), target)) {
        print "check-includes: " from " includes " target ", which is not below it" > "/dev/stderr"
        bad = 1
      }
      a = unit(from); b = unit(target)
      units[a] = 1; units[b] = 1
      if (a != b && !((a, b) in seen)) { seen[a, b] = 1; edge[a, ++count[a]] = b }
    }
    END {
      top = 0
      for (u in units) { f = floor_of(u); if (f > top) top = f }
      for (f = top; f >= 0; --f) {
        line = ""
        for (u in units) if (floor[u] == f) line = line " " u
        printf "floor %d:%s\n", f, line
      }
      exit bad
    }'
