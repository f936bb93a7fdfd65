// The administrators' folders: the security that is built and passed, which existing
// folders are used, and the holds that keep them in place.
#include "system/system.h"
#include "tests/registration/registration_test_support.h"
#include "tests/support/unix_link.h"

#include <gtest/gtest.h>

#include <sddl.h>

namespace {

// Under Wine the security that was passed cannot be read back from the folder (it shows
// its own default afterwards), so the descriptor handed to the platform is examined.
TEST(ProtectedFolderTest, SecurityGivesAdministratorsTheFolderAndUsersOnlyReadAndExecute)
{
    ProtectedFolderSecurity security;
    ASSERT_TRUE(BuildProtectedFolderSecurity(&security));
    ASSERT_TRUE(IsValidSecurityDescriptor(&security.descriptor));

    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(&security.descriptor, &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    EXPECT_TRUE(control & SE_DACL_PRESENT);

    BYTE administrators[SECURITY_MAX_SID_SIZE], system[SECURITY_MAX_SID_SIZE], users[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size));
    size = sizeof system;
    ASSERT_TRUE(CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &size));
    size = sizeof users;
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinUsersSid, nullptr, users, &size));

    PSID owner = nullptr;
    BOOL defaulted = TRUE;
    ASSERT_TRUE(GetSecurityDescriptorOwner(&security.descriptor, &owner, &defaulted));
    ASSERT_NE(owner, nullptr);
    EXPECT_TRUE(EqualSid(owner, administrators));

    BOOL present = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(&security.descriptor, &present, &dacl, &defaulted));
    ASSERT_TRUE(present);
    ASSERT_NE(dacl, nullptr);
    struct Expected {
        PSID sid;
        DWORD access;
    } expected[] = {
        {system, FILE_ALL_ACCESS},
        {administrators, FILE_ALL_ACCESS},
        {users, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE},
    };
    ASSERT_EQ(dacl->AceCount, 3);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        void* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, &ace));
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        // Inherited by files and subfolders, and not itself inherited from above.
        EXPECT_EQ(allowed->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        EXPECT_EQ(allowed->Mask, expected[i].access);
        EXPECT_TRUE(EqualSid(&allowed->SidStart, expected[i].sid));
    }
    // Users may not write, create files or folders, or change the security.
    EXPECT_EQ(expected[2].access & (FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER), 0u);
}

TEST(ProtectedFolderTest, OnlyACallThatCreatesTheFolderSucceedsInCreating)
{
    std::wstring folder = MakeTestFolder(L"protected") + L"made";
    EXPECT_TRUE(CreateProtectedFolder(folder.c_str()));
    EXPECT_TRUE(GetFileAttributesW(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_FALSE(CreateProtectedFolder(folder.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(CreateProtectedFolder((folder + L"\\missing\\below").c_str()));
}

// The identity recorded for `folder`, and the one it has now, as volume serial and index.
std::pair<std::string, std::string> RecordedAndActualIdentity(const std::wstring& folder)
{
    std::wstring name = folder;
    while (name.back() == L'\\') name.pop_back();
    std::string recorded(12, '\0'), actual(12, '\0');
    DWORD size = 12;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ProtectedFolderRecords, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        if (RegQueryValueExW(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&recorded[0]), &size) !=
            ERROR_SUCCESS)
            recorded.clear();
        RegCloseKey(key);
    }
    HANDLE handle = CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION info = {};
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info)) actual.clear();
    DWORD identity[3] = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    if (!actual.empty()) memcpy(&actual[0], identity, 12);
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    return {recorded, actual};
}

bool Renames(const std::wstring& folder)
{
    std::wstring name = folder.substr(0, folder.size() - 1);
    if (!MoveFileW(name.c_str(), (name + L"-renamed").c_str())) return false;
    MoveFileW((name + L"-renamed").c_str(), name.c_str());
    return true;
}

// A folder at the name that this program did not make, as a user without administrator
// rights may make it beforehand at the root of the system drive, is moved aside whole and
// the folder made anew; one it made is used as it is; a link is refused and left alone.
TEST(ProtectedFolderTest, OnlyFoldersThisProgramMadeAreUsed)
{
    std::wstring root = MakeTestFolder(L"prepare");
    std::wstring elsewhere = root + L"elsewhere\\";
    CreateDirectoryW(elsewhere.c_str(), nullptr);
    WriteBytes(elsewhere + L"kept.txt", "the link's target");
    enum Before { Nothing, UsersFolder, UsersFile, MadeByThisProgram, ReplacedAfterwards, Link };
    struct Case {
        const wchar_t* name;
        Before before;
        bool accepted;
        const char* movedAside;  // what was there before, as moved aside; nullptr: nothing moved
    } cases[] = {
        {L"new\\", Nothing, true, nullptr},
        {L"users-folder\\", UsersFolder, true, "planted"},
        {L"users-file\\", UsersFile, true, "a file named like the folder"},
        {L"made\\", MadeByThisProgram, true, nullptr},
        {L"replaced\\", ReplacedAfterwards, true, "planted"},
        {L"link\\", Link, false, nullptr},
        {L"missing\\below\\", Nothing, false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
        std::wstring folder = root + c.name;
        std::wstring name = folder.substr(0, folder.size() - 1);
        if (c.before == UsersFolder) {
            CreateDirectoryW(folder.c_str(), nullptr);
            WriteBytes(folder + L"planted.txt", "planted");
        }
        if (c.before == UsersFile) WriteBytes(name, "a file named like the folder");
        if (c.before == MadeByThisProgram || c.before == ReplacedAfterwards) {
            ASSERT_TRUE(PrepareProtectedFolder(folder.c_str()));
            ReleaseProtectedFolders();
            WriteBytes(folder + L"program.txt", "the program's");
        }
        if (c.before == ReplacedAfterwards) {
            ASSERT_TRUE(MoveFileW(name.c_str(), (name + L"-gone").c_str()));
            CreateDirectoryW(folder.c_str(), nullptr);
            WriteBytes(folder + L"planted.txt", "planted");
        }
        if (c.before == Link) {
            ASSERT_TRUE(MakeUnixLink(name, elsewhere));
        }

        EXPECT_EQ(PrepareProtectedFolder(folder.c_str()), c.accepted);

        std::vector<std::wstring> aside = MovedAside(folder);
        if (c.movedAside) {
            ASSERT_EQ(aside.size(), 1u);
            std::wstring moved = c.before == UsersFile ? aside[0] : aside[0] + L"\\planted.txt";
            EXPECT_EQ(ReadBytes(moved), c.movedAside) << "never deleted";
        } else {
            EXPECT_TRUE(aside.empty());
        }
        if (c.accepted) {
            EXPECT_TRUE(GetFileAttributesW(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
            EXPECT_FALSE(FileExists(folder + L"planted.txt"));
            EXPECT_EQ(FileExists(folder + L"program.txt"), c.before == MadeByThisProgram);
            auto identity = RecordedAndActualIdentity(folder);
            EXPECT_FALSE(identity.first.empty());
            EXPECT_EQ(identity.first, identity.second);
            EXPECT_FALSE(Renames(folder)) << "held";
        }
        ReleaseProtectedFolders();
        if (c.accepted) {
            EXPECT_TRUE(Renames(folder)) << "released";
        }
        if (c.before == Link) {
            EXPECT_EQ(ReadBytes(elsewhere + L"kept.txt"), "the link's target");
            EXPECT_TRUE(GetFileAttributesW(name.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) << "left alone";
            RemoveUnixLink(name);
        }
        ForgetProtectedFolder(folder);
    }
}

// A folder that is held can be neither renamed nor replaced, nor can the held folder
// above it; a handle without data access would not stop that.
TEST(ProtectedFolderTest, AHeldFolderCannotBeRenamed)
{
    std::wstring root = MakeTestFolder(L"hold");
    std::wstring base = root + L"base\\";
    std::wstring time = base + L"1234567890\\";
    ASSERT_TRUE(PrepareProtectedFolder(base.c_str()));
    ASSERT_TRUE(CreateProtectedFolder(time.c_str()));
    ASSERT_TRUE(HoldProtectedFolder(time.c_str()));
    EXPECT_FALSE(Renames(time));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(Renames(base));
    EXPECT_FALSE(RemoveDirectoryW(time.c_str()));
    // Holding again replaces the hold; one release ends every hold.
    ASSERT_TRUE(HoldProtectedFolder(time.c_str()));
    ReleaseProtectedFolders();
    EXPECT_TRUE(Renames(time));
    EXPECT_TRUE(Renames(base));
    EXPECT_FALSE(HoldProtectedFolder((root + L"missing\\").c_str()));
    WriteBytes(root + L"file", "not a folder");
    EXPECT_FALSE(HoldProtectedFolder((root + L"file").c_str()));
    ForgetProtectedFolder(base);
}

// Under Wine the security set on a folder is not stored, so the decision to set it is
// made over descriptors as Windows stores them.
TEST(ProtectedFolderTest, SecurityIsSetOnlyWhenTheFolderLacksIt)
{
    ProtectedFolderSecurity wanted;
    ASSERT_TRUE(BuildProtectedFolderSecurity(&wanted));
    const std::wstring aces = L"(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
    struct Case {
        const char* label;
        std::wstring sddl;
        bool asWanted;
    } cases[] = {
        {"as made", L"O:BAD:P" + aces, true},
        {"as made, self-relative and with a group", L"O:BAG:SYD:P" + aces, true},
        {"another owner", L"O:S-1-5-21-1-2-3-1001D:P" + aces, false},
        {"owned by the system", L"O:SYD:P" + aces, false},
        {"inheriting from above", L"O:BAD:" + aces, false},
        {"Users may change it", L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)", false},
        {"an entry more", L"O:BAD:P" + aces + L"(A;OICI;0x1200a9;;;WD)", false},
        {"an entry less", L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", false},
        {"in another order", L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)", false},
        {"not passed on to files", L"O:BAD:P(A;CI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", false},
        {"Users denied instead", L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(D;OICI;0x1200a9;;;BU)", false},
        {"an empty DACL", L"O:BAD:P", false},
        {"no DACL", L"O:BA", false},
        {"no owner", L"D:P" + aces, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        PSECURITY_DESCRIPTOR current = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.sddl.c_str(), SDDL_REVISION_1, &current,
                                                                         nullptr));
        EXPECT_EQ(FolderSecurityIsAsWanted(current, &wanted.descriptor), c.asWanted);
        LocalFree(current);
    }
    EXPECT_TRUE(FolderSecurityIsAsWanted(&wanted.descriptor, &wanted.descriptor));
    // A NULL DACL, built here (Wine reads its SDDL form as an empty DACL).
    SECURITY_DESCRIPTOR nullDacl;
    ASSERT_TRUE(InitializeSecurityDescriptor(&nullDacl, SECURITY_DESCRIPTOR_REVISION) &&
                SetSecurityDescriptorOwner(&nullDacl, wanted.sids[1], FALSE) &&
                SetSecurityDescriptorDacl(&nullDacl, TRUE, nullptr, FALSE) &&
                SetSecurityDescriptorControl(&nullDacl, SE_DACL_PROTECTED, SE_DACL_PROTECTED));
    EXPECT_FALSE(FolderSecurityIsAsWanted(&nullDacl, &wanted.descriptor));
}

}  // namespace
