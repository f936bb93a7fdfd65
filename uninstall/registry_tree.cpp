#include "uninstall/uninstall.h"

#include <strsafe.h>

// Enumeration room for a subkey name while a tree is deleted.
constexpr DWORD SubkeyNameUnits = 260;

HRESULT CopyKeyPath(const wchar_t* source, wchar_t* destination)
{
    return StringCchCopyW(destination, CopyKeyPathUnits, source);
}

// DeleteKeyTree without the backup, for the subkeys of a tree that has been saved whole.
static int DeleteTree(HKEY root, wchar_t (&path)[KeyTreePathUnits])
{
    size_t length = 0;
    // An empty path, or one that starts with "\", would name the root itself.
    if (FAILED(StringCchLengthW(path, KeyTreePathUnits, &length)) || length == 0 || path[0] == L'\\')
        return 0;
    if (RegDeleteKeyW(root, path) == ERROR_SUCCESS) return 1;
    HKEY key;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;

    size_t append = length;
    if (path[length - 1] != L'\\' && length + 1 < KeyTreePathUnits) {
        path[append++] = L'\\';
        path[append] = L'\0';
    }
    // Without room for the backslash the subkeys cannot be named; the delete below then fails.
    if (path[append - 1] == L'\\') {
        for (;;) {
            wchar_t name[SubkeyNameUnits];
            DWORD nameLength = SubkeyNameUnits;
            FILETIME written;
            if (RegEnumKeyExW(key, 0, name, &nameLength, nullptr, nullptr, nullptr, &written) !=
                ERROR_SUCCESS)
                break;
            // A subkey whose path would not fit whole stays, like one that resists: a cut
            // path would name a different key.
            if (nameLength == 0 || append + nameLength >= KeyTreePathUnits) break;
            CopyKeyPath(name, path + append);
            if (!DeleteTree(root, path)) break;
        }
        path[append - 1] = L'\0';
    }
    RegCloseKey(key);
    return RegDeleteKeyW(root, path) == ERROR_SUCCESS ? 1 : 0;
}

int DeleteKeyTree(HKEY root, wchar_t (&path)[KeyTreePathUnits])
{
    // Nothing is deleted that the running uninstall's backup does not hold.
    if (!BackupKeyTree(root, path)) return 0;
    return DeleteTree(root, path);
}

int DeleteClassesRootTree(const wchar_t* path)
{
    wchar_t tree[KeyTreePathUnits] = {};
    if (CopyKeyPath(path, tree) != S_OK) return 0;
    return DeleteKeyTree(HKEY_CLASSES_ROOT, tree);
}

void ReadClassesRootDefault(const wchar_t* path, wchar_t (&text)[DefaultValueUnits])
{
    ZeroMemory(text, sizeof text);
    HKEY key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    LONG room = sizeof text;
    LONG result = RegQueryValueW(key, nullptr, text, &room);
    RegCloseKey(key);
    // A value that filled the whole buffer has no terminator in it: it is too long, and a
    // cut value could name a different key.
    if (result != ERROR_SUCCESS || text[DefaultValueUnits - 1] != L'\0') ZeroMemory(text, sizeof text);
}
