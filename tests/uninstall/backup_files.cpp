#include "tests/uninstall/backup_files.h"

#include "system/system.h"
#include "tests/support/unix_link.h"
#include "tests/support/child_process.h"
#include "tests/uninstall/registry_fixture.h"

#include <algorithm>
#include <iterator>
#include <utility>

static std::wstring BaseFolder()
{
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(1, system[0]) + L":\\ZemaActiveX\\";
}

std::wstring BackupFolder()
{
    return BaseFolder() + L"backup\\";
}

std::set<std::wstring> BackupFiles()
{
    std::set<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((BackupFolder() + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.insert(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

std::vector<std::wstring> NewBackupFiles(const std::set<std::wstring>& before)
{
    std::set<std::wstring> now = BackupFiles();
    std::vector<std::wstring> added;
    std::set_difference(now.begin(), now.end(), before.begin(), before.end(), std::back_inserter(added));
    return added;
}

std::wstring ReadBackupFile(const std::wstring& name)
{
    HANDLE file = CreateFileW((BackupFolder() + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return L"";
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
    CloseHandle(file);
    std::wstring text(bytes.size() / 2, L'\0');
    std::copy(bytes.begin(), bytes.begin() + text.size() * 2, reinterpret_cast<char*>(&text[0]));
    return text;
}

DWORD ImportBackup(const std::wstring& name)
{
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    // The file names each key by its stored path, "Wow6432Node" included: on 64-bit
    // Windows it is read in the 64-bit view, where those paths lead.
    return RunToEnd(L"\"" + std::wstring(system) + L"\\reg.exe\" import \"" + BackupFolder() + name + L"\"" +
                    (RunsUnderWow64() ? L" /reg:64" : L""));
}

bool IsBackupNamed(const std::wstring& name, const std::wstring& fileNamePart, long long from, long long to)
{
    size_t dash = name.find(L'-');
    const std::wstring tail = fileNamePart + L".reg";
    if (dash == 0 || dash == std::wstring::npos || name.find_first_not_of(L"0123456789") != dash ||
        name.compare(dash + 1, std::wstring::npos, tail) != 0)
        return false;
    long long seconds = std::stoll(name.substr(0, dash));
    return seconds >= from && seconds <= to;
}

std::vector<std::wstring> UninstallRootsDump(const std::vector<std::wstring>& progIds)
{
    std::vector<std::wstring> roots = {L"CLSID", L"Interface", L"TypeLib", L"AppID", L".qmc", L".qmx"};
    // Under WOW64 this 32-bit process sees the twins as the same keys: dumped once.
    if (!RunsUnderWow64())
        roots.insert(roots.end(), {L"Wow6432Node\\CLSID", L"Wow6432Node\\Interface", L"Wow6432Node\\TypeLib"});
    roots.insert(roots.end(), progIds.begin(), progIds.end());
    std::vector<std::wstring> lines = SubkeyNames(L"");
    std::sort(lines.begin(), lines.end());
    for (const std::wstring& root : roots) {
        std::vector<std::wstring> dump = DumpTree(root);
        lines.insert(lines.end(), dump.begin(), dump.end());
    }
    // The 64-bit view's own class and interface keys; the rest of it is shared.
    if (RunsUnderWow64())
        for (const wchar_t* root : {L"CLSID", L"Interface"})
            for (const std::wstring& line : DumpTreeIn(KEY_WOW64_64KEY, root)) lines.push_back(L"64-bit view: " + line);
    return lines;
}

std::string DumpDifference(const std::vector<std::wstring>& now, const std::vector<std::wstring>& before)
{
    std::vector<std::wstring> sortedNow = now, sortedBefore = before, gone, come;
    std::sort(sortedNow.begin(), sortedNow.end());
    std::sort(sortedBefore.begin(), sortedBefore.end());
    std::set_difference(sortedBefore.begin(), sortedBefore.end(), sortedNow.begin(), sortedNow.end(),
                        std::back_inserter(gone));
    std::set_difference(sortedNow.begin(), sortedNow.end(), sortedBefore.begin(), sortedBefore.end(),
                        std::back_inserter(come));
    std::string text;
    int shown = 0;
    for (const auto& part : {std::make_pair("gone: ", &gone), std::make_pair("came: ", &come)})
        for (const std::wstring& line : *part.second) {
            if (++shown > 40) return text + "...";
            char bytes[1024] = {};
            WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, bytes, sizeof bytes - 1, nullptr, nullptr);
            text += std::string(part.first) + bytes + "\n";
        }
    if (text.empty() && now != before) text = "the same lines in another order\n";
    return text;
}

BlockedBackupFolder::BlockedBackupFolder()
{
    // The program's own base folder, in which nobody else could have made anything.
    PrepareProtectedFolder(BaseFolder().c_str());
    ReleaseProtectedFolders();
    std::wstring folder = BaseFolder() + L"backup";
    if (GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) {
        aside_ = folder + L"-aside-" + std::to_wstring(GetCurrentProcessId());
        if (!MoveFileW(folder.c_str(), aside_.c_str())) aside_.clear();
    }
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    MakeUnixLink(folder, temp);
}

BlockedBackupFolder::~BlockedBackupFolder()
{
    std::wstring folder = BaseFolder() + L"backup";
    if (Blocks()) RemoveUnixLink(folder);
    if (!aside_.empty()) MoveFileW(aside_.c_str(), folder.c_str());
}

bool BlockedBackupFolder::Blocks() const
{
    DWORD attributes = GetFileAttributesW((BaseFolder() + L"backup").c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}
