// CadenzaStamp.exe FILE a.b.c.d: sets the file version of a staged player (or any program with
// a version resource). Exit 0 done, 1 usage, 2 the file could not be stamped.
#include <cstdio>

#include "refhost/stamp/version_stamp.h"

int wmain(int argc, wchar_t** argv) {
  DWORD ms = 0, ls = 0;
  if (argc != 3 || !ParseFileVersion(argv[2], ms, ls)) {
    fwprintf(stderr, L"usage: CadenzaStamp.exe FILE a.b.c.d   (each part 0..65535)\n");
    return 1;
  }
  if (!StampFileVersion(argv[1], ms, ls)) {
    fwprintf(stderr, L"CadenzaStamp: %ls: no version resource, or the file cannot be written\n", argv[1]);
    return 2;
  }
  return 0;
}
