// Benchmark driver (run by scripts/bench-extract.sh, not by the tests): unpacks one
// cabinet through ExtractCabinet with the real main window, then through the platform's
// own extrac32.exe (Wine's expand.exe does not unpack these cabinets), and prints the best time of each.
// Then it times the pieces of an extraction on their own, over the same cabinet.dll: the
// library's reads and decompression with nothing written, the files written as the platform's
// tool writes them and as ExtractCabinet does, their date, time and attributes, the list,
// the folder, the cabinet check and the unpacking child's start; and, for scale, one showing of the list in InfoEdit,
// which the drop intake does once the cabinet is unpacked.
// Usage: bench_extract <cabinet> <scratch folder> <runs> <one-file cabinet>
#include "app/app.h"
#include "registration/registration.h"
#include "system/system.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <fdi.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include <strsafe.h>

static double Seconds()
{
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Runs a command line to its end; returns its wall time in seconds.
static double RunTool(std::wstring line)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    double start = Seconds();
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    double elapsed = Seconds() - start;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return elapsed;
}

static double Best(double a, double b)
{
    return a < 0 || (b >= 0 && b < a) ? b : a;
}

// How a piece's FDICopy reads the cabinet and what it does with the files.
enum class Reads { Runtime, Win32 };
enum class Output { Discard, Win32, Runtime, RuntimeWithAttributes };
static Reads PieceReads;
static Output PieceOutput;
static std::wstring PieceFolder;             // ends in a backslash
static std::vector<std::wstring> StoredNames;  // of the latest FDICopy
static const INT_PTR Discarded = 0x7FFF;     // no descriptor or handle has this value

static FNALLOC(PieceAlloc)
{
    return malloc(cb);
}

static FNFREE(PieceFree)
{
    free(pv);
}

static FNOPEN(PieceOpen)
{
    if (PieceReads == Reads::Runtime) return _open(pszFile, oflag, pmode);
    HANDLE file = CreateFileA(pszFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    return file == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<INT_PTR>(file);
}

static FNREAD(PieceRead)
{
    if (PieceReads == Reads::Runtime) return static_cast<UINT>(_read(static_cast<int>(hf), pv, cb));
    DWORD read = 0;
    return ReadFile(reinterpret_cast<HANDLE>(hf), pv, cb, &read, nullptr) ? read : static_cast<UINT>(-1);
}

static FNSEEK(PieceSeek)
{
    if (PieceReads == Reads::Runtime) return _lseek(static_cast<int>(hf), dist, seektype);
    return static_cast<long>(SetFilePointer(reinterpret_cast<HANDLE>(hf), dist, nullptr, seektype));
}

// Closes the cabinet; the unpacked files are closed by the notification.
static FNCLOSE(PieceClose)
{
    if (PieceReads == Reads::Runtime) return _close(static_cast<int>(hf));
    return CloseHandle(reinterpret_cast<HANDLE>(hf)) ? 0 : -1;
}

static FNWRITE(PieceWrite)
{
    if (hf == Discarded) return cb;
    if (PieceOutput != Output::Win32) return static_cast<UINT>(_write(static_cast<int>(hf), pv, cb));
    DWORD written = 0;
    return WriteFile(reinterpret_cast<HANDLE>(hf), pv, cb, &written, nullptr) ? written : static_cast<UINT>(-1);
}

static INT_PTR PieceBeginFile(const FDINOTIFICATION* file)
{
    wchar_t name[MAX_PATH] = {};
    MultiByteToWideChar(CP_ACP, 0, file->psz1, -1, name, MAX_PATH);
    StoredNames.push_back(PieceFolder + name);
    const wchar_t* target = StoredNames.back().c_str();
    switch (PieceOutput) {
    case Output::Discard:
        return Discarded;
    case Output::Win32: {
        HANDLE handle = CreateFileW(target, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        return handle == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<INT_PTR>(handle);
    }
    default:
        return _wopen(target, _O_WRONLY | _O_BINARY | _O_SEQUENTIAL | _O_CREAT | _O_EXCL, _S_IREAD | _S_IWRITE);
    }
}

static INT_PTR PieceFinishFile(const FDINOTIFICATION* file)
{
    switch (PieceOutput) {
    case Output::Discard:
        return 1;
    case Output::Win32:
        return CloseHandle(reinterpret_cast<HANDLE>(file->hf));
    case Output::RuntimeWithAttributes: {
        wchar_t name[MAX_PATH] = {};
        MultiByteToWideChar(CP_ACP, 0, file->psz1, -1, name, MAX_PATH);
        std::wstring target = PieceFolder + name;
        SetStoredDateAndAttributes(static_cast<int>(file->hf), target.c_str(), file->date, file->time, file->attribs);
        return 1;
    }
    default:
        return _close(static_cast<int>(file->hf)) == 0;
    }
}

static FNFDINOTIFY(PieceNotify)
{
    switch (fdint) {
    case fdintCOPY_FILE:
        return PieceBeginFile(pfdin);
    case fdintCLOSE_FILE_INFO:
        return PieceFinishFile(pfdin);
    default:
        return 0;
    }
}

// One FDICopy of the cabinet into a new folder below the scratch folder; its time in
// seconds, or -1 when the copy failed.
static double TimeCopy(const std::wstring& cabinet, const std::wstring& folder, Reads reads, Output output)
{
    PieceReads = reads;
    PieceOutput = output;
    PieceFolder = folder + L"\\";
    StoredNames.clear();
    CreateDirectoryW(folder.c_str(), nullptr);
    char path[1000] = {};
    WideCharToMultiByte(CP_ACP, 0, cabinet.c_str(), -1, path, 1000, nullptr, nullptr);
    char* lastBackslash = strrchr(path, '\\');
    std::string name = lastBackslash + 1;
    lastBackslash[1] = '\0';
    ERF error;
    double start = Seconds();
    HFDI context = FDICreate(PieceAlloc, PieceFree, PieceOpen, PieceRead, PieceWrite, PieceClose, PieceSeek,
                             cpu80386, &error);
    bool copied = context && FDICopy(context, &name[0], path, 0, PieceNotify, nullptr, nullptr);
    if (context) FDIDestroy(context);
    double elapsed = Seconds() - start;
    return copied ? elapsed : -1;
}

// The list of unpacked files as ExtractCabinet keeps it: one AppendStatusListLine per file.
static double TimeList()
{
    StringCchCopyW(StatusText, StatusTextCapacity, L"解压文件列表:\r\n");
    double start = Seconds();
    for (const std::wstring& name : StoredNames) AppendStatusListLine(name.c_str());
    return Seconds() - start;
}

// One SetWindowTextW of InfoEdit with a status text near its capacity, per call.
static double TimeShowingFullText()
{
    std::wstring full = L"解压文件列表:\r\n";
    while (full.size() + StoredNames.front().size() + 2 < StatusTextCapacity - 20)
        full += StoredNames.front() + L"\r\n";
    const int calls = 10;
    double start = Seconds();
    for (int i = 0; i < calls; ++i) SetWindowTextW(InfoEdit, full.c_str());
    return (Seconds() - start) / calls;
}

// The drop's folder as ExtractCabinet makes it: the base folder made or checked as the
// administrators' own, and a new folder below it with the same protection.
static double TimeFolder(const std::wstring& scratch, int run)
{
    std::wstring base = scratch + L"\\folder-" + std::to_wstring(run) + L"\\";
    double start = Seconds();
    PrepareProtectedFolder(base.c_str());
    CreateProtectedFolder((base + L"1234567890\\").c_str());
    HoldProtectedFolder((base + L"1234567890\\").c_str());
    double elapsed = Seconds() - start;
    ReleaseProtectedFolders();
    return elapsed;
}

// The check of the cabinet's own description before the library is given it.
static double TimeCheck(const std::wstring& cabinet)
{
    double start = Seconds();
    HANDLE file = CreateFileW(cabinet.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    CabinetPlan plan;
    IsSoundCabinet(file, &plan);
    CloseHandle(file);
    return Seconds() - start;
}

// The unpacking child's start and end alone: this program started as one, with no report
// to work for.
static double TimeChildStart()
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return RunTool(L"\"" + std::wstring(self) + L"\" /unpack-cabinet 0 0");
}

static void PrintPiece(const char* label, double seconds, double toolNet)
{
    printf("  %-58s %7.3f s  %5.2f of extrac32 net\n", label, seconds, seconds / toolNet);
}

int wmain(int argc, wchar_t** argv)
{
    // ExtractCabinet unpacks in a child that is this program started again.
    int exitCode = 0;
    if (RunAsUnpackChild(&exitCode)) return exitCode;
    HoldProgramFile();
    if (argc < 5) return 2;
    std::wstring cabinet = argv[1], scratch = argv[2];
    int runs = _wtoi(argv[3]);
    CreateMainWindow(GetModuleHandleW(nullptr));

    double ours = -1, extrac32 = -1, startup = -1;
    std::wstring system(MAX_PATH, L'\0');
    system.resize(GetSystemDirectoryW(&system[0], MAX_PATH));
    for (int run = 0; run < runs; ++run) {
        char pathA[1000] = {};
        WideCharToMultiByte(CP_ACP, 0, cabinet.c_str(), -1, pathA, 1000, nullptr, nullptr);
        StringCchCopyW(StatusText, StatusTextCapacity, L"拖入文件路径:");
        double start = Seconds();
        CabinetOutcome outcome = ExtractCabinet(cabinet.c_str(), pathA);
        double took = Seconds() - start;
        // As the drop intake does after each cabinet: its folders are held no longer.
        ReleaseProtectedFolders();
        // A run that did not unpack the whole cabinet is no time of an extraction.
        if (outcome != CabinetOutcome::Unpacked) {
            printf("ExtractCabinet did not unpack the cabinet in run %d\n", run + 1);
            return 1;
        }
        ours = Best(ours, took);
        std::wstring target = scratch + L"\\extrac32-" + std::to_wstring(run);
        extrac32 = Best(extrac32, RunTool(L"\"" + system + L"\\extrac32.exe\" /Y /E /L \"" + target + L"\" \"" + cabinet + L"\""));
        // The tool's start-up: extrac32 on a cabinet of one tiny file.
        startup = Best(startup, RunTool(L"\"" + system + L"\\extrac32.exe\" /Y /E /L \"" + scratch +
                                        L"\\tiny\" \"" + argv[4] + L"\""));
    }
    printf("folder %s\n", ExtractFolder);
    printf("ExtractCabinet %.3f s\nextrac32.exe %.3f s\ntool start-up %.3f s\n", ours, extrac32, startup);

    struct Piece {
        const char* label;
        Reads reads;
        Output output;
    } pieces[] = {
        {"library: reads (C runtime) and decompression, no files", Reads::Runtime, Output::Discard},
        {"library: reads (Win32 handles) and decompression, no files", Reads::Win32, Output::Discard},
        {"+ files created, written, closed (Win32 handles)", Reads::Win32, Output::Win32},
        {"+ files created, written, closed (C runtime, as ours)", Reads::Runtime, Output::Runtime},
        {"+ date, time and attributes (as ours)", Reads::Runtime, Output::RuntimeWithAttributes},
    };
    double toolNet = extrac32 - startup;
    printf("pieces, best of %d (fraction: of extrac32's time net of start-up, %.3f s):\n", runs, toolNet);
    int folderNumber = 0;
    for (const Piece& piece : pieces) {
        double best = -1;
        for (int run = 0; run < runs; ++run)
            best = Best(best, TimeCopy(cabinet, scratch + L"\\piece-" + std::to_wstring(folderNumber++), piece.reads,
                                       piece.output));
        PrintPiece(piece.label, best, toolNet);
    }
    double list = -1, fullText = -1, folder = -1, check = -1, child = -1;
    for (int run = 0; run < runs; ++run) {
        list = Best(list, TimeList());
        fullText = Best(fullText, TimeShowingFullText());
        folder = Best(folder, TimeFolder(scratch, run));
        check = Best(check, TimeCheck(cabinet));
        child = Best(child, TimeChildStart());
    }
    char label[100];
    StringCchPrintfA(label, 100, "list (%u files), as ours", static_cast<unsigned>(StoredNames.size()));
    PrintPiece(label, list, toolNet);
    PrintPiece("folder (protected)", folder, toolNet);
    PrintPiece("cabinet check (IsSoundCabinet)", check, toolNet);
    PrintPiece("unpacking child started and ended, nothing to do", child, toolNet);
    printf("  for scale, not in ExtractCabinet: one SetWindowTextW of InfoEdit with a near-full list,\n"
           "  as the drop intake shows the result: %.1f ms\n", fullText * 1000);
    return 0;
}
