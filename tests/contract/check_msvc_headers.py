#!/usr/bin/env python3
"""The package's include/ as a player team compiles it, with either toolchain, in this build's
architecture:
- MSVC mode (clang for the Microsoft target against Wine's headers, _MSC_VER set), C++14 and
  C++17, -Wall -Wextra -Werror: every header on its own, the GUID definitions as C and as C++;
  __uuidof answers for every interface and class of include/ (IUpgradeHost, UpgradeHost and the
  host interfaces) with the GUID its declaration names, with Wine's rpcndr.h and with the SDK's
  MIDL_INTERFACE and DECLSPEC_UUID (which attach the GUID themselves); two files that
  include everything and the GUID definitions link into one DLL (each GUID defined once);
- MinGW GCC, C++14 and C++17, the same warnings: every header on its own and __uuidof;
- the contract's MSVC/MFC example of CadenzaCommon.dll and CadenzaWidget_MFC.dll (section 5),
  taken from the document's text, compiled in MSVC mode against the MFC look-alike standing in
  for afx.h and afxwin.h, exports exactly the Microsoft names the document's table lists for
  this architecture.

  check_msvc_headers.py SOURCE_ROOT BUILD GCC OBJDUMP LLD_LINK MSVC_FLAGS(;-separated)
"""
import concurrent.futures
import re
import subprocess
import sys
import tempfile
from pathlib import Path

root, build, gcc, objdump, lld_link, flags = sys.argv[1:7]
root, build = Path(root), Path(build)
msvc = ["clang"] + flags.split(";")
sys.path.insert(0, str(root / "scripts"))
import package  # noqa: E402  (the package's file list)

failures = []
work = Path(tempfile.mkdtemp(prefix="msvc-headers-"))
inc = work / "include"
inc.mkdir()
for dest, kind, src in package.INCLUDE_FILES:
    base = root if kind == "src" else build
    (work / dest).write_bytes((base / src).read_bytes())
headers = sorted(p.name for p in inc.iterdir() if p.suffix == ".h")
x64 = "x86_64" in flags


def run(args, what):
    r = subprocess.run(args, capture_output=True, text=True, cwd=work)
    if r.returncode != 0:
        failures.append(f"{what}:\n{(r.stdout + r.stderr)[-3000:]}")
    return r.returncode == 0


pending = []


def later(args, what):
    pending.append((args, what))


def run_pending():
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        list(pool.map(lambda job: run(*job), pending))
    pending.clear()


def write(name, text):
    (work / name).write_text(text)
    return str(work / name)


warnings = ["-Wall", "-Wextra", "-Werror", f"-I{inc}"]
# Every GUID-carrying declaration of include/: widl's MIDL_INTERFACE("…") and DECLSPEC_UUID("…")
# (IUpgradeHost, _IUpgradeHostEvents, UpgradeHost) and host_services.h's CADENZA_GUID_ texts.
guid_texts = {}
for h in headers:
    text = (inc / h).read_text(encoding="utf-8", errors="replace")
    for guid, name in re.findall(r'(?:MIDL_INTERFACE|DECLSPEC_UUID)\("([0-9a-fA-F-]{36})"\)\s*(\w+)', text):
        guid_texts[name] = guid
    for name in re.findall(r"^CADENZA_HOST_INTERFACE\((\w+)\)", text, re.M):
        guid_texts[name] = re.search(rf'#define CADENZA_GUID_{name} "([0-9a-fA-F-]{{36}})"', text).group(1)
for name in ["IUpgradeHost", "UpgradeHost", "IHostServiceProvider", "IHostSettings", "IHostAppControl",
             "IHostSkinWindow"]:
    if name not in guid_texts:
        failures.append(f"include/ declares no GUID for {name}")
uuid_check = "".join(f'static_assert(SameGuid(__uuidof({n}), "{g}"), "__uuidof({n})");\n'
                     for n, g in sorted(guid_texts.items()))
uuid_uses = ", ".join(f"&__uuidof({n})" for n in sorted(guid_texts))
everything = "".join(f'#include "{h}"\n' for h in headers)
uuid_source = write("uuids.cpp", everything + f"""extern const GUID* const uuids[] = {{{uuid_uses}, &IID_IHostSettings}};
constexpr bool SameGuid(const GUID& g, const char* text) {{
  bool same = g.Data1 == cadenza_guid::Field(text, 0, 8) && g.Data2 == cadenza_guid::Field(text, 9, 4) &&
              g.Data3 == cadenza_guid::Field(text, 14, 4);
  for (int i = 0; i < 8; ++i) same = same && g.Data4[i] == cadenza_guid::Field(text, i < 2 ? 19 + 2 * i : 20 + 2 * i, 2);
  return same;
}}
// MinGW's __uuidof is a constant expression from C++17 on only.
#if defined(_MSC_VER) || __cplusplus >= 201703L
{uuid_check}#endif
""")
# The SDK's rpcndr.h, whose MIDL_INTERFACE and DECLSPEC_UUID attach the GUID themselves: the
# headers' own declarations must then be consistent redeclarations.
sdk_like = work / "sdk-like"
sdk_like.mkdir()
(sdk_like / "rpcndr.h").write_text("""#include_next <rpcndr.h>
#undef MIDL_INTERFACE
#define MIDL_INTERFACE(x) struct __declspec(uuid(x)) __declspec(novtable)
#undef DECLSPEC_UUID
#define DECLSPEC_UUID(x) __declspec(uuid(x))
""")
msvc_sdk_like = msvc[:1] + ["-isystem", str(sdk_like)] + msvc[1:]

for std in ["c++14", "c++17"]:
    for h in headers:
        src = write(f"only_{h}.cpp", f'#include "{h}"\n')
        later(msvc + warnings + [f"-std={std}", "-c", src, "-o", "/dev/null"], f"MSVC mode {std}: {h}")
        later([gcc] + warnings + [f"-std={std}", "-c", src, "-o", "/dev/null"], f"GCC {std}: {h}")
    later(msvc + warnings + [f"-std={std}", "-c", uuid_source, "-o", "/dev/null"], f"MSVC mode {std}: __uuidof")
    later(msvc_sdk_like + warnings + [f"-std={std}", "-c", uuid_source, "-o", "/dev/null"],
          f"MSVC mode {std}, the SDK's MIDL_INTERFACE and DECLSPEC_UUID: __uuidof")
    later([gcc] + warnings + [f"-std={std}", "-c", uuid_source, "-o", "/dev/null"], f"GCC {std}: __uuidof")
    later(msvc + warnings + ["-x", "c++", f"-std={std}", "-c", str(inc / "Cadenza_Upgrade_i.c"), "-o",
                           "/dev/null"], f"MSVC mode {std}: Cadenza_Upgrade_i.c as C++")
later(msvc + warnings + ["-x", "c", "-c", str(inc / "Cadenza_Upgrade_i.c"), "-o", str(work / "i_c.obj")],
    "MSVC mode: Cadenza_Upgrade_i.c as C")

# Two files of one player that include everything, and the GUID definitions once: one DLL.
objs = []
for n in (1, 2):
    src = write(f"part{n}.cpp", everything + f"""extern "C" __declspec(dllexport) const void* Part{n}() {{
  static const void* const ids[] = {{&IID_IHostSettings, &CLSID_HostServiceProvider, &IID_IUpgradeHost,
                                     &__uuidof(IHostSkinWindow)}};
  return ids;
}}
""")
    objs.append(str(work / f"part{n}.obj"))
    later(msvc + warnings + ["-std=c++14", "-c", src, "-o", objs[-1]], f"MSVC mode: part{n}.cpp")
run_pending()
machine = ["/machine:x64"] if x64 else ["/machine:x86", "/safeseh:no"]
run([lld_link, "/nologo", "/dll", "/noentry", "/nodefaultlib", *machine, f"/out:{work / 'parts.dll'}",
     *objs, str(work / "i_c.obj")], "MSVC mode: the two files and the GUID definitions link as one DLL")

# The contract's MSVC/MFC example libraries, from the document's text.
contract = (root / "docs" / "host-contract.md").read_text()
blocks = dict(re.findall(r"```cpp\n// (CadenzaCommon_MFC\.cpp|CadenzaWidget_MFC_MFC\.cpp)\n(.*?)```", contract, re.S))
if set(blocks) != {"CadenzaCommon_MFC.cpp", "CadenzaWidget_MFC_MFC.cpp"}:
    failures.append(f"the contract's MSVC examples: found {sorted(blocks)}")
stand_in = work / "mfc"
stand_in.mkdir()
# afxwin.h (and afx.h) of the stand-in: the look-alike, with what the examples use besides.
(stand_in / "afxwin.h").write_text(f"""#pragma once
#include "{root}/refhost/mfc/mfc_lookalike.h"
class CException {{ public: void Delete() {{}} }};
class CMemoryException : public CException {{}};
""")
(stand_in / "afx.h").write_text('#include "afxwin.h"\n')
manager = write("manager.cpp", f'#include "{root}/refhost/mfc/mfc_lookalike.h"\n'
                "ATL::IAtlStringMgr* AfxGetStringManager() { return nullptr; }\n")
run(msvc + ["-std=c++14", "-c", manager, "-o", str(work / "manager.obj")], "the stand-in's string manager")
doc_ms = set()
arch = "x64" if x64 else "x86"
for row in re.findall(r"^\| `(CadenzaCommon\.dll|CadenzaWidget_MFC\.dll)` \|[^|]*\| ([^|]*) \| `([^`]*)` \|", contract, re.M):
    if row[1].startswith("1 Microsoft") and arch in row[1]:  # the player with MFC as a DLL
        doc_ms.add((row[0], row[2]))
for name, body, lib, define in [("CadenzaCommon_MFC.cpp", blocks.get("CadenzaCommon_MFC.cpp", ""), "CadenzaCommon.dll",
                                 "CADENZA_COMMON_BUILD"),
                                ("CadenzaWidget_MFC_MFC.cpp", blocks.get("CadenzaWidget_MFC_MFC.cpp", ""),
                                 "CadenzaWidget_MFC.dll", "CADENZA_WIDGET_BUILD")]:
    src = write(name, body)
    obj = str(work / (name + ".obj"))
    dll = work / lib
    if not run(msvc + warnings + ["-std=c++14", "-fcxx-exceptions", "-fexceptions", f"-I{stand_in}",
                                  f"-D{define}", "-c", src, "-o", obj], f"the contract's {name}"):
        continue
    # Only the export table matters here: what the C++ runtime and the system would give stays
    # unresolved.
    if run([lld_link, "/nologo", "/dll", "/noentry", "/nodefaultlib", "/force:unresolved", *machine,
            f"/out:{dll}", obj, str(work / "manager.obj")], f"the contract's {name}: link"):
        out = subprocess.run([objdump, "-p", str(dll)], capture_output=True, text=True).stdout
        table = out.split("[Ordinal/Name Pointer] Table", 1)[-1]
        exported = set(re.findall(r"\]\s+(\?\S+)", table))
        wanted = {n for l, n in doc_ms if l == lib}
        if exported != wanted:
            failures.append(f"the contract's {name} exports {sorted(exported)}, the table says {sorted(wanted)}")

for f in failures:
    print("FAILED:", f)
print(f"MSVC-mode headers ({'x64' if x64 else 'x86'}): {len(failures)} failure(s)")
sys.exit(1 if failures else 0)
