#include "window/Form1.h"

#include <windows.h>

namespace {

// Only the system directory is searched for DLLs loaded after start, so a DLL planted in the
// current directory (where the backup goes) is never picked up. Looked up at run time because
// Windows 7 without its 2011 loader update lacks the call.
void RestrictDllSearch() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    if (const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll")) {
        if (const auto set = reinterpret_cast<SetDefaultDllDirectoriesFn>(
                reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")))) {
            set(LOAD_LIBRARY_SEARCH_SYSTEM32);
        }
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    RestrictDllSearch();
    return Form1::Run(instance, showCommand);
}
