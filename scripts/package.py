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
Sections named are those of host-contract.md.

With the Microsoft toolchain (Visual Studio, MSVC, MFC), step one is the sample player in
sample\\: open that folder (its CMakeLists.txt) in Visual Studio as it is and build
CadenzaSample.exe for your architecture; put it in a folder with x64\\Cadenza_Upgrade.dll,
x64\\CadenzaUpdate.exe and the two libraries of x64\\mfc\\, run x64\\CadenzaSampleRecord.exe THAT_FOLDER,
then CadenzaSample.exe check 0 --direct there. Its sources are the provider, settings,
application control and skin engine to start from; the steps below say what each must do.
host-contract.md section 11 gives what matters for that toolchain: the files to add, the
settings (/Zc:wchar_t, the calling conventions, dumpbin /exports against section 5's names),
MFC's DEBUG_NEW and CMemoryException, why not to use a wrapper generated from the type library,
the debugger line the component writes when a name is missing, and what the reference pair in
mfc\ does.

1. See the target (10 minutes). Register the reference (above), then
     x64\\CadenzaSampleRecord.exe C:\\...\\x64
     x64\\Cadenza.exe check 0
   The first leaves a waiting package 5.2 for the 5.1 player. The folder you give it is the
   player's folder, where CadenzaUpdate.exe lies; the record does not go there but into that
   updater's update data folder, %APPDATA%\\CadenzaUpdate\\<MD5>\\CadenzaUpdate.ini (section 8
   says how <MD5> is made from the folder), and the tool prints its full path.
   The tips window appears in the bottom-right corner and looks as tips-window-96dpi.png shows
   it (tips-window-144dpi.png at 144 DPI, in this folder): hold your own engine's drawing
   against these two pictures. Install starts x64\\CadenzaUpdate.exe, which appends one line per
   start to CadenzaUpdate.log beside the record. The log is UTF-16LE with a byte-order mark, each
   line ended by CR LF: the mode it recognised in its arguments (install, install-crisispack,
   specific, specificlatest, pull, or unrecognised), a TAB, and its command line exactly as it
   received it (GetCommandLineW); a pull line has a second TAB and the push file's values. Here:
     install<TAB>"C:\\...\\x64\\CadenzaUpdate.exe"  /install /newpath "Cadenza"
   (two blanks: section 9). Your player will do exactly this.

2. The two common libraries (section 5). A player built with MSVC and MFC: nothing to do, its
   own CadenzaCommon.dll and CadenzaWidget_MFC.dll serve the component as they are. A player
   built with MinGW-w64: the two example files of section 5 compile as they are; check the
   exported names with objdump -p. Either way:
   - LoadStringW answers the player's strings 1217 (the caption of the message boxes and the
     tips window's title), 1354 (RecommendUpgrade's question) and 1355 (ForceUpgrade's
     question); section 5, "The player's strings", gives the reference texts: 1217 is
     "Cadenza 升级". Without them the title and the boxes are empty.
   - GetAppVersion answers your version with the major number in the high word and the minor
     in the low word (5.1 is 0x00050001 = 327681), the first two fields of Cadenza.exe's file
     version; the component reads the build, the third field, itself (section 1).
   - GetNormalFont answers a font with CJK glyphs (the description is Chinese).
   Then the requirements of section 1: the executable is Cadenza.exe (with a version resource),
   and CadenzaUpdate.exe, the component and the two libraries lie in its folder.

3. The service provider and its settings first (section 4). Derive from include/host_services.h;
   register the provider's class object (CLSID_HostServiceProvider) in every apartment that
   calls the component; CreateSettings with the four settings methods kept across objects (a
   new user's GetPromptUpgrade is 1), CreateAppControl with Trigger, GetMainWindow, and
   GetUpgradeHost handing out the UpgradeHost object you keep. CreateSkinWindow may answer
   E_NOTIMPL for now. Check: after x64\\CadenzaSampleRecord.exe YOUR_PLAYER_FOLDER (the record
   for your updater, in its folder under %APPDATA%\\CadenzaUpdate\\), CheckUpgrade(0) returns
   S_OK, calls SetPromptedVersion(327682) and writes the log line (section 8) through your Log;
   no window yet (no skin).

4. The smallest skin engine that makes the window answer (section 4, the skin engine's part and
   the skin document). BindWindow: subclass the window; PrepareWindow: S_OK; LoadSkin: parse the
   document (drop its XML declaration), size the window to Window's width and height, move the
   child control 4097 to DlgItem's rectangle, and paint at least the background and the labels
   (fontHeight is the character height in pixels: a negative lfHeight). Paint around the
   window's visible child windows: the control 4097 is WS_EX_TRANSPARENT, which WS_CLIPCHILDREN
   does not clip, so leave each child's rectangle out of WM_PAINT (ExcludeClipRect) and out of
   any erase, or the description is blank after the first repaint that follows a click.
   In the subclass, a left button released over a Button's rectangle sends WM_SKINEVENT with its
   Event's OnClick id; over the CheckBox it toggles the box and sends 1004 with a VARIANT of
   VT_BYREF | VT_VARIANT pointing to a VT_I4 of the new state. Where rectangles overlap the
   element drawn last takes the click (the highest zIndex; among equal ones the later in the
   document): Install and Later lie over the CheckBox's rectangle and keep their 1002 and 1003.
   The last Release of the object removes the subclass: every prompt after an answer brings a
   new object for the same window (the skin's life cycle). Keep all state per window handle.

5. See the prompt from your player: x64\\CadenzaSampleRecord.exe YOUR_PLAYER_FOLDER, then
   CheckUpgrade(0) on the player's UI thread, which must keep its message loop running. Check:
   the window is 258 x 170 in the bottom-right corner and shows the description in four lines,
   as tips-window-96dpi.png does; Later calls SetPromptUpgrade(1); ticking the box and Later
   calls SetPromptUpgrade(0), and the next CheckUpgrade with the same record shows nothing;
   Install calls ScheduledUpgrade(0) on your object, which starts CadenzaUpdate.exe with
   /install /newpath "Cadenza" (its install line in CadenzaUpdate.log, step 1); a CheckUpgrade
   after an answer shows the window again, drawn and answering. Last, release your objects and
   call CoFreeUnusedLibraries: with no tips window made, the component unloads (section 6).

The 32-bit player takes the same steps with x86\\ and the i686 compiler.
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
        "alone, its CMakeLists.txt for Visual Studio, and toolchain/ to build it with clang instead.",
        "",
        "The tips window as it should look, shown by the reference player, skin engine and libraries",
        "(258 x 170 pixels at every DPI; only the description's 9-point font grows with it):",
    ]
    lines += [f"  {name:28} {what}" for name, _, what in PICTURES]
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
