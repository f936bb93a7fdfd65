#pragma once
// Component registration: drop intake and cabinet extraction.
#include <windows.h>
#include <shellapi.h>

#include <cstdint>

// The main window's two edit controls: the dropped path, and what became of it.
extern HWND PathEdit;
extern HWND InfoEdit;

constexpr int StatusTextCapacity = 1000;
// What InfoEdit shows while a cabinet is handled; "拖入文件路径:" at rest.
extern wchar_t StatusText[StatusTextCapacity];

// Appends one line of the list of unpacked files to StatusText (ExtractCabinet shows it).
// Near the limit the list ends with a "..." line, so that the final status line always fits.
void AppendStatusListLine(const wchar_t* line);

// Handles a WM_DROPFILES of the Register page; releases the drop handle.
void HandleFileDrop(HDROP drop);

// The folder of the latest cabinet, e.g. "C:/ZemaActiveX/1765321234/" (system code page
// and UTF-16), made by that cabinet's drop; empty before the first cabinet and when the
// latest one got no folder of its own (nothing is then scanned). The drop intake's folder
// search appends "*.*" to ExtractFolderW, which keeps it until the next cabinet.
constexpr int ExtractFolderCapacity = 500;
constexpr int ExtractFolderWCapacity = 256;
extern char ExtractFolder[ExtractFolderCapacity];
extern wchar_t ExtractFolderW[ExtractFolderWCapacity];

// What became of a dropped cabinet.
enum class CabinetOutcome {
    NotRead,   // the cabinet library could not be used at all; a message box told the user
    Stopped,   // refused, or its copy did not finish whole: nothing of it is registered
    Unpacked,  // every file unpacked whole under its stored name
};

// Unpacks the cabinet into a new time-named folder, listing each file in StatusText; the
// drop intake shows the list with its result (InfoEdit is set here only before a message
// box). `cabinetPathA` (the same path in the system code page, writable; empty when it
// did not convert exactly) is cut after its last backslash. The cabinet is read through
// the UTF-16 path, opened so that nobody can write to it until the copy has ended, then
// checked and unpacked by a child process (this program started once more), so that a
// fault of the cabinet library never ends or hangs the window.
CabinetOutcome ExtractCabinet(const wchar_t* cabinetPathW, char* cabinetPathA);

// Bounds of the cabinets that are unpacked. Under Wine, creating files in one folder
// costs about the square of their number (10,000 take some 20 s, 2,000 under a second);
// no control package comes near, and the list shows only its first twenty lines.
constexpr uint32_t MaxCabinetFiles = 2000;
// An LZX or Quantum folder after an MSZIP one is unpacked in a pass of the library of its
// own, and each pass reads the whole file table again; no sound package needs more.
constexpr int MaxCabinetRuns = 16;
// How the check found a cabinet: its files, the bytes they declare, and the library's
// passes (each ends before folder runEnd[i]).
struct CabinetPlan {
    uint32_t files;
    uint64_t declaredBytes;
    int runs;
    uint16_t runEnd[MaxCabinetRuns];
};
// True when the cabinet open as `cabinet` describes itself soundly: no continuation into
// or from another cabinet, the file entries right after the folder entries, each file in
// one folder and within its data, after the one before it, the folders' data blocks one
// after the other, each inside the file, within the library's buffers, its checksum
// right where one is stored and an MSZIP block with its signature. Reads each part once.
bool IsSoundCabinet(HANDLE cabinet, CabinetPlan* plan);
// True when files declaring `declared` bytes fit in `available` bytes of free space with a
// margin left to the system (a full system drive can keep the registry from being saved).
bool DeclaredBytesFit(uint64_t declared, uint64_t available);
// Reads `count` bytes at `offset` of `cabinet`, whatever its file position was (it is left
// after them); the number read, 0 on failure.
DWORD ReadCabinetAt(HANDLE cabinet, uint64_t offset, void* buffer, DWORD count);

// The cabinet library's view of the checked cabinet, as its open, read, seek and close
// callbacks give it: each open has its own position over the one file (`_open`'s
// contract), read at explicit offsets of the handle that SetCheckedCabinet names.
void SetCheckedCabinet(HANDLE cabinet);
INT_PTR OpenCabinetView();
UINT ReadCabinetView(INT_PTR view, void* buffer, UINT count);
long SeekCabinetView(INT_PTR view, long distance, int origin);
int CloseCabinetView(INT_PTR view);

// How cabinet.dll is loaded from the system directory: where the loader knows the search
// flags (`searchFlagsKnown`: kernel32 exports AddDllDirectory) by its name with
// LOAD_LIBRARY_SEARCH_SYSTEM32, elsewhere (XP, Vista and 7 without that update, which
// refuse the flag) by its full path. False when the path does not fit `capacity`.
bool ChooseCabinetLibraryLoad(bool searchFlagsKnown, const wchar_t* systemDirectory, wchar_t* file, int capacity,
                              DWORD* flags);

// Gives the file written through `descriptor` the date and time (MS-DOS words, local
// time) stored with it in a cabinet, closes the descriptor, then gives the file at
// `target` the stored attributes: read-only, hidden, system and archive pass.
void SetStoredDateAndAttributes(int descriptor, const wchar_t* target, USHORT date, USHORT time,
                                USHORT attributes);

// Unpacking child. The program's own file is kept open from its start, so that nobody can
// rename or replace it while it runs; the unpacking child is that file started again.
void HoldProgramFile();
// When this process was started as a drop's unpacking child: unpacks, sets `exitCode`
// and returns true. The program's entry points call it first.
bool RunAsUnpackChild(int* exitCode);
// The child's side: checks and unpacks the cabinet open as `cabinet` into ExtractFolderW,
// listing each file in StatusText. Calls NoteUnpackProgress as it goes.
enum class UnpackState : LONG { Running, Whole, Stopped, NoContext, Broken };
UnpackState UnpackCheckedCabinet(HANDLE cabinet);
// The parent's side: runs the child on `cabinet` (ExtractFolderW made, StatusText holding
// the list's head) and takes its list into StatusText; Stopped when the child faulted,
// stalled or could not be started.
UnpackState UnpackInChild(HANDLE cabinet);
// How the latest unpacking child ended: its exit code (its state, when it returned one; a
// fault's code, or ERROR_TIMEOUT when it stalled and was ended). Kept for the campaign's tally.
extern DWORD UnpackChildExitCode;
// Tells the parent that the child is still at work (a child that stops telling is ended).
void NoteUnpackProgress();
// Publishes StatusText to the parent (the list survives a fault of the child).
void PublishUnpackList();
