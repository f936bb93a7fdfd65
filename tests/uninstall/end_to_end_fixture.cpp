#include "tests/uninstall/end_to_end_fixture.h"

#include "system/system.h"
#include "tests/registration/registration_test_support.h"
#include "tests/support/child_process.h"
#include "tests/support/program_path.h"
#include "tests/uninstall/registry_fixture.h"

std::wstring CopyFixture(const std::wstring& name, bool bits64)
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"uninstall-tests-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring path = folder + name;
    DeleteFileW(FixtureCallRecordPath(path).c_str());
    CopyFileW((BinFolder() + (bits64 ? L"fixture_com_server64.dll" : L"fixture_com_server.dll")).c_str(), path.c_str(),
              FALSE);
    return path;
}

std::vector<std::wstring> CallRecord(const std::wstring& dllPath)
{
    return ReadLines(FixtureCallRecordPath(dllPath));
}

DWORD RunRegsvr32(const std::wstring& dllPath)
{
    return RunToEnd(L"\"" + SystemDirectory() + L"\\regsvr32.exe\" /s \"" + dllPath + L"\"");
}

void UninstallEndToEnd::TearDown()
{
    Forget();
    RemoveExtensionKeys();
    for (const std::wstring& name : NewBackupFiles(backups)) DeleteFileW((BackupFolder() + name).c_str());
    UninstallPageTest::TearDown();
}

void UninstallEndToEnd::Forget()
{
    for (const std::wstring& copy : copies) {
        RemoveFixtureKeys(FixtureIdentityFromFileName(copy));
        DeleteFileW(copy.c_str());
        DeleteFileW(FixtureCallRecordPath(copy).c_str());
    }
    if (!path.empty()) RemoveDirectoryW(path.substr(0, path.find_last_of(L'\\')).c_str());
    copies.clear();
    path.clear();
}

void UninstallEndToEnd::Register(const std::wstring& name, bool likeADrop, bool bits64)
{
    path = CopyFixture(name, bits64);
    copies.push_back(path);
    id = FixtureIdentityFromFileName(path);
    RemoveFixtureKeys(id);
    if (likeADrop)
        ASSERT_TRUE(RegisterComponentFile(path.c_str()));
    else
        ASSERT_EQ(RunRegsvr32(path), 0u);
    ASSERT_TRUE(KeyExistsIn(bits64 ? KEY_WOW64_64KEY : 0, L"CLSID\\" + id.clsid + L"\\InprocServer32"));
}

void UninstallEndToEnd::Click(HWND button)
{
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

std::vector<std::wstring> UninstallEndToEnd::Query()
{
    Click(QueryButton);
    return ControlListEntries();
}
