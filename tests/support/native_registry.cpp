#include "tests/support/native_registry.h"

namespace {
struct CountedString {
    USHORT length;
    USHORT room;
    const wchar_t* buffer;
};
struct ObjectAttributes {
    ULONG length;
    HANDLE root;
    CountedString* name;
    ULONG attributes;
    void* security;
    void* quality;
};
using NtCreateKeyFunction = LONG(WINAPI*)(HANDLE*, ACCESS_MASK, ObjectAttributes*, ULONG, void*, ULONG, ULONG*);
using NtOpenKeyFunction = LONG(WINAPI*)(HANDLE*, ACCESS_MASK, ObjectAttributes*);
using NtSetValueKeyFunction = LONG(WINAPI*)(HANDLE, CountedString*, ULONG, ULONG, const void*, ULONG);
using NtDeleteKeyFunction = LONG(WINAPI*)(HANDLE);
const ULONG CaseInsensitive = 0x40;
const ULONG OpenLink = 0x100;

template <typename Function>
Function Native(const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll"), name)));
}

CountedString Counted(const std::wstring& text)
{
    USHORT bytes = static_cast<USHORT>(text.size() * sizeof(wchar_t));
    return {bytes, bytes, text.data()};
}

HANDLE OpenNative(HANDLE parent, REGSAM view, const std::wstring& name)
{
    CountedString counted = Counted(name);
    ObjectAttributes attributes = {sizeof attributes, parent, &counted, CaseInsensitive | OpenLink, nullptr, nullptr};
    HANDLE key = nullptr;
    if (Native<NtOpenKeyFunction>("NtOpenKey")(&key, KEY_ALL_ACCESS | view, &attributes) != 0) return nullptr;
    return key;
}
}  // namespace

bool CreateNativeKey(HKEY parent, const std::wstring& name, const std::wstring* linkTarget)
{
    CountedString counted = Counted(name);
    ObjectAttributes attributes = {sizeof attributes, parent, &counted, CaseInsensitive, nullptr, nullptr};
    HANDLE key = nullptr;
    ULONG disposition = 0;
    if (Native<NtCreateKeyFunction>("NtCreateKey")(&key, KEY_ALL_ACCESS, &attributes, 0, nullptr,
                                                    linkTarget ? REG_OPTION_CREATE_LINK : 0, &disposition) != 0)
        return false;
    bool made = !linkTarget || RegSetValueExW(static_cast<HKEY>(key), L"SymbolicLinkValue", 0, REG_LINK,
                                              reinterpret_cast<const BYTE*>(linkTarget->c_str()),
                                              static_cast<DWORD>(linkTarget->size() * sizeof(wchar_t))) == ERROR_SUCCESS;
    CloseHandle(key);
    return made;
}

void DeleteNativeTree(HKEY parent, REGSAM view, const std::wstring& name)
{
    HANDLE key = OpenNative(parent, view, name);
    if (!key) return;
    // The names below, counted, before any of them goes.
    for (;;) {
        wchar_t child[256];
        DWORD length = 256;
        if (RegEnumKeyExW(static_cast<HKEY>(key), 0, child, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        HANDLE before = OpenNative(key, view, std::wstring(child, length));
        if (!before) break;
        CloseHandle(before);
        DeleteNativeTree(static_cast<HKEY>(key), view, std::wstring(child, length));
        // A child that stays would be enumerated forever.
        HANDLE after = OpenNative(key, view, std::wstring(child, length));
        if (after) {
            CloseHandle(after);
            break;
        }
    }
    Native<NtDeleteKeyFunction>("NtDeleteKey")(key);
    CloseHandle(key);
}

bool SetNativeValue(HKEY key, const std::wstring& name, const std::wstring& data)
{
    CountedString counted = Counted(name);
    return Native<NtSetValueKeyFunction>("NtSetValueKey")(key, &counted, 0, REG_SZ, data.c_str(),
                                                           static_cast<ULONG>((data.size() + 1) * sizeof(wchar_t))) == 0;
}

bool IsLinkKey(HKEY root, const std::wstring& path)
{
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), REG_OPTION_OPEN_LINK, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD type = REG_NONE;
    bool link = RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
                type == REG_LINK;
    RegCloseKey(key);
    return link;
}

void DeleteClassesTreeIn(REGSAM view, const std::wstring& path)
{
    size_t last = path.find_last_of(L'\\');
    std::wstring parentPath = L"Software\\Classes" + (last == std::wstring::npos ? L"" : L"\\" + path.substr(0, last));
    HKEY parent;
    if (path.empty() ||
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, parentPath.c_str(), 0, KEY_ALL_ACCESS | view, &parent) != ERROR_SUCCESS)
        return;
    DeleteNativeTree(parent, view, path.substr(last == std::wstring::npos ? 0 : last + 1));
    RegCloseKey(parent);
}
