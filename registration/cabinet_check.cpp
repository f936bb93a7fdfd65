// Reads a cabinet's own description of itself (fixed header, folder entries, data block
// headers, file entries) before the cabinet library is given it: the library trusts these
// numbers, and some that no sound cabinet has make it read through a null pointer.
#include "registration/registration.h"

#include <io.h>

#include <cstdint>
#include <cstring>

namespace {
constexpr uint16_t PrevCabinet = 0x0001, NextCabinet = 0x0002, ReservePresent = 0x0004;
constexpr int MaxFolders = 65535;

// A window of the file, refilled where it is asked: every read is bounded by the window and
// by the file's length, and many small entries cost few reads.
struct CabinetReader {
    int descriptor;
    uint64_t size;
    uint64_t windowStart;
    uint32_t windowLength;
    uint8_t window[65536];
};
}  // namespace

// The `length` bytes at `offset`, or null when they are not all inside the file.
static const uint8_t* BytesAt(CabinetReader* reader, uint64_t offset, uint32_t length)
{
    if (length > 4096 || offset > reader->size || reader->size - offset < length) return nullptr;
    if (offset < reader->windowStart || offset + length > reader->windowStart + reader->windowLength) {
        reader->windowStart = offset;
        reader->windowLength = 0;
        if (_lseeki64(reader->descriptor, static_cast<int64_t>(offset), SEEK_SET) != static_cast<int64_t>(offset))
            return nullptr;
        while (reader->windowLength < length) {
            int got = _read(reader->descriptor, reader->window + reader->windowLength,
                            sizeof reader->window - reader->windowLength);
            if (got <= 0) return nullptr;
            reader->windowLength += static_cast<uint32_t>(got);
        }
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

// Moves `offset` past a terminated name of at most 255 bytes; false when there is none.
static bool SkipName(CabinetReader* reader, uint64_t* offset)
{
    uint32_t length = static_cast<uint32_t>(reader->size - *offset < 256 ? reader->size - *offset : 256);
    const uint8_t* name = BytesAt(reader, *offset, length);
    const void* end = name ? memchr(name, 0, length) : nullptr;
    if (!end) return false;
    *offset += static_cast<const uint8_t*>(end) - name + 1;
    return true;
}

bool IsSoundCabinet(int descriptor)
{
    static CabinetReader reader;
    int64_t size = _filelengthi64(descriptor);
    if (size <= 0) return false;
    reader.descriptor = descriptor;
    reader.size = static_cast<uint64_t>(size);
    reader.windowStart = reader.windowLength = 0;

    const uint8_t* header = BytesAt(&reader, 0, 36);
    if (!header || memcmp(header, "MSCF", 4) != 0) return false;
    uint32_t filesAt = Get32(header + 16);
    uint16_t folders = Get16(header + 26), files = Get16(header + 28), flags = Get16(header + 30);
    if (folders == 0) return false;

    uint64_t offset = 36;
    uint32_t folderReserve = 0, dataReserve = 0;
    if (flags & ReservePresent) {
        const uint8_t* reserve = BytesAt(&reader, offset, 4);
        if (!reserve) return false;
        folderReserve = reserve[2];
        dataReserve = reserve[3];
        offset += 4 + Get16(reserve);
    }
    if (flags & PrevCabinet && !(SkipName(&reader, &offset) && SkipName(&reader, &offset))) return false;
    if (flags & NextCabinet && !(SkipName(&reader, &offset) && SkipName(&reader, &offset))) return false;

    // Every folder's data blocks lie inside the file; their sizes add up to the folder's
    // unpacked length, which bounds the files stored in it.
    static uint64_t unpacked[MaxFolders];
    for (uint16_t folder = 0; folder < folders; ++folder, offset += 8 + folderReserve) {
        const uint8_t* entry = BytesAt(&reader, offset, 8);
        if (!entry) return false;
        uint64_t block = Get32(entry);
        unpacked[folder] = 0;
        for (uint16_t blocks = Get16(entry + 4); blocks > 0; --blocks) {
            const uint8_t* data = BytesAt(&reader, block, 8);
            if (!data) return false;
            block += 8 + dataReserve + Get16(data + 4);
            if (block > reader.size) return false;
            unpacked[folder] += Get16(data + 6);
        }
    }

    offset = filesAt;
    for (uint16_t file = 0; file < files; ++file) {
        const uint8_t* entry = BytesAt(&reader, offset, 16);
        if (!entry) return false;
        uint64_t length = Get32(entry), start = Get32(entry + 4);
        uint16_t folder = Get16(entry + 8);
        // The continuation values (0xFFFD-0xFFFF) are not below any folder count either:
        // a file that begins or ends in another cabinet of a set is not followed.
        if (folder >= folders || start + length > unpacked[folder]) return false;
        offset += 16;
        if (!SkipName(&reader, &offset)) return false;
    }
    return true;
}
