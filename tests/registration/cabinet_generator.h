#pragma once
// A deterministic, structure-aware generator of cabinets: sound ones in every codec the
// generator can write (stored, MSZIP, LZX) and ones whose header, tables, names, data
// blocks or codec data are false, cut, spliced, decoyed or made to bomb. The same seed and
// index give the same cabinet.
#include <cstdint>
#include <string>
#include <vector>

// The classes of cabinets, as the campaign tallies them.
enum class CabinetClass {
    Sound,      // must unpack whole, every file exact under its stored name
    Header,     // fields of the header, folder or file entries changed
    Names,      // stored names that leave the folder, name devices, are cut or are no text
    Blocks,     // data block sizes, checksums or bytes changed
    Codec,      // deflate, LZX or Quantum data that the library mishandles
    Cut,        // cut short, or spliced from two cabinets
    Decoy,      // a second file table, continued files, next-cabinet claims
    Bomb,       // overlapping entries, entries past their folder, huge or many files
    Count
};
const char* CabinetClassName(CabinetClass kind);

struct GeneratedCabinet {
    std::string bytes;
    CabinetClass kind;
    std::string detail;  // what was done, for the report
    bool mustUnpack = false;  // a sound cabinet: unpacked whole, every file exact
    // Sound cabinets: each stored name (bytes) with its content and UTF-8 flag.
    struct File {
        std::string name;
        std::string data;
        bool utf8;
    };
    std::vector<File> files;
};

GeneratedCabinet GenerateCabinet(uint64_t seed, uint32_t index);

// Pieces for hand-made reproducers. Folder compression types (low bits of typeCompress).
constexpr uint16_t CompressStored = 0, CompressMszip = 1, CompressQuantum = 2, CompressLzx = 3;
struct ModelFile {
    std::string name;
    std::string data;
    uint16_t folder = 0;
    uint16_t attributes = 0x20;
};
struct ModelFolder {
    uint16_t compression = CompressStored;  // with the window in bits 8-12 for LZX/Quantum
    // Data blocks as written: each one's bytes and its unpacked size. Filled by EncodeFolders
    // from the files when left empty.
    std::vector<std::pair<std::string, uint16_t>> blocks;
};
struct CabinetModel {
    std::vector<ModelFolder> folders;
    std::vector<ModelFile> files;
    uint16_t flags = 0;  // 1 previous, 2 next, 4 reserve
    uint16_t headerReserve = 0;
    uint8_t folderReserve = 0, blockReserve = 0;
    bool checksums = true;
};
// Encodes each folder's files into its blocks (where the folder has none yet).
void EncodeFolders(CabinetModel& model);
// The cabinet's bytes: header, folder entries, file entries right after them, data blocks.
std::string WriteCabinet(const CabinetModel& model);
// An MSZIP block ("CK" and one deflate stream) for `data` (at most 32 KiB).
std::string MszipBlock(const std::string& data);
// MSZIP blocks that Wine's inflater mishandles: one that inflates past 32 KiB ('A' and
// `repeats` matches of 258), and one whose literal/length code (or else distance code,
// with a length that needs it) is empty.
std::string MszipOverrun(uint32_t repeats);
std::string MszipEmptyCode(bool literalCode);
// `folders` folder entries that all name one chain of `blocks` empty data blocks.
std::string SharedChainCabinet(uint32_t folders, uint32_t blocks);
void Put16(std::string& out, size_t at, uint32_t value);
void Put32(std::string& out, size_t at, uint32_t value);
