// What depends on the system code page, run in the users' code page 936 (GBK), in 1252 and
// (some of it) in UTF-8, 65001: the test run has a pass in each. Cabinet paths and the
// stored names not flagged UTF-8 go through the system code page; dropped control files
// never do.
#include "registration/registration.h"
#include "tests/registration/cabinet_writer.h"
#include "tests/registration/registration_test_support.h"
#include "tests/support/main_window_fixture.h"
#include "tests/support/message_box_answerer.h"

#include <gtest/gtest.h>

#include <set>

namespace {

const std::wstring ListHead = L"解压文件列表:\r\n";
const std::wstring CabinetOk = L"注册状态:注册成功！";
const std::wstring CabinetFailed = L"注册状态:注册失败！";

std::string InCodePage(UINT codePage, const std::wstring& text)
{
    char bytes[512] = {};
    WideCharToMultiByte(codePage, 0, text.c_str(), -1, bytes, sizeof bytes, nullptr, nullptr);
    return bytes;
}

std::string Gbk(const std::wstring& text)
{
    return InCodePage(936, text);
}

bool InGbk()
{
    return GetACP() == 936;
}

// True when the system code page writes Chinese: GBK, or UTF-8.
bool WritesChinese()
{
    return GetACP() == 936 || GetACP() == CP_UTF8;
}

// The names of the entries of `folder` (ending in "\"), with a "\" after each folder.
std::set<std::wstring> FolderEntries(const std::wstring& folder)
{
    std::set<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        names.insert(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? name + L"\\" : name);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return names;
}

TEST(CodePage, IsTheOneTheTestPassRunsIn)
{
    wchar_t expected[16] = {};
    ASSERT_GT(GetEnvironmentVariableW(L"EXPECTED_CODE_PAGE", expected, 16), 0u)
        << "the test run names its code page (use_code_page in scripts/wine-env.sh)";
    EXPECT_EQ(GetACP(), wcstoul(expected, nullptr, 10));

    // The cases below rest on these GBK forms: a trail byte that is a backslash.
    EXPECT_EQ(Gbk(L"乗"), "\x81\x5C");
    EXPECT_EQ(Gbk(L"嘰"), "\x87\x5C");
    EXPECT_EQ(Gbk(L"控件"), "\xBF\xD8\xBC\xFE");

    // Wine keeps names as UTF-8 on the Linux side only when the locale it runs in exists.
    using UnixFileName = char*(CDECL*)(const wchar_t*);
    auto unixFileName = reinterpret_cast<UnixFileName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    if (!unixFileName) return;  // not under Wine
    std::wstring folder = MakeTestFolder(L"控件");
    char* unix = unixFileName(folder.c_str());
    ASSERT_NE(unix, nullptr);
    EXPECT_NE(std::string(unix).find("regtest-\xE6\x8E\xA7\xE4\xBB\xB6-"), std::string::npos) << unix;
    HeapFree(GetProcessHeap(), 0, unix);
}

class CodePageDropTest : public MainWindowTest {
protected:
    void Drop(const std::wstring& path)
    {
        SendMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({path})), 0);
    }
    void Forget(const std::wstring& path) { forget.push_back(FixtureIdentityFromFileName(path)); }
    void TearDown() override
    {
        for (const FixtureIdentity& id : forget) RemoveFixtureKeys(id);
        MainWindowTest::TearDown();
    }
    std::string dll = ReadBytes(BinFolder() + L"fixture_com_server.dll");
    std::wstring folder = MakeTestFolder(L"cp");
    std::vector<FixtureIdentity> forget;
};

// A dropped control file goes to regsvr32 as UTF-16: registered in every code page.
TEST_F(CodePageDropTest, ChineseControlFilesRegisterThroughRegsvr32)
{
    const wchar_t* const names[] = {L"ZEMA.控件.ocx", L"乗\\Zema.乗嘰.dll", L"嘰\\PDF.Z控件 (2).ocx"};
    for (const wchar_t* name : names) {
        SCOPED_TRACE(testing::Message() << std::wstring(name));
        std::wstring path = folder + name;
        CreateDirectoryW(path.substr(0, path.find_last_of(L'\\')).c_str(), nullptr);
        CopyFixture(folder, name);
        Forget(path);
        Drop(path);
        EXPECT_EQ(WindowText(InfoEdit), L"拖入文件路径：" + path + L"\r\n注册状态：文件注册成功！");
        EXPECT_EQ(ReadLines(FixtureCallRecordPath(path)), (std::vector<std::wstring>{L"unregister ok", L"register ok"}));
        EXPECT_TRUE(FixtureRegistered(FixtureIdentityFromFileName(path), path));
    }
}

// In 936 a cabinet reaches the cabinet library by its GBK path, even where a trail byte is
// a backslash, and in 65001 by its UTF-8 path; in 1252 such a path cannot be expressed and
// nothing is unpacked.
TEST_F(CodePageDropTest, CabinetsWithChinesePathsUnpackAndRegisterInGbk)
{
    struct Case {
        const wchar_t* cabinet;  // below the test folder
        const wchar_t* control;  // the one stored file, a copy of the fixture
    } cases[] = {
        {L"控件包.cab", L"ZEMA.CpPackage.ocx"},
        {L"乗\\controls.cab", L"ZEMA.CpFolderTrail.ocx"},
        {L"嘰.cab", L"ZEMA.CpNameTrail.ocx"},
        {L"乗\\嘰.cab", L"ZEMA.CpBothTrail.ocx"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::wstring(c.cabinet));
        WaitForFreshExtractionSecond();
        std::wstring path = folder + c.cabinet;
        CreateDirectoryW(path.substr(0, path.find_last_of(L'\\')).c_str(), nullptr);
        std::wstring control = c.control;
        WriteBytes(path, BuildCabinet({{std::string(control.begin(), control.end()), dll}}));
        Drop(path);
        std::wstring unpacked = ExtractionFolder() + control;
        Forget(unpacked);
        bool registered = FixtureRegistered(FixtureIdentityFromFileName(unpacked), unpacked);
        if (WritesChinese()) {
            EXPECT_EQ(WindowText(InfoEdit), ListHead + ShownExtractionFolder() + control + L"\r\n" + CabinetOk);
            EXPECT_EQ(ReadBytes(unpacked), dll);
            EXPECT_TRUE(registered);
        } else {
            std::wstring shown = WindowText(InfoEdit);
            ASSERT_GE(shown.size(), CabinetFailed.size());
            EXPECT_EQ(shown.substr(shown.size() - CabinetFailed.size()), CabinetFailed);
            EXPECT_EQ(shown.find(control), std::wstring::npos) << "nothing listed";
            EXPECT_FALSE(FileExists(unpacked));
            EXPECT_FALSE(registered);
        }
    }
}

// Stored names not flagged UTF-8 are system-code-page text. In 936 a GBK name whose trail
// byte is a backslash is one file in the extraction folder, not a folder part; in 1252 the
// same byte is a backslash, the name has a folder part and the copy stops there.
TEST_F(CodePageDropTest, GbkStoredNamesAreOneFileEachInTheFolder)
{
    WaitForFreshExtractionSecond();
    WriteBytes(folder + L"gbk.cab", BuildCabinet({{Gbk(L"控件说明.txt"), "manual"},
                                                  {Gbk(L"ZEMA.嘰.ocx"), dll},
                                                  {Gbk(L"乗.txt"), "trail"},
                                                  {"after.txt", "after"}}));
    Drop(folder + L"gbk.cab");
    std::wstring shown = ShownExtractionFolder();
    std::wstring target = ExtractionFolder();
    std::wstring control = target + L"ZEMA.嘰.ocx";
    Forget(control);
    if (InGbk()) {
        EXPECT_EQ(WindowText(InfoEdit), ListHead + shown + L"控件说明.txt\r\n" + shown + L"ZEMA.嘰.ocx\r\n" + shown +
                                            L"乗.txt\r\n" + shown + L"after.txt\r\n" + CabinetOk);
        EXPECT_EQ(FolderEntries(target), (std::set<std::wstring>{L"控件说明.txt", L"ZEMA.嘰.ocx", L"乗.txt",
                                                                 L"ZEMA.嘰.ocx.calls", L"after.txt"}));
        EXPECT_EQ(ReadBytes(target + L"控件说明.txt"), "manual");
        EXPECT_EQ(ReadBytes(target + L"乗.txt"), "trail");
        EXPECT_TRUE(FixtureRegistered(FixtureIdentityFromFileName(control), control));
    } else {
        std::wstring manual = L"\u00BF\u00D8\u00BC\u00FE\u00CB\u00B5\u00C3\u00F7.txt";  // the GBK bytes read as 1252
        EXPECT_EQ(WindowText(InfoEdit), ListHead + shown + manual + L"\r\n" + shown + L"ZEMA.\u2021\\.ocx\r\n" + CabinetFailed);
        EXPECT_EQ(FolderEntries(target), std::set<std::wstring>{manual});
        EXPECT_EQ(ReadBytes(target + manual), "manual");
        EXPECT_FALSE(ClassesKeyExists(L"ZEMA.\u2021"));
    }
}

// A trail byte 0x5C beside real separators: the parent-folder component is refused in
// every code page, and nothing lands outside the extraction folder.
TEST_F(CodePageDropTest, AParentFolderPartAfterATrailByteIsRefused)
{
    MessageBoxAnswerer answer(IDOK);
    WaitForFreshExtractionSecond();
    size_t unique = folder.find(L"regtest-cp-") + 11;
    std::wstring escape = L"escape-" + folder.substr(unique, folder.size() - unique - 1) + L".txt";
    std::string stored = Gbk(L"嘰") + "\\..\\" + std::string(escape.begin(), escape.end());
    WriteBytes(folder + L"escape.cab", BuildCabinet({{"first.txt", "1"}, {stored, "owned"}, {"after.txt", "2"}}));
    Drop(folder + L"escape.cab");
    std::wstring shown = ShownExtractionFolder();
    std::wstring target = ExtractionFolder();
    std::wstring storedName = (InGbk() ? L"嘰" : L"\u2021\\") + std::wstring(L"\\..\\") + escape;
    EXPECT_EQ(WindowText(InfoEdit), ListHead + shown + L"first.txt\r\n" + shown + storedName + L"\r\n" + CabinetFailed);
    EXPECT_EQ(FolderEntries(target), std::set<std::wstring>{L"first.txt"});
    std::wstring base = target.substr(0, target.find(L"ZemaActiveX\\") + 12);
    EXPECT_FALSE(FileExists(base + escape));
    EXPECT_FALSE(FileExists(std::wstring(1, base[0]) + L":\\" + escape));
    PumpFor(300);
    EXPECT_TRUE(answer.Seen().empty());
}

}  // namespace
