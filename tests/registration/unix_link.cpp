#include "tests/registration/unix_link.h"

#include <windows.h>

// The Unix path of a Windows path, through Wine's own conversion.
static std::wstring UnixPath(const std::wstring& path)
{
    using Convert = char*(CDECL*)(const wchar_t*);
    auto convert = reinterpret_cast<Convert>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* unix = convert ? convert(path.c_str()) : nullptr;
    if (!unix) return L"";
    wchar_t wide[MAX_PATH * 4] = {};
    MultiByteToWideChar(CP_UTF8, 0, unix, -1, wide, MAX_PATH * 4);
    HeapFree(GetProcessHeap(), 0, unix);
    return wide;
}

bool MakeUnixLink(const std::wstring& link, const std::wstring& target)
{
    size_t slash = link.find_last_of(L"\\/");
    std::wstring parent = UnixPath(link.substr(0, slash));
    std::wstring unixTarget = UnixPath(target);
    if (parent.empty() || unixTarget.empty()) return false;
    // Wine starts a Unix program given by its path on the drive that maps the Unix root.
    // (CreateSymbolicLinkW answers success there but makes nothing.)
    std::wstring command = L"ln -s \"" + unixTarget + L"\" \"" + parent + L"/" + link.substr(slash + 1) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(L"Z:\\bin\\ln", &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return false;
    WaitForSingleObject(process.hProcess, 30000);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(link.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return true;
}
