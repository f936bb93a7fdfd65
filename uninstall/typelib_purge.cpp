#include "uninstall/uninstall.h"
#include "system/system.h"

#include <cwchar>

#include <strsafe.h>

// Controls whose registered TypeLib GUID text differs in letter case from the key names
// below the roots: these positions are raised to upper case (code unit minus 32) before
// the comparison.
struct TypeLibCaseFix {
    const wchar_t* progIdStart;  // the ProgID's first seven characters, exact
    int positions[3];
    int count;
};
static const TypeLibCaseFix CaseFixes[] = {
    {L"ZEMA.Ka", {17, 18}, 2},
    {L"ZEMA.Lo", {16, 17, 18}, 3},
    {L"ZEMA.Mi", {16, 17, 18}, 3},
    {L"ZEMA.Pu", {16, 18}, 2},
};
constexpr size_t ProgIdStartChars = 7;
// Names are compared from here on: the second to fifth group and the closing brace.
constexpr size_t ComparedFrom = 10;
constexpr int TextUnits = 255;
constexpr int AnsiRootBytes = 255;
constexpr DWORD SubkeyNameUnits = 256;

// The platform's reserved OLE range (second to fifth groups 0000-0000-C000-000000000046:
// IUnknown, IDispatch, the standard OLE type library and their kin) and the zero GUID: a
// purge of their families would take keys that every program needs.
static bool IsReservedFamily(const wchar_t* guid)
{
    return _wcsicmp(guid + ComparedFrom, L"0000-0000-C000-000000000046}") == 0 ||
           wcscmp(guid, L"{00000000-0000-0000-0000-000000000000}") == 0;
}

static void ApplyCaseFix(const wchar_t* progId, wchar_t* guid, size_t guidLength)
{
    if (wcsnlen(progId, ProgIdStartChars) < ProgIdStartChars) return;
    for (const TypeLibCaseFix& fix : CaseFixes) {
        if (wcsncmp(progId, fix.progIdStart, ProgIdStartChars) != 0) continue;
        for (int i = 0; i < fix.count; ++i)
            if (static_cast<size_t>(fix.positions[i]) < guidLength) guid[fix.positions[i]] -= 32;
        return;
    }
}

// Opens the root through its ANSI form; false when it is empty or has no exact ANSI form.
static bool OpenRoot(const wchar_t* rootPath, HKEY* root)
{
    if (rootPath[0] == L'\0') return false;
    char ansi[AnsiRootBytes] = {};
    return ToSystemCodePageExactly(rootPath, ansi, AnsiRootBytes, GetACP()) &&
           RegOpenKeyExA(HKEY_CLASSES_ROOT, ansi, 0, KEY_READ, root) == ERROR_SUCCESS;
}

void PurgeTypeLibMatches(const wchar_t* progId, const wchar_t* typeLibGuid, const wchar_t* rootPath)
{
    // Only a GUID names a family; the text is checked as read, before the case fix.
    if (!IsRegistryGuid(typeLibGuid) || IsReservedFamily(typeLibGuid)) return;
    wchar_t guid[TextUnits] = {};
    StringCchCopyW(guid, TextUnits, typeLibGuid);  // 38 characters: it fits
    ApplyCaseFix(progId, guid, wcslen(guid));

    HKEY root;
    if (!OpenRoot(rootPath, &root)) return;
    for (DWORD index = 0;; ++index) {
        wchar_t name[SubkeyNameUnits];
        DWORD nameLength = SubkeyNameUnits;
        if (RegEnumKeyExW(root, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        if (nameLength <= ComparedFrom || wcscmp(name + ComparedFrom, guid + ComparedFrom) != 0)
            continue;
        wchar_t keyPath[TextUnits] = {};
        wchar_t tree[KeyTreePathUnits] = {};
        // A path that does not fit whole is skipped rather than cut.
        if (FAILED(StringCchCopyW(keyPath, TextUnits, rootPath)) ||
            FAILED(StringCchCatW(keyPath, TextUnits, L"\\")) ||
            FAILED(StringCchCatW(keyPath, TextUnits, name)) || CopyKeyPath(keyPath, tree) != S_OK)
            continue;
        // The index moves on after a deletion too, so the subkey that takes the deleted
        // one's place waits for the next pass.
        DeleteKeyTree(HKEY_CLASSES_ROOT, tree);
    }
    RegCloseKey(root);
}
