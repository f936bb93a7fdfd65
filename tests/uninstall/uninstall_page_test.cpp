#include "tests/support/main_window_fixture.h"
#include "tests/support/message_box_answerer.h"
#include "tests/uninstall/backup_files.h"
#include "tests/uninstall/registry_fixture.h"

namespace {
const wchar_t UninstallQuestion[] = L"   是否卸载？";
const wchar_t NothingInstalled[] = L"当前电脑没有安装控件！";
const wchar_t QueryFirst[] = L"请点击查询安装按钮！";
const wchar_t UninstallAllQuestion[] =
    L"是否卸载列表中的全部控件？\r\n如果点击是,请稍等几秒钟,直到列表为空就表示卸载全部操作完成。";

class UninstallPage : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        RemoveFamilyLeftovers();
        TestControlA.Remove();
        TestControlB.Remove();
        guard.Begin();
        ShowPage(2);
    }
    void TearDown() override
    {
        TestControlA.Remove();
        TestControlB.Remove();
        RemoveExtensionKeys();
        guard.End();
        MainWindowTest::TearDown();
    }
    void MakeBothControls()
    {
        TestControlA.Make();
        TestControlB.Make();
        MakeExtensionKeys();
    }
    // What the button sends when it is clicked.
    void Click(HWND button)
    {
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    }
    // What the list sends on a double-click at entry `index` (-1: none is selected).
    void DoubleClick(int index)
    {
        SendMessageW(ControlList, LB_SETCURSEL, index, 0);
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(0, LBN_DBLCLK), reinterpret_cast<LPARAM>(ControlList));
    }
    int IndexOf(const std::wstring& entry)
    {
        return static_cast<int>(
            SendMessageW(ControlList, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(entry.c_str())));
    }
    void ExpectOneBox(MessageBoxAnswerer& answerer, const wchar_t* text, bool yesNo)
    {
        std::vector<SeenMessageBox> seen = answerer.Seen();
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].text, text);
        EXPECT_EQ(seen[0].caption, L"提示");
        EXPECT_EQ(seen[0].owner, window);
        EXPECT_EQ(seen[0].hasYesNo, yesNo);
    }

    RegistryGuard guard;
};

std::set<std::wstring> Listed()
{
    std::vector<std::wstring> entries = ControlListEntries();
    return {entries.begin(), entries.end()};
}
}  // namespace

TEST_F(UninstallPage, QueryWithNothingInstalledEmptiesTheListAndSaysSo)
{
    SendMessageW(ControlList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"ZEMA.Stale"));
    MessageBoxAnswerer answerer(IDOK);

    Click(QueryButton);

    ExpectOneBox(answerer, NothingInstalled, false);
    EXPECT_TRUE(ControlListEntries().empty());
}

TEST_F(UninstallPage, QueryWithControlsFillsTheListWithoutAMessage)
{
    MakeBothControls();
    MessageBoxAnswerer answerer(IDOK);

    Click(QueryButton);

    EXPECT_TRUE(answerer.Seen().empty());
    EXPECT_EQ(Listed(), (std::set<std::wstring>{TestControlA.progId, TestControlB.progId}));
}

TEST_F(UninstallPage, DoubleClickAnsweredNoKeepsEverything)
{
    MakeBothControls();
    Click(QueryButton);
    std::vector<std::wstring> listed = ControlListEntries();
    guard.TakeCensus();
    MessageBoxAnswerer answerer(IDNO);

    DoubleClick(IndexOf(TestControlA.progId));

    ExpectOneBox(answerer, UninstallQuestion, true);
    EXPECT_EQ(ControlListEntries(), listed);
    guard.ExpectNothingChanged();
}

TEST_F(UninstallPage, DoubleClickAnsweredYesUninstallsThatControlAndRefreshesTheList)
{
    MakeBothControls();
    Click(QueryButton);
    guard.TakeCensus();
    MessageBoxAnswerer answerer(IDYES);

    DoubleClick(IndexOf(TestControlA.progId));

    ExpectOneBox(answerer, UninstallQuestion, true);
    guard.ExpectGoneExactly(TestControlA.Removed());
    EXPECT_EQ(ControlListEntries(), std::vector<std::wstring>{TestControlB.progId});
}

TEST_F(UninstallPage, ListNotificationsOtherThanADoubleClickOnAnEntryDoNothing)
{
    MakeBothControls();
    Click(QueryButton);
    std::vector<std::wstring> listed = ControlListEntries();
    guard.TakeCensus();
    MessageBoxAnswerer answerer(IDYES);

    DoubleClick(-1);
    SendMessageW(ControlList, LB_SETCURSEL, 0, 0);
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(0, LBN_SELCHANGE), reinterpret_cast<LPARAM>(ControlList));

    EXPECT_TRUE(answerer.Seen().empty());
    EXPECT_EQ(ControlListEntries(), listed);
    guard.ExpectNothingChanged();
}

TEST_F(UninstallPage, EntriesTooLongForTheNameBufferAreNeverUninstalledCut)
{
    // The double-click reads an entry into 255 units, the uninstall-all loop into 200. Cut
    // there, these entries would name the shorter keys made below, which must stay.
    const std::wstring forDoubleClick = L"ZEMA.LongDoubleClick" + std::wstring(280, L'd');
    const std::wstring forUninstallAll = L"ZEMA.LongUninstallAll" + std::wstring(210, L'a');
    const std::wstring cutByDoubleClick = forDoubleClick.substr(0, 254);
    const std::wstring cutByUninstallAll = forUninstallAll.substr(0, 199);
    CreateKey(cutByDoubleClick, L"cut");
    CreateKey(cutByUninstallAll, L"cut");
    MakeExtensionKeys();
    for (const std::wstring& entry : {forDoubleClick, forUninstallAll})
        SendMessageW(ControlList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    guard.TakeCensus();
    MessageBoxAnswerer answerer(IDYES);

    DoubleClick(IndexOf(forDoubleClick));
    EXPECT_TRUE(answerer.Seen().empty()) << "no question for an entry that cannot be read whole";

    Click(UninstallAllButton);
    ExpectOneBox(answerer, UninstallAllQuestion, true);
    guard.ExpectNothingChanged();
    EXPECT_TRUE(KeyExists(cutByDoubleClick));
    EXPECT_TRUE(KeyExists(cutByUninstallAll));

    RemoveTree(cutByDoubleClick);
    RemoveTree(cutByUninstallAll);
}

TEST_F(UninstallPage, UninstallAllOnAnEmptyListAsksForAQueryAndDoesNothing)
{
    MakeBothControls();
    guard.TakeCensus();
    MessageBoxAnswerer answerer(IDYES);

    Click(UninstallAllButton);

    ExpectOneBox(answerer, QueryFirst, false);
    EXPECT_TRUE(ControlListEntries().empty());
    guard.ExpectNothingChanged();
}

TEST_F(UninstallPage, UninstallAllAnsweredNoKeepsEverything)
{
    MakeBothControls();
    Click(QueryButton);
    std::vector<std::wstring> listed = ControlListEntries();
    guard.TakeCensus();
    MessageBoxAnswerer answerer(IDNO);

    Click(UninstallAllButton);

    ExpectOneBox(answerer, UninstallAllQuestion, true);
    EXPECT_EQ(ControlListEntries(), listed);
    guard.ExpectNothingChanged();
}

TEST_F(UninstallPage, UninstallAllAnsweredYesUninstallsEveryListedControl)
{
    MakeBothControls();
    Click(QueryButton);
    ASSERT_EQ(ControlListEntries().size(), 2u);
    guard.TakeCensus();
    MessageBoxAnswerer answerer(IDYES);

    Click(UninstallAllButton);

    ExpectOneBox(answerer, UninstallAllQuestion, true);
    std::set<std::wstring> gone = TestControlA.Removed();
    for (const std::wstring& key : TestControlB.Removed()) gone.insert(key);
    guard.ExpectGoneExactly(gone);
    EXPECT_TRUE(ControlListEntries().empty());
}

TEST_F(UninstallPage, UninstallAllWithoutABackupKeepsEveryControlAndNamesEachOneNotUninstalled)
{
    MakeBothControls();
    Click(QueryButton);
    std::vector<std::wstring> listed = ControlListEntries();
    ASSERT_EQ(listed.size(), 2u);
    std::vector<std::wstring> made = UninstallRootsDump(listed);
    BlockedBackupFolder blocked;
    ASSERT_TRUE(blocked.Blocks());
    MessageBoxAnswerer answerer(IDYES);

    Click(UninstallAllButton);

    // The question, then one notice per control, in list order.
    std::vector<SeenMessageBox> seen = answerer.Seen();
    ASSERT_EQ(seen.size(), 3u);
    for (size_t i = 0; i < listed.size(); ++i) {
        EXPECT_EQ(seen[i + 1].text, listed[i] + L"\r\n注册表备份无法保存，该控件未卸载！");
        EXPECT_EQ(seen[i + 1].caption, L"提示");
        EXPECT_EQ(seen[i + 1].owner, window);
    }
    EXPECT_EQ(DumpDifference(UninstallRootsDump(listed), made), "");
    EXPECT_EQ(ControlListEntries(), listed);
}
