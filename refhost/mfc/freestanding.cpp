// What the compiler may call in code without a C runtime: memset and memcpy for zeroed locals
// and structure copies. Byte loops through volatile pointers, so that they are not turned back
// into calls of themselves.
#include <stddef.h>

extern "C" void* memset(void* to, int value, size_t count) {
  volatile unsigned char* p = static_cast<volatile unsigned char*>(to);
  while (count--) *p++ = static_cast<unsigned char>(value);
  return to;
}

extern "C" void* memcpy(void* to, const void* from, size_t count) {
  volatile unsigned char* p = static_cast<volatile unsigned char*>(to);
  const unsigned char* q = static_cast<const unsigned char*>(from);
  while (count--) *p++ = *q++;
  return to;
}
