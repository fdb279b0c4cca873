/* The least this window can cost: ostrel's window written in plain C, with the same five
   controls, fonts, colours, icon, manifest and version block (the same resource script), the same
   start without the C runtime, and nothing else: no registry reader, no commands, no DPI changes
   after start. It loads exactly what ostrel loads, so its start-up and memory are the floor that
   ostrel is measured against. */
#include <windows.h>

#include "window/ControlIds.h"

static HFONT labelFont;

static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CTLCOLORSTATIC:
        SetTextColor((HDC)wParam, RGB(0, 255, 0));
        SetBkMode((HDC)wParam, TRANSPARENT);
        return (LRESULT)GetStockObject(NULL_BRUSH);
    case WM_CTLCOLORBTN:
        return (LRESULT)GetStockObject(BLACK_BRUSH);
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

static int Px(int twips, int dpi) {
    return MulDiv(twips, dpi, 1440);
}

static void AddControl(HWND parent, int id, const wchar_t* className, const wchar_t* text,
                       DWORD style, DWORD exStyle, const int twips[4], HFONT font, int dpi) {
    HWND child = CreateWindowExW(exStyle, className, text, WS_CHILD | WS_VISIBLE | style,
                                 Px(twips[0], dpi), Px(twips[1], dpi), Px(twips[2], dpi),
                                 Px(twips[3], dpi), parent, (HMENU)(INT_PTR)id,
                                 GetModuleHandleW(NULL), NULL);
    SendMessageW(child, WM_SETFONT, (WPARAM)font, FALSE);
    if (font == labelFont) {
        /* Labels fit their text, as ostrel's do. */
        HDC dc = GetDC(child);
        SIZE size;
        HGDIOBJ old = SelectObject(dc, font);
        GetTextExtentPoint32W(dc, text, lstrlenW(text), &size);
        SelectObject(dc, old);
        ReleaseDC(child, dc);
        SetWindowPos(child, NULL, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER);
    }
}

void OstrelStart(void) {
    const HINSTANCE instance = GetModuleHandleW(NULL);
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    static const int text1[4] = {1508, 240, 2655, 375}, command1[4] = {1508, 1200, 975, 375},
                     command2[4] = {3188, 1200, 975, 375}, label1[4] = {1838, 1800, 2115, 195},
                     label2[4] = {1650, 2040, 2370, 195};
    WNDCLASSEXW windowClass = {0};
    NONCLIENTMETRICSW metrics = {0};
    HDC screen = GetDC(NULL);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    RECT frame = {0, 0, Px(5670, dpi), Px(2310, dpi)};
    HFONT controlFont;
    HWND window;
    MSG message;
    ReleaseDC(NULL, screen);
    windowClass.cbSize = sizeof(windowClass);
    metrics.cbSize = sizeof(metrics);

    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_OSTREL));
    windowClass.hIconSm = (HICON)LoadImageW(instance, MAKEINTRESOURCEW(IDI_OSTREL), IMAGE_ICON,
                                            GetSystemMetrics(SM_CXSMICON),
                                            GetSystemMetrics(SM_CYSMICON), 0);
    windowClass.hCursor = LoadCursorW(NULL, IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    windowClass.lpszClassName = L"OstrelFloorWindow";
    RegisterClassExW(&windowClass);

    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    controlFont = CreateFontIndirectW(&metrics.lfMessageFont);
    labelFont = CreateFontW(-MulDiv(825, dpi, 7200), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE,
                            DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                            DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif");

    AdjustWindowRectEx(&frame, style, FALSE, WS_EX_CONTROLPARENT);
    window = CreateWindowExW(WS_EX_CONTROLPARENT, windowClass.lpszClassName, L"Ostrel 1.1", style,
                             CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                             frame.bottom - frame.top, NULL, NULL, instance, NULL);
    AddControl(window, IDC_TEXT1, L"EDIT", L"", WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL,
               WS_EX_CLIENTEDGE, text1, controlFont, dpi);
    AddControl(window, IDC_COMMAND1, L"BUTTON", L"Recover", WS_TABSTOP | BS_PUSHBUTTON, 0,
               command1, controlFont, dpi);
    AddControl(window, IDC_COMMAND2, L"BUTTON", L"Backup", WS_TABSTOP | BS_PUSHBUTTON, 0,
               command2, controlFont, dpi);
    AddControl(window, IDC_LABEL1, L"STATIC", L"Written by Ostrel Team", SS_LEFT | SS_NOPREFIX, 0,
               label1, labelFont, dpi);
    AddControl(window, IDC_LABEL2, L"STATIC", L"https://ostrel.example.org",
               SS_LEFT | SS_NOPREFIX, 0, label2, labelFont, dpi);
    ShowWindow(window, SW_SHOWDEFAULT);
    UpdateWindow(window);
    SetFocus(GetDlgItem(window, IDC_TEXT1));

    while (GetMessageW(&message, NULL, 0, 0) > 0) {
        if (!IsDialogMessageW(window, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    ExitProcess((UINT)message.wParam);
}
