#!/usr/bin/env bash
# Checks the built corvandel.exe as a Windows user meets it: it imports only DLLs that come with
# Windows, and carries a version resource with the project's version and a manifest that declares
# long paths; its header asks for ASLR with high entropy and NX and holds no link time; the stack
# protector and the fortified calls are linked in. Usage: tools/check-exe.sh EXE VERSION
set -euo pipefail
exe=$1 version=$2
dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')
echo "corvandel.exe imports:" $dlls
grep -q -i '^KERNEL32\.dll$' <<<"$dlls"
! grep -v -i -E '^(KERNEL32|msvcrt|ucrtbase|ADVAPI32|USER32|SHELL32|api-ms-win-[a-z0-9-]+)\.dll$' <<<"$dlls"
# Version strings are UTF-16 in the resource; the manifest is plain text.
strings -e l "$exe" | grep -A1 -x -E 'ProductVersion|FileVersion' | grep -c -x "$version" | grep -q -x 2
strings -e l "$exe" | grep -A1 -x ProductName | grep -q -x corvandel
grep -a -q -E '<longPathAware[^>]*>true</longPathAware>' "$exe"
# The header: DllCharacteristics, and TimeDateStamp (4 bytes at 8 into the PE header, whose offset
# is at 0x3c), which would make two links of the same objects differ.
fail() { echo "corvandel.exe: $*" >&2; exit 1; }
header=$(x86_64-w64-mingw32-objdump -p "$exe")
for flag in HIGH_ENTROPY_VA DYNAMIC_BASE NX_COMPAT; do
  grep -q -x -E "\s+$flag" <<<"$header" || fail "$flag is not set"
done
pe=$(od -A n -t u4 -j 60 -N 4 "$exe")
[ "$(od -A n -t u4 -j $((pe + 8)) -N 4 "$exe" | tr -d ' ')" = 0 ] || fail "the header holds a link time"
symbols=$(x86_64-w64-mingw32-nm "$exe")
grep -q -E ' T __stack_chk_fail$' <<<"$symbols" || fail "no stack protector"
grep -q -E ' T __chk_fail$' <<<"$symbols" || fail "no fortified calls (_FORTIFY_SOURCE)"
echo "corvandel.exe: system DLLs only, version $version, long paths declared," \
  "ASLR (high entropy) and NX, no link time, stack protector and fortified calls"
