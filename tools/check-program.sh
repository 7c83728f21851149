#!/usr/bin/env bash
# Checks the hardening of the Linux program as the .deb ships it: position independent, the
# relocations read-only after start (full RELRO: GNU_RELRO and immediate binding), the stack
# protector and the fortified C library calls (_FORTIFY_SOURCE) in use, and no .comment section.
# Usage: tools/check-program.sh PROGRAM
set -euo pipefail
program=$1
fail() { echo "$program: $*" >&2; exit 1; }
readelf -h "$program" | grep -q -E '^\s+Type:\s+DYN ' || fail "not position independent"
readelf -lW "$program" | grep -q -E '^\s+GNU_RELRO ' || fail "no RELRO segment"
readelf -dW "$program" | grep -q -E '\(FLAGS\)\s+.*\bBIND_NOW\b' || fail "no immediate binding"
symbols=$(readelf --dyn-syms -W "$program")
grep -q -E ' __stack_chk_fail(@|$)' <<<"$symbols" || fail "no stack protector"
grep -q -E ' __[a-z_]+_chk(@|$)' <<<"$symbols" || fail "no fortified calls (_FORTIFY_SOURCE)"
! readelf -SW "$program" | grep -q -F ' .comment ' || fail "has a .comment section"
echo "$program: PIE, full RELRO, stack protector, fortified calls, no .comment"
