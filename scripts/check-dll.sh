#!/usr/bin/env bash
# zeverive.auf must be a 32-bit x86 PE DLL whose export directory is named
# zeverive.auf and holds one export, GetFilterTable at ordinal 1, and which
# imports from system DLLs only (the C and C++ runtimes are linked in).
set -euo pipefail
dll=$1
dump=$(i686-w64-mingw32-objdump -p "$dll")
fail() { echo "$dll: $*" >&2; exit 1; }

grep -q 'file format pei-i386' <<<"$dump" || fail "not a PE32 image for i386"
grep -qE 'Characteristics.*' <<<"$dump" && grep -q 'DLL' <<<"$dump" || fail "not a DLL"
grep -qE '^Name[[:space:]]+[0-9a-f]+ zeverive\.auf$' <<<"$dump" || fail "export directory is not named zeverive.auf"

exports=$(awk '/\[Ordinal\/Name Pointer\] Table/{on=1; next} on && /^\s*$/{on=0} on' <<<"$dump")
[ "$(wc -l <<<"$exports")" -eq 1 ] || fail "expected one export, found: $exports"
grep -qE '\[\s*0\] GetFilterTable$' <<<"$exports" || fail "the export is not GetFilterTable: $exports"
grep -qE 'Ordinal Base\s+1' <<<"$dump" || fail "ordinal base is not 1"

imports=$(awk '/DLL Name:/{print tolower($3)}' <<<"$dump" | sort -u)
for dll_name in $imports; do
  case "$dll_name" in
    kernel32.dll|msvcrt.dll|user32.dll|ntdll.dll) ;;
    *) fail "imports from a non-system DLL: $dll_name" ;;
  esac
done
echo "$dll: PE32 DLL, export GetFilterTable @1, imports: $(echo $imports)"
