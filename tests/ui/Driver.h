// Drives a running ostrel.exe from outside, only through window messages, as a user's clicks
// would. Every wait polls with short sleeps up to a bounded timeout; a timeout throws, which
// GoogleTest reports as a failure of the test that waited.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ui {

// How long to wait for what the program does in its own time (a window, the focus, a box). Only
// a failing test waits it out, so it is generous: a machine busy with other builds took over 5 s
// to show a window under Wine. A driver of a program that runs under emulation, where the first
// run of each code path is slower still, builds with a longer wait.
#ifndef OSTREL_DRIVER_TIMEOUT_MS
#define OSTREL_DRIVER_TIMEOUT_MS 60000
#endif
constexpr DWORD kTimeoutMs = OSTREL_DRIVER_TIMEOUT_MS;

// "/x/y" (a build path) becomes "Z:\x\y"; Wine maps drive Z: to the Linux root.
std::wstring WinePath(const std::string& path);

// Polls the condition every few milliseconds; false once the timeout has passed.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = kTimeoutMs);

// A window's text, read until two reads agree: the owner may change it between the reads.
std::wstring ReadText(HWND window);
void SetText(HWND window, const std::wstring& text);

// A child's rectangle relative to its parent's client area.
RECT ChildRect(HWND child);

// A started process; ended (forcibly, if it is still running) when this goes.
class Process {
  public:
    // The arguments follow the quoted program name on the command line as they are; showCommand,
    // when given, is what a shortcut's "Run:" setting would pass (SW_SHOWMINNOACTIVE).
    Process(const std::wstring& exe, const std::wstring& currentDirectory,
            const std::wstring& arguments = {}, std::optional<WORD> showCommand = std::nullopt);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    DWORD Id() const { return info_.dwProcessId; }
    bool Running() const;
    // The exit code once it has ended, nothing if it is still running after the timeout.
    std::optional<DWORD> WaitForExit(DWORD timeoutMs = kTimeoutMs) const;
    // True once its main thread waits for input for the first time.
    bool WaitForInputIdle(DWORD timeoutMs = kTimeoutMs) const;
    void Terminate();

  private:
    PROCESS_INFORMATION info_{};
};

// A "#32770" message box as the user sees it.
struct MessageBoxView {
    HWND box = nullptr;
    std::wstring caption;
    std::wstring text;
    std::vector<std::wstring> buttons; // visible ones, without their '&'
    bool hasIcon = false;
    // Whether the program's main window took no input while the box was up (Ostrel::Backup).
    bool blockedWindow = false;
};

// Waits for a message box of the process and reads it.
MessageBoxView WaitForMessageBox(DWORD processId, DWORD timeoutMs = kTimeoutMs);
// Any message box of the process that is up now.
HWND FindMessageBox(DWORD processId);
// How many message boxes of the process are up now.
int CountMessageBoxes(DWORD processId);
// Clicks the box's OK button and waits until the box is gone.
void DismissMessageBox(const MessageBoxView& view);

// The main window's control ids, written out here rather than taken from the program's header,
// so that a changed id shows up as a failing test.
constexpr int kText1 = 101;
constexpr int kCommand1 = 102;
constexpr int kCommand2 = 103;
constexpr int kLabel1 = 104;
constexpr int kLabel2 = 105;

// ostrel.exe started in the given current directory, with its main window up.
class Ostrel {
  public:
    explicit Ostrel(const std::wstring& currentDirectory,
                    std::optional<WORD> showCommand = std::nullopt);
    // Another build of the program, e.g. the shipped 32-bit one.
    Ostrel(const std::wstring& currentDirectory, const std::wstring& exe,
           std::optional<WORD> showCommand = std::nullopt);
    // Closes the window; the process is ended forcibly if that does not end it.
    ~Ostrel();

    Process& Proc() { return process_; }
    HWND Window() const { return window_; }
    HWND Control(int id) const;
    DWORD ThreadId() const { return GetWindowThreadProcessId(window_, nullptr); }
    // The control that has the keyboard focus in ostrel's thread.
    HWND Focus() const;

    std::wstring BoxText() const;
    void SetBoxText(const std::wstring& text);
    // Clicks Recover and returns once the command has run.
    void Recover();
    // Clicks Backup, reads the message box it shows, dismisses it and returns what it said.
    MessageBoxView Backup();
    // Closes the window as the user would; the exit code once the process has ended.
    std::optional<DWORD> Close();

  private:
    Process process_;
    HWND window_ = nullptr;
};

// A fresh directory for one test, removed with everything in it afterwards.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& Path() const { return path_; }
    std::wstring File(const std::wstring& name) const { return path_ + L"\\" + name; }

  private:
    std::wstring path_;
};

std::string ReadBytes(const std::wstring& path);
void WriteBytes(const std::wstring& path, const std::string& bytes);
// Names in the directory, sorted, without "." and "..".
std::vector<std::wstring> ListDirectory(const std::wstring& path);

// The game's registry key that Recover reads (tests may write it; the program never does). The view
// is KEY_WOW64_32KEY or KEY_WOW64_64KEY where a test needs one of them; 0 is this driver's own.
namespace game_key {
void SetValue(const std::wstring& value, REGSAM view = 0);
void CreateWithoutValue(REGSAM view = 0);
void Delete(REGSAM view = 0);
// The value, if the key and the value exist.
std::optional<std::wstring> Value(REGSAM view = 0);
bool Exists();
} // namespace game_key

std::string Narrow(const std::wstring& text);

} // namespace ui
