// Drops through a real WM_DROPFILES on the real main window; regsvr32 runs the fixture.
#include "registration/registration.h"
#include "tests/registration/cabinet_writer.h"
#include "tests/registration/registration_test_support.h"
#include "tests/support/main_window_fixture.h"
#include "tests/support/message_box_answerer.h"

#include <gtest/gtest.h>

namespace {

const std::wstring ResultHead = L"拖入文件路径：";
const std::wstring ResultOk = L"\r\n注册状态：文件注册成功！";
const std::wstring ResultFailed = L"\r\n注册状态：文件注册失败！";
const std::wstring Refused = L"ERROR:拖入不是.cab、.ocx、.dll文件！";
const std::wstring Resting = L"拖入文件路径:";
const std::wstring ListHead = L"解压文件列表:\r\n";
const std::wstring CabinetOk = L"注册状态:注册成功！";
const std::wstring CabinetFailed = L"注册状态:注册失败！";

std::string FixtureBytes()
{
    return ReadBytes(BinFolder() + L"fixture_com_server.dll");
}

class DropTest : public MainWindowTest {
protected:
    void Drop(const std::vector<std::wstring>& paths)
    {
        SendMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(paths)), 0);
    }
    // Writes a cabinet into the test folder and drops it.
    std::wstring DropCabinet(const std::wstring& name, const std::vector<CabinetEntry>& entries)
    {
        std::wstring path = folder + name;
        WriteBytes(path, BuildCabinet(entries));
        Drop({path});
        return path;
    }
    void Forget(const std::wstring& path) { forget.push_back(FixtureIdentityFromFileName(path)); }
    void TearDown() override
    {
        for (const FixtureIdentity& id : forget) RemoveFixtureKeys(id);
        MainWindowTest::TearDown();
    }
    std::wstring folder = MakeTestFolder(L"drop");
    std::vector<FixtureIdentity> forget;
};

TEST_F(DropTest, ControlFileDropShowsThePathAndTheOutcome)
{
    struct Case {
        const wchar_t* name;
        const std::wstring& resultLine;
        std::vector<std::wstring> calls;
        bool registered;
    } cases[] = {
        {L"ZEMA.DropGood.ocx", ResultOk, {L"unregister ok", L"register ok"}, true},
        {L"Zema.Drop Good (2).dll", ResultOk, {L"unregister ok", L"register ok"}, true},
        {L"ZEMA.DropStuck+failunreg.ocx", ResultFailed, {L"unregister failed"}, false},
        {L"ZEMA.DropBroken+failreg.dll", ResultFailed, {L"unregister ok", L"register failed"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::wstring path = CopyFixture(folder, c.name);
        Forget(path);
        Drop({path});
        EXPECT_EQ(WindowText(PathEdit), path);
        EXPECT_EQ(WindowText(InfoEdit), ResultHead + path + c.resultLine);
        EXPECT_EQ(ReadLines(FixtureCallRecordPath(path)), c.calls);
        EXPECT_EQ(FixtureRegistered(FixtureIdentityFromFileName(path), path), c.registered);
        EXPECT_EQ(std::wstring(StatusText), Resting);
    }
}

TEST_F(DropTest, OtherFilesAreRefusedWithoutRunningAnything)
{
    for (const wchar_t* name : {L"ZEMA.DropUpper.OCX", L"ZEMA.DropMixed.Dll", L"readme.txt", L"ZEMA.DropCab.CAB", L"x"}) {
        SCOPED_TRACE(name);
        std::wstring path = CopyFixture(folder, name);
        SetWindowTextW(InfoEdit, L"before");
        Drop({path});
        EXPECT_EQ(WindowText(PathEdit), path);
        EXPECT_EQ(WindowText(InfoEdit), Refused);
        EXPECT_FALSE(FileExists(FixtureCallRecordPath(path)));
    }
    EXPECT_EQ(std::wstring(StatusText), Resting);
}

TEST_F(DropTest, OnlyTheFirstOfSeveralFilesCounts)
{
    std::wstring first = CopyFixture(folder, L"ZEMA.DropFirst.ocx");
    std::wstring second = CopyFixture(folder, L"ZEMA.DropSecond.ocx");
    std::wstring third = CopyFixture(folder, L"ZEMA.DropThird.dll");
    Forget(first);
    Drop({first, second, third});
    EXPECT_EQ(WindowText(PathEdit), first);
    EXPECT_EQ(WindowText(InfoEdit), ResultHead + first + ResultOk);
    EXPECT_TRUE(FileExists(FixtureCallRecordPath(first)));
    EXPECT_FALSE(FileExists(FixtureCallRecordPath(second)));
    EXPECT_FALSE(FileExists(FixtureCallRecordPath(third)));
}

TEST_F(DropTest, ADropOnTheUninstallPageChangesNothing)
{
    std::wstring path = CopyFixture(folder, L"ZEMA.DropHidden.ocx");
    ShowPage(2);
    Drop({path});
    EXPECT_EQ(WindowText(PathEdit), L"");
    EXPECT_EQ(WindowText(InfoEdit), L"");
    EXPECT_FALSE(FileExists(FixtureCallRecordPath(path)));
    EXPECT_FALSE(ClassesKeyExists(FixtureIdentityFromFileName(path).progId));
}

TEST_F(DropTest, APathTooLongForTheResultTextStillShowsTheResultLine)
{
    // 990 characters: too long for the command line, so nothing may run either.
    std::wstring path = L"C:\\" + std::wstring(983, L'p') + L".ocx";
    Drop({path});
    EXPECT_EQ(WindowText(PathEdit), path);
    std::wstring shown = WindowText(InfoEdit);
    EXPECT_EQ(shown.size(), 999u);
    EXPECT_EQ(shown.substr(0, ResultHead.size() + 3), ResultHead + L"C:\\");
    EXPECT_EQ(shown.substr(shown.size() - ResultFailed.size()), ResultFailed);
}

// The first 999 units name a real control, but the dropped path is longer: it is never
// read cut, shown as if it were the file, or registered.
TEST_F(DropTest, APathOfAThousandUnitsOrMoreIsRefusedNeverCut)
{
    const std::wstring name = L"ZEMA.DropLong.ocx";
    std::wstring control = CopyFixture(MakeDeepFolder(folder, 999 - name.size()), name);
    ASSERT_EQ(control.size(), 999u);
    ASSERT_TRUE(FileExists(control));
    for (const std::wstring& path : {control + L"x", control + L"\\ZEMA.DropDeeper.ocx"}) {
        SCOPED_TRACE(path.size());
        SetWindowTextW(PathEdit, L"before");
        Drop({path});
        EXPECT_EQ(WindowText(PathEdit), L"");
        EXPECT_EQ(WindowText(InfoEdit), ResultHead + ResultFailed);
    }
    EXPECT_FALSE(FileExists(FixtureCallRecordPath(control)));
    EXPECT_FALSE(ClassesKeyExists(FixtureIdentityFromFileName(control).progId));
    EXPECT_EQ(std::wstring(StatusText), Resting);
}

// A cmd.exe planted in the folder the administrator works from, with COMSPEC naming
// nothing (the user's side of the account can set it), never runs for either kind of drop.
TEST_F(DropTest, APlantedInterpreterNeverRunsForAControlOrACabinetDrop)
{
    std::wstring planted = folder + L"cmd.exe";
    CopyFileW((BinFolder() + L"command_recorder.exe").c_str(), planted.c_str(), FALSE);
    ScopedEnvironment comspec(L"COMSPEC", L"C:\\no such folder\\cmd.exe");
    ScopedCurrentFolder current(folder);

    std::wstring control = CopyFixture(folder, L"ZEMA.DropPlanted.ocx");
    Forget(control);
    Drop({control});
    EXPECT_EQ(WindowText(InfoEdit), ResultHead + control + ResultOk);
    EXPECT_EQ(ReadLines(FixtureCallRecordPath(control)), (std::vector<std::wstring>{L"unregister ok", L"register ok"}));

    WaitForFreshExtractionSecond();
    DropCabinet(L"planted.cab", {{"ZEMA.CabPlanted.ocx", FixtureBytes()}});
    std::wstring unpacked = ExtractionFolder() + L"ZEMA.CabPlanted.ocx";
    Forget(unpacked);
    EXPECT_EQ(WindowText(InfoEdit), ListHead + ShownExtractionFolder() + L"ZEMA.CabPlanted.ocx\r\n" + CabinetOk);
    EXPECT_EQ(ReadLines(FixtureCallRecordPath(unpacked)), (std::vector<std::wstring>{L"unregister ok", L"register ok"}));
    EXPECT_FALSE(FileExists(planted + L".log"));
}

TEST_F(DropTest, CabinetWithTwoControlsOfWhichOneFailsEndsInSuccess)
{
    WaitForFreshExtractionSecond();
    std::string dll = FixtureBytes();
    TextHistory history(InfoEdit);
    std::wstring cab = DropCabinet(L"two.cab", {{"ZEMA.CabGood.ocx", dll}, {"ZEMA.CabStuck+failunreg.ocx", dll}});
    std::wstring target = ShownExtractionFolder();
    std::wstring good = ExtractionFolder() + L"ZEMA.CabGood.ocx";
    std::wstring stuck = ExtractionFolder() + L"ZEMA.CabStuck+failunreg.ocx";
    Forget(good);
    Forget(stuck);

    // No message is handled during the drop, so only its end is ever painted: the whole
    // list with the result is shown once, and nothing before it.
    std::wstring list = ListHead + target + L"ZEMA.CabGood.ocx\r\n" + target + L"ZEMA.CabStuck+failunreg.ocx\r\n";
    EXPECT_EQ(history.texts, std::vector<std::wstring>{list + CabinetOk});
    EXPECT_EQ(WindowText(PathEdit), cab);
    EXPECT_EQ(std::wstring(StatusText), Resting);

    EXPECT_TRUE(FixtureRegistered(FixtureIdentityFromFileName(good), good));
    EXPECT_EQ(ReadLines(FixtureCallRecordPath(stuck)), std::vector<std::wstring>{L"unregister failed"});
    EXPECT_EQ(ReadBytes(good), dll);
}

TEST_F(DropTest, CabinetWithoutControlsEndsInFailureWithNothingRegistered)
{
    WaitForFreshExtractionSecond();
    std::string dll = FixtureBytes();
    // A control-file drop before it leaves the cabinets' status text as it was.
    std::wstring control = CopyFixture(folder, L"ZEMA.DropBetween.ocx");
    Forget(control);
    Drop({control});
    EXPECT_EQ(WindowText(InfoEdit), ResultHead + control + ResultOk);
    EXPECT_EQ(std::wstring(StatusText), Resting);
    TextHistory history(InfoEdit);
    // A library under another extension is passed over, not registered.
    DropCabinet(L"setup.cab", {{"setup.inf", "[Version]\r\n"}, {"ZEMA.CabRenamed.ocx.bak", dll}});
    std::wstring shown = ShownExtractionFolder();
    EXPECT_EQ(history.texts, std::vector<std::wstring>{ListHead + shown + L"setup.inf\r\n" + shown +
                                                       L"ZEMA.CabRenamed.ocx.bak\r\n" + CabinetFailed});
    EXPECT_TRUE(FileExists(ExtractionFolder() + L"ZEMA.CabRenamed.ocx.bak"));
    EXPECT_FALSE(FileExists(ExtractionFolder() + L"ZEMA.CabRenamed.ocx.bak.calls"));
    EXPECT_FALSE(ClassesKeyExists(L"ZEMA.CabRenamed"));
    EXPECT_EQ(std::wstring(StatusText), Resting);
}

TEST_F(DropTest, DamagedOrFakeCabinetEndsInFailureWithoutAMessageBox)
{
    MessageBoxAnswerer answer(IDOK);
    std::string cabinet = BuildCabinet({{"ZEMA.CabCut.ocx", FixtureBytes()}});
    struct Case {
        const wchar_t* name;
        std::string bytes;
    } cases[] = {
        {L"text.cab", "this is not a cabinet at all"},
        {L"cut.cab", cabinet.substr(0, cabinet.size() / 2)},
        {L"header.cab", cabinet.substr(0, 20)},
    };
    // A path the system code page cannot express cannot reach the cabinet library.
    std::wstring unreachable = L"控件.cab";
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, unreachable.c_str(), -1, nullptr, 0, nullptr, &lossy);
    std::vector<Case> all(std::begin(cases), std::end(cases));
    if (lossy) all.push_back({unreachable.c_str(), cabinet});
    for (const Case& c : all) {
        SCOPED_TRACE(c.name);
        std::wstring path = folder + c.name;
        WriteBytes(path, c.bytes);
        Drop({path});
        std::wstring shown = WindowText(InfoEdit);
        EXPECT_EQ(shown.substr(0, ListHead.size()), ListHead);
        EXPECT_EQ(shown.substr(shown.size() - CabinetFailed.size()), CabinetFailed);
        EXPECT_EQ(std::wstring(StatusText), Resting);
    }
    EXPECT_EQ(WindowText(InfoEdit).find(L".ocx"), std::wstring::npos) << "nothing listed";
    PumpFor(300);
    EXPECT_TRUE(answer.Seen().empty());
}

// A cabinet name holding a character that the system code page has only a best-fit form
// for ('Ā' as 'A' under 1252, '²' as '2' under 936): that form names another file, which
// may have been placed beside it. Such a path is an unreadable cabinet; the other file is
// never opened. (A best fit that differs only in case names the same file.)
TEST_F(DropTest, ACabinetNameTheCodePageCannotExpressExactlyIsNeverBestFitted)
{
    std::wstring dropped, fitted;
    for (const wchar_t* name : {L"bestfit-Ā.cab", L"bestfit-².cab"}) {
        BOOL inexact = FALSE;
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name, -1, nullptr, 0, nullptr, &inexact);
        char bytes[64] = {};
        wchar_t back[64] = {};
        WideCharToMultiByte(CP_ACP, 0, name, -1, bytes, 64, nullptr, nullptr);
        MultiByteToWideChar(CP_ACP, 0, bytes, -1, back, 64);
        if (inexact && !wcschr(back, L'?') && CompareStringOrdinal(back, -1, name, -1, TRUE) != CSTR_EQUAL) {
            dropped = folder + name;
            fitted = folder + back;
            break;
        }
    }
    if (dropped.empty()) GTEST_SKIP() << "no best-fit character in code page " << GetACP();
    WaitForFreshExtractionSecond();
    WriteBytes(dropped, BuildCabinet({{"dropped.txt", "the cabinet dropped"}}));
    WriteBytes(fitted, BuildCabinet({{"ZEMA.CabBestFit.ocx", FixtureBytes()}}));
    Drop({dropped});
    std::wstring unpacked = ExtractionFolder() + L"ZEMA.CabBestFit.ocx";
    Forget(unpacked);
    EXPECT_EQ(WindowText(PathEdit), dropped);
    EXPECT_EQ(WindowText(InfoEdit), ListHead + CabinetFailed);
    EXPECT_FALSE(FileExists(unpacked));
    EXPECT_FALSE(ClassesKeyExists(L"ZEMA.CabBestFit"));
    EXPECT_EQ(std::wstring(StatusText), Resting);
}

// A cabinet whose copy stops part-way registers nothing: the files before the stop stay
// in the folder and in the list, then the failure line.
TEST_F(DropTest, ACabinetThatStopsPartWayRegistersNothingAndKeepsItsFiles)
{
    WaitForFreshExtractionSecond();
    MessageBoxAnswerer answer(IDOK);
    std::string dll = FixtureBytes();
    DropCabinet(L"folders.cab", {{"ZEMA.CabBefore.ocx", dll}, {"x86\\ZEMA.CabInside.ocx", dll}, {"ZEMA.CabAfter.ocx", dll}});
    std::wstring target = ExtractionFolder();
    std::wstring before = target + L"ZEMA.CabBefore.ocx";
    Forget(before);
    std::wstring shownFolder = ShownExtractionFolder();
    EXPECT_EQ(WindowText(InfoEdit), ListHead + shownFolder + L"ZEMA.CabBefore.ocx\r\n" + shownFolder +
                                        L"x86\\ZEMA.CabInside.ocx\r\n" + CabinetFailed);
    EXPECT_EQ(ReadBytes(before), dll);
    EXPECT_FALSE(FileExists(FixtureCallRecordPath(before))) << "the control ran";
    EXPECT_FALSE(ClassesKeyExists(L"ZEMA.CabBefore"));
    EXPECT_FALSE(FileExists(target + L"ZEMA.CabAfter.ocx"));
    EXPECT_FALSE(ClassesKeyExists(L"ZEMA.CabAfter"));
    EXPECT_FALSE(ClassesKeyExists(L"ZEMA.CabInside"));
    PumpFor(300);
    EXPECT_TRUE(answer.Seen().empty());
}

}  // namespace
