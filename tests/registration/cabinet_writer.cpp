#include "tests/registration/cabinet_writer.h"

namespace {
void Put16(std::string& out, uint32_t value)
{
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

void Put32(std::string& out, uint32_t value)
{
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

void Patch32(std::string& out, size_t at, uint32_t value)
{
    std::string bytes;
    Put32(bytes, value);
    out.replace(at, 4, bytes);
}
}  // namespace

std::string BuildCabinet(const std::vector<CabinetEntry>& entries, const CabinetLayout& layout)
{
    constexpr size_t blockSize = 32768;
    std::string stream;
    for (const CabinetEntry& entry : entries) stream += entry.data;
    size_t blocks = (stream.size() + blockSize - 1) / blockSize;

    std::string cab = "MSCF";
    Put32(cab, 0);
    Put32(cab, 0);  // total size, patched below
    Put32(cab, 0);
    size_t filesAt = cab.size();
    Put32(cab, 0);  // first file entry, patched below
    Put32(cab, 0);
    cab.push_back(3);  // format version 1.3
    cab.push_back(1);
    Put16(cab, 1);  // folders
    Put16(cab, static_cast<uint32_t>(entries.size()));
    uint16_t flags = (layout.previous.empty() ? 0 : 1) | (layout.next.empty() ? 0 : 2) | (layout.reserve ? 4 : 0);
    Put16(cab, flags);
    Put16(cab, 0x1234);  // set id
    Put16(cab, 0);  // number in set
    if (layout.reserve) {
        Put16(cab, layout.headerReserve);
        cab.push_back(static_cast<char>(layout.folderReserve));
        cab.push_back(static_cast<char>(layout.dataReserve));
        cab.append(layout.headerReserve, 'H');
    }
    for (const std::string* name : {&layout.previous, &layout.next}) {
        if (name->empty()) continue;
        cab += *name;
        cab.push_back('\0');
        cab += "disk";
        cab.push_back('\0');
    }

    size_t folderAt = cab.size();
    Put32(cab, 0);  // first data block, patched below
    Put16(cab, static_cast<uint32_t>(blocks));
    Put16(cab, 0);  // no compression
    cab.append(layout.folderReserve, 'F');

    Patch32(cab, filesAt, static_cast<uint32_t>(cab.size()));
    uint32_t offset = 0;
    for (const CabinetEntry& entry : entries) {
        Put32(cab, static_cast<uint32_t>(entry.data.size()));
        Put32(cab, offset);
        Put16(cab, 0);  // folder 0
        Put16(cab, entry.date);
        Put16(cab, entry.time);
        Put16(cab, entry.attributes);
        cab += entry.name;
        cab.push_back('\0');
        offset += static_cast<uint32_t>(entry.data.size());
    }

    Patch32(cab, folderAt, static_cast<uint32_t>(cab.size()));
    for (size_t at = 0; at < stream.size(); at += blockSize) {
        std::string block = stream.substr(at, blockSize);
        Put32(cab, 0);  // no checksum
        Put16(cab, static_cast<uint32_t>(block.size()));
        Put16(cab, static_cast<uint32_t>(block.size()));
        cab.append(layout.dataReserve, 'D');
        cab += block;
    }
    Patch32(cab, 8, static_cast<uint32_t>(cab.size()));
    return cab;
}
