#include "app/app.h"
#include "res/resource.h"

#ifndef WM_COPYGLOBALDATA
#define WM_COPYGLOBALDATA 0x0049
#endif

void AllowMessageThroughFilter(UINT message)
{
    HMODULE user32 = LoadLibraryW(L"user32.dll");
    if (!user32) return;
    using ChangeFilter = BOOL(WINAPI*)(UINT, DWORD);
    auto change = reinterpret_cast<ChangeFilter>(
        reinterpret_cast<void*>(GetProcAddress(user32, "ChangeWindowMessageFilter")));
    if (change) change(message, MSGFLT_ADD);
    FreeLibrary(user32);
}

HWND CreateMainWindow(HINSTANCE instance)
{
    // Lets files dropped from the non-elevated shell reach the elevated window.
    AllowMessageThroughFilter(WM_DROPFILES);
    AllowMessageThroughFilter(WM_COPYGLOBALDATA);

    WNDCLASSW mainClass = {};
    mainClass.style = CS_HREDRAW | CS_VREDRAW;
    mainClass.lpfnWndProc = MainWndProc;
    mainClass.hInstance = instance;
    mainClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP));
    mainClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    mainClass.hbrBackground = CreateSolidBrush(PageColor);
    mainClass.lpszClassName = L"window";
    RegisterClassW(&mainClass);
    RegisterTitleBarClass();

    HWND window = CreateWindowExW(WS_EX_ACCEPTFILES, L"window", L"Register and uninstall",
                                  WS_POPUP | WS_BORDER | WS_MINIMIZEBOX, 200, 100, 700, 500,
                                  nullptr, nullptr, instance, nullptr);
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    return window;
}

int RunApplication(HINSTANCE instance)
{
    CreateMainWindow(instance);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
