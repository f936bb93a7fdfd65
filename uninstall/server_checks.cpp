// Checks of a control's server file before the uninstall acts on it: its own
// unregistration runs only when no class outside the family needs the same file, and its
// GUID family is purged only when the class's type library is its own.
#include "uninstall/uninstall.h"

#include <cwchar>
#include <initializer_list>

#include <strsafe.h>

// Room of a path while it is put in its long form; a longer one is compared as given.
constexpr DWORD LongPathUnits = 1024;
constexpr DWORD SubkeyNameUnits = 256;

// Letter case aside, as the file system compares names, one UTF-16 unit at a time.
static bool EqualIgnoringCase(const wchar_t* first, size_t firstLength, const wchar_t* second, size_t secondLength)
{
    if (firstLength != secondLength) return false;
    for (size_t i = 0; i < firstLength; ++i) {
        auto upper = [](wchar_t c) {
            return static_cast<wchar_t>(reinterpret_cast<ULONG_PTR>(CharUpperW(reinterpret_cast<LPWSTR>(c))));
        };
        if (first[i] != second[i] && upper(first[i]) != upper(second[i])) return false;
    }
    return true;
}

// The path in its long form (8.3 names expanded) where the file exists, else as given.
static void LongForm(const wchar_t* path, wchar_t (&form)[LongPathUnits])
{
    DWORD length = GetLongPathNameW(path, form, LongPathUnits);
    if (length == 0 || length >= LongPathUnits) StringCchCopyW(form, LongPathUnits, path);
}

// The length of `path` without a trailing "\<number>", the resource index of a type
// library stored in a server file.
static size_t WithoutResourceIndex(const wchar_t* path)
{
    size_t length = wcslen(path);
    size_t digits = length;
    while (digits > 0 && path[digits - 1] >= L'0' && path[digits - 1] <= L'9') --digits;
    return digits < length && digits > 1 && path[digits - 1] == L'\\' ? digits - 1 : length;
}

static const wchar_t* FileNameOf(const wchar_t* path)
{
    const wchar_t* name = path;
    for (const wchar_t* c = path; *c; ++c)
        if (*c == L'\\' || *c == L'/') name = c + 1;
    return name;
}

bool NamesSameFile(const wchar_t* first, const wchar_t* second)
{
    static wchar_t firstFile[LongPathUnits], secondFile[LongPathUnits];
    static wchar_t firstForm[LongPathUnits], secondForm[LongPathUnits];
    if (FAILED(StringCchCopyNW(firstFile, LongPathUnits, first, WithoutResourceIndex(first))) ||
        FAILED(StringCchCopyNW(secondFile, LongPathUnits, second, WithoutResourceIndex(second))) ||
        firstFile[0] == L'\0')
        return false;
    LongForm(firstFile, firstForm);
    LongForm(secondFile, secondForm);
    return EqualIgnoringCase(firstForm, wcslen(firstForm), secondForm, wcslen(secondForm));
}

// True when `path` ends in `fileName` (`fileName` not empty), letter case aside.
static bool EndsInFileName(const wchar_t* path, const wchar_t* fileName)
{
    const wchar_t* name = FileNameOf(path);
    return fileName[0] != L'\0' && EqualIgnoringCase(name, wcslen(name), fileName, wcslen(fileName));
}

bool HasSameFileName(const wchar_t* first, const wchar_t* second)
{
    static wchar_t form[LongPathUnits];
    LongForm(first, form);
    return EndsInFileName(second, FileNameOf(form));
}

// The default value of the key `subkey` of `parent` (in `view`, never through a link) as a
// terminated path; false when it cannot be read.
static bool ReadDefaultPath(HKEY parent, const wchar_t* subkey, REGSAM view, wchar_t (&path)[ServerPathUnits])
{
    HKEY key;
    if (RegOpenKeyExW(parent, subkey, REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = sizeof path - sizeof(wchar_t);
    LONG read = RegQueryValueExW(key, L"", nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS) return false;
    path[size / sizeof(wchar_t)] = L'\0';
    return true;
}

// True when a class of `classes` (the CLSID key of `view`) outside the family names a
// server file called `fileName`.
static bool OtherClassNamesFile(HKEY classes, REGSAM view, const wchar_t* fileName)
{
    static wchar_t server[ServerPathUnits];
    for (DWORD index = 0;; ++index) {
        wchar_t clsid[SubkeyNameUnits];
        DWORD clsidLength = SubkeyNameUnits;
        if (RegEnumKeyExW(classes, index, clsid, &clsidLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return false;
        wchar_t serverKey[SubkeyNameUnits + 16] = {};
        if (!IsWritableName(clsid, clsidLength) ||
            FAILED(StringCchPrintfW(serverKey, SubkeyNameUnits + 16, L"%ls\\InprocServer32", clsid)) ||
            !ReadDefaultPath(classes, serverKey, view, server))
            continue;
        // Unquoted and expanded where it can be; a value that cannot be made plain is
        // compared as it stands.
        static wchar_t plain[ServerPathUnits];
        StringCchCopyW(plain, ServerPathUnits, server);
        const wchar_t* named = MakeServerPathPlain(plain, ServerPathUnits) ? plain : server;
        if (EndsInFileName(named, fileName) && !ClassBelongsToFamily(clsid, view)) return true;
    }
}

bool ServesOnlyTheFamily(const wchar_t* serverPath)
{
    static wchar_t form[LongPathUnits];
    LongForm(serverPath, form);
    const wchar_t* fileName = FileNameOf(form);
    if (fileName[0] == L'\0') return false;
    REGSAM views[] = {OwnView, View64};
    int viewCount = DetectWow64() ? 2 : 1;
    for (int i = 0; i < viewCount; ++i) {
        HKEY root, classes;
        if (OpenClassesRoot(views[i], KEY_READ, &root) != ERROR_SUCCESS) return false;
        LONG opened = RegOpenKeyExW(root, L"CLSID", 0, KEY_READ | views[i], &classes);
        RegCloseKey(root);
        if (opened != ERROR_SUCCESS) return false;
        bool other = OtherClassNamesFile(classes, views[i], fileName);
        RegCloseKey(classes);
        if (other) return false;
    }
    return true;
}

// True when one of the win32 or win64 paths below the open key of a type library
// ("<version>\<locale>\win32") names `serverPath`.
static bool AnyPathNames(HKEY typeLib, REGSAM view, const wchar_t* serverPath)
{
    static wchar_t path[ServerPathUnits];
    for (DWORD version = 0;; ++version) {
        wchar_t versionName[SubkeyNameUnits];
        DWORD versionLength = SubkeyNameUnits;
        if (RegEnumKeyExW(typeLib, version, versionName, &versionLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            return false;
        HKEY versionKey;
        if (!IsWritableName(versionName, versionLength) ||
            RegOpenKeyExW(typeLib, versionName, REG_OPTION_OPEN_LINK, KEY_READ | view, &versionKey) != ERROR_SUCCESS)
            continue;
        bool named = false;
        for (DWORD locale = 0; !named; ++locale) {
            wchar_t localeName[SubkeyNameUnits];
            DWORD localeLength = SubkeyNameUnits;
            if (RegEnumKeyExW(versionKey, locale, localeName, &localeLength, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
                break;
            for (const wchar_t* platform : {L"win32", L"win64"}) {
                wchar_t pathKey[SubkeyNameUnits + 8] = {};
                if (named || !IsWritableName(localeName, localeLength) ||
                    FAILED(StringCchPrintfW(pathKey, SubkeyNameUnits + 8, L"%ls\\%ls", localeName, platform)) ||
                    !ReadDefaultPath(versionKey, pathKey, view, path))
                    continue;
                named = MakeServerPathPlain(path, ServerPathUnits) && NamesSameFile(serverPath, path);
            }
        }
        RegCloseKey(versionKey);
        if (named) return true;
    }
}

bool TypeLibNamesServer(REGSAM view, const wchar_t* typeLibGuid, const wchar_t* serverPath)
{
    wchar_t keyPath[DefaultValueUnits] = {};
    HKEY root, typeLib;
    if (!IsRegistryGuid(typeLibGuid) || FAILED(StringCchPrintfW(keyPath, DefaultValueUnits, L"TypeLib\\%ls", typeLibGuid)) ||
        OpenClassesRoot(view, KEY_READ, &root) != ERROR_SUCCESS)
        return false;
    LONG opened = RegOpenKeyExW(root, keyPath, REG_OPTION_OPEN_LINK, KEY_READ | view, &typeLib);
    RegCloseKey(root);
    if (opened == ERROR_FILE_NOT_FOUND) return true;
    if (opened != ERROR_SUCCESS) return false;
    bool named = serverPath[0] != L'\0' && AnyPathNames(typeLib, view, serverPath);
    RegCloseKey(typeLib);
    return named;
}
