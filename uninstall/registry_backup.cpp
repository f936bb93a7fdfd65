// The registry backup of an uninstall: every planned tree, every key and every value with
// its exact type and data, is written to the uninstall's file
// "<system drive>:/ZemaActiveX/backup/<unix seconds>-<ProgID>.reg" in the registry-file
// format that "reg import" and regedit read (UTF-16LE with byte-order mark), each key by
// its stored full name. The file is written under a temporary name and gets its own only
// when it is whole and on the disk, so a file of that name is always complete.
#include "uninstall/uninstall.h"
#include "system/system.h"

#include <ctime>
#include <cwchar>

#include <strsafe.h>

constexpr int FolderUnits = 64;
constexpr int FileNameUnits = 400;
constexpr int ProgIdUnits = 256;
// Output is gathered here and written whenever it fills.
constexpr int OutputUnits = 4096;
// The registry's limit on value names, terminator included.
constexpr DWORD ValueNameUnits = 16384;
constexpr DWORD SubkeyNameUnits = 256;
// A key's written name: the stored name of its tree's top key and the rest of its path.
constexpr int WrittenPathUnits = StoredNameUnits + KeyTreePathUnits;
// Long hex data goes on in continuation lines, as regedit writes it.
constexpr int HexLineWidth = 76;
// Room of the ProgID in a file name: the whole path stays within MAX_PATH.
constexpr int FileNameProgIdUnits = 201;
// Files of one ProgID within one second are told apart by "-2" to "-999".
constexpr int MostFilesPerSecond = 999;

// The file being written.
static HANDLE BackupFile = INVALID_HANDLE_VALUE;
static wchar_t Output[OutputUnits];
static int OutputLength;
static bool OutputFailed;
static int Column;
static wchar_t ValueName[ValueNameUnits];
static wchar_t WrittenPath[WrittenPathUnits];

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

// True when REG_SZ data reads back the same from the quoted form: whole UTF-16 units,
// one terminator at the very end, and no line break.
static bool IsPlainString(const BYTE* data, DWORD size)
{
    if (size < sizeof(wchar_t) || size % sizeof(wchar_t) != 0) return false;
    const wchar_t* text = reinterpret_cast<const wchar_t*>(data);
    DWORD length = size / sizeof(wchar_t) - 1;
    return text[length] == L'\0' && IsWritableName(text, length);
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

// Writes every value of the open key; false when one could not be read or named.
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
        // The importer reads the file line by line and a name as text: a name with a line
        // break or a NUL in it would come back as another value, or stop the import.
        if (result != ERROR_SUCCESS || !IsWritableName(ValueName, nameLength)) {
            whole = false;
            break;
        }
        PutValue(ValueName, nameLength, type, data, size);
    }
    HeapFree(GetProcessHeap(), 0, data);
    return whole;
}

// Writes the key open as `key`, named by WrittenPath (`length` characters) and by a path
// of `classesLength` characters below HKEY_LOCAL_MACHINE\Software\Classes, with
// everything below it; false when any of it could not be read or named.
static bool PutTree(HKEY key, REGSAM view, size_t length, size_t classesLength)
{
    Put(L"[");
    Put(WrittenPath);
    Put(L"]\r\n");
    bool whole = PutValues(key);
    Put(L"\r\n");
    for (DWORD index = 0; whole; ++index) {
        wchar_t name[SubkeyNameUnits];
        DWORD nameLength = SubkeyNameUnits;
        LONG result = RegEnumKeyExW(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS) break;
        HKEY child;
        // A subkey whose path would not fit whole cannot be named in the file; a link is
        // neither written nor followed.
        whole = result == ERROR_SUCCESS && IsWritableName(name, nameLength) &&
                classesLength + 1 + nameLength < KeyTreePathUnits &&
                RegOpenKeyExW(key, name, REG_OPTION_OPEN_LINK, KEY_READ | view, &child) == ERROR_SUCCESS;
        if (!whole) break;
        whole = !IsRegistryLink(child);
        if (whole) {
            WrittenPath[length] = L'\\';
            StringCchCopyW(WrittenPath + length + 1, WrittenPathUnits - length - 1, name);
            whole = PutTree(child, view, length + 1 + nameLength, classesLength + 1 + nameLength);
            WrittenPath[length] = L'\0';
        }
        RegCloseKey(child);
    }
    return whole;
}

// Writes one planned tree as it stands now; true when it is written whole, or when it
// has gone since it was planned (then nothing is left to delete either).
static bool PutPlannedTree(const PlannedTree& tree)
{
    HKEY root, key;
    if (OpenClassesRoot(tree.view, KEY_READ, &root) != ERROR_SUCCESS) return false;
    LONG opened = OpenKeyWithoutLinks(root, tree.view, tree.path, KEY_READ, &key);
    RegCloseKey(root);
    if (opened == ERROR_FILE_NOT_FOUND) return true;
    if (opened != ERROR_SUCCESS) return false;
    bool whole = SUCCEEDED(StringCchCopyW(WrittenPath, WrittenPathUnits, tree.storedName)) &&
                 PutTree(key, tree.view, wcslen(WrittenPath), wcslen(tree.path));
    RegCloseKey(key);
    return whole;
}

// The program's folder and its "backup/" folder.
static bool BackupFolders(wchar_t (&base)[FolderUnits], wchar_t (&backup)[FolderUnits])
{
    return ProgramFolder(base, FolderUnits) && SUCCEEDED(StringCchCopyW(backup, FolderUnits, base)) &&
           SUCCEEDED(StringCchCatW(backup, FolderUnits, L"backup/"));
}

// The ProgID with every character that a file name cannot hold written as "_", cut after
// 200 characters: the name only labels the file, which holds the keys whole.
static void FileNamePart(const wchar_t* progId, wchar_t (&part)[FileNameProgIdUnits])
{
    StringCchCopyNW(part, FileNameProgIdUnits, progId, FileNameProgIdUnits - 1);
    for (wchar_t* c = part; *c; ++c)
        if (*c < 32 || wcschr(L"\\/:*?\"<>|", *c)) *c = L'_';
}

// "<folder><seconds>-<part>[-<number>].reg", with ".tmp" behind while it is written.
static bool ComposeFileName(wchar_t (&path)[FileNameUnits], const wchar_t* folder, unsigned long long seconds,
                            const wchar_t* part, int number, bool temporary)
{
    const wchar_t* tail = temporary ? L".reg.tmp" : L".reg";
    return SUCCEEDED(number == 1 ? StringCchPrintfW(path, FileNameUnits, L"%ls%I64u-%ls%ls", folder, seconds, part, tail)
                                 : StringCchPrintfW(path, FileNameUnits, L"%ls%I64u-%ls-%d%ls", folder, seconds, part,
                                                    number, tail));
}

// Removes the temporary files that an uninstall killed while it wrote its backup left:
// they are incomplete, and nothing was deleted for them. A file still open for writing
// by a running uninstall cannot be removed and stays.
static void RemoveUnfinishedBackups(const wchar_t* folder)
{
    wchar_t pattern[FileNameUnits] = {};
    if (FAILED(StringCchPrintfW(pattern, FileNameUnits, L"%ls*.reg.tmp", folder))) return;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        size_t length = wcslen(found.cFileName);
        wchar_t path[FileNameUnits] = {};
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && length > 8 &&
            _wcsicmp(found.cFileName + length - 8, L".reg.tmp") == 0 &&
            SUCCEEDED(StringCchPrintfW(path, FileNameUnits, L"%ls%ls", folder, found.cFileName)))
            DeleteFileW(path);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

// Writes every planned tree that no other planned tree holds, after the header; false
// when any of it could not be written whole.
static bool PutPlan()
{
    PutChar(0xFEFF);
    Put(L"Windows Registry Editor Version 5.00\r\n\r\n");
    bool whole = true;
    for (int i = 0; whole && i < PlannedTreeCount(); ++i)
        if (!PlannedTreeInsideAnother(i)) whole = PutPlannedTree(PlannedTreeAt(i));
    FlushOutput();
    // On the disk before its final name says that it is complete.
    return whole && !OutputFailed && FlushFileBuffers(BackupFile);
}

// Writes the plan to a new file of the backup folder `folder`, under a temporary name,
// and names it when it is whole; false, with nothing of it left, when it is not.
static bool WriteBackupFile(const wchar_t* progId, const wchar_t* folder)
{
    RemoveUnfinishedBackups(folder);
    wchar_t part[FileNameProgIdUnits] = {};
    FileNamePart(progId, part);
    unsigned long long seconds = static_cast<unsigned long long>(time(nullptr));
    wchar_t temporary[FileNameUnits] = {};
    int number = 1;
    for (; number <= MostFilesPerSecond; ++number) {
        if (!ComposeFileName(temporary, folder, seconds, part, number, true)) return false;
        BackupFile = CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (BackupFile != INVALID_HANDLE_VALUE) break;
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
    }
    if (BackupFile == INVALID_HANDLE_VALUE) return false;
    OutputLength = 0;
    OutputFailed = false;
    bool complete = PutPlan();
    CloseHandle(BackupFile);
    BackupFile = INVALID_HANDLE_VALUE;
    // The rename within one folder is atomic: the name appears with the whole file. It
    // never replaces a file; a name taken meanwhile moves on to the next number.
    bool named = false;
    for (; complete && !named && number <= MostFilesPerSecond; ++number) {
        wchar_t finalName[FileNameUnits] = {};
        if (!ComposeFileName(finalName, folder, seconds, part, number, false)) break;
        named = MoveFileExW(temporary, finalName, MOVEFILE_WRITE_THROUGH) != 0;
        DWORD error = named ? ERROR_SUCCESS : GetLastError();
        if (!named && error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    if (!named) DeleteFileW(temporary);
    return named;
}

bool SaveRegistryBackup(const wchar_t* progId)
{
    if (!UninstallPlanSound()) return false;
    if (PlannedTreeCount() == 0) return true;
    wchar_t base[FolderUnits] = {};
    wchar_t folder[FolderUnits] = {};
    // Both folders are held, as they were checked, until the file has its name.
    bool saved = BackupFolders(base, folder) && PrepareProtectedFolder(base) && PrepareProtectedFolder(folder) &&
                 WriteBackupFile(progId, folder);
    ReleaseProtectedFolders();
    return saved;
}

void ReportRegistryBackupRefused(const wchar_t* progId)
{
    wchar_t text[ProgIdUnits + 64] = {};
    StringCchCopyW(text, ProgIdUnits + 64, progId);
    StringCchCatW(text, ProgIdUnits + 64, L"\r\n注册表备份无法保存，该控件未卸载！");
    MessageBoxW(GetAncestor(ControlList, GA_PARENT), text, L"提示", MB_OK);
}
