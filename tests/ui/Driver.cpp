#include "Driver.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>

namespace ui {

namespace {

constexpr DWORD kPollMs = 10;
constexpr wchar_t kGameKeyPath[] = L"SOFTWARE\\Activision\\Call of Duty 4";
constexpr wchar_t kGameValueName[] = L"codkey";

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what + " (last error " + std::to_string(::GetLastError()) + ")");
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return name;
}

struct TopLevelSearch {
    DWORD processId;
    const wchar_t* className;
    std::vector<HWND> found;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<TopLevelSearch*>(param);
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    if (processId == search->processId && ::IsWindowVisible(window) &&
        ClassOf(window) == search->className) {
        search->found.push_back(window);
    }
    return TRUE;
}

// Every visible top-level window of the process with that class.
std::vector<HWND> TopLevels(DWORD processId, const wchar_t* className) {
    TopLevelSearch search{processId, className, {}};
    ::EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

struct WindowList {
    DWORD processId;
    std::string text;
};

BOOL CALLBACK DescribeWindow(HWND window, LPARAM param) {
    auto* list = reinterpret_cast<WindowList*>(param);
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    if (processId == list->processId) {
        list->text += " " + Narrow(ClassOf(window)) + (::IsWindowVisible(window) ? "" : "(hidden)");
    }
    return TRUE;
}

// For a failure message: what the process does have on screen.
std::string DescribeWindows(DWORD processId) {
    WindowList list{processId, {}};
    ::EnumWindows(DescribeWindow, reinterpret_cast<LPARAM>(&list));
    return list.text.empty() ? " none" : list.text;
}

HWND FindTopLevel(DWORD processId, const wchar_t* className) {
    const std::vector<HWND> found = TopLevels(processId, className);
    return found.empty() ? nullptr : found.front();
}

BOOL CALLBACK CollectChild(HWND window, LPARAM param) {
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

std::wstring WithoutAmpersands(std::wstring text) {
    text.erase(std::remove(text.begin(), text.end(), L'&'), text.end());
    return text;
}

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!::SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kTimeoutMs,
                               &result)) {
        Fail("message " + std::to_string(message) + " got no answer");
    }
    return static_cast<LRESULT>(result);
}

} // namespace

std::wstring WinePath(const std::string& path) {
    std::wstring result = path.rfind('/', 0) == 0 ? L"Z:" : L"";
    for (const char c : path) {
        result += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    }
    return result;
}

std::string Narrow(const std::wstring& text) {
    std::string result;
    for (const wchar_t c : text) {
        if (c == L'\n') {
            result += "\\n";
        } else if (c < 0x80) {
            result += static_cast<char>(c);
        } else {
            result += "\\u" + std::to_string(static_cast<unsigned>(c));
        }
    }
    return result;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (::GetTickCount64() >= deadline) {
            return false;
        }
        ::Sleep(kPollMs);
    }
}

std::wstring ReadText(HWND window) {
    std::optional<std::wstring> previous;
    for (int read = 0; read < 50; ++read) {
        const auto length = static_cast<size_t>(Send(window, WM_GETTEXTLENGTH, 0, 0));
        std::wstring text(length + 1, L'\0');
        const auto got = static_cast<size_t>(
            Send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data())));
        text.resize(std::min(got, length));
        if (previous == text) {
            return text;
        }
        previous = std::move(text);
    }
    Fail("the text of a window kept changing");
}

void SetText(HWND window, const std::wstring& text) {
    if (!Send(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()))) {
        Fail("WM_SETTEXT failed");
    }
}

RECT ChildRect(HWND child) {
    RECT rect{};
    ::GetWindowRect(child, &rect);
    ::MapWindowPoints(nullptr, ::GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

Process::Process(const std::wstring& exe, const std::wstring& currentDirectory,
                 const std::wstring& arguments, std::optional<WORD> showCommand) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (showCommand) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = *showCommand;
    }
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!arguments.empty()) {
        commandLine += L" " + arguments;
    }
    if (!::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          currentDirectory.c_str(), &startup, &info_)) {
        Fail("cannot start " + Narrow(exe));
    }
}

Process::~Process() {
    Terminate();
    ::CloseHandle(info_.hThread);
    ::CloseHandle(info_.hProcess);
}

bool Process::Running() const {
    return ::WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

std::optional<DWORD> Process::WaitForExit(DWORD timeoutMs) const {
    if (::WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        return std::nullopt;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(info_.hProcess, &code);
    return code;
}

bool Process::WaitForInputIdle(DWORD timeoutMs) const {
    return ::WaitForInputIdle(info_.hProcess, timeoutMs) == 0;
}

void Process::Terminate() {
    if (Running()) {
        ::TerminateProcess(info_.hProcess, 0xDEAD);
        ::WaitForSingleObject(info_.hProcess, kTimeoutMs);
    }
}

HWND FindMessageBox(DWORD processId) {
    return FindTopLevel(processId, L"#32770");
}

int CountMessageBoxes(DWORD processId) {
    return static_cast<int>(TopLevels(processId, L"#32770").size());
}

MessageBoxView WaitForMessageBox(DWORD processId, DWORD timeoutMs) {
    MessageBoxView view;
    if (!WaitUntil([&] { return (view.box = FindMessageBox(processId)) != nullptr; }, timeoutMs)) {
        Fail("no message box appeared");
    }
    view.caption = ReadText(view.box);
    std::vector<HWND> children;
    ::EnumChildWindows(view.box, CollectChild, reinterpret_cast<LPARAM>(&children));
    for (const HWND child : children) {
        if (!::IsWindowVisible(child)) {
            continue;
        }
        const std::wstring className = ClassOf(child);
        if (::lstrcmpiW(className.c_str(), L"Button") == 0) {
            view.buttons.push_back(WithoutAmpersands(ReadText(child)));
        } else if (::lstrcmpiW(className.c_str(), L"Static") == 0) {
            const LONG_PTR style = ::GetWindowLongPtrW(child, GWL_STYLE);
            if ((style & SS_TYPEMASK) == SS_ICON) {
                view.hasIcon = view.hasIcon || Send(child, STM_GETICON, 0, 0) != 0;
            } else {
                const std::wstring text = ReadText(child);
                if (!text.empty()) {
                    view.text = text;
                }
            }
        }
    }
    return view;
}

void DismissMessageBox(const MessageBoxView& view) {
    std::vector<HWND> children;
    ::EnumChildWindows(view.box, CollectChild, reinterpret_cast<LPARAM>(&children));
    HWND ok = nullptr;
    for (const HWND child : children) {
        if (::IsWindowVisible(child) && ::GetDlgCtrlID(child) == IDOK) {
            ok = child;
        }
    }
    if (!ok) {
        Fail("the message box has no OK button");
    }
    // Posted: the box's own modal loop takes it, and the click returns into the command.
    ::PostMessageW(ok, BM_CLICK, 0, 0);
    if (!WaitUntil([&] { return !::IsWindow(view.box); })) {
        Fail("the message box stayed up after OK");
    }
}

Ostrel::Ostrel(const std::wstring& currentDirectory, std::optional<WORD> showCommand)
    : Ostrel(currentDirectory, WinePath(OSTREL_EXE), showCommand) {}

Ostrel::Ostrel(const std::wstring& currentDirectory, const std::wstring& exe,
               std::optional<WORD> showCommand)
    : process_(exe, currentDirectory, {}, showCommand) {
    // Idle means its thread has reached the message loop, so start-up has run to its end.
    if (!process_.WaitForInputIdle()) {
        Fail("ostrel.exe never became idle");
    }
    if (!WaitUntil([&] { return (window_ = FindTopLevel(process_.Id(), L"OstrelForm1")); })) {
        Fail("ostrel.exe showed no window; its windows:" + DescribeWindows(process_.Id()));
    }
}

Ostrel::~Ostrel() {
    if (process_.Running()) {
        Close();
    }
}

HWND Ostrel::Control(int id) const {
    return ::GetDlgItem(window_, id);
}

HWND Ostrel::Focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    if (!::GetGUIThreadInfo(ThreadId(), &info)) {
        return nullptr;
    }
    return info.hwndFocus;
}

std::wstring Ostrel::BoxText() const {
    return ReadText(Control(kText1));
}

void Ostrel::SetBoxText(const std::wstring& text) {
    SetText(Control(kText1), text);
}

void Ostrel::Recover() {
    // Sent: it returns once the click, and so the command, has run.
    Send(Control(kCommand1), BM_CLICK, 0, 0);
}

MessageBoxView Ostrel::Backup() {
    // Posted: the command ends in a modal box, which a sent click would wait for.
    if (!::PostMessageW(Control(kCommand2), BM_CLICK, 0, 0)) {
        Fail("cannot click Backup");
    }
    MessageBoxView view = WaitForMessageBox(process_.Id());
    view.blockedWindow = !::IsWindowEnabled(window_);
    DismissMessageBox(view);
    return view;
}

std::optional<DWORD> Ostrel::Close() {
    ::PostMessageW(window_, WM_CLOSE, 0, 0);
    std::optional<DWORD> code = process_.WaitForExit();
    if (!code) {
        process_.Terminate();
    }
    return code;
}

TempDir::TempDir() {
    wchar_t base[MAX_PATH];
    if (!::GetTempPathW(MAX_PATH, base)) {
        Fail("no temporary directory");
    }
    static unsigned counter = 0;
    path_ = std::wstring(base) + L"ostrel-ui-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
            std::to_wstring(++counter);
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ReadBytes(const std::wstring& path) {
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        Fail("cannot open " + Narrow(path));
    }
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got != 0) {
        bytes.append(buffer, got);
    }
    ::CloseHandle(file);
    return bytes;
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    const HANDLE file =
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    const bool ok =
        file != INVALID_HANDLE_VALUE &&
        ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size();
    if (file != INVALID_HANDLE_VALUE) {
        ::CloseHandle(file);
    }
    if (!ok) {
        Fail("cannot write " + Narrow(path));
    }
}

std::vector<std::wstring> ListDirectory(const std::wstring& path) {
    std::vector<std::wstring> names;
    for (const auto& entry : std::filesystem::directory_iterator(path)) {
        names.push_back(entry.path().filename().wstring());
    }
    std::sort(names.begin(), names.end());
    return names;
}

namespace game_key {

void CreateWithoutValue(REGSAM view) {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kGameKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS | view,
                          nullptr, &key, nullptr) != ERROR_SUCCESS) {
        Fail("cannot create the game's key");
    }
    ::RegDeleteValueW(key, kGameValueName);
    ::RegCloseKey(key);
}

void SetValue(const std::wstring& value, REGSAM view) {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kGameKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS | view,
                          nullptr, &key, nullptr) != ERROR_SUCCESS) {
        Fail("cannot create the game's key");
    }
    const LONG status = ::RegSetValueExW(key, kGameValueName, 0, REG_SZ,
                                         reinterpret_cast<const BYTE*>(value.c_str()),
                                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        Fail("cannot set the game's key value");
    }
}

void Delete(REGSAM view) {
    HKEY software = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_ALL_ACCESS | view, &software) !=
        ERROR_SUCCESS) {
        return;
    }
    ::RegDeleteTreeW(software, L"Activision\\Call of Duty 4");
    ::RegDeleteKeyExW(software, L"Activision\\Call of Duty 4", view, 0);
    ::RegDeleteKeyExW(software, L"Activision", view, 0);
    ::RegCloseKey(software);
}

bool Exists() {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kGameKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    ::RegCloseKey(key);
    return true;
}

std::optional<std::wstring> Value(REGSAM view) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kGameKeyPath, 0, KEY_QUERY_VALUE | view, &key) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    wchar_t data[512] = {};
    DWORD size = sizeof(data) - sizeof(wchar_t);
    DWORD type = 0;
    const LONG status = ::RegQueryValueExW(key, kGameValueName, nullptr, &type,
                                           reinterpret_cast<BYTE*>(data), &size);
    ::RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) {
        return std::nullopt;
    }
    return std::wstring(data);
}

} // namespace game_key

} // namespace ui
