// A dropped cabinet is checked and unpacked by a child process: this program's own file,
// started again with "/unpack-cabinet". The platform's cabinet library has faults that
// malformed cabinets reach (it writes past its buffers and reads through null tables on
// some false MSZIP data, and LZX and Quantum data have the same kind of holes): in the
// child they end the child, and the drop ends as a cabinet that did not unpack. The two
// share one small report: the child's progress, its list of files and its result.
#include "registration/registration.h"

#include <strsafe.h>

#include <cstring>
#include <cwchar>

namespace {
constexpr wchar_t UnpackSwitch[] = L"/unpack-cabinet";
// A child that shows no progress (blocks checked, files created, bytes written) for this
// long is ended: unpacking that goes on never pauses for more than a moment.
constexpr DWORD StallLimitMs = 10000;

struct UnpackReport {
    volatile LONG progress;
    volatile LONG state;
    wchar_t folder[ExtractFolderWCapacity];
    wchar_t list[StatusTextCapacity];
};
}  // namespace

// The program's file, held from the start (see HoldProgramFile), and its path.
static HANDLE ProgramFile = INVALID_HANDLE_VALUE;
static wchar_t ProgramFileName[MAX_PATH];
// In the child: the report it shares with the drop's process.
static UnpackReport* Report;
DWORD UnpackChildExitCode;

void HoldProgramFile()
{
    if (ProgramFile != INVALID_HANDLE_VALUE) return;
    DWORD length = GetModuleFileNameW(nullptr, ProgramFileName, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    // Shared for reading only, so that the file (often in a folder its user may change)
    // can be neither written, renamed nor deleted while the program runs: the child that
    // this path starts is the program itself.
    ProgramFile = CreateFileW(ProgramFileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

void NoteUnpackProgress()
{
    if (Report) InterlockedIncrement(&Report->progress);
}

void PublishUnpackList()
{
    if (Report) memcpy(Report->list, StatusText, sizeof Report->list);
}

// Starts the child on `cabinet` and `mapping` and waits for it, ending it when it stalls.
static UnpackState RunChild(HANDLE cabinet, HANDLE mapping, UnpackReport* report)
{
    wchar_t commandLine[MAX_PATH + 64] = {};
    wchar_t systemDirectory[MAX_PATH] = {};
    UINT length = GetSystemDirectoryW(systemDirectory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH ||
        FAILED(StringCchPrintfW(commandLine, ARRAYSIZE(commandLine), L"\"%ls\" %ls %lu %lu", ProgramFileName,
                                UnpackSwitch, static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(cabinet)),
                                static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(mapping)))))
        return UnpackState::Stopped;
    // Only these two handles are made inheritable, and only while the child starts.
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    SetHandleInformation(cabinet, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    SetHandleInformation(mapping, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    BOOL started = CreateProcessW(ProgramFileName, commandLine, nullptr, nullptr, TRUE, 0, nullptr, systemDirectory,
                                  &startup, &process);
    SetHandleInformation(cabinet, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(mapping, HANDLE_FLAG_INHERIT, 0);
    if (!started) return UnpackState::Stopped;
    CloseHandle(process.hThread);

    LONG seen = report->progress;
    DWORD changed = GetTickCount();
    while (WaitForSingleObject(process.hProcess, 100) == WAIT_TIMEOUT) {
        if (report->progress != seen) {
            seen = report->progress;
            changed = GetTickCount();
        } else if (GetTickCount() - changed > StallLimitMs) {
            TerminateProcess(process.hProcess, ERROR_TIMEOUT);
            WaitForSingleObject(process.hProcess, INFINITE);
            break;
        }
    }
    DWORD exitCode = 0;
    bool ended = GetExitCodeProcess(process.hProcess, &exitCode);
    UnpackChildExitCode = exitCode;
    CloseHandle(process.hProcess);
    // Only a child that ended by returning its result is believed; a fault or a stall
    // leaves the state running, and ends the child with another code.
    LONG state = report->state;
    bool told = ended && state > static_cast<LONG>(UnpackState::Running) &&
                state <= static_cast<LONG>(UnpackState::Broken) && exitCode == static_cast<DWORD>(state);
    return told ? static_cast<UnpackState>(state) : UnpackState::Stopped;
}

UnpackState UnpackInChild(HANDLE cabinet)
{
    if (ProgramFile == INVALID_HANDLE_VALUE) return UnpackState::Stopped;
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(UnpackReport), nullptr);
    if (!mapping) return UnpackState::Stopped;
    auto* report = static_cast<UnpackReport*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(UnpackReport)));
    UnpackState state = UnpackState::Stopped;
    if (report) {
        StringCchCopyW(report->folder, ExtractFolderWCapacity, ExtractFolderW);
        StringCchCopyW(report->list, StatusTextCapacity, StatusText);
        report->state = static_cast<LONG>(UnpackState::Running);
        state = RunChild(cabinet, mapping, report);
        // What the child listed up to its end, whatever that end was.
        report->list[StatusTextCapacity - 1] = L'\0';
        StringCchCopyW(StatusText, StatusTextCapacity, report->list);
        UnmapViewOfFile(report);
    }
    CloseHandle(mapping);
    return state;
}

// A fault ends the child at once, with its code: no error report waits for a click.
static LONG WINAPI EndOnFault(EXCEPTION_POINTERS* fault)
{
    TerminateProcess(GetCurrentProcess(), fault->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

static int UnpackForParent(HANDLE cabinet, HANDLE mapping)
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(EndOnFault);
    Report = static_cast<UnpackReport*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(UnpackReport)));
    if (!Report) return -1;
    Report->folder[ExtractFolderWCapacity - 1] = L'\0';
    StringCchCopyW(ExtractFolderW, ExtractFolderWCapacity, Report->folder);
    UnpackState state = UnpackCheckedCabinet(cabinet);
    PublishUnpackList();
    Report->state = static_cast<LONG>(state);
    return static_cast<int>(state);
}

bool RunAsUnpackChild(int* exitCode)
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    bool child = arguments && count == 4 && wcscmp(arguments[1], UnpackSwitch) == 0;
    if (child) {
        auto handle = [](const wchar_t* text) {
            return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(wcstoul(text, nullptr, 10)));
        };
        *exitCode = UnpackForParent(handle(arguments[2]), handle(arguments[3]));
    }
    LocalFree(arguments);
    return child;
}
