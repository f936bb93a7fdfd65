// Registers and unregisters a control file by running the system's regsvr32 silently.
#include "system/system.h"

#include <strsafe.h>

// Room of the machine's environment block given to regsvr32.
constexpr size_t EnvironmentUnits = 32768;
static wchar_t Environment[EnvironmentUnits];

// True when `path` can be passed between quotation marks as one argument, unchanged: a
// quotation mark would end it, a backslash before the closing one would escape it, and
// no file name holds a control character.
static bool IsPlainFileName(const wchar_t* path)
{
    size_t length = wcslen(path);
    if (length > 0 && path[length - 1] == L'\\') return false;
    for (const wchar_t* c = path; *c; ++c)
        if (*c == L'"' || *c < 0x20) return false;
    return true;
}

// "X:\..." or "\\server\...", with either separator: a path that names the same file
// wherever the program or regsvr32 was started.
static bool IsAbsolute(const wchar_t* path)
{
    auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    bool drive = ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) && path[1] == L':' &&
                 separator(path[2]);
    return drive || (separator(path[0]) && separator(path[1]));
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

// Starts the system directory's regsvr32 itself with `line`: no command interpreter,
// whose COMSPEC, AutoRun and DelayedExpansion the user may set, and nothing found through
// the current folder or Path. It gets the machine's environment, starts in the system
// directory, inherits no handle, and is waited for without a time-out. Its exit code, or
// -1 when it could not be started.
static int RunRegsvr32(const wchar_t* systemDirectory, wchar_t* line)
{
    wchar_t program[MAX_PATH + 16] = {};
    if (FAILED(StringCchPrintfW(program, ARRAYSIZE(program), L"%s\\regsvr32.exe", systemDirectory)) ||
        !BuildMachineEnvironment(Environment, EnvironmentUnits))
        return -1;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program, line, nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT, Environment,
                        systemDirectory, &startup, &process))
        return -1;
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = static_cast<DWORD>(-1);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

bool RegisterComponentFile(const wchar_t* path)
{
    if (!IsPlainFileName(path)) return false;
    wchar_t systemDirectory[500] = {};
    GetSystemDirectoryW(systemDirectory, 500);

    wchar_t unregisterLine[500] = {};
    if (!ComposeCommand(unregisterLine, 500, systemDirectory, L"\\regsvr32.exe /u /s \"", path))
        return false;
    if (RunRegsvr32(systemDirectory, unregisterLine) != 0) return false;

    wchar_t registerLine[1000] = {};
    if (!ComposeCommand(registerLine, 1000, systemDirectory, L"\\regsvr32.exe /s \"", path))
        return false;
    return RunRegsvr32(systemDirectory, registerLine) == 0;
}

bool UnregisterComponentFile(const wchar_t* path)
{
    // The file run is the one checked, named in full ("." and ".." resolved).
    wchar_t full[500] = {};
    DWORD length = IsAbsolute(path) && IsPlainFileName(path) ? GetFullPathNameW(path, 500, full, nullptr) : 0;
    if (length == 0 || length >= 500) return false;
    wchar_t systemDirectory[260] = {};
    GetSystemDirectoryW(systemDirectory, 260);

    wchar_t unregisterLine[500] = {};
    if (!ComposeCommand(unregisterLine, 500, systemDirectory, L"\\regsvr32.exe /u /s \"", full)) return false;
    HANDLE server = HoldServerIfTrusted(full);
    if (server == INVALID_HANDLE_VALUE) return false;
    bool unregistered = RunRegsvr32(systemDirectory, unregisterLine) == 0;
    CloseHandle(server);
    return unregistered;
}
