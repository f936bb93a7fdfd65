#pragma once
// Application shell: what the other subsystems and the tests may use.
#include "registration/registration.h"
#include "uninstall/uninstall.h"

#include <windows.h>

// 1 = Register page (start), any other value (2) = Uninstall page.
extern int ActivePage;

// Child windows, set once when created (PathEdit and InfoEdit are declared by the
// registration subsystem, ControlList by the uninstall subsystem, which write to them).
extern HWND QueryButton;
extern HWND UninstallAllButton;
extern HWND CloseButton;
extern HWND MinimizeButton;

constexpr COLORREF PageColor = RGB(100, 3, 6);
constexpr COLORREF TitleBarColor = RGB(126, 3, 6);

// Registers the classes, creates, shows and paints the main window; no loop.
HWND CreateMainWindow(HINSTANCE instance);
// CreateMainWindow followed by the message loop; returns the exit code.
int RunApplication(HINSTANCE instance);
// Lets `message` reach `window` from processes of lower privilege: through the window's own
// filter where the platform has one, else through the process's, else not at all.
void AllowMessageThroughFilter(HWND window, UINT message);

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK TitleBarWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int RegisterTitleBarClass();

// One line of white KaiTi text, height 20, transparent background.
void DrawLabelText(HDC dc, int x, int y, const wchar_t* text);
