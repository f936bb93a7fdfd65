// The checks of a control's server file before its own unregistration runs: the path
// comparisons in tables, then the platform's libraries and a control's own file as the
// real regsvr32 meets them.
#include "system/system.h"
#include "tests/registration/registration_test_support.h"
#include "tests/support/message_box_answerer.h"
#include "tests/uninstall/backup_files.h"
#include "tests/uninstall/registry_fixture.h"
#include "uninstall/uninstall.h"

#include <gtest/gtest.h>

namespace {
struct PathPair {
    const wchar_t* first;
    const wchar_t* second;
    bool same;
};
}  // namespace

TEST(ServerPaths, NamesSameFileComparesWholePathsLetterCaseAndResourceIndexAside)
{
    const PathPair cases[] = {
        {L"C:\\a\\ctl.ocx", L"C:\\a\\ctl.ocx", true},
        {L"C:\\a\\ctl.ocx", L"c:\\A\\CTL.OCX", true},
        {L"C:\\a\\控件Ä.ocx", L"C:\\a\\控件ä.ocx", true},
        {L"C:\\a\\ctl.ocx", L"C:\\a\\ctl.ocx\\2", true},
        {L"C:\\a\\ctl.ocx\\12", L"C:\\a\\ctl.ocx", true},
        {L"C:\\a\\ctl.ocx", L"C:\\b\\ctl.ocx", false},
        {L"C:\\a\\ctl.ocx", L"C:\\a\\ctl.ocx2", false},
        {L"C:\\a\\ctl.ocx", L"C:\\a\\ctl.oc", false},
        {L"C:\\a\\ctl.ocx", L"C:\\a\\ctl.ocx\\x2", false},
        {L"C:\\a\\ctl.ocx", L"", false},
        {L"", L"", false},
    };
    for (const PathPair& c : cases)
        EXPECT_EQ(NamesSameFile(c.first, c.second), c.same) << c.first << L" | " << c.second;
}

TEST(ServerPaths, AShortNameIsTheSameFileAsItsLongName)
{
    std::wstring folder = MakeTestFolder(L"short-names");
    std::wstring file = folder + L"LongFileNameControl.ocx";
    WriteBytes(file, "MZ");
    wchar_t shortName[MAX_PATH] = {};
    ASSERT_GT(GetShortPathNameW(file.c_str(), shortName, MAX_PATH), 0u);
    ASSERT_NE(std::wstring(shortName), file);

    EXPECT_TRUE(NamesSameFile(file.c_str(), shortName));
    EXPECT_TRUE(NamesSameFile(shortName, file.c_str()));
    EXPECT_TRUE(HasSameFileName(shortName, L"C:\\elsewhere\\LONGFILENAMECONTROL.OCX"));
    DeleteFileW(file.c_str());
}

TEST(ServerPaths, HasSameFileNameComparesTheLastNameOnly)
{
    const PathPair cases[] = {
        {L"C:\\windows\\system32\\msxml3.dll", L"msxml3.dll", true},
        {L"C:\\x\\MSXML3.DLL", L"C:\\windows\\system32\\msxml3.dll", true},
        {L"C:\\x\\msxml3.dll", L"C:/y/msxml3.dll", true},
        {L"C:\\x\\msxml3.dll", L"C:\\x\\msxml3.dll.bak", false},
        {L"C:\\x\\msxml3.dll", L"C:\\x\\msxml.dll", false},
        {L"C:\\x\\", L"C:\\y\\", false},
        {L"", L"", false},
    };
    for (const PathPair& c : cases)
        EXPECT_EQ(HasSameFileName(c.first, c.second), c.same) << c.first << L" | " << c.second;
}

namespace {
// The classes of this process's view whose server file is called `fileName`.
std::vector<std::wstring> ClassesServedBy(const std::wstring& fileName)
{
    std::vector<std::wstring> served;
    for (const std::wstring& clsid : SubkeyNames(L"CLSID")) {
        wchar_t value[1024] = {};
        LONG size = sizeof value - sizeof(wchar_t);
        if (RegQueryValueW(HKEY_CLASSES_ROOT, (L"CLSID\\" + clsid + L"\\InprocServer32").c_str(), value, &size) !=
            ERROR_SUCCESS)
            continue;
        std::wstring server = value;
        std::wstring name = server.substr(server.find_last_of(L"\\/") == std::wstring::npos
                                              ? 0
                                              : server.find_last_of(L"\\/") + 1);
        if (_wcsicmp(name.c_str(), fileName.c_str()) == 0) served.push_back(clsid);
    }
    return served;
}

class ServerUnregistration : public ::testing::Test {
protected:
    void SetUp() override
    {
        RemoveFamilyLeftovers();
        guard.Begin();
    }
    void TearDown() override
    {
        for (const FixtureIdentity& id : registered) RemoveFixtureKeys(id);
        RemoveTree(L"CLSID\\" + Sibling);
        RemoveExtensionKeys();
        guard.End();
        for (const std::wstring& name : NewBackupFiles(backups)) DeleteFileW((BackupFolder() + name).c_str());
    }
    // A copy of the fixture registered by the real regsvr32; its path.
    std::wstring Register(const std::wstring& name)
    {
        std::wstring path = CopyFixture(folder, name);
        FixtureIdentity id = FixtureIdentityFromFileName(path);
        registered.push_back(id);
        RemoveFixtureKeys(id);
        EXPECT_TRUE(RegisterComponentFile(path.c_str()));
        return path;
    }

    const std::wstring Sibling = L"{7E5700E1-0000-4000-8000-0000000000E1}";
    RegistryGuard guard;
    std::set<std::wstring> backups = BackupFiles();
    std::wstring folder = MakeTestFolder(L"server-checks");
    std::vector<FixtureIdentity> registered;
    MessageBoxAnswerer boxes{IDOK};
};
}  // namespace

// A class of the family may name any file as its server, a platform library too. That
// library's own unregistration would take every class it serves with it.
TEST_F(ServerUnregistration, APlatformLibraryNamedByAFamilyClassIsNotUnregistered)
{
    const std::vector<std::wstring> served = ClassesServedBy(L"msxml3.dll");
    ASSERT_GT(served.size(), 10u) << "the prefix registers few classes of msxml3.dll";
    ControlKeys control = {L"ZEMA.PlatformServer", L"{7E5700E2-0000-4000-8000-0000000000E2}",
                           L"{7E5700E3-0000-4000-8000-0000000000E2}", {}};
    control.Make();
    CreateKey(L"CLSID\\" + control.clsid + L"\\InprocServer32", (SystemDirectory() + L"\\msxml3.dll").c_str());
    MakeExtensionKeys();
    guard.TakeCensus();

    UninstallControl(control.progId.c_str());

    EXPECT_EQ(ClassesServedBy(L"msxml3.dll"), served);
    // The control's own keys go all the same; its type library names another file, so its
    // GUID family stays.
    guard.ExpectGoneExactly({L".qmc", L".qmx", control.progId, L"CLSID\\" + control.clsid});
    EXPECT_TRUE(boxes.Seen().empty());
    control.Remove();
}

// A server file that serves several classes of the family is the family's own: it is
// unregistered. One that also serves a class outside the family is not.
TEST_F(ServerUnregistration, AServerSharedWithinTheFamilyIsUnregisteredAndOneSharedBeyondItIsNot)
{
    struct Case {
        const char* label;
        const wchar_t* siblingProgId;  // the ProgID of the second class naming the same file
        bool unregistered;
    };
    for (const Case& c : {Case{"another class of the family", L"ZEMA.SharedSibling", true},
                          Case{"a class outside the family", L"Other.SharedSibling", false}}) {
        SCOPED_TRACE(c.label);
        std::wstring path = Register(L"ZEMA.SharedServer.ocx");
        FixtureIdentity id = registered.back();
        CreateKey(L"CLSID\\" + Sibling + L"\\InprocServer32", path.c_str());
        CreateKey(L"CLSID\\" + Sibling + L"\\ProgID", c.siblingProgId);
        guard.TakeCensus();

        UninstallControl(id.progId.c_str());

        std::vector<std::wstring> record = {L"unregister ok", L"register ok"};
        if (c.unregistered) record.push_back(L"unregister ok");
        EXPECT_EQ(ReadLines(FixtureCallRecordPath(path)), record);
        EXPECT_FALSE(KeyExists(L"CLSID\\" + id.clsid));
        EXPECT_TRUE(KeyExists(L"CLSID\\" + Sibling));
        RemoveTree(L"CLSID\\" + Sibling);
        RemoveFixtureKeys(id);
        DeleteFileW(FixtureCallRecordPath(path).c_str());
    }
}
