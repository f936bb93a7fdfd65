#include "tests/uninstall/registry_fixture.h"
#include "uninstall/uninstall.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {
const std::wstring PurgeRoot = L"UninstallTests.Purge";
const wchar_t BulkTail[] = L"-C4B8-4A96-9E21-7F0B3C6D8E14}";

class TypeLibPurge : public ::testing::Test {
protected:
    void SetUp() override
    {
        RemoveTree(PurgeRoot);
        guard.Begin();
    }
    void TearDown() override
    {
        for (const std::wstring& key : madeInTypeLib) RemoveTree(key);
        RemoveTree(PurgeRoot);
        guard.End();
    }
    void MakeTypeLib(const std::wstring& path)
    {
        madeInTypeLib.push_back(path);
        CreateKey(path + L"\\1.0", L"type library");
        CreateKey(path + L"\\1.0\\0\\win32", L"C:\\windows\\system32\\control.ocx");
    }

    RegistryGuard guard;
    std::vector<std::wstring> madeInTypeLib;
};

// The purge as an uninstall runs it: the matches are planned, then deleted.
void Purge(const wchar_t* progId, const std::wstring& typeLibGuid, const std::wstring& root)
{
    BeginUninstallPlan();
    PurgeTypeLibMatches(progId, typeLibGuid.c_str(), root.c_str());
    DeletePlannedTrees();
}
}  // namespace

TEST_F(TypeLibPurge, RemovesEveryKeyOfTheGuidFamilyBelowTheRootAndNothingElse)
{
    const std::wstring family[] = {L"TypeLib\\{10000000" + std::wstring(BulkTail),
                                   L"TypeLib\\{5D3A71E2" + std::wstring(BulkTail),
                                   L"TypeLib\\{90000000" + std::wstring(BulkTail)};
    // Keys that keep the family's keys apart in a case-folded enumeration, and names
    // that agree with the family's only in part.
    const std::wstring others[] = {L"TypeLib\\{20000000-0000-4000-8000-000000000001}",
                                   L"TypeLib\\{60000000-0000-4000-8000-000000000001}",
                                   L"TypeLib\\{30000000" + std::wstring(BulkTail) + L"0",
                                   L"TypeLib\\{30000001-C4B8-4A96-9E21-7F0B3C6D8E14",
                                   L"TypeLib\\{30000002-C4B8-4a96-9E21-7F0B3C6D8E14}"};
    for (const std::wstring& key : family) MakeTypeLib(key);
    for (const std::wstring& key : others) MakeTypeLib(key);
    std::vector<std::wstring> order = SubkeyNames(L"TypeLib");
    for (size_t i = 1; i < order.size(); ++i)
        ASSERT_FALSE(order[i - 1].substr(9) == BulkTail && order[i].substr(9) == BulkTail)
            << "two family keys follow each other in this enumeration";
    guard.TakeCensus();

    Purge(L"Zema.BulkUploadCtl", L"{5D3A71E2-C4B8-4A96-9E21-7F0B3C6D8E14}", L"TypeLib");

    guard.ExpectGoneExactly({family[0], family[1], family[2]});
}

TEST_F(TypeLibPurge, TheProgIdChoosesWhichPositionsAreRaisedToUpperCase)
{
    struct Case {
        const wchar_t* progId;
        const wchar_t* typeLibGuid;
        const wchar_t* keyName;
        bool deleted;
    };
    const Case cases[] = {
        {L"ZEMA.Pupil", L"{AAAA0001-1001-5a6b-8C6A-2E9F41A07B35}", L"{BBBB0001-1001-5A6B-8C6A-2E9F41A07B35}", true},
        {L"ZEMA.Pu", L"{AAAA0001-1002-5a6b-8C6A-2E9F41A07B35}", L"{BBBB0001-1002-5A6B-8C6A-2E9F41A07B35}", true},
        {L"ZEMA.Lotus", L"{AAAA0001-1003-5abc-8C6A-2E9F41A07B35}", L"{BBBB0001-1003-5ABC-8C6A-2E9F41A07B35}", true},
        {L"ZEMA.Mint", L"{AAAA0001-1004-5abc-8C6A-2E9F41A07B35}", L"{BBBB0001-1004-5ABC-8C6A-2E9F41A07B35}", true},
        {L"ZEMA.Kappa", L"{AAAA0001-1005-5Acd-8C6A-2E9F41A07B35}", L"{BBBB0001-1005-5ACD-8C6A-2E9F41A07B35}", true},
        // Digits and upper-case letters are lowered by 32 all the same, and then match nothing.
        {L"ZEMA.Kappa", L"{AAAA0001-1006-5A67-8C6A-2E9F41A07B35}", L"{BBBB0001-1006-5A67-8C6A-2E9F41A07B35}", false},
        {L"ZEMA.Pupil", L"{AAAA0001-1007-5A6B-8C6A-2E9F41A07B35}", L"{BBBB0001-1007-5A6B-8C6A-2E9F41A07B35}", false},
        // No row: a case variant of a row's seven characters, or fewer than seven.
        {L"Zema.Pupil", L"{AAAA0001-1008-5a6b-8C6A-2E9F41A07B35}", L"{BBBB0001-1008-5A6B-8C6A-2E9F41A07B35}", false},
        {L"ZEMA.P", L"{AAAA0001-1009-5a6b-8C6A-2E9F41A07B35}", L"{BBBB0001-1009-5A6B-8C6A-2E9F41A07B35}", false},
        {L"ZEMA.Other", L"{AAAA0001-100A-5a6b-8C6A-2E9F41A07B35}", L"{BBBB0001-100A-5a6b-8C6A-2E9F41A07B35}", true},
    };
    auto rootOf = [&](const Case& c) { return PurgeRoot + L"\\Row" + std::to_wstring(&c - cases); };
    for (const Case& c : cases) {
        CreateKey(rootOf(c) + L"\\" + c.keyName + L"\\1.0", L"type library");
        CreateKey(rootOf(c) + L"\\{CCCC0001-0000-4000-8000-000000000000}");
    }
    guard.TakeCensus();
    for (const Case& c : cases) {
        std::wstring root = rootOf(c);
        Purge(c.progId, c.typeLibGuid, root);

        EXPECT_EQ(!KeyExists(root + L"\\" + c.keyName), c.deleted) << c.progId << L" " << c.typeLibGuid;
        EXPECT_TRUE(KeyExists(root + L"\\{CCCC0001-0000-4000-8000-000000000000}"));
    }
    guard.ExpectNothingChanged();
}

// Matches that follow each other in enumeration order all go in one pass: they are
// collected before anything is deleted.
TEST_F(TypeLibPurge, AdjacentMatchesAllGoInOnePass)
{
    const std::wstring tail = L"-1111-4000-8000-00000000ADD0}";
    std::vector<std::wstring> roots = {PurgeRoot, L"Interface", L"TypeLib"};
    if (RunsUnderWow64()) roots.push_back(L"Wow6432Node\\Interface");
    std::vector<std::wstring> family;
    for (const std::wstring& root : roots) {
        for (const wchar_t* first : {L"{ADDAD00A", L"{ADDAD00B", L"{ADDAD00C", L"{ADDAD00D"}) {
            family.push_back(root + L"\\" + first + tail);
            CreateKey(family.back() + L"\\Sub", L"family");
            madeInTypeLib.push_back(family.back());
        }
        std::vector<std::wstring> order = SubkeyNames(root);
        auto at = std::find(order.begin(), order.end(), L"{ADDAD00A" + tail);
        ASSERT_LE(at + 4, order.end());
        for (int i = 1; i < 4; ++i) ASSERT_EQ(at[i].substr(9), tail) << "not adjacent below " << std::string(root.begin(), root.end());
    }
    guard.TakeCensus();

    for (const std::wstring& root : roots) Purge(L"ZEMA.Adjacent", L"{ABCDEF01" + tail, root);

    for (const std::wstring& key : family) EXPECT_FALSE(KeyExists(key)) << std::string(key.begin(), key.end());
    // The test's own root is below no census root.
    std::set<std::wstring> gone;
    for (const std::wstring& key : family)
        if (key.compare(0, PurgeRoot.size(), PurgeRoot) != 0) gone.insert(key);
    guard.ExpectGoneExactly(gone);
}

// A name that agrees with the family's GUID up to a NUL inside is no GUID of it.
TEST_F(TypeLibPurge, ANameWithANulInsideIsNoMatch)
{
    const std::wstring guid = L"{0000000A-1111-4000-8000-00000000ADD1}";
    CreateKey(PurgeRoot + L"\\" + guid, L"the family key");
    ASSERT_TRUE(CreateKeyWithCountedName(PurgeRoot, L"{0000000B-1111-4000-8000-00000000ADD1}" + std::wstring(1, L'\0') + L"x"));
    BeginUninstallPlan();
    PurgeTypeLibMatches(L"ZEMA.Nul", guid.c_str(), PurgeRoot.c_str());

    ASSERT_EQ(PlannedTreeCount(), 1);
    EXPECT_EQ(std::wstring(PlannedTreeAt(0).path), PurgeRoot + L"\\" + guid);
    RemoveKeyWithCountedName(PurgeRoot, L"{0000000B-1111-4000-8000-00000000ADD1}" + std::wstring(1, L'\0') + L"x");
}

TEST_F(TypeLibPurge, DeletesNothingWithoutAUsableGuidOrRoot)
{
    // A top-level key and keys below the root that a careless comparison would take.
    const std::wstring topLevel = L"{7E570009-A1B2-4C3D-8E4F-0123456789AB}";
    std::wstring longGuid = L"{7E570009-A1B2-4C3D-8E4F-0123456789AB}" + std::wstring(300, L'0');
    std::wstring longName = L"{7E57000A" + longGuid.substr(9, 254 - 9);
    CreateKey(topLevel);
    CreateKey(PurgeRoot + L"\\" + longName);
    CreateKey(PurgeRoot + L"\\{7E57000B}");
    std::vector<std::wstring> keys = SubkeyNames(PurgeRoot);
    guard.TakeCensus();
    struct Case {
        std::wstring guid;
        std::wstring root;
    };
    for (const Case& c : {Case{L"", PurgeRoot}, Case{L"{00000000}", PurgeRoot},
                          Case{longGuid, PurgeRoot}, Case{L"{00000000-A1B2-4C3D-8E4F-0123456789AB}", L""},
                          Case{L"{00000000-A1B2-4C3D-8E4F-0123456789AB}", L"UninstallTests.NoSuchRoot"}}) {
        Purge(L"ZEMA.Lotus", c.guid, c.root);
        EXPECT_EQ(SubkeyNames(PurgeRoot), keys) << c.guid.size() << L" " << c.root;
    }
    EXPECT_TRUE(KeyExists(topLevel));
    guard.ExpectNothingChanged();
    RemoveTree(topLevel);
}

TEST_F(TypeLibPurge, OnlyAGuidOutsideThePlatformsReservedRangeIsPurged)
{
    struct Case {
        const wchar_t* typeLibGuid;
        const wchar_t* keyOfItsFamily;  // below the purge root
    };
    const Case cases[] = {
        // The reserved OLE range, in either letter case, and the zero GUID.
        {L"{00000000-0000-0000-C000-000000000046}", L"{5E5E0006-0000-0000-C000-000000000046}"},
        {L"{00020430-0000-0000-c000-000000000046}", L"{5E5E0007-0000-0000-c000-000000000046}"},
        {L"{00000000-0000-0000-0000-000000000000}", L"{5E5E0008-0000-0000-0000-000000000000}"},
        // Texts that are no GUID but agree with a family key from the eleventh character.
        {L"{ZZZZZZZZ-A1B2-4C3D-8E4F-0123456789AB}", L"{5E5E0009-A1B2-4C3D-8E4F-0123456789AB}"},
        {L"{7E57000-0A1B2-4C3D-8E4F-0123456789AC}", L"{5E5E000A-A1B2-4C3D-8E4F-0123456789AC}"},
        {L"[7E570001-A1B2-4C3D-8E4F-0123456789AD)", L"{5E5E000B-A1B2-4C3D-8E4F-0123456789AD)"},
    };
    for (const Case& c : cases) CreateKey(PurgeRoot + L"\\" + c.keyOfItsFamily, L"kept");
    // A neighbour of the reserved range is an ordinary GUID family.
    const std::wstring neighbour = PurgeRoot + L"\\{5E5E000C-0000-0000-C000-000000000047}";
    CreateKey(neighbour, L"purged");
    std::vector<std::wstring> keys = SubkeyNames(PurgeRoot);
    guard.TakeCensus();

    for (const Case& c : cases) {
        Purge(L"ZEMA.Other", c.typeLibGuid, PurgeRoot);
        EXPECT_TRUE(KeyExists(PurgeRoot + L"\\" + c.keyOfItsFamily)) << c.typeLibGuid;
    }
    EXPECT_EQ(SubkeyNames(PurgeRoot), keys);
    Purge(L"ZEMA.Other", L"{00000000-0000-0000-C000-000000000047}", PurgeRoot);
    EXPECT_FALSE(KeyExists(neighbour));
    EXPECT_EQ(SubkeyNames(PurgeRoot).size(), keys.size() - 1);
    guard.ExpectNothingChanged();
}
