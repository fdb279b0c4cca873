// Drives a running Ostrel for the no-display demo: waits for its window, presses Recover, waits
// for the key to appear, and prints the window's screen rectangle for the screenshot to crop.
#include "window/ControlIds.h"
#include "window/Form1.h"

#include <cstdio>
#include <string>
#include <windows.h>

namespace {

std::wstring TextOf(HWND control) {
    wchar_t text[512] = {};
    ::SendMessageW(control, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text));
    return text;
}

HWND WaitForWindow(DWORD timeoutMs) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        if (const HWND window = ::FindWindowW(Form1::kClassName, nullptr);
            window && ::IsWindowVisible(window)) {
            return window;
        }
        ::Sleep(50);
    }
    return nullptr;
}

} // namespace

int wmain() {
    const HWND window = WaitForWindow(20000);
    if (!window) {
        std::fputs("demo: the Ostrel window did not appear\n", stderr);
        return 1;
    }
    const HWND box = ::GetDlgItem(window, IDC_TEXT1);
    ::SendMessageW(::GetDlgItem(window, IDC_COMMAND1), BM_CLICK, 0, 0);
    for (int tries = 0; tries < 100 && TextOf(box).empty(); ++tries) {
        ::Sleep(20);
    }
    if (TextOf(box).empty()) {
        std::fputs("demo: Recover put nothing in the box\n", stderr);
        return 1;
    }
    // The new text is painted before the screenshot is taken.
    ::RedrawWindow(window, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    RECT rect{};
    if (!::GetWindowRect(window, &rect)) {
        std::fputs("demo: the Ostrel window has no rectangle\n", stderr);
        return 1;
    }
    std::printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left,
                rect.bottom - rect.top);
    return 0;
}
