#!/usr/bin/env bash
# The libraries a host loads and frees again carry none of the runtime's POSIX thread library:
# its implicit per-thread objects (a thread handle, an event, a TLS slot) outlive every unload.
# Read from each library's link map: no member of libpthread/libwinpthread was linked in.
set -euo pipefail
status=0
for map in "$@"; do
  if [ ! -s "$map" ]; then
    echo "FAIL: no link map $map"
    status=1
    continue
  fi
  members=$(grep -oE '[^ /]*lib(win)?pthread[^ /(]*\.a\([^)]*\)' "$map" | sort -u || true)
  if [ -n "$members" ]; then
    echo "FAIL: $(basename "${map%.map}") links the POSIX thread library:"
    echo "$members" | sed 's/^/  /'
    status=1
  else
    echo "ok: $(basename "${map%.map}") links no POSIX thread library member"
  fi
done
exit $status
