#pragma once
// The registry backups that uninstalls write, as the tests find, read and restore them.
#include <windows.h>

#include <set>
#include <string>
#include <vector>

// "<system drive>:\ZemaActiveX\backup\".
std::wstring BackupFolder();
// The names of the files in the backup folder.
std::set<std::wstring> BackupFiles();
// The files of the backup folder that are not in `before`, sorted.
std::vector<std::wstring> NewBackupFiles(const std::set<std::wstring>& before);
// The whole file as UTF-16 units, byte-order mark included.
std::wstring ReadBackupFile(const std::wstring& name);
// Restores a backup with the platform's "reg.exe import <file>", in the 64-bit view on
// 64-bit Windows; its exit code.
DWORD ImportBackup(const std::wstring& name);
// True when `name` is "<seconds>-<fileNamePart>.reg" with seconds in [from, to].
bool IsBackupNamed(const std::wstring& name, const std::wstring& fileNamePart, long long from, long long to);
// Every key and value (type and data bytes) below the class, interface, type-library and
// AppID roots, their Wow6432Node twins and, on 64-bit Windows, the 64-bit view's class and
// interface roots, the two extension keys and `progIds`, and the names of all top-level
// keys.
std::vector<std::wstring> UninstallRootsDump(const std::vector<std::wstring>& progIds);

// "" when the two dumps are equal; else the lines only in one of them (at most 40), so
// that a failure says which keys and values differ.
std::string DumpDifference(const std::vector<std::wstring>& now, const std::vector<std::wstring>& before);

// While it lives, a link stands where the backup folder should be in the program's own
// base folder, so no backup can be written (a link is never used nor moved); an existing
// backup folder is moved aside meanwhile.
class BlockedBackupFolder {
public:
    BlockedBackupFolder();
    ~BlockedBackupFolder();
    bool Blocks() const;

private:
    std::wstring aside_;
};
