#include "tests/support/main_window_fixture.h"

void PumpMessages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void PumpFor(int milliseconds)
{
    DWORD start = GetTickCount();
    do {
        PumpMessages();
        GdiFlush();
        Sleep(5);
    } while (GetTickCount() - start < static_cast<DWORD>(milliseconds));
}

void MainWindowTest::SetUp()
{
    ActivePage = 1;
    window = CreateMainWindow(GetModuleHandleW(nullptr));
    ASSERT_NE(window, nullptr);
    titleBar = FindWindowExW(window, nullptr, L"TitleBar", nullptr);
    ASSERT_NE(titleBar, nullptr);
    SetForegroundWindow(window);
    PumpFor(50);
}

void MainWindowTest::TearDown()
{
    if (IsWindow(window)) DestroyWindow(window);
    // The window's destruction posts WM_QUIT; a later message box must not see it.
    MSG quit;
    while (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}

void MainWindowTest::ClickTitleBar(int x, int y)
{
    // A click that starts a move enters the platform's move loop, which ends
    // at the next button release: have that release waiting in the queue.
    PostMessageW(window, WM_LBUTTONUP, 0, 0);
    SendMessageW(titleBar, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
}

void MainWindowTest::ShowPage(int page)
{
    ClickTitleBar(page == 1 ? 40 : 120, 60);
    UpdateWindow(window);
    PumpMessages();
}

void MainWindowTest::DoubleClickOn(const std::wstring& entry)
{
    LRESULT index = SendMessageW(ControlList, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                 reinterpret_cast<LPARAM>(entry.c_str()));
    ASSERT_GE(index, 0);
    SendMessageW(ControlList, LB_SETCURSEL, index, 0);
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(0, LBN_DBLCLK), reinterpret_cast<LPARAM>(ControlList));
}
