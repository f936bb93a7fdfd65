// The backup that the tree deletion writes while an uninstall's session is open: its
// exact text, its name, and the platform's own import bringing every value back.
#include "tests/uninstall/backup_files.h"
#include "tests/uninstall/registry_fixture.h"
#include "uninstall/uninstall.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {
const std::wstring Root = L"UninstallTests.Backup";
const std::wstring Other = L"UninstallTests.BackupOther";
const std::wstring Header = L"\xFEFF" L"Windows Registry Editor Version 5.00\r\n\r\n";

class RegistryBackup : public ::testing::Test {
protected:
    void SetUp() override
    {
        RemoveTree(Root);
        RemoveTree(Other);
        guard.Begin();
        before = BackupFiles();
    }
    void TearDown() override
    {
        RemoveTree(Root);
        RemoveTree(Other);
        guard.End();
    }

    RegistryGuard guard;
    std::set<std::wstring> before;
};

std::vector<BYTE> Utf16(const std::wstring& text, bool terminated = true)
{
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    return {bytes, bytes + (text.size() + (terminated ? 1 : 0)) * sizeof(wchar_t)};
}

void SetValue(const std::wstring& path, const wchar_t* name, DWORD type, const std::vector<BYTE>& data)
{
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, name, 0, type, data.data(), static_cast<DWORD>(data.size())), ERROR_SUCCESS);
    RegCloseKey(key);
}
}  // namespace

TEST_F(RegistryBackup, EveryKindOfValueIsWrittenAsTheImporterReadsItAndComesBackByteForByte)
{
    std::vector<BYTE> binary300(300);
    for (size_t i = 0; i < binary300.size(); ++i) binary300[i] = static_cast<BYTE>(i * 7);
    const DWORD zero = 0, ones = 0xFFFFFFFF;
    const unsigned long long qword = 0x0123456789ABCDEFull;
    const BYTE* zeroBytes = reinterpret_cast<const BYTE*>(&zero);
    const BYTE* onesBytes = reinterpret_cast<const BYTE*>(&ones);
    const BYTE* qwordBytes = reinterpret_cast<const BYTE*>(&qword);
    struct Case {
        const wchar_t* name;  // nullptr: the default value
        DWORD type;
        std::vector<BYTE> data;
        const wchar_t* line;  // as written; nullptr where only the round trip is checked
    };
    const Case cases[] = {
        {nullptr, REG_SZ, Utf16(L""), L"@=\"\""},
        {L"backslash", REG_SZ, Utf16(L"C:\\dir\\"), L"\"backslash\"=\"C:\\\\dir\\\\\""},
        {L"quote", REG_SZ, Utf16(L"say \"hi\""), L"\"quote\"=\"say \\\"hi\\\"\""},
        {L"equals, bracket", REG_SZ, Utf16(L"a=b]c,d"), L"\"equals, bracket\"=\"a=b]c,d\""},
        {L"中文名", REG_SZ, Utf16(L"注册表备份"), L"\"中文名\"=\"注册表备份\""},
        // Strings the quoted form would change go as bytes.
        {L"line break", REG_SZ, Utf16(L"a\r\nb"), L"\"line break\"=hex(1):61,00,0d,00,0a,00,62,00,00,00"},
        // Long hex data goes on in continuation lines.
        {L"expand", REG_EXPAND_SZ, Utf16(L"%SystemRoot%\\a"),
         L"\"expand\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,\\\r\n"
         L"  74,00,25,00,5c,00,61,00,00,00"},
        {L"multi", REG_MULTI_SZ, Utf16(std::wstring(L"a\0\0b\0", 5)),
         L"\"multi\"=hex(7):61,00,00,00,00,00,62,00,00,00,00,00"},
        {L"dword zero", REG_DWORD, {zeroBytes, zeroBytes + 4}, L"\"dword zero\"=dword:00000000"},
        {L"dword ones", REG_DWORD, {onesBytes, onesBytes + 4}, L"\"dword ones\"=dword:ffffffff"},
        {L"short dword", REG_DWORD, {1, 2, 3}, L"\"short dword\"=hex(4):01,02,03"},
        {L"qword", REG_QWORD, {qwordBytes, qwordBytes + 8}, L"\"qword\"=hex(b):ef,cd,ab,89,67,45,23,01"},
        {L"binary empty", REG_BINARY, {}, L"\"binary empty\"=hex:"},
        {L"binary 300", REG_BINARY, binary300, nullptr},
        {L"none", REG_NONE, {}, L"\"none\"=hex(0):"},
        {L"odd type", 0x12345, {0x61, 0x62}, L"\"odd type\"=hex(12345):61,62"},
        {L"na\"me\\", REG_SZ, Utf16(L"x"), L"\"na\\\"me\\\\\"=\"x\""},
    };
    CreateKey(Root);
    for (const Case& c : cases) SetValue(Root, c.name, c.type, c.data);
    CreateKey(Root + L"\\empty");
    CreateKey(Root + L"\\key with blanks", L"inner");
    CreateKey(Root + L"\\key with blanks\\Deeper]Bracket 中文", L"deepest");
    std::vector<std::wstring> made = DumpTree(Root);
    guard.TakeCensus();

    BeginRegistryBackup(Root.c_str());
    // Named in other letter case: the file keeps the key's own name.
    EXPECT_EQ(DeleteClassesRootTree(L"uninstalltests.BACKUP"), 1);
    EXPECT_TRUE(EndRegistryBackup());
    guard.ExpectGoneExactly({Root});

    std::vector<std::wstring> written = NewBackupFiles(before);
    ASSERT_EQ(written.size(), 1u);
    std::wstring text = ReadBackupFile(written[0]);
    const std::wstring start = Header + L"[HKEY_CLASSES_ROOT\\UninstallTests.Backup]\r\n";
    EXPECT_EQ(text.substr(0, start.size()), start);
    for (const Case& c : cases) {
        if (!c.line) continue;
        EXPECT_NE(text.find(L"\r\n" + std::wstring(c.line) + L"\r\n"), std::wstring::npos) << c.line;
    }
    EXPECT_NE(text.find(L"\r\n\r\n[HKEY_CLASSES_ROOT\\UninstallTests.Backup\\empty]\r\n\r\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"\r\n\r\n[HKEY_CLASSES_ROOT\\UninstallTests.Backup\\key with blanks\\Deeper]Bracket 中文]\r\n"
                        L"@=\"deepest\"\r\n\r\n"),
              std::wstring::npos);

    EXPECT_EQ(ImportBackup(written[0]), 0u);
    EXPECT_EQ(DumpTree(Root), made);
    guard.ExpectNothingChanged();
    DeleteFileW((BackupFolder() + written[0]).c_str());
}

TEST_F(RegistryBackup, ASessionThatDeletesNothingWritesNoFile)
{
    BeginRegistryBackup(Root.c_str());
    EXPECT_EQ(DeleteClassesRootTree(Root.c_str()), 0);
    EXPECT_TRUE(EndRegistryBackup());
    EXPECT_EQ(NewBackupFiles(before), std::vector<std::wstring>{});
}

TEST_F(RegistryBackup, TheFileIsNamedAfterTheSecondAndTheProgIdAndCountsUpWithinASecond)
{
    const wchar_t progId[] = L"ZEMA.Odd:Name*?\"<>|/";
    const std::wstring part = L"ZEMA.Odd_Name_______";
    // The names of the next half minute are taken once and twice already.
    long long now = static_cast<long long>(time(nullptr));
    std::vector<std::wstring> taken;
    for (long long second = now; second <= now + 30; ++second)
        for (const wchar_t* suffix : {L".reg", L"-2.reg"}) {
            taken.push_back(std::to_wstring(second) + L"-" + part + suffix);
            HANDLE file = CreateFileW((BackupFolder() + taken.back()).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
            ASSERT_NE(file, INVALID_HANDLE_VALUE);
            CloseHandle(file);
        }
    before = BackupFiles();
    CreateKey(Root, L"saved");

    BeginRegistryBackup(progId);
    EXPECT_EQ(DeleteClassesRootTree(Root.c_str()), 1);
    EXPECT_TRUE(EndRegistryBackup());

    std::vector<std::wstring> written = NewBackupFiles(before);
    ASSERT_EQ(written.size(), 1u);
    EXPECT_TRUE(IsBackupNamed(written[0], part + L"-3", now, now + 30)) << std::string(written[0].begin(), written[0].end());
    DeleteFileW((BackupFolder() + written[0]).c_str());
    for (const std::wstring& name : taken) DeleteFileW((BackupFolder() + name).c_str());

    // The longest ProgID that reaches an uninstall is cut in the name, within MAX_PATH.
    const std::wstring longProgId = L"ZEMA." + std::wstring(249, L'L');
    CreateKey(Root, L"saved");
    BeginRegistryBackup(longProgId.c_str());
    EXPECT_EQ(DeleteClassesRootTree(Root.c_str()), 1);
    EXPECT_TRUE(EndRegistryBackup());
    written = NewBackupFiles(before);
    ASSERT_EQ(written.size(), 1u);
    EXPECT_TRUE(IsBackupNamed(written[0], longProgId.substr(0, 200), now, now + 30));
    DeleteFileW((BackupFolder() + written[0]).c_str());
}

TEST_F(RegistryBackup, ATreeThatCannotBeReadWholeIsNeitherWrittenNorDeleted)
{
    CreateKey(Root + L"\\Readable", L"stays");
    CreateKey(Other, L"saved");
    ResistingKey resisting(Root + L"\\Unreadable");
    ASSERT_TRUE(resisting.Resists());
    guard.TakeCensus();

    BeginRegistryBackup(Root.c_str());
    EXPECT_EQ(DeleteClassesRootTree(Root.c_str()), 0);
    // The session goes on: a later tree is saved and deleted.
    EXPECT_EQ(DeleteClassesRootTree(Other.c_str()), 1);
    EXPECT_TRUE(EndRegistryBackup());

    guard.ExpectGoneExactly({Other});
    EXPECT_TRUE(KeyExists(Root + L"\\Readable"));
    std::vector<std::wstring> written = NewBackupFiles(before);
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(ReadBackupFile(written[0]), Header + L"[HKEY_CLASSES_ROOT\\UninstallTests.BackupOther]\r\n@=\"saved\"\r\n\r\n");
    DeleteFileW((BackupFolder() + written[0]).c_str());
}

TEST_F(RegistryBackup, AStringStoredWithoutTerminatorIsWrittenAsStoredAndComesBackTerminated)
{
    CreateKey(Root);
    SetValue(Root, L"unterminated", REG_SZ, Utf16(L"ab", false));
    guard.TakeCensus();

    BeginRegistryBackup(Root.c_str());
    EXPECT_EQ(DeleteClassesRootTree(Root.c_str()), 1);
    EXPECT_TRUE(EndRegistryBackup());

    std::vector<std::wstring> written = NewBackupFiles(before);
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(ReadBackupFile(written[0]),
              Header + L"[HKEY_CLASSES_ROOT\\UninstallTests.Backup]\r\n\"unterminated\"=hex(1):61,00,62,00\r\n\r\n");
    // The platform's RegSetValueEx, which the import calls, adds the terminator: what
    // programs read is the same text.
    EXPECT_EQ(ImportBackup(written[0]), 0u);
    EXPECT_EQ(DumpTree(Root), (std::vector<std::wstring>{Root, Root + L" | unterminated | 1 | 610062000000"}));
    DeleteFileW((BackupFolder() + written[0]).c_str());
}
