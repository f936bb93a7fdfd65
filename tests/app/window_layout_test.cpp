// The main window, its title bar and its children as created: classes, texts,
// styles, rectangles and the drawing objects they are given.
#include "tests/support/main_window_fixture.h"

#include <iterator>
#include <string>
#include <vector>

namespace {
std::wstring ClassName(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

std::wstring Text(HWND window)
{
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
}

RECT RectInParent(HWND child)
{
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// What each window was created with, as the platform's creation hook sees it
// (a list box drops WS_VSCROLL from its style while it has nothing to scroll).
struct Creation {
    HWND window;
    DWORD style;
    DWORD exStyle;
    HMENU menu;
    RECT rect;
};
std::vector<Creation> Created;

LRESULT CALLBACK RecordCreation(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND) {
        const CREATESTRUCTW* create = reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs;
        Created.push_back({reinterpret_cast<HWND>(wParam), static_cast<DWORD>(create->style),
                           create->dwExStyle, create->hMenu,
                           {create->x, create->y, create->x + create->cx, create->y + create->cy}});
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

const Creation* CreationOf(HWND window)
{
    for (const Creation& c : Created)
        if (c.window == window) return &c;
    return nullptr;
}

COLORREF BrushColour(HBRUSH brush)
{
    LOGBRUSH info = {};
    GetObjectW(brush, sizeof info, &info);
    return info.lbColor;
}
}  // namespace

class MainWindowLayout : public MainWindowTest {
protected:
    void SetUp() override
    {
        Created.clear();
        hook = SetWindowsHookExW(WH_CBT, RecordCreation, nullptr, GetCurrentThreadId());
        MainWindowTest::SetUp();
        UnhookWindowsHookEx(hook);
    }
    HHOOK hook = nullptr;
};

TEST_F(MainWindowLayout, MainWindowHasItsClassPositionSizeAndStyle)
{
    WNDCLASSW info = {};
    ASSERT_TRUE(GetClassInfoW(GetModuleHandleW(nullptr), L"window", &info));
    EXPECT_EQ(info.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW));
    EXPECT_EQ(info.lpfnWndProc, MainWndProc);
    EXPECT_EQ(info.cbClsExtra, 0);
    EXPECT_EQ(info.cbWndExtra, 0);
    EXPECT_NE(info.hIcon, nullptr);
    EXPECT_EQ(info.hCursor, LoadCursorW(nullptr, IDC_ARROW));
    EXPECT_EQ(BrushColour(info.hbrBackground), RGB(100, 3, 6));
    EXPECT_EQ(info.lpszMenuName, nullptr);

    RECT outer;
    GetWindowRect(window, &outer);
    EXPECT_EQ(outer.left, 200);
    EXPECT_EQ(outer.top, 100);
    EXPECT_EQ(outer.right - outer.left, 700);
    EXPECT_EQ(outer.bottom - outer.top, 500);
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 698);
    EXPECT_EQ(client.bottom, 498);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)) & ~WS_CLIPSIBLINGS,
              0x80820000u | WS_VISIBLE);
    EXPECT_EQ(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES, WS_EX_ACCEPTFILES);
    EXPECT_EQ(Text(window), L"Register and uninstall");
}

TEST_F(MainWindowLayout, ChildrenHaveTheirClassTextStyleAndRectangle)
{
    struct Expected {
        const char* name;
        HWND handle;
        const wchar_t* className;
        const wchar_t* text;
        DWORD style;
        RECT rect;
    } children[] = {
        {"title bar", titleBar, L"TitleBar", L"", 0x50000000, {0, 0, 698, 85}},
        {"PathEdit", PathEdit, L"Edit", L"", 0x50000000, {236, 180, 606, 200}},
        {"InfoEdit", InfoEdit, L"Edit", L"", 0x50200004, {236, 220, 606, 420}},
        {"ControlList", ControlList, L"ListBox", L"", 0x50A00001, {90, 220, 470, 460}},
        {"QueryButton", QueryButton, L"Button", L"查询安装", 0x5000000B, {500, 220, 600, 270}},
        {"UninstallAllButton", UninstallAllButton, L"Button", L"卸载全部", 0x5000000B,
         {500, 290, 600, 340}},
    };
    for (const Expected& child : children) {
        SCOPED_TRACE(child.name);
        ASSERT_NE(child.handle, nullptr);
        EXPECT_EQ(GetParent(child.handle), window);
        EXPECT_EQ(_wcsicmp(ClassName(child.handle).c_str(), child.className), 0)
            << "class " << ClassName(child.handle).size();
        EXPECT_EQ(Text(child.handle), child.text);
        const Creation* creation = CreationOf(child.handle);
        ASSERT_NE(creation, nullptr);
        EXPECT_EQ(creation->style, child.style);
        EXPECT_EQ(creation->exStyle, 0u);
        EXPECT_EQ(creation->menu, nullptr) << "no control identifier";
        EXPECT_TRUE(EqualRect(&creation->rect, &child.rect));
        // The list box trims its height to whole 30-pixel entries; the rest stands as made.
        RECT r = RectInParent(child.handle);
        EXPECT_EQ(r.left, child.rect.left);
        EXPECT_EQ(r.top, child.rect.top);
        EXPECT_EQ(r.right, child.rect.right);
        if (child.handle != ControlList) {
            EXPECT_EQ(r.bottom, child.rect.bottom);
        }
    }
    EXPECT_EQ(SendMessageW(ControlList, LB_GETITEMHEIGHT, 0, 0), 30);

    // Creation order: the window, the title bar with its two buttons, then the five controls.
    HWND order[] = {window, titleBar, CloseButton, MinimizeButton, PathEdit, InfoEdit,
                    ControlList, QueryButton, UninstallAllButton};
    const Creation* previous = nullptr;
    for (HWND made : order) {
        const Creation* creation = CreationOf(made);
        ASSERT_NE(creation, nullptr);
        if (previous) {
            EXPECT_LT(previous, creation) << "made out of order";
        }
        previous = creation;
    }
}

TEST_F(MainWindowLayout, TitleBarClassAndItsBitmapButtons)
{
    WNDCLASSEXW info = {};
    info.cbSize = sizeof info;
    ASSERT_TRUE(GetClassInfoExW(GetModuleHandleW(nullptr), L"TitleBar", &info));
    EXPECT_EQ(info.style, 0u);
    EXPECT_EQ(info.lpfnWndProc, TitleBarWndProc);
    EXPECT_EQ(info.hIcon, nullptr);
    EXPECT_EQ(info.hCursor, LoadCursorW(nullptr, IDC_ARROW));
    EXPECT_EQ(BrushColour(info.hbrBackground), RGB(126, 3, 6));

    struct Expected {
        const char* name;
        HWND handle;
        int x;
    } buttons[] = {{"CloseButton", CloseButton, 673}, {"MinimizeButton", MinimizeButton, 638}};
    for (const Expected& button : buttons) {
        SCOPED_TRACE(button.name);
        ASSERT_NE(button.handle, nullptr);
        EXPECT_EQ(GetParent(button.handle), titleBar);
        EXPECT_EQ(_wcsicmp(ClassName(button.handle).c_str(), L"Button"), 0);
        EXPECT_EQ(Text(button.handle), L"");
        const Creation* creation = CreationOf(button.handle);
        ASSERT_NE(creation, nullptr);
        EXPECT_EQ(creation->style, 0x5000008Bu);
        EXPECT_EQ(creation->exStyle, 0u);
        EXPECT_EQ(creation->menu, nullptr);
        RECT r = RectInParent(button.handle);
        EXPECT_EQ(r.left, button.x);
        EXPECT_EQ(r.top, 5);
        EXPECT_EQ(r.right - r.left, 16);
        EXPECT_EQ(r.bottom - r.top, 16);
    }
    // The title bar makes its close button before its minimise button.
    ASSERT_NE(CreationOf(CloseButton), nullptr);
    EXPECT_LT(CreationOf(CloseButton), CreationOf(MinimizeButton));
}

TEST_F(MainWindowLayout, ChildControlsAreGivenTheirFontsAndColours)
{
    struct Expected {
        const char* name;
        HWND control;
        UINT message;
        LONG fontHeight;
    } controls[] = {
        {"PathEdit", PathEdit, WM_CTLCOLOREDIT, 16},
        {"InfoEdit", InfoEdit, WM_CTLCOLOREDIT, 16},
        {"ControlList", ControlList, WM_CTLCOLORLISTBOX, 25},
        {"QueryButton", QueryButton, WM_CTLCOLORBTN, 14},
    };
    for (const Expected& c : controls) {
        SCOPED_TRACE(c.name);
        HDC dc = GetDC(c.control);
        HGDIOBJ before = GetCurrentObject(dc, OBJ_FONT);
        LRESULT brush = SendMessageW(window, c.message, reinterpret_cast<WPARAM>(dc),
                                     reinterpret_cast<LPARAM>(c.control));
        LOGFONTW font = {};
        GetObjectW(GetCurrentObject(dc, OBJ_FONT), sizeof font, &font);
        EXPECT_EQ(font.lfHeight, c.fontHeight);
        EXPECT_EQ(font.lfCharSet, GB2312_CHARSET);
        EXPECT_STREQ(font.lfFaceName, L"宋体");
        if (c.message == WM_CTLCOLOREDIT) {
            EXPECT_EQ(GetTextColor(dc), RGB(0, 0, 255));
            EXPECT_EQ(brush, 0);
        } else if (c.message == WM_CTLCOLORLISTBOX) {
            EXPECT_EQ(BrushColour(reinterpret_cast<HBRUSH>(brush)), RGB(255, 255, 255));
            EXPECT_EQ(GetBkMode(dc), TRANSPARENT);
        } else {
            EXPECT_EQ(brush, 0);
        }
        SelectObject(dc, before);
        ReleaseDC(c.control, dc);
    }
}
