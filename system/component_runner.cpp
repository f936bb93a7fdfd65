// Registers and unregisters a control file by running the system's regsvr32 silently
// through the command interpreter.
#include "system/system.h"

#include <strsafe.h>

// Room for the interpreter's own path, quoted, "/d /c" and the longest command line.
constexpr size_t InterpreterLineCapacity = MAX_PATH + 1100;

// Runs `command` through the system directory's cmd.exe, never one that COMSPEC, the
// current folder or PATH would name: those come from the user's side of an elevated run.
// "/d" keeps out the AutoRun command that the user's own registry keys may hold. The
// child inherits handles and shows its console as usual, starts in the system directory
// and is waited for without a time-out.
int RunCommandInterpreter(const wchar_t* command)
{
    wchar_t systemDirectory[MAX_PATH] = {};
    UINT length = GetSystemDirectoryW(systemDirectory, MAX_PATH);
    wchar_t interpreter[MAX_PATH] = {};
    wchar_t line[InterpreterLineCapacity] = {};
    if (length == 0 || length >= MAX_PATH ||
        FAILED(StringCchPrintfW(interpreter, MAX_PATH, L"%s\\cmd.exe", systemDirectory)) ||
        FAILED(StringCchPrintfW(line, InterpreterLineCapacity, L"\"%s\" /d /c %s", interpreter, command)))
        return -1;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(interpreter, line, nullptr, nullptr, TRUE, 0, nullptr, systemDirectory,
                        &startup, &process))
        return -1;
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = static_cast<DWORD>(-1);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

// True when the interpreter passes `path` between quotation marks to regsvr32 unchanged
// and as one argument. It expands %NAME% even inside quotation marks, a quotation mark
// would end the quoted argument, and a control character could end the command line.
static bool PathSurvivesInterpreter(const wchar_t* path)
{
    for (const wchar_t* c = path; *c; ++c)
        if (*c == L'"' || *c < 0x20 || *c == L'%') return false;
    return true;
}

// Composes system directory + `switches` + quoted path; false when it does not fit.
static bool ComposeCommand(wchar_t* line, size_t capacity, const wchar_t* systemDirectory,
                           const wchar_t* switches, const wchar_t* path)
{
    return SUCCEEDED(StringCchCopyW(line, capacity, systemDirectory)) &&
           SUCCEEDED(StringCchCatW(line, capacity, switches)) &&
           SUCCEEDED(StringCchCatW(line, capacity, path)) &&
           SUCCEEDED(StringCchCatW(line, capacity, L"\""));
}

bool RegisterComponentFile(const wchar_t* path)
{
    // A dropped or unpacked file name is a name, never a command to be expanded.
    if (!PathSurvivesInterpreter(path)) return false;
    wchar_t systemDirectory[500] = {};
    GetSystemDirectoryW(systemDirectory, 500);

    wchar_t unregisterLine[500] = {};
    if (!ComposeCommand(unregisterLine, 500, systemDirectory, L"\\regsvr32.exe /u /s \"", path))
        return false;
    if (RunCommandInterpreter(unregisterLine) != 0) return false;

    wchar_t registerLine[1000] = {};
    if (!ComposeCommand(registerLine, 1000, systemDirectory, L"\\regsvr32.exe /s \"", path))
        return false;
    return RunCommandInterpreter(registerLine) == 0;
}

bool UnregisterComponentFile(const wchar_t* path)
{
    // The caller has already expanded the registry's %NAME% forms; what remains is a name.
    if (!PathSurvivesInterpreter(path)) return false;
    wchar_t systemDirectory[260] = {};
    GetSystemDirectoryW(systemDirectory, 260);

    wchar_t unregisterLine[500] = {};
    if (!ComposeCommand(unregisterLine, 500, systemDirectory, L"\\regsvr32.exe /u /s \"", path))
        return false;
    return RunCommandInterpreter(unregisterLine) == 0;
}
