#!/usr/bin/env python3
"""Makes the release package from the two build folders (standard library only).

  package.py --x64 BUILD --x86 BUILD_X86 --out FOLDER   writes FOLDER/Cadenza_Upgrade-VERSION.zip
                                                        (and .zip.sha256), prints the ZIP's path
  package.py --version-of DLL                           prints the file version of DLL

The version is the component's file version (its VERSIONINFO). Inside the ZIP, under the folder
Cadenza_Upgrade-VERSION/: x64/ and x86/ (the component, its type library, the registration tool,
and the reference stand-ins of the player that must lie beside it), include/, sample/ (the sample
player's sources, its CMakeLists.txt and its clang toolchain files), the host contract, the tips
window's pictures at 96 and 144 DPI, README.txt and SHA256SUMS (sha256sum format, every other
file of the package). The ZIP is the same for the same commit: its entries are sorted and carry
the commit's time (SOURCE_DATE_EPOCH when set), and its README names the commit.
"""
import argparse
import hashlib
import os
import struct
import subprocess
import sys
import time
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

# (file, what it is); from the build's bin/ folder, the type library from widl's output.
COMPONENT_FILES = [
    ("Cadenza_Upgrade.dll", "the component (in-process COM server)"),
    ("Cadenza_Upgrade.tlb", "its type library (also carried inside the DLL)"),
    ("CadenzaRegister.exe", "the registration tool for this architecture's registry view"),
]
REFERENCE_FILES = [
    ("CadenzaCommon.dll", "reference stand-in of the player's common library (GCC ABI)"),
    ("CadenzaWidget_MFC.dll", "reference stand-in of the player's widget library, the font (GCC ABI)"),
    ("mfc/CadenzaCommon.dll", "the same as an MSVC/MFC player exports it (Microsoft ABI, CString)"),
    ("mfc/CadenzaWidget_MFC.dll", "the same as an MSVC/MFC player exports it (Microsoft ABI, CFont*)"),
    ("Cadenza.exe", "reference player (host service provider, skin engine, main window)"),
    ("CadenzaUpdate.exe", "reference stand-in of the updater (logs each command line it gets: the first hour)"),
    ("CadenzaSampleRecord.exe", "FOLDER: a downloaded-package record for the updater of FOLDER, the player's"
                                " folder, written to %APPDATA%\\CadenzaUpdate\\<MD5>\\CadenzaUpdate.ini; prints its path"),
]
# (file in the package, source in the tree, what it shows): the window as it should look.
PICTURES = [
    ("tips-window-96dpi.png", "docs/tips-window-96dpi.png", "the tips window at 96 DPI"),
    ("tips-window-144dpi.png", "docs/tips-window-144dpi.png", "the same at 144 DPI"),
]
# (file in the package, source in the tree, what it is): what the component hands to LoadSkin,
# for an engine's own tests, UTF-16LE without a byte-order mark (the BSTR's characters exactly).
# tests/contract/check_skin_document.py compares them with what the component really passes.
SKIN_MODULE_PATH = "C:\\Program Files\\Cadenza\\Cadenza_Upgrade.dll"
SKIN_FILES = [
    ("tips-skin-document.xml", "docs/tips-skin-document.xml",
     "the skin document, for a player whose GetExeFolder() is C:\\Program Files\\Cadenza\\"),
    ("tips-skin-script.vbs", "docs/tips-skin-script.vbs", "the skin script, the third argument of LoadSkin"),
]
# (path in the package, source: relative to the source tree, or to the x64 build for generated files)
INCLUDE_FILES = [
    ("include/Cadenza_Upgrade.idl", "src", "res/Cadenza_Upgrade.idl"),
    ("include/Cadenza_Upgrade.h", "gen", "res/generated/res/Cadenza_Upgrade.h"),
    ("include/Cadenza_Upgrade_i.c", "gen", "res/generated/res/Cadenza_Upgrade_i.c"),
    ("include/host_services.h", "src", "player_api/host_services.h"),
    ("include/cadenza_common.h", "src", "player_api/cadenza_common.h"),
]

# The sample player's folder, shipped as it is in the tree: it builds against ../include.
SAMPLE_FOLDER = "sample"


# The package README's path for a player team, from nothing to a prompt that answers.
FIRST_HOUR = """\
The first hour: a player's side, in this order
----------------------------------------------
Sections named are those of host-contract.md. Each step is one command, run in this folder, and
what it prints. Under Linux (Debian 12) install first: wine wine64 (wine32:i386 for a 32-bit
player), xvfb, xdotool (to click the window from a script), imagemagick (to compare it with the
pictures) and fonts-wqy-microhei (a face that draws the Chinese); for list A clang lld llvm cmake
ninja-build, for list B g++-mingw-w64-x86-64-posix (g++-mingw-w64-i686-posix for x86). On
Windows leave out "wine" and take Windows paths. The 32-bit player takes the same steps with
x86\\ for x64\\, clang-msvc-x86.cmake and i686-w64-mingw32-g++-posix. The sample player's options
(CadenzaSample.exe and the reference Cadenza.exe take the same): --direct loads
Cadenza_Upgrade.dll from the program's folder instead of the registered class; --wait SECONDS
bounds the message loop while the tips window is shown (without it the program waits until the
window is answered); --picture PATH saves the window as a .bmp once it is shown; --press
install|later|close|checkbox then clicks it with the mouse.

A. The Microsoft toolchain in MSVC mode (clang against Wine's headers; with Visual Studio, open
   sample\\ as a folder for steps 1 and 2)
 1. cmake -S sample -B build-sample -G Ninja -DCMAKE_BUILD_TYPE=Release \\
          -DCMAKE_TOOLCHAIN_FILE=$PWD/sample/toolchain/clang-msvc-x64.cmake
    prints "-- Build files have been written to: .../build-sample"
 2. cmake --build build-sample
    prints "[N/N] Linking CXX executable CadenzaSample.exe"
 3. mkdir player && cp build-sample/CadenzaSample.exe x64/Cadenza_Upgrade.dll \\
          x64/CadenzaUpdate.exe x64/mfc/CadenzaCommon.dll x64/mfc/CadenzaWidget_MFC.dll player/
    prints nothing: a player's folder, with the Microsoft-ABI pair as your MFC libraries
 4. wine x64/CadenzaSampleRecord.exe "$(winepath -w player)"
    prints the record it wrote, C:\\users\\...\\AppData\\Roaming\\CadenzaUpdate\\<MD5>\\CadenzaUpdate.ini
    (a package 5.2 waiting for the 5.1 player; <MD5> names the updater's folder: section 8)
 5. wine player/CadenzaSample.exe check 0 --direct --wait 30 --picture mine.bmp --press later
    prints "host: CheckUpgrade(0) -> 0x00000000", "host: the tips window is shown at (X, Y),
    258 x 170" and "skin: WM_SKINEVENT 1003" (Later); exit status 0
 6. convert mine.bmp mine.png && compare -metric AE mine.png tips-window-96dpi.png diff.png
    prints the number of pixels that differ from the package's picture (0 for the reference
    engine; hold your own engine to it, and to tips-window-144dpi.png at 144 DPI)
 7. WINEDEBUG=warn+seh wine player/CadenzaSample.exe check 0 --direct --wait 5 2>&1 | grep -a 'dll: Cadenza'
    prints the component's two debugger lines (each twice: Wine's OutputDebugStringA and its
    dispatch_exception), "Cadenza_Upgrade.dll: CadenzaCommon.dll loaded by the player from
    ...\\player\\CadenzaCommon.dll, Microsoft ABI; every function found" and the same for
    CadenzaWidget_MFC.dll; a function your libraries do not export is named there (section 11)
 8. wine player/CadenzaSample.exe check 0 --direct --wait 30 --press install
    prints "host: pressed install ..."; the updater then appends a line to CadenzaUpdate.log
    beside the record of step 4 (UTF-16LE with a byte-order mark, CR LF): install<TAB>
    "...\\player\\CadenzaUpdate.exe"  /install /newpath "Cadenza" (two blanks before /install:
    section 9). Each line holds the mode it recognised in its arguments (install,
    install-crisispack, specific, specificlatest, pull, or unrecognised), a TAB, and its command
    line exactly as it received it (GetCommandLineW); a pull line has a second TAB and the push
    file's values.
 Section 11 gives the compiler and linker flags of both architectures with their reasons, the
 files to add, /Zc:wchar_t, the calling conventions, MFC's DEBUG_NEW and CMemoryException, and
 why not to use a wrapper generated from the type library. sample\\'s sources are the provider,
 settings, application control and skin engine to start from.

B. MinGW-w64 GCC
 1. python3 -c "import re; t=open('host-contract.md',encoding='utf-8').read(); [open(n+'.cpp','w',encoding='utf-8').write(c) for n,c in re.findall(chr(96)*3+'cpp\\n// (CadenzaCommon|CadenzaWidget_MFC)[.]cpp\\n(.*?)'+chr(96)*3, t, re.S)]"
    prints nothing; writes section 5's two example libraries, CadenzaCommon.cpp and
    CadenzaWidget_MFC.cpp (or copy them out of section 5 by hand)
 2. mkdir mingw && x86_64-w64-mingw32-g++-posix -std=c++20 -O2 -shared -DUNICODE -D_UNICODE \\
          -DCADENZA_COMMON_BUILD -Iinclude -static -o mingw/CadenzaCommon.dll CadenzaCommon.cpp
    prints nothing (the same with -DCADENZA_WIDGET_BUILD, CadenzaWidget_MFC.cpp and -lgdi32
    makes mingw/CadenzaWidget_MFC.dll)
 3. x86_64-w64-mingw32-objdump -p mingw/CadenzaCommon.dll | grep _ZN7cadenza
    prints the four GCC names of section 5's table, _ZN7cadenza12GetExeFolderB5cxx11Ev among them
 4. cp x64/Cadenza.exe x64/CadenzaUpdate.exe x64/Cadenza_Upgrade.dll mingw/
    prints nothing: the reference player stands in for yours until it exists
 5. wine x64/CadenzaSampleRecord.exe "$(winepath -w mingw)"
    prints the record's path, as in A.4
 6. wine mingw/Cadenza.exe check 0 --direct --preload --wait 30 --press later
    prints "host: CheckUpgrade(0) -> 0x00000000 S_OK", "host: the tips window is shown at
    (X, Y), 258 x 170", "host: the tips window's text font is 'WenQuanYi Micro Hei'" (the
    example's face; it must draw the Latin text too) and "host: pressed later ..."
 7. cat "$(winepath -u 'C:\\users')"/*/Temp/music.txt
    prints the line your Log wrote: "Upgrade Content:Cadenza 5.2 ..." (section 8, the log line)
 Then build your own player with include/ and the i686 or x86_64 compiler, and take the steps
 below in place of the reference player.

Your player's side, what each part must do
 a. The two common libraries (section 5): an MSVC/MFC player's own serve as they are. Either
    way LoadStringW answers strings 1217 (the caption of the message boxes and the tips
    window's title), 1354 and 1355 (section 5 gives the reference texts); GetAppVersion answers
    the major number in the high word and the minor in the low word (5.1 is 0x00050001), the
    first two fields of Cadenza.exe's file version; GetNormalFont answers a font that draws
    Chinese and Latin text. Then the requirements of section 1: the executable is Cadenza.exe
    (with a version resource), and CadenzaUpdate.exe, the component and the two libraries lie in
    its folder, a folder of its own (section 1: installations that share an update data folder).
 b. The service provider and its settings (section 4). Derive from include/host_services.h;
    register the provider's class object (CLSID_HostServiceProvider) in every apartment that
    calls the component; CreateSettings with the four settings methods kept across objects (a
    new user's GetPromptUpgrade is 1), CreateAppControl with Trigger, GetMainWindow, and
    GetUpgradeHost handing out the UpgradeHost object you keep (__uuidof(IUpgradeHost) works
    with either compiler). CreateSkinWindow may answer E_NOTIMPL for now. Check: after a record
    for your folder, CheckUpgrade(0) returns S_OK, calls SetPromptedVersion(327682) and writes
    the log line through your Log; no window yet (no skin).
 c. The smallest skin engine that makes the window answer (section 4, the skin engine's part,
    the skin document and the labels' font). tips-skin-document.xml and tips-skin-script.vbs in
    this folder are exactly what LoadSkin receives (UTF-16LE, no byte-order mark; the document
    for a player in C:\\Program Files\\Cadenza\\): feed them to your reader in its own tests.
    BindWindow: subclass the window; PrepareWindow: S_OK; LoadSkin: parse the document (drop its
    XML declaration), size the window to Window's width and height, move the child control 4097
    to DlgItem's rectangle, and paint the images and the labels, leaving each visible child
    window's rectangle out (the control 4097 is WS_EX_TRANSPARENT). A left button released over
    a Button sends WM_SKINEVENT with its Event's OnClick id; over the CheckBox it toggles the box
    and sends 1004 with a VARIANT of VT_BYREF | VT_VARIANT pointing to a VT_I4 of the new state;
    where rectangles overlap, the element drawn last takes the click. The last Release removes
    the subclass: every prompt after an answer brings a new object for the same window.
 d. The prompt from your player: CheckUpgrade(0) on the UI thread, which keeps its message loop
    running. The window is 258 x 170 in the bottom-right corner, of class CadenzaUpgradeWnd
    (section 4), and draws as tips-window-96dpi.png; Later calls SetPromptUpgrade(1); ticking
    the box and Later calls SetPromptUpgrade(0); Install calls ScheduledUpgrade(0) on your
    object, which starts CadenzaUpdate.exe (A.8). RecommendUpgrade and ForceUpgrade show message
    boxes of class #32770 with the same caption; under Wine their Chinese shows as boxes unless
    the prefix links a CJK face to Tahoma (section 3 gives the command). Last, release your
    objects and call CoFreeUnusedLibraries: with no tips window made, the component unloads.
""".split("\n")


# The earliest time a ZIP entry can carry (1980-01-01 00:00:00): outside git, with no
# SOURCE_DATE_EPOCH, every entry gets it.
ZIP_EPOCH = 315532800


def git(*args):
    """The output of a git command in the source tree, or None outside git."""
    try:
        done = subprocess.run(["git", "-C", str(ROOT), *args], capture_output=True, text=True, check=True)
    except (OSError, subprocess.CalledProcessError):
        return None
    return done.stdout.strip()


def source_date_epoch():
    """The time every entry carries: SOURCE_DATE_EPOCH, else the commit's time, else ZIP_EPOCH."""
    given = os.environ.get("SOURCE_DATE_EPOCH", "").strip()
    if given:
        return max(int(given), ZIP_EPOCH)
    commit_time = git("log", "-1", "--format=%ct")
    if commit_time:
        return max(int(commit_time), ZIP_EPOCH)
    print("package.py: not in git and no SOURCE_DATE_EPOCH: the entries carry 1980-01-01", file=sys.stderr)
    return ZIP_EPOCH


def source_commit():
    """The commit the package is made from, as the package README names it."""
    commit = git("rev-parse", "HEAD")
    if not commit:
        return "not known (made outside git)"
    if git("status", "--porcelain", "--untracked-files=no"):
        return f"{commit}, with changes not committed"
    return commit


def built_file(build, name):
    if name.endswith(".tlb"):
        return build / "res" / "generated" / "res" / name
    return build / "bin" / name


def file_version(dll):
    """a.b.c.d from the VS_FIXEDFILEINFO of a PE file's version resource."""
    data = Path(dll).read_bytes()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        raise SystemExit(f"{dll}: no version resource")
    ms, ls = struct.unpack_from("<II", data, at + 8)
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"


def readme(version, commit):
    lines = [
        f"Cadenza_Upgrade {version}",
        "=" * len(f"Cadenza_Upgrade {version}"),
        "",
        f"Made from commit {commit}.",
        "",
        "The upgrade component of the Cadenza player, for 64-bit (x64/) and 32-bit (x86/) players.",
        "Start with host-contract.md: what your player provides, the threading rules, registration,",
        "the files the component keeps and what the updater is expected to do.",
        "",
        "Each of x64/ and x86/ holds:",
    ]
    lines += [f"  {name:24} {what}" for name, what in COMPONENT_FILES]
    lines += ["", "and, marked REFERENCE, stand-ins for what your player ships itself (they lie in the same",
              "folder because the component finds the common libraries in its own folder when the",
              "player has not loaded them, and its bitmaps in the player's folder):"]
    lines += [f"  {name:28} REFERENCE: {what}" for name, what in REFERENCE_FILES]
    lines += ["", "The component binds to either pair of common libraries at run time (host-contract.md,",
              "section 5). To try the Microsoft-ABI pair, copy mfc\\*.dll over the two libraries beside",
              "Cadenza.exe, or copy Cadenza.exe into mfc\\ and run it there with --preload: the",
              "registered component then uses the libraries the player has loaded."]
    lines += [
        "",
        "include/ holds the IDL, the header and GUID definitions widl makes from it, the host service",
        "declarations (host_services.h) and the common-library declarations (cadenza_common.h).",
        "sample/ holds the sample player for the Microsoft toolchain: plain Win32 and COM over include/",
        "alone, its CMakeLists.txt for Visual Studio, and toolchain/ to build it with clang instead",
        "(the first hour's steps A.1 and A.2 below give the two commands).",
        "",
        "The tips window as it should look, shown by the reference player, skin engine and libraries",
        "(258 x 170 pixels at every DPI; only the description's 9-point font grows with it):",
    ]
    lines += [f"  {name:28} {what}" for name, _, what in PICTURES]
    lines += ["", "What the component hands to the skin engine's LoadSkin, for an engine's own tests:"]
    lines += [f"  {name:28} {what}" for name, _, what in SKIN_FILES]
    lines += [
        "",
        "Try it (a Windows machine or a Wine prefix; run the tool of the player's architecture):",
        "  x64\\CadenzaRegister.exe /machine C:\\...\\x64\\Cadenza_Upgrade.dll",
        "  x64\\Cadenza.exe check 0          (creates the object by its ProgID; prints the HRESULT)",
        "  x64\\CadenzaRegister.exe /machine /unregister C:\\...\\x64\\Cadenza_Upgrade.dll",
        "Without /machine the registration is per user (HKCU\\Software\\Classes).",
        "",
        "Check the files: sha256sum -c SHA256SUMS (in this folder).",
        "",
        "Check that the package is made from the commit named above: the same commit makes the same",
        "ZIP, byte for byte (no file carries a build time or a build path; the entries are sorted and",
        "carry the commit's time). In a clone of the repository at that commit, on Debian 12 with the",
        "packages its bootstrap script installs, its package command (the repository README's",
        "Commands section names both) makes this ZIP again: compare the two with cmp, or the new one's",
        "sha256sum with the .zip.sha256 published beside this ZIP. Another version of the compiler,",
        "linker or widl makes other bytes, so use Debian 12's packages as bootstrap installs them.",
        "SOURCE_DATE_EPOCH, when set, replaces the commit's time in the entries; set it",
        "only to remake a package that was made with it.",
        "",
    ]
    lines += FIRST_HOUR
    return "\r\n".join(lines)


def make(x64, x86, out):
    builds = {"x64": Path(x64), "x86": Path(x86)}
    for arch, build in builds.items():
        missing = [n for n, _ in COMPONENT_FILES + REFERENCE_FILES if not built_file(build, n).is_file()]
        if missing:
            raise SystemExit(f"{arch} build {build}: missing {', '.join(missing)} (build it first)")
    version = file_version(builds["x64"] / "bin" / "Cadenza_Upgrade.dll")
    other = file_version(builds["x86"] / "bin" / "Cadenza_Upgrade.dll")
    if other != version:
        raise SystemExit(f"the x86 component is {other}, the x64 one {version}: rebuild both")

    entries = {}  # path in the package -> bytes
    for arch, build in builds.items():
        for name, _ in COMPONENT_FILES + REFERENCE_FILES:
            entries[f"{arch}/{name}"] = built_file(build, name).read_bytes()
    for target, kind, source in INCLUDE_FILES:
        entries[target] = ((ROOT if kind == "src" else builds["x64"]) / source).read_bytes()
    for path in sorted((ROOT / SAMPLE_FOLDER).rglob("*")):
        if path.is_file():
            entries[path.relative_to(ROOT).as_posix()] = path.read_bytes()
    entries["host-contract.md"] = (ROOT / "docs" / "host-contract.md").read_bytes()
    for name, source, _ in PICTURES + SKIN_FILES:
        entries[name] = (ROOT / source).read_bytes()
    entries["README.txt"] = readme(version, source_commit()).encode("utf-8")
    sums = "".join(f"{hashlib.sha256(data).hexdigest()}  {path}\n" for path, data in sorted(entries.items()))
    entries["SHA256SUMS"] = sums.encode("ascii")

    top = f"Cadenza_Upgrade-{version}"
    out = Path(out)
    out.mkdir(parents=True, exist_ok=True)
    zip_path = out / f"{top}.zip"
    # The same entries in the same order with the same times and attributes, whoever makes it when.
    date_time = time.gmtime(source_date_epoch())[:6]
    with zipfile.ZipFile(zip_path, "w", zipfile.ZIP_DEFLATED) as archive:
        for path, data in sorted(entries.items()):
            info = zipfile.ZipInfo(f"{top}/{path}", date_time=date_time)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 3  # Unix, so that external_attr holds the mode on every platform
            info.external_attr = 0o644 << 16
            archive.writestr(info, data)
    digest = hashlib.sha256(zip_path.read_bytes()).hexdigest()
    (out / f"{top}.zip.sha256").write_text(f"{digest}  {zip_path.name}\n", encoding="ascii")
    print(zip_path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--x64")
    parser.add_argument("--x86")
    parser.add_argument("--out")
    parser.add_argument("--version-of")
    args = parser.parse_args()
    if args.version_of:
        print(file_version(args.version_of))
    elif args.x64 and args.x86 and args.out:
        make(args.x64, args.x86, args.out)
    else:
        parser.error("give --x64, --x86 and --out, or --version-of")


if __name__ == "__main__":
    sys.exit(main())
