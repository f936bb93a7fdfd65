// Cabinets whose own description of themselves is false or cut: they end as unreadable
// cabinets (nothing listed or unpacked, the failure line, no message box), never in a
// crash or a hang of the process that reads them.
#include "registration/registration.h"
#include "tests/registration/cabinet_writer.h"
#include "tests/registration/registration_test_support.h"
#include "tests/support/main_window_fixture.h"
#include "tests/support/message_box_answerer.h"

#include <gtest/gtest.h>

namespace {

const std::wstring ListHead = L"解压文件列表:\r\n";
const std::wstring CabinetFailed = L"注册状态:注册失败！";

void Patch(std::string& bytes, size_t at, uint32_t value, int width)
{
    for (int i = 0; i < width; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

class CabinetHeaderTest : public MainWindowTest {
protected:
    void Drop(const std::string& bytes)
    {
        std::wstring path = folder + L"header.cab";
        WriteBytes(path, bytes);
        SendMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({path})), 0);
    }
    std::wstring folder = MakeTestFolder(L"cabheader");
};

TEST_F(CabinetHeaderTest, FalseOrCutDescriptionsAreUnreadableCabinets)
{
    MessageBoxAnswerer answer(IDOK);
    // Fixed header 36 bytes, one folder entry at 36 (data offset, block count), the first
    // file entry at 44 (length, offset in the folder, folder index at 52).
    const std::string sound = BuildCabinet({{"a.txt", "alpha"}, {"b.txt", "beta"}});
    const size_t second = 44 + 16 + 6;  // second file entry
    struct Case {
        const char* what;
        size_t at;
        uint32_t value;
        int width;
    } cases[] = {
        {"no folder", 26, 0, 2},
        {"a file in a second folder", second + 8, 1, 2},
        {"continued from the previous cabinet", 52, 0xFFFD, 2},
        {"continued to the next cabinet", second + 8, 0xFFFE, 2},
        {"continued both ways", 52, 0xFFFF, 2},
        {"file entries beyond the end", 16, 0x7FFFFF00, 4},
        {"file entries at the last byte", 16, static_cast<uint32_t>(sound.size() - 1), 4},
        {"folder data beyond the end", 36, 0x7FFFFF00, 4},
        {"more data blocks than the file holds", 40, 50, 2},
        {"a file longer than its folder", 44, 1000000, 4},
        {"a file beyond its folder's end", second + 4, 0xFFFFFFF0, 4},
    };
    std::vector<std::pair<std::string, std::string>> all;
    for (const Case& c : cases) {
        std::string bytes = sound;
        Patch(bytes, c.at, c.value, c.width);
        all.push_back({c.what, bytes});
    }
    const std::string one = BuildCabinet({{"a.txt", "alpha"}});
    std::string lone = one;
    Patch(lone, 26, 0, 2);
    all.push_back({"no folder, one file", lone});
    // No folder entry at all: the file entry (44..66 of a one-file cabinet) follows the
    // header, then the data. Unpacking its file made the cabinet library read through a
    // null pointer and the process die.
    std::string bare = one.substr(0, 36) + one.substr(44);
    Patch(bare, 8, static_cast<uint32_t>(bare.size()), 4);
    Patch(bare, 16, 36, 4);
    Patch(bare, 26, 0, 2);
    all.push_back({"no folder entry, one file", bare});
    CabinetLayout reserved;
    reserved.reserve = true;
    reserved.headerReserve = 60;
    std::string bytes = BuildCabinet({{"a.txt", "alpha"}}, reserved);
    Patch(bytes, 36, 0xFFFF, 2);
    all.push_back({"a header reserve beyond the end", bytes});
    CabinetLayout longName;
    longName.previous = std::string(300, 'p');
    all.push_back({"a previous-cabinet name of 300 bytes", BuildCabinet({{"a.txt", "alpha"}}, longName)});
    for (size_t cut : {sound.size() - 1, sound.size() - 6, size_t{60}, size_t{40}, size_t{36}, size_t{20}, size_t{4}})
        all.push_back({"cut to " + std::to_string(cut) + " bytes", sound.substr(0, cut)});
    for (const auto& c : all) {
        SCOPED_TRACE(c.first);
        Drop(c.second);
        EXPECT_EQ(WindowText(InfoEdit), ListHead + CabinetFailed);
        EXPECT_FALSE(FileExists(ExtractionFolder() + L"a.txt"));
        EXPECT_EQ(std::wstring(StatusText), L"拖入文件路径:");
    }
    // The same description, true, is unpacked.
    Drop(sound);
    EXPECT_EQ(ReadBytes(ExtractionFolder() + L"b.txt"), "beta");
    PumpFor(300);
    EXPECT_TRUE(answer.Seen().empty());
}

// The header's optional parts are read past, not taken for folder or file entries. A
// cabinet that names the one before it in its set is read like any other (no file of it
// continues from there); one that names a next one is refused: the library would ask for
// that one.
TEST_F(CabinetHeaderTest, ReservedAreasAndThePreviousCabinetsNameAreReadPast)
{
    CabinetLayout reserved;
    reserved.reserve = true;
    reserved.headerReserve = 60;
    reserved.folderReserve = 7;
    reserved.dataReserve = 5;
    CabinetLayout previous;
    previous.previous = "first.cab";
    CabinetLayout both = reserved;
    both.previous = std::string(250, 'p');
    for (const CabinetLayout* layout : {&reserved, &previous, &both}) {
        SCOPED_TRACE(layout->previous + "/" + std::to_string(layout->headerReserve));
        Drop(BuildCabinet({{"a.txt", "alpha"}, {"b.txt", std::string(70000, 'b')}}, *layout));
        EXPECT_EQ(ReadBytes(ExtractionFolder() + L"a.txt"), "alpha");
        EXPECT_EQ(ReadBytes(ExtractionFolder() + L"b.txt"), std::string(70000, 'b'));
    }
    CabinetLayout next = previous;
    next.next = "third.cab";
    Drop(BuildCabinet({{"a.txt", "alpha"}}, next));
    EXPECT_EQ(WindowText(InfoEdit), ListHead + CabinetFailed);
    EXPECT_FALSE(FileExists(ExtractionFolder() + L"a.txt"));
}

TEST_F(CabinetHeaderTest, AsManyFilesAsTheBoundAreUnpackedWithABoundedList)
{
    std::vector<CabinetEntry> entries;
    for (uint32_t i = 0; i < MaxCabinetFiles; ++i) entries.push_back({"f" + std::to_string(i) + ".txt", std::to_string(i)});
    TextHistory history(InfoEdit);
    Drop(BuildCabinet(entries));
    for (const std::wstring& text : history.texts) EXPECT_LE(text.size(), 999u);
    std::wstring shown = WindowText(InfoEdit);
    EXPECT_EQ(shown.substr(shown.size() - 5 - CabinetFailed.size()), L"...\r\n" + CabinetFailed);
    EXPECT_EQ(ReadBytes(ExtractionFolder() + L"f0.txt"), "0");
    std::wstring last = L"f" + std::to_wstring(MaxCabinetFiles - 1) + L".txt";
    EXPECT_EQ(ReadBytes(ExtractionFolder() + last), std::to_string(MaxCabinetFiles - 1));
}

}  // namespace
