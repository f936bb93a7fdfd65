// Registry access of an uninstall, below HKEY_LOCAL_MACHINE\Software\Classes: keys opened
// one name at a time and never through a registry link, their stored names, and the
// deletion of a key tree by the handles that were checked.
#include "uninstall/uninstall.h"

#include <cwchar>
#include <initializer_list>

#include <strsafe.h>

// Enumeration room for a subkey name: the registry's longest name and the terminator.
constexpr DWORD SubkeyNameUnits = 256;
// A tree saved whole names every key within 521 characters, so no deeper one is deleted.
constexpr int MostTreeDepth = KeyTreePathUnits / 2;
const wchar_t MachinePrefix[] = L"\\REGISTRY\\MACHINE\\";
constexpr size_t MachinePrefixChars = 18;

HRESULT CopyKeyPath(const wchar_t* source, wchar_t* destination)
{
    return StringCchCopyW(destination, CopyKeyPathUnits, source);
}

LONG OpenClassesRoot(REGSAM view, REGSAM access, HKEY* root)
{
    // The machine's registrations, never the merged HKEY_CLASSES_ROOT. The key is the
    // platform's own, opened as the platform lays it out: in the 32-bit view of some
    // versions of 64-bit Windows it is itself a link that the platform made.
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes", 0, access | view, root);
}

bool IsRegistryLink(HKEY key)
{
    DWORD type = REG_NONE;
    return RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
           type == REG_LINK;
}

bool IsContainerName(const wchar_t* name)
{
    for (const wchar_t* container : {L"Wow6432Node", L"CLSID", L"Interface", L"TypeLib", L"AppID"})
        if (_wcsicmp(name, container) == 0) return true;
    return false;
}

LONG OpenKeyWithoutLinks(HKEY root, REGSAM view, const wchar_t* path, REGSAM access, HKEY* key)
{
    size_t length = 0;
    if (FAILED(StringCchLengthW(path, KeyTreePathUnits, &length)) || length == 0) return ERROR_INVALID_PARAMETER;
    HKEY parent = root;
    const wchar_t* name = path;
    bool containers = true;
    for (;;) {
        const wchar_t* end = wcschr(name, L'\\');
        size_t nameLength = end ? static_cast<size_t>(end - name) : wcslen(name);
        wchar_t component[SubkeyNameUnits] = {};
        LONG result = nameLength == 0 || nameLength >= SubkeyNameUnits ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
        HKEY child = nullptr;
        if (result == ERROR_SUCCESS) {
            StringCchCopyNW(component, SubkeyNameUnits, name, nameLength);
            // The platform's containers in front are opened as it lays them out: on 64-bit
            // Windows the 32-bit view reaches some of them through links of its own.
            containers = containers && end && IsContainerName(component);
            // The link check reads a value: every key on the way is opened for that.
            result = RegOpenKeyExW(parent, component, containers ? 0 : REG_OPTION_OPEN_LINK,
                                   (end ? 0 : access) | KEY_QUERY_VALUE | view, &child);
        }
        if (result == ERROR_SUCCESS && !containers && IsRegistryLink(child)) {
            RegCloseKey(child);
            result = ERROR_CANT_RESOLVE_FILENAME;
        }
        if (parent != root) RegCloseKey(parent);
        if (result != ERROR_SUCCESS) return result;
        if (!end) {
            *key = child;
            return ERROR_SUCCESS;
        }
        parent = child;
        name = end + 1;
    }
}

bool IsWritableName(const wchar_t* name, DWORD length)
{
    for (DWORD i = 0; i < length; ++i)
        if (name[i] == L'\0' || name[i] == L'\r' || name[i] == L'\n') return false;
    return true;
}

bool StoredKeyName(HKEY key, wchar_t* name, size_t room)
{
    using NtQueryKeyFunction = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    const int KeyNameInformation = 3;
    // Looked up at run time: the platform exports it from ntdll without a library to link.
    auto queryKey = reinterpret_cast<NtQueryKeyFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll"), "NtQueryKey")));
    static struct {
        ULONG bytes;
        wchar_t name[StoredNameUnits];
    } info;
    ULONG needed = 0;
    if (!queryKey || queryKey(key, KeyNameInformation, &info, sizeof info, &needed) != 0 ||
        info.bytes > sizeof info.name)
        return false;
    DWORD length = info.bytes / sizeof(wchar_t);
    if (length <= MachinePrefixChars || _wcsnicmp(info.name, MachinePrefix, MachinePrefixChars) != 0 ||
        !IsWritableName(info.name, length))
        return false;
    return SUCCEEDED(StringCchCopyW(name, room, L"HKEY_LOCAL_MACHINE\\")) &&
           SUCCEEDED(StringCchCatNW(name, room, info.name + MachinePrefixChars, length - MachinePrefixChars));
}

// Deletes the open key itself: the handle names what was checked, whatever its name
// leads to by now, and in whichever view it was opened.
static bool DeleteOpenKey(HKEY key)
{
    using NtDeleteKeyFunction = LONG(WINAPI*)(HANDLE);
    auto deleteKey = reinterpret_cast<NtDeleteKeyFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll"), "NtDeleteKey")));
    return deleteKey && deleteKey(key) == 0;
}

// Deletes everything below the open key, then the key. A subkey that resists, a link or
// a name that is not its own text stops the loop at once: the keys above it stay.
static bool DeleteOpenTree(HKEY key, REGSAM view, int depth)
{
    if (depth > MostTreeDepth) return false;
    for (;;) {
        wchar_t name[SubkeyNameUnits];
        DWORD nameLength = SubkeyNameUnits;
        if (RegEnumKeyExW(key, 0, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        HKEY child;
        if (!IsWritableName(name, nameLength) ||
            RegOpenKeyExW(key, name, REG_OPTION_OPEN_LINK, KEY_READ | DELETE | view, &child) != ERROR_SUCCESS)
            return false;
        bool gone = !IsRegistryLink(child) && DeleteOpenTree(child, view, depth + 1);
        RegCloseKey(child);
        if (!gone) return false;
    }
    return DeleteOpenKey(key);
}

int DeleteKeyTree(HKEY root, REGSAM view, wchar_t (&path)[KeyTreePathUnits])
{
    size_t length = 0;
    // An empty path, or one that starts with "\", would name the root itself.
    if (FAILED(StringCchLengthW(path, KeyTreePathUnits, &length)) || length == 0 || path[0] == L'\\') return 0;
    if (path[length - 1] == L'\\') path[--length] = L'\0';
    HKEY key;
    if (length == 0 || OpenKeyWithoutLinks(root, view, path, KEY_READ | DELETE, &key) != ERROR_SUCCESS) return 0;
    bool deleted = DeleteOpenTree(key, view, 0);
    RegCloseKey(key);
    return deleted ? 1 : 0;
}

void ReadClassesRootDefault(const wchar_t* path, wchar_t (&text)[DefaultValueUnits], REGSAM view)
{
    ZeroMemory(text, sizeof text);
    HKEY root, key;
    if (OpenClassesRoot(view, KEY_READ, &root) != ERROR_SUCCESS) return;
    LONG opened = RegOpenKeyExW(root, path, REG_OPTION_OPEN_LINK, KEY_READ | view, &key);
    RegCloseKey(root);
    if (opened != ERROR_SUCCESS) return;
    LONG room = sizeof text;
    LONG result = RegQueryValueW(key, nullptr, text, &room);
    RegCloseKey(key);
    // A value that filled the whole buffer has no terminator in it: it is too long, and a
    // cut value could name a different key.
    if (result != ERROR_SUCCESS || text[DefaultValueUnits - 1] != L'\0') ZeroMemory(text, sizeof text);
}
