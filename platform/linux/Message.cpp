// On Linux the program is a command: what the window would show in a message box goes to stderr,
// so that stdout carries only the key.
#include "platform/Message.h"

#include "platform/Version.h"
#include "stores/Unicode.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {

const wchar_t* const kApplicationTitle = OSTREL_WIDEN(OSTREL_APP_TITLE);

namespace {

void PrintLine(const std::wstring& text) {
    // Messages carry paths and names from outside: none may drive the terminal.
    const std::string bytes = stores::SafeForTerminal(stores::ToUtf8(text), true) + "\n";
    // Nothing can be done when stderr itself is gone; the exit code still tells the caller.
    std::fwrite(bytes.data(), 1, bytes.size(), stderr);
    std::fflush(stderr);
}

} // namespace

void ShowMessage(const std::wstring& prompt) {
    PrintLine(prompt);
}

void ShowErrorMessage(const std::wstring& prompt) {
    PrintLine(L"ostrel: " + prompt);
}

std::uint32_t LastErrorOr(std::uint32_t fallback) {
    return errno != 0 ? static_cast<std::uint32_t>(errno) : fallback;
}

std::wstring DescribeError(std::uint32_t number) {
    // strerror's text is ASCII in the C locale, which a static program never leaves.
    const char* text = number <= 0x7FFFFFFF ? std::strerror(static_cast<int>(number)) : nullptr;
    std::wstring description = text ? std::wstring(text, text + std::strlen(text)) : L"";
    if (description.empty()) {
        return L"Unknown error.";
    }
    return description + L".";
}

std::wstring ErrorLine(std::uint32_t number) {
    return L"Error " + std::to_wstring(number) + L": " + DescribeError(number);
}

void ReportUnhandledError(std::uint32_t number, const std::wstring& description) {
    PrintLine(L"ostrel: unexpected error " + std::to_wstring(number) + L": " +
              (description.empty() ? DescribeError(number) : description));
    // The command's exit codes mean something of their own (2 is a usage error): any failure
    // nothing handled is a plain 1.
    std::exit(1);
}

} // namespace platform
