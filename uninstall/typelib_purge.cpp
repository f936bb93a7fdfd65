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

// Opens the root below `classes` (in `view`) through its ANSI form; false when it is
// empty or has no exact ANSI form. The roots are the platform's containers, opened as it
// lays them out; the keys planned below them are opened without following links.
static bool OpenRoot(HKEY classes, REGSAM view, const wchar_t* rootPath, HKEY* root)
{
    if (rootPath[0] == L'\0') return false;
    char ansi[AnsiRootBytes] = {};
    return ToSystemCodePageExactly(rootPath, ansi, AnsiRootBytes, GetACP()) &&
           RegOpenKeyExA(classes, ansi, 0, KEY_READ | view, root) == ERROR_SUCCESS;
}

void PurgeTypeLibMatches(const wchar_t* progId, const wchar_t* typeLibGuid, const wchar_t* rootPath, REGSAM view)
{
    // Only a GUID names a family; the text is checked as read, before the case fix.
    if (!IsRegistryGuid(typeLibGuid) || IsReservedFamily(typeLibGuid)) return;
    wchar_t guid[TextUnits] = {};
    StringCchCopyW(guid, TextUnits, typeLibGuid);  // 38 characters: it fits
    size_t guidLength = wcslen(guid);
    ApplyCaseFix(progId, guid, guidLength);

    HKEY classes, root;
    if (OpenClassesRoot(view, KEY_READ, &classes) != ERROR_SUCCESS) return;
    bool opened = OpenRoot(classes, view, rootPath, &root);
    RegCloseKey(classes);
    if (!opened) return;
    // A root seen through two paths ("Interface" and "Wow6432Node\Interface" of the
    // 32-bit view on 64-bit Windows) is enumerated once.
    static wchar_t rootName[StoredNameUnits];
    if (StoredKeyName(root, rootName, StoredNameUnits) && !FirstPurgeOfRoot(rootName)) {
        RegCloseKey(root);
        return;
    }
    // Every match is collected before anything is deleted, so none is stepped over.
    for (DWORD index = 0;; ++index) {
        wchar_t name[SubkeyNameUnits];
        DWORD nameLength = SubkeyNameUnits;
        if (RegEnumKeyExW(root, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        // Compared as counted: a name with a NUL inside is never taken for a GUID.
        if (nameLength != guidLength || wmemcmp(name + ComparedFrom, guid + ComparedFrom, guidLength - ComparedFrom) != 0)
            continue;
        wchar_t keyPath[TextUnits] = {};
        // A path that does not fit whole is skipped rather than cut.
        if (FAILED(StringCchPrintfW(keyPath, TextUnits, L"%ls\\%ls", rootPath, name))) continue;
        PlanKeyTree(view, keyPath, true);
    }
    RegCloseKey(root);
}
