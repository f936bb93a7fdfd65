#include "tests/support/unix_link.h"

#include <windows.h>
#include <aclapi.h>

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

// Starts a Unix program, which Wine does when given its path on the drive that maps the
// Unix root; Wine does not let us wait for it, so the caller watches for its effect.
static bool StartUnix(const wchar_t* program, std::wstring command)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return false;
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return true;
}

// Waits up to 20 s until `path` exists or is gone, as `exists` asks.
static bool WaitUntil(const std::wstring& path, bool exists)
{
    for (int i = 0; i < 400; ++i, Sleep(50))
        if ((GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) == exists) return true;
    return false;
}

// The Unix path of `link`, its last component kept as it is (not followed).
static std::wstring UnixLinkPath(const std::wstring& link)
{
    size_t slash = link.find_last_of(L"\\/");
    std::wstring parent = UnixPath(link.substr(0, slash + 1));
    return parent.empty() ? parent : parent + L"/" + link.substr(slash + 1);
}

bool MakeUnixLink(const std::wstring& link, const std::wstring& target)
{
    std::wstring unixLink = UnixLinkPath(link), unixTarget = UnixPath(target);
    // (CreateSymbolicLinkW answers success under Wine but makes nothing.)
    return !unixLink.empty() && !unixTarget.empty() &&
           StartUnix(L"Z:\\bin\\ln", L"ln -s \"" + unixTarget + L"\" \"" + unixLink + L"\"") &&
           WaitUntil(link, true);
}

bool RemoveUnixLink(const std::wstring& link)
{
    std::wstring unixLink = UnixLinkPath(link);
    return !unixLink.empty() && StartUnix(L"Z:\\bin\\rm", L"rm -f \"" + unixLink + L"\"") && WaitUntil(link, false);
}

// True when the DACL of `path` lets Everyone write data.
static bool EveryoneMayWrite(const std::wstring& path)
{
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    bool writable = false;
    for (WORD i = 0; dacl && i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) continue;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        if (allowed->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && IsWellKnownSid(&allowed->SidStart, WinWorldSid) &&
            (allowed->Mask & FILE_WRITE_DATA))
            writable = true;
    }
    LocalFree(descriptor);
    return writable;
}

bool MakeWorldWritable(const std::wstring& path)
{
    std::wstring unixPath = UnixPath(path);
    if (unixPath.empty() || !StartUnix(L"Z:\\bin\\chmod", L"chmod o+w \"" + unixPath + L"\"")) return false;
    for (int i = 0; i < 400; ++i, Sleep(50))
        if (EveryoneMayWrite(path)) return true;
    return false;
}
