// The extraction folder as a local user without administrator rights would attack it:
// folders made beforehand under the coming seconds' names, as links to elsewhere, or
// holding links named like a stored file; the base folder itself as a link, or made by the
// user before the program's first run; and a control renaming its own folder while it is
// registered.
#include "registration/registration.h"
#include "tests/registration/cabinet_writer.h"
#include "tests/registration/registration_test_support.h"
#include "tests/support/unix_link.h"
#include "tests/support/main_window_fixture.h"
#include "tests/support/message_box_answerer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>

namespace {

const std::wstring ListHead = L"解压文件列表:\r\n";
const std::wstring CabinetOk = L"注册状态:注册成功！";
const std::wstring CabinetFailed = L"注册状态:注册失败！";

std::wstring BaseFolder()
{
    return std::wstring(1, SystemDirectory()[0]) + L":\\ZemaActiveX\\";
}

// The time folders' names from this second on, as the program forms them.
std::vector<std::wstring> ComingFolders(int count)
{
    std::vector<std::wstring> names;
    auto now = static_cast<int32_t>(static_cast<uint32_t>(time(nullptr)));
    for (int i = 0; i < count; ++i) names.push_back(BaseFolder() + std::to_wstring(now + i) + L"\\");
    return names;
}

class CabinetFolderTest : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        // The program's own base folder, as its earlier drops left it.
        PrepareProtectedFolder(BaseFolder().c_str());
        ReleaseProtectedFolders();
    }
    void TearDown() override
    {
        for (const std::wstring& path : forget) RemoveFixtureKeys(FixtureIdentityFromFileName(path));
        MainWindowTest::TearDown();
    }
    std::wstring DropCabinet(const std::vector<CabinetEntry>& entries)
    {
        std::wstring path = folder + L"attack.cab";
        WriteBytes(path, BuildCabinet(entries));
        SendMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({path})), 0);
        return path;
    }
    // The cabinet's folder is none of `taken` and holds its one file, which is registered.
    void ExpectFreshFolderWith(const std::vector<std::wstring>& taken, const std::wstring& name)
    {
        std::wstring used = ExtractionFolder();
        for (const std::wstring& t : taken) EXPECT_NE(_wcsicmp(used.c_str(), t.c_str()), 0);
        std::wstring control = used + name;
        forget.push_back(control);
        EXPECT_EQ(WindowText(InfoEdit), ListHead + ShownExtractionFolder() + name + L"\r\n" + CabinetOk);
        EXPECT_TRUE(FixtureRegistered(FixtureIdentityFromFileName(control), control));
    }
    std::wstring folder = MakeTestFolder(L"cabfolder");
    std::vector<std::wstring> forget;
    std::string dll = ReadBytes(BinFolder() + L"fixture_com_server.dll");
};

TEST_F(CabinetFolderTest, AFolderMadeBeforehandIsNeitherUnpackedIntoNorScanned)
{
    std::vector<std::wstring> taken = ComingFolders(3);
    for (const std::wstring& t : taken) {
        CreateDirectoryW(t.c_str(), nullptr);
        forget.push_back(CopyFixture(t, L"ZEMA.Planted.ocx"));
    }
    DropCabinet({{"ZEMA.CabFresh.ocx", dll}});
    for (const std::wstring& t : taken) {
        EXPECT_FALSE(FileExists(FixtureCallRecordPath(t + L"ZEMA.Planted.ocx"))) << "the planted control ran";
        EXPECT_FALSE(FileExists(t + L"ZEMA.CabFresh.ocx"));
    }
    EXPECT_FALSE(ClassesKeyExists(L"ZEMA.Planted"));
    ExpectFreshFolderWith(taken, L"ZEMA.CabFresh.ocx");
}

TEST_F(CabinetFolderTest, TimeFoldersMadeAsLinksLeadNowhere)
{
    std::wstring elsewhere = folder + L"elsewhere\\";
    CreateDirectoryW(elsewhere.c_str(), nullptr);
    std::wstring outside = CopyFixture(elsewhere, L"ZEMA.Outside.ocx");
    forget.push_back(outside);
    std::vector<std::wstring> taken = ComingFolders(3);
    for (const std::wstring& t : taken) ASSERT_TRUE(MakeUnixLink(t.substr(0, t.size() - 1), elsewhere));
    DropCabinet({{"ZEMA.CabLinked.ocx", dll}});
    EXPECT_FALSE(FileExists(FixtureCallRecordPath(outside))) << "the control outside ran";
    EXPECT_FALSE(FileExists(elsewhere + L"ZEMA.CabLinked.ocx"));
    EXPECT_FALSE(ClassesKeyExists(L"ZEMA.Outside"));
    ExpectFreshFolderWith(taken, L"ZEMA.CabLinked.ocx");
    for (const std::wstring& t : taken) RemoveUnixLink(t.substr(0, t.size() - 1));
}

TEST_F(CabinetFolderTest, ALinkNamedLikeAStoredFileLeavesItsTargetAlone)
{
    std::wstring target = folder + L"target.txt";
    WriteBytes(target, "original");
    std::vector<std::wstring> taken = ComingFolders(3);
    for (const std::wstring& t : taken) {
        CreateDirectoryW(t.c_str(), nullptr);
        ASSERT_TRUE(MakeUnixLink(t + L"victim.txt", target));
    }
    DropCabinet({{"victim.txt", "overwritten"}, {"ZEMA.CabVictim.ocx", dll}});
    EXPECT_EQ(ReadBytes(target), "original");
    EXPECT_EQ(ReadBytes(ExtractionFolder() + L"victim.txt"), "overwritten");
    forget.push_back(ExtractionFolder() + L"ZEMA.CabVictim.ocx");
    for (const std::wstring& t : taken) {
        EXPECT_NE(_wcsicmp(ExtractionFolder().c_str(), t.c_str()), 0);
        RemoveUnixLink(t + L"victim.txt");
    }
}

// A name taken for five seconds running, or a base folder that is a link, ends the cabinet
// as an unreadable one: the failure line, nothing unpacked, nothing registered.
TEST_F(CabinetFolderTest, WithoutAFolderOfItsOwnTheCabinetIsRefused)
{
    MessageBoxAnswerer answer(IDOK);
    for (const wchar_t* name : {L"ZEMA.CabRefused.ocx", L"ZEMA.CabBaseLink.ocx"}) {
        RemoveFixtureKeys(FixtureIdentityFromFileName(name));
        forget.push_back(name);
    }
    std::vector<std::wstring> taken = ComingFolders(9);
    for (const std::wstring& t : taken) CreateDirectoryW(t.c_str(), nullptr);
    DropCabinet({{"ZEMA.CabRefused.ocx", dll}});
    EXPECT_EQ(WindowText(InfoEdit), ListHead + CabinetFailed);
    EXPECT_FALSE(ClassesKeyExists(L"ZEMA.CabRefused"));
    for (const std::wstring& t : taken) EXPECT_FALSE(FileExists(t + L"ZEMA.CabRefused.ocx"));

    // The real base folder steps aside for a link to a folder elsewhere.
    std::wstring base = BaseFolder().substr(0, BaseFolder().size() - 1);
    std::wstring aside = base + L"-aside-" + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(MoveFileW(base.c_str(), aside.c_str()));
    std::wstring elsewhere = folder + L"base-elsewhere";
    CreateDirectoryW(elsewhere.c_str(), nullptr);
    bool linked = MakeUnixLink(base, elsewhere);
    if (linked) DropCabinet({{"ZEMA.CabBaseLink.ocx", dll}});
    std::wstring shown = WindowText(InfoEdit);
    if (linked) RemoveUnixLink(base);
    EXPECT_TRUE(MoveFileW(aside.c_str(), base.c_str()));
    ASSERT_TRUE(linked);
    EXPECT_EQ(shown, ListHead + CabinetFailed);
    EXPECT_FALSE(ClassesKeyExists(L"ZEMA.CabBaseLink"));
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((elsewhere + L"\\*").c_str(), &found);
    int entries = 0;
    if (search != INVALID_HANDLE_VALUE) {
        do ++entries;
        while (FindNextFileW(search, &found));
        FindClose(search);
    }
    EXPECT_EQ(entries, 2) << "only . and .. below the link's target";
    PumpFor(300);
    EXPECT_TRUE(answer.Seen().empty());
}

// A base folder that a user made before the program's first run (any authenticated user
// may make folders at the root of the system drive), holding folders and files under the
// coming seconds' names, is the user's: moved aside whole, and the program makes its own.
TEST_F(CabinetFolderTest, AUsersBaseFolderIsMovedAsideAndTheCabinetUnpacksInANewOne)
{
    UsersBaseFolder users;
    std::vector<std::wstring> taken = ComingFolders(9);
    for (size_t i = 0; i < taken.size(); ++i) {
        if (i % 2 == 0) {
            CreateDirectoryW(taken[i].c_str(), nullptr);
            forget.push_back(CopyFixture(taken[i], L"ZEMA.Planted.ocx"));
        } else {
            WriteBytes(taken[i].substr(0, taken[i].size() - 1), "planted");
        }
    }

    DropCabinet({{"ZEMA.CabUsersBase.ocx", dll}});

    ExpectFreshFolderWith({}, L"ZEMA.CabUsersBase.ocx");
    std::wstring moved = users.MovedFolder();
    ASSERT_FALSE(moved.empty());
    for (size_t i = 0; i < taken.size(); ++i) {
        std::wstring inMoved = moved + taken[i].substr(BaseFolder().size());
        EXPECT_FALSE(FileExists(taken[i] + L"ZEMA.Planted.ocx"));
        if (i % 2 == 0)
            EXPECT_TRUE(FileExists(inMoved + L"ZEMA.Planted.ocx")) << "kept, never deleted";
        else
            EXPECT_EQ(ReadBytes(inMoved.substr(0, inMoved.size() - 1)), "planted");
        EXPECT_FALSE(FileExists(inMoved + L"ZEMA.Planted.ocx.calls")) << "the planted control ran";
    }
    EXPECT_FALSE(ClassesKeyExists(L"ZEMA.Planted"));
}

// A control that renames its own folder, or the base folder, while it is registered
// would have the folder's content replaced behind the program: both are held from their
// check until the cabinet's last control is registered.
TEST_F(CabinetFolderTest, NeitherTheCabinetsFolderNorTheBaseCanBeRenamedWhileItsControlsRegister)
{
    DropCabinet({{"ZEMA.CabRenamer+renamefolder.ocx", dll}, {"ZEMA.CabAfterRenamer.ocx", dll}});
    std::wstring control = ExtractionFolder() + L"ZEMA.CabRenamer+renamefolder.ocx";
    forget.push_back(control);
    forget.push_back(ExtractionFolder() + L"ZEMA.CabAfterRenamer.ocx");
    std::vector<std::wstring> record = ReadLines(FixtureCallRecordPath(control));
    EXPECT_EQ(record, (std::vector<std::wstring>{L"unregister ok", L"rename folder refused", L"rename parent refused",
                                                 L"register ok"}));
    EXPECT_TRUE(FixtureRegistered(FixtureIdentityFromFileName(control), control));
    // Once the drop is done, nothing is held.
    std::wstring folder = ExtractionFolder().substr(0, ExtractionFolder().size() - 1);
    EXPECT_TRUE(MoveFileW(folder.c_str(), (folder + L"-renamed").c_str()));
    EXPECT_TRUE(MoveFileW((folder + L"-renamed").c_str(), folder.c_str()));
}

// The platform drops a name's trailing dots and blanks: "x.ocx." would be unpacked as the
// control x.ocx that the list never showed.
TEST_F(CabinetFolderTest, ANameEndingInADotOrBlankIsRefusedNotRegistered)
{
    struct Case {
        const char* stored;
        const wchar_t* trimmed;
    } cases[] = {
        {"ZEMA.CabDot.ocx.", L"ZEMA.CabDot.ocx"},
        {"ZEMA.CabBlank.ocx ", L"ZEMA.CabBlank.ocx"},
        {"ZEMA.CabDots.dll. .", L"ZEMA.CabDots.dll"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        DropCabinet({{c.stored, dll}});
        std::wstring control = ExtractionFolder() + c.trimmed;
        forget.push_back(control);
        std::wstring stored(c.stored, c.stored + strlen(c.stored));
        EXPECT_EQ(WindowText(InfoEdit), ListHead + ShownExtractionFolder() + stored + L"\r\n" + CabinetFailed);
        EXPECT_FALSE(FileExists(ExtractionFolder() + stored)) << "created under the stored name";
        EXPECT_FALSE(FileExists(control));
        EXPECT_FALSE(FileExists(FixtureCallRecordPath(control))) << "the control ran";
    }
}

}  // namespace
