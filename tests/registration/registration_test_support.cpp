#include "tests/registration/registration_test_support.h"

#include "tests/support/native_registry.h"

#include <algorithm>
#include <cstdint>
#include <ctime>

std::wstring MakeTestFolder(const std::wstring& tag)
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    wchar_t unique[64];
    swprintf(unique, 64, L"%lu-%lu", GetCurrentProcessId(), GetTickCount());
    std::wstring folder = std::wstring(temp) + L"regtest-" + tag + L"-" + unique + L"\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

std::wstring MakeDeepFolder(const std::wstring& folder, size_t length)
{
    std::wstring deep = folder;
    while (deep.size() < length) {
        size_t level = std::min<size_t>(length - deep.size(), 200);
        // Never leave one character: it could only be a bare backslash, no level at all.
        if (length - deep.size() - level == 1) --level;
        deep += std::wstring(level - 1, L'd') + L"\\";
        CreateDirectoryW(deep.c_str(), nullptr);
    }
    return deep;
}

std::wstring CopyFixture(const std::wstring& folder, const std::wstring& name)
{
    std::wstring target = folder + name;
    CopyFileW((BinFolder() + L"fixture_com_server.dll").c_str(), target.c_str(), FALSE);
    return target;
}

std::string ReadBytes(const std::wstring& path)
{
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

void WriteBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

std::vector<std::wstring> ReadLines(const std::wstring& path)
{
    std::vector<std::wstring> lines;
    std::string bytes = ReadBytes(path);
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        wchar_t wide[4096] = {};
        MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), wide, 4095);
        lines.push_back(wide);
        start = end + 1;
    }
    return lines;
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring SystemDirectory()
{
    wchar_t folder[MAX_PATH] = {};
    GetSystemDirectoryW(folder, MAX_PATH);
    return folder;
}

std::wstring ProgramBaseFolder()
{
    return std::wstring(1, SystemDirectory()[0]) + L":\\ZemaActiveX\\";
}

// `folder` as the program records it: backslashes, no trailing one.
static std::wstring RecordName(std::wstring folder)
{
    for (wchar_t& c : folder)
        if (c == L'/') c = L'\\';
    while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
    return folder;
}

void ForgetProtectedFolder(const std::wstring& folder)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ProtectedFolderRecords, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueW(key, RecordName(folder).c_str());
    RegCloseKey(key);
}

std::vector<std::wstring> MovedAside(const std::wstring& folder)
{
    std::wstring name = RecordName(folder);
    std::wstring parent = name.substr(0, name.find_last_of(L'\\') + 1);
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((name + L"-moved-*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return found;
    do found.push_back(parent + entry.cFileName);
    while (FindNextFileW(search, &entry));
    FindClose(search);
    std::sort(found.begin(), found.end());
    return found;
}

void RemoveFolderTree(const std::wstring& folder)
{
    std::wstring name = RecordName(folder);
    DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesW(name.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(name.c_str());
        return;
    }
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((name + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring child = entry.cFileName;
            if (child != L"." && child != L"..") RemoveFolderTree(name + L"\\" + child);
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryW(name.c_str());
}

UsersBaseFolder::UsersBaseFolder()
{
    std::wstring base = RecordName(ProgramBaseFolder());
    ForgetProtectedFolder(base);
    ForgetProtectedFolder(base + L"\\backup");
    std::wstring earlier = base + L"-earlier-" + std::to_wstring(GetCurrentProcessId());
    if (MoveFileW(base.c_str(), earlier.c_str())) RemoveFolderTree(earlier);
    asideBefore_ = MovedAside(base);
    CreateDirectoryW(base.c_str(), nullptr);
}

UsersBaseFolder::~UsersBaseFolder()
{
    for (const std::wstring& aside : MovedAside(ProgramBaseFolder()))
        if (std::find(asideBefore_.begin(), asideBefore_.end(), aside) == asideBefore_.end()) RemoveFolderTree(aside);
}

std::wstring UsersBaseFolder::MovedFolder() const
{
    std::vector<std::wstring> aside = MovedAside(ProgramBaseFolder());
    return aside.size() == asideBefore_.size() + 1 ? aside.back() + L"\\" : L"";
}

bool ClassesKeyExists(const std::wstring& path)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

std::wstring ClassesDefault(const std::wstring& path)
{
    wchar_t value[1024] = {};
    LONG size = sizeof value - sizeof(wchar_t);
    RegQueryValueW(HKEY_CLASSES_ROOT, path.c_str(), value, &size);
    return value;
}

void RemoveFixtureKeys(const FixtureIdentity& id)
{
    std::vector<std::wstring> trees = {id.progId, L"CLSID\\" + id.clsid, L"TypeLib\\" + id.typeLib};
    for (const std::wstring& iid : id.interfaces) trees.push_back(L"Interface\\" + iid);
    if (id.full)
        trees.insert(trees.end(), {id.versionedProgId, L"AppID\\" + id.appId, L"Interface\\" + id.outsideInterface});
    // By handles, in both views: a 64-bit copy of the fixture registers in the 64-bit view,
    // and a test may plant a hundred levels or a link below a key.
    for (const std::wstring& tree : trees) {
        DeleteClassesTreeIn(0, tree);
        DeleteClassesTreeIn(KEY_WOW64_64KEY, tree);
    }
}

bool FixtureRegistered(const FixtureIdentity& id, const std::wstring& path)
{
    return ClassesDefault(id.progId + L"\\CLSID") == id.clsid &&
           _wcsicmp(ClassesDefault(L"CLSID\\" + id.clsid + L"\\InprocServer32").c_str(), path.c_str()) == 0 &&
           ClassesDefault(L"CLSID\\" + id.clsid + L"\\TypeLib") == id.typeLib &&
           ClassesKeyExists(L"TypeLib\\" + id.typeLib) &&
           ClassesKeyExists(L"Interface\\" + id.interfaces[0]) &&
           ClassesKeyExists(L"Interface\\" + id.interfaces[1]);
}

ScopedEnvironment::ScopedEnvironment(const wchar_t* name, const wchar_t* value) : name_(name)
{
    wchar_t old[32767];
    hadOld_ = GetEnvironmentVariableW(name, old, 32767) > 0;
    if (hadOld_) old_ = old;
    SetEnvironmentVariableW(name, value);
}

ScopedEnvironment::~ScopedEnvironment()
{
    SetEnvironmentVariableW(name_.c_str(), hadOld_ ? old_.c_str() : nullptr);
}

ScopedCurrentFolder::ScopedCurrentFolder(const std::wstring& folder)
{
    wchar_t old[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, old);
    old_ = old;
    SetCurrentDirectoryW(folder.c_str());
}

ScopedCurrentFolder::~ScopedCurrentFolder()
{
    SetCurrentDirectoryW(old_.c_str());
}

HDROP MakeDrop(const std::vector<std::wstring>& paths)
{
    size_t chars = 1;
    for (const std::wstring& path : paths) chars += path.size() + 1;
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + chars * sizeof(wchar_t));
    auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
    header->pFiles = sizeof(DROPFILES);
    header->fWide = TRUE;
    auto* list = reinterpret_cast<wchar_t*>(header + 1);
    for (const std::wstring& path : paths) {
        wcscpy(list, path.c_str());
        list += path.size() + 1;
    }
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

std::wstring WindowText(HWND window)
{
    std::wstring text(GetWindowTextLengthW(window) + 1, L'\0');
    text.resize(GetWindowTextW(window, &text[0], static_cast<int>(text.size())));
    return text;
}

static std::wstring FolderForNow()
{
    wchar_t folder[MAX_PATH];
    std::wstring system = SystemDirectory();
    swprintf(folder, MAX_PATH, L"%lc:\\ZemaActiveX\\%ld", system[0],
             static_cast<long>(static_cast<int32_t>(time(nullptr))));
    return folder;
}

void WaitForFreshExtractionSecond()
{
    while (FileExists(FolderForNow())) Sleep(50);
}

std::wstring ShownExtractionFolder()
{
    std::wstring folder = ExtractFolderW;
    size_t pattern = folder.find(L"*.*");
    if (pattern != std::wstring::npos) folder.erase(pattern);
    return folder;
}

std::wstring ExtractionFolder()
{
    std::wstring folder = ShownExtractionFolder();
    for (wchar_t& c : folder)
        if (c == L'/') c = L'\\';
    return folder;
}

static TextHistory* CurrentHistory;

TextHistory::TextHistory(HWND window) : window_(window)
{
    CurrentHistory = this;
    old_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TextHistory::Proc)));
}

TextHistory::~TextHistory()
{
    SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old_));
    CurrentHistory = nullptr;
}

LRESULT CALLBACK TextHistory::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!CurrentHistory) return DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_SETTEXT) CurrentHistory->texts.push_back(reinterpret_cast<const wchar_t*>(lParam));
    return CallWindowProcW(CurrentHistory->old_, window, message, wParam, lParam);
}
