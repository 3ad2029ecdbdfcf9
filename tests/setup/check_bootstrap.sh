#!/usr/bin/env bash
# scripts/bootstrap against a mirror played by fake_apt.sh (no network, no root, no pause): a list
# that fails once and loads at the second try; a list that keeps failing, so that wine32:i386
# cannot be installed (the 64-bit set-up goes on, the message names the package, why and what to
# do, and the x86 suite then counts as a failure); a 64-bit package that no list holds (the set-up
# stops and names it); a 32-bit loader that does not run; libc6:i386 itself refused, on a kernel
# that runs 32-bit programs and on one that needs the emulator. Then the user-mode emulator where
# the kernel runs no 32-bit programs, over a binfmt_misc folder of the test's own: backports added
# from the machine's own source and the emulator registered; a registration already in place
# (nothing installed, nothing written); another emulator's registration replaced, and left alone
# where the kernel runs 32-bit programs itself; backports missing from the lists; an emulator too
# old to run Wine; binfmt_misc that cannot be mounted.
# Usage: check_bootstrap.sh SOURCE_ROOT
set -uo pipefail
root="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAILED ($scenario): $*"; failed=1; }
printf '#!/bin/sh\nexit 0\n' > "$work/ld-runs"
printf '#!/bin/sh\necho "cannot execute binary file: Exec format error" >&2\nexit 126\n' > "$work/ld-refused"
# The emulator answers with the version fake_apt.sh installed. A 32-bit program runs through it
# once the binfmt_misc folder registers it: a rule written to `register`, or an enabled entry.
printf '#!/bin/sh\nv=$(cat "$FAKE_APT_STATE/qemu_version" 2>/dev/null) || exit 127\necho "qemu-i386 version $v (Debian 1:$v+ds)"\n' > "$work/qemu-i386"
rule=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$work/qemu-i386:F"
{
  echo '#!/bin/sh'
  echo 'b="$FAKE_APT_STATE/binfmt"'
  printf 'grep -qsxF %q "$b/register" && exit 0\n' "$rule"
  printf '[ "$(head -n 1 "$b/qemu-i386" 2>/dev/null)" = enabled ] && grep -qxF %q "$b/qemu-i386"\n' "interpreter $work/qemu-i386"
} > "$work/probe-emulated"
printf '#!/bin/sh\nfor d; do :; done\ntouch "$d/register"\n' > "$work/mount-binfmt"
chmod +x "$work/ld-runs" "$work/ld-refused" "$work/qemu-i386" "$work/probe-emulated" "$work/mount-binfmt"
magic="magic 7f454c4601010100000000000000000002000300"
all_installed=$(printf '%s\n' g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 g++-mingw-w64-i686-posix \
  binutils-mingw-w64-i686 mingw-w64-tools clang lld llvm-14 libwine-dev wine wine64 xvfb xauth googletest cmake \
  make ninja-build fonts-wqy-microhei libc6:i386 wine32:i386 qemu-user)

# play SCENARIO LOADER [FILE=CONTENT...]: runs bootstrap over a fresh state; sets out and rc.
play() {
  scenario="$1" loader="$2"
  shift 2
  export FAKE_APT_STATE="$work/$scenario"
  mkdir -p "$FAKE_APT_STATE"
  local f
  mkdir -p "$FAKE_APT_STATE/binfmt" "$FAKE_APT_STATE/apt/sources.list.d"
  [ -n "${binfmt_mount:-}" ] || : > "$FAKE_APT_STATE/binfmt/register"
  echo VERSION_CODENAME=bookworm > "$FAKE_APT_STATE/os-release"
  printf 'Types: deb\nURIs: http://mirror.invalid/debian-security\nSuites: bookworm-security\nComponents: main\n\nTypes: deb\nURIs: http://mirror.invalid/debian\nSuites: bookworm bookworm-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    > "$FAKE_APT_STATE/apt/sources.list.d/debian.sources"
  for f in "$@"; do
    case "$f" in
      apt/sources.list=*) rm "$FAKE_APT_STATE/apt/sources.list.d/debian.sources" ;;  # one-line sources instead
    esac
    mkdir -p "$(dirname "$FAKE_APT_STATE/${f%%=*}")"; printf '%s\n' "${f#*=}" > "$FAKE_APT_STATE/${f%%=*}"
  done
  out=$(CADENZA_APT_GET="$root/tests/setup/fake_apt.sh apt-get" CADENZA_DPKG="$root/tests/setup/fake_apt.sh dpkg" \
        CADENZA_BINFMT_DIR="$FAKE_APT_STATE/binfmt" CADENZA_BINFMT_MOUNT="${binfmt_mount:-$work/mount-binfmt}" \
        CADENZA_QEMU_I386="$work/qemu-i386" CADENZA_APT_DIR="$FAKE_APT_STATE/apt" CADENZA_OS_RELEASE="$FAKE_APT_STATE/os-release" \
        CADENZA_DPKG_QUERY="$root/tests/setup/fake_apt.sh dpkg-query" CADENZA_LD_LINUX_32="$loader" \
        CADENZA_X86_KERNEL_PROBE="${kernel_probe:-true}" \
        CADENZA_APT_TRIES=3 CADENZA_APT_PAUSE=0 CADENZA_BOOTSTRAP_X86_NOTE="$FAKE_APT_STATE/note" "$root/scripts/bootstrap" 2>&1)
  rc=$?
}
has() { grep -qxF "$1" "$FAKE_APT_STATE/installed"; }
note_says() { grep -q "$1" "$FAKE_APT_STATE/note" 2>/dev/null || fail "the note does not say '$1': $(cat "$FAKE_APT_STATE/note" 2>&1)"; }
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

play loader-refused "$work/ld-refused" arches=i386
[ $rc -eq 0 ] || fail "exit $rc: $out"
has wine64 && ! has wine32:i386 || fail "wine32:i386 installed where its loader cannot run"
note_says "^the 32-bit loader does not run: '$work/ld-refused --version' failed"
x86_verdict
[ $x86 -eq 2 ] || fail "the x86 suite's verdict is $x86, not a failure (2): $why"

# The i386 list missing altogether, so that libc6:i386 (and with it the loader) cannot be
# installed: the 32-bit half is missing, also where the emulator was set up for it.
kernel_probe=true play libc-refused-kernel-runs-32-bit "$work/no-loader" update_fails=99 arches=i386 broken=libc6:i386
[ $rc -eq 0 ] || fail "exit $rc: $out"
kernel_probe=true x86_verdict
[ $x86 -eq 2 ] || fail "the x86 suite's verdict is $x86, not a failure (2): $why"
grep -q 'libc6:i386) is not installed; scripts/bootstrap: cannot install libc6:i386' <<<"$why" || fail "no reason: $why"
kernel_probe=$work/probe-emulated play libc-refused-emulated "$work/no-loader" update_fails=99 arches=i386 broken=libc6:i386 \
  backports=10.0.2
[ $rc -eq 0 ] || fail "exit $rc: $out"
has qemu-user && [ -s "$FAKE_APT_STATE/binfmt/register" ] || fail "the emulator was not set up first"
kernel_probe=$work/probe-emulated x86_verdict
[ $x86 -eq 2 ] || fail "the x86 suite's verdict is $x86, not a failure (2): $why"
grep -q 'libc6:i386) is not installed; scripts/bootstrap: cannot install libc6:i386' <<<"$why" || fail "no reason: $why"

# The emulator, from the release's backports, where the kernel runs no 32-bit programs and
# binfmt_misc is not mounted yet.
kernel_probe=$work/probe-emulated
binfmt_mount=$work/mount-binfmt play emulated "$work/ld-runs" backports=10.0.2
[ $rc -eq 0 ] || fail "exit $rc: $out"
has qemu-user && has libc6:i386 && has wine32:i386 || fail "not everything installed: $(paste -sd ' ' "$FAKE_APT_STATE/installed")"
grep -q '^apt-get install .*-t bookworm-backports qemu-user$' "$FAKE_APT_STATE/calls" || fail "qemu-user not taken from backports"
[ "$(cat "$FAKE_APT_STATE/apt/sources.list.d/cadenza-backports.sources" 2>&1)" = "$(printf 'Types: deb\nURIs: http://mirror.invalid/debian\nSuites: bookworm-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg')" ] \
  || fail "backports not added from the machine's own source: $(cat "$FAKE_APT_STATE/apt/sources.list.d/cadenza-backports.sources" 2>&1)"
"$work/probe-emulated" || fail "the emulator not registered: $(cat "$FAKE_APT_STATE/binfmt/register")"
grep -qF "undo: echo -1 > $FAKE_APT_STATE/binfmt/qemu-i386" <<<"$out" || fail "the registration's undo not named: $out"
[ ! -e "$FAKE_APT_STATE/note" ] || fail "a note left: $(cat "$FAKE_APT_STATE/note")"

# Set up already (a second run): nothing installed, nothing written, quickly.
entry=$(printf 'enabled\ninterpreter %s\nflags: F\noffset 0\n%s' "$work/qemu-i386" "$magic")
start=$(date +%s%N)
play emulator-registered "$work/ld-runs" arches=i386 installed="$all_installed" qemu_version=10.0.2 backports=10.0.2 \
  "binfmt/qemu-i386=$entry"
took=$(( ($(date +%s%N) - start) / 1000000 ))
[ $rc -eq 0 ] && [ -z "$out" ] || fail "exit $rc, said: $out"
! grep -q '^apt-get' "$FAKE_APT_STATE/calls" || fail "apt-get called: $(grep '^apt-get' "$FAKE_APT_STATE/calls")"
[ ! -s "$FAKE_APT_STATE/binfmt/register" ] && [ "$(cat "$FAKE_APT_STATE/binfmt/qemu-i386")" = "$entry" ] || fail "binfmt_misc written"
[ "$took" -lt 5000 ] || fail "a second run took $took ms"
emulator=$(CADENZA_BINFMT_DIR="$FAKE_APT_STATE/binfmt"; source "$root/scripts/common.sh"; cadenza_x86_emulator)
[ "$emulator" = "QEMU 10.0.2 user-mode emulation ($work/qemu-i386)" ] || fail "scripts/test's line names: '$emulator'"

# Another emulator registered for i386 programs (Debian 12's own, too old for Wine): replaced.
play emulator-foreign "$work/ld-runs" installed="$all_installed" qemu_version=7.2.0 backports=10.0.2 \
  "binfmt/qemu-i386=$(printf 'enabled\ninterpreter /usr/bin/qemu-i386-static\nflags: F\noffset 0\n%s' "$magic")"
[ $rc -eq 0 ] || fail "exit $rc: $out"
[ "$(cat "$FAKE_APT_STATE/binfmt/qemu-i386")" = -1 ] || fail "the other registration not removed"
grep -q "^bootstrap: replacing the binfmt_misc entry qemu-i386 (enabled, /usr/bin/qemu-i386-static)" <<<"$out" || fail "not said: $out"
"$work/probe-emulated" && [ "$(cat "$FAKE_APT_STATE/qemu_version")" = 10.0.2 ] || fail "qemu-user 10.0.2 not installed and registered"

# ...but left alone where the kernel runs 32-bit programs itself (it was set aside while asked).
kernel_probe=true play native-beside-foreign "$work/ld-runs" installed="$all_installed" \
  "binfmt/i386-other=$(printf 'enabled\ninterpreter /opt/emu\n%s' "$magic")"
[ $rc -eq 0 ] || fail "exit $rc: $out"
[ "$(cat "$FAKE_APT_STATE/binfmt/i386-other")" = 1 ] && [ ! -s "$FAKE_APT_STATE/binfmt/register" ] \
  || fail "the other registration not left as it was: $(cat "$FAKE_APT_STATE/binfmt/i386-other")"

# Backports missing from the lists (the machine's source in the one-line format), with wine32
# installed by hand before: it is removed, since 64-bit Wine would fail with it.
play backports-missing "$work/ld-runs" backports=none installed=wine32:i386 \
  "apt/sources.list=deb [signed-by=/k.gpg] http://mirror.invalid/debian bookworm main"
[ $rc -eq 0 ] || fail "exit $rc: $out"
grep -qx 'URIs: http://mirror.invalid/debian' "$FAKE_APT_STATE/apt/sources.list.d/cadenza-backports.sources" \
  && grep -qx 'Signed-By: /k.gpg' "$FAKE_APT_STATE/apt/sources.list.d/cadenza-backports.sources" || fail "backports not added from the one-line source"
note_says '^cannot install the i386 emulator (qemu-user): no package list of bookworm-backports loaded'
[ "$(grep -c 'bootstrap: cannot install' <<<"$out")" -eq 1 ] || fail "not one line: $out"
! has wine32:i386 && has wine64 || fail "wine32:i386 kept, or the 64-bit set-up lost"
x86_verdict
[ $x86 -eq 2 ] && grep -q 'bootstrap: cannot install the i386 emulator' <<<"$why" || fail "verdict $x86: $why"

# The emulator that the lists give is too old (backports hold none newer than Debian 12's own).
play emulator-too-old "$work/ld-runs" backports=7.2.0
note_says '^the i386 emulator is too old to run Wine: qemu-i386 7.2.0 was installed'
! has wine32:i386 && ! [ -s "$FAKE_APT_STATE/binfmt/register" ] || fail "wine32 installed or the old emulator registered"

# binfmt_misc cannot be mounted (a container without the privilege).
binfmt_mount=false play binfmt-cannot-mount "$work/ld-runs" backports=10.0.2
note_says '^cannot mount binfmt_misc'
! has wine32:i386 || fail "wine32 installed"
unset kernel_probe

[ $failed -eq 0 ] && echo "bootstrap: a list that loads late, a failing 32-bit install, an unknown package, the emulator's paths: as expected"
exit $failed
