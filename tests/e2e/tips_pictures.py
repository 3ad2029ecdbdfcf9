#!/usr/bin/env python3
"""The pictures of the tips window that the package ships (docs/tips-window-96dpi.png and
docs/tips-window-144dpi.png), rendered again from this build and compared with them.

Usage: tips_pictures.py SOURCE_ROOT BUILD [--update]
For each DPI the reference player, the component and the GCC common libraries are staged in a
folder of their own, CadenzaSampleRecord.exe leaves its record, and `Cadenza.exe check 0 --direct
--picture` saves the shown window before Later answers it. 96 DPI is the suite's prefix
(BUILD/wineprefix, whose wineserver the suite runs); 144 DPI a prefix of this test's own
(BUILD/pictures/wineprefix-144dpi, made once, its LogPixels set to 144, its wineserver stopped
at the end), so that the suite's prefix stays at 96. A picture agrees when it has the same size
and at most 1% of its pixels differ by more than 48 in a channel (font rendering may move a few
edge pixels; a moved element, another fold or a missing text changes far more). --update writes
the new pictures into docs/ instead. Needs a display.
"""
import os
import shutil
import struct
import subprocess
import sys
import zlib
from pathlib import Path

root, build = Path(sys.argv[1]), Path(sys.argv[2])
update = "--update" in sys.argv[3:]
work = build / "pictures"
wine_run = str(root / "scripts" / "wine-run")
FILES = ["Cadenza.exe", "Cadenza_Upgrade.dll", "CadenzaCommon.dll", "CadenzaWidget_MFC.dll", "CadenzaUpdate.exe"]


def read_png(path):
    """(width, height, [(r, g, b), ...]) of an 8-bit RGB or RGBA PNG without interlacing."""
    data = Path(path).read_bytes()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError(f"{path}: not a PNG")
    at, idat = 8, b""
    while at < len(data):
        length, kind = struct.unpack_from(">I4s", data, at)
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if depth != 8 or colour not in (2, 6) or interlace:
                raise ValueError(f"{path}: not an 8-bit RGB(A) PNG without interlacing")
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    step = 4 if colour == 6 else 3
    stride = width * step
    raw, rows, previous = zlib.decompress(idat), [], bytearray(stride)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - step] if i >= step else 0
            b, c = previous[i], previous[i - step] if i >= step else 0
            if kind == 1:
                line[i] = (line[i] + a) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + b) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
        rows += [tuple(line[x * step:x * step + 3]) for x in range(width)]
        previous = line
    return width, height, rows


def differing(new, old):
    """The share of pixels that differ by more than 48 in a channel; None for another size."""
    if new[:2] != old[:2]:
        return None
    far = sum(1 for p, q in zip(new[2], old[2]) if max(abs(a - b) for a, b in zip(p, q)) > 48)
    return far / len(new[2])


def run(prefix, *args, **kwargs):
    env = dict(os.environ, WINEPREFIX=str(prefix), WINEARCH="win64", WINEDEBUG="-all")
    env.update(kwargs.pop("extra_env", {}))
    # From outside the build tree: Wine's own tools (reg, winepath) are not shadowed there.
    return subprocess.run([wine_run, *args], env=env, cwd="/", capture_output=True, text=True,
                          stdin=subprocess.DEVNULL, timeout=120, **kwargs)


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def render(prefix, dpi):
    """Saves the shown tips window of a staged installation at `dpi`; the picture's path."""
    folder = work / f"{dpi}dpi"
    shutil.rmtree(folder, ignore_errors=True)
    install = folder / "install"
    install.mkdir(parents=True)
    for name in FILES:
        shutil.copy2(build / "bin" / name, install / name)
    made = run(prefix, str(build / "bin" / "CadenzaSampleRecord.exe"), windows_path(install))
    record = made.stdout.strip()
    if made.returncode != 0 or not record:
        raise SystemExit(f"{dpi} DPI: CadenzaSampleRecord.exe failed ({made.returncode}): {made.stderr}")
    picture = folder / "tips-window.png"
    try:
        shown = run(prefix, str(install / "Cadenza.exe"), "check", "0", "--direct", "--press", "later",
                    "--wait", "30", "--picture", windows_path(picture),
                    extra_env={"CADENZA_APP_VERSION": "327681", "CADENZA_LOG_FOLDER": windows_path(folder),
                               "CADENZA_PROFILE": windows_path(folder / "Cadenza.ini")})
        if shown.returncode != 0 or not picture.is_file():
            raise SystemExit(f"{dpi} DPI: the player exited with {shown.returncode}, picture "
                             f"{'saved' if picture.is_file() else 'missing'}:\n{shown.stdout}{shown.stderr}")
    finally:
        # The record's update data folder lies in the prefix's AppData: it goes again.
        drive, _, rest = record.partition(":\\")
        if drive.upper() == "C":
            shutil.rmtree(Path(prefix, "drive_c", *rest.split("\\")).parent, ignore_errors=True)
    return picture


def high_dpi_prefix():
    prefix = work / "wineprefix-144dpi"
    env = dict(os.environ, WINEPREFIX=str(prefix))
    if not (prefix / "system.reg").is_file():
        run(prefix, "cmd", "/c", "exit", "0")
        subprocess.run(["wineserver", "-w"], env=env, timeout=120)
    # One wineserver for the runs below, as the suite keeps one for its prefix, and Wine's
    # background services started now, apart from the output the runs below are read through.
    subprocess.run(["wineserver", "-p"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run([wine_run, "cmd", "/c", "exit", "0"], env=env, cwd="/", stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    # Wine takes each new process's DPI from HKCU\Control Panel\Desktop, LogPixels.
    user = (prefix / "user.reg").read_text(encoding="utf-8", errors="replace")
    desktop = user.split("[Control Panel\\\\Desktop]", 1)[-1].split("\n[", 1)[0]
    if '"LogPixels"=dword:00000090' not in desktop:
        made = run(prefix, "reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD",
                   "/d", "144", "/f")
        if made.returncode != 0:
            raise SystemExit(f"LogPixels could not be set in {prefix}: {made.stdout}{made.stderr}")
    return prefix


def main():
    work.mkdir(parents=True, exist_ok=True)
    failures = []
    high = None
    try:
        for dpi in (96, 144):
            if dpi == 144:
                high = high_dpi_prefix()
            picture = render(build / "wineprefix" if dpi == 96 else high, dpi)
            shipped = root / "docs" / f"tips-window-{dpi}dpi.png"
            if update:
                shutil.copyfile(picture, shipped)
                print(f"{shipped}: written")
                continue
            new = read_png(picture)
            share = differing(new, read_png(shipped)) if shipped.is_file() else None
            if share is None or share > 0.01:
                failures.append(f"{shipped.name}: the window at {dpi} DPI now looks different "
                                f"({'another size or no picture' if share is None else f'{share:.1%} of the pixels'}); "
                                f"new picture {picture} (tips_pictures.py --update writes it into docs/)")
            else:
                print(f"{shipped.name}: {new[0]} x {new[1]}, as rendered ({share:.2%} of the pixels differ)")
    finally:
        if high is not None:
            env = dict(os.environ, WINEPREFIX=str(high))
            subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
            subprocess.run(["wineserver", "-w"], env=env, timeout=20)
    for f in failures:
        print("FAILED:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
