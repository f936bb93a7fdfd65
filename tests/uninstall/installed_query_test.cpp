#include "tests/support/main_window_fixture.h"
#include "tests/uninstall/registry_fixture.h"
#include "uninstall/uninstall.h"

#include <vector>

namespace {
// The names of `keys` in the order in which HKEY_CLASSES_ROOT enumerates them.
std::vector<std::wstring> InEnumerationOrder(const std::set<std::wstring>& keys)
{
    std::vector<std::wstring> ordered;
    for (DWORD index = 0;; ++index) {
        wchar_t name[512];
        DWORD length = 512;
        if (RegEnumKeyExW(HKEY_CLASSES_ROOT, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        if (keys.count(name)) ordered.push_back(name);
    }
    return ordered;
}

struct QueryCase {
    std::wstring name;
    bool listed;
};

std::vector<QueryCase> QueryCases()
{
    std::wstring longest = L"ZEMA." + std::wstring(250, L'L');  // 255 characters, the longest key name
    std::wstring longestDouble = L"Zema." + std::wstring(250, L'\x4E2D');  // needs far more than 255 ANSI bytes
    // In code page 936: 255 GBK bytes, no room left for the terminator; 乗 ends in the byte 0x5C.
    std::wstring gbkFull = L"ZEMA." + std::wstring(125, L'\x63A7');
    std::wstring trailBytes = L"PDF.Z" + std::wstring(250, L'\x4E57');
    std::wstring longUndotted = L"ZEMA" + std::wstring(251, L'\x63A7');
    return {
        {L"ZEMA.QueryAlpha", true},
        {L"PDF.ZQueryBeta", true},
        {L"Zema.QueryGamma", true},
        {L"ZEMA.", true},
        {L"ZEMA.StampServerCtl", true},
        {L"ZEMA.查询控件", true},
        {longest, true},
        {longestDouble, true},
        {gbkFull, true},
        {trailBytes, true},
        {longUndotted, false},
        {L"\x4E57ZEMA.QueryTrailFirst", false},
        {L"ZEMA", false},
        {L"PDF.", false},
        {L"zema.querylower", false},
        {L"ZEMa.QueryMixed", false},
        {L"PDF.zQueryLowerZ", false},
        {L"Pdf.ZQueryMixed", false},
        {L"XZEMA.QueryShifted", false},
        {L"ZEMA_QueryUnderscore", false},
        {L"\x4E2D" L"EMA.QueryWide", false},
    };
}
}  // namespace

class InstalledQuery : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        RemoveFamilyLeftovers();
        for (const QueryCase& c : QueryCases()) RemoveTree(c.name);
    }
    void TearDown() override
    {
        for (const QueryCase& c : QueryCases()) RemoveTree(c.name);
        MainWindowTest::TearDown();
    }
};

TEST_F(InstalledQuery, ListsExactlyTheKeysWhoseFirstFiveCharactersAreAFamilyPrefix)
{
    std::set<std::wstring> expected;
    for (const QueryCase& c : QueryCases()) {
        CreateKey(c.name);
        ASSERT_TRUE(KeyExists(c.name));
        if (c.listed) expected.insert(c.name);
    }
    SendMessageW(ControlList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"stale entry"));

    int added = QueryInstalledControls();

    std::vector<std::wstring> listed = ControlListEntries();
    EXPECT_EQ(listed, InEnumerationOrder(expected));
    EXPECT_EQ(std::set<std::wstring>(listed.begin(), listed.end()), expected);
    EXPECT_EQ(added, static_cast<int>(listed.size()));
}

TEST_F(InstalledQuery, RunTwiceListsEachKeyOnce)
{
    for (const wchar_t* name : {L"ZEMA.QueryAlpha", L"Zema.QueryGamma", L"PDF.ZQueryBeta"}) CreateKey(name);

    int first = QueryInstalledControls();
    std::vector<std::wstring> once = ControlListEntries();
    int second = QueryInstalledControls();

    EXPECT_EQ(first, 3);
    EXPECT_EQ(second, 3);
    EXPECT_EQ(ControlListEntries(), once);
    EXPECT_EQ(ControlListEntries().size(), 3u);
}

TEST_F(InstalledQuery, NothingInstalledEmptiesTheListAndGivesZero)
{
    for (const wchar_t* stale : {L"ZEMA.Gone1", L"ZEMA.Gone2", L"ZEMA.Gone3"})
        SendMessageW(ControlList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(stale));

    EXPECT_EQ(QueryInstalledControls(), 0);
    EXPECT_EQ(SendMessageW(ControlList, LB_GETCOUNT, 0, 0), 0);
}

// On Windows HKEY_CLASSES_ROOT lays the user's own registrations over the machine's; Wine
// does not merge, so this process's HKEY_CLASSES_ROOT is made to show a user's key. Only
// the machine's registrations are listed.
TEST_F(InstalledQuery, ListsTheMachinesRegistrationsNotWhatHkeyClassesRootShows)
{
    CreateKey(L"ZEMA.QueryAlpha");
    HKEY user;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\ZemaTests\\UserClasses\\ZEMA.QueryPerUser", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &user, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(user);
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\ZemaTests\\UserClasses", 0, KEY_READ, &user), ERROR_SUCCESS);

    RegOverridePredefKey(HKEY_CLASSES_ROOT, user);
    int added = QueryInstalledControls();
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    RegCloseKey(user);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\ZemaTests\\UserClasses");

    EXPECT_EQ(ControlListEntries(), std::vector<std::wstring>{L"ZEMA.QueryAlpha"});
    EXPECT_EQ(added, 1);
}

// A key whose name holds a NUL cannot be named by its text: listed, "ZEMA.Cut" would stand
// for it and the uninstall would act on another key.
TEST_F(InstalledQuery, ANameWithANulInsideIsNotListed)
{
    const std::wstring cut(L"ZEMA.Cut\0tail", 13);
    ASSERT_TRUE(CreateKeyWithCountedName(L"", cut));

    QueryInstalledControls();

    EXPECT_EQ(ControlListEntries(), std::vector<std::wstring>{});
    RemoveKeyWithCountedName(L"", cut);
}
