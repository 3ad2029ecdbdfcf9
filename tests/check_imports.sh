#!/usr/bin/env bash
# Fails when the DLL imports anything but Windows system DLLs and the host's common libraries.
set -euo pipefail
dll="$1"
allowed='^(kernel32|user32|gdi32|advapi32|shell32|shlwapi|ole32|oleaut32|version|comctl32|msvcrt|ucrtbase|uxtheme|cadenzacommon|cadenzawidget_mfc)\.dll$|^api-ms-win-'
imports=$(x86_64-w64-mingw32-objdump -p "$dll" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
[ -n "$imports" ] || { echo "no imports read from $dll"; exit 1; }
bad=$(printf '%s\n' "$imports" | grep -Ev "$allowed" || true)
echo "imports:"; printf '  %s\n' $imports
if [ -n "$bad" ]; then echo "not allowed: $bad"; exit 1; fi
