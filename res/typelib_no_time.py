#!/usr/bin/env python3
"""Takes the build time out of a type library that widl wrote (in place).

widl, as MIDL does, stores two custom data items in every type library: the text "Created by
WIDL version V at <ctime>" and the same moment as a 32-bit time. Both change with every build,
so two builds of one commit would differ. This sets both to the epoch (1970-01-01 00:00:00 UTC),
keeping every length and offset as it is. Fails when it cannot find exactly one of each.
"""
import re
import struct
import sys
import time
from calendar import timegm
from pathlib import Path

CTIME_LENGTH = 24  # "Thu Dec 10 06:24:17 2026"
VT_UI4 = 0x13


def main(path):
    data = bytearray(Path(path).read_bytes())
    texts = [m for m in re.finditer(rb"Created by WIDL version [^ ]+ at ", data)]
    if len(texts) != 1:
        sys.exit(f"{path}: {len(texts)} 'Created by WIDL' texts, not one")
    at = texts[0].end()
    stamp = data[at:at + CTIME_LENGTH].decode("ascii")
    # ctime() wrote the build's local time; its 32-bit twin is the same moment, so within a day.
    moment = timegm(time.strptime(stamp, "%a %b %d %H:%M:%S %Y"))
    zero = time.asctime(time.gmtime(0)).encode("ascii")
    assert len(zero) == CTIME_LENGTH
    data[at:at + CTIME_LENGTH] = zero
    times = [m.start() + 2 for m in re.finditer(rb"\x13\x00(?=(....))", data, re.S)
             if abs(struct.unpack("<I", m.group(1))[0] - moment) <= 86400]
    if len(times) != 1:
        sys.exit(f"{path}: {len(times)} build times stored as VT_UI4, not one")
    data[times[0]:times[0] + 4] = bytes(4)
    Path(path).write_bytes(data)


if __name__ == "__main__":
    main(sys.argv[1])
