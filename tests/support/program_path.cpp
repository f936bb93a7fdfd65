#include "tests/support/program_path.h"

#include <windows.h>

std::wstring BinFolder()
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

std::wstring ProgramPath()
{
    wchar_t chosen[MAX_PATH] = {};
    DWORD length = GetEnvironmentVariableW(L"PROGRAM_UNDER_TEST", chosen, MAX_PATH);
    if (length > 0 && length < MAX_PATH) return chosen;
    return BinFolder() + L"RegisterAndUninstall.exe";
}
