// Unpacks a dropped cabinet with the platform's cabinet library (FDI) into a new folder
// named after the current time below "<system drive>:/ZemaActiveX/". The folder is made by
// this drop and belongs to administrators, since what lands in it is registered elevated.
// The drop's process makes the folder and opens the cabinet; a child process (see
// unpack_process.cpp) checks it and runs the library (UnpackCheckedCabinet).
#include "registration/registration.h"
#include "system/system.h"

#include <winternl.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <fdi.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>

#include <strsafe.h>

char ExtractFolder[ExtractFolderCapacity];
wchar_t ExtractFolderW[ExtractFolderWCapacity];
static ERF CabinetError;
static const wchar_t ListHead[] = L"解压文件列表:\r\n";

// The cabinet as it was checked: the library reads this handle, so it reads the file that
// was checked even when the name is given to another file meanwhile.
static HANDLE CheckedCabinet = INVALID_HANDLE_VALUE;
// Its size, which nobody can change while it is held (-1: unknown).
static int64_t CheckedCabinetSize = -1;
// Each of the library's opens of it: a position of its own. The handles given to the
// library lie above every runtime descriptor (the unpacked files'), which share its close.
struct CabinetView {
    bool open;
    uint64_t position;
};
static CabinetView CabinetViews[4];
constexpr INT_PTR FirstCabinetView = 0x10000;

// What the library may write: the one file it is unpacking, up to the length it declared.
static int OutputFile = -1;
static uint32_t OutputLeft;
static bool OutputRefused;
// The folders of the library's current pass, and the files completed so far.
static uint32_t RunFirstFolder, RunEndFolder, FilesCompleted;

bool ChooseCabinetLibraryLoad(bool searchFlagsKnown, const wchar_t* systemDirectory, wchar_t* file, int capacity,
                              DWORD* flags)
{
    if (searchFlagsKnown) {
        *flags = LOAD_LIBRARY_SEARCH_SYSTEM32;
        return SUCCEEDED(StringCchCopyW(file, capacity, L"cabinet.dll"));
    }
    // The full path names the file; its own imports are then looked for beside it first.
    *flags = LOAD_WITH_ALTERED_SEARCH_PATH;
    return systemDirectory[0] != L'\0' && SUCCEEDED(StringCchPrintfW(file, capacity, L"%ls\\cabinet.dll", systemDirectory));
}

// The cabinet library's entry points, from the system directory only: a cabinet.dll
// beside the program or in the current folder is never loaded.
struct CabinetLibrary {
    decltype(&FDICreate) create;
    decltype(&FDICopy) copy;
    decltype(&FDIDestroy) destroy;
};

static bool LoadCabinetLibrary(CabinetLibrary* library)
{
    // Kept once loaded; a failed load is tried again with the next cabinet.
    static HMODULE module;
    if (!module) {
        wchar_t systemDirectory[MAX_PATH] = {};
        UINT length = GetSystemDirectoryW(systemDirectory, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) systemDirectory[0] = L'\0';
        bool searchFlagsKnown = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "AddDllDirectory") != nullptr;
        wchar_t file[MAX_PATH + 20] = {};
        DWORD flags = 0;
        if (!ChooseCabinetLibraryLoad(searchFlagsKnown, systemDirectory, file, MAX_PATH + 20, &flags)) return false;
        module = LoadLibraryExW(file, nullptr, flags);
        if (!module) return false;
    }
    library->create = reinterpret_cast<decltype(&FDICreate)>(
        reinterpret_cast<void*>(GetProcAddress(module, "FDICreate")));
    library->copy = reinterpret_cast<decltype(&FDICopy)>(reinterpret_cast<void*>(GetProcAddress(module, "FDICopy")));
    library->destroy = reinterpret_cast<decltype(&FDIDestroy)>(
        reinterpret_cast<void*>(GetProcAddress(module, "FDIDestroy")));
    return library->create && library->copy && library->destroy;
}

void SetCheckedCabinet(HANDLE cabinet)
{
    CheckedCabinet = cabinet;
    LARGE_INTEGER size;
    CheckedCabinetSize = cabinet != INVALID_HANDLE_VALUE && GetFileSizeEx(cabinet, &size) ? size.QuadPart : -1;
    for (CabinetView& view : CabinetViews) view = CabinetView{};
}

INT_PTR OpenCabinetView()
{
    if (CheckedCabinet == INVALID_HANDLE_VALUE) return -1;
    for (int i = 0; i < static_cast<int>(ARRAYSIZE(CabinetViews)); ++i) {
        if (CabinetViews[i].open) continue;
        CabinetViews[i] = CabinetView{true, 0};
        return FirstCabinetView + i;
    }
    return -1;
}

static CabinetView* ViewOf(INT_PTR view)
{
    INT_PTR index = view - FirstCabinetView;
    if (index < 0 || index >= static_cast<INT_PTR>(ARRAYSIZE(CabinetViews)) || !CabinetViews[index].open) return nullptr;
    return &CabinetViews[index];
}

UINT ReadCabinetView(INT_PTR view, void* buffer, UINT count)
{
    CabinetView* at = ViewOf(view);
    if (!at) return static_cast<UINT>(-1);
    DWORD read = ReadCabinetAt(CheckedCabinet, at->position, buffer, count);
    at->position += read;
    return read;
}

long SeekCabinetView(INT_PTR view, long distance, int origin)
{
    CabinetView* at = ViewOf(view);
    if (!at || CheckedCabinetSize < 0) return -1;
    int64_t base = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? static_cast<int64_t>(at->position) : CheckedCabinetSize;
    int64_t target = base + distance;
    if ((origin != SEEK_SET && origin != SEEK_CUR && origin != SEEK_END) || target < 0 || target > 0x7FFFFFFF) return -1;
    at->position = static_cast<uint64_t>(target);
    return static_cast<long>(target);
}

int CloseCabinetView(INT_PTR view)
{
    CabinetView* at = ViewOf(view);
    if (!at) return -1;
    at->open = false;
    return 0;
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
    return OpenCabinetView();
}

static FNREAD(CabinetRead)
{
    return ReadCabinetView(hf, pv, cb);
}

// Writes to the file being unpacked, never past the length its entry declares.
static FNWRITE(CabinetWrite)
{
    if (hf != OutputFile || cb > OutputLeft) {
        OutputRefused = true;
        return static_cast<UINT>(-1);
    }
    int written = _write(static_cast<int>(hf), pv, cb);
    if (written != static_cast<int>(cb)) {
        OutputRefused = true;
        return static_cast<UINT>(-1);
    }
    OutputLeft -= cb;
    NoteUnpackProgress();
    return cb;
}

// The library closes its cabinet views here, and an unpacked file when it gives up on it.
static FNCLOSE(CabinetClose)
{
    if (hf >= FirstCabinetView) return CloseCabinetView(hf);
    if (hf == OutputFile) OutputFile = -1;
    return _close(static_cast<int>(hf));
}

static FNSEEK(CabinetSeek)
{
    return SeekCabinetView(hf, dist, seektype);
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
// name, no character that Windows refuses in a name (which another file system might take
// or change), and no component ending in a dot or blank (the platform drops those, so that
// "x.ocx." would become the control x.ocx, listed as something else).
static bool NameStaysInFolder(const wchar_t* name)
{
    if (name[0] == L'\\' || name[0] == L'/' || wcspbrk(name, L":<>\"|?*")) return false;
    for (const wchar_t* at = name; *at; ++at)
        if (*at < 0x20) return false;
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
// system-code-page text. With MB_ERR_INVALID_CHARS, false for bytes that are no text in
// that encoding (a replacement reading would name another file); without, the reading
// that the list shows.
static bool StoredName(const FDINOTIFICATION* file, DWORD flags, wchar_t* name, int capacity)
{
    UINT codePage = (file->attribs & _A_NAME_IS_UTF) ? CP_UTF8 : CP_ACP;
    return MultiByteToWideChar(codePage, flags, file->psz1, -1, name, capacity) != 0;
}

// The UTF-16 target path of a stored name: ExtractFolderW followed by the name.
static bool TargetPath(const wchar_t* name, wchar_t* target, int capacity)
{
    return SUCCEEDED(StringCchCopyW(target, capacity, ExtractFolderW)) &&
           SUCCEEDED(StringCchCatW(target, capacity, name));
}

// The file system's own calls for a file open as a handle, in ntdll on every version: its
// query and its setting of one class of information, which take the same arguments.
using FileInformationCall = LONG(NTAPI*)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, FILE_INFORMATION_CLASS);
constexpr FILE_INFORMATION_CLASS BasicOfFile = static_cast<FILE_INFORMATION_CLASS>(4);     // FileBasicInformation
constexpr FILE_INFORMATION_CLASS NameOfFile = static_cast<FILE_INFORMATION_CLASS>(9);      // FileNameInformation
constexpr FILE_INFORMATION_CLASS DeletionOfFile = static_cast<FILE_INFORMATION_CLASS>(13);  // FileDispositionInformation

static FileInformationCall NtFileCall(const char* name)
{
    return reinterpret_cast<FileInformationCall>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

// True when the file open as `created` carries exactly `name` as its last component, read
// back from the file system: Wine cuts a name whose UTF-8 form exceeds 255 bytes, so that
// a stored "....txt" could be created as "....ocx".
static bool CreatedUnderItsName(HANDLE created, const wchar_t* name)
{
    FileInformationCall query = NtFileCall("NtQueryInformationFile");
    alignas(ULONG) BYTE buffer[sizeof(ULONG) + 2048 * sizeof(wchar_t)] = {};
    IO_STATUS_BLOCK status = {};
    if (!query || query(created, &status, buffer, sizeof buffer, NameOfFile) != 0) return false;
    ULONG bytes = *reinterpret_cast<ULONG*>(buffer);
    const wchar_t* path = reinterpret_cast<const wchar_t*>(buffer + sizeof(ULONG));
    size_t length = bytes / sizeof(wchar_t), nameLength = wcslen(name);
    if (bytes > sizeof buffer - sizeof(ULONG) || length <= nameLength) return false;
    return path[length - nameLength - 1] == L'\\' && wmemcmp(path + length - nameLength, name, nameLength) == 0;
}

// Removes the file open as `created` (with delete access) once the handle is closed.
static void DeleteOnClose(HANDLE created)
{
    FileInformationCall set = NtFileCall("NtSetInformationFile");
    BOOLEAN deleteFile = TRUE;
    IO_STATUS_BLOCK status = {};
    if (set) set(created, &status, &deleteFile, sizeof deleteFile, DeletionOfFile);
}

// A file is about to be unpacked: lists it, then creates its target (-1 stops the copy).
static INT_PTR BeginFile(const FDINOTIFICATION* file)
{
    // Each pass of the library unpacks its own folders; the others' files are passed over.
    if (file->iFolder < RunFirstFolder || file->iFolder >= RunEndFolder) return 0;
    wchar_t name[1000] = {};
    wchar_t target[1000] = {};
    bool valid = StoredName(file, MB_ERR_INVALID_CHARS, name, 1000);
    if (!valid) StoredName(file, 0, name, 1000);
    bool composed = TargetPath(name, target, 1000);
    AppendStatusListLine(target);
    PublishUnpackList();
    if (!valid || !composed || !NameStaysInFolder(name)) return -1;
    // The folder is new, so every file is new: a name that exists already is a second
    // entry of the same name, which stops the copy like any refused name.
    HANDLE created = CreateFileW(target, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (created == INVALID_HANDLE_VALUE) return -1;
    int descriptor = -1;
    if (CreatedUnderItsName(created, name))
        descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(created), _O_WRONLY | _O_BINARY);
    if (descriptor == -1) {
        DeleteOnClose(created);
        CloseHandle(created);
        return -1;
    }
    NoteUnpackProgress();
    OutputFile = descriptor;
    OutputLeft = file->cb;
    return descriptor;
}

// The attributes of the file open as `handle`, from its basic information: asking for
// all of it would read back its name as well, which costs Wine as much as the file.
static bool AttributesOf(HANDLE handle, DWORD* attributes)
{
    struct BasicInformation {
        LARGE_INTEGER times[4];
        ULONG attributes;
    } basic = {};
    FileInformationCall query = NtFileCall("NtQueryInformationFile");
    IO_STATUS_BLOCK status = {};
    if (!query || query(handle, &status, &basic, sizeof basic, BasicOfFile) != 0) return false;
    *attributes = basic.attributes;
    return true;
}

// The date and time through the descriptor's own handle (opening every file once more
// would make unpacking many small files markedly slower); the attributes by name once the
// file is closed, so that a read-only file is written no more, and only when the new file
// does not have them already: most stored files carry just the archive bit, which every
// new file has.
void SetStoredDateAndAttributes(int descriptor, const wchar_t* target, USHORT date, USHORT time,
                                USHORT attributes)
{
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
    FILETIME local, utc;
    if (DosDateTimeToFileTime(date, time, &local) == 1 && LocalFileTimeToFileTime(&local, &utc) == 1)
        SetFileTime(handle, &utc, nullptr, &utc);
    DWORD kept = attributes & (_A_RDONLY | _A_HIDDEN | _A_SYSTEM | _A_ARCH);
    DWORD wanted = kept ? kept : FILE_ATTRIBUTE_NORMAL, has = 0;
    bool asWanted = AttributesOf(handle, &has) && has == wanted;
    _close(descriptor);
    if (!asWanted) SetFileAttributesW(target, wanted);
}

// A file has been written: gives it the stored date, time and attributes and closes it.
static INT_PTR FinishFile(const FDINOTIFICATION* file)
{
    // The name was composed and accepted when the file was opened.
    wchar_t name[1000] = {};
    wchar_t target[1000] = {};
    if (StoredName(file, MB_ERR_INVALID_CHARS, name, 1000) && TargetPath(name, target, 1000))
        SetStoredDateAndAttributes(static_cast<int>(file->hf), target, file->date, file->time, file->attribs);
    else
        _close(static_cast<int>(file->hf));
    return 1;
}

// A file is whole when the library wrote every byte its entry declares, and only those.
static INT_PTR CloseFile(const FDINOTIFICATION* file)
{
    bool whole = file->hf == OutputFile && OutputLeft == 0 && !OutputRefused;
    OutputFile = -1;
    if (whole) ++FilesCompleted;
    return FinishFile(file);
}

static FNFDINOTIFY(CabinetNotify)
{
    switch (fdint) {
    case fdintCOPY_FILE:
        return BeginFile(pfdin);
    case fdintCLOSE_FILE_INFO:
        return CloseFile(pfdin);
    // Other cabinets of a set are never opened: the library would be handed this one
    // again and ask for the next one for ever.
    case fdintNEXT_CABINET:
    case fdintPARTIAL_FILE:
        return -1;
    default:
        return 0;
    }
}

bool DeclaredBytesFit(uint64_t declared, uint64_t available)
{
    constexpr uint64_t margin = 64ull << 20;
    return declared <= available && available - declared >= margin;
}

// Room for the declared files on the folder's drive (what this user may use of it).
static bool FreeSpaceAllows(uint64_t declaredBytes)
{
    ULARGE_INTEGER available;
    return GetDiskFreeSpaceExW(ExtractFolderW, &available, nullptr, nullptr) &&
           DeclaredBytesFit(declaredBytes, available.QuadPart);
}

UnpackState UnpackCheckedCabinet(HANDLE cabinet)
{
    StringCchCopyW(StatusText, StatusTextCapacity, ListHead);
    CabinetLibrary library;
    CabinetPlan plan;
    if (!LoadCabinetLibrary(&library)) return UnpackState::NoContext;
    if (!IsSoundCabinet(cabinet, &plan) || !FreeSpaceAllows(plan.declaredBytes)) return UnpackState::Stopped;
    SetCheckedCabinet(cabinet);
    FilesCompleted = 0;
    OutputRefused = false;
    // The library opens the cabinet through CabinetOpen, whatever it is called.
    char name[] = "checked.cab", folder[] = "";
    bool copied = true, destroyed = true;
    // One pass per run of folders, each with a fresh context: the library keeps its
    // decoders' state per pass.
    for (int run = 0; run < plan.runs && copied; ++run) {
        RunFirstFolder = run == 0 ? 0 : plan.runEnd[run - 1];
        RunEndFolder = plan.runEnd[run];
        HFDI context = library.create(CabinetAlloc, CabinetFree, CabinetOpen, CabinetRead, CabinetWrite, CabinetClose,
                                      CabinetSeek, cpu80386, &CabinetError);
        if (!context) return UnpackState::NoContext;
        copied = library.copy(context, name, folder, 0, CabinetNotify, nullptr, nullptr) && !OutputRefused;
        destroyed = library.destroy(context) && destroyed;
    }
    SetCheckedCabinet(INVALID_HANDLE_VALUE);
    if (copied && FilesCompleted == plan.files) return UnpackState::Whole;
    return copied || destroyed ? UnpackState::Stopped : UnpackState::Broken;
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

CabinetOutcome ExtractCabinet(const wchar_t* cabinetPathW, char* cabinetPathA)
{
    // The library takes the file name and its folder (with the backslash) apart. A path
    // that is not the exact form of the one shown is a cabinet that cannot be read.
    char name[500] = {};
    char* lastBackslash = LastBackslash(cabinetPathA);
    bool nameFits = IsExactForm(cabinetPathW, cabinetPathA) &&
                    SUCCEEDED(StringCchCopyA(name, 500, lastBackslash ? lastBackslash + 1 : cabinetPathA));
    if (lastBackslash) lastBackslash[1] = '\0';
    else cabinetPathA[0] = '\0';

    // The library first: without it no folder is made. Without a folder of its own the
    // cabinet is neither unpacked nor scanned.
    CabinetLibrary library;
    bool loaded = LoadCabinetLibrary(&library);
    bool haveFolder = loaded && PrepareExtractionFolder();
    if (!loaded) ExtractFolder[0] = '\0', ExtractFolderW[0] = L'\0';
    bool folderConverted = haveFolder && ToSystemCodePageExactly(ExtractFolderW, ExtractFolder, ExtractFolderCapacity, GetACP());

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

    UnpackState state = loaded ? UnpackState::Stopped : UnpackState::NoContext;
    // A name too long for its buffer is a cabinet that cannot be opened. Nobody may write
    // to the cabinet, rename or delete it from the check to the end of the copy.
    if (folderConverted && nameFits) {
        HANDLE cabinet = CreateFileW(cabinetPathW, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        if (cabinet != INVALID_HANDLE_VALUE) {
            state = UnpackInChild(cabinet);
            CloseHandle(cabinet);
        }
    }
    switch (state) {
    case UnpackState::Whole:
        return CabinetOutcome::Unpacked;
    case UnpackState::NoContext:
        SetWindowTextW(InfoEdit, startText);
        MessageBoxW(InfoEdit, L"", L"", MB_OK);
        return CabinetOutcome::NotRead;
    case UnpackState::Broken:
        SetWindowTextW(InfoEdit, wcscmp(StatusText, ListHead) != 0 ? StatusText : startText);
        MessageBoxW(InfoEdit, L"error", L"", MB_OK);
        return CabinetOutcome::NotRead;
    default:
        return CabinetOutcome::Stopped;
    }
}
