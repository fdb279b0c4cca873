// DPI services for a per-monitor aware window. The per-monitor calls appeared in Windows 10 and
// are looked up at run time, so the program still starts on older systems at the system DPI.
#pragma once

#include "platform/win32/Handle.h"

#include <windows.h>

namespace platform {

// Named here because XP's headers, which the program is built with, do not know them.
constexpr UINT kDefaultDpi = 96;       // USER_DEFAULT_SCREEN_DPI
constexpr UINT kWmDpiChanged = 0x02E0; // WM_DPICHANGED, sent from Windows 8.1 on

UINT DpiForWindow(HWND window);

// Window size that gives the client size at the given DPI.
SIZE WindowSizeForClient(SIZE client, DWORD style, DWORD exStyle, UINT dpi);

// The user's message font (what dialogs use), scaled for the DPI.
UniqueFont CreateMessageFont(UINT dpi);

// Twips are 1/1440 inch.
inline int TwipsToPixels(int twips, UINT dpi) {
    return ::MulDiv(twips, static_cast<int>(dpi), 1440);
}

} // namespace platform
