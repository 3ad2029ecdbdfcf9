// The exception barrier of every entry point and platform callback: a C++ exception must never
// unwind into the host or through a platform frame, which would end the host's process.
#pragma once
#include <windows.h>

#include <new>

// Returns body()'s result, or fault(E_OUTOFMEMORY) for an allocation failure and
// fault(E_UNEXPECTED) for any other exception.
template <typename Body, typename Fault>
auto CallBarrier(Body&& body, Fault&& fault) noexcept -> decltype(body()) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return fault(E_OUTOFMEMORY);
  } catch (...) {
    return fault(E_UNEXPECTED);
  }
}
