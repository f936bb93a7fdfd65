#include "app/app.h"
#include "registration/registration.h"
#include "uninstall/uninstall.h"

#include <strsafe.h>

int ActivePage = 1;
HWND PathEdit;
HWND InfoEdit;
HWND ControlList;
HWND QueryButton;
HWND UninstallAllButton;

static HFONT EditFont;
static HFONT ListFont;
static HFONT ButtonFont;
static HBRUSH ListBrush;

constexpr int DoubleClickNameCapacity = 255;
constexpr int UninstallAllNameCapacity = 200;

static HFONT CreateSongFont(int height)
{
    LOGFONTW font = {};
    font.lfHeight = height;
    font.lfCharSet = GB2312_CHARSET;
    StringCchCopyW(font.lfFaceName, LF_FACESIZE, L"宋体");
    return CreateFontIndirectW(&font);
}

static HWND CreateChild(HWND window, const wchar_t* className, const wchar_t* text, DWORD style,
                        int x, int y, int width, int height)
{
    auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
    return CreateWindowExW(0, className, text, style, x, y, width, height, window, nullptr,
                           instance, nullptr);
}

static void CreateChildren(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    CreateChild(window, L"TitleBar", L"", WS_CHILD | WS_VISIBLE, 0, 0, client.right - client.left, 85);
    PathEdit = CreateChild(window, L"EDIT", L"", WS_CHILD | WS_VISIBLE, 236, 180, 370, 20);
    InfoEdit = CreateChild(window, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE,
                           236, 220, 370, 200);
    ControlList = CreateChild(window, L"LISTBOX", L"",
                              WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | LBS_NOTIFY,
                              90, 220, 380, 240);
    QueryButton = CreateChild(window, L"BUTTON", L"查询安装", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW,
                              500, 220, 100, 50);
    UninstallAllButton = CreateChild(window, L"BUTTON", L"卸载全部",
                                     WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 500, 290, 100, 50);
    SendMessageW(ControlList, LB_SETITEMHEIGHT, 0, 30);
    EditFont = CreateSongFont(16);
    ListFont = CreateSongFont(25);
    ButtonFont = CreateSongFont(14);
    ListBrush = CreateSolidBrush(RGB(255, 255, 255));
}

static void PaintPage(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (ActivePage == 1) {
        DrawLabelText(dc, 90, 100, L"使用帮助:");
        DrawLabelText(dc, 90, 140, L"        请将后缀为.cab/.ocx/.dll文件拖入到此处窗口！");
        DrawLabelText(dc, 90, 180, L"拖入文件路径:");
        DrawLabelText(dc, 90, 220, L"文件处理信息:");
        ShowWindow(InfoEdit, SW_SHOW);
        ShowWindow(PathEdit, SW_SHOW);
        ShowWindow(ControlList, SW_HIDE);
        ShowWindow(QueryButton, SW_HIDE);
        ShowWindow(UninstallAllButton, SW_HIDE);
    } else {
        DrawLabelText(dc, 90, 100, L"使用帮助:");
        DrawLabelText(dc, 90, 140, L"        点击查询，双击列表中的项即可卸载该项,点击卸");
        DrawLabelText(dc, 90, 180, L"        载全部即可卸载列表中的全部.");
        ShowWindow(InfoEdit, SW_HIDE);
        ShowWindow(PathEdit, SW_HIDE);
        ShowWindow(QueryButton, SW_SHOW);
        ShowWindow(UninstallAllButton, SW_SHOW);
        ShowWindow(ControlList, SW_SHOW);
    }
    EndPaint(window, &paint);
}

static void DrawButtonFace(const DRAWITEMSTRUCT* item, HWND button, HRGN face, const wchar_t* caption)
{
    if (item->hwndItem != button) return;
    if ((item->itemState & ODS_SELECTED) && (item->itemAction & (ODA_DRAWENTIRE | ODA_SELECT))) {
        HBRUSH pressed = CreateSolidBrush(TitleBarColor);
        FillRgn(item->hDC, face, pressed);
        DeleteObject(pressed);
    }
    SetBkMode(item->hDC, TRANSPARENT);
    SetTextColor(item->hDC, RGB(255, 255, 255));
    RECT area = item->rcItem;
    DrawTextW(item->hDC, caption, 4, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

static void DrawOwnerButton(const DRAWITEMSTRUCT* item)
{
    if (item->CtlType != ODT_BUTTON) return;
    const RECT& r = item->rcItem;
    HRGN face = CreateRoundRectRgn(r.left + 1, r.top + 1, r.right, r.bottom, 0, 0);
    HBRUSH normal = CreateSolidBrush(PageColor);
    FillRgn(item->hDC, face, normal);
    DrawButtonFace(item, QueryButton, face, L"查询安装");
    DrawButtonFace(item, UninstallAllButton, face, L"卸载全部");
    DeleteObject(face);
    DeleteObject(normal);
}

// Reads list entry `index` into `name`; false when there is none or it would not fit whole,
// so that a cut name never reaches an uninstall.
static bool ReadListEntry(LRESULT index, wchar_t* name, int capacity)
{
    ZeroMemory(name, capacity * sizeof(wchar_t));
    if (index < 0) return false;
    LRESULT length = SendMessageW(ControlList, LB_GETTEXTLEN, index, 0);
    if (length == LB_ERR || length >= capacity) return false;
    SendMessageW(ControlList, LB_GETTEXT, index, reinterpret_cast<LPARAM>(name));
    return true;
}

static void UninstallSelected(HWND window)
{
    wchar_t name[DoubleClickNameCapacity];
    if (!ReadListEntry(SendMessageW(ControlList, LB_GETCURSEL, 0, 0), name, DoubleClickNameCapacity))
        return;
    if (MessageBoxW(window, L"   是否卸载？", L"提示", MB_YESNO) == IDNO) return;
    UninstallControl(name);
    QueryInstalledControls();
}

static void QueryCommand(HWND window)
{
    if (QueryInstalledControls() == 0)
        MessageBoxW(window, L"当前电脑没有安装控件！", L"提示", MB_OK);
}

static void UninstallAllCommand(HWND window)
{
    LRESULT count = SendMessageW(ControlList, LB_GETCOUNT, 0, 0);
    if (count <= 0) {
        MessageBoxW(window, L"请点击查询安装按钮！", L"提示", MB_OK);
        return;
    }
    if (MessageBoxW(window,
                    L"是否卸载列表中的全部控件？\r\n如果点击是,请稍等几秒钟,直到列表为空就表示卸载全部操作完成。",
                    L"提示", MB_YESNO) == IDNO)
        return;
    for (LRESULT index = 0; index < count; ++index) {
        wchar_t name[UninstallAllNameCapacity];
        if (ReadListEntry(index, name, UninstallAllNameCapacity)) UninstallControl(name);
    }
    QueryInstalledControls();
}

static void RouteCommand(HWND window, WPARAM wParam, LPARAM lParam)
{
    auto sender = reinterpret_cast<HWND>(lParam);
    if (sender == ControlList && HIWORD(wParam) == LBN_DBLCLK) UninstallSelected(window);
    if (sender == QueryButton) QueryCommand(window);
    if (sender == UninstallAllButton) UninstallAllCommand(window);
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        CreateChildren(window);
        return 0;
    case WM_DESTROY:
        if (EditFont) DeleteObject(EditFont);
        if (ListFont) DeleteObject(ListFont);
        if (ButtonFont) DeleteObject(ButtonFont);
        if (ListBrush) DeleteObject(ListBrush);
        EditFont = ListFont = ButtonFont = nullptr;
        ListBrush = nullptr;
        PostQuitMessage(0);
        return 0;
    case WM_PAINT:
        PaintPage(window);
        return 0;
    case WM_DRAWITEM:
        DrawOwnerButton(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return 0;
    case WM_COMMAND:
        RouteCommand(window, wParam, lParam);
        return 0;
    case WM_CTLCOLOREDIT:
        SelectObject(reinterpret_cast<HDC>(wParam), EditFont);
        SetTextColor(reinterpret_cast<HDC>(wParam), RGB(0, 0, 255));
        return 0;
    case WM_CTLCOLORLISTBOX:
        SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
        SelectObject(reinterpret_cast<HDC>(wParam), ListFont);
        return reinterpret_cast<LRESULT>(ListBrush);
    case WM_CTLCOLORBTN:
        SelectObject(reinterpret_cast<HDC>(wParam), ButtonFont);
        return 0;
    case WM_DROPFILES:
        // A drop on the Uninstall page is ignored; its handle is released all the same.
        if (ActivePage == 1)
            HandleFileDrop(reinterpret_cast<HDROP>(wParam));
        else
            DragFinish(reinterpret_cast<HDROP>(wParam));
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
