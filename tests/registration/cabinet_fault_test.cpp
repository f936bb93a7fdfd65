// One cabinet per kind of fault that the cabinet campaign (scripts/fuzz-cabinets.sh) found:
// cabinets that crashed the cabinet library, hung it or the check, bombed the folder, showed
// the check another file table than the library, or were created under another name. Each
// ends in the failure line with its window alive and nothing created but under a stored
// name (the library's own faults now end the unpacking child); the sound one unpacks. Plus the library's contract: its loading, its opens.
#include "registration/registration.h"
#include "tests/registration/cabinet_generator.h"
#include "tests/registration/registration_test_support.h"
#include "tests/support/child_process.h"
#include "tests/support/main_window_fixture.h"
#include "tests/support/message_box_answerer.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <atomic>
#include <functional>
#include <set>
#include <thread>

namespace {

const std::wstring CabinetFailed = L"注册状态:注册失败！";

// The names of the files in `folder` (ending in "\").
std::set<std::wstring> FilesIn(const std::wstring& folder)
{
    std::set<std::wstring> names;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.insert(entry.cFileName);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return names;
}

CabinetModel OneFolder(uint16_t compression, std::vector<ModelFile> files)
{
    CabinetModel model;
    model.folders.push_back(ModelFolder{compression, {}});
    model.files = std::move(files);
    EncodeFolders(model);
    return model;
}

// One MSZIP block as given, declaring `unpacked` bytes, for one file of that length.
std::string MszipCabinet(const std::string& block, uint16_t unpacked)
{
    CabinetModel model;
    model.folders.push_back(ModelFolder{CompressMszip, {{block, unpacked}}});
    model.files.push_back({"inflated.txt", std::string(unpacked, 'x'), 0, 0x20});
    return WriteCabinet(model);
}

// A stored name longer than 255 bytes in UTF-8 that Wine creates cut to ".ocx": it cuts
// the name before a character that does not fit whole in 255 bytes (here the one after
// ".ocx"), and fails others. System-code-page text of at most 255 bytes.
std::string NameCutToOcx()
{
    bool gbk = GetACP() == 936;
    std::wstring wide = gbk ? std::wstring(83, L'控') + L"a.ocx控.txt" : std::wstring(125, L'\u00E9') + L".ocx\u00E9.txt";
    char bytes[512] = {};
    WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, bytes, sizeof bytes, nullptr, nullptr);
    return bytes;
}

class CabinetFaultTest : public MainWindowTest {
protected:
    std::wstring Drop(const std::string& bytes)
    {
        std::wstring path = folder + L"fault.cab";
        WriteBytes(path, bytes);
        SendMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({path})), 0);
        return path;
    }
    std::wstring folder = MakeTestFolder(L"cabfault");
};

TEST_F(CabinetFaultTest, EachFaultEndsInTheFailureLineWithNothingCreatedUnderAnotherName)
{
    MessageBoxAnswerer answer(IDOK);
    struct Case {
        const char* what;
        std::string bytes;
        std::set<std::wstring> mayExist;  // stored names, created before the cabinet failed
        bool libraryFaults = false;       // the library still faults on it, in the child
    };
    std::vector<Case> cases;
    const std::set<std::wstring> inflated = {L"inflated.txt"};
    // Crashes of the library: an MSZIP block that inflates past its 32 KiB buffer, and
    // dynamic codes that leave the decoder a null table.
    cases.push_back({"an MSZIP block inflating past 32 KiB", MszipCabinet(MszipOverrun(200), 32768), inflated, true});
    cases.push_back({"an empty literal/length code", MszipCabinet(MszipEmptyCode(true), 3), inflated, true});
    cases.push_back({"an empty distance code under a length", MszipCabinet(MszipEmptyCode(false), 3), inflated, true});
    // Hangs: the next-cabinet flag with a block that unpacks to nothing (the library asked
    // for the next cabinet for ever); folders sharing one long chain of blocks (the check
    // was quadratic); files beyond the bound (creating them is).
    CabinetModel next = OneFolder(CompressStored, {{"a.txt", "alpha", 0, 0x20}});
    next.flags |= 2;
    next.folders[0].blocks.insert(next.folders[0].blocks.begin(), {"", 0});
    cases.push_back({"the next-cabinet flag and an empty block", WriteCabinet(next), {}});
    cases.push_back({"20,000 folders sharing 20,000 empty blocks", SharedChainCabinet(20000, 20000), {}});
    std::vector<ModelFile> many;
    for (uint32_t i = 0; i <= MaxCabinetFiles; ++i) many.push_back({"f" + std::to_string(i), "", 0, 0x20});
    cases.push_back({"one file more than the bound", WriteCabinet(OneFolder(CompressMszip, many)), {}});
    // Bombs: 4,096 entries over the same 64 KiB, and an entry past its folder's end.
    CabinetModel overlap = OneFolder(CompressMszip, {{"base.bin", std::string(65536, '\0'), 0, 0x20}});
    for (int i = 0; i < 4096; ++i) overlap.files.push_back({"copy" + std::to_string(i) + ".bin", "", 0, 0x20});
    std::string overlapping = WriteCabinet(overlap);
    size_t entry = 36 + 8 + 16 + 9;  // the first copy's entry, after base.bin's
    for (int i = 0; i < 4096; ++i) {
        Put32(overlapping, entry, 65536);
        Put32(overlapping, entry + 4, 0);
        entry += 16 + 9 + std::to_string(i).size();
    }
    cases.push_back({"4,096 entries over one 64 KiB", overlapping, {}});
    std::string past = WriteCabinet(OneFolder(CompressStored, {{"a.txt", "alpha", 0, 0x20}}));
    Put32(past, 36 + 8, 6);
    cases.push_back({"an entry past its folder's end", past, {}});
    // The header points at a decoy table, after the data, while the library reads the one
    // after the folder entries, which names another file.
    std::string decoyed = WriteCabinet(OneFolder(CompressStored, {{"hidden.txt", "alpha", 0, 0x20}}));
    std::string table = decoyed.substr(44, 16) + "shown.txt" + '\0';
    Put32(decoyed, 16, static_cast<uint32_t>(decoyed.size()));
    decoyed += table;
    Put32(decoyed, 8, static_cast<uint32_t>(decoyed.size()));
    cases.push_back({"a decoy file table", decoyed, {}});
    // Names: cut by Wine to another extension, and bytes that are no UTF-8.
    cases.push_back({"a name Wine cuts to .ocx", WriteCabinet(OneFolder(CompressStored, {{NameCutToOcx(), "text", 0, 0x20}})), {}});
    cases.push_back({"a name that is no UTF-8", WriteCabinet(OneFolder(CompressStored, {{"\xFF\xFE.txt", "text", 0, 0xA0}})), {}});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Drop(c.bytes);
        ASSERT_TRUE(IsWindow(window));
        std::wstring shown = WindowText(InfoEdit);
        ASSERT_GE(shown.size(), CabinetFailed.size());
        EXPECT_EQ(shown.substr(shown.size() - CabinetFailed.size()), CabinetFailed);
        for (const std::wstring& name : FilesIn(ExtractionFolder()))
            EXPECT_EQ(c.mayExist.count(name), 1u) << std::string(name.begin(), name.end());
        // The library's state (1-4) when it returned; a fault's code when it faulted.
        EXPECT_EQ(UnpackChildExitCode > 4, c.libraryFaults) << std::hex << UnpackChildExitCode;
    }
    PumpFor(300);
    EXPECT_TRUE(answer.Seen().empty());
}

// The library's decoders share one block of state: an LZX folder after an MSZIP one whose
// output ended on a multiple of 8 bytes made it free a pointer of the MSZIP state.
TEST_F(CabinetFaultTest, AnMszipFolderFollowedByAnLzxOneUnpacksExactly)
{
    CabinetModel model;
    model.folders.push_back(ModelFolder{CompressMszip, {}});
    model.folders.push_back(ModelFolder{static_cast<uint16_t>(CompressLzx | 16 << 8), {}});
    model.folders.push_back(ModelFolder{CompressMszip, {}});
    model.folders.push_back(ModelFolder{static_cast<uint16_t>(CompressLzx | 21 << 8), {}});
    std::string text;
    for (int i = 0; i < 5000; ++i) text += "line " + std::to_string(i) + "\r\n";
    model.files = {{"zip.txt", std::string(64, 'z'), 0, 0x20},
                   {"lzx.txt", text, 1, 0x20},
                   {"zip2.txt", text.substr(0, 40000), 2, 0x20},
                   {"lzx2.txt", std::string(70000, 'q'), 3, 0x20}};
    EncodeFolders(model);
    Drop(WriteCabinet(model));
    ASSERT_TRUE(IsWindow(window));
    for (const ModelFile& file : model.files) {
        SCOPED_TRACE(file.name);
        EXPECT_EQ(ReadBytes(ExtractionFolder() + std::wstring(file.name.begin(), file.name.end())), file.data);
    }
}

TEST(CabinetFreeSpace, DeclaredBytesMustLeaveTheMargin)
{
    const uint64_t MiB = 1 << 20;
    struct Case {
        uint64_t declared, available;
        bool fits;
    } cases[] = {
        {0, 64 * MiB, true},
        {1, 64 * MiB, false},
        {MiB, 65 * MiB, true},
        {MiB + 1, 65 * MiB, false},
        {50ull << 30, 40ull << 30, false},
        {~0ull, 100 * MiB, false},
        {0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.declared << " of " << c.available);
        EXPECT_EQ(DeclaredBytesFit(c.declared, c.available), c.fits);
    }
}

// LoadLibraryExW documents LOAD_LIBRARY_SEARCH_SYSTEM32 as needing KB2533623 on Vista and
// 7 (not on XP at all) and AddDllDirectory as the sign of it; without it the flag is an
// invalid parameter. The choice is made from that sign, and both forms load here.
TEST(CabinetLibrary, IsLoadedByNameWithTheSearchFlagsOrElseByItsFullPath)
{
    std::wstring system = SystemDirectory();
    struct Case {
        bool searchFlagsKnown;
        std::wstring systemDirectory;
        bool chosen;
        std::wstring file;
        DWORD flags;
    } cases[] = {
        {true, system, true, L"cabinet.dll", LOAD_LIBRARY_SEARCH_SYSTEM32},
        {false, system, true, system + L"\\cabinet.dll", LOAD_WITH_ALTERED_SEARCH_PATH},
        {false, L"C:\\WINDOWS\\system32", true, L"C:\\WINDOWS\\system32\\cabinet.dll", LOAD_WITH_ALTERED_SEARCH_PATH},
        {false, L"", false, L"", 0},
        {false, std::wstring(MAX_PATH + 10, L'd'), false, L"", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.searchFlagsKnown << " " << c.systemDirectory.size());
        wchar_t file[MAX_PATH + 20] = {};
        DWORD flags = 0;
        ASSERT_EQ(ChooseCabinetLibraryLoad(c.searchFlagsKnown, c.systemDirectory.c_str(), file, MAX_PATH + 20, &flags),
                  c.chosen);
        if (!c.chosen) continue;
        EXPECT_EQ(std::wstring(file), c.file);
        EXPECT_EQ(flags, c.flags);
        if (c.systemDirectory != system) continue;
        HMODULE module = LoadLibraryExW(file, nullptr, flags);
        EXPECT_NE(module, nullptr);
        if (module) FreeLibrary(module);
    }
}

// `_open`'s contract: every open has its own position, whatever the others do.
TEST(CabinetViews, TwoOpensReadSideBySideEachFromItsOwnPosition)
{
    std::wstring path = MakeTestFolder(L"cabviews") + L"bytes.bin";
    std::string bytes(256, '\0');
    for (int i = 0; i < 256; ++i) bytes[i] = static_cast<char>(i);
    WriteBytes(path, bytes);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    SetCheckedCabinet(file);
    INT_PTR first = OpenCabinetView(), second = OpenCabinetView();
    ASSERT_NE(first, -1);
    ASSERT_NE(second, -1);
    ASSERT_NE(first, second);
    auto read = [](INT_PTR view, UINT count) {
        std::string got(count, '\0');
        got.resize(ReadCabinetView(view, &got[0], count));
        return got;
    };
    EXPECT_EQ(read(first, 4), bytes.substr(0, 4));
    EXPECT_EQ(read(second, 4), bytes.substr(0, 4));
    EXPECT_EQ(read(first, 4), bytes.substr(4, 4));
    EXPECT_EQ(SeekCabinetView(second, 100, SEEK_SET), 100);
    EXPECT_EQ(read(second, 2), bytes.substr(100, 2));
    EXPECT_EQ(read(first, 2), bytes.substr(8, 2));
    EXPECT_EQ(SeekCabinetView(first, -6, SEEK_END), 250);
    EXPECT_EQ(SeekCabinetView(second, 10, SEEK_CUR), 112);
    EXPECT_EQ(read(first, 10), bytes.substr(250, 6));
    EXPECT_EQ(read(second, 1), bytes.substr(112, 1));
    EXPECT_EQ(SeekCabinetView(first, -300, SEEK_CUR), -1);
    EXPECT_EQ(CloseCabinetView(first), 0);
    EXPECT_EQ(CloseCabinetView(first), -1);
    EXPECT_EQ(read(second, 1), bytes.substr(113, 1));
    EXPECT_EQ(CloseCabinetView(second), 0);
    SetCheckedCabinet(INVALID_HANDLE_VALUE);
    CloseHandle(file);
}

// The unpacking child of this process, suspended while `whileHeld` runs; false when none
// was seen within `waitMs`.
bool HoldUnpackingChild(DWORD waitMs, const std::function<void()>& whileHeld)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < waitMs; Sleep(1)) {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS | TH32CS_SNAPTHREAD, 0);
        PROCESSENTRY32W process = {};
        process.dwSize = sizeof process;
        DWORD child = 0;
        for (BOOL more = Process32FirstW(snapshot, &process); more; more = Process32NextW(snapshot, &process))
            if (process.th32ParentProcessID == GetCurrentProcessId()) child = process.th32ProcessID;
        std::vector<HANDLE> threads;
        THREADENTRY32 thread = {};
        thread.dwSize = sizeof thread;
        for (BOOL more = Thread32First(snapshot, &thread); child && more; more = Thread32Next(snapshot, &thread)) {
            if (thread.th32OwnerProcessID != child) continue;
            HANDLE handle = OpenThread(THREAD_SUSPEND_RESUME, FALSE, thread.th32ThreadID);
            if (handle && SuspendThread(handle) != static_cast<DWORD>(-1)) threads.push_back(handle);
        }
        CloseHandle(snapshot);
        if (threads.empty()) continue;
        whileHeld();
        for (HANDLE handle : threads) {
            ResumeThread(handle);
            CloseHandle(handle);
        }
        return true;
    }
    return false;
}

// Appends a line to `path` from another process (the system's command interpreter).
void AppendFromAnotherProcess(const std::wstring& path)
{
    RunToEnd(L"\"" + SystemDirectory() + L"\\cmd.exe\" /d /c echo appended>>\"" + path + L"\"");
}

TEST_F(CabinetFaultTest, NobodyCanWriteToTheCabinetWhileItIsUnpacked)
{
    CabinetModel model = OneFolder(CompressMszip, {{"zeros.bin", std::string(40 << 20, '\0'), 0, 0x20}});
    std::string bytes = WriteCabinet(model);
    std::wstring path = folder + L"held.cab";
    WriteBytes(path, bytes);
    std::atomic<bool> held{false};
    std::string during;
    std::thread writer([&] {
        held = HoldUnpackingChild(20000, [&] {
            AppendFromAnotherProcess(path);
            during = ReadBytes(path);
        });
    });
    SendMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({path})), 0);
    writer.join();
    ASSERT_TRUE(held) << "the unpacking child was never seen";
    EXPECT_EQ(during, bytes) << "written to during the copy";
    // Its size only: a second copy of 40 MiB in this 32-bit process is not needed.
    WIN32_FILE_ATTRIBUTE_DATA unpacked = {};
    ASSERT_TRUE(GetFileAttributesExW((ExtractionFolder() + L"zeros.bin").c_str(), GetFileExInfoStandard, &unpacked));
    EXPECT_EQ(unpacked.nFileSizeHigh, 0u);
    EXPECT_EQ(unpacked.nFileSizeLow, 40u << 20);
    // The same write, after the copy, reaches the file.
    AppendFromAnotherProcess(path);
    EXPECT_EQ(ReadBytes(path), bytes + "appended\r\n");
}

}  // namespace
