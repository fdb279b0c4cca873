// The program's only window: the key box, Recover, Backup and the two credit lines.
#pragma once

#include <windows.h>

namespace Form1 {

// Window class name, for anything that needs to find the window.
inline constexpr wchar_t kClassName[] = L"OstrelForm1";

// Creates and shows the window, then runs the message loop until it is closed.
int Run(HINSTANCE instance, int showCommand);

} // namespace Form1
