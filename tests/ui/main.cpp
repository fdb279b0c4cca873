#include <gtest/gtest.h>
#include <windows.h>

int main(int argc, char** argv) {
    // Per-monitor aware, so that Wine hands out ostrel's coordinates unscaled whatever DPI this
    // process started at. Looked up at run time: the headers target an older Windows.
    using SetContextFn = HANDLE(WINAPI*)(HANDLE);
    const auto setContext = reinterpret_cast<SetContextFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "SetThreadDpiAwarenessContext")));
    // Per-monitor v2 first, then v1 (all Wine 8 may know).
    if (!setContext ||
        (!setContext(reinterpret_cast<HANDLE>(-4)) && !setContext(reinterpret_cast<HANDLE>(-3)))) {
        ::SetProcessDPIAware();
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
