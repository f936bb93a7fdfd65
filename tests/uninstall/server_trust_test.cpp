// An uninstall as a local user without administrator rights would steer it: through the
// user's own variables, a server file in a folder everyone may write, and the program's
// folder made by the user before the program's first run, with a backup planted in it or
// a file where the backup folder goes.
#include "system/system.h"
#include "tests/registration/registration_test_support.h"
#include "tests/support/unix_link.h"
#include "tests/support/child_process.h"
#include "tests/support/message_box_answerer.h"
#include "tests/uninstall/backup_files.h"
#include "tests/uninstall/registry_fixture.h"
#include "tests/uninstall/uninstall_page_fixture.h"
#include "uninstall/uninstall.h"

#include <algorithm>
#include <ctime>

namespace {

const std::vector<std::wstring> RegisteredThenUnregistered = {L"unregister ok", L"register ok", L"unregister ok"};
const std::vector<std::wstring> RegisteredOnly = {L"unregister ok", L"register ok"};

std::wstring WindowsDirectory()
{
    wchar_t folder[MAX_PATH] = {};
    GetSystemWindowsDirectoryW(folder, MAX_PATH);
    return folder;
}

void SetDefaultValue(const std::wstring& path, DWORD type, const std::wstring& value)
{
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    RegSetValueExW(key, nullptr, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

std::set<std::wstring> KeysOf(const FixtureIdentity& id)
{
    return {id.progId, L"CLSID\\" + id.clsid, L"TypeLib\\" + id.typeLib, L"Interface\\" + id.interfaces[0],
            L"Interface\\" + id.interfaces[1]};
}

class ServerTrust : public UninstallPageTest {
protected:
    void TearDown() override
    {
        for (const FixtureIdentity& id : made) RemoveFixtureKeys(id);
        UninstallPageTest::TearDown();
    }
    // A copy of the fixture named `name` in `folder`, registered as a dropped control file.
    FixtureIdentity Register(const std::wstring& folder, const std::wstring& name)
    {
        std::wstring path = CopyFixture(folder, name);
        FixtureIdentity id = FixtureIdentityFromFileName(path);
        made.push_back(id);
        RemoveFixtureKeys(id);
        EXPECT_TRUE(RegisterComponentFile(path.c_str()));
        return id;
    }
    std::vector<FixtureIdentity> made;
};

}  // namespace

// The user's windir (HKCU\Environment reaches this process's environment) would make
// "%windir%\ZemaCtl\ZEnv.ocx" a file of the user's; the machine's windir names the one
// the class was registered with.
TEST_F(ServerTrust, TheUsersVariablesNeverChooseTheServerThatRuns)
{
    std::wstring folder = MakeTestFolder(L"envsteered");
    FixtureIdentity id = Register(folder, L"ZEMA.EnvSteered.ocx");
    std::wstring users = MakeTestFolder(L"userswindir");
    std::wstring machine = WindowsDirectory() + L"\\ZemaCtl\\";
    CreateDirectoryW((users + L"ZemaCtl\\").c_str(), nullptr);
    CreateDirectoryW(machine.c_str(), nullptr);
    std::wstring usersServer = CopyFixture(users + L"ZemaCtl\\", L"ZEnv.ocx");
    std::wstring machineServer = CopyFixture(machine, L"ZEnv.ocx");
    // The class's server and its type library's file, as an installer writes them.
    SetDefaultValue(L"CLSID\\" + id.clsid + L"\\InprocServer32", REG_EXPAND_SZ, L"%windir%\\ZemaCtl\\ZEnv.ocx");
    SetDefaultValue(L"TypeLib\\" + id.typeLib + L"\\1.0\\0\\win32", REG_EXPAND_SZ, L"%windir%\\ZemaCtl\\ZEnv.ocx");
    guard.TakeCensus();
    {
        ScopedEnvironment windir(L"windir", users.substr(0, users.size() - 1).c_str());
        UninstallControl(id.progId.c_str());
    }
    guard.ExpectGoneExactly(KeysOf(id));
    EXPECT_FALSE(FileExists(FixtureCallRecordPath(usersServer))) << "the user's file ran";
    EXPECT_EQ(ReadLines(FixtureCallRecordPath(machineServer)), std::vector<std::wstring>{L"unregister ok"});
    RemoveFolderTree(machine);
}

// Whoever may write the server's folder, the server or a folder above may replace the
// file before the uninstall runs it with administrator rights, or put a library beside
// it: such a server is not run, whether the administrator dropped it or another
// registered it. Its keys go as always.
TEST_F(ServerTrust, AServerThatOthersCanReplaceIsNeverRun)
{
    enum Writable { Nothing, TheFolder, TheFile, AFolderAbove };
    struct Case {
        const wchar_t* name;
        Writable writable;
        bool likeADrop;
    } cases[] = {
        {L"ZEMA.TrustedServer.ocx", Nothing, true},
        {L"ZEMA.TrustedByAnother.ocx", Nothing, false},
        {L"ZEMA.DroppedFromOpenFolder.ocx", TheFolder, true},
        {L"ZEMA.AnothersInOpenFolder.ocx", TheFolder, false},
        {L"ZEMA.OpenServer.ocx", TheFile, false},
        {L"ZEMA.UnderOpenFolder.ocx", AFolderAbove, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::wstring above = MakeTestFolder(L"openfolder");
        std::wstring folder = above + L"controls\\";
        CreateDirectoryW(folder.c_str(), nullptr);
        std::wstring path = CopyFixture(folder, c.name);
        FixtureIdentity id = FixtureIdentityFromFileName(path);
        made.push_back(id);
        RemoveFixtureKeys(id);
        if (c.likeADrop) {
            ASSERT_TRUE(RegisterComponentFile(path.c_str()));
        } else {
            ASSERT_EQ(RunToEnd(L"\"" + SystemDirectory() + L"\\regsvr32.exe\" /s \"" + path + L"\""), 0u);
        }
        const std::wstring writable[] = {L"", folder, path, above};
        if (c.writable != Nothing) {
            ASSERT_TRUE(MakeWorldWritable(writable[c.writable]));
        }
        guard.TakeCensus();
        UninstallControl(id.progId.c_str());
        guard.ExpectGoneExactly(KeysOf(id));
        std::vector<std::wstring> record = c.likeADrop ? RegisteredOnly : std::vector<std::wstring>{L"register ok"};
        if (c.writable == Nothing) record.push_back(L"unregister ok");
        EXPECT_EQ(ReadLines(FixtureCallRecordPath(path)), record);
    }
}

namespace {
const wchar_t RunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

bool RunValueExists()
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, RunKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    bool exists = RegQueryValueExW(key, L"ZemaPlanted", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return exists;
}

void RemoveRunValue()
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, RunKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueW(key, L"ZemaPlanted");
    RegCloseKey(key);
}

// A registry file whose import writes an autostart value of the user's choosing.
std::string PlantedBackup()
{
    std::wstring text = L"\xFEFFWindows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\";
    text += RunKey;
    text += L"]\r\n\"ZemaPlanted\"=\"C:\\\\users\\\\planted.exe\"\r\n\r\n";
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}
}  // namespace

// The user's folder held "backup\<seconds>-ZEMA.Viewer.reg" for the coming seconds: the
// uninstall's own backup took the name "-2", and an administrator restoring "the" backup
// as the README says imported the user's file. The program's backup folder now holds its
// own files only; the user's are kept where the user's folder was moved.
TEST_F(ServerTrust, ABackupPlantedInAUsersFolderIsNeverAmongTheProgramsBackups)
{
    RemoveRunValue();
    std::wstring folder = MakeTestFolder(L"viewer");
    FixtureIdentity id = Register(folder, L"ZEMA.Viewer.ocx");
    UsersBaseFolder users;
    std::wstring backup = ProgramBaseFolder() + L"backup\\";
    CreateDirectoryW(backup.c_str(), nullptr);
    long long now = static_cast<long long>(time(nullptr));
    std::vector<std::wstring> planted;
    for (long long second = now; second < now + 10; ++second) {
        planted.push_back(std::to_wstring(second) + L"-ZEMA.Viewer.reg");
        WriteBytes(backup + planted.back(), PlantedBackup());
    }

    UninstallControl(id.progId.c_str());

    EXPECT_FALSE(ClassesKeyExists(id.progId));
    std::vector<std::wstring> viewer;
    for (const std::wstring& name : BackupFiles())
        if (name.find(L"-ZEMA.Viewer") != std::wstring::npos) viewer.push_back(name);
    ASSERT_FALSE(viewer.empty());
    EXPECT_EQ(viewer.size(), 1u) << "the program's backup among others";
    EXPECT_TRUE(IsBackupNamed(viewer[0], id.progId, now, static_cast<long long>(time(nullptr))));
    // Restored as the README says: the control's backup in the program's backup folder.
    for (const std::wstring& name : viewer) EXPECT_EQ(ImportBackup(name), 0u);
    EXPECT_FALSE(RunValueExists()) << "a planted backup was restored";
    EXPECT_TRUE(ClassesKeyExists(id.progId)) << "the program's backup restores the control";
    std::wstring moved = users.MovedFolder();
    ASSERT_FALSE(moved.empty());
    for (const std::wstring& name : planted) EXPECT_EQ(ReadBytes(moved + L"backup\\" + name), PlantedBackup());
    RemoveRunValue();
    for (const std::wstring& name : viewer) DeleteFileW((BackupFolder() + name).c_str());
}

// A file named "backup" in the user's folder stopped every uninstall (no backup, no
// uninstall); now the user's folder is moved aside with it, and the uninstall goes on.
TEST_F(ServerTrust, AFileNamedBackupInAUsersFolderNoLongerStopsTheUninstall)
{
    std::wstring folder = MakeTestFolder(L"blocked");
    FixtureIdentity id = Register(folder, L"ZEMA.NotBlocked.ocx");
    UsersBaseFolder users;
    WriteBytes(ProgramBaseFolder() + L"backup", "the user's");
    guard.TakeCensus();
    std::set<std::wstring> before = BackupFiles();
    MessageBoxAnswerer answerer(IDOK);

    UninstallControl(id.progId.c_str());

    EXPECT_TRUE(answerer.Seen().empty()) << "refused for want of a backup";
    guard.ExpectGoneExactly(KeysOf(id));
    std::vector<std::wstring> written = NewBackupFiles(before);
    EXPECT_EQ(written.size(), 1u);
    std::wstring moved = users.MovedFolder();
    ASSERT_FALSE(moved.empty());
    EXPECT_EQ(ReadBytes(moved + L"backup"), "the user's");
    for (const std::wstring& name : written) DeleteFileW((BackupFolder() + name).c_str());
}
