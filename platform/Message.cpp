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

std::wstring DescribeError(std::uint32_t number) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, number, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length != 0 && buffer ? std::wstring(buffer, length) : std::wstring();
    ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
        text.pop_back();
    }
    return text.empty() ? L"Unknown error." : text;
}

namespace {

// wsprintfW is already in user32; std::to_wstring would link a printf engine for one number.
std::wstring Decimal(std::uint32_t number) {
    wchar_t text[16];
    ::wsprintfW(text, L"%lu", static_cast<unsigned long>(number));
    return text;
}

} // namespace

std::wstring ErrorLine(std::uint32_t number) {
    return L"Error " + Decimal(number) + L": " + DescribeError(number);
}

void ReportUnhandledError(std::uint32_t number, const std::wstring& description) {
    // Built on the stack: this also reports running out of memory, when nothing may be allocated.
    wchar_t systemText[512] = L"";
    const wchar_t* said = description.c_str();
    if (description.empty()) {
        DWORD end = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, number, 0, systemText, 512, nullptr);
        while (end > 0 && (systemText[end - 1] == L'\r' || systemText[end - 1] == L'\n' ||
                           systemText[end - 1] == L' ')) {
            systemText[--end] = L'\0';
        }
        said = end > 0 ? systemText : L"Unknown error.";
    }
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
