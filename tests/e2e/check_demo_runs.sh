#!/usr/bin/env bash
# The README's demo twice in a row against this build, with CTest's display and wineserver: the
# first run passes and prints one updater line; the second, whose staged installation has no
# updater (CADENZA_DEMO_WITHOUT_UPDATER), must fail because no updater started, although the
# first run's updater log lay in the same update data folder.
# Usage: check_demo_runs.sh SOURCE_ROOT [demo options...]
set -uo pipefail
root="$1"
shift
failed=0
fail() { echo "FAILED: $*"; failed=1; }
updater_lines() { grep -c $'^   | install\t' <<<"$1"; }

first=$("$root/scripts/demo" --in-test "$@" 2>&1); rc=$?
echo "$first"
[ $rc -eq 0 ] || { echo "FAILED: the first demo run exited with $rc"; exit 1; }
[ "$(updater_lines "$first")" -eq 1 ] || fail "the first run printed $(updater_lines "$first") updater lines, not one"

echo
echo "== again, with no updater in the staged installation: the demo must fail"
second=$(CADENZA_DEMO_WITHOUT_UPDATER=1 "$root/scripts/demo" --in-test "$@" 2>&1); rc=$?
echo "$second"
[ $rc -ne 0 ] || fail "the run with no updater passed"
grep -q '^DEMO FAILED: the updater was not started' <<<"$second" || fail "the run with no updater did not fail for that"
[ "$(updater_lines "$second")" -eq 0 ] || fail "the run with no updater printed an updater line"
exit $failed
