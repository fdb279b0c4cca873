// What the window looks like on screen after a Recover: a picture kept in the build tree, and the
// colours the user must see in it.
#include "Driver.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <vector>

namespace {

// Screen pixels of a rectangle, top row first, as 0x00RRGGBB.
class Capture {
  public:
    explicit Capture(const RECT& screenRect)
        : rect_(screenRect), width_(screenRect.right - screenRect.left),
          height_(screenRect.bottom - screenRect.top) {
        const HDC screen = ::GetDC(nullptr);
        const HDC memory = ::CreateCompatibleDC(screen);
        const HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width_, height_);
        const HGDIOBJ old = ::SelectObject(memory, bitmap);
        ::BitBlt(memory, 0, 0, width_, height_, screen, rect_.left, rect_.top, SRCCOPY);
        ::SelectObject(memory, old);

        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width_;
        info.bmiHeader.biHeight = -height_;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        pixels_.resize(static_cast<size_t>(width_) * height_);
        ::GetDIBits(memory, bitmap, 0, height_, pixels_.data(), &info, DIB_RGB_COLORS);
        ::DeleteObject(bitmap);
        ::DeleteDC(memory);
        ::ReleaseDC(nullptr, screen);
    }

    // A pixel at screen coordinates.
    DWORD At(int x, int y) const {
        return pixels_[static_cast<size_t>(y - rect_.top) * width_ + (x - rect_.left)] & 0xFFFFFF;
    }

    int CountInside(const RECT& screenRect, DWORD colour) const {
        int count = 0;
        for (int y = screenRect.top; y < screenRect.bottom; ++y) {
            for (int x = screenRect.left; x < screenRect.right; ++x) {
                count += At(x, y) == colour ? 1 : 0;
            }
        }
        return count;
    }

    // A 24-bit bottom-up BMP, the plainest picture any viewer opens.
    bool SaveBmp(const std::filesystem::path& path) const {
        const int stride = (width_ * 3 + 3) & ~3;
        BITMAPFILEHEADER file{};
        BITMAPINFOHEADER header{};
        header.biSize = sizeof(header);
        header.biWidth = width_;
        header.biHeight = height_;
        header.biPlanes = 1;
        header.biBitCount = 24;
        header.biCompression = BI_RGB;
        header.biSizeImage = static_cast<DWORD>(stride * height_);
        file.bfType = 0x4D42;
        file.bfOffBits = sizeof(file) + sizeof(header);
        file.bfSize = file.bfOffBits + header.biSizeImage;
        std::string bytes(reinterpret_cast<const char*>(&file), sizeof(file));
        bytes.append(reinterpret_cast<const char*>(&header), sizeof(header));
        for (int row = height_ - 1; row >= 0; --row) {
            std::string line(static_cast<size_t>(stride), '\0');
            for (int x = 0; x < width_; ++x) {
                const DWORD pixel = pixels_[static_cast<size_t>(row) * width_ + x];
                line[x * 3] = static_cast<char>(pixel & 0xFF);
                line[x * 3 + 1] = static_cast<char>((pixel >> 8) & 0xFF);
                line[x * 3 + 2] = static_cast<char>((pixel >> 16) & 0xFF);
            }
            bytes += line;
        }
        std::filesystem::create_directories(path.parent_path());
        ui::WriteBytes(path.wstring(), bytes);
        return true;
    }

  private:
    RECT rect_;
    int width_;
    int height_;
    std::vector<DWORD> pixels_;
};

RECT ScreenRectOf(HWND window) {
    RECT rect{};
    ::GetWindowRect(window, &rect);
    return rect;
}

RECT ClientScreenRect(HWND window) {
    RECT rect{};
    ::GetClientRect(window, &rect);
    ::MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

constexpr DWORD kBlack = 0x000000;
constexpr DWORD kGreen = 0x00FF00; // 0x00RRGGBB here

} // namespace

TEST(Screenshot, ShowsGreenLabelsOnBlackAfterRecover) {
    ui::game_key::SetValue(L"SAMPLE-KEY-1234-5678");
    ui::TempDir dir;
    ui::Ostrel ostrel(dir.Path());
    ostrel.Recover();
    ASSERT_EQ(ostrel.BoxText(), L"SAMPLE-KEY-1234-5678");
    ::SetForegroundWindow(ostrel.Window());
    // Painted once the whole update has been drawn.
    ::RedrawWindow(ostrel.Window(), nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);

    const HWND window = ostrel.Window();
    const RECT client = ClientScreenRect(window);
    const RECT label1 = ScreenRectOf(ostrel.Control(104));
    const RECT label2 = ScreenRectOf(ostrel.Control(105));
    std::optional<Capture> shot;
    // Poll until the labels have been drawn, bounded.
    ui::WaitUntil([&] {
        shot.emplace(ScreenRectOf(window));
        return shot->CountInside(label1, kGreen) > 0 && shot->CountInside(label2, kGreen) > 0;
    });
    ASSERT_TRUE(shot);

    const std::filesystem::path artifact =
        std::filesystem::path(ui::WinePath(OSTREL_ARTIFACT_DIR)) / "ostrel-window.bmp";
    shot->SaveBmp(artifact);
    std::printf("screenshot: %s\n", ui::Narrow(artifact.wstring()).c_str());

    // The corners of the client area are the window's own background.
    EXPECT_EQ(shot->At(client.left, client.top), kBlack);
    EXPECT_EQ(shot->At(client.right - 1, client.top), kBlack);
    EXPECT_EQ(shot->At(client.left, client.bottom - 1), kBlack);
    EXPECT_EQ(shot->At(client.right - 1, client.bottom - 1), kBlack);
    // Label text in pure green, and the black showing through around the letters.
    for (const RECT& label : {label1, label2}) {
        const int area = (label.right - label.left) * (label.bottom - label.top);
        EXPECT_GT(shot->CountInside(label, kGreen), area / 50);
        EXPECT_GT(shot->CountInside(label, kBlack), area / 3);
    }
    ui::game_key::Delete();
}
