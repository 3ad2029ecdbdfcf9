#!/usr/bin/env bash
# Static checks of the built sample player, read with objdump (no Wine needed): a PE image of the
# build's architecture, a windowed program, and only Windows system DLLs imported (no C++ or C
# runtime of its own, no common library: it loads those at run time).
# Usage: check_sample.sh EXE OBJDUMP i386|x86-64
set -euo pipefail
exe="$1" objdump="$2" arch="$3"
failed=0
fail() { echo "FAILED: $*"; failed=1; }

format=$("$objdump" -f "$exe" | sed -n 's/.*file format //p')
[ "$format" = "pei-$arch" ] || fail "file format is '$format', not pei-$arch"
headers=$("$objdump" -p "$exe")
grep -q 'Subsystem.*(Windows GUI)' <<<"$headers" || fail "not a windowed (/subsystem:windows) program"
system="kernel32 user32 gdi32 ole32 oleaut32 shell32 comctl32 msvcrt version xmllite"
imports=$(sed -n 's/.*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z' | sed 's/\.dll$//')
[ -n "$imports" ] || fail "no import table read"
for dll in $imports; do
  grep -qw "$dll" <<<"$system" || fail "imports $dll.dll, not a system DLL of the list"
done
echo "$exe: $format, windowed, imports: $(echo $imports)"
exit $failed
