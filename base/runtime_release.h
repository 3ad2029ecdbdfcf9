// Releasing what the statically linked C++ runtime allocates when a library loads.
#pragma once

namespace __gnu_cxx {
void __freeres() noexcept;
}

// For DllMain on FreeLibrary: frees the runtime's emergency exception buffer (about 72 KiB),
// which every load of a library that links the runtime statically allocates and which would
// otherwise stay behind in the host's heap after each unload.
inline void ReleaseRuntimeBuffers() noexcept { __gnu_cxx::__freeres(); }
