// The built program as a process of its own: it opens its window, whatever show
// command it was started with, and ends with exit code 0 when closed.
#include "tests/support/program_path.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace {
struct Running {
    PROCESS_INFORMATION process = {};
    HWND window = nullptr;
};

struct FindByProcess {
    DWORD id;
    HWND found;
};

BOOL CALLBACK MatchMainWindow(HWND window, LPARAM search)
{
    auto* find = reinterpret_cast<FindByProcess*>(search);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t name[32] = {};
    GetClassNameW(window, name, 32);
    if (owner == find->id && lstrcmpW(name, L"window") == 0 && IsWindowVisible(window)) {
        find->found = window;
        return FALSE;
    }
    return TRUE;
}

Running Start(WORD showCommand)
{
    Running run;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = showCommand;
    std::wstring path = ProgramPath();
    std::wstring commandLine = L"\"" + path + L"\"";
    if (!CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &run.process))
        return run;
    WaitForInputIdle(run.process.hProcess, 20000);
    for (int tries = 0; tries < 400 && !run.window; ++tries) {
        FindByProcess find = {run.process.dwProcessId, nullptr};
        EnumWindows(MatchMainWindow, reinterpret_cast<LPARAM>(&find));
        run.window = find.found;
        if (!run.window) Sleep(50);
    }
    return run;
}

HWND TitleBarButton(HWND window, bool close)
{
    HWND titleBar = FindWindowExW(window, nullptr, L"TitleBar", nullptr);
    HWND first = FindWindowExW(titleBar, nullptr, L"Button", nullptr);
    return close ? first : FindWindowExW(titleBar, first, L"Button", nullptr);
}

DWORD EndWithCloseButton(Running& run)
{
    SendMessageW(TitleBarButton(run.window, true), BM_CLICK, 0, 0);
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(run.process.hProcess, 20000) == WAIT_OBJECT_0)
        GetExitCodeProcess(run.process.hProcess, &code);
    CloseHandle(run.process.hThread);
    CloseHandle(run.process.hProcess);
    return code;
}
}  // namespace

TEST(ProgramProcess, OpensNormallyWhateverTheShowCommandAndExitsWithZero)
{
    struct Case {
        const char* name;
        WORD show;
    } cases[] = {{"normal", SW_SHOWNORMAL}, {"minimised", SW_SHOWMINIMIZED}, {"hidden", SW_HIDE}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Running run = Start(c.show);
        ASSERT_NE(run.process.hProcess, nullptr) << "cannot start " << GetLastError();
        ASSERT_NE(run.window, nullptr) << "no visible main window";
        EXPECT_FALSE(IsIconic(run.window));
        RECT r;
        GetWindowRect(run.window, &r);
        EXPECT_EQ(r.left, 200);
        EXPECT_EQ(r.top, 100);
        EXPECT_EQ(r.right - r.left, 700);
        EXPECT_EQ(r.bottom - r.top, 500);
        EXPECT_EQ(EndWithCloseButton(run), 0u);
    }
}

TEST(ProgramProcess, MinimiseButtonMinimisesTheWindow)
{
    Running run = Start(SW_SHOWNORMAL);
    ASSERT_NE(run.window, nullptr);
    SendMessageW(TitleBarButton(run.window, false), BM_CLICK, 0, 0);
    EXPECT_TRUE(IsIconic(run.window));
    EXPECT_EQ(EndWithCloseButton(run), 0u);
}
