// The environment of the machine, as only administrators may set it. This process runs
// with an administrator's rights but inherits the environment of the user who started
// it (HKCU\Environment): a windir or Path of the user's would choose which files the
// elevated regsvr32 and the controls it loads open.
#include "system/system.h"

#include <cwchar>

#include <strsafe.h>

constexpr int MostVariables = 256;
// Names and values of all variables, "NAME=value" each with its terminator.
constexpr size_t VariableTextUnits = 32768;
// The registry's longest environment variable, terminator included.
constexpr DWORD ValueUnits = 32767;
constexpr DWORD NameUnits = 256;
constexpr wchar_t SessionManagerEnvironment[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr wchar_t CurrentVersion[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

namespace {
struct Variables {
    int count;
    size_t used;
    size_t entries[MostVariables];  // offsets of "NAME=value" in text
    wchar_t text[VariableTextUnits];
    bool fits;
};
}  // namespace

// The machine's variables, gathered anew for each use.
static Variables Machine;
static wchar_t ValueText[ValueUnits];
static wchar_t ExpandedText[ValueUnits];

static wchar_t Upper(wchar_t c)
{
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

// Compares the names of two "NAME=value" entries, or an entry with a name of `length`
// units, case-insensitively.
static int CompareNames(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength)
{
    for (size_t i = 0; i < aLength && i < bLength; ++i)
        if (Upper(a[i]) != Upper(b[i])) return Upper(a[i]) < Upper(b[i]) ? -1 : 1;
    return aLength == bLength ? 0 : (aLength < bLength ? -1 : 1);
}

static size_t NameLength(const wchar_t* entry)
{
    size_t length = 0;
    while (entry[length] != L'=' && entry[length] != L'\0') ++length;
    return length;
}

// The index of the variable named by `name` (`length` units), or -1.
static int Find(const Variables& variables, const wchar_t* name, size_t length)
{
    for (int i = 0; i < variables.count; ++i) {
        const wchar_t* entry = variables.text + variables.entries[i];
        if (CompareNames(entry, NameLength(entry), name, length) == 0) return i;
    }
    return -1;
}

// Sets a variable, replacing one of the same name; an entry that does not fit marks the
// whole set as not fitting.
static void Set(Variables* variables, const wchar_t* name, const wchar_t* value)
{
    size_t nameLength = 0, valueLength = 0;
    // A name the block cannot hold (empty, or with '=' in it) is passed over.
    if (FAILED(StringCchLengthW(name, NameUnits, &nameLength)) || nameLength == 0 || wcschr(name, L'=')) return;
    if (FAILED(StringCchLengthW(value, ValueUnits, &valueLength))) {
        variables->fits = false;
        return;
    }
    size_t size = nameLength + 1 + valueLength + 1;
    int index = Find(*variables, name, nameLength);
    if (index < 0 && variables->count == MostVariables) variables->fits = false;
    if (variables->used + size > VariableTextUnits) variables->fits = false;
    if (!variables->fits) return;
    wchar_t* entry = variables->text + variables->used;
    StringCchPrintfW(entry, size, L"%s=%s", name, value);
    if (index < 0) index = variables->count++;
    variables->entries[index] = variables->used;
    variables->used += size;
}

// Expands the %NAME% references of `text` that `variables` hold into `out`, leaving any
// other one as it is.
static bool Expand(const Variables& variables, const wchar_t* text, wchar_t* out, size_t capacity)
{
    size_t length = 0;
    if (capacity == 0) return false;
    out[0] = L'\0';
    for (const wchar_t* at = text; *at;) {
        const wchar_t* close = at[0] == L'%' ? wcschr(at + 1, L'%') : nullptr;
        int index = close ? Find(variables, at + 1, static_cast<size_t>(close - at - 1)) : -1;
        const wchar_t* piece = at;
        size_t pieceLength = 1;
        if (index >= 0) {
            const wchar_t* entry = variables.text + variables.entries[index];
            piece = entry + NameLength(entry) + 1;
            pieceLength = wcslen(piece);
            at = close + 1;
        } else if (close) {
            // An unknown name stays; its closing '%' may open the next reference.
            pieceLength = static_cast<size_t>(close - at);
            at = close;
        } else {
            ++at;
        }
        if (length + pieceLength >= capacity) return false;
        wmemcpy(out + length, piece, pieceLength);
        length += pieceLength;
        out[length] = L'\0';
    }
    return true;
}

// Sets each value of `type` in the open key (REG_EXPAND_SZ ones expanded against what is
// set so far), except SystemRoot, SystemDrive and Path, which the machine has as such.
static void SetRegistryValues(Variables* variables, HKEY key, DWORD wantedType)
{
    for (DWORD index = 0;; ++index) {
        wchar_t name[NameUnits];
        DWORD nameLength = NameUnits, type = 0, size = sizeof ValueText - sizeof(wchar_t);
        ZeroMemory(ValueText, sizeof ValueText);
        LONG result = RegEnumValueW(key, index, name, &nameLength, nullptr, &type,
                                    reinterpret_cast<BYTE*>(ValueText), &size);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS || type != wantedType) continue;
        if (CompareNames(name, nameLength, L"SystemRoot", 10) == 0 ||
            CompareNames(name, nameLength, L"SystemDrive", 11) == 0 || CompareNames(name, nameLength, L"Path", 4) == 0)
            continue;
        if (type == REG_SZ)
            Set(variables, name, ValueText);
        else if (Expand(*variables, ValueText, ExpandedText, ValueUnits))
            Set(variables, name, ExpandedText);
    }
}

// Sets `name` to the string value `valueName` of `subkey` of HKEY_LOCAL_MACHINE, if any.
static void SetFromMachineValue(Variables* variables, const wchar_t* name, const wchar_t* subkey,
                                const wchar_t* valueName)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return;
    DWORD type = 0, size = sizeof ValueText - sizeof(wchar_t);
    ZeroMemory(ValueText, sizeof ValueText);
    LONG result = RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(ValueText), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) return;
    if (type == REG_SZ)
        Set(variables, name, ValueText);
    else if (type == REG_EXPAND_SZ && Expand(*variables, ValueText, ExpandedText, ValueUnits))
        Set(variables, name, ExpandedText);
}

// Gathers the machine's variables into Machine; false when they do not fit.
static bool GatherMachineVariables()
{
    Machine.count = 0;
    Machine.used = 0;
    Machine.fits = true;
    wchar_t windows[MAX_PATH] = {};
    wchar_t system[MAX_PATH] = {};
    UINT windowsLength = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    UINT systemLength = GetSystemDirectoryW(system, MAX_PATH);
    if (windowsLength < 2 || windowsLength >= MAX_PATH || systemLength == 0 || systemLength >= MAX_PATH)
        return false;
    wchar_t drive[3] = {windows[0], windows[1], L'\0'};
    Set(&Machine, L"SystemRoot", windows);
    Set(&Machine, L"SystemDrive", drive);

    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SessionManagerEnvironment, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        SetRegistryValues(&Machine, key, REG_SZ);
        SetRegistryValues(&Machine, key, REG_EXPAND_SZ);
        RegCloseKey(key);
    }
    SetFromMachineValue(&Machine, L"ProgramFiles", CurrentVersion, L"ProgramFilesDir");
    SetFromMachineValue(&Machine, L"CommonProgramFiles", CurrentVersion, L"CommonFilesDir");

    // Libraries loaded by bare name are looked for along Path: the system's folders only.
    wchar_t path[2 * MAX_PATH + 1] = {};
    StringCchPrintfW(path, ARRAYSIZE(path), L"%s;%s", system, windows);
    Set(&Machine, L"Path", path);
    return Machine.fits;
}

bool BuildMachineEnvironment(wchar_t* block, size_t capacity)
{
    if (!GatherMachineVariables()) return false;
    // The platform wants the block sorted by name, case-insensitively.
    for (int i = 1; i < Machine.count; ++i)
        for (int j = i; j > 0; --j) {
            const wchar_t* a = Machine.text + Machine.entries[j - 1];
            const wchar_t* b = Machine.text + Machine.entries[j];
            if (CompareNames(a, NameLength(a), b, NameLength(b)) <= 0) break;
            size_t swap = Machine.entries[j];
            Machine.entries[j] = Machine.entries[j - 1];
            Machine.entries[j - 1] = swap;
        }
    size_t used = 0;
    for (int i = 0; i < Machine.count; ++i) {
        const wchar_t* entry = Machine.text + Machine.entries[i];
        size_t size = wcslen(entry) + 1;
        if (used + size + 1 > capacity) return false;
        wmemcpy(block + used, entry, size);
        used += size;
    }
    if (used + 1 > capacity) return false;
    block[used] = L'\0';
    return true;
}

bool ExpandMachineVariables(const wchar_t* text, wchar_t* out, size_t capacity)
{
    return GatherMachineVariables() && Expand(Machine, text, out, capacity);
}
