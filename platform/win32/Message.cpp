#include "platform/Message.h"

#include "platform/Version.h"

#include <windows.h>

namespace platform {

const wchar_t* const kApplicationTitle = OSTREL_WIDEN(OSTREL_APP_TITLE);

namespace {

HWND messageOwner = nullptr;

void ShowBox(const wchar_t* prompt, UINT icon) {
    // The main window, not whichever is active: a box shown while another box is up would
    // otherwise belong to that box and outlive the window's own blocking. Without one, task-modal
    // disables every window of the thread instead.
    ::MessageBoxW(messageOwner, prompt, kApplicationTitle,
                  MB_OK | icon | (messageOwner ? 0 : MB_TASKMODAL));
}

} // namespace

void SetMessageOwner(HWND window) {
    messageOwner = window;
}

void ShowMessage(const std::wstring& prompt) {
    ShowBox(prompt.c_str(), 0);
}

void ShowErrorMessage(const std::wstring& prompt) {
    ShowBox(prompt.c_str(), MB_ICONERROR);
}

namespace {

// The system's description of an error, on one line, into a buffer on the stack: the
// unhandled-error report uses it when memory has run out and nothing may be allocated.
const wchar_t* SystemText(std::uint32_t number, wchar_t (&buffer)[512]) {
    DWORD end = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, number, 0, buffer, 512, nullptr);
    while (end > 0 &&
           (buffer[end - 1] == L'\r' || buffer[end - 1] == L'\n' || buffer[end - 1] == L' ')) {
        --end;
    }
    buffer[end] = L'\0';
    return end > 0 ? buffer : L"Unknown error.";
}

} // namespace

std::uint32_t LastErrorOr(std::uint32_t fallback) {
    const DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

std::wstring DescribeError(std::uint32_t number) {
    wchar_t buffer[512];
    return SystemText(number, buffer);
}

std::wstring ErrorLine(std::uint32_t number) {
    wchar_t buffer[512];
    // wsprintfW is already in user32; std::to_wstring would link a printf engine for one number.
    wchar_t text[640];
    ::wsprintfW(text, L"Error %lu: %s", static_cast<unsigned long>(number),
                SystemText(number, buffer));
    return text;
}

void ReportUnhandledError(std::uint32_t number, const std::wstring& description) {
    wchar_t buffer[512];
    const wchar_t* said = description.empty() ? SystemText(number, buffer) : description.c_str();
    // wsprintfW writes at most 1024 characters, terminator included.
    wchar_t text[1024];
    ::wsprintfW(text, L"Unexpected error %lu:\n\n%.900s\n\nThe program will now close.",
                static_cast<unsigned long>(number), said);
    // A window that failed to start has already asked to quit; the pending WM_QUIT would end the
    // box's own message loop before the user ever saw it.
    MSG pending;
    while (::PeekMessageW(&pending, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    ShowBox(text, MB_ICONERROR);
    ::ExitProcess(number != 0 ? number : 1);
}

} // namespace platform
