// Dragging the title bar with the real mouse moves the whole window.
#include "tests/support/main_window_fixture.h"

#include <thread>

namespace {
void MouseTo(int x, int y, DWORD flags)
{
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = x * 65536 / GetSystemMetrics(SM_CXSCREEN);
    input.mi.dy = y * 65536 / GetSystemMetrics(SM_CYSCREEN);
    input.mi.dwFlags = MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE | flags;
    SendInput(1, &input, sizeof input);
}
}  // namespace

using TitleBarDrag = MainWindowTest;

TEST_F(TitleBarDrag, DraggingOutsideTheTabsMovesTheWindow)
{
    POINT start = {400, 20};
    ClientToScreen(titleBar, &start);
    // The platform's move loop runs on this thread; the mouse is driven from another.
    std::thread mouse([start] {
        Sleep(300);
        MouseTo(start.x, start.y, 0);
        Sleep(200);
        MouseTo(start.x, start.y, MOUSEEVENTF_LEFTDOWN);
        for (int step = 1; step <= 10; ++step) {
            Sleep(60);
            MouseTo(start.x + 5 * step, start.y + 3 * step, 0);
        }
        Sleep(200);
        MouseTo(start.x + 50, start.y + 30, MOUSEEVENTF_LEFTUP);
    });
    PumpFor(2500);
    mouse.join();
    PumpFor(200);
    RECT moved;
    GetWindowRect(window, &moved);
    EXPECT_EQ(moved.left, 250);
    EXPECT_EQ(moved.top, 130);
    EXPECT_EQ(moved.right - moved.left, 700);
}
