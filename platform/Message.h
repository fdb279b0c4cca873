// The message services every part of the program shares.
#pragma once

#include <cstdint>
#include <string>

// The window handle's own type, named so that this header stays free of <windows.h>.
struct HWND__;

namespace platform {

// The application title captions every message box.
extern const wchar_t* const kApplicationTitle;

// From now on every box belongs to this window and blocks it, whichever window happens to be
// active; with none (nullptr), a box blocks every window of the thread.
void SetMessageOwner(HWND__* window);

// Modal box with one OK button and no icon; a line feed in the prompt starts a new line.
void ShowMessage(const std::wstring& prompt);

// Like ShowMessage, with the error icon: for a failure the user has to act on.
void ShowErrorMessage(const std::wstring& prompt);

// The system's own description of an error number, on one line ("Access is denied.").
std::wstring DescribeError(std::uint32_t number);

// The system's last error number (GetLastError, errno), or the fallback when the system left none:
// some failures (under Wine, a write that runs out of space) leave no number behind.
std::uint32_t LastErrorOr(std::uint32_t fallback);

// The error's number and description, as the user sees them: "Error 5: Access is denied."
std::wstring ErrorLine(std::uint32_t number);

// Last resort for a failure nothing else handled: tell the user the error's number and
// description, then end the process with a non-zero exit code.
[[noreturn]] void ReportUnhandledError(std::uint32_t number, const std::wstring& description);

} // namespace platform
