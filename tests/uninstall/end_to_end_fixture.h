#pragma once
// Copies of the fixture COM server registered through the real regsvr32 and uninstalled
// through the Uninstall page of the real main window.
#include "tests/fixtures/fixture_identity.h"
#include "tests/uninstall/backup_files.h"
#include "tests/uninstall/uninstall_page_fixture.h"

#include <set>
#include <string>
#include <vector>

// A copy of the fixture server (the x86-64 build with `bits64`) named `name` in a fresh
// folder, with no call record yet.
std::wstring CopyFixture(const std::wstring& name, bool bits64 = false);
// The lines of the copy's call record: "register ok", "unregister ok", ...
std::vector<std::wstring> CallRecord(const std::wstring& dllPath);
// Registers with the system's regsvr32 alone, for a server that refuses to unregister
// (which RegisterComponentFile asks first); its exit code.
DWORD RunRegsvr32(const std::wstring& dllPath);

class UninstallEndToEnd : public UninstallPageTest {
protected:
    void TearDown() override;
    // Removes the registered copies' keys, the copies and their call records.
    void Forget();
    // Registers a copy of the fixture named `name` as a dropped control file is
    // registered, or with regsvr32 alone.
    void Register(const std::wstring& name, bool likeADrop = true, bool bits64 = false);
    void Click(HWND button);
    // The ProgIDs the list shows after a query.
    std::vector<std::wstring> Query();

    // The latest copy registered, and all of them.
    std::wstring path;
    FixtureIdentity id;
    std::vector<std::wstring> copies;
    // The backup files there were before the test.
    std::set<std::wstring> backups = BackupFiles();
};
