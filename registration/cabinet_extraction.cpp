// Unpacks a dropped cabinet with the platform's cabinet library (FDI) into a new folder
// named after the current time below "<system drive>:/ZemaActiveX/".
#include "app/app.h"
#include "registration/registration.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <fdi.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>

#include <strsafe.h>

char ExtractFolder[ExtractFolderCapacity];
wchar_t ExtractFolderW[ExtractFolderWCapacity];
static ERF CabinetError;

static FNALLOC(CabinetAlloc)
{
    return malloc(cb);
}

static FNFREE(CabinetFree)
{
    free(pv);
}

static FNOPEN(CabinetOpen)
{
    return _open(pszFile, oflag, pmode);
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
// CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, CONIN$ or CONOUT$, with any extension.
static bool IsDeviceName(const wchar_t* component, size_t length)
{
    static const wchar_t* const devices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    size_t stem = 0;
    while (stem < length && component[stem] != L'.' && component[stem] != L' ') ++stem;
    for (const wchar_t* device : devices)
        if (stem == wcslen(device) && _wcsnicmp(component, device, stem) == 0) return true;
    return stem == 4 && (_wcsnicmp(component, L"COM", 3) == 0 || _wcsnicmp(component, L"LPT", 3) == 0) &&
           component[3] >= L'1' && component[3] <= L'9';
}

// True when a stored name stays inside the extraction folder: not rooted, no drive or
// stream colon, no component that the file system reads as the parent folder, and no
// device name.
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
    // A new file is created empty; a same-named file of an earlier cabinet in this folder
    // is emptied so that it keeps no tail. (Truncating through the open itself would
    // refuse an existing hidden file.)
    const int flags = _O_WRONLY | _O_BINARY | _O_SEQUENTIAL;
    int descriptor = _wopen(target, flags | _O_CREAT | _O_EXCL, _S_IREAD | _S_IWRITE);
    if (descriptor == -1 && errno == EEXIST) {
        descriptor = _wopen(target, flags);
        if (descriptor != -1 && _chsize(descriptor, 0) != 0) {
            _close(descriptor);
            return -1;
        }
    }
    return descriptor;
}

// A file has been written: gives it the stored date, time and attributes and closes it.
// They are set through the descriptor's own handle: opening every file once more would
// make unpacking many small files markedly slower.
static INT_PTR FinishFile(const FDINOTIFICATION* file)
{
    FILE_BASIC_INFO info = {};
    FILETIME local, utc;
    if (DosDateTimeToFileTime(file->date, file->time, &local) == 1 &&
        LocalFileTimeToFileTime(&local, &utc) == 1) {
        info.CreationTime.LowPart = utc.dwLowDateTime;
        info.CreationTime.HighPart = static_cast<LONG>(utc.dwHighDateTime);
        info.LastWriteTime = info.CreationTime;
    }
    DWORD attributes = file->attribs & (_A_RDONLY | _A_HIDDEN | _A_SYSTEM | _A_ARCH);
    info.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(static_cast<int>(file->hf)));
    SetFileInformationByHandle(handle, FileBasicInfo, &info, sizeof info);
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

const char* CreateExtractionFolder(const char* baseFolder)
{
    static char folder[512];
    folder[0] = '\0';
    long seconds = static_cast<long>(static_cast<int32_t>(static_cast<uint32_t>(time(nullptr))));
    StringCchPrintfA(folder, 512, "%s%ld/", baseFolder, seconds);

    wchar_t baseW[1000] = {};
    wchar_t folderW[1000] = {};
    MultiByteToWideChar(CP_ACP, 0, baseFolder, -1, baseW, 1000);
    MultiByteToWideChar(CP_ACP, 0, folder, -1, folderW, 1000);
    CreateDirectoryW(baseW, nullptr);
    CreateDirectoryW(folderW, nullptr);
    return folder;
}

bool ExtractCabinet(const wchar_t* cabinetPathW, char* cabinetPathA)
{
    // The library takes the file name and its folder (with the backslash) apart.
    char name[500] = {};
    char* lastBackslash = strrchr(cabinetPathA, '\\');
    bool nameFits = SUCCEEDED(StringCchCopyA(name, 500, lastBackslash ? lastBackslash + 1 : cabinetPathA));
    if (lastBackslash) lastBackslash[1] = '\0';
    else cabinetPathA[0] = '\0';

    wchar_t systemDirectory[260] = {};
    GetSystemDirectoryW(systemDirectory, 260);
    StringCchCopyW(systemDirectory + 1, 259, L":/ZemaActiveX/");
    char baseFolder[260] = {};
    WideCharToMultiByte(CP_ACP, 0, systemDirectory, -1, baseFolder, 260, nullptr, nullptr);

    StringCchCopyA(ExtractFolder, ExtractFolderCapacity, CreateExtractionFolder(baseFolder));
    ExtractFolderW[0] = L'\0';
    MultiByteToWideChar(CP_ACP, 0, ExtractFolder, -1, ExtractFolderW, ExtractFolderWCapacity);

    StringCchCatW(StatusText, StatusTextCapacity, cabinetPathW);
    StringCchCatW(StatusText, StatusTextCapacity, L"\r\n新建文件夹:");
    StringCchCatW(StatusText, StatusTextCapacity, ExtractFolderW);
    StringCchCatW(StatusText, StatusTextCapacity, L"\r\n");
    SetWindowTextW(InfoEdit, L"");
    SetWindowTextW(InfoEdit, StatusText);
    StringCchCopyW(StatusText, StatusTextCapacity, L"解压文件列表:\r\n");

    HFDI context = FDICreate(CabinetAlloc, CabinetFree, CabinetOpen, CabinetRead, CabinetWrite,
                             CabinetClose, CabinetSeek, cpu80386, &CabinetError);
    if (!context) {
        MessageBoxW(InfoEdit, L"", L"", MB_OK);
        return false;
    }
    // A name too long for its buffer is a cabinet that cannot be opened.
    bool copied = nameFits && FDICopy(context, name, cabinetPathA, 0, CabinetNotify, nullptr, nullptr);
    bool destroyed = FDIDestroy(context);
    if (copied || destroyed) return true;
    MessageBoxW(InfoEdit, L"error", L"", MB_OK);
    return false;
}
