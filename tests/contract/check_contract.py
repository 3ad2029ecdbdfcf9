#!/usr/bin/env python3
"""Compares the tables of docs/host-contract.md with the code and the built binaries.

Usage: check_contract.py SOURCE_ROOT BIN_FOLDER OBJDUMP
Fails (exit 1) with one line per disagreement: a position, exported name, profile key, switch,
event id, player string or identity that the document names and the code does not have, or the
other way round; a documented key or switch that no test under tests/ uses; and what the documents
say of the reference engine's fontHeight and of the stand-in updater's log modes.
"""
import re
import subprocess
import sys
from pathlib import Path

root, bin_folder, objdump = Path(sys.argv[1]), Path(sys.argv[2]), sys.argv[3]
problems = []


def check(ok, message):
    if not ok:
        problems.append(message)


def read(relative):
    return (root / relative).read_text(encoding="utf-8")


def plain(cell):
    return cell.strip().strip("`").strip()


def table_rows(text):
    """Every body row of every table, as a list of cells (an escaped \\| stays inside its cell)."""
    rows = []
    for line in text.splitlines():
        line = line.strip()
        if not line.startswith("|") or re.fullmatch(r"\|[\s|:-]+\|", line):
            continue
        cells = [c.replace("\\|", "|").strip() for c in re.split(r"(?<!\\)\|", line)[1:-1]]
        rows.append(cells)
    return rows


rows = table_rows(read("docs/host-contract.md"))

# --- Interface positions -------------------------------------------------------------------
doc_ops = {}
for r in rows:
    if len(r) >= 3 and re.fullmatch(r"`I\w+`", r[0]) and r[1].isdigit():
        doc_ops.setdefault(plain(r[0]), {})[plain(r[2])] = int(r[1])

code_ops = {}
header = read("player_api/host_services.h")
for name, body in re.findall(r"CADENZA_HOST_INTERFACE\((\w+)\) : public IUnknown \{(.*?)\n\};", header, re.S):
    position, ops = 3, {}
    for line in body.splitlines():
        if "CADENZA_HOST_UNUSED(" in line:
            position += 1
        elif (m := re.search(r"virtual \w+ STDMETHODCALLTYPE (\w+)\(", line)):
            ops[m.group(1)] = position
            position += 1
    code_ops[name] = ops
idl = read("res/Cadenza_Upgrade.idl")
body = re.search(r"interface IUpgradeHost : IUnknown\s*\{(.*?)\}", idl, re.S).group(1)
code_ops["IUpgradeHost"] = {m: 3 + i for i, m in enumerate(re.findall(r"HRESULT (\w+)\(", body))}

check(set(doc_ops) == set(code_ops),
      f"interfaces: document {sorted(doc_ops)}, code {sorted(code_ops)}")
for iface in sorted(set(doc_ops) | set(code_ops)):
    documented, declared = doc_ops.get(iface, {}), code_ops.get(iface, {})
    for op in sorted(set(documented) | set(declared)):
        check(documented.get(op) == declared.get(op),
              f"{iface}::{op}: position {documented.get(op)} in the document, {declared.get(op)} in the code")

asserted = [[int(n) for n in m.split(",")] for m in
            re.findall(r"ElementsAre\(([\d,\s]+)\)", read("tests/host/host_positions_test.cpp"))]
for iface, ops in doc_ops.items():
    check(sorted(ops.values()) in asserted,
          f"{iface}: positions {sorted(ops.values())} are not a list the positions test asserts")

# --- Exported names ------------------------------------------------------------------------
def objdump_p(path):
    return subprocess.run([objdump, "-p", str(path)], check=True, capture_output=True, text=True).stdout


def exports(path):
    text = objdump_p(path)
    table = text.split("[Ordinal/Name Pointer] Table", 1)[1].split("\n\n", 1)[0]
    return set(re.findall(r"\[\s*\d+\]\s+(\S+)", table))


def imports(path):
    found, current = {}, None
    for line in objdump_p(path).splitlines():
        if (m := re.match(r"\s*DLL Name: (\S+)", line)):
            current = found.setdefault(m.group(1).lower(), set())
        elif current is not None and (m := re.match(r"\s*[0-9a-f]+\s+\d+\s+(\S+)$", line)):
            current.add(m.group(1))
    return found


component_imports = imports(bin_folder / "Cadenza_Upgrade.dll")
libraries = ["CadenzaCommon.dll", "CadenzaWidget_MFC.dll"]
component = bin_folder / "Cadenza_Upgrade.dll"
arch = "x86" if "pei-i386" in subprocess.run([objdump, "-f", str(component)], check=True,
                                             capture_output=True, text=True).stdout else "x64"
doc_gnu = {lib: set() for lib in libraries}
doc_ms = {lib: set() for lib in libraries}  # this architecture's Microsoft names
for r in rows:
    if len(r) >= 4 and plain(r[0]) in doc_gnu and plain(r[3])[:2] in ("_Z", "?G", "?L"):
        name = plain(r[3])
        if "GCC" in r[2]:
            doc_gnu[plain(r[0])].add(name)
        elif "Microsoft" in r[2] and arch in r[2]:
            doc_ms[plain(r[0])].add(name)

# The names the component carries to look up (NUL-terminated ASCII in its data). A Microsoft name
# starts at its '?' whatever byte lies before it (the x86 data may put one right after a table of
# pointers, with no NUL between); a GCC name must follow a NUL.
carried = set(m.decode() for m in re.findall(rb"(\?\w+@(?:cadenza|CCadenzaFont)@@[\x21-\x7e]+|(?<=\0)_ZN(?:7cadenza|12CCadenzaFont)\w+)\0",
                                             component.read_bytes()))
clang_names = exports(bin_folder.parent / "mfc_names" / "decorated_names.dll")
all_ms = set().union(*doc_ms.values())
all_gnu = set().union(*doc_gnu.values())
check(all_ms == clang_names, f"Microsoft names ({arch}): document {sorted(all_ms)}, clang {sorted(clang_names)}")
check(carried == all_ms | all_gnu, f"names the component carries {sorted(carried)}, document {sorted(all_ms | all_gnu)}")
for lib in libraries:
    check(doc_gnu[lib] and doc_ms[lib], f"{lib}: the document names no GCC or no Microsoft function")
    built = exports(bin_folder / lib)
    check(doc_gnu[lib] == built, f"{lib}: document {sorted(doc_gnu[lib])}, GCC library exports {sorted(built)}")
    ms_built = {n for n in exports(bin_folder / "mfc" / lib) if n.startswith("?")}
    check(ms_built and ms_built <= doc_ms[lib],
          f"{lib}: the Microsoft reference library exports {sorted(ms_built)}, not among {sorted(doc_ms[lib])}")
    check(lib.lower() not in component_imports, f"the component imports from {lib}")
doc_exports = {lib: doc_gnu[lib] | doc_ms[lib] for lib in libraries}

# The smallest MinGW libraries that section 5 gives: each compiles with this build's compiler
# and exports exactly the GCC names the document lists for its library.
import tempfile
compiler = objdump.replace("objdump", "g++-posix")
examples = [e for e in re.findall(r"```cpp\n\/\/ (\w+)\.cpp\n(.*?)```", read("docs/host-contract.md"), re.S)
            if not e[0].endswith("_MFC_MFC") and e[0] != "CadenzaCommon_MFC"]  # the MSVC ones: check_msvc_headers.py
check(sorted(name for name, _ in examples) == ["CadenzaCommon", "CadenzaWidget_MFC"],
      f"section 5's examples: {sorted(name for name, _ in examples)}, not one per library")
with tempfile.TemporaryDirectory() as scratch:
    for name, code in examples:
        source, built = Path(scratch) / f"{name}.cpp", Path(scratch) / f"{name}.dll"
        source.write_text(f"// {name}.cpp\n" + code, encoding="utf-8")
        define = "CADENZA_COMMON_BUILD" if name == "CadenzaCommon" else "CADENZA_WIDGET_BUILD"
        made = subprocess.run([compiler, "-std=c++20", "-O2", "-Wall", "-Werror", "-shared", "-DUNICODE",
                               "-D_UNICODE", f"-D{define}", f"-I{root / 'player_api'}", "-static", "-o", str(built),
                               str(source), "-lgdi32"], capture_output=True, text=True)
        check(made.returncode == 0, f"section 5's {name}.cpp does not compile: {made.stderr.strip()[:600]}")
        if made.returncode == 0:
            lib = f"{name}.dll"
            check(exports(built) == doc_gnu[lib], f"section 5's {name}.cpp exports {sorted(exports(built))}, "
                                                  f"the document's GCC names {sorted(doc_gnu[lib])}")
            check(set(imports(built)) <= {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll"},
                  f"section 5's {name}.dll imports {sorted(imports(built))}: more than system DLLs")

# --- Profile keys and file names -----------------------------------------------------------
for file_name, source, pattern in [
        ("CadenzaUpdate.ini", "store/update_record.cpp", r'L"(UpdateRecord_S_\w+)"'),
        ("CadenzaUpdatePush.ini", "store/push_update_info.cpp", r'L"(PULL_\w+)"')]:
    documented = [plain(r[2]) for r in rows if len(r) >= 3 and plain(r[0]) == file_name]
    in_code = re.findall(pattern, read(source))
    check(documented == in_code, f"{file_name} keys: document {documented}, {source} {in_code}")
    header_name = source.replace(".cpp", ".h")
    check(f'L"{file_name}"' in read(header_name), f"{file_name}: not the file name in {header_name}")

# --- Updater switches ----------------------------------------------------------------------
doc_switches = {plain(r[1]) for r in rows if len(r) >= 3 and re.fullmatch(r"`/\w+`", r[1])}
templates = " ".join(re.findall(r'L"(.*?)";', read("launch/update_commands.h")))
code_switches = set(re.findall(r"(/\w+)", templates))
check(doc_switches == code_switches,
      f"switches: document {sorted(doc_switches)}, command-line templates {sorted(code_switches)}")

# --- Keys and switches the tests exercise ---------------------------------------------------
test_sources = "\n".join(f.read_text(encoding="utf-8", errors="replace")
                         for f in (root / "tests").rglob("*") if f.suffix in (".cpp", ".h")
                         and "contract" not in f.parts)
documented_keys = [plain(r[2]) for r in rows if len(r) >= 3 and plain(r[0]).endswith(".ini")]
for name in documented_keys + sorted(doc_switches):
    check(name in test_sources, f"{name}: named in the document, exercised by no test under tests/")

# --- Skin event ids ------------------------------------------------------------------------
doc_events = {int(r[0]) for r in rows if r and re.fullmatch(r"10\d\d", r[0])}
code_events = {int(n) for n in re.findall(r"kEvent\w+ = (\d+);", read("tips/upgrade_tips_wnd.h"))}
check(doc_events == code_events, f"skin events: document {sorted(doc_events)}, code {sorted(code_events)}")
check("0x0BD1" in header and "`WM_SKINEVENT` (0x0BD1)" in read("docs/host-contract.md"),
      "WM_SKINEVENT is not 0x0BD1 in both")

# --- The player's strings --------------------------------------------------------------------
# The ids the component asks LoadStringW for, and the reference libraries' texts of them (both
# pairs carry refhost/common/CadenzaCommon.rc).
doc_strings = {int(r[0]): plain(re.search(r"`[^`]+`", r[2]).group(0)) for r in rows
               if len(r) == 3 and re.fullmatch(r"1[2-3]\d\d", r[0]) and "`" in r[2]}
string_ids = dict((n, int(v)) for n, v in re.findall(r"#define (IDS_\w+) (\d+)", read("refhost/common/common_strings.h")))
rc_texts = {string_ids[n]: t for n, t in re.findall(r'(IDS_\w+) "([^"]*)"', read("refhost/common/CadenzaCommon.rc"))}
asked = {int(n) for n in re.findall(r"IDS_\w+ = (\d+);", read("adapters/common_libraries.h") + read("server/upgrade_host.cpp"))}
check(set(doc_strings) == asked, f"player strings: document {sorted(doc_strings)}, the component asks for {sorted(asked)}")
check(doc_strings == rc_texts, f"player strings: document {doc_strings}, CadenzaCommon.rc {rc_texts}")

# --- What the documents say of the reference engine and updater --------------------------------
# fontHeight is the character height: the reference renderer asks for it with a negative height.
check("CreateFontW(-height," in read("refhost/skin/skin_renderer.cpp")
      and "the character height in pixels" in re.search(r"\| `fontHeight` \|[^\n]*", read("docs/host-contract.md")).group(0),
      "fontHeight: the contract's character height and the renderer's negative lfHeight disagree")
# The stand-in updater's log modes, as the package's first hour lists them.
modes = set(re.findall(r'return L"([\w-]+)";', read("refhost/updater/CadenzaUpdate.cpp"))) | {"unrecognised"}
first_hour = read("scripts/package.py")
listed = re.search(r"the mode it recognised in its arguments \(([^)]*)\)", first_hour.replace("\n   ", " "))
listed = set(re.findall(r"[\w-]+", listed.group(1))) - {"or"} if listed else set()
check(listed == modes, f"the updater's log modes: first hour {sorted(listed)}, CadenzaUpdate.cpp {sorted(modes)}")
check('L"unrecognised"' in read("refhost/updater/CadenzaUpdate.cpp") and 'L"\\t"' in read("refhost/updater/CadenzaUpdate.cpp"),
      "the updater's log line is no longer the mode, a TAB and the command line")

# --- Identities ----------------------------------------------------------------------------

code_guids = {name: "{%s}" % g.upper() for g, name in re.findall(
    r"uuid\(([0-9A-Fa-f-]+)\),?.*?(?:interface|dispinterface|coclass|library)\s+(\w+)", idl, re.S)}
for name, text in re.findall(r'#define CADENZA_GUID_(\w+) "([0-9a-f-]{36})"', header):
    code_guids["CLSID_" + name if name == "HostServiceProvider" else name] = "{%s}" % text.upper()
# The application id: the registration tool's replacement for %APPID%, under the name the
# AppID script gives it and the module name it also registers.
ids = read("res/component_ids.h")
code_guids["Cadenza_Upgrade"] = re.search(r'kComponentAppId\[\] = L"(\{[0-9A-F-]{36}\})"', ids).group(1)
appid_rgs = read("res/Cadenza_Upgrade.rgs")
for r in rows:
    if len(r) == 2 and "(AppID" in r[0]:
        name, module = re.findall(r"`([^`]+)`", r[0])[:2]
        check(f"'%APPID%' = s '{name}'" in appid_rgs, f"AppID name {name}: not the one of Cadenza_Upgrade.rgs")
        check(module == "AppID\\" + re.search(r'kComponentInternalName\[\] = L"([^"]+)"', ids).group(1)
              and f"'{module.split(chr(92))[1]}'" in appid_rgs,
              f"{module}: not the AppID module key of Cadenza_Upgrade.rgs")
doc_guids = {}
for r in rows:
    if len(r) == 2 and re.fullmatch(r"`\{[0-9A-F-]{36}\}`", r[1]):
        doc_guids[re.search(r"`(\w+)`", r[0]).group(1)] = plain(r[1])
for name in sorted(set(doc_guids) | set(code_guids)):
    check(doc_guids.get(name) == code_guids.get(name),
          f"{name}: identity {doc_guids.get(name)} in the document, {code_guids.get(name)} in the code")
rgs = read("res/UpgradeHost.rgs")
for r in rows:
    if len(r) == 2 and "ProgID" in r[0]:
        check(f"{plain(r[1])} = s 'UpgradeHost Class'" in rgs, f"{plain(r[1])}: not a ProgID of UpgradeHost.rgs")

for p in problems:
    print("DISAGREES:", p)
print(f"host contract: {len(problems)} disagreement(s); checked {sum(len(o) for o in doc_ops.values())} "
      f"positions, {sum(len(e) for e in doc_exports.values())} exports, {len(doc_switches)} switches, "
      f"{len(doc_guids)} identities")
sys.exit(1 if problems else 0)
