// Registers and unregisters a control file by running the system's regsvr32 silently
// through the command interpreter.
#include "registration/registration.h"

#include <strsafe.h>

// Room for the interpreter's own path, quoted, "/c" and the longest command line.
constexpr size_t InterpreterLineCapacity = MAX_PATH + 1100;
constexpr DWORD SearchPathCapacity = 32767;

// Starts `interpreter` with "/c" and `command`, inheriting handles and showing its console
// as usual, and waits for it without a time-out. False when it could not be started.
static bool RunInterpreter(const wchar_t* interpreter, const wchar_t* command, int* exitCode)
{
    wchar_t line[InterpreterLineCapacity] = {};
    if (FAILED(StringCchPrintfW(line, InterpreterLineCapacity, L"\"%s\" /c %s", interpreter, command)))
        return false;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(interpreter, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process))
        return false;
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = static_cast<DWORD>(-1);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    *exitCode = static_cast<int>(code);
    return true;
}

// Tries "<folder>\cmd.exe"; false when the folder is empty, too long or holds no interpreter.
static bool RunCmdIn(const wchar_t* folder, size_t folderLength, const wchar_t* command, int* exitCode)
{
    wchar_t candidate[MAX_PATH] = {};
    if (folderLength == 0 ||
        FAILED(StringCchCopyNW(candidate, MAX_PATH, folder, folderLength)) ||
        (candidate[folderLength - 1] != L'\\' && candidate[folderLength - 1] != L'/' &&
         FAILED(StringCchCatW(candidate, MAX_PATH, L"\\"))) ||
        FAILED(StringCchCatW(candidate, MAX_PATH, L"cmd.exe")))
        return false;
    return RunInterpreter(candidate, command, exitCode);
}

// The wide `system` as the registration relies on it (Wine's own gives up when COMSPEC
// names a missing program): the interpreter from COMSPEC, else cmd.exe from the current
// folder and then from each folder of PATH.
int RunCommandInterpreter(const wchar_t* command)
{
    int exitCode = -1;
    wchar_t comspec[MAX_PATH] = {};
    DWORD length = GetEnvironmentVariableW(L"COMSPEC", comspec, MAX_PATH);
    if (length > 0 && length < MAX_PATH && RunInterpreter(comspec, command, &exitCode))
        return exitCode;

    wchar_t current[MAX_PATH] = {};
    length = GetCurrentDirectoryW(MAX_PATH, current);
    if (length > 0 && length < MAX_PATH && RunCmdIn(current, length, command, &exitCode))
        return exitCode;

    static wchar_t searchPath[SearchPathCapacity];
    searchPath[0] = L'\0';
    length = GetEnvironmentVariableW(L"PATH", searchPath, SearchPathCapacity);
    if (length == 0 || length >= SearchPathCapacity) return -1;
    for (const wchar_t* folder = searchPath; *folder;) {
        const wchar_t* end = wcschr(folder, L';');
        size_t folderLength = end ? static_cast<size_t>(end - folder) : wcslen(folder);
        if (RunCmdIn(folder, folderLength, command, &exitCode)) return exitCode;
        folder += folderLength + (end ? 1 : 0);
    }
    return -1;
}

// True when the interpreter passes `path` between quotation marks to regsvr32 unchanged
// and as one argument. It expands %NAME% even inside quotation marks, a quotation mark
// would end the quoted argument, and a control character could end the command line.
static bool PathSurvivesInterpreter(const wchar_t* path, bool allowExpansion)
{
    for (const wchar_t* c = path; *c; ++c)
        if (*c == L'"' || *c < 0x20 || (*c == L'%' && !allowExpansion)) return false;
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
    if (!PathSurvivesInterpreter(path, false)) return false;
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
    // The server path comes from the registry, where it may name %SystemRoot% and the like;
    // the interpreter expands those, as the registration itself intends.
    if (!PathSurvivesInterpreter(path, true)) return false;
    wchar_t systemDirectory[260] = {};
    GetSystemDirectoryW(systemDirectory, 260);

    wchar_t unregisterLine[500] = {};
    if (!ComposeCommand(unregisterLine, 500, systemDirectory, L"\\regsvr32.exe /u /s \"", path))
        return false;
    return RunCommandInterpreter(unregisterLine) == 0;
}
