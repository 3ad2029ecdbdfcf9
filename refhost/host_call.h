// The exception barrier of a host object's COM method: nothing a host object does may unwind
// into its caller, which is the component or COM's own frames (CoCreateInstance calls a class
// factory): the 32-bit runtime cannot unwind through those, and a throw there ends the player.
#pragma once
#include <windows.h>

#include "base/call_barrier.h"

namespace refhost {

// body()'s HRESULT; E_OUTOFMEMORY for an allocation failure, E_UNEXPECTED for any other exception.
template <typename Body>
HRESULT HostCall(Body&& body) noexcept {
  return CallBarrier(body, [](HRESULT hrFault) { return hrFault; });
}

}  // namespace refhost
