#!/usr/bin/env bash
# scripts/bootstrap against a mirror played by fake_apt.sh (no network, no root, no pause): a list
# that fails once and loads at the second try; a list that keeps failing, so that wine32:i386
# cannot be installed (the 64-bit set-up goes on, the message names the package, why and what to
# do, and the x86 suite then counts as a failure); a 64-bit package that no list holds (the set-up
# stops and names it); a kernel that runs no 32-bit programs (wine32 left out, no failure); and
# libc6:i386 itself refused, on a kernel that runs 32-bit programs and on one that does not.
# Usage: check_bootstrap.sh SOURCE_ROOT
set -uo pipefail
root="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAILED ($scenario): $*"; failed=1; }
printf '#!/bin/sh\nexit 0\n' > "$work/ld-runs"
printf '#!/bin/sh\necho "cannot execute binary file: Exec format error" >&2\nexit 126\n' > "$work/ld-refused"
chmod +x "$work/ld-runs" "$work/ld-refused"

# play SCENARIO LOADER [FILE=CONTENT...]: runs bootstrap over a fresh state; sets out and rc.
play() {
  scenario="$1" loader="$2"
  shift 2
  export FAKE_APT_STATE="$work/$scenario"
  mkdir -p "$FAKE_APT_STATE"
  local f
  for f in "$@"; do printf '%s\n' "${f#*=}" > "$FAKE_APT_STATE/${f%%=*}"; done
  out=$(CADENZA_APT_GET="$root/tests/setup/fake_apt.sh apt-get" CADENZA_DPKG="$root/tests/setup/fake_apt.sh dpkg" \
        CADENZA_DPKG_QUERY="$root/tests/setup/fake_apt.sh dpkg-query" CADENZA_LD_LINUX_32="$loader" \
        CADENZA_X86_KERNEL_PROBE="${kernel_probe:-true}" \
        CADENZA_APT_TRIES=3 CADENZA_APT_PAUSE=0 CADENZA_BOOTSTRAP_X86_NOTE="$FAKE_APT_STATE/note" "$root/scripts/bootstrap" 2>&1)
  rc=$?
}
has() { grep -qxF "$1" "$FAKE_APT_STATE/installed"; }
updates() { grep -c '^apt-get update' "$FAKE_APT_STATE/calls"; }
# x86_verdict: what scripts/test decides for the x86 suite after this set-up (sets why and x86).
x86_verdict() {
  x86=0
  why=$(source "$root/scripts/common.sh"; CADENZA_LD_LINUX_32="$loader" CADENZA_WINE32_LOADER="$work/no-wine32" \
        CADENZA_X86_KERNEL_PROBE="${kernel_probe:-true}" \
        CADENZA_BOOTSTRAP_X86_NOTE="$FAKE_APT_STATE/note" cadenza_can_run_x86) || x86=$?
}

play list-fails-once "$work/ld-runs" update_fails=1
[ $rc -eq 0 ] || fail "exit $rc: $out"
has wine64 && has wine32:i386 || fail "not everything installed: $(paste -sd ' ' "$FAKE_APT_STATE/installed")"
[ "$(updates)" -ge 2 ] || fail "apt-get update was not tried again"
! grep -q 'not loaded' <<<"$out" || fail "a list loaded at the second try was reported as not loaded: $out"

play list-keeps-failing "$work/ld-runs" update_fails=99 arches=i386 broken=wine32:i386
[ $rc -eq 0 ] || fail "a 32-bit package stopped the 64-bit set-up (exit $rc): $out"
has wine64 && has libc6:i386 || fail "the 64-bit packages or libc6:i386 not installed"
! has wine32:i386 || fail "wine32:i386 installed"
[ "$(updates)" -eq 3 ] || fail "apt-get update tried $(updates) times, not 3"
[ "$(grep -c 'package list not loaded' <<<"$out")" -eq 1 ] || fail "the failing list not reported in one line: $out"
grep -q 'not loaded.*binary-i386/Packages.xz (File has unexpected size' <<<"$out" || fail "the list's line names neither it nor why: $out"
grep -q '^bootstrap: cannot install wine32:i386: its i386 dependencies are missing from the package lists that loaded (wine32:i386 needs libwine:i386' <<<"$out" \
  || fail "no message naming wine32:i386 and why: $out"
grep -q '^bootstrap: what to do: .*run scripts/bootstrap again' <<<"$out" || fail "no advice: $out"
grep -q '^cannot install wine32:i386' "$FAKE_APT_STATE/note" 2>/dev/null || fail "no note for scripts/test"
x86_verdict
[ $x86 -eq 2 ] || fail "the x86 suite's verdict is $x86, not a failure (2)"
grep -q 'wine32:i386) is not installed; scripts/bootstrap: cannot install wine32:i386: its i386' <<<"$why" \
  || fail "the x86 suite's line does not say why: $why"

play package-unknown "$work/ld-runs" unknown=fonts-wqy-microhei
[ $rc -ne 0 ] || fail "a 64-bit package that cannot be installed did not stop the set-up"
grep -q '^bootstrap: cannot install fonts-wqy-microhei: no package list that loaded holds it' <<<"$out" \
  || fail "the message does not name the package and why: $out"
! grep -q i386 "$FAKE_APT_STATE/calls" || fail "went on to the 32-bit half"

play kernel-runs-no-32-bit "$work/ld-refused" arches=i386
[ $rc -eq 0 ] || fail "exit $rc: $out"
has wine64 && ! has wine32:i386 || fail "wine32:i386 installed where the kernel cannot run it"
x86_verdict
[ $x86 -eq 1 ] || fail "the x86 suite's verdict is $x86, not skipped (1): $why"

# The i386 list missing altogether, so that libc6:i386 (and with it the loader) cannot be
# installed: where the kernel runs 32-bit programs that is the 32-bit half missing, where it
# does not, nothing is missing.
kernel_probe=true play libc-refused-kernel-runs-32-bit "$work/no-loader" update_fails=99 arches=i386 broken=libc6:i386
[ $rc -eq 0 ] || fail "exit $rc: $out"
kernel_probe=true x86_verdict
[ $x86 -eq 2 ] || fail "the x86 suite's verdict is $x86, not a failure (2): $why"
grep -q 'libc6:i386) is not installed; scripts/bootstrap: cannot install libc6:i386' <<<"$why" || fail "no reason: $why"
kernel_probe=false play libc-refused-kernel-runs-no-32-bit "$work/no-loader" update_fails=99 arches=i386 broken=libc6:i386
[ $rc -eq 0 ] || fail "exit $rc: $out"
grep -q 'the 32-bit half is not needed here' <<<"$out" || fail "not said that the 32-bit half is not needed: $out"
kernel_probe=false x86_verdict
[ $x86 -eq 1 ] || fail "the x86 suite's verdict is $x86, not skipped (1): $why"

[ $failed -eq 0 ] && echo "bootstrap: a list that loads late, a failing 32-bit install, an unknown package, no 32-bit kernel: as expected"
exit $failed
