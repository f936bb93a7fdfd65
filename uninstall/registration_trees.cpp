// The trees of a class's registration that the uninstall does not delete itself but that
// the control's own unregistration may remove: they go into the backup too, so that a
// restore brings back everything the uninstall took, whoever removed it.
#include "uninstall/uninstall.h"

#include <cwchar>
#include <initializer_list>

#include <strsafe.h>

constexpr int WorkingPathUnits = 255;
constexpr DWORD SubkeyNameUnits = 256;
// A ProgID that is to be opened with "\CLSID" behind it.
constexpr size_t LongestProgIdChars = 248;

static bool SameGuid(const wchar_t* first, const wchar_t* second)
{
    return IsRegistryGuid(first) && IsRegistryGuid(second) && _wcsicmp(first, second) == 0;
}

// Plans the ProgID `progId` when its CLSID names the class.
static void PlanProgIdOfClass(REGSAM view, const wchar_t* progId, const wchar_t* clsid)
{
    wchar_t path[WorkingPathUnits] = {};
    wchar_t named[DefaultValueUnits] = {};
    if (progId[0] == L'\0' || wcschr(progId, L'\\') || wcslen(progId) > LongestProgIdChars ||
        FAILED(StringCchPrintfW(path, WorkingPathUnits, L"%ls\\CLSID", progId)))
        return;
    ReadClassesRootDefault(path, named, view);
    if (SameGuid(named, clsid)) PlanKeyTree(view, progId, false);
}

// The class key's value "AppID"; empty when it is missing or no GUID.
static void ReadAppId(REGSAM view, const wchar_t* classKey, wchar_t (&appId)[DefaultValueUnits])
{
    ZeroMemory(appId, sizeof appId);
    HKEY root, key;
    if (OpenClassesRoot(view, KEY_READ, &root) != ERROR_SUCCESS) return;
    LONG opened = RegOpenKeyExW(root, classKey, REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE | view, &key);
    RegCloseKey(root);
    if (opened != ERROR_SUCCESS) return;
    DWORD type = REG_NONE;
    DWORD size = sizeof appId - sizeof(wchar_t);
    LONG read = RegQueryValueExW(key, L"AppID", nullptr, &type, reinterpret_cast<BYTE*>(appId), &size);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS || type != REG_SZ || !IsRegistryGuid(appId)) ZeroMemory(appId, sizeof appId);
}

// Plans every key directly below "Interface" whose TypeLib names `typeLib`.
static void PlanInterfacesOfTypeLib(REGSAM view, const wchar_t* typeLib)
{
    HKEY root, interfaces;
    if (OpenClassesRoot(view, KEY_READ, &root) != ERROR_SUCCESS) return;
    LONG opened = RegOpenKeyExW(root, L"Interface", 0, KEY_READ | view, &interfaces);
    RegCloseKey(root);
    if (opened != ERROR_SUCCESS) return;
    for (DWORD index = 0;; ++index) {
        wchar_t name[SubkeyNameUnits];
        DWORD nameLength = SubkeyNameUnits;
        if (RegEnumKeyExW(interfaces, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        wchar_t valuePath[SubkeyNameUnits + 16] = {};
        HKEY key;
        if (!IsWritableName(name, nameLength) ||
            FAILED(StringCchPrintfW(valuePath, SubkeyNameUnits + 16, L"%ls\\TypeLib", name)) ||
            RegOpenKeyExW(interfaces, valuePath, REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
            continue;
        wchar_t named[DefaultValueUnits] = {};
        LONG room = sizeof named - sizeof(wchar_t);
        LONG read = RegQueryValueW(key, nullptr, named, &room);
        RegCloseKey(key);
        wchar_t keyPath[SubkeyNameUnits + 16] = {};
        if (read == ERROR_SUCCESS && SameGuid(named, typeLib) &&
            SUCCEEDED(StringCchPrintfW(keyPath, SubkeyNameUnits + 16, L"Interface\\%ls", name)))
            PlanKeyTree(view, keyPath, false);
    }
    RegCloseKey(interfaces);
}

void PlanRegistrationTrees(REGSAM view, const wchar_t* clsid)
{
    wchar_t classKey[WorkingPathUnits] = {};
    wchar_t path[WorkingPathUnits] = {};
    wchar_t text[DefaultValueUnits] = {};
    if (!IsRegistryGuid(clsid) || FAILED(StringCchPrintfW(classKey, WorkingPathUnits, L"CLSID\\%ls", clsid))) return;

    // The versioned ProgID, the version-independent one and the version it names current.
    for (const wchar_t* subkey : {L"ProgID", L"VersionIndependentProgID"}) {
        if (FAILED(StringCchPrintfW(path, WorkingPathUnits, L"%ls\\%ls", classKey, subkey))) continue;
        ReadClassesRootDefault(path, text, view);
        PlanProgIdOfClass(view, text, clsid);
        wchar_t current[DefaultValueUnits] = {};
        if (text[0] != L'\0' && SUCCEEDED(StringCchPrintfW(path, WorkingPathUnits, L"%ls\\CurVer", text))) {
            ReadClassesRootDefault(path, current, view);
            PlanProgIdOfClass(view, current, clsid);
        }
    }

    ReadAppId(view, classKey, text);
    if (text[0] != L'\0' && SUCCEEDED(StringCchPrintfW(path, WorkingPathUnits, L"AppID\\%ls", text)))
        PlanKeyTree(view, path, false);

    // The type library with every version, and the interfaces that it describes.
    if (FAILED(StringCchPrintfW(path, WorkingPathUnits, L"%ls\\TypeLib", classKey))) return;
    ReadClassesRootDefault(path, text, view);
    if (!IsRegistryGuid(text) || FAILED(StringCchPrintfW(path, WorkingPathUnits, L"TypeLib\\%ls", text))) return;
    PlanKeyTree(view, path, false);
    PlanInterfacesOfTypeLib(view, text);
}
