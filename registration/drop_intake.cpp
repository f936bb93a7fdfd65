// Takes the first file dropped on the Register page: registers a control file, or unpacks
// a cabinet and registers every control file found in it.
#include "registration/registration.h"
#include "system/system.h"

#include <strsafe.h>

wchar_t StatusText[StatusTextCapacity] = L"拖入文件路径:";

static const wchar_t RestingStatus[] = L"拖入文件路径:";
static const wchar_t CabinetSucceeded[] = L"注册状态:注册成功！";
static const wchar_t CabinetFailed[] = L"注册状态:注册失败！";
static const wchar_t ListCut[] = L"...\r\n";
static const wchar_t ControlHead[] = L"拖入文件路径：";
static const wchar_t ControlFailed[] = L"\r\n注册状态：文件注册失败！";

void AppendStatusListLine(const wchar_t* line)
{
    size_t used = 0, length = 0;
    StringCchLengthW(StatusText, StatusTextCapacity, &used);
    StringCchLengthW(line, STRSAFE_MAX_CCH, &length);
    // Room is kept for the cut marker and the longer of the two status lines.
    size_t reserve = ARRAYSIZE(ListCut) - 1 + ARRAYSIZE(CabinetSucceeded) - 1;
    if (used + length + 2 + reserve < StatusTextCapacity) {
        StringCchCatW(StatusText, StatusTextCapacity, line);
        StringCchCatW(StatusText, StatusTextCapacity, L"\r\n");
    } else if (used < ARRAYSIZE(ListCut) - 1 ||
               wcscmp(StatusText + used - (ARRAYSIZE(ListCut) - 1), ListCut) != 0) {
        StringCchCatW(StatusText, StatusTextCapacity, ListCut);  // once: the list is cut
    }
}

static bool EndsWith(const wchar_t* path, const wchar_t* extension)
{
    size_t length = wcslen(path);
    return length >= 4 && wcscmp(path + length - 4, extension) == 0;
}

static bool IsControlFile(const wchar_t* path)
{
    return EndsWith(path, L".ocx") || EndsWith(path, L".dll");
}

static void RegisterDroppedControl(const wchar_t* path)
{
    const wchar_t* resultLine = RegisterComponentFile(path) ? L"\r\n注册状态：文件注册成功！" : ControlFailed;
    // A path too long for the result text is cut there so that the result line still shows.
    wchar_t result[1000] = {};
    size_t room = ARRAYSIZE(result) - wcslen(resultLine);
    StringCchCopyW(result, room, ControlHead);
    StringCchCatW(result, room, path);
    StringCchCatW(result, ARRAYSIZE(result), resultLine);
    SetWindowTextW(InfoEdit, result);
}

// Registers every control file of the extraction folder; true when one succeeded.
static bool RegisterExtractedControls()
{
    wchar_t folder[200] = {};
    // A cut folder would name another folder; the candidates are formed from this copy.
    // Without a folder of this drop there is nothing to scan.
    if (ExtractFolderW[0] == L'\0' || FAILED(StringCchCopyW(folder, 200, ExtractFolderW))) return false;
    StringCchCatW(ExtractFolderW, ExtractFolderWCapacity, L"*.*");

    bool anySucceeded = false;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(ExtractFolderW, &entry);
    if (search == INVALID_HANDLE_VALUE) return false;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        wchar_t candidate[400] = {};
        if (FAILED(StringCchCopyW(candidate, 400, folder)) ||
            FAILED(StringCchCatW(candidate, 400, entry.cFileName)))
            continue;  // a cut path would name another file
        if (IsControlFile(candidate) && RegisterComponentFile(candidate)) anySucceeded = true;
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return anySucceeded;
}

static void HandleDroppedCabinet(const wchar_t* path)
{
    char pathA[1000] = {};
    // A path whose system-code-page form does not fit, or has a best-fit look-alike ('Ā' as
    // 'A') that would name another file, is left empty: a cabinet the library cannot open,
    // which ends as any unreadable cabinet.
    ToSystemCodePageExactly(path, pathA, 1000, GetACP());
    // The program's folder and this cabinet's folder are held from their check until the
    // last control of the cabinet is registered: none of them can be renamed or replaced.
    CabinetOutcome outcome = ExtractCabinet(path, pathA);
    if (outcome == CabinetOutcome::NotRead) {
        ReleaseProtectedFolders();
        return;
    }

    // A cabinet that did not unpack whole registers nothing: half a package is no package.
    // Its files stay in its folder, listed.
    bool anySucceeded = outcome == CabinetOutcome::Unpacked && RegisterExtractedControls();
    ReleaseProtectedFolders();
    SendMessageW(InfoEdit, WM_VSCROLL, SB_BOTTOM, 0);
    StringCchCatW(StatusText, StatusTextCapacity, anySucceeded ? CabinetSucceeded : CabinetFailed);
    SetWindowTextW(InfoEdit, StatusText);
    StringCchCopyW(StatusText, StatusTextCapacity, RestingStatus);
    SendMessageW(InfoEdit, WM_VSCROLL, SB_BOTTOM, 0);
}

// A dropped path of 1000 or more units. Its extension lies past the buffer, and no control
// or cabinet path that long could be registered or opened anyway: it ends as a failed
// registration, with no path shown (PathEdit is left empty).
static void RefuseOverlongPath()
{
    wchar_t result[ARRAYSIZE(ControlHead) + ARRAYSIZE(ControlFailed)] = {};
    StringCchCopyW(result, ARRAYSIZE(result), ControlHead);
    StringCchCatW(result, ARRAYSIZE(result), ControlFailed);
    SetWindowTextW(InfoEdit, result);
}

void HandleFileDrop(HDROP drop)
{
    wchar_t path[1000] = {};
    // A longer path is never read: cut, it would name another file.
    bool fits = DragQueryFileW(drop, 0, nullptr, 0) < ARRAYSIZE(path);
    if (fits) DragQueryFileW(drop, 0, path, ARRAYSIZE(path));
    DragFinish(drop);

    SetWindowTextW(PathEdit, path);
    if (!fits)
        RefuseOverlongPath();
    else if (IsControlFile(path))
        RegisterDroppedControl(path);
    else if (EndsWith(path, L".cab"))
        HandleDroppedCabinet(path);
    else
        SetWindowTextW(InfoEdit, L"ERROR:拖入不是.cab、.ocx、.dll文件！");
}
