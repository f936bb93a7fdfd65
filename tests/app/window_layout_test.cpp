#include "tests/support/main_window_fixture.h"

#include <string>

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
}  // namespace

using MainWindowLayout = MainWindowTest;

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
    LOGBRUSH brush = {};
    ASSERT_EQ(GetObjectW(info.hbrBackground, sizeof brush, &brush), static_cast<int>(sizeof brush));
    EXPECT_EQ(brush.lbColor, RGB(100, 3, 6));

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
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)) & ~(WS_VISIBLE | WS_CLIPSIBLINGS),
              0x80820000u);
    EXPECT_TRUE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
    EXPECT_EQ(Text(window), L"Register and uninstall");
}
