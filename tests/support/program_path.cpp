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
    return BinFolder() + L"RegisterAndUninstall.exe";
}
