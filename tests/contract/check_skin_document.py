#!/usr/bin/env python3
"""Compares the skin document section of docs/host-contract.md with the document the component
really hands to LoadSkin.

Usage: check_skin_document.py SOURCE_ROOT TIPS_TEST_PROGRAM [EMULATOR WORDS...]
Runs the tips window test that sets the skin up through a recording skin window, with
CADENZA_SKIN_DOCUMENT_DUMP set, and reads from its output the document, the script and the module
path the images name. Then checks, one line per disagreement: the listing and the script in the
section against them character for character (CR LF as line breaks, PATH for the module path);
the elements table (element, parent, how often, which attributes) and the attributes table
(which elements carry each) against the parsed document, both ways; the texts table and the
events table against the texts and event ids of the document's elements; and the package's copies
of the document and the script (docs/tips-skin-document.xml, docs/tips-skin-script.vbs) against
them byte for byte, the document's module path being the one the package names.
"""
import html
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ET
from collections import defaultdict
from pathlib import Path

root, program, emulator = Path(sys.argv[1]), sys.argv[2], sys.argv[3:]
sys.path.insert(0, str(root / "scripts"))
import package  # noqa: E402  (the skin files the package ships)
TEST = "TipsWindowTest.EachPromptAfterAnAnswerSkinsTheSameWindowWithANewObject"
DECLARATION = '<?xml version="1.0" encoding="gb2312"?>'
problems = []


def check(ok, message):
    if not ok:
        problems.append(message)


def plain(cell):
    return cell.strip().strip("`").strip()


def names(cell):
    return re.findall(r"`(\w+)`", cell)


# --- the real document ----------------------------------------------------------------------
run = subprocess.run(emulator + [program, f"--gtest_filter={TEST}"], capture_output=True,
                     env=dict(os.environ, CADENZA_SKIN_DOCUMENT_DUMP="1"), timeout=240)
out = run.stdout.decode("utf-8", errors="replace")
dump = re.search(r"=== module path\r?\n(.*?)\r?\n=== document\r?\n(.*)=== script\r?\n(.*)=== end", out, re.S)
if run.returncode != 0 or dump is None:
    print(out[-3000:])
    sys.exit(f"the tips test gave no skin document (exit {run.returncode})")
module, document, script = dump.groups()

# --- the section -----------------------------------------------------------------------------
contract = (root / "docs" / "host-contract.md").read_text(encoding="utf-8")
section = contract.split("### The skin document", 1)[1].split("\n### ", 1)[0]
blocks = re.findall(r"```(\w+)\n(.*?)```", section, re.S)
listing = dict(blocks)
reference = "res:\\\\" + html.escape(module, quote=True) + ","
check(document.count("\n") == document.count("\r\n"), "the document has a line break that is not CR LF")
check(listing.get("xml") == document.replace("\r\n", "\n").replace(reference, "res:\\\\PATH,"),
      "the listing is not the document LoadSkin gets (module path written as PATH)")
check(listing.get("vb") == script.replace("\r\n", "\n") and script.count("\n") == script.count("\r\n") == 6,
      "the script listing is not the script LoadSkin gets (six lines, each ended by CR LF)")
check(document.startswith(DECLARATION + "\r\n"), f"the document does not start with {DECLARATION}")
shipped = dict((name, (root / source).read_bytes()) for name, source, _ in package.SKIN_FILES)
check(shipped["tips-skin-document.xml"] == document.replace(
          reference, "res:\\\\" + html.escape(package.SKIN_MODULE_PATH, quote=True) + ",").encode("utf-16-le"),
      "the package's tips-skin-document.xml is not the document LoadSkin gets (UTF-16LE, its module path)")
check(shipped["tips-skin-script.vbs"] == script.encode("utf-16-le"),
      "the package's tips-skin-script.vbs is not the script LoadSkin gets (UTF-16LE)")

tables = defaultdict(list)  # first header cell -> body rows
current = None
for line in section.splitlines():
    line = line.strip()
    if not line.startswith("|"):
        current = None
        continue
    cells = [c.replace("\\|", "|").strip() for c in re.split(r"(?<!\\)\|", line)[1:-1]]
    if current is None:
        current = cells[0]
    elif not re.fullmatch(r"[\s|:-]+", line):
        tables[current].append(cells)
for header in ("element", "attribute", "text", "event id"):
    check(tables.get(header), f"the section has no table headed '{header}'")

# --- the document's vocabulary ---------------------------------------------------------------
tree = ET.fromstring(document[len(DECLARATION):])
occurs, attributes, carriers, texts, events = defaultdict(int), defaultdict(set), defaultdict(set), set(), set()


def walk(element, parent, owner):
    key = (element.tag, parent)
    occurs[key] += 1
    attributes[key] |= set(element.attrib)
    for name in element.attrib:
        carriers[name].add(element.tag)
    owner = element.get("id", owner)
    for name in ("value", "toolTip"):
        if name in element.attrib:
            texts.add((element.get(name), owner))
    if element.tag == "Event":
        events.add((int(element.get("OnClick")), owner))
    check((element.text or "").strip() == "", f"<{element.tag}> has text content")
    for child in element:
        walk(child, element.tag, owner)


walk(tree, None, None)

documented = {}
for r in tables["element"]:
    parent = None if plain(r[1]) == "(root)" else plain(r[1])
    key = (plain(r[0]), parent)
    check(key not in documented, f"element {key} documented twice")
    documented[key] = (int(r[2]), set(names(r[3])))
for key in sorted(set(documented) | set(occurs), key=str):
    if key not in documented or key not in occurs:
        check(False, f"element {key[0]} in {key[1]}: {'documented' if key in documented else 'in the document'} only")
        continue
    count, listed = documented[key]
    check(count == occurs[key], f"element {key[0]} in {key[1]}: occurs {count} in the table, {occurs[key]} in the document")
    check(listed == attributes[key], f"element {key[0]} in {key[1]}: attributes {sorted(listed)} in the table, "
                                     f"{sorted(attributes[key])} in the document")

on = {plain(r[0]): r[1] for r in tables["attribute"]}
for name in sorted(set(on) | set(carriers)):
    cell = on.get(name)
    if cell is None or name not in carriers:
        check(False, f"attribute {name}: {'documented' if cell is not None else 'in the document'} only")
        continue
    listed = set(names(on["image"])) if "the image elements" in cell else set(names(cell))
    check(listed == carriers[name], f"attribute {name}: on {sorted(listed)} in the table, {sorted(carriers[name])} in the document")

documented_texts = {(plain(r[0]), names(r[1])[0] if names(r[1]) else None) for r in tables["text"]}
check(documented_texts == texts, f"texts: table {sorted(documented_texts, key=str)}, document {sorted(texts, key=str)}")
documented_events = {(int(r[0]), names(r[1])[0] if names(r[1]) else None)
                     for r in tables["event id"] if r[0].isdigit()}
check(documented_events == events, f"events: table {sorted(documented_events, key=str)}, document {sorted(events, key=str)}")

for p in problems:
    print("DISAGREES:", p)
print(f"skin document section: {len(problems)} disagreement(s); checked {len(documented)} elements, "
      f"{len(on)} attributes, {len(documented_texts)} texts, {len(documented_events)} events and the listings")
sys.exit(1 if problems else 0)
