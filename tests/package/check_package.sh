#!/usr/bin/env bash
# The release package as a host developer gets it: made from the two build folders, unpacked, its
# checksums verified, every binary of the architecture its folder names, the package's version that
# of both components, the tips window's two pictures there and named; the package self-contained
# (no file carries the build machine's paths, the texts cite no source path and every package path
# they cite is there, the public header declares only what a host implements or calls, and the
# headers compile on their own); then, in a Wine prefix made for this test alone, the x64
# registration tool registers the package's x64 component for the machine, the x64 reference player
# creates the object by its ProgID and calls CheckUpgrade(0), so does a player that has loaded the
# package's Microsoft-ABI libraries first, the README's first step (a sample record, the prompt,
# Install) reaches the updater, a player with the contract's example libraries (built from the
# package) prompts, in a font that draws the window's Chinese and Latin text (as the reference
# pair's fonts do), and logs, the sample player built from the
# package's sample/ and include/ alone (both architectures, by clang for the Microsoft target)
# prompts, and after unregistering the player can no longer create the object. Where 32-bit Wine
# runs (scripts/common.sh decides, as for the x86 suite), the x86 tool and player do the same
# registration, creation and unregistration; elsewhere the x86 half is checked statically only.
# The last line says which. At the end the package is made again into another folder, under
# another time zone, and must be the same ZIP byte for byte; every PE file in it carries no link
# time (MinGW's links: 0; lld-link's: /Brepro, a hash and a repro entry in the debug directory).
# Usage: check_package.sh SOURCE_ROOT BUILD_X64 BUILD_X86 OBJDUMP (the x86-64 one, which reads both formats)
# Exit 77 (skipped) when the x86 build has not been made.
# Its windows go to an X display of its own (a second Xvfb), as its Wine prefix is its own: the
# clicks and the focus of the rest of the suite are then not its, so it runs beside them. (The
# search for a free display starts at :200, apart from the other tests that make their own.)
set -uo pipefail
if [ -z "${CADENZA_PACKAGE_TEST_DISPLAY:-}" ]; then
  CADENZA_PACKAGE_TEST_DISPLAY=1 exec xvfb-run -a -n 200 -s "-screen 0 1280x800x24" "$0" "$@"
fi
root="$1" build="$2" build_x86="${BUILD_DIR_X86:-$3}" objdump="$4"
work="$build/package-test"
prefix="$work/wineprefix"
failed=0
fail() { echo "FAILED: $*"; failed=1; }
cleanup() {
  if [ -d "$prefix" ]; then
    WINEPREFIX="$prefix" wineserver -k 2>/dev/null
    WINEPREFIX="$prefix" timeout 20 wineserver -w 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

if [ ! -f "$build_x86/bin/Cadenza_Upgrade.dll" ]; then
  echo "SKIPPED: no x86 build in $build_x86 (scripts/test builds both; the package needs both)"
  exit 77
fi
rm -rf "$work" && mkdir -p "$work"

zip=$(python3 "$root/scripts/package.py" --x64 "$build" --x86 "$build_x86" --out "$work/out") || exit 1
version=$(python3 "$root/scripts/package.py" --version-of "$build/bin/Cadenza_Upgrade.dll")
echo "package: $zip (component $version)"
[ "$(basename "$zip")" = "Cadenza_Upgrade-$version.zip" ] || fail "the ZIP is not named by the component's version"
(cd "$(dirname "$zip")" && sha256sum --quiet -c "$(basename "$zip").sha256") || fail "the ZIP's own checksum"

python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$work/unpacked"
top="$work/unpacked/Cadenza_Upgrade-$version"
[ -d "$top" ] || fail "no folder Cadenza_Upgrade-$version in the ZIP"
cd "$top" || exit 1

# Every file is in SHA256SUMS and every sum verifies.
sha256sum --quiet -c SHA256SUMS || fail "a checksum in SHA256SUMS does not verify"
listed=$(sed 's/^[0-9a-f]\{64\}  //' SHA256SUMS | sort)
present=$(find . -type f ! -name SHA256SUMS | sed 's|^\./||' | sort)
[ "$listed" = "$present" ] || fail "SHA256SUMS does not list exactly the package's files: $(diff <(echo "$listed") <(echo "$present") | tr '\n' ' ')"

for f in host-contract.md README.txt include/Cadenza_Upgrade.idl include/Cadenza_Upgrade.h \
         include/host_services.h include/cadenza_common.h sample/CMakeLists.txt sample/sample.rc \
         sample/toolchain/clang-msvc-x64.cmake sample/toolchain/clang-msvc-x86.cmake; do
  [ -s "$f" ] || fail "$f missing or empty"
done
grep -q "^Cadenza_Upgrade $version" README.txt || fail "README.txt does not name version $version"
# The pictures of the window as it should look, named by the README: PNGs of the window's size.
for f in tips-window-96dpi.png tips-window-144dpi.png; do
  size=$(python3 -c 'import struct, sys; d = open(sys.argv[1], "rb").read(24); print("%dx%d" % struct.unpack(">II", d[16:24]) if d[:8] == b"\x89PNG\r\n\x1a\n" else "none")' "$f" 2>/dev/null)
  [ "$size" = 258x170 ] || fail "$f is not a 258 x 170 PNG picture of the tips window ($size)"
  grep -q "$f" README.txt || fail "README.txt does not name $f"
done
# The skin document and script as the component hands them to LoadSkin (UTF-16LE), named by the README.
for f in tips-skin-document.xml tips-skin-script.vbs; do
  iconv -f UTF-16LE -t UTF-8 "$f" 2>/dev/null | grep -q . || fail "$f missing or not UTF-16LE text"
  grep -q "$f" README.txt || fail "README.txt does not name $f"
done

for arch in x64 x86; do
  case $arch in x64) want=pei-x86-64 ;; x86) want=pei-i386 ;; esac
  for f in Cadenza_Upgrade.dll CadenzaRegister.exe CadenzaCommon.dll CadenzaWidget_MFC.dll Cadenza.exe CadenzaUpdate.exe \
           CadenzaSampleRecord.exe mfc/CadenzaCommon.dll mfc/CadenzaWidget_MFC.dll; do
    format=$("$objdump" -f "$arch/$f" 2>/dev/null | sed -n 's/.*file format //p')
    [ "$format" = "$want" ] || fail "$arch/$f is '$format', not $want"
  done
  [ -s "$arch/Cadenza_Upgrade.tlb" ] || fail "$arch/Cadenza_Upgrade.tlb missing"
  exports=$("$objdump" -p "$arch/mfc/CadenzaCommon.dll")  # read whole: grep -q would cut objdump off
  grep -q '?GetExeFolder@cadenza@@' <<<"$exports" \
    || fail "$arch/mfc/CadenzaCommon.dll exports no Microsoft-decorated GetExeFolder"
  v=$(python3 "$root/scripts/package.py" --version-of "$arch/Cadenza_Upgrade.dll")
  [ "$v" = "$version" ] || fail "$arch/Cadenza_Upgrade.dll is version $v, the package $version"
done
[ $failed -eq 0 ] && echo "contents, checksums, architectures and versions: as expected"

# Self-contained: what the package holds, it can be read with alone.
self_contained=$(python3 - "$root" "$build" "$build_x86" <<'PY'
import re, sys
from pathlib import Path
root, builds = Path(sys.argv[1]).resolve(), [Path(b).resolve() for b in sys.argv[2:]]
shipped = {str(p.relative_to(".")).replace("\\", "/") for p in Path(".").rglob("*") if p.is_file()}
problems = []
# The build machine's paths, as narrow or wide text, in no file (binaries included).
for name in sorted(shipped):
    data = Path(name).read_bytes()
    for path in [str(root)] + [str(b) for b in builds] + ["Z:" + str(b).replace("/", "\\") for b in [root] + builds]:
        if path.encode() in data or path.encode("utf-16-le") in data:
            problems.append(f"{name} carries the build path {path}")
# The texts cite no path of the source tree; every package path they cite is in the package.
shipped_folders = ("include", "x64", "x86", "sample")
sources = {p.name for p in root.iterdir() if p.is_dir() and not p.name.startswith(".")} - set(shipped_folders)
for name in sorted(n for n in shipped if n.endswith((".md", ".txt", ".h", ".idl", ".c"))):
    text = Path(name).read_text(encoding="utf-8", errors="replace")
    for cited in sorted(set(re.findall(r"(?<![\w.\\/-])((?:[A-Za-z_][\w.-]*[/\\])+[\w.-]*)", text))):
        parts = re.split(r"[/\\]", cited)
        if parts[0] in sources:
            problems.append(f"{name} cites {cited}, a source path the package does not hold")
        elif parts[0] in shipped_folders and "." in parts[-1] and cited.replace("\\", "/") not in shipped:
            problems.append(f"{name} cites {cited}, which the package does not hold")
# The public header: what a host implements or calls, not the component's own way to its objects.
header = Path("include/host_services.h").read_text(encoding="utf-8")
for internal in ("ObtainHostProvider", "ObtainHostObject", "HostProviderCache", "enum class HostObject"):
    if internal in header:
        problems.append(f"include/host_services.h declares the component's own {internal}")
print("\n".join(problems))
PY
) || fail "the self-containment check did not run"
[ -z "$self_contained" ] || fail "the package is not self-contained:
$self_contained"
# A host compiles against include/ alone.
compiler="${objdump%objdump}g++-posix"
printf '#include <windows.h>\n#include "Cadenza_Upgrade.h"\n#include "host_services.h"\n#include "cadenza_common.h"\nstruct P : IHostServiceProvider {};\nint main() { return WM_SKINEVENT == 0x0BD1 && IID_IUpgradeHost.Data1 != 0 ? 0 : 1; }\n' > "$work/host.cpp"
"$compiler" -std=c++20 -fsyntax-only -DUNICODE -D_UNICODE -Iinclude "$work/host.cpp" 2>"$work/host.err" \
  || fail "a host does not compile against include/ alone: $(head -c 800 "$work/host.err")"
[ $failed -eq 0 ] && echo "self-contained: no build path, no source path cited, only host declarations, include/ compiles alone"

# The x64 half under Wine, in a prefix of its own (made here, with the display of the test run).
export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all
"$root/scripts/wine-run" cmd /c exit 0 >/dev/null 2>&1 </dev/null
[ -f "$prefix/system.reg" ] || { fail "the Wine prefix could not be made"; exit 1; }
mkdir -p "$prefix/drive_c/Package"
cp -r "$top/." "$prefix/drive_c/Package/"
dll='C:\Package\x64\Cadenza_Upgrade.dll'
run() { "$root/scripts/wine-run" "$@" </dev/null 2>&1 | tr -d '\r'; return "${PIPESTATUS[0]}"; }

# register_and_check ARCH: the package's ARCH tool registers its ARCH component for the machine,
# and its ARCH reference player creates it by ProgID and checks.
register_and_check() {
  out=$(run "C:\\Package\\$1\\CadenzaRegister.exe" /machine "C:\\Package\\$1\\Cadenza_Upgrade.dll"); rc=$?
  echo "$out"; [ $rc -eq 0 ] || fail "$1 registration exited with $rc"
  out=$(run "C:\\Package\\$1\\Cadenza.exe" check 0); rc=$?
  echo "$out"
  [ $rc -eq 0 ] || fail "the $1 reference player exited with $rc"
  grep -q 'CheckUpgrade(0) -> 0x00000000 S_OK' <<<"$out" || fail "the $1 player did not report CheckUpgrade(0) S_OK"
}
register_and_check x64
# A player with the Microsoft-ABI pair loaded before the component (its own folder, the registered
# component elsewhere): the component binds to them and the library's strings come back to it.
mkdir -p "$prefix/drive_c/MfcPlayer"
cp "$top/x64/Cadenza.exe" "$top/x64/CadenzaUpdate.exe" "$top/x64/mfc/CadenzaCommon.dll" "$top/x64/mfc/CadenzaWidget_MFC.dll" \
  "$prefix/drive_c/MfcPlayer/"
out=$(run 'C:\MfcPlayer\Cadenza.exe' check 0 --preload); rc=$?
echo "$out"
[ $rc -eq 0 ] || fail "the x64 player with the Microsoft-ABI libraries exited with $rc"
grep -q 'CheckUpgrade(0) -> 0x00000000 S_OK' <<<"$out" || fail "with the Microsoft-ABI libraries: no CheckUpgrade(0) S_OK"
grep -Eq 'library strings: made ([1-9][0-9]*), freed \1, not its own but freed through it 0' <<<"$out" \
  || fail "with the Microsoft-ABI libraries: the library's strings did not all come back to it"
# The README's first step: a sample record beside the package's updater, the prompt, Install.
record=$(run 'C:\Package\x64\CadenzaSampleRecord.exe' 'C:\Package\x64'); rc=$?
echo "sample record: $record"; [ $rc -eq 0 ] || fail "CadenzaSampleRecord.exe exited with $rc"
out=$(run 'C:\Package\x64\Cadenza.exe' check 0 --press install --wait 30); rc=$?
echo "$out"
[ $rc -eq 0 ] || fail "the prompt of the first step: the player exited with $rc"
updater_log="$(dirname "$(run winepath -u "$record")")/CadenzaUpdate.log"
for _ in $(seq 1 100); do [ -s "$updater_log" ] && break; sleep 0.1; done
iconv -f UTF-16 -t UTF-8 "$updater_log" 2>/dev/null | grep -q $'^install\t.*/install /newpath "Cadenza"' \
  || fail "the first step: Install did not reach the updater ($updater_log)"
# The contract's smallest MinGW libraries, built from the package alone (its host-contract.md and
# include/), serve a player: the prompt shows and their Log writes the log line as the component
# means it (a narrow reading of its %s would leave one character or garbage).
mkdir -p "$prefix/drive_c/ExamplePlayer"
python3 - "$top/host-contract.md" "$work" <<'PY' || fail "the contract's example libraries could not be taken out"
import re, sys
from pathlib import Path
for name, code in re.findall(r"```cpp\n// (\w+)\.cpp\n(.*?)```", Path(sys.argv[1]).read_text(encoding="utf-8"), re.S):
    Path(sys.argv[2], name + ".cpp").write_text(code, encoding="utf-8")
PY
for lib in CadenzaCommon:CADENZA_COMMON_BUILD CadenzaWidget_MFC:CADENZA_WIDGET_BUILD; do
  "$compiler" -std=c++20 -O2 -shared -DUNICODE -D_UNICODE "-D${lib#*:}" -Iinclude -static \
    -o "$prefix/drive_c/ExamplePlayer/${lib%%:*}.dll" "$work/${lib%%:*}.cpp" -lgdi32 2>"$work/example.err" \
    || fail "the contract's ${lib%%:*}.cpp does not build from the package: $(head -c 800 "$work/example.err")"
done
cp "$top/x64/Cadenza.exe" "$top/x64/CadenzaUpdate.exe" "$top/x64/Cadenza_Upgrade.dll" "$prefix/drive_c/ExamplePlayer/"
run 'C:\Package\x64\CadenzaSampleRecord.exe' 'C:\ExamplePlayer' >/dev/null || fail "no sample record for the example player"
out=$(run 'C:\ExamplePlayer\Cadenza.exe' check 0 --direct --preload --press later --wait 30); rc=$?
echo "$out"
[ $rc -eq 0 ] || fail "the player with the contract's example libraries exited with $rc"
grep -q 'the tips window is shown' <<<"$out" || fail "with the contract's example libraries: no prompt"
# The example's font has CJK glyphs (the description is Chinese): a face fontconfig lists for zh.
face=$(sed -n "s/.*the tips window's text font is '\(.*\)'.*/\1/p" <<<"$out")
{ [ -n "$face" ] && fc-list :lang=zh family | tr ',' '\n' | grep -qxF "$face"; } \
  || fail "the contract's example font '$face' is not a face with CJK glyphs ($(fc-list :lang=zh family | head -n 3 | tr '\n' ';'))"
# It draws the window's Latin text too, as do the reference pair's fonts (both ABIs): every
# character of the title, the question and the buttons drawn, none as the face's missing-glyph box.
"$compiler" -std=c++20 -O2 -municode -DUNICODE -D_UNICODE -static -o "$prefix/drive_c/draws_text.exe" \
  "$root/tests/package/draws_text.cpp" -lgdi32 2>"$work/draws.err" || fail "draws_text.cpp: $(head -c 800 "$work/draws.err")"
out=$(run 'C:\draws_text.exe' 'C:\ExamplePlayer\CadenzaWidget_MFC.dll' 'C:\Package\x64\CadenzaWidget_MFC.dll' \
  'C:\Package\x64\mfc\CadenzaWidget_MFC.dll'); rc=$?
echo "$out"
[ $rc -eq 0 ] || fail "a widget library's font draws the tips window's text with boxes (the example's, or a reference one's)"
music=$(find "$prefix/drive_c/users" -ipath '*/temp/music.txt' 2>/dev/null | head -n 1)  # GetTempPathW's folder
head -n 1 "${music:-/dev/null}" | grep -q '^Upgrade Content:Cadenza 5.2 新版本更新内容：' \
  || fail "the example Log did not write the component's log line: $(head -c 200 "${music:-/dev/null}")"

# The sample player from the package's files alone: its CMakeLists.txt with the package's clang
# toolchain files, against the package's include/ (both architectures); the x64 one then prompts
# in a folder with the package's component, updater and Microsoft-ABI pair.
for arch in x64 x86; do
  if ! env -u CC -u CXX -u CFLAGS -u CXXFLAGS -u LDFLAGS cmake -S "$top/sample" -B "$work/sample-$arch" -G Ninja \
         -DCMAKE_TOOLCHAIN_FILE="$top/sample/toolchain/clang-msvc-$arch.cmake" -DCMAKE_BUILD_TYPE=Release \
         >"$work/sample-$arch.log" 2>&1 || ! cmake --build "$work/sample-$arch" >>"$work/sample-$arch.log" 2>&1; then
    fail "the $arch sample does not build from the package: $(tail -c 1200 "$work/sample-$arch.log")"
  fi
done
mkdir -p "$prefix/drive_c/SamplePlayer"
cp "$work/sample-x64/CadenzaSample.exe" "$top/x64/Cadenza_Upgrade.dll" "$top/x64/CadenzaUpdate.exe" \
  "$top/x64/mfc/CadenzaCommon.dll" "$top/x64/mfc/CadenzaWidget_MFC.dll" "$prefix/drive_c/SamplePlayer/" \
  || fail "the sample player could not be staged"
run 'C:\Package\x64\CadenzaSampleRecord.exe' 'C:\SamplePlayer' >/dev/null || fail "no sample record for the sample player"
out=$(run 'C:\SamplePlayer\CadenzaSample.exe' check 0 --direct --press later --wait 30); rc=$?
echo "$out"
[ $rc -eq 0 ] || fail "the sample player built from the package exited with $rc"
grep -q 'the tips window is shown' <<<"$out" || fail "the sample player built from the package did not prompt"
grep -q 'skin: WM_SKINEVENT 1003' <<<"$out" || fail "the sample player's skin did not answer Later"

out=$(run 'C:\Package\x64\CadenzaRegister.exe' /machine /unregister "$dll"); rc=$?
echo "$out"; [ $rc -eq 0 ] || fail "x64 unregistration exited with $rc"
out=$(run 'C:\Package\x64\Cadenza.exe' check 0); rc=$?
echo "$out"
[ $rc -eq 3 ] || fail "after unregistering, the player still created the object (exit $rc, not 3)"

# The x86 half, where this machine runs 32-bit Wine: the 32-bit view of the registry and a 32-bit
# player in the same prefix.
source "$root/scripts/common.sh"
if why=$(cadenza_can_run_x86); then
  x86dll='C:\Package\x86\Cadenza_Upgrade.dll'
  register_and_check x86
  out=$(run 'C:\Package\x86\CadenzaRegister.exe' /machine /unregister "$x86dll"); rc=$?
  echo "$out"; [ $rc -eq 0 ] || fail "x86 unregistration exited with $rc"
  out=$(run 'C:\Package\x86\Cadenza.exe' check 0); rc=$?
  echo "$out"
  [ $rc -eq 3 ] || fail "after unregistering, the x86 player still created the object (exit $rc, not 3)"
  emulator=$(cadenza_x86_emulator)
  x86_line="run here${emulator:+ under $emulator}: x86/CadenzaRegister.exe registered and unregistered x86/Cadenza_Upgrade.dll, x86/Cadenza.exe created it by ProgID in between"
else
  x86_line="not run here: x86/CadenzaRegister.exe and x86/Cadenza.exe ($why)"
fi

# The same package again, made into another folder in another time zone: the same bytes. Its PE
# files carry no link time.
TZ=Pacific/Kiritimati python3 "$root/scripts/package.py" --x64 "$build" --x86 "$build_x86" --out "$work/again" >/dev/null \
  || fail "the package could not be made a second time"
cmp "$zip" "$work/again/$(basename "$zip")" || fail "the package made a second time differs from the first"
stamped=$(cd "$top" && for f in x64/*.exe x64/*.dll x64/mfc/*.dll x86/*.exe x86/*.dll x86/mfc/*.dll; do
  headers=$("$objdump" -p "$f")
  stamp=$(sed -n 's/^Time\/Date\t\+//p' <<<"$headers")
  case "$stamp" in
    "Thu Jan  1 00:00:00 1970" | *"reproducible build file hash"*) ;;
    *) echo "$f ($stamp)" ;;
  esac
  ! grep -q '^Time/Date stamp[[:space:]]*[1-9]' <<<"$headers" || echo "$f (its export directory)"
done)
[ -z "$stamped" ] || fail "PE files that carry their link time: $(paste -sd ' ' <<<"$stamped")"
# widl's text in the type library (also inside the component) names the epoch, not the build.
widl_times=$(grep -aoh 'Created by WIDL version [^ ]* at .\{24\}' x64/Cadenza_Upgrade.* x86/Cadenza_Upgrade.* | sort -u)
{ [ -n "$widl_times" ] && ! grep -qv ' at Thu Jan  1 00:00:00 1970$' <<<"$widl_times"; } \
  || fail "a type library carries its build time: ${widl_times:-no widl text found}"
[ $failed -eq 0 ] && echo "reproducible: made twice, the same ZIP; no PE file carries its link time, no type library its build time"

echo "The x86 half: $x86_line"
exit $failed
