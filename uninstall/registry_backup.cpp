// The registry backup of an uninstall: before a tree is deleted it is written, every key
// and every value with its exact type and data, to the uninstall's file
// "<system drive>:/ZemaActiveX/backup/<unix seconds>-<ProgID>.reg" in the registry-file
// format that "reg import" and regedit read (UTF-16LE with byte-order mark).
#include "uninstall/uninstall.h"
#include "system/system.h"

#include <ctime>
#include <cwchar>

#include <strsafe.h>

constexpr int FolderUnits = 64;
constexpr int FileNameUnits = 400;
constexpr int ProgIdUnits = 256;
// Output is gathered here and written whenever it fills, and after each tree.
constexpr int OutputUnits = 4096;
// The registry's limit on value names, terminator included.
constexpr DWORD ValueNameUnits = 16384;
constexpr DWORD SubkeyNameUnits = 256;
// Room of a key's full name as the platform reports it ("\REGISTRY\MACHINE\...").
constexpr ULONG KeyNameInfoUnits = 1024;
// Long hex data goes on in continuation lines, as regedit writes it.
constexpr int HexLineWidth = 76;
// Room of the ProgID in a file name: the whole path stays within MAX_PATH.
constexpr int FileNameProgIdUnits = 201;
// Files of one ProgID within one second are told apart by "-2" to "-999".
constexpr int MostFilesPerSecond = 999;

// The backup of the uninstall that is running: opened by BeginRegistryBackup, its file
// made by the first tree that exists, closed by EndRegistryBackup.
static bool SessionOpen;
// The folder or the file could not be made or written: nothing more is deleted.
static bool SessionRefused;
static wchar_t SessionProgId[ProgIdUnits];
static HANDLE BackupFile = INVALID_HANDLE_VALUE;
static wchar_t Output[OutputUnits];
static int OutputLength;
static bool OutputFailed;
static int Column;
static wchar_t ValueName[ValueNameUnits];

static void FlushOutput()
{
    DWORD bytes = static_cast<DWORD>(OutputLength * sizeof(wchar_t));
    DWORD written = 0;
    if (!OutputFailed && bytes > 0 && (!WriteFile(BackupFile, Output, bytes, &written, nullptr) || written != bytes))
        OutputFailed = true;
    OutputLength = 0;
}

static void PutChar(wchar_t c)
{
    if (OutputLength == OutputUnits) FlushOutput();
    Output[OutputLength++] = c;
    Column = c == L'\n' ? 0 : Column + 1;
}

static void Put(const wchar_t* text)
{
    for (; *text; ++text) PutChar(*text);
}

// Text inside quotes: "\" and the quote itself are escaped.
static void PutEscaped(const wchar_t* text, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        if (text[i] == L'\\' || text[i] == L'"') PutChar(L'\\');
        PutChar(text[i]);
    }
}

static void PutHexDigits(unsigned value, int digits)
{
    static const wchar_t hex[] = L"0123456789abcdef";
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) PutChar(hex[(value >> shift) & 15]);
}

// The platform's importer reads a file line by line: a name with a line break in it
// cannot be written.
static bool FitsOnOneLine(const wchar_t* text, size_t length)
{
    for (size_t i = 0; i < length; ++i)
        if (text[i] == L'\r' || text[i] == L'\n') return false;
    return true;
}

// True when REG_SZ data reads back the same from the quoted form: whole UTF-16 units,
// one terminator at the very end, and no line break.
static bool IsPlainString(const BYTE* data, DWORD size)
{
    if (size < sizeof(wchar_t) || size % sizeof(wchar_t) != 0) return false;
    const wchar_t* text = reinterpret_cast<const wchar_t*>(data);
    size_t length = size / sizeof(wchar_t) - 1;
    if (text[length] != L'\0') return false;
    for (size_t i = 0; i < length; ++i)
        if (text[i] == L'\0') return false;
    return FitsOnOneLine(text, length);
}

static void PutValue(const wchar_t* name, DWORD nameLength, DWORD type, const BYTE* data, DWORD size)
{
    if (nameLength == 0) {
        PutChar(L'@');
    } else {
        PutChar(L'"');
        PutEscaped(name, nameLength);
        PutChar(L'"');
    }
    PutChar(L'=');
    if (type == REG_SZ && IsPlainString(data, size)) {
        PutChar(L'"');
        PutEscaped(reinterpret_cast<const wchar_t*>(data), size / sizeof(wchar_t) - 1);
        PutChar(L'"');
    } else if (type == REG_DWORD && size == sizeof(DWORD)) {
        Put(L"dword:");
        PutHexDigits(*reinterpret_cast<const DWORD*>(data), 8);
    } else {
        Put(L"hex");
        if (type != REG_BINARY) {
            PutChar(L'(');
            int digits = 1;
            while (digits < 8 && (type >> (digits * 4)) != 0) ++digits;
            PutHexDigits(type, digits);
            PutChar(L')');
        }
        PutChar(L':');
        for (DWORD i = 0; i < size; ++i) {
            PutHexDigits(data[i], 2);
            if (i + 1 == size) break;
            PutChar(L',');
            if (Column >= HexLineWidth) Put(L"\\\r\n  ");
        }
    }
    Put(L"\r\n");
}

// Writes every value of the open key; false when one could not be read.
static bool PutValues(HKEY key)
{
    DWORD count = 0, longestData = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, &longestData,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    if (count == 0) return true;
    BYTE* data = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, longestData ? longestData : 1));
    if (!data) return false;
    bool whole = true;
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = ValueNameUnits;
        DWORD size = longestData;
        DWORD type = 0;
        LONG result = RegEnumValueW(key, index, ValueName, &nameLength, nullptr, &type, data, &size);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS || !FitsOnOneLine(ValueName, nameLength)) {
            whole = false;
            break;
        }
        PutValue(ValueName, nameLength, type, data, size);
    }
    HeapFree(GetProcessHeap(), 0, data);
    return whole;
}

// Writes the key open as `key`, named by `path` (a working buffer of `length`
// characters), and everything below it; false when any of it could not be read or named.
static bool PutTree(HKEY key, wchar_t (&path)[KeyTreePathUnits], size_t length)
{
    Put(L"[HKEY_CLASSES_ROOT\\");
    Put(path);
    Put(L"]\r\n");
    bool whole = PutValues(key);
    Put(L"\r\n");
    for (DWORD index = 0; whole; ++index) {
        wchar_t name[SubkeyNameUnits];
        DWORD nameLength = SubkeyNameUnits;
        LONG result = RegEnumKeyExW(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS) break;
        HKEY child;
        // A subkey whose path would not fit whole cannot be named in the file.
        whole = result == ERROR_SUCCESS && FitsOnOneLine(name, nameLength) &&
                length + 1 + nameLength < KeyTreePathUnits &&
                RegOpenKeyExW(key, name, 0, KEY_READ, &child) == ERROR_SUCCESS;
        if (!whole) break;
        path[length] = L'\\';
        StringCchCopyW(path + length + 1, KeyTreePathUnits - length - 1, name);
        whole = PutTree(child, path, length + 1 + nameLength);
        path[length] = L'\0';
        RegCloseKey(child);
    }
    return whole;
}

// True when the `length` units of `a` and `b` are equal but for letter case, as the
// registry compares key names. CompareStringOrdinal is looked up (systems before Vista lack
// it); without it both are raised to upper case by the invariant locale's simple mapping.
static bool EqualIgnoringCase(const wchar_t* a, const wchar_t* b, int length)
{
    using CompareOrdinal = int(WINAPI*)(const wchar_t*, int, const wchar_t*, int, BOOL);
    auto compare = reinterpret_cast<CompareOrdinal>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "CompareStringOrdinal")));
    if (compare) return compare(a, length, b, length, TRUE) == CSTR_EQUAL;
    static wchar_t upperA[SubkeyNameUnits], upperB[SubkeyNameUnits];
    return length <= static_cast<int>(SubkeyNameUnits) &&
           LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, a, length, upperA, length) == length &&
           LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, b, length, upperB, length) == length &&
           wmemcmp(upperA, upperB, length) == 0;
}

// Puts the stored name of the open key in place of the last component of `path`: the
// path may name it in other letter case, and a restore is to bring back the key as it was.
static void UseStoredName(HKEY key, wchar_t* path, size_t length)
{
    using NtQueryKeyFunction = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    const int KeyNameInformation = 3;
    // Looked up at run time: the platform exports it from ntdll without a library to link.
    auto queryKey = reinterpret_cast<NtQueryKeyFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll"), "NtQueryKey")));
    static struct {
        ULONG bytes;
        wchar_t name[KeyNameInfoUnits];
    } info;
    ULONG needed = 0;
    if (!queryKey || queryKey(key, KeyNameInformation, &info, sizeof info, &needed) != 0) return;
    size_t fullLength = info.bytes / sizeof(wchar_t);
    size_t last = length;
    while (last > 0 && path[last - 1] != L'\\') --last;
    size_t nameLength = length - last;
    if (fullLength <= nameLength || info.name[fullLength - nameLength - 1] != L'\\') return;
    const wchar_t* stored = info.name + fullLength - nameLength;
    if (EqualIgnoringCase(stored, path + last, static_cast<int>(nameLength)))
        CopyMemory(path + last, stored, nameLength * sizeof(wchar_t));
}

// The program's folder and its "backup/" folder.
static bool BackupFolders(wchar_t (&base)[FolderUnits], wchar_t (&backup)[FolderUnits])
{
    return ProgramFolder(base, FolderUnits) && SUCCEEDED(StringCchCopyW(backup, FolderUnits, base)) &&
           SUCCEEDED(StringCchCatW(backup, FolderUnits, L"backup/"));
}

// The ProgID with every character that a file name cannot hold written as "_", cut after
// 200 characters: the name only labels the file, which holds the keys whole.
static void FileNamePart(wchar_t (&part)[FileNameProgIdUnits])
{
    StringCchCopyNW(part, FileNameProgIdUnits, SessionProgId, FileNameProgIdUnits - 1);
    for (wchar_t* c = part; *c; ++c)
        if (*c < 32 || wcschr(L"\\/:*?\"<>|", *c)) *c = L'_';
}

// Makes the session's file, new and empty, in the protected backup folder and writes the
// header; false when any of that fails.
static bool CreateBackupFile()
{
    wchar_t base[FolderUnits] = {};
    wchar_t folder[FolderUnits] = {};
    if (!BackupFolders(base, folder) || !PrepareProtectedFolder(base) || !PrepareProtectedFolder(folder))
        return false;
    wchar_t part[FileNameProgIdUnits] = {};
    FileNamePart(part);
    unsigned long long seconds = static_cast<unsigned long long>(time(nullptr));
    for (int number = 1; number <= MostFilesPerSecond; ++number) {
        wchar_t path[FileNameUnits] = {};
        HRESULT composed = number == 1
                               ? StringCchPrintfW(path, FileNameUnits, L"%ls%I64u-%ls.reg", folder, seconds, part)
                               : StringCchPrintfW(path, FileNameUnits, L"%ls%I64u-%ls-%d.reg", folder, seconds, part,
                                                  number);
        if (FAILED(composed)) return false;
        BackupFile = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (BackupFile != INVALID_HANDLE_VALUE) break;
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
    }
    if (BackupFile == INVALID_HANDLE_VALUE) return false;
    PutChar(0xFEFF);
    Put(L"Windows Registry Editor Version 5.00\r\n\r\n");
    FlushOutput();
    return !OutputFailed;
}

void BeginRegistryBackup(const wchar_t* progId)
{
    SessionOpen = true;
    SessionRefused = FAILED(StringCchCopyW(SessionProgId, ProgIdUnits, progId));
    BackupFile = INVALID_HANDLE_VALUE;
    OutputLength = 0;
    OutputFailed = false;
}

bool BackupKeyTree(HKEY root, const wchar_t* path)
{
    if (!SessionOpen) return true;
    wchar_t tree[KeyTreePathUnits] = {};
    size_t length = 0;
    if (SessionRefused || root != HKEY_CLASSES_ROOT || CopyKeyPath(path, tree) != S_OK ||
        FAILED(StringCchLengthW(tree, KeyTreePathUnits, &length)) || length == 0 || tree[0] == L'\\')
        return false;
    // The deletion drops one trailing "\" too.
    if (tree[length - 1] == L'\\') tree[--length] = L'\0';
    HKEY key;
    LONG opened = RegOpenKeyExW(HKEY_CLASSES_ROOT, tree, 0, KEY_READ, &key);
    // A key that is not there has nothing to save, and its deletion fails.
    if (opened == ERROR_FILE_NOT_FOUND) return true;
    if (opened != ERROR_SUCCESS) return false;
    if (BackupFile == INVALID_HANDLE_VALUE && !CreateBackupFile()) {
        RegCloseKey(key);
        SessionRefused = true;
        return false;
    }
    LARGE_INTEGER zero = {}, start = {};
    SetFilePointerEx(BackupFile, zero, &start, FILE_CURRENT);
    UseStoredName(key, tree, length);
    bool whole = PutTree(key, tree, length);
    RegCloseKey(key);
    FlushOutput();
    // A tree read only in part is taken out of the file again; it stays in the registry.
    if (!whole && !OutputFailed &&
        (!SetFilePointerEx(BackupFile, start, nullptr, FILE_BEGIN) || !SetEndOfFile(BackupFile)))
        OutputFailed = true;
    // On the disk before anything of it is deleted.
    if (!OutputFailed && whole && !FlushFileBuffers(BackupFile)) OutputFailed = true;
    if (OutputFailed) SessionRefused = true;
    return whole && !OutputFailed;
}

bool EndRegistryBackup()
{
    if (BackupFile != INVALID_HANDLE_VALUE) CloseHandle(BackupFile);
    ReleaseProtectedFolders();
    BackupFile = INVALID_HANDLE_VALUE;
    SessionOpen = false;
    return !SessionRefused;
}

void ReportRegistryBackupRefused(const wchar_t* progId)
{
    wchar_t text[ProgIdUnits + 64] = {};
    StringCchCopyW(text, ProgIdUnits + 64, progId);
    StringCchCatW(text, ProgIdUnits + 64, L"\r\n注册表备份无法保存，该控件未卸载！");
    MessageBoxW(GetAncestor(ControlList, GA_PARENT), text, L"提示", MB_OK);
}
