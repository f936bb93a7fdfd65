// The check of a server file before the uninstall runs it: the decision over security
// descriptors as Windows has them (SDDL), and the end to end run under Wine, where a Unix
// mode o+w shows as an Everyone entry with write rights.
#include "system/system.h"
#include "tests/registration/registration_test_support.h"
#include "tests/support/unix_link.h"

#include <gtest/gtest.h>

#include <sddl.h>

namespace {

const wchar_t CurrentUserSid[] = L"S-1-5-21-1-2-3-1000";
const std::wstring TrustedInstaller = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

struct Descriptor {
    explicit Descriptor(const std::wstring& sddl)
    {
        converted = ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                                         nullptr);
    }
    ~Descriptor() { LocalFree(descriptor); }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    bool converted = false;
};

TEST(ServerCheck, OnlyTheSystemAdministratorsTrustedInstallerAndTheUserMayChangeWhatRuns)
{
    PSID user = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidW(CurrentUserSid, &user));
    const std::wstring owned = L"O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)";
    struct Case {
        const char* label;
        std::wstring sddl;
        bool file, folder, above;  // trusted as the server file, its folder, a folder above
    } cases[] = {
        {"administrators' own", L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", true, true, true},
        {"the user's own, as Wine shows a file", L"O:S-1-5-21-1-2-3-1000D:(A;;FA;;;SY)(A;;FA;;;S-1-5-21-1-2-3-1000)",
         true, true, true},
        {"the system directory", L"O:" + TrustedInstaller + L"D:PAI(A;;FA;;;" + TrustedInstaller +
                                     L")(A;;0x1301bf;;;SY)(A;;0x1301bf;;;BA)(A;;0x1200a9;;;BU)(A;OICIIO;GA;;;CO)",
         true, true, true},
        // The root of the system drive: Authenticated Users may add folders, and modify
        // (inherit-only) what is made below it.
        {"root of the system drive", L"O:" + TrustedInstaller + L"D:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)"
                                     L"(A;OICI;0x1200a9;;;BU)(A;OICIIO;SDGXGWGR;;;AU)(A;;0x4;;;AU)",
         false, true, true},
        // What a folder made at that root inherits.
        {"folder made at the root", L"O:BAD:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;OICIID;0x1200a9;;;BU)"
                                    L"(A;OICIID;0x1301bf;;;AU)",
         false, false, false},
        {"owned by another user", L"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;SY)", false, false, false},
        {"owned by Users", L"O:BUD:(A;;FA;;;SY)", false, false, false},
        {"no owner", L"D:(A;;FA;;;SY)", false, false, false},
        {"no DACL", L"O:BA", false, false, false},
        {"an empty DACL: nobody may do anything", L"O:BAD:", true, true, true},
        {"Everyone reads and runs", owned + L"(A;;0x1200a9;;;WD)", true, true, true},
        {"Everyone as Wine shows o+w", owned + L"(A;;0x1301ff;;;WD)", false, false, false},
        {"Everyone writes data, adds a file", owned + L"(A;;0x2;;;WD)", false, false, true},
        {"Everyone appends, adds a folder", owned + L"(A;;0x4;;;WD)", false, true, true},
        {"Everyone deletes a child", owned + L"(A;;0x40;;;WD)", true, false, false},
        {"Everyone deletes", owned + L"(A;;SD;;;WD)", false, false, false},
        {"Everyone changes permissions", owned + L"(A;;WD;;;WD)", false, false, false},
        {"Everyone takes ownership", owned + L"(A;;WO;;;WD)", false, false, false},
        {"Everyone, generic all", owned + L"(A;;GA;;;WD)", false, false, false},
        {"Everyone, generic write", owned + L"(A;;GW;;;WD)", false, false, true},
        {"another user changes permissions, inherited", owned + L"(A;ID;WD;;;S-1-5-21-1-2-3-1001)", false, false,
         false},
        {"another user, inherit-only", owned + L"(A;OICIIO;FA;;;S-1-5-21-1-2-3-1001)", true, true, true},
        {"denied, never granted", owned + L"(D;;FA;;;WD)", true, true, true},
        {"the user writes", owned + L"(A;;FA;;;S-1-5-21-1-2-3-1000)", true, true, true},
        {"TrustedInstaller writes", owned + L"(A;;FA;;;" + TrustedInstaller + L")", true, true, true},
        // Creator Owner applies only through inheritance, to whoever then owns the object.
        {"Creator Owner, not inherit-only", owned + L"(A;;FA;;;CO)", false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Descriptor descriptor(c.sddl);
        ASSERT_TRUE(descriptor.converted);
        EXPECT_EQ(ServerPathIsTrusted(descriptor.descriptor, user, ServerPathPart::File), c.file);
        EXPECT_EQ(ServerPathIsTrusted(descriptor.descriptor, user, ServerPathPart::Folder), c.folder);
        EXPECT_EQ(ServerPathIsTrusted(descriptor.descriptor, user, ServerPathPart::FolderAbove), c.above);
    }
    EXPECT_FALSE(ServerPathIsTrusted(nullptr, user, ServerPathPart::File));
    // A NULL DACL grants everyone everything. (Wine reads the SDDL form of one as an empty
    // DACL, so it is built here.)
    SECURITY_DESCRIPTOR nullDacl;
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size));
    ASSERT_TRUE(InitializeSecurityDescriptor(&nullDacl, SECURITY_DESCRIPTOR_REVISION) &&
                SetSecurityDescriptorOwner(&nullDacl, administrators, FALSE) &&
                SetSecurityDescriptorDacl(&nullDacl, TRUE, nullptr, FALSE));
    for (ServerPathPart part : {ServerPathPart::File, ServerPathPart::Folder, ServerPathPart::FolderAbove})
        EXPECT_FALSE(ServerPathIsTrusted(&nullDacl, user, part));
    LocalFree(user);
}

// Registered, then made writable for everyone as a case asks, then unregistered: the
// server runs only where nobody else could have replaced it or put a library beside it.
TEST(ServerCheck, AServerThatOthersCanReplaceIsNeverRun)
{
    enum Writable { Nothing, TheFile, ItsFolder, AFolderAbove, ALinkOnTheWay };
    struct Case {
        const wchar_t* name;
        Writable writable;
    } cases[] = {
        {L"ZEMA.CheckTrusted.ocx", Nothing},
        {L"ZEMA.CheckFile.ocx", TheFile},
        {L"ZEMA.CheckFolder.ocx", ItsFolder},
        {L"ZEMA.CheckAbove.ocx", AFolderAbove},
        {L"ZEMA.CheckLinked.ocx", ALinkOnTheWay},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::wstring above = MakeTestFolder(L"servercheck");
        std::wstring folder = above + L"server\\";
        CreateDirectoryW(folder.c_str(), nullptr);
        std::wstring path = CopyFixture(folder, c.name);
        FixtureIdentity id = FixtureIdentityFromFileName(path);
        RemoveFixtureKeys(id);
        ASSERT_TRUE(RegisterComponentFile(path.c_str()));
        std::wstring run = path;
        const std::wstring made[] = {L"", path, folder, above, L""};
        if (!made[c.writable].empty()) {
            ASSERT_TRUE(MakeWorldWritable(made[c.writable]));
        }
        if (c.writable == ALinkOnTheWay) {
            ASSERT_TRUE(MakeUnixLink(above + L"link", folder));
            run = above + L"link\\" + c.name;
        }

        EXPECT_EQ(UnregisterComponentFile(run.c_str()), c.writable == Nothing);
        std::vector<std::wstring> record = {L"unregister ok", L"register ok"};
        if (c.writable == Nothing) record.push_back(L"unregister ok");
        EXPECT_EQ(ReadLines(FixtureCallRecordPath(path)), record);
        if (c.writable == ALinkOnTheWay) RemoveUnixLink(above + L"link");
        RemoveFixtureKeys(id);
    }
}

// From the check until regsvr32 has ended, nobody may write, replace or delete the file;
// reading it, as the loader does, goes on.
TEST(ServerCheck, TheCheckedServerIsHeldAgainstWritingAndDeletion)
{
    std::wstring folder = MakeTestFolder(L"serverhold");
    std::wstring path = CopyFixture(folder, L"ZEMA.CheckHeld.ocx");
    HANDLE held = HoldServerIfTrusted(path.c_str());
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(MoveFileW(path.c_str(), (folder + L"moved.ocx").c_str()));
    EXPECT_FALSE(DeleteFileW(path.c_str()));
    HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    CloseHandle(reader);
    HMODULE loaded = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    EXPECT_NE(loaded, nullptr);
    if (loaded) FreeLibrary(loaded);
    CloseHandle(held);
    EXPECT_TRUE(MoveFileW(path.c_str(), (folder + L"moved.ocx").c_str()));
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);

    for (const std::wstring& refused : {folder, folder + L"missing.ocx", std::wstring(L"ZEMA.CheckHeld.ocx")})
        EXPECT_EQ(HoldServerIfTrusted(refused.c_str()), INVALID_HANDLE_VALUE) << std::string(refused.begin(), refused.end());
}

}  // namespace
