// The main window as it opens: caption, size, controls, fonts, focus and keyboard order, at the
// usual 96 DPI and at 144 DPI.
#include "Driver.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <vector>

namespace {

using ui::kCommand1;
using ui::kCommand2;
using ui::kLabel1;
using ui::kLabel2;
using ui::kText1;
using ui::Ostrel;
using ui::TempDir;

int Px(int twips, UINT dpi) {
    return ::MulDiv(twips, static_cast<int>(dpi), 1440);
}

// Sets the DPI Wine gives every process started afterwards, and puts the old value back.
class LogPixels {
  public:
    explicit LogPixels(DWORD dpi) {
        if (::RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0,
                              KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key_,
                              nullptr) != ERROR_SUCCESS) {
            throw std::runtime_error("cannot open Control Panel\\Desktop");
        }
        DWORD size = sizeof(old_);
        DWORD type = 0;
        hadOld_ = ::RegQueryValueExW(key_, L"LogPixels", nullptr, &type,
                                     reinterpret_cast<BYTE*>(&old_), &size) == ERROR_SUCCESS &&
                  type == REG_DWORD;
        Set(dpi);
    }
    ~LogPixels() {
        if (hadOld_) {
            Set(old_);
        } else {
            ::RegDeleteValueW(key_, L"LogPixels");
        }
        ::RegCloseKey(key_);
    }

  private:
    void Set(DWORD dpi) {
        ::RegSetValueExW(key_, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                         sizeof(dpi));
    }
    HKEY key_ = nullptr;
    DWORD old_ = 0;
    bool hadOld_ = false;
};

// What the labels' text measures in their font, done here in the test's own process.
SIZE LabelTextSize(const std::wstring& text, UINT dpi) {
    const HFONT font =
        ::CreateFontW(-::MulDiv(825, static_cast<int>(dpi), 7200), 0, 0, 0, FW_BOLD, FALSE, FALSE,
                      FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                      DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif");
    const HDC dc = ::GetDC(nullptr);
    const HGDIOBJ old = ::SelectObject(dc, font);
    SIZE size{};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    ::SelectObject(dc, old);
    ::ReleaseDC(nullptr, dc);
    ::DeleteObject(font);
    return size;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return name;
}

void ExpectLayout(UINT dpi) {
    TempDir dir;
    Ostrel ostrel(dir.Path());
    const HWND window = ostrel.Window();
    EXPECT_EQ(ui::ReadText(window), L"Ostrel 1.1");

    RECT client{};
    ASSERT_TRUE(::GetClientRect(window, &client));
    EXPECT_EQ(client.right, Px(5670, dpi));
    EXPECT_EQ(client.bottom, Px(2310, dpi));

    struct Fixed {
        int id;
        const wchar_t* className;
        const wchar_t* text;
        RECT twips; // left, top, width, height
    };
    const Fixed fixed[] = {
        {kText1, L"Edit", L"", {1508, 240, 2655, 375}},
        {kCommand1, L"Button", L"Recover", {1508, 1200, 975, 375}},
        {kCommand2, L"Button", L"Backup", {3188, 1200, 975, 375}},
    };
    for (const Fixed& control : fixed) {
        SCOPED_TRACE(testing::Message() << "control " << control.id << " at " << dpi << " DPI");
        const HWND child = ostrel.Control(control.id);
        ASSERT_NE(child, nullptr);
        EXPECT_EQ(::lstrcmpiW(ClassOf(child).c_str(), control.className), 0)
            << ui::Narrow(ClassOf(child));
        EXPECT_EQ(ui::ReadText(child), control.text);
        const RECT rect = ui::ChildRect(child);
        EXPECT_NEAR(rect.left, Px(control.twips.left, dpi), 1);
        EXPECT_NEAR(rect.top, Px(control.twips.top, dpi), 1);
        EXPECT_NEAR(rect.right - rect.left, Px(control.twips.right, dpi), 1);
        EXPECT_NEAR(rect.bottom - rect.top, Px(control.twips.bottom, dpi), 1);
        EXPECT_TRUE(::IsWindowVisible(child));
        EXPECT_TRUE(::IsWindowEnabled(child));
    }

    struct Label {
        int id;
        const wchar_t* text;
        POINT twips;
    };
    const Label labels[] = {
        {kLabel1, L"Written by Ostrel Team", {1838, 1800}},
        {kLabel2, L"https://ostrel.example.org", {1650, 2040}},
    };
    for (const Label& label : labels) {
        SCOPED_TRACE(testing::Message() << "label " << label.id << " at " << dpi << " DPI");
        const HWND child = ostrel.Control(label.id);
        ASSERT_NE(child, nullptr);
        EXPECT_EQ(::lstrcmpiW(ClassOf(child).c_str(), L"Static"), 0);
        EXPECT_EQ(ui::ReadText(child), label.text);
        const RECT rect = ui::ChildRect(child);
        EXPECT_NEAR(rect.left, Px(label.twips.x, dpi), 1);
        EXPECT_NEAR(rect.top, Px(label.twips.y, dpi), 1);
        // Sized to the text: all of it shows on one line, with no wide empty margin, and the
        // label stays inside the window.
        const SIZE text = LabelTextSize(label.text, dpi);
        std::printf("label %d at %u DPI: %ldx%ld px, text %ldx%ld px\n", label.id, dpi,
                    rect.right - rect.left, rect.bottom - rect.top, text.cx, text.cy);
        EXPECT_GE(rect.right - rect.left, text.cx);
        EXPECT_LE(rect.right - rect.left, text.cx + 2);
        EXPECT_GE(rect.bottom - rect.top, text.cy);
        EXPECT_LE(rect.right, client.right);
        EXPECT_LE(rect.bottom, client.bottom);
        EXPECT_TRUE(::IsWindowVisible(child));
    }
}

// Keys as the user types them, into whichever window has the focus.
void PressKey(WORD key, bool shift = false) {
    std::vector<INPUT> inputs;
    auto add = [&](WORD vk, DWORD flags) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = vk;
        input.ki.dwFlags = flags;
        inputs.push_back(input);
    };
    if (shift) {
        add(VK_SHIFT, 0);
    }
    add(key, 0);
    add(key, KEYEVENTF_KEYUP);
    if (shift) {
        add(VK_SHIFT, KEYEVENTF_KEYUP);
    }
    ASSERT_EQ(::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)),
              inputs.size());
}

void BringToFront(const Ostrel& ostrel) {
    ::SetForegroundWindow(ostrel.Window());
    ASSERT_TRUE(ui::WaitUntil([&] { return ::GetForegroundWindow() == ostrel.Window(); }))
        << "ostrel's window did not come to the foreground";
}

} // namespace

TEST(MainWindow, LaysOutControlsAt96Dpi) {
    ExpectLayout(96);
}

TEST(MainWindow, ScalesLayoutAndLabelFontAt144Dpi) {
    const LogPixels logPixels(144);
    ExpectLayout(144);
}

TEST(MainWindow, OpensWithFocusInTheBox) {
    TempDir dir;
    Ostrel ostrel(dir.Path());
    // The box takes the focus on activation, which may come after the window is up.
    EXPECT_TRUE(ui::WaitUntil([&] { return ostrel.Focus() == ostrel.Control(kText1); }))
        << "focus is on " << ostrel.Focus();
}

// As from a shortcut set to "Run: Minimized", or a launcher that keeps its own window in front.
TEST(MainWindow, StartedMinimisedOrWithoutActivationStaysSo) {
    for (const WORD show : {SW_SHOWMINNOACTIVE, SW_SHOWNOACTIVATE}) {
        SCOPED_TRACE(show);
        TempDir dir;
        Ostrel ostrel(dir.Path(), show);
        EXPECT_EQ(::IsIconic(ostrel.Window()) != FALSE, show == SW_SHOWMINNOACTIVE);
        GUITHREADINFO info{};
        info.cbSize = sizeof(info);
        ASSERT_TRUE(::GetGUIThreadInfo(ostrel.ThreadId(), &info));
        EXPECT_NE(info.hwndActive, ostrel.Window());
        EXPECT_NE(::GetForegroundWindow(), ostrel.Window());
    }
}

TEST(MainWindow, TabCyclesThroughBoxAndButtonsOnly) {
    TempDir dir;
    Ostrel ostrel(dir.Path());
    // The dialog manager walks the children in z-order and stops at tab stops.
    std::vector<int> stops;
    for (HWND child = ::GetWindow(ostrel.Window(), GW_CHILD); child;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (::GetWindowLongPtrW(child, GWL_STYLE) & WS_TABSTOP) {
            stops.push_back(::GetDlgCtrlID(child));
        }
    }
    EXPECT_EQ(stops, (std::vector<int>{kText1, kCommand1, kCommand2}));

    BringToFront(ostrel);
    ASSERT_TRUE(ui::WaitUntil([&] { return ostrel.Focus() == ostrel.Control(kText1); }));
    for (const int next : {kCommand1, kCommand2, kText1}) {
        PressKey(VK_TAB);
        EXPECT_TRUE(ui::WaitUntil([&] { return ostrel.Focus() == ostrel.Control(next); }))
            << "Tab did not reach control " << next;
    }
    PressKey(VK_TAB, true);
    EXPECT_TRUE(ui::WaitUntil([&] { return ostrel.Focus() == ostrel.Control(kCommand2); }))
        << "Shift+Tab did not go back to Backup";
}

TEST(MainWindow, NeitherButtonIsDefaultOrTakesEnterAndEscape) {
    ui::game_key::SetValue(L"KEY-THAT-RECOVER-WOULD-SHOW");
    TempDir dir;
    Ostrel ostrel(dir.Path());
    for (const int id : {kCommand1, kCommand2}) {
        const LONG_PTR style = ::GetWindowLongPtrW(ostrel.Control(id), GWL_STYLE);
        EXPECT_EQ(style & BS_TYPEMASK, BS_PUSHBUTTON) << "button " << id;
    }
    BringToFront(ostrel);
    PressKey(VK_RETURN);
    PressKey(VK_ESCAPE);
    // Keys arrive in order: once Tab has moved the focus, Enter and Escape have been handled.
    PressKey(VK_TAB);
    EXPECT_TRUE(ui::WaitUntil([&] { return ostrel.Focus() == ostrel.Control(kCommand1); }));
    EXPECT_EQ(ostrel.BoxText(), L"");
    EXPECT_EQ(ui::FindMessageBox(ostrel.Proc().Id()), nullptr);
    EXPECT_TRUE(ostrel.Proc().Running());
    ui::game_key::Delete();
}

TEST(MainWindow, LabelsNeverTakeTheFocus) {
    TempDir dir;
    Ostrel ostrel(dir.Path());
    for (const int id : {kLabel1, kLabel2}) {
        const LONG_PTR style = ::GetWindowLongPtrW(ostrel.Control(id), GWL_STYLE);
        EXPECT_FALSE(style & WS_TABSTOP) << "label " << id;
        // A prefix character would let Alt+letter jump to the next control.
        EXPECT_TRUE(style & SS_NOPREFIX) << "label " << id;
    }
}

TEST(MainWindow, BoxHasNoThirtyThousandCharacterLimit) {
    TempDir dir;
    Ostrel ostrel(dir.Path());
    const HWND box = ostrel.Control(kText1);
    DWORD_PTR limit = 0;
    ASSERT_TRUE(::SendMessageTimeoutW(box, EM_GETLIMITTEXT, 0, 0, SMTO_ABORTIFHUNG, ui::kTimeoutMs,
                                      &limit));
    EXPECT_GT(limit, 30000u);
    // Typed text honours the limit (a WM_SETTEXT would not), so put it in as typing does.
    const std::wstring longText(40000, L'K');
    DWORD_PTR ignored = 0;
    ASSERT_TRUE(::SendMessageTimeoutW(box, EM_REPLACESEL, TRUE,
                                      reinterpret_cast<LPARAM>(longText.c_str()), SMTO_ABORTIFHUNG,
                                      ui::kTimeoutMs, &ignored));
    EXPECT_EQ(ostrel.BoxText().size(), longText.size());
}

TEST(MainWindow, ClosingTheWindowEndsTheProgram) {
    TempDir dir;
    Ostrel ostrel(dir.Path());
    const std::optional<DWORD> exitCode = ostrel.Close();
    ASSERT_TRUE(exitCode.has_value()) << "still running after WM_CLOSE";
    EXPECT_EQ(*exitCode, 0u);
    EXPECT_TRUE(ui::ListDirectory(dir.Path()).empty()) << "closing saved something";
}

// The icon's larger images are stored as PNG: each size Windows asks for must decode into the
// green key on its dark tile, not into an empty or missing icon.
TEST(MainWindow, IconDecodesAtEverySizeItCarries) {
    const HMODULE image =
        ::LoadLibraryExW(ui::WinePath(OSTREL_EXE).c_str(), nullptr,
                         LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr);
    for (const int size : {16, 32, 48}) {
        SCOPED_TRACE(size);
        const auto icon =
            static_cast<HICON>(::LoadImageW(image, MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, 0));
        ASSERT_NE(icon, nullptr);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = size;
        info.bmiHeader.biHeight = -size;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        const HDC dc = ::CreateCompatibleDC(nullptr);
        const HBITMAP canvas = ::CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        ASSERT_NE(canvas, nullptr);
        const HGDIOBJ old = ::SelectObject(dc, canvas);
        EXPECT_TRUE(::DrawIconEx(dc, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL));
        ::GdiFlush();
        int green = 0;
        int tile = 0;
        const auto* pixels = static_cast<const std::uint32_t*>(bits);
        for (int i = 0; i < size * size; ++i) {
            const std::uint32_t red = (pixels[i] >> 16) & 0xFF;
            const std::uint32_t greenLevel = (pixels[i] >> 8) & 0xFF;
            green += greenLevel > 200 && red < 60 ? 1 : 0;
            tile += (pixels[i] & 0xFFFFFF) == 0x101010 ? 1 : 0;
        }
        // The key covers about a sixth of the icon, the tile most of the rest.
        EXPECT_GT(green, size * size / 12) << "green pixels";
        EXPECT_GT(tile, size * size / 3) << "tile pixels";
        ::SelectObject(dc, old);
        ::DeleteObject(canvas);
        ::DeleteDC(dc);
        ::DestroyIcon(icon);
    }
    ::FreeLibrary(image);
}
