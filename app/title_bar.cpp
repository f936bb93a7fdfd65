#include "app/app.h"
#include "res/resource.h"

HWND CloseButton;
HWND MinimizeButton;

int RegisterTitleBarClass()
{
    WNDCLASSEXW titleBarClass = {};
    titleBarClass.cbSize = sizeof titleBarClass;
    titleBarClass.lpfnWndProc = TitleBarWndProc;
    titleBarClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    titleBarClass.hbrBackground = CreateSolidBrush(TitleBarColor);
    titleBarClass.lpszClassName = L"TitleBar";
    RegisterClassExW(&titleBarClass);
    return 0;
}

static HBITMAP LoadButtonBitmap(HWND window, int resource)
{
    auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
    return static_cast<HBITMAP>(
        LoadImageW(instance, MAKEINTRESOURCEW(resource), IMAGE_BITMAP, 16, 16, LR_DEFAULTSIZE));
}

// Repaints the tab strip of the title bar and the page area of the main window.
static void InvalidateTabAndPage(HWND window)
{
    RECT tabs;
    GetClientRect(window, &tabs);
    tabs.top = 30;
    InvalidateRect(window, &tabs, TRUE);
    HWND parent = GetParent(window);
    RECT page;
    GetClientRect(parent, &page);
    page.top = 80;
    InvalidateRect(parent, &page, TRUE);
}

static HWND CreateBitmapButton(HWND window, int x)
{
    auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
    return CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | BS_BITMAP | BS_OWNERDRAW,
                           x, 5, 16, 16, window, nullptr, instance, nullptr);
}

static void PaintTitleBar(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    DrawLabelText(dc, 5, 5, L"泽玛科技");
    HRGN tab = ActivePage == 1 ? CreateRoundRectRgn(10, 41, 85, 90, 0, 0)
                               : CreateRoundRectRgn(86, 41, 160, 90, 0, 0);
    HBRUSH face = CreateSolidBrush(PageColor);
    FillRgn(dc, tab, face);
    DeleteObject(tab);
    DeleteObject(face);
    DrawLabelText(dc, 29, 54, L"注册");
    DrawLabelText(dc, 105, 54, L"卸载");
    EndPaint(window, &paint);
}

static void DrawBitmapButton(HWND window, const DRAWITEMSTRUCT* item)
{
    bool pressed = (item->itemState & ODS_SELECTED) != 0;
    int resource = item->hwndItem == CloseButton ? (pressed ? IDB_CLOSE_PRESSED : IDB_CLOSE)
                                                 : (pressed ? IDB_MINIMIZE_PRESSED : IDB_MINIMIZE);
    HDC memory = CreateCompatibleDC(item->hDC);
    HBITMAP bitmap = LoadButtonBitmap(window, resource);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(item->hDC, 0, 0, 16, 16, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
    DeleteObject(bitmap);
}

// A click on a tab switches the page; outside the tab columns it drags the window.
static void HandleTitleBarClick(HWND window, LPARAM lParam)
{
    unsigned x = LOWORD(lParam);
    unsigned y = HIWORD(lParam);
    if (x >= 10 && x <= 85) {
        if (y >= 40 && y <= 90) ActivePage = 1;
        InvalidateTabAndPage(window);
    }
    if (x < 85 || x > 160) {
        SendMessageW(GetParent(window), WM_NCLBUTTONDOWN, HTCAPTION, 0);
    } else if (y >= 40 && y <= 90) {
        ActivePage = 2;
        InvalidateTabAndPage(window);
    }
}

LRESULT CALLBACK TitleBarWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: {
        RECT parent;
        GetClientRect(GetParent(window), &parent);
        int width = parent.right - parent.left;
        CloseButton = CreateBitmapButton(window, width - 25);
        MinimizeButton = CreateBitmapButton(window, width - 60);
        break;
    }
    case WM_PAINT:
        PaintTitleBar(window);
        break;
    case WM_DRAWITEM:
        DrawBitmapButton(window, reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        break;
    case WM_COMMAND:
        if (reinterpret_cast<HWND>(lParam) == CloseButton)
            SendMessageW(GetParent(window), WM_CLOSE, 0, 0);
        if (reinterpret_cast<HWND>(lParam) == MinimizeButton)
            ShowWindow(GetParent(window), SW_MINIMIZE);
        break;
    case WM_LBUTTONDOWN:
        HandleTitleBarClick(window, lParam);
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
