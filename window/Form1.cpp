#include "window/Form1.h"

#include "platform/File.h"
#include "platform/Message.h"
#include "platform/Version.h"
#include "platform/win32/Dpi.h"
#include "platform/win32/Handle.h"
#include "registry/General.h"
#include "window/BackupFile.h"
#include "window/ControlIds.h"
#include "window/GameKey.h"

#include <new>
#include <string>

namespace Form1 {

namespace {

constexpr SIZE kClientTwips{5670, 2310};
constexpr COLORREF kLabelColour = RGB(0, 255, 0);
// A fixed layout: the frame can be moved and minimised, not resized or maximised.
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kExStyle = WS_EX_CONTROLPARENT;

enum class Kind { Edit, Button, Label };

struct ControlLayout {
    int id;
    Kind kind;
    const wchar_t* text;
    RECT twips; // left, top, width, height from the client area's top-left corner
};

// Creation order is the tab order; the labels never take the focus.
constexpr ControlLayout kControls[] = {
    {IDC_TEXT1, Kind::Edit, L"", {1508, 240, 2655, 375}},
    {IDC_COMMAND1, Kind::Button, L"Recover", {1508, 1200, 975, 375}},
    {IDC_COMMAND2, Kind::Button, L"Backup", {3188, 1200, 975, 375}},
    {IDC_LABEL1, Kind::Label, L"Written by " OSTREL_WIDEN(OSTREL_AUTHOR), {1838, 1800, 2115, 195}},
    {IDC_LABEL2, Kind::Label, OSTREL_WIDEN(OSTREL_WEB_ADDRESS), {1650, 2040, 2370, 195}},
};

// Per-window state, hung off the window itself.
struct State {
    HWND window = nullptr;
    UINT dpi = platform::kDefaultDpi;
    platform::UniqueFont controlFont;
    platform::UniqueFont labelFont;
    HWND lastFocus = nullptr;
    // A click that reaches the window while a command's message box is up (one posted, or
    // queued before the box) must not start a second command inside the first.
    bool commandRunning = false;
};

State* StateOf(HWND window) {
    return reinterpret_cast<State*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
}

[[noreturn]] void FailWithLastError() {
    platform::ReportUnhandledError(platform::LastErrorOr(ERROR_INVALID_FUNCTION), {});
}

SIZE WindowSizeAt(UINT dpi) {
    const SIZE client{platform::TwipsToPixels(kClientTwips.cx, dpi),
                      platform::TwipsToPixels(kClientTwips.cy, dpi)};
    return platform::WindowSizeForClient(client, kStyle, kExStyle, dpi);
}

// Without its class, window or fonts the program cannot go on; it is reported like any other
// failure nothing can handle.
void Check(BOOL succeeded) {
    if (!succeeded) {
        FailWithLastError();
    }
}

// Placing and repainting only change how the window looks; a failure there must not end the
// program and take a key the user typed with it. Windows repaints and re-lays out on its own
// occasions anyway.
void Cosmetic(BOOL) {}

// Labels size themselves to their text, growing to the right from their left edge. Should the
// text not be measurable, the label keeps the size it was laid out with.
SIZE LabelSize(HWND label, HFONT font, const wchar_t* text, SIZE laidOut) {
    SIZE size{};
    bool measured = false;
    if (const HDC dc = ::GetDC(label)) {
        const HGDIOBJ old = ::SelectObject(dc, font);
        measured =
            old != nullptr && ::GetTextExtentPoint32W(dc, text, ::lstrlenW(text), &size) != FALSE;
        ::SelectObject(dc, old);
        ::ReleaseDC(label, dc);
    }
    return measured ? size : laidOut;
}

// Fonts and positions follow the window's DPI, at creation and whenever it moves to a monitor
// with another scale.
void ApplyDpi(State& state) {
    const UINT dpi = state.dpi;
    platform::UniqueFont controlFont = platform::CreateMessageFont(dpi);
    platform::UniqueFont labelFont(
        ::CreateFontW(-::MulDiv(825, static_cast<int>(dpi), 7200), 0, 0, 0, FW_BOLD, FALSE, FALSE,
                      FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                      DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif"));
    if (!controlFont || !labelFont) {
        FailWithLastError();
    }
    for (const ControlLayout& control : kControls) {
        const HWND child = ::GetDlgItem(state.window, control.id);
        const HFONT font = control.kind == Kind::Label ? labelFont.get() : controlFont.get();
        ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        const int left = platform::TwipsToPixels(control.twips.left, dpi);
        const int top = platform::TwipsToPixels(control.twips.top, dpi);
        SIZE size{platform::TwipsToPixels(control.twips.right, dpi),
                  platform::TwipsToPixels(control.twips.bottom, dpi)};
        if (control.kind == Kind::Label) {
            size = LabelSize(child, font, control.text, size);
        }
        Cosmetic(::SetWindowPos(child, nullptr, left, top, size.cx, size.cy,
                                SWP_NOZORDER | SWP_NOACTIVATE));
    }
    // The controls now use the new fonts; the old ones may go.
    state.controlFont = std::move(controlFont);
    state.labelFont = std::move(labelFont);
    Cosmetic(::InvalidateRect(state.window, nullptr, TRUE));
}

// Recover: show the game's key, or "Error", in the box, replacing whatever it held.
void OnRecover(State& state) {
    std::wstring keyPath =
        GameKey::kKeyPath; // a fresh copy: the reader rewrites the path it is given
    const std::optional<std::wstring> value = General::GetKeyValue(keyPath, GameKey::kValueName);
    Check(::SetDlgItemTextW(state.window, IDC_TEXT1, value.value_or(L"").c_str()));
}

// The box's whole text, or the error that kept it from being read. A read that fails must not
// pass for an empty box, which would save an empty key and call it written.
DWORD ReadBoxText(HWND window, std::wstring& text) {
    text.clear();
    const HWND box = ::GetDlgItem(window, IDC_TEXT1);
    if (!box) {
        return platform::LastErrorOr(ERROR_INVALID_WINDOW_HANDLE);
    }
    ::SetLastError(ERROR_SUCCESS);
    const int length = ::GetWindowTextLengthW(box);
    if (length <= 0) {
        return length == 0 ? platform::LastErrorOr(ERROR_SUCCESS)
                           : platform::LastErrorOr(ERROR_READ_FAULT);
    }
    text.assign(static_cast<size_t>(length) + 1, L'\0');
    const int copied = ::GetWindowTextW(box, text.data(), static_cast<int>(text.size()));
    if (copied <= 0) {
        text.clear();
        return platform::LastErrorOr(ERROR_READ_FAULT);
    }
    text.resize(static_cast<size_t>(copied));
    return ERROR_SUCCESS;
}

// The backup's full path as the user knows it: the folder Ostrel was started in, not the long
// form or a link's target that the write itself may go by.
std::wstring ShownPath() {
    const DWORD needed = ::GetCurrentDirectoryW(0, nullptr);
    std::wstring path(needed, L'\0');
    const DWORD length = needed != 0 ? ::GetCurrentDirectoryW(needed, path.data()) : 0;
    if (length == 0 || length >= needed) {
        return BackupFile::kFileName;
    }
    path.resize(length);
    if (path.back() != L'\\') { // only a drive's root ends in one
        path.push_back(L'\\');
    }
    return path.append(BackupFile::kFileName);
}

// Backup: save the box as it stands. A failure keeps the window, the box and any earlier backup
// as they were, so the user can try elsewhere or copy the key by hand.
void OnBackup(State& state) {
    std::wstring text;
    bool charactersReplaced = false;
    platform::WriteResult result{ReadBoxText(state.window, text)};
    if (result.error == ERROR_SUCCESS) {
        result = BackupFile::Write(text, &charactersReplaced);
    }
    if (result.error == ERROR_SUCCESS) {
        platform::ShowMessage(charactersReplaced ? BackupFile::kWrittenWithReplacements
                                                 : BackupFile::kWritten);
        return;
    }
    platform::ShowErrorMessage(BackupFile::DescribeFailure(result, ShownPath(), L"\n\n") +
                               L"\n\nThe key is still in the box.");
}

// Commands run to completion on this thread. Nothing here throws: running out of memory and the
// string library's own failures are reported where they happen (platform/win32/Runtime.cpp).
void OnCommand(State& state, int id, int code) {
    if (code != BN_CLICKED || state.commandRunning) {
        return;
    }
    state.commandRunning = true;
    if (id == IDC_COMMAND1) {
        OnRecover(state);
    } else if (id == IDC_COMMAND2) {
        OnBackup(state);
    }
    state.commandRunning = false;
}

HWND CreateControl(const State& state, const ControlLayout& control) {
    const HINSTANCE instance =
        reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(state.window, GWLP_HINSTANCE));
    const wchar_t* className = L"STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE;
    DWORD exStyle = 0;
    switch (control.kind) {
    case Kind::Edit:
        className = L"EDIT";
        style |= WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
        exStyle = WS_EX_CLIENTEDGE;
        break;
    case Kind::Button:
        className = L"BUTTON";
        style |= WS_TABSTOP | BS_PUSHBUTTON;
        break;
    case Kind::Label:
        style |= SS_LEFT | SS_NOPREFIX;
        break;
    }
    return ::CreateWindowExW(exStyle, className, control.text, style, 0, 0, 0, 0, state.window,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)), instance,
                             nullptr);
}

// Creates the controls at the window's own DPI and fits the window around them.
void OnCreate(State& state) {
    for (const ControlLayout& control : kControls) {
        if (!CreateControl(state, control)) {
            // Reported here, while the error is still the control's and before the failed
            // window's clean-up has asked the program to quit.
            FailWithLastError();
        }
    }
    // The edit control stops at 30,000 characters unless told otherwise; the box has no limit.
    ::SendDlgItemMessageW(state.window, IDC_TEXT1, EM_SETLIMITTEXT, 0, 0);
    state.dpi = platform::DpiForWindow(state.window);
    ApplyDpi(state);
    const SIZE size = WindowSizeAt(state.dpi);
    Cosmetic(::SetWindowPos(state.window, nullptr, 0, 0, size.cx, size.cy,
                            SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE));
    // The box takes the focus when the window is first activated, and only then: a window
    // started minimised or inactive stays so.
    state.lastFocus = ::GetDlgItem(state.window, IDC_TEXT1);
    platform::SetMessageOwner(state.window);
}

// Moved to a monitor with another scale: take the new DPI and the place Windows suggests.
void OnDpiChanged(State& state, UINT dpi, const RECT& suggested) {
    state.dpi = dpi;
    ApplyDpi(state);
    const SIZE size = WindowSizeAt(dpi);
    Cosmetic(::SetWindowPos(state.window, nullptr, suggested.left, suggested.top, size.cx, size.cy,
                            SWP_NOZORDER | SWP_NOACTIVATE));
}

// Focus leaves with the window and comes back to the control that had it.
void OnActivate(State& state, WORD activation) {
    if (activation == WA_INACTIVE) {
        if (const HWND focus = ::GetFocus(); focus && ::IsChild(state.window, focus)) {
            state.lastFocus = focus;
        }
    } else if (state.lastFocus) {
        ::SetFocus(state.lastFocus);
    }
}

// The labels draw green on the window's own black.
LRESULT OnCtlColorStatic(HDC dc) {
    ::SetTextColor(dc, kLabelColour);
    ::SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH));
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    State* state = StateOf(window);
    switch (message) {
    case WM_NCCREATE: {
        auto* created = new (std::nothrow) State;
        if (!created) {
            return FALSE;
        }
        created->window = window;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
        break;
    }
    case WM_NCDESTROY:
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        delete state;
        break;
    case WM_CREATE:
        OnCreate(*state);
        return 0;
    case WM_COMMAND:
        OnCommand(*state, LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_CTLCOLORSTATIC:
        return OnCtlColorStatic(reinterpret_cast<HDC>(wParam));
    case WM_CTLCOLORBTN:
        // Around a themed button's rounded corners, the window's black rather than grey.
        return reinterpret_cast<LRESULT>(::GetStockObject(BLACK_BRUSH));
    case WM_ACTIVATE:
        OnActivate(*state, LOWORD(wParam));
        return 0;
    case platform::kWmDpiChanged:
        OnDpiChanged(*state, HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_DESTROY:
        platform::SetMessageOwner(nullptr);
        ::PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

BOOL RegisterWindowClass(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(IDI_OSTREL));
    windowClass.hIconSm = static_cast<HICON>(
        ::LoadImageW(instance, MAKEINTRESOURCEW(IDI_OSTREL), IMAGE_ICON,
                     ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), 0));
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = kClassName;
    return ::RegisterClassExW(&windowClass) != 0 ? TRUE : FALSE;
}

} // namespace

int Run(HINSTANCE instance, int showCommand) {
    Check(RegisterWindowClass(instance));
    // Sized for the system DPI here; WM_CREATE corrects it for the monitor the window lands on.
    const SIZE size = WindowSizeAt(platform::DpiForWindow(nullptr));
    const HWND window = ::CreateWindowExW(kExStyle, kClassName, OSTREL_WIDEN(OSTREL_WINDOW_CAPTION),
                                          kStyle, CW_USEDEFAULT, CW_USEDEFAULT, size.cx, size.cy,
                                          nullptr, nullptr, instance, nullptr);
    if (!window) {
        FailWithLastError();
    }
    ::ShowWindow(window, showCommand); // returns the earlier visibility, not an error
    Cosmetic(::UpdateWindow(window));

    MSG message;
    for (;;) {
        const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            return static_cast<int>(message.wParam);
        }
        if (got == -1) {
            FailWithLastError();
        }
        // Tab and Shift+Tab move between the box and the buttons.
        if (!::IsDialogMessageW(window, &message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
}

} // namespace Form1
