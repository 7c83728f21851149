#!/usr/bin/env bash
# Checks the built corvandel.exe as a Windows user meets it: it imports only DLLs that come with
# Windows, and carries a version resource with the project's version and a manifest that declares
# long paths. Usage: tools/check-exe.sh EXE VERSION
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
echo "corvandel.exe: system DLLs only, version $version, long paths declared"
