// Calls that some supported Windows versions lack, looked up when first needed: an import of a
// function the system does not export keeps the whole program from starting (on Windows XP, the
// loader's "procedure entry point could not be located").
#pragma once

#include <windows.h>

namespace platform {

// The function, or nullptr where this Windows has none.
template <typename Fn> Fn LateBound(const wchar_t* module, const char* name) {
    const HMODULE loaded = ::GetModuleHandleW(module);
    return loaded ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(loaded, name)))
                  : nullptr;
}

} // namespace platform
