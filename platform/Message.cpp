#include "platform/Message.h"

#include "platform/Version.h"

#include <windows.h>

namespace platform {

const wchar_t* const kApplicationTitle = OSTREL_WIDEN(OSTREL_APP_TITLE);

namespace {

HWND messageOwner = nullptr;

void ShowBox(const std::wstring& prompt, UINT icon) {
    // The main window, not whichever is active: a box shown while another box is up would
    // otherwise belong to that box and outlive the window's own blocking. Without one, task-modal
    // disables every window of the thread instead.
    ::MessageBoxW(messageOwner, prompt.c_str(), kApplicationTitle,
                  MB_OK | icon | (messageOwner ? 0 : MB_TASKMODAL));
}

} // namespace

void SetMessageOwner(HWND window) {
    messageOwner = window;
}

void ShowMessage(const std::wstring& prompt) {
    ShowBox(prompt, 0);
}

void ShowErrorMessage(const std::wstring& prompt) {
    ShowBox(prompt, MB_ICONERROR);
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
    std::wstring text = L"Unexpected error " + Decimal(number) + L":\n\n" +
                        (description.empty() ? DescribeError(number) : description);
    text += L"\n\nThe program will now close.";
    // A window that failed to start has already asked to quit; the pending WM_QUIT would end the
    // box's own message loop before the user ever saw it.
    MSG pending;
    while (::PeekMessageW(&pending, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    ShowBox(text, MB_ICONERROR);
    ::ExitProcess(number != 0 ? number : 1);
}

} // namespace platform
