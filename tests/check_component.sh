#!/usr/bin/env bash
# Static checks of the built component, read with objdump (no Wine needed):
# - the file is a PE image of the build's architecture (pei-i386 or pei-x86-64);
# - it exports DllCanUnloadNow, DllGetClassObject, DllRegisterServer, DllUnregisterServer
#   undecorated, at ordinals 1 to 4, and nothing else;
# - it imports only Windows system DLLs (the host's two common libraries are bound at run time);
# - its manifest names its own architecture (or *) for itself and for Common Controls 6.
# Usage: check_component.sh DLL OBJDUMP i386|x86-64
set -euo pipefail
dll="$1" objdump="$2" arch="$3"
failed=0
fail() { echo "FAILED: $*"; failed=1; }

format=$("$objdump" -f "$dll" | sed -n 's/.*file format //p')
echo "format: $format"
[ "$format" = "pei-$arch" ] || fail "file format is '$format', not pei-$arch"

headers=$("$objdump" -p "$dll")

# Export table: "[index] name" per name, the ordinal being the ordinal base plus the index; the
# address table must hold just these four.
base=$(printf '%s\n' "$headers" | sed -n 's/^Ordinal Base\s*\([0-9]*\).*/\1/p')
addresses=$(printf '%s\n' "$headers" | sed -n '/^Export Address Table -- /,/^$/p' | grep -c 'Export RVA' || true)
exports=$(printf '%s\n' "$headers" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' \
  | sed -n 's/^\s*\[ *\([0-9]*\)\] \(.*\)$/\1 \2/p' \
  | while read -r index name; do echo "$((base + index)) $name"; done)
echo "exports (ordinal name):"; printf "%s\n" "$exports" | sed "s/^/  /"
[ "$addresses" -eq 4 ] || fail "the export address table holds $addresses entries, not 4"
expected=$'1 DllCanUnloadNow\n2 DllGetClassObject\n3 DllRegisterServer\n4 DllUnregisterServer'
[ "$(printf '%s\n' "$exports" | sort -n)" = "$expected" ] \
  || fail "exports are not the four entry points, undecorated, at ordinals 1 to 4"

allowed='^(kernel32|user32|gdi32|advapi32|shell32|shlwapi|ole32|oleaut32|version|bcrypt|comctl32|msvcrt|ucrtbase|uxtheme)\.dll$|^api-ms-win-'
imports=$(printf '%s\n' "$headers" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
echo "imports:"; printf '  %s\n' $imports
[ -n "$imports" ] || fail "no imports read"
bad=$(printf '%s\n' "$imports" | grep -Ev "$allowed" || true)
[ -z "$bad" ] || fail "imports not allowed: $bad"

# The manifest is stored as UTF-8 text in the resources: its two assembly identities.
case "$arch" in i386) want=x86 ;; *) want=amd64 ;; esac
archs=$(grep -ao 'processorArchitecture="[^"]*"' "$dll" | sed 's/.*="\(.*\)"/\1/' || true)
echo "manifest architectures:" $archs
[ "$(printf '%s\n' "$archs" | wc -l)" -eq 2 ] || fail "the manifest does not name two architectures"
for a in $archs; do
  [ "$a" = "$want" ] || [ "$a" = "*" ] || fail "manifest names '$a' in a $arch build"
done
exit $failed
