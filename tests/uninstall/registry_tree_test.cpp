#include "tests/uninstall/registry_fixture.h"
#include "uninstall/uninstall.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {
const std::wstring Root = L"UninstallTests.Tree";

class RegistryTree : public ::testing::Test {
protected:
    void SetUp() override
    {
        RemoveTree(Root);
        guard.Begin();
    }
    void TearDown() override
    {
        RemoveTree(Root);
        guard.End();
    }

    RegistryGuard guard;
};

// A path buffer as the uninstall fills it.
struct PathBuffer {
    explicit PathBuffer(const std::wstring& path) { CopyKeyPath(path.c_str(), units); }
    std::wstring Text() const { return units; }
    wchar_t units[KeyTreePathUnits] = {};
};
}  // namespace

TEST(CopyKeyPathTest, CopiesUpTo519CharactersAndCutsLongerPathsWithItsResultCode)
{
    struct Case {
        size_t length;
        HRESULT result;
        size_t kept;
    };
    for (Case c : {Case{0, S_OK, 0}, Case{1, S_OK, 1}, Case{519, S_OK, 519}, Case{520, static_cast<HRESULT>(0x8007007A), 519},
                   Case{600, static_cast<HRESULT>(0x8007007A), 519}}) {
        SCOPED_TRACE(c.length);
        std::wstring source;
        for (size_t i = 0; i < c.length; ++i) source += static_cast<wchar_t>(L'a' + i % 26);
        wchar_t destination[KeyTreePathUnits + 8];
        wmemset(destination, L'#', KeyTreePathUnits + 8);

        EXPECT_EQ(CopyKeyPath(source.c_str(), destination), c.result);
        EXPECT_EQ(std::wstring(destination), source.substr(0, c.kept));
        // Nothing is written beyond the 520 units it may fill.
        for (int i = CopyKeyPathUnits; i < KeyTreePathUnits + 8; ++i) EXPECT_EQ(destination[i], L'#') << i;
    }
}

TEST_F(RegistryTree, DeletesALeafKey)
{
    CreateKey(Root, L"leaf");
    guard.TakeCensus();
    PathBuffer path(Root);

    EXPECT_EQ(DeleteKeyTree(HKEY_CLASSES_ROOT, path.units), 1);
    EXPECT_EQ(path.Text(), Root);
    guard.ExpectGoneExactly({Root});
}

TEST_F(RegistryTree, AMissingKeyGivesZeroAndChangesNothing)
{
    guard.TakeCensus();
    PathBuffer path(Root + L"\\Missing");

    EXPECT_EQ(DeleteKeyTree(HKEY_CLASSES_ROOT, path.units), 0);
    EXPECT_EQ(path.Text(), Root + L"\\Missing");
    guard.ExpectNothingChanged();
}

TEST_F(RegistryTree, DeletesAThreeLevelTreeWithItsValues)
{
    for (const wchar_t* key : {L"\\A\\A1", L"\\A\\A2", L"\\B\\B1", L"\\B\\B2", L"\\B\\B3", L"\\C"})
        CreateKey(Root + key, L"value");
    SetDwordValue(Root + L"\\B", L"Number", 7);
    guard.TakeCensus();
    PathBuffer path(Root);

    EXPECT_EQ(DeleteKeyTree(HKEY_CLASSES_ROOT, path.units), 1);
    EXPECT_EQ(path.Text(), Root);
    guard.ExpectGoneExactly({Root});
}

TEST_F(RegistryTree, ATrailingBackslashIsUsedOnceAndRemovedFromTheBuffer)
{
    CreateKey(Root + L"\\A\\A1");
    CreateKey(Root + L"\\B");
    guard.TakeCensus();
    PathBuffer path(Root + L"\\");

    EXPECT_EQ(DeleteKeyTree(HKEY_CLASSES_ROOT, path.units), 1);
    EXPECT_EQ(path.Text(), Root);
    guard.ExpectGoneExactly({Root});
}

TEST_F(RegistryTree, AResistingSubkeyStopsTheDeletionAndKeepsItsAncestors)
{
    // Reached in this order in any case-folded enumeration: A before B, A\L before A\R.
    CreateKey(Root + L"\\A\\L");
    CreateKey(Root + L"\\B", L"not reached");
    ResistingKey resisting(Root + L"\\A\\R");
    ASSERT_TRUE(resisting.Resists());
    guard.TakeCensus();
    PathBuffer path(Root);

    DWORD start = GetTickCount();
    EXPECT_EQ(DeleteKeyTree(HKEY_CLASSES_ROOT, path.units), 0);
    EXPECT_LT(GetTickCount() - start, 10000u);

    EXPECT_EQ(path.Text(), Root);
    EXPECT_FALSE(KeyExists(Root + L"\\A\\L"));
    for (const wchar_t* kept : {L"", L"\\A", L"\\A\\R", L"\\B"}) EXPECT_TRUE(KeyExists(Root + kept)) << kept;
    guard.ExpectNothingChanged();
}

TEST_F(RegistryTree, AnEmptyPathOrALeadingBackslashNeverReachesTheRoot)
{
    CreateKey(Root + L"\\Child");
    guard.TakeCensus();
    for (const wchar_t* given : {L"", L"\\", L"\\\\", L"\\UninstallTests.Tree"}) {
        PathBuffer path(given);
        EXPECT_EQ(DeleteKeyTree(HKEY_CLASSES_ROOT, path.units), 0) << given;
        EXPECT_EQ(DeleteClassesRootTree(given), 0) << given;
    }
    guard.ExpectNothingChanged();
}

TEST_F(RegistryTree, ASubkeyTooDeepForThePathBufferStaysWithItsAncestors)
{
    // Root\<240>\<240>\<40>: the last name would take the path past 521 characters.
    std::wstring deep = Root + L"\\" + std::wstring(240, L'D') + L"\\" + std::wstring(240, L'E');
    std::wstring tooLong = deep + L"\\" + std::wstring(40, L'F');
    CreateKey(tooLong);
    ASSERT_TRUE(KeyExists(tooLong));
    ASSERT_GT(tooLong.size(), static_cast<size_t>(KeyTreePathUnits - 1));
    guard.TakeCensus();
    PathBuffer path(Root);

    EXPECT_EQ(DeleteKeyTree(HKEY_CLASSES_ROOT, path.units), 0);
    EXPECT_EQ(path.Text(), Root);
    EXPECT_TRUE(KeyExists(tooLong));
    EXPECT_TRUE(KeyExists(deep));
    guard.ExpectNothingChanged();
}

TEST_F(RegistryTree, AClassesRootPathThatWouldBeCutDeletesNothing)
{
    // The first 519 characters of the given path name an existing, different key.
    std::wstring head = Root + L"\\" + std::wstring(240, L'H') + L"\\" + std::wstring(240, L'I') + L"\\" +
                        std::wstring(519 - 483 - Root.size(), L'J');
    ASSERT_EQ(head.size(), 519u);
    CreateKey(head, L"the cut path's key");
    guard.TakeCensus();

    EXPECT_EQ(DeleteClassesRootTree((head + L"KKK").c_str()), 0);
    EXPECT_TRUE(KeyExists(head));
    EXPECT_EQ(DeleteClassesRootTree(head.c_str()), 1);
    EXPECT_FALSE(KeyExists(head));
    guard.ExpectNothingChanged();
}

TEST_F(RegistryTree, DeleteClassesRootTreeLeavesTheCallersPathAlone)
{
    CreateKey(Root + L"\\A\\B");
    guard.TakeCensus();
    const std::wstring given = Root + L"\\";
    std::wstring copy = given;

    EXPECT_EQ(DeleteClassesRootTree(copy.c_str()), 1);
    EXPECT_EQ(copy, given);
    guard.ExpectGoneExactly({Root});
}

TEST_F(RegistryTree, ReadClassesRootDefaultGivesTheValueOrEmptyText)
{
    std::wstring longest(254, L'v');
    std::wstring tooLong(255, L'w');
    CreateKey(Root + L"\\Plain", L"{5D3A71E2-C4B8-4A96-9E21-7F0B3C6D8E14}");
    CreateKey(Root + L"\\NoDefault");
    SetDwordValue(Root + L"\\NoDefault", L"Named", 1);
    CreateKey(Root + L"\\Longest", longest.c_str());
    CreateKey(Root + L"\\TooLong", tooLong.c_str());
    // 255 characters stored without a terminator: they fill the whole buffer.
    CreateKey(Root + L"\\Unterminated");
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, (Root + L"\\Unterminated").c_str(), 0, KEY_SET_VALUE, &key), 0);
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(tooLong.c_str()),
                   static_cast<DWORD>(tooLong.size() * sizeof(wchar_t)));
    RegCloseKey(key);
    struct Case {
        const wchar_t* key;
        std::wstring expected;
    };
    for (const Case& c : {Case{L"\\Plain", L"{5D3A71E2-C4B8-4A96-9E21-7F0B3C6D8E14}"}, Case{L"\\Missing", L""},
                          Case{L"\\NoDefault", L""}, Case{L"\\Longest", longest}, Case{L"\\TooLong", L""},
                          Case{L"\\Unterminated", L""}}) {
        wchar_t text[DefaultValueUnits];
        wmemset(text, L'#', DefaultValueUnits);
        ReadClassesRootDefault((Root + c.key).c_str(), text);
        EXPECT_EQ(std::wstring(text), c.expected) << c.key;
    }
}
