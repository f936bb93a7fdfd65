// Cabinet extraction through real drops of cabinets that hold no control file, so the
// outcome is the unpacking alone: names, bytes, dates, times and attributes on disk.
#include "registration/registration.h"
#include "tests/registration/cabinet_writer.h"
#include "tests/registration/registration_test_support.h"
#include "tests/support/main_window_fixture.h"
#include "tests/support/message_box_answerer.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

const std::wstring ListHead = L"解压文件列表:\r\n";
const std::wstring CabinetFailed = L"注册状态:注册失败！";

class CabinetTest : public MainWindowTest {
protected:
    std::wstring DropCabinet(const std::wstring& name, const std::vector<CabinetEntry>& entries)
    {
        std::wstring path = folder + name;
        WriteBytes(path, BuildCabinet(entries));
        SendMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({path})), 0);
        return path;
    }
    std::wstring folder = MakeTestFolder(L"cab");
    std::wstring unique = folder.substr(folder.find(L"regtest-cab-") + 12, folder.size() - folder.find(L"regtest-cab-") - 13);
};

TEST_F(CabinetTest, UnpacksIntoAFolderNamedAfterTheTimeBelowTheSystemDrive)
{
    long before = static_cast<long>(time(nullptr));
    DropCabinet(L"time.cab", {{"a.txt", "alpha"}});
    long after = static_cast<long>(time(nullptr));
    std::wstring shown = ShownExtractionFolder();
    std::wstring base = std::wstring(1, SystemDirectory()[0]) + L":/ZemaActiveX/";
    ASSERT_EQ(shown.substr(0, base.size()), base);
    long seconds = wcstol(shown.c_str() + base.size(), nullptr, 10);
    EXPECT_GE(seconds, before);
    EXPECT_LE(seconds, after);
    EXPECT_EQ(shown, base + std::to_wstring(seconds) + L"/");
    EXPECT_EQ(std::string(ExtractFolder), std::string(shown.begin(), shown.end()));
    EXPECT_EQ(ReadBytes(ExtractionFolder() + L"a.txt"), "alpha");
}

TEST_F(CabinetTest, FilesKeepTheirStoredAttributesDateAndLocalTime)
{
    struct Case {
        const char* name;
        uint16_t attributes;
        DWORD expected;
        uint16_t date, time;
    } cases[] = {
        {"plain.txt", 0x20, FILE_ATTRIBUTE_ARCHIVE, CabinetEntry::DosDate(2019, 3, 4), CabinetEntry::DosTime(5, 6, 8)},
        {"readonly.txt", 0x01, FILE_ATTRIBUTE_READONLY, CabinetEntry::DosDate(2020, 12, 31), CabinetEntry::DosTime(23, 59, 58)},
        {"hidden.txt", 0x22, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE, CabinetEntry::DosDate(2001, 7, 1), CabinetEntry::DosTime(0, 0, 0)},
        // The executable (0x40) bit is no file attribute and is dropped.
        {"system.txt", 0x45, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM, CabinetEntry::DosDate(2024, 2, 29), CabinetEntry::DosTime(12, 30, 0)},
    };
    std::vector<CabinetEntry> entries;
    for (const Case& c : cases) {
        CabinetEntry entry{c.name, std::string("data of ") + c.name};
        entry.attributes = c.attributes;
        entry.date = c.date;
        entry.time = c.time;
        entries.push_back(entry);
    }
    DropCabinet(L"attributes.cab", entries);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::wstring path = ExtractionFolder() + std::wstring(c.name, c.name + strlen(c.name));
        WIN32_FILE_ATTRIBUTE_DATA data;
        ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
        // Wine reports every plain file as archived, so only the other bits tell.
        const DWORD told = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
        EXPECT_EQ(data.dwFileAttributes & told, c.expected & told);
        FILETIME local, utc;
        ASSERT_TRUE(DosDateTimeToFileTime(c.date, c.time, &local));
        ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
        EXPECT_EQ(CompareFileTime(&data.ftLastWriteTime, &utc), 0);
        EXPECT_EQ(CompareFileTime(&data.ftCreationTime, &utc), 0);
        EXPECT_EQ(ReadBytes(path), std::string("data of ") + c.name);
    }
}

// Each drop unpacks into a folder it made itself, so cabinets within one second no longer
// meet: neither overwrites nor sees the other's files.
TEST_F(CabinetTest, EveryCabinetGetsAFolderOfItsOwnEvenWithinOneSecond)
{
    DropCabinet(L"first.cab", {{"shared.txt", std::string(70000, 'L')}, {"first.txt", "1"}});
    std::wstring firstFolder = ExtractionFolder();
    DropCabinet(L"second.cab", {{"shared.txt", "short"}, {"second.txt", "2"}});
    std::wstring secondFolder = ExtractionFolder();
    ASSERT_NE(firstFolder, secondFolder);
    EXPECT_EQ(ReadBytes(firstFolder + L"shared.txt"), std::string(70000, 'L'));
    EXPECT_EQ(ReadBytes(firstFolder + L"first.txt"), "1");
    EXPECT_FALSE(FileExists(firstFolder + L"second.txt"));
    EXPECT_EQ(ReadBytes(secondFolder + L"shared.txt"), "short");
    EXPECT_FALSE(FileExists(secondFolder + L"first.txt"));
}

// A name stored twice would be written over the first copy: the second stops the copy.
TEST_F(CabinetTest, ANameStoredTwiceStopsTheCopyAndKeepsTheFirstFile)
{
    DropCabinet(L"twice.cab", {{"same.txt", "first"}, {"SAME.txt", "second"}, {"after.txt", "after"}});
    EXPECT_EQ(ReadBytes(ExtractionFolder() + L"same.txt"), "first");
    EXPECT_FALSE(FileExists(ExtractionFolder() + L"after.txt"));
    EXPECT_EQ(WindowText(InfoEdit).substr(WindowText(InfoEdit).size() - CabinetFailed.size()), CabinetFailed);
}

TEST_F(CabinetTest, NamesThatLeaveTheFolderAreListedRefusedAndStopTheCopy)
{
    MessageBoxAnswerer answer(IDOK);
    std::string escape = "escape-" + std::string(unique.begin(), unique.end()) + ".txt";
    const std::string hostile[] = {
        "..\\" + escape, "../" + escape, "sub\\..\\..\\" + escape, "..\\..\\" + escape,
        "...\\" + escape, "\\" + escape, "/" + escape, "C:\\" + escape, "C:" + escape,
        // Devices, which no folder contains; superscript digits (UTF-8) count as digits.
        "NUL", "con.txt", "COM1", "lpt9.log", "CONOUT$", "AUX .txt",
        "COM\xC2\xB9", "lpt\xC2\xB2.txt", "Com\xC2\xB3.log",
        // Trailing dots and blanks, which the platform drops from a component.
        "a.txt.", "a.txt ", "a.txt. .", "sub.\\a.txt", "sub \\a.txt",
    };
    for (const std::string& name : hostile) {
        SCOPED_TRACE(name);
        CabinetEntry entry{name, "owned"};
        entry.attributes = 0xA0;  // stored as UTF-8
        DropCabinet(L"hostile.cab", {{"first.txt", "1"}, entry, {"after.txt", "2"}});
        std::wstring shown = ShownExtractionFolder();
        wchar_t wideName[100] = {};
        MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, wideName, 100);
        EXPECT_EQ(WindowText(InfoEdit), ListHead + shown + L"first.txt\r\n" + shown + wideName + L"\r\n" + CabinetFailed);
        std::wstring target = ExtractionFolder();
        EXPECT_EQ(ReadBytes(target + L"first.txt"), "1");
        EXPECT_FALSE(FileExists(target + L"after.txt"));
        EXPECT_FALSE(FileExists(target + L"a.txt"));
    }
    std::wstring wideEscape(escape.begin(), escape.end());
    std::wstring drive(1, SystemDirectory()[0]);
    for (const std::wstring& outside :
         {drive + L":\\ZemaActiveX\\" + wideEscape, drive + L":\\" + wideEscape, drive + L":\\ZemaActiveX\\" + wideEscape,
          L"C:\\" + wideEscape, folder + wideEscape, BinFolder() + wideEscape}) {
        EXPECT_FALSE(FileExists(outside)) << std::string(outside.begin(), outside.end());
    }
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((drive + L":\\ZemaActiveX\\*\\" + wideEscape).c_str(), &found);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE);
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    PumpFor(300);
    EXPECT_TRUE(answer.Seen().empty());
}

TEST_F(CabinetTest, NamesFlaggedAsUtf8AreDecodedAsUtf8)
{
    CabinetEntry utf8{"\xE6\x8E\xA7\xE4\xBB\xB6\xE8\xAF\xB4\xE6\x98\x8E-\xC3\x84.txt", "utf8"};  // 控件说明-Ä.txt
    utf8.attributes = 0xA0;
    DropCabinet(L"utf8.cab", {utf8, {"plain.txt", "ansi"}});
    std::wstring shown = ShownExtractionFolder();
    EXPECT_EQ(ReadBytes(ExtractionFolder() + L"控件说明-Ä.txt"), "utf8");
    EXPECT_EQ(ReadBytes(ExtractionFolder() + L"plain.txt"), "ansi");
    EXPECT_EQ(WindowText(InfoEdit),
              ListHead + shown + L"控件说明-Ä.txt\r\n" + shown + L"plain.txt\r\n" + CabinetFailed);
}

TEST_F(CabinetTest, ALongListStaysBoundedAndTheStatusLineStillAppears)
{
    std::vector<CabinetEntry> entries;
    for (int i = 0; i < 60; ++i) {
        char name[80];
        snprintf(name, sizeof name, "a-rather-long-file-name-for-the-list-%03d.txt", i);
        entries.push_back({name, std::to_string(i)});
    }
    TextHistory history(InfoEdit);
    DropCabinet(L"many.cab", entries);
    std::wstring shown = WindowText(InfoEdit);
    EXPECT_LE(shown.size(), 999u);
    EXPECT_EQ(shown.substr(0, ListHead.size() + ShownExtractionFolder().size()), ListHead + ShownExtractionFolder());
    EXPECT_EQ(shown.substr(shown.size() - 5 - CabinetFailed.size()), L"...\r\n" + CabinetFailed);
    for (const std::wstring& text : history.texts) EXPECT_LE(text.size(), 999u);
    // Every file is unpacked, listed or not.
    for (int i = 0; i < 60; ++i) {
        wchar_t name[80];
        swprintf(name, 80, L"a-rather-long-file-name-for-the-list-%03d.txt", i);
        EXPECT_EQ(ReadBytes(ExtractionFolder() + name), std::to_string(i));
    }
    EXPECT_EQ(std::wstring(StatusText), L"拖入文件路径:");
}

}  // namespace
