#include "platform/win32/Dpi.h"

#include "platform/win32/LateBound.h"

namespace platform {

namespace {

template <typename Fn> Fn User32Function(const char* name) {
    return LateBound<Fn>(L"user32.dll", name);
}

UINT SystemDpi() {
    UINT dpi = kDefaultDpi;
    if (const HDC screen = ::GetDC(nullptr)) {
        dpi = static_cast<UINT>(::GetDeviceCaps(screen, LOGPIXELSY));
        ::ReleaseDC(nullptr, screen);
    }
    return dpi != 0 ? dpi : kDefaultDpi;
}

} // namespace

UINT DpiForWindow(HWND window) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
    const UINT dpi = getDpiForWindow && window ? getDpiForWindow(window) : 0;
    return dpi != 0 ? dpi : SystemDpi();
}

SIZE WindowSizeForClient(SIZE client, DWORD style, DWORD exStyle, UINT dpi) {
    using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi = User32Function<AdjustForDpiFn>("AdjustWindowRectExForDpi");
    RECT rect{0, 0, client.cx, client.cy};
    const BOOL adjusted = adjustForDpi ? adjustForDpi(&rect, style, FALSE, exStyle, dpi)
                                       : ::AdjustWindowRectEx(&rect, style, FALSE, exStyle);
    if (!adjusted) {
        return client;
    }
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

UniqueFont CreateMessageFont(UINT dpi) {
    using ParametersForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
    static const auto parametersForDpi =
        User32Function<ParametersForDpiFn>("SystemParametersInfoForDpi");
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    if (parametersForDpi &&
        parametersForDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi)) {
        return UniqueFont(::CreateFontIndirectW(&metrics.lfMessageFont));
    }
    LOGFONTW font{};
    if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
        // Without the per-DPI call the metrics come at the system DPI.
        font = metrics.lfMessageFont;
        font.lfHeight =
            ::MulDiv(font.lfHeight, static_cast<int>(dpi), static_cast<int>(SystemDpi()));
    } else {
        // The dialog font every Windows version maps to its own UI face, at 8 points.
        font.lfHeight = -::MulDiv(8, static_cast<int>(dpi), 72);
        font.lfWeight = FW_NORMAL;
        font.lfCharSet = DEFAULT_CHARSET;
        ::lstrcpynW(font.lfFaceName, L"MS Shell Dlg 2", LF_FACESIZE);
    }
    return UniqueFont(::CreateFontIndirectW(&font));
}

} // namespace platform
