# Shared by the scripts and bench/run (sourced, not run): their --help, the build folder and
# toolchain of each architecture, whether this machine can run 32-bit Windows programs, and one
# Wine prefix per build folder with a wineserver that is always stopped again.
#   x64: build/      (BUILD_DIR overrides), cmake/mingw-w64.cmake
#   x86: build-x86/  (BUILD_DIR_X86 overrides), cmake/mingw-w64-i686.cmake

cadenza_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# cadenza_answer_help SCRIPT ARG: where ARG is -h or --help, prints SCRIPT's header comment (its
# usage) and exits 0, before the script does anything else.
cadenza_answer_help() {
  case "$2" in -h | --help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$1"; exit 0 ;; esac
}

cadenza_build_dir() {
  case "$1" in
    x64) printf '%s' "${BUILD_DIR:-$cadenza_root/build}" ;;
    x86) printf '%s' "${BUILD_DIR_X86:-$cadenza_root/build-x86}" ;;
  esac
}

cadenza_toolchain() {
  case "$1" in
    x64) printf '%s' "$cadenza_root/cmake/mingw-w64.cmake" ;;
    x86) printf '%s' "$cadenza_root/cmake/mingw-w64-i686.cmake" ;;
  esac
}

# cadenza_build ARCH [cmake --build arguments...]: configures (once) and builds ARCH.
cadenza_build() {
  local arch="$1" build
  shift
  build=$(cadenza_build_dir "$arch")
  if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$cadenza_root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$(cadenza_toolchain "$arch")" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
  fi
  cmake --build "$build" -j"$(nproc)" "$@"
}

# 32-bit Windows programs run only when 32-bit Linux programs run (natively, or through a user-mode
# emulator that scripts/bootstrap registers where the kernel runs none) and 32-bit Wine
# (wine32:i386, its loader /usr/lib/wine/wine) is installed. Prints why not, and fails with 2
# (the 32-bit half of the set-up is missing; scripts/bootstrap's reason is added when it left one
# in CADENZA_BOOTSTRAP_X86_NOTE). CADENZA_LD_LINUX_32 and CADENZA_WINE32_LOADER replace the two
# paths in tests.
cadenza_can_run_x86() {
  local loader="${CADENZA_LD_LINUX_32:-/lib/ld-linux.so.2}" note="${CADENZA_BOOTSTRAP_X86_NOTE:-}" why
  if [ ! -e "$loader" ] && ! cadenza_kernel_runs_x86; then
    why="32-bit Linux programs do not run here (a 32-bit probe program failed): the kernel runs none and no user-mode emulator is registered for them"
  elif [ ! -e "$loader" ]; then
    why="the 32-bit C library (libc6:i386) is not installed"
  elif ! "$loader" --version >/dev/null 2>&1; then
    why="32-bit Linux programs do not run here ($loader failed): the kernel runs none and no user-mode emulator is registered for them"
  elif [ ! -x "${CADENZA_WINE32_LOADER:-/usr/lib/wine/wine}" ]; then
    why="32-bit Wine (wine32:i386) is not installed"
  else
    return 0
  fi
  if [ -n "$note" ] && [ -s "$note" ]; then
    why="$why; scripts/bootstrap: $(cat "$note")"
  fi
  echo "$why"
  return 2
}

# cadenza_i386_entries: the binfmt_misc entries that take i386 ELF programs (executables and
# shared objects, the 32-bit loader among them), one "NAME INTERPRETER STATE" a line; an entry
# named qemu-i386 counts whatever it matches. CADENZA_BINFMT_DIR replaces the folder.
cadenza_i386_entries() {
  local e line state interp magic
  for e in "${CADENZA_BINFMT_DIR:-/proc/sys/fs/binfmt_misc}"/*; do
    case "${e##*/}" in register | status | '*') continue ;; esac
    [ -f "$e" ] || continue
    state="" interp="" magic=""
    while IFS= read -r line; do
      case "$line" in
        enabled | disabled) state=$line ;;
        "interpreter "*) interp=${line#interpreter } ;;
        "magic "*) magic=${line#magic } ;;
      esac
    done < "$e"
    [[ "${e##*/}" == qemu-i386 || "$magic" =~ ^7f454c46010101[0-9a-f]{18}0[23]000300 ]] \
      && echo "${e##*/} ${interp:-?} ${state:-?}"
  done
}

# cadenza_qemu_version EMULATOR: its version (e.g. 10.0.2), or nothing when it does not answer.
cadenza_qemu_version() {
  [ -x "$1" ] || return 0
  { "$1" --version 2>/dev/null || true; } | sed -n '1s/^qemu-i386 version \([0-9][0-9.]*\).*/\1/p'
}

# cadenza_x86_emulator: where 32-bit programs run through a user-mode emulator (an enabled
# binfmt_misc entry for i386 programs), prints which ("QEMU 10.0.2 user-mode emulation
# (/usr/bin/qemu-i386)"); prints nothing where they run natively.
cadenza_x86_emulator() {
  local name interp state version
  while read -r name interp state; do
    [ "$state" = enabled ] || continue
    version=$(cadenza_qemu_version "$interp")
    printf 'QEMU %s user-mode emulation (%s)' "${version:-of unknown version}" "$interp"
    return 0
  done < <(cadenza_i386_entries)
}

# cadenza_kernel_runs_x86: whether the kernel executes 32-bit x86 Linux programs, asked without
# the 32-bit C library (which may be what could not be installed): a static 93-byte program (an
# ELF header, one loadable segment, `exit(0)` through int 0x80) is run. CADENZA_X86_KERNEL_PROBE
# names a command that answers instead (tests).
cadenza_kernel_runs_x86() {
  if [ -n "${CADENZA_X86_KERNEL_PROBE:-}" ]; then
    $CADENZA_X86_KERNEL_PROBE
    return
  fi
  local probe status
  probe=$(mktemp) || return 1
  {
    printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0\0\0\0\0'
    printf '\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0'
    printf '\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10\135\0\0\0\135\0\0\0\5\0\0\0\0\20\0\0'
    printf '\270\1\0\0\0\61\333\315\200'
  } > "$probe"
  chmod +x "$probe"
  "$probe" >/dev/null 2>&1
  status=$?
  rm -f "$probe"
  return $status
}

# cadenza_prepare_prefix BUILD: makes BUILD/wineprefix when it is missing, and makes it again
# when 32-bit Wine is installed but the prefix was created without its 32-bit half (every wine
# call in such a prefix then fails to load kernel32.dll). Call it with a display (inside
# xvfb-run): a prefix made without one has a broken desktop process.
cadenza_prepare_prefix() {
  local prefix="$1/wineprefix"
  if [ -f "$prefix/system.reg" ] && [ -x /usr/lib/wine/wine ] \
     && [ ! -f "$prefix/drive_c/windows/syswow64/kernel32.dll" ]; then
    echo "The Wine prefix $prefix has no 32-bit half (made before 32-bit Wine was installed): making it again"
    WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
    rm -rf "$prefix"
  fi
  if [ ! -f "$prefix/system.reg" ]; then
    WINEPREFIX="$prefix" "$cadenza_root/scripts/wine-run" cmd /c exit 0 >/dev/null 2>&1 </dev/null || true
    WINEPREFIX="$prefix" wineserver -w || true
  fi
}

# cadenza_copy_prefix BUILD FOLDER: gives FOLDER/wineprefix a copy of BUILD/wineprefix when it has
# none (a copy takes a second; wineboot makes a prefix in 10 to 20 s). Call it after
# cadenza_prepare_prefix and before BUILD's wineserver starts, so that the copy is of a prefix
# at rest.
cadenza_copy_prefix() {
  local from="$1/wineprefix" to="$2/wineprefix"
  [ -f "$from/system.reg" ] && [ ! -e "$to" ] || return 0
  mkdir -p "$2" && cp -a "$from" "$to.partial" && mv "$to.partial" "$to"
}

# cadenza_start_wine BUILD: one persistent wineserver for the prefix, and Wine's background
# services and desktop started now, detached from the caller's output (CTest would otherwise
# wait on them after each test). Needs a display.
cadenza_start_wine() {
  local prefix="$1/wineprefix"
  WINEPREFIX="$prefix" wineserver -p 2>/dev/null || true   # already running for this prefix is fine
  WINEPREFIX="$prefix" "$cadenza_root/scripts/wine-run" cmd /c exit 0 >/dev/null 2>&1 </dev/null || true
  WINEPREFIX="$prefix" "$cadenza_root/scripts/wine-run" rundll32 user32.dll,GetDesktopWindow \
    >/dev/null 2>&1 </dev/null || true
}

# cadenza_stop_wine BUILD...: ends every Wine process of these prefixes and waits (bounded) for
# their wineserver to go. Only these prefixes: other runs on the machine keep theirs.
cadenza_stop_wine() {
  local build prefix
  for build in "$@"; do
    prefix="$build/wineprefix"
    [ -d "$prefix" ] || continue
    WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
    WINEPREFIX="$prefix" timeout 20 wineserver -w 2>/dev/null || true
  done
}

# cadenza_stop_wine_on_exit BUILD...: stops the prefixes' Wine when the script ends, also when it
# is interrupted or terminated (a signal ends the script through its EXIT trap).
cadenza_stop_wine_on_exit() {
  cadenza_stop_builds=("$@")
  trap 'cadenza_stop_wine "${cadenza_stop_builds[@]}"' EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  trap 'exit 129' HUP
}
