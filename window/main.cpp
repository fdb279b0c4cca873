#include "window/Form1.h"

#include "platform/win32/LateBound.h"

#include <windows.h>

namespace {

// Only the system directory is searched for DLLs loaded after start, so a DLL planted in the
// current directory (where the backup goes) is never picked up. Windows 7 without its 2011 loader
// update lacks the call; there, and on XP SP2, the current directory at least leaves the search.
void RestrictDllSearch() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    using SetDllDirectoryFn = BOOL(WINAPI*)(LPCWSTR);
    if (const auto set = platform::LateBound<SetDefaultDllDirectoriesFn>(
            L"kernel32.dll", "SetDefaultDllDirectories")) {
        set(LOAD_LIBRARY_SEARCH_SYSTEM32);
    } else if (const auto setOld =
                   platform::LateBound<SetDllDirectoryFn>(L"kernel32.dll", "SetDllDirectoryW")) {
        setOld(L"");
    }
}

} // namespace

// The loader calls this directly: the program takes no command line, has no global constructors
// and nothing to run at exit, so the C runtime's start-up would do no work for it. It never
// returns (the loader's calling convention for it differs between i686 and x86_64); the stack is
// realigned because on i686 the loader promises only 4 bytes.
extern "C" [[noreturn]] __attribute__((force_align_arg_pointer)) void OstrelStart() {
    RestrictDllSearch();
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    ::GetStartupInfoW(&startup);
    const int showCommand =
        (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? startup.wShowWindow : SW_SHOWDEFAULT;
    ::ExitProcess(static_cast<UINT>(Form1::Run(::GetModuleHandleW(nullptr), showCommand)));
}
