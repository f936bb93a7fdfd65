#include "app/app.h"
#include "res/resource.h"

#ifndef WM_COPYGLOBALDATA
#define WM_COPYGLOBALDATA 0x0049
#endif

// The filter's actions, as the headers of Windows 7 and Vista name them.
constexpr DWORD FilterAllow = 1;  // MSGFLT_ALLOW
constexpr DWORD FilterAdd = 1;    // MSGFLT_ADD

void AllowMessageThroughFilter(HWND window, UINT message)
{
    // Looked up: XP and Server 2003 have no filter, Vista only the process-wide one.
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (!user32) return;
    using ChangeWindowFilter = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
    using ChangeProcessFilter = BOOL(WINAPI*)(UINT, DWORD);
    auto changeWindow = reinterpret_cast<ChangeWindowFilter>(
        reinterpret_cast<void*>(GetProcAddress(user32, "ChangeWindowMessageFilterEx")));
    auto changeProcess = reinterpret_cast<ChangeProcessFilter>(
        reinterpret_cast<void*>(GetProcAddress(user32, "ChangeWindowMessageFilter")));
    if (changeWindow)
        changeWindow(window, message, FilterAllow, nullptr);
    else if (changeProcess)
        changeProcess(message, FilterAdd);
}

HWND CreateMainWindow(HINSTANCE instance)
{
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
    // Lets files dropped from the non-elevated shell reach the elevated window, and no
    // other window of the process.
    AllowMessageThroughFilter(window, WM_DROPFILES);
    AllowMessageThroughFilter(window, WM_COPYGLOBALDATA);
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
