// Checks of what an uninstall reads from the registry before it acts on it. Whoever may
// register a class can write these values (per user, on Windows), and this process runs
// with an administrator's rights: a value must not lead it to another class's keys or
// have regsvr32 run anything but the server file.
#include "uninstall/uninstall.h"
#include "system/system.h"

#include <cwchar>

#include <strsafe.h>

constexpr size_t GuidChars = 38;

static bool IsHexDigit(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F') || (c >= L'a' && c <= L'f');
}

bool IsRegistryGuid(const wchar_t* text)
{
    if (wcsnlen(text, GuidChars + 1) != GuidChars || text[0] != L'{' || text[GuidChars - 1] != L'}')
        return false;
    for (size_t i = 1; i < GuidChars - 1; ++i) {
        bool hyphen = i == 9 || i == 14 || i == 19 || i == 24;
        if (hyphen ? text[i] != L'-' : !IsHexDigit(text[i])) return false;
    }
    return true;
}

// True when the default value of "CLSID\<clsid>\<subkey>" in `view` begins with a family
// prefix.
static bool NamesFamilyProgId(const wchar_t* clsid, const wchar_t* subkey, REGSAM view)
{
    wchar_t path[DefaultValueUnits] = {};
    wchar_t progId[DefaultValueUnits] = {};
    if (FAILED(StringCchPrintfW(path, DefaultValueUnits, L"CLSID\\%s\\%s", clsid, subkey))) return false;
    ReadClassesRootDefault(path, progId, view);
    return HasFamilyPrefix(progId, static_cast<DWORD>(wcslen(progId)));
}

// The class key read here, in one view, is the one the server path and the TypeLib GUID
// come from and the one deleted in that view.
bool ClassBelongsToFamily(const wchar_t* clsid, REGSAM view)
{
    return NamesFamilyProgId(clsid, L"ProgID", view) || NamesFamilyProgId(clsid, L"VersionIndependentProgID", view);
}

bool MakeServerPathPlain(wchar_t* path, size_t room)
{
    size_t length = 0;
    if (FAILED(StringCchLengthW(path, room, &length))) return false;
    // One enclosing pair of quotation marks, as installers often store it; the command line
    // puts its own around the path.
    if (length >= 2 && path[0] == L'"' && path[length - 1] == L'"') {
        length -= 2;
        wmemmove(path, path + 1, length);
        path[length] = L'\0';
    }
    // %NAME% is expanded here, once, with the machine's variables: this process inherits
    // the user's, whose windir or the like would lead to a file of the user's choosing.
    // The result must be a plain path: a '%' left names no variable of the machine.
    if (wcschr(path, L'%')) {
        wchar_t expanded[ServerPathUnits] = {};
        if (!ExpandMachineVariables(path, expanded, ServerPathUnits) ||
            FAILED(StringCchCopyW(path, room, expanded)))
            return false;
    }
    for (const wchar_t* c = path; *c; ++c)
        if (*c == L'%' || *c == L'"' || *c < 0x20) return false;
    return true;
}
