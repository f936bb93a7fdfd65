// The administrators' folders: the security that is built and passed, and which existing
// folders are accepted.
#include "system/system.h"
#include "tests/registration/registration_test_support.h"
#include "tests/registration/unix_link.h"

#include <gtest/gtest.h>

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

TEST(ProtectedFolderTest, ExistingFoldersAreAcceptedOnlyWhenTheyAreRealFolders)
{
    std::wstring root = MakeTestFolder(L"prepare");
    CreateDirectoryW((root + L"existing").c_str(), nullptr);
    CreateDirectoryW((root + L"elsewhere").c_str(), nullptr);
    WriteBytes(root + L"file", "not a folder");
    ASSERT_TRUE(MakeUnixLink(root + L"link", root + L"elsewhere"));
    struct Case {
        const wchar_t* name;
        bool accepted;
    } cases[] = {
        {L"new", true},
        {L"existing", true},
        {L"file", false},
        {L"link", false},
        {L"link\\", false},
        {L"link/", false},
        {L"missing\\below", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
        std::wstring folder = root + c.name;
        EXPECT_EQ(PrepareProtectedFolder(folder.c_str()), c.accepted);
        if (c.accepted) {
            EXPECT_TRUE(GetFileAttributesW(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
        }
    }
}

}  // namespace
