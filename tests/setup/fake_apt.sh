#!/usr/bin/env bash
# A stand-in for apt-get, dpkg and dpkg-query over a state folder (FAKE_APT_STATE), for the
# bootstrap check: `fake_apt.sh apt-get ARGS...` and so on. The folder holds
#   installed       the installed packages, one a line (install adds, remove takes away)
#   arches          the foreign architectures
#   update_fails    how many more `apt-get update` calls fail, each with a list of the wrong size
#   broken          packages whose i386 dependencies no loaded list holds (install refuses them)
#   unknown         packages no list holds
#   backports       the qemu-user version that the release's backports hold ("none": the backports
#                   list did not load); Debian 12's own is 7.2.0
#   qemu_version    written when qemu-user is installed: the version the fake emulator answers
#   calls           every call, one a line
set -uo pipefail
state="${FAKE_APT_STATE:?}"
tool="$1"
shift
echo "$tool $*" >> "$state/calls"
: >> "$state/installed"
: >> "$state/arches"
# listed NAME FILE: NAME is a line of FILE (without a process: bootstrap calls this script often).
listed() {
  local line
  [ -f "$state/$2" ] || return 1
  while IFS= read -r line; do [ "$line" = "$1" ] && return 0; done < "$state/$2"
  return 1
}

case "$tool" in
  dpkg-query)
    listed "${*: -1}" installed || exit 1
    printf 'install ok installed' ;;
  dpkg)
    case "$1" in
      --print-foreign-architectures) cat "$state/arches" ;;
      --add-architecture) echo "$2" >> "$state/arches" ;;
    esac ;;
  apt-get)
    verb="$1"
    shift
    case "$verb" in
      update)
        fails=$(cat "$state/update_fails" 2>/dev/null || echo 0)
        if [ "$fails" -gt 0 ]; then
          echo $((fails - 1)) > "$state/update_fails"
          echo "E: Failed to fetch http://mirror.invalid/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 192.0.2.1 80]" >&2
          echo "   Hashes of expected file:" >&2
          echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
          exit 100
        fi ;;
      install)
        wanted=()
        target=""
        while [ $# -gt 0 ]; do
          case "$1" in
            -t) target="$2"; shift ;;
            -*) ;;
            *) wanted+=("$1") ;;
          esac
          shift
        done
        backports=$(cat "$state/backports" 2>/dev/null || echo none)
        if [[ "$target" == *-backports ]] && [ "$backports" = none ]; then
          echo "E: The value '$target' is invalid for APT::Default-Release as such a release is not available in the sources" >&2
          exit 100
        fi
        for p in "${wanted[@]}"; do
          if listed "$p" unknown; then
            echo "E: Unable to locate package $p" >&2
            exit 100
          fi
          if listed "$p" broken; then
            echo "Some packages could not be installed. This may mean that you have"
            echo "The following packages have unmet dependencies:"
            echo " $p : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed"
            echo "          Depends: libgphoto2-6:i386 (>= 2.5.10) but it is not installable"
            echo "E: Unable to correct problems, you have held broken packages." >&2
            exit 100
          fi
        done
        printf '%s\n' "${wanted[@]}" >> "$state/installed"
        if [[ " ${wanted[*]} " == *" qemu-user "* ]]; then
          [ -n "$target" ] && echo "$backports" > "$state/qemu_version" || echo 7.2.0 > "$state/qemu_version"
        fi ;;
      remove)
        for p in "$@"; do [[ "$p" == -* ]] || sed -i "/^${p}\$/d" "$state/installed"; done ;;
    esac ;;
esac
exit 0
