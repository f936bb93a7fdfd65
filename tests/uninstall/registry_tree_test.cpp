#include "tests/support/native_registry.h"
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
        ASSERT_EQ(OpenClassesRoot(OwnView, KEY_READ, &classes), ERROR_SUCCESS);
    }
    void TearDown() override
    {
        RegCloseKey(classes);
        RemoveTree(Root);
        guard.End();
    }
    int Delete(wchar_t (&path)[KeyTreePathUnits]) { return DeleteKeyTree(classes, OwnView, path); }

    RegistryGuard guard;
    HKEY classes = nullptr;
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

    EXPECT_EQ(Delete(path.units), 1);
    EXPECT_EQ(path.Text(), Root);
    guard.ExpectGoneExactly({Root});
}

TEST_F(RegistryTree, AMissingKeyGivesZeroAndChangesNothing)
{
    guard.TakeCensus();
    PathBuffer path(Root + L"\\Missing");

    EXPECT_EQ(Delete(path.units), 0);
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

    EXPECT_EQ(Delete(path.units), 1);
    EXPECT_EQ(path.Text(), Root);
    guard.ExpectGoneExactly({Root});
}

TEST_F(RegistryTree, ATrailingBackslashIsUsedOnceAndRemovedFromTheBuffer)
{
    CreateKey(Root + L"\\A\\A1");
    CreateKey(Root + L"\\B");
    guard.TakeCensus();
    PathBuffer path(Root + L"\\");

    EXPECT_EQ(Delete(path.units), 1);
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
    EXPECT_EQ(Delete(path.units), 0);
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
    for (const wchar_t* given : {L"", L"\\", L"\\\\", L"\\UninstallTests.Tree", L"UninstallTests.Tree\\\\Child"}) {
        PathBuffer path(given);
        EXPECT_EQ(Delete(path.units), 0) << given;
    }
    guard.ExpectNothingChanged();
}

// The deletion goes by handles, not by paths: depth and length do not matter to it (what
// an uninstall deletes has been saved whole first, and the backup bounds the paths).
TEST_F(RegistryTree, ATreeDeeperThanAnyPathBufferIsDeletedByItsHandles)
{
    std::wstring deep = Root + L"\\" + std::wstring(240, L'D') + L"\\" + std::wstring(240, L'E') + L"\\" +
                        std::wstring(40, L'F');
    CreateKey(deep, L"deepest");
    ASSERT_GT(deep.size(), static_cast<size_t>(KeyTreePathUnits - 1));
    guard.TakeCensus();
    PathBuffer path(Root);

    EXPECT_EQ(Delete(path.units), 1);
    guard.ExpectGoneExactly({Root});
}

// A link in a tree is neither followed nor deleted: deleting through it would take the
// tree it leads to, anywhere in the registry.
TEST_F(RegistryTree, ALinkStopsTheDeletionAndWhatItLeadsToStays)
{
    const std::wstring targetPath = L"ZemaTests\\TreeLinkTarget";
    const std::wstring target = MakeLinkTarget(targetPath);
    const std::vector<std::wstring> targetBefore = DumpLinkTarget(targetPath);
    struct Case {
        const char* label;
        std::wstring link;   // made a link to the target
        std::wstring given;  // the tree deleted
    };
    const Case cases[] = {
        {"the tree itself", Root, Root},
        {"a key below the tree", Root + L"\\Below\\Link", Root},
        {"a key on the way to the tree", Root + L"\\Way", Root + L"\\Way\\Child"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        if (c.link != Root) CreateKey(Root + L"\\Below", L"stays");
        ASSERT_TRUE(MakeRegistryLink(c.link, target));
        PathBuffer path(c.given);

        EXPECT_EQ(Delete(path.units), 0);

        EXPECT_EQ(DumpLinkTarget(targetPath), targetBefore);
        EXPECT_TRUE(IsLinkKey(HKEY_CLASSES_ROOT, c.link));
        RemoveRegistryLink(c.link);
        RemoveTree(Root);
    }
    RemoveLinkTarget(targetPath);
}

// A key named "k<NUL>tail" cannot be opened by its text, which names the key "k".
TEST_F(RegistryTree, ASubkeyNameWithANulInsideStopsTheDeletion)
{
    CreateKey(Root + L"\\k", L"the key k");
    ASSERT_TRUE(CreateKeyWithCountedName(Root, std::wstring(L"k\0tail", 6)));
    guard.TakeCensus();
    PathBuffer path(Root);

    EXPECT_EQ(Delete(path.units), 0);
    EXPECT_TRUE(KeyExists(Root));
    RemoveKeyWithCountedName(Root, std::wstring(L"k\0tail", 6));
    guard.ExpectNothingChanged();
}

TEST_F(RegistryTree, EachViewDeletesItsOwnKeys)
{
    if (!RunsUnderWow64()) GTEST_SKIP() << "one registry view only";
    const std::wstring key = L"CLSID\\{7E5700F1-0000-4000-8000-000000000064}";
    CreateKeyIn(KEY_WOW64_64KEY, key + L"\\InprocServer32", L"64-bit");
    CreateKeyIn(0, key + L"\\InprocServer32", L"32-bit");
    HKEY classes64;
    ASSERT_EQ(OpenClassesRoot(View64, KEY_READ, &classes64), ERROR_SUCCESS);
    PathBuffer path(key);

    EXPECT_EQ(DeleteKeyTree(classes64, View64, path.units), 1);
    RegCloseKey(classes64);

    EXPECT_FALSE(KeyExistsIn(KEY_WOW64_64KEY, key));
    EXPECT_TRUE(KeyExistsIn(0, key + L"\\InprocServer32"));
    RemoveTree(key);
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
