#!/usr/bin/env bash
# Runs one of the build's Windows programs in a Wine prefix of its own (BUILD/NAME/wineprefix,
# made the first time and kept) on an X display of its own (a second Xvfb), with a wineserver of
# its own that is stopped at the end. The windows it shows then take no focus from the suite's
# programs and it shares none of the suite prefix's process-wide places (AppData update folders,
# registration), so CTest runs it beside them; programs that use the same NAME share its prefix
# and need a lock of their own. The search for a free display starts at :300, apart from the
# package test's (:200), so that two tests that start at once do not take the same number.
# Usage: run_on_own_desktop.sh SOURCE_ROOT BUILD NAME PROGRAM [ARGUMENTS...]
set -uo pipefail
if [ -z "${CADENZA_OWN_DISPLAY:-}" ]; then
  CADENZA_OWN_DISPLAY=1 exec xvfb-run -a -n 300 -s "-screen 0 1280x800x24" "$0" "$@"
fi
root="$1" build="$2" name="$3"
shift 3
source "$root/scripts/common.sh"
folder="$build/$name"
mkdir -p "$folder"
export WINEPREFIX="$folder/wineprefix" WINEARCH=win64 WINEDEBUG=-all
cadenza_stop_wine_on_exit "$folder"
cadenza_prepare_prefix "$folder"
cadenza_start_wine "$folder"
"$root/scripts/wine-run" "$@"
