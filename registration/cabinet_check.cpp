// Reads a cabinet's own description of itself (fixed header, folder entries, file entries,
// data blocks) before the cabinet library is given it. The library trusts these numbers:
// some that no sound cabinet has make it read through a null pointer, write past its
// buffers, ask for the next cabinet for ever, or unpack one stretch of data many times.
// Every part is read once, in file order, so the check costs what the file's size does.
#include "registration/registration.h"

#include <cstring>

namespace {
constexpr uint16_t PrevCabinet = 0x0001, NextCabinet = 0x0002, ReservePresent = 0x0004;
constexpr uint16_t Stored = 0, Mszip = 1, Quantum = 2, Lzx = 3;
// The library's buffers for one data block: its output, and its input.
constexpr uint32_t BlockOutputMax = 32768, BlockInputMax = 32768 + 6144;
// A stored name with its terminator, as the format defines it.
constexpr uint32_t NameMax = 256;

// A window of the file, refilled where it is asked: every read is bounded by the window and
// by the file's length, and many small entries cost few reads.
struct CabinetReader {
    HANDLE file;
    uint64_t size;
    uint64_t windowStart;
    uint32_t windowLength;
    uint8_t window[65536];
};

struct FolderEntry {
    uint32_t dataAt;
    uint16_t blocks;
    uint16_t compression;
    uint64_t unpacked;  // the sum of its blocks' unpacked sizes
    uint64_t filesEnd;  // where its last file ends
};
}  // namespace

DWORD ReadCabinetAt(HANDLE cabinet, uint64_t offset, void* buffer, DWORD count)
{
    // The handle's position is set first: a read that names its offset (OVERLAPPED) costs
    // Wine several times as much, and the library reads a cabinet in thousands of small
    // pieces. Every reader of the cabinet runs on one thread of the unpacking child (the
    // program, whose handle shares the position, waits meanwhile), so nothing moves it between.
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD read = 0;
    return SetFilePointerEx(cabinet, at, nullptr, FILE_BEGIN) && ReadFile(cabinet, buffer, count, &read, nullptr)
               ? read
               : 0;
}

// The `length` bytes at `offset`, or null when they are not all inside the file.
static const uint8_t* BytesAt(CabinetReader* reader, uint64_t offset, uint32_t length)
{
    if (length > sizeof reader->window || offset > reader->size || reader->size - offset < length) return nullptr;
    if (offset < reader->windowStart || offset + length > reader->windowStart + reader->windowLength) {
        reader->windowStart = offset;
        reader->windowLength = 0;
        uint64_t left = reader->size - offset;
        DWORD want = static_cast<DWORD>(left < sizeof reader->window ? left : sizeof reader->window);
        while (reader->windowLength < want) {
            DWORD got = ReadCabinetAt(reader->file, offset + reader->windowLength, reader->window + reader->windowLength,
                                      want - reader->windowLength);
            if (got == 0) return nullptr;
            reader->windowLength += got;
        }
        NoteUnpackProgress();
    }
    return reader->window + (offset - reader->windowStart);
}

static uint16_t Get16(const uint8_t* at)
{
    return static_cast<uint16_t>(at[0] | at[1] << 8);
}

static uint32_t Get32(const uint8_t* at)
{
    return Get16(at) | static_cast<uint32_t>(Get16(at + 2)) << 16;
}

// Moves `offset` past a terminated name of 1 to 255 bytes; false when there is none.
static bool SkipName(CabinetReader* reader, uint64_t* offset, bool mayBeEmpty)
{
    uint32_t length = static_cast<uint32_t>(reader->size - *offset < NameMax ? reader->size - *offset : NameMax);
    const uint8_t* name = BytesAt(reader, *offset, length);
    const void* end = name ? memchr(name, 0, length) : nullptr;
    if (!end || (end == name && !mayBeEmpty)) return false;
    *offset += static_cast<const uint8_t*>(end) - name + 1;
    return true;
}

// The folder's compression is one the library knows, with a window it supports.
static bool IsKnownCompression(uint16_t compression)
{
    uint16_t window = (compression >> 8) & 0x1F;
    switch (compression & 0x0F) {
    case Stored:
    case Mszip:
        return true;
    case Quantum:
        return window >= 10 && window <= 21;
    case Lzx:
        return window >= 15 && window <= 21;
    default:
        return false;
    }
}

// The checksum of a data block as the format defines it (and the library tests it): the
// data's 32-bit words, then its last bytes, then the block's two size fields, XORed.
static uint32_t Checksum(const uint8_t* data, uint32_t length, uint32_t sum)
{
    uint32_t words = length / 4;
    for (uint32_t i = 0; i < words; ++i, data += 4) sum ^= Get32(data);
    uint32_t last = 0;
    switch (length & 3) {
    case 3:
        last |= static_cast<uint32_t>(*data++) << 16;
        [[fallthrough]];
    case 2:
        last |= static_cast<uint32_t>(*data++) << 8;
        [[fallthrough]];
    case 1:
        last |= *data;
    }
    return sum ^ last;
}

// The data blocks of one folder, which begin at `*offset`: each one inside the file, no
// larger than the library's buffers, its checksum right where one is stored, and an MSZIP
// block beginning with its "CK" signature. Moves `*offset` past them.
static bool CheckBlocks(CabinetReader* reader, FolderEntry* folder, uint32_t blockReserve, uint64_t* offset)
{
    uint16_t compression = folder->compression & 0x0F;
    for (uint16_t block = 0; block < folder->blocks; ++block) {
        const uint8_t* header = BytesAt(reader, *offset, 8);
        if (!header) return false;
        uint32_t stored = Get32(header);
        uint16_t packed = Get16(header + 4), unpacked = Get16(header + 6);
        uint8_t sizes[4];
        memcpy(sizes, header + 4, 4);
        // A block that unpacks to nothing continues in the next cabinet.
        if (packed == 0 || packed > BlockInputMax || unpacked == 0 || unpacked > BlockOutputMax) return false;
        if (compression == Stored && packed != unpacked) return false;
        *offset += 8 + blockReserve;
        const uint8_t* data = BytesAt(reader, *offset, packed);
        if (!data) return false;
        if (compression == Mszip && (packed < 2 || data[0] != 'C' || data[1] != 'K')) return false;
        if (stored != 0 && Checksum(sizes, 4, Checksum(data, packed, 0)) != stored) return false;
        *offset += packed;
        folder->unpacked += unpacked;
    }
    return true;
}

bool IsSoundCabinet(HANDLE cabinet, CabinetPlan* plan)
{
    static CabinetReader reader;
    static FolderEntry folders[65535];
    *plan = CabinetPlan{};
    LARGE_INTEGER size;
    // The library keeps offsets in signed 32 bits.
    if (!GetFileSizeEx(cabinet, &size) || size.QuadPart <= 0 || size.QuadPart > 0x7FFFFFFF) return false;
    reader.file = cabinet;
    reader.size = static_cast<uint64_t>(size.QuadPart);
    reader.windowStart = reader.windowLength = 0;

    const uint8_t* header = BytesAt(&reader, 0, 36);
    if (!header || memcmp(header, "MSCF", 4) != 0) return false;
    uint32_t filesAt = Get32(header + 16);
    uint16_t folderCount = Get16(header + 26), fileCount = Get16(header + 28), flags = Get16(header + 30);
    // A cabinet that goes on in another one makes the library ask for that one.
    if (folderCount == 0 || (flags & NextCabinet) || fileCount > MaxCabinetFiles) return false;

    uint64_t offset = 36;
    uint32_t folderReserve = 0, blockReserve = 0;
    if (flags & ReservePresent) {
        const uint8_t* reserve = BytesAt(&reader, offset, 4);
        if (!reserve || Get16(reserve) > 60000) return false;
        folderReserve = reserve[2];
        blockReserve = reserve[3];
        offset += 4 + Get16(reserve);
    }
    // The previous cabinet's name and disk, which the library reads past.
    if (flags & PrevCabinet && !(SkipName(&reader, &offset, true) && SkipName(&reader, &offset, true))) return false;

    bool mszipInRun = false;
    plan->runs = 0;
    for (uint32_t index = 0; index < folderCount; ++index, offset += 8 + folderReserve) {
        const uint8_t* entry = BytesAt(&reader, offset, 8);
        if (!entry) return false;
        FolderEntry& folder = folders[index];
        folder = FolderEntry{Get32(entry), Get16(entry + 4), Get16(entry + 6), 0, 0};
        if (!IsKnownCompression(folder.compression)) return false;
        // The library keeps each decoder's state in one shared block: an LZX or Quantum
        // folder after an MSZIP one would start from the MSZIP state (and free a pointer
        // that the state does not hold). Such a folder starts a pass with a fresh state.
        uint16_t kind = folder.compression & 0x0F;
        if (index == 0 || ((kind == Quantum || kind == Lzx) && mszipInRun)) {
            if (plan->runs == MaxCabinetRuns) return false;
            if (plan->runs > 0) plan->runEnd[plan->runs - 1] = static_cast<uint16_t>(index);
            ++plan->runs;
            mszipInRun = false;
        }
        if (kind == Mszip) mszipInRun = true;
    }
    plan->runEnd[plan->runs - 1] = folderCount;

    // The library reads the file entries right after the folder entries, whatever the
    // header says: a cabinet that points elsewhere would show this check other entries.
    if (filesAt != offset) return false;
    // Files in folder order, each after the one before it in its folder, so that no data
    // is unpacked twice and no file's bytes are another's.
    uint32_t lastFolder = 0;
    for (uint32_t index = 0; index < fileCount; ++index) {
        const uint8_t* entry = BytesAt(&reader, offset, 16);
        if (!entry) return false;
        uint64_t length = Get32(entry), start = Get32(entry + 4);
        uint16_t folderIndex = Get16(entry + 8);
        // The continuation values (0xFFFD-0xFFFF) are not below any folder count either:
        // a file that begins or ends in another cabinet of a set is not followed.
        if (folderIndex >= folderCount || folderIndex < lastFolder) return false;
        FolderEntry& folder = folders[folderIndex];
        if (start < folder.filesEnd) return false;
        folder.filesEnd = start + length;
        lastFolder = folderIndex;
        plan->declaredBytes += length;
        offset += 16;
        if (!SkipName(&reader, &offset, false)) return false;
    }
    plan->files = fileCount;

    // The folders' data follows the file entries, each folder's right after the one before.
    for (uint32_t index = 0; index < folderCount; ++index) {
        FolderEntry& folder = folders[index];
        if (folder.dataAt != offset || !CheckBlocks(&reader, &folder, blockReserve, &offset)) return false;
        if (folder.filesEnd > folder.unpacked) return false;
    }
    return true;
}
