#!/usr/bin/env python3
"""Every binary the package ships (and the sample player built from its sources) imports only
what Windows 7 has: DLLs and functions of windows7_imports.txt beside this file, which lists for
each system DLL the functions that DLL exports by name on Windows 7 (x86 and x64) and that some
shipped binary imports (#N: by ordinal). A new import, or a DLL of a later Windows (ucrtbase.dll, api-ms-win-*),
fails until it is checked against Windows 7 and added. Read with objdump -p (no Wine).

  check_windows_imports.py SOURCE_ROOT BUILD OBJDUMP
"""
import re
import subprocess
import sys
from pathlib import Path

root, build, objdump = Path(sys.argv[1]), Path(sys.argv[2]), sys.argv[3]
sys.path.insert(0, str(root / "scripts"))
import package  # noqa: E402  (the package's file list)

allowed, dll = {}, None
# A line that starts with "#" and no digit is a comment; "#410" is an import by ordinal.
for token in re.sub(r"(?m)^\s*#(?!\d).*$", "", (root / "tests" / "package" / "windows7_imports.txt").read_text()).split():
    if token.endswith(".dll:"):
        dll = allowed.setdefault(token[:-1].lower(), set())
    else:
        dll.add(token)

shipped = [n for n, _ in package.COMPONENT_FILES + package.REFERENCE_FILES if n.endswith((".dll", ".exe"))]
problems, counted = [], 0
for name in shipped + ["sample/CadenzaSample.exe"]:
    headers = subprocess.run([objdump, "-p", str(build / "bin" / name)], capture_output=True, text=True)
    if headers.returncode != 0:
        problems.append(f"{name}: not read ({headers.stderr.strip()[:200]})")
        continue
    blocks = re.findall(r"DLL Name: (\S+)\n(.*?)(?:\n\s*\n|\Z)", headers.stdout, re.S)
    if not blocks:
        problems.append(f"{name}: no import table read")
    for imported, body in blocks:
        functions = allowed.get(imported.lower())
        if functions is None:
            problems.append(f"{name} imports {imported}, which is not a Windows 7 DLL of the list")
            continue
        for line in body.splitlines()[1:]:  # after "vma:  Hint/Ord Member-Name Bound-To"
            entry = re.match(r"\s*[0-9a-f]+\s+\d+\s+(\S+)$", line)
            by_ordinal = re.match(r"\s*[0-9a-f]+\s+([0-9a-f]+)\s+<none>$", line)
            what = entry.group(1) if entry else f"#{int(by_ordinal.group(1), 16)}" if by_ordinal else None
            counted += 1
            if what is None:
                problems.append(f"{name} imports from {imported} what objdump shows as: {line.strip()}")
            elif what not in functions:
                problems.append(f"{name} imports {imported}!{what}, not in the Windows 7 list")

for p in problems:
    print("FAILED:", p)
print(f"Windows 7 imports: {len(shipped) + 1} binaries, {counted} imported functions, {len(problems)} problem(s)")
sys.exit(1 if problems else 0)
