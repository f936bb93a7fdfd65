// Unpacks a dropped cabinet with the platform's cabinet library (FDI) into a new folder
// named after the current time below "<system drive>:/ZemaActiveX/". The folder is made by
// this drop and belongs to administrators, since what lands in it is registered elevated.
#include "registration/registration.h"
#include "system/system.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <fdi.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <strsafe.h>

char ExtractFolder[ExtractFolderCapacity];
wchar_t ExtractFolderW[ExtractFolderWCapacity];
static ERF CabinetError;
static const wchar_t ListHead[] = L"解压文件列表:\r\n";
// The cabinet as it was checked; the library is handed this descriptor, so it reads the
// file that was checked even when the name is given to another file meanwhile.
static int CheckedCabinet = -1;

// The cabinet library's entry points, from the system directory only: a cabinet.dll
// beside the program or in the current folder is never loaded.
struct CabinetLibrary {
    decltype(&FDICreate) create;
    decltype(&FDICopy) copy;
    decltype(&FDIDestroy) destroy;
};

static bool LoadCabinetLibrary(CabinetLibrary* library)
{
    static HMODULE module = LoadLibraryExW(L"cabinet.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!module) return false;
    library->create = reinterpret_cast<decltype(&FDICreate)>(
        reinterpret_cast<void*>(GetProcAddress(module, "FDICreate")));
    library->copy = reinterpret_cast<decltype(&FDICopy)>(reinterpret_cast<void*>(GetProcAddress(module, "FDICopy")));
    library->destroy = reinterpret_cast<decltype(&FDIDestroy)>(
        reinterpret_cast<void*>(GetProcAddress(module, "FDIDestroy")));
    return library->create && library->copy && library->destroy;
}

static FNALLOC(CabinetAlloc)
{
    return malloc(cb);
}

static FNFREE(CabinetFree)
{
    free(pv);
}

// The library opens nothing but the cabinet (other cabinets of a set are not followed).
static FNOPEN(CabinetOpen)
{
    (void)pszFile, (void)oflag, (void)pmode;
    if (CheckedCabinet == -1 || _lseek(CheckedCabinet, 0, SEEK_SET) != 0) return -1;
    return _dup(CheckedCabinet);
}

static FNREAD(CabinetRead)
{
    return static_cast<UINT>(_read(static_cast<int>(hf), pv, cb));
}

static FNWRITE(CabinetWrite)
{
    return static_cast<UINT>(_write(static_cast<int>(hf), pv, cb));
}

static FNCLOSE(CabinetClose)
{
    return _close(static_cast<int>(hf));
}

static FNSEEK(CabinetSeek)
{
    return _lseek(static_cast<int>(hf), dist, seektype);
}

// True when `component` (of `length` characters) names a device rather than a file:
// CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9 (the digit may be a superscript ¹ ² ³), CONIN$
// or CONOUT$, with any extension.
static bool IsDeviceName(const wchar_t* component, size_t length)
{
    static const wchar_t* const devices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    size_t stem = 0;
    while (stem < length && component[stem] != L'.' && component[stem] != L' ') ++stem;
    for (const wchar_t* device : devices)
        if (stem == wcslen(device) && _wcsnicmp(component, device, stem) == 0) return true;
    return stem == 4 && (_wcsnicmp(component, L"COM", 3) == 0 || _wcsnicmp(component, L"LPT", 3) == 0) &&
           ((component[3] >= L'1' && component[3] <= L'9') || wcschr(L"\u00B9\u00B2\u00B3", component[3]));
}

// True when a stored name stays inside the extraction folder: not rooted, no drive or
// stream colon, no component that the file system reads as the parent folder, no device
// name, and no component ending in a dot or blank (the platform drops those, so that
// "x.ocx." would become the control x.ocx, listed as something else).
static bool NameStaysInFolder(const wchar_t* name)
{
    if (name[0] == L'\\' || name[0] == L'/' || wcschr(name, L':')) return false;
    const wchar_t* component = name;
    while (true) {
        size_t length = wcscspn(component, L"\\/");
        // "..", and forms such as "..." or ".. " that the platform trims to it.
        size_t dots = 0;
        bool onlyDotsAndBlanks = length > 0;
        for (size_t i = 0; i < length; ++i) {
            if (component[i] == L'.') ++dots;
            else if (component[i] != L' ') onlyDotsAndBlanks = false;
        }
        if ((onlyDotsAndBlanks && dots >= 2) || IsDeviceName(component, length)) return false;
        if (length > 0 && (component[length - 1] == L'.' || component[length - 1] == L' ')) return false;
        if (component[length] == L'\0') return true;
        component += length + 1;
    }
}

// The stored name in UTF-16: decoded as UTF-8 when the cabinet flags it so, else as
// system-code-page text.
static bool StoredName(const FDINOTIFICATION* file, wchar_t* name, int capacity)
{
    UINT codePage = (file->attribs & _A_NAME_IS_UTF) ? CP_UTF8 : CP_ACP;
    return MultiByteToWideChar(codePage, 0, file->psz1, -1, name, capacity) != 0;
}

// The UTF-16 target path of a stored name: ExtractFolderW followed by the name.
static bool TargetPath(const wchar_t* name, wchar_t* target, int capacity)
{
    return SUCCEEDED(StringCchCopyW(target, capacity, ExtractFolderW)) &&
           SUCCEEDED(StringCchCatW(target, capacity, name));
}

// A file is about to be unpacked: lists it, then opens its target (-1 stops the copy).
static INT_PTR BeginFile(const FDINOTIFICATION* file)
{
    wchar_t name[1000] = {};
    wchar_t target[1000] = {};
    bool composed = StoredName(file, name, 1000) && TargetPath(name, target, 1000);
    AppendStatusListLine(target);
    if (!composed || !NameStaysInFolder(name)) return -1;
    // The folder is new, so every file is new: a name that exists already is a second
    // entry of the same name, which stops the copy like any refused name.
    return _wopen(target, _O_WRONLY | _O_BINARY | _O_SEQUENTIAL | _O_CREAT | _O_EXCL, _S_IREAD | _S_IWRITE);
}

// The date and time through the descriptor's own handle (opening every file once more
// would make unpacking many small files markedly slower); the attributes by name once the
// file is closed, so that a read-only file is written no more.
void SetStoredDateAndAttributes(int descriptor, const wchar_t* target, USHORT date, USHORT time,
                                USHORT attributes)
{
    FILETIME local, utc;
    if (DosDateTimeToFileTime(date, time, &local) == 1 && LocalFileTimeToFileTime(&local, &utc) == 1)
        SetFileTime(reinterpret_cast<HANDLE>(_get_osfhandle(descriptor)), &utc, nullptr, &utc);
    _close(descriptor);
    DWORD kept = attributes & (_A_RDONLY | _A_HIDDEN | _A_SYSTEM | _A_ARCH);
    SetFileAttributesW(target, kept ? kept : FILE_ATTRIBUTE_NORMAL);
}

// A file has been written: gives it the stored date, time and attributes and closes it.
static INT_PTR FinishFile(const FDINOTIFICATION* file)
{
    // The name was composed and accepted when the file was opened.
    wchar_t name[1000] = {};
    wchar_t target[1000] = {};
    if (StoredName(file, name, 1000) && TargetPath(name, target, 1000))
        SetStoredDateAndAttributes(static_cast<int>(file->hf), target, file->date, file->time, file->attribs);
    else
        _close(static_cast<int>(file->hf));
    return 1;
}

static FNFDINOTIFY(CabinetNotify)
{
    switch (fdint) {
    case fdintCOPY_FILE:
        return BeginFile(pfdin);
    case fdintCLOSE_FILE_INFO:
        return FinishFile(pfdin);
    default:
        return 0;
    }
}

// Creates a time-named subfolder of `base` that no one made before: a name that is taken
// is tried again with the next second's name, for five seconds.
static bool CreateTimeFolder(const wchar_t* base, wchar_t* folder, int capacity)
{
    const time_t first = time(nullptr);
    for (time_t now = first;;) {
        long seconds = static_cast<long>(static_cast<int32_t>(static_cast<uint32_t>(now)));
        if (FAILED(StringCchPrintfW(folder, capacity, L"%ls%ld/", base, seconds))) return false;
        if (CreateProtectedFolder(folder)) return HoldProtectedFolder(folder);
        if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
        while (time(nullptr) == now) Sleep(20);
        now = time(nullptr);
        if (now - first >= 5) return false;
    }
}

// Makes this drop's folder and sets ExtractFolderW to it; both stay empty when the base
// folder is not the administrators' own or no new time folder could be made. Both folders
// stay held until the drop intake releases them.
static bool PrepareExtractionFolder()
{
    ExtractFolder[0] = '\0';
    ExtractFolderW[0] = L'\0';
    wchar_t base[260] = {};
    if (!ProgramFolder(base, 260)) return false;
    wchar_t folder[ExtractFolderWCapacity] = {};
    if (!PrepareProtectedFolder(base) || !CreateTimeFolder(base, folder, ExtractFolderWCapacity)) return false;
    return SUCCEEDED(StringCchCopyW(ExtractFolderW, ExtractFolderWCapacity, folder));
}

// True when `pathA` is `pathW` in the system code page, with no character replaced by a
// look-alike or the default character (the library would open another file).
static bool IsExactForm(const wchar_t* pathW, const char* pathA)
{
    char exact[1000] = {};
    return pathA[0] != '\0' && ToSystemCodePageExactly(pathW, exact, 1000, GetACP()) && strcmp(exact, pathA) == 0;
}

// The last backslash of a system-code-page path. The second byte of a double-byte
// character can have the backslash's value (0x5C in code page 936), so characters are
// stepped over whole.
static char* LastBackslash(char* path)
{
    char* last = nullptr;
    for (char* at = path; *at; ++at) {
        if (IsDBCSLeadByte(static_cast<BYTE>(*at)) && at[1]) ++at;
        else if (*at == '\\') last = at;
    }
    return last;
}

// Unpacks the cabinet, checked first, from the descriptor CheckedCabinet.
static bool CopyCabinet(const CabinetLibrary& library, HFDI context, const wchar_t* cabinetPathW, char* name,
                        char* folder)
{
    CheckedCabinet = _wopen(cabinetPathW, _O_RDONLY | _O_BINARY);
    if (CheckedCabinet == -1) return false;
    bool copied = IsSoundCabinet(CheckedCabinet) && library.copy(context, name, folder, 0, CabinetNotify, nullptr, nullptr);
    _close(CheckedCabinet);
    CheckedCabinet = -1;
    return copied;
}

bool ExtractCabinet(const wchar_t* cabinetPathW, char* cabinetPathA)
{
    // The library takes the file name and its folder (with the backslash) apart. A path
    // that is not the exact form of the one shown is a cabinet that cannot be read.
    char name[500] = {};
    char* lastBackslash = LastBackslash(cabinetPathA);
    bool nameFits = IsExactForm(cabinetPathW, cabinetPathA) &&
                    SUCCEEDED(StringCchCopyA(name, 500, lastBackslash ? lastBackslash + 1 : cabinetPathA));
    if (lastBackslash) lastBackslash[1] = '\0';
    else cabinetPathA[0] = '\0';

    // Without a folder of its own the cabinet is neither unpacked nor scanned.
    bool haveFolder = PrepareExtractionFolder();
    bool folderConverted =
        haveFolder && ToSystemCodePageExactly(ExtractFolderW, ExtractFolder, ExtractFolderCapacity, GetACP());

    StringCchCatW(StatusText, StatusTextCapacity, cabinetPathW);
    StringCchCatW(StatusText, StatusTextCapacity, L"\r\n新建文件夹:");
    StringCchCatW(StatusText, StatusTextCapacity, ExtractFolderW);
    StringCchCatW(StatusText, StatusTextCapacity, L"\r\n");
    // No message is handled while a drop is worked on, so InfoEdit is painted only under
    // a message box of this function or once the drop intake shows its result (the list
    // and the status line). What it shows is set there only: every showing lays the
    // whole text out anew, which costs as much as unpacking a few megabytes.
    wchar_t startText[StatusTextCapacity] = {};
    StringCchCopyW(startText, StatusTextCapacity, StatusText);
    StringCchCopyW(StatusText, StatusTextCapacity, ListHead);

    CabinetLibrary library;
    HFDI context = nullptr;
    if (LoadCabinetLibrary(&library))
        context = library.create(CabinetAlloc, CabinetFree, CabinetOpen, CabinetRead, CabinetWrite, CabinetClose,
                                 CabinetSeek, cpu80386, &CabinetError);
    if (!context) {
        SetWindowTextW(InfoEdit, startText);
        MessageBoxW(InfoEdit, L"", L"", MB_OK);
        return false;
    }
    // A name too long for its buffer is a cabinet that cannot be opened.
    bool copied = folderConverted && nameFits && CopyCabinet(library, context, cabinetPathW, name, cabinetPathA);
    bool destroyed = library.destroy(context);
    if (copied || destroyed) return true;
    SetWindowTextW(InfoEdit, wcscmp(StatusText, ListHead) != 0 ? StatusText : startText);
    MessageBoxW(InfoEdit, L"error", L"", MB_OK);
    return false;
}
