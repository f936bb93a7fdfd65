// The cabinet campaign's harness (run by scripts/fuzz-cabinets.sh, not by the tests): runs
// generated cabinets through the program's ExtractCabinet, one after the other in this one
// process, and writes one line before and one after each, so that the script names the
// cabinet of a crash or a hang and starts again after it. After each cabinet it reads its
// folder back: the names against the stored ones, every file's size against the length
// its entry declares, and a sound cabinet's files against their contents; then it removes
// the folder (so that the next cabinet need not wait for the next second's name).
// Usage: cabinet_campaign <seed> <first index> <count> <scratch folder> <results file>
#include "app/app.h"
#include "registration/registration.h"
#include "system/system.h"
#include "tests/registration/cabinet_generator.h"
#include "tests/support/message_box_answerer.h"

#include <cstdio>
#include <map>
#include <string>
#include <thread>

#include <strsafe.h>

namespace {

double Seconds()
{
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

uint32_t Get32(const std::string& bytes, size_t at)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
    return value;
}

uint16_t Get16(const std::string& bytes, size_t at)
{
    return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8);
}

// The stored names of the file entries as the library reads them (right after the folder
// entries), each decoded in its encoding, with the largest length declared under it.
// Names that are no text in their encoding are left out: no file may carry them.
std::map<std::wstring, uint64_t> StoredNames(const std::string& cab)
{
    std::map<std::wstring, uint64_t> names;
    if (cab.size() < 36 || cab.compare(0, 4, "MSCF") != 0) return names;
    uint16_t folders = Get16(cab, 26), files = Get16(cab, 28), flags = Get16(cab, 30);
    size_t at = 36;
    uint32_t folderReserve = 0;
    if (flags & 4) {
        if (at + 4 > cab.size()) return names;
        folderReserve = static_cast<uint8_t>(cab[at + 2]);
        at += 4 + Get16(cab, at);
    }
    for (int skip = ((flags & 1) ? 2 : 0) + ((flags & 2) ? 2 : 0); skip > 0 && at < cab.size(); --skip)
        at = cab.find('\0', at) == std::string::npos ? cab.size() : cab.find('\0', at) + 1;
    at += static_cast<size_t>(folders) * (8 + folderReserve);
    for (uint32_t i = 0; i < files && at + 16 < cab.size(); ++i) {
        uint32_t length = Get32(cab, at);
        uint16_t attributes = Get16(cab, at + 14);
        size_t end = cab.find('\0', at + 16);
        if (end == std::string::npos) break;
        std::string name = cab.substr(at + 16, end - at - 16);
        wchar_t wide[1024] = {};
        UINT codePage = (attributes & 0x80) ? CP_UTF8 : CP_ACP;
        if (MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, name.c_str(), -1, wide, 1024)) {
            uint64_t& declared = names[wide];
            if (length > declared) declared = length;
        }
        at = end + 1;
    }
    return names;
}

struct FolderContents {
    std::map<std::wstring, std::string> files;  // name -> bytes
    uint64_t bytes = 0;
};

FolderContents ReadFolder(const std::wstring& folder)
{
    FolderContents contents;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return contents;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        std::wstring path = folder + entry.cFileName;
        std::string data;
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            char buffer[65536];
            DWORD read = 0;
            while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) data.append(buffer, read);
            CloseHandle(file);
        }
        contents.bytes += (static_cast<uint64_t>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
        contents.files[entry.cFileName] = data;
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return contents;
}

void RemoveFolder(const std::wstring& folder)
{
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            std::wstring path = folder + entry.cFileName;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path.c_str());
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

std::wstring Wide(const std::string& bytes, UINT codePage)
{
    wchar_t wide[1024] = {};
    MultiByteToWideChar(codePage, 0, bytes.c_str(), -1, wide, 1024);
    return wide;
}

const char* OutcomeName(CabinetOutcome outcome, bool anyFile, bool listed)
{
    if (outcome == CabinetOutcome::Unpacked) return "unpacked";
    if (outcome == CabinetOutcome::NotRead) return "notread";
    return anyFile || listed ? "stopped" : "refused";
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    int exitCode = 0;
    if (RunAsUnpackChild(&exitCode)) return exitCode;
    HoldProgramFile();
    if (argc < 6) return 2;
    uint64_t seed = _wcstoui64(argv[1], nullptr, 10);
    uint32_t first = wcstoul(argv[2], nullptr, 10), count = wcstoul(argv[3], nullptr, 10);
    std::wstring scratch = argv[4];
    FILE* results = _wfopen(argv[5], L"ab");
    if (!results) return 2;
    CreateMainWindow(GetModuleHandleW(nullptr));
    MessageBoxAnswerer answer(IDOK);

    // A cabinet that runs for a minute is a hang: the line says so and the process ends.
    volatile LONG current = -1;
    volatile double started = 0;
    std::thread([&] {
        for (;;) {
            Sleep(500);
            if (current >= 0 && Seconds() - started > 60) {
                fprintf(results, "hang %ld\n", current);
                fflush(results);
                TerminateProcess(GetCurrentProcess(), 3);
            }
        }
    }).detach();

    for (uint32_t index = first; index < first + count; ++index) {
        GeneratedCabinet cabinet = GenerateCabinet(seed, index);
        std::wstring path = scratch + L"\\cabinet-" + std::to_wstring(index) + L".cab";
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, cabinet.bytes.data(), static_cast<DWORD>(cabinet.bytes.size()), &written, nullptr);
        CloseHandle(file);

        fprintf(results, "begin %u %s\n", index, CabinetClassName(cabinet.kind));
        fflush(results);
        StringCchCopyW(StatusText, StatusTextCapacity, L"拖入文件路径:");
        char pathA[1000] = {};
        ToSystemCodePageExactly(path.c_str(), pathA, 1000, GetACP());
        started = Seconds();
        current = static_cast<LONG>(index);
        CabinetOutcome outcome = ExtractCabinet(path.c_str(), pathA);
        double elapsed = Seconds() - started;
        current = -1;

        std::wstring folder = ExtractFolderW;
        for (wchar_t& c : folder)
            if (c == L'/') c = L'\\';
        FolderContents contents = folder.empty() ? FolderContents{} : ReadFolder(folder);
        std::map<std::wstring, uint64_t> stored = StoredNames(cabinet.bytes);
        uint32_t otherNames = 0, overDeclared = 0, soundWrong = 0;
        uint64_t declared = 0;
        for (const auto& named : stored) declared += named.second;
        for (const auto& created : contents.files) {
            auto match = stored.find(created.first);
            if (match == stored.end()) ++otherNames;
            else if (created.second.size() > match->second) ++overDeclared;
        }
        if (cabinet.mustUnpack) {
            if (outcome != CabinetOutcome::Unpacked) ++soundWrong;
            for (const GeneratedCabinet::File& expected : cabinet.files) {
                auto found = contents.files.find(Wide(expected.name, expected.utf8 ? CP_UTF8 : CP_ACP));
                if (found == contents.files.end() || found->second != expected.data) ++soundWrong;
            }
        }
        bool listed = wcscmp(StatusText, L"解压文件列表:\r\n") != 0;
        fprintf(results,
                "end %u class %s outcome %s seconds %.3f written %llu input %zu declared %llu files %zu othernames %u "
                "overdeclared %u soundwrong %u child %lx detail %s\n",
                index, CabinetClassName(cabinet.kind), OutcomeName(outcome, !contents.files.empty(), listed), elapsed,
                static_cast<unsigned long long>(contents.bytes), cabinet.bytes.size(),
                static_cast<unsigned long long>(declared), contents.files.size(), otherNames, overDeclared, soundWrong,
                UnpackChildExitCode, cabinet.detail.c_str());
        fflush(results);
        ReleaseProtectedFolders();  // as the drop intake does after each drop
        if (!folder.empty()) RemoveFolder(folder);
        DeleteFileW(path.c_str());
    }
    fclose(results);
    return 0;
}
