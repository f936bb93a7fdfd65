#include "tests/registration/cabinet_generator.h"

#include <windows.h>

#include <algorithm>

namespace {

// splitmix64: one stream per (seed, index), the same on every machine.
struct Random {
    uint64_t state;
    uint64_t Next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t Below(uint32_t bound) { return bound ? static_cast<uint32_t>(Next() % bound) : 0; }
    bool Chance(uint32_t percent) { return Below(100) < percent; }
};

void Append16(std::string& out, uint32_t value)
{
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

void Append32(std::string& out, uint32_t value)
{
    Append16(out, value & 0xFFFF);
    Append16(out, value >> 16);
}

// Deflate's bit order: values least significant bit first, Huffman codes most significant first.
struct DeflateBits {
    std::string out;
    uint32_t buffer = 0;
    int count = 0;
    void Put(uint32_t value, int bits)
    {
        for (int i = 0; i < bits; ++i) {
            buffer |= ((value >> i) & 1) << count;
            if (++count == 8) Flush();
        }
    }
    void Code(uint32_t code, int bits)
    {
        for (int i = bits - 1; i >= 0; --i) Put((code >> i) & 1, 1);
    }
    void Flush()
    {
        if (count == 0) return;
        out.push_back(static_cast<char>(buffer));
        buffer = 0;
        count = 0;
    }
};

void FixedLiteral(DeflateBits& bits, uint32_t symbol)
{
    if (symbol < 144) bits.Code(0x30 + symbol, 8);
    else if (symbol < 256) bits.Code(0x190 + symbol - 144, 9);
    else if (symbol < 280) bits.Code(symbol - 256, 7);
    else bits.Code(0xC0 + symbol - 280, 8);
}

// A match of `length` (3-258) at distance 1, with the fixed codes.
void FixedRepeat(DeflateBits& bits, uint32_t length)
{
    static const uint16_t base[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                    31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const uint8_t extra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                    2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    int code = 28;
    while (base[code] > length) --code;
    FixedLiteral(bits, 257 + code);
    bits.Put(length - base[code], extra[code]);
    bits.Code(0, 5);  // distance code 0: distance 1
}

// One final fixed-code block: literals, and runs of a repeated byte as matches.
std::string FixedDeflate(const std::string& data)
{
    DeflateBits bits;
    bits.Put(1, 1);
    bits.Put(1, 2);
    for (size_t i = 0; i < data.size();) {
        size_t run = 0;
        while (i > 0 && i + run < data.size() && run < 258 && data[i + run] == data[i - 1]) ++run;
        if (run >= 3) {
            FixedRepeat(bits, static_cast<uint32_t>(run));
            i += run;
        } else {
            FixedLiteral(bits, static_cast<uint8_t>(data[i++]));
        }
    }
    FixedLiteral(bits, 256);
    bits.Flush();
    return bits.out;
}

std::string StoredDeflate(const std::string& data)
{
    DeflateBits bits;
    bits.Put(1, 1);
    bits.Put(0, 2);
    bits.Flush();
    Append16(bits.out, static_cast<uint32_t>(data.size()));
    Append16(bits.out, static_cast<uint32_t>(~data.size() & 0xFFFF));
    return bits.out + data;
}

// LZX's bit order: 16-bit little-endian words, each filled from its most significant bit.
struct LzxBits {
    std::string out;
    uint32_t word = 0;
    int count = 0;
    void Put(uint32_t value, int bits)
    {
        for (int i = bits - 1; i >= 0; --i) {
            word = (word << 1) | ((value >> i) & 1);
            if (++count == 16) {
                Append16(out, word);
                word = 0;
                count = 0;
            }
        }
    }
};

// A folder's data as LZX: one uncompressed block over all of it, cut into 32 KiB frames.
std::vector<std::pair<std::string, uint16_t>> LzxFrames(const std::string& stream)
{
    std::vector<std::pair<std::string, uint16_t>> frames;
    for (size_t at = 0; at < stream.size(); at += 32768) {
        std::string chunk = stream.substr(at, 32768);
        std::string bytes;
        if (at == 0) {
            LzxBits bits;
            bits.Put(0, 1);  // no E8 translation
            bits.Put(3, 3);  // uncompressed block
            bits.Put(static_cast<uint32_t>(stream.size()) >> 8, 16);
            bits.Put(static_cast<uint32_t>(stream.size()) & 0xFF, 8);
            bits.Put(0, 4);  // to the 16-bit boundary
            bytes = bits.out;
            for (int r = 0; r < 3; ++r) Append32(bytes, 1);  // R0, R1, R2
        }
        frames.push_back({bytes + chunk, static_cast<uint16_t>(chunk.size())});
    }
    return frames;
}

uint32_t Checksum(const std::string& data, uint32_t sum)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
    size_t words = data.size() / 4;
    for (size_t i = 0; i < words; ++i)
        sum ^= bytes[4 * i] | bytes[4 * i + 1] << 8 | bytes[4 * i + 2] << 16 | static_cast<uint32_t>(bytes[4 * i + 3]) << 24;
    uint32_t last = 0;
    const uint8_t* tail = bytes + 4 * words;
    switch (data.size() & 3) {
    case 3:
        last |= static_cast<uint32_t>(*tail++) << 16;
        [[fallthrough]];
    case 2:
        last |= static_cast<uint32_t>(*tail++) << 8;
        [[fallthrough]];
    case 1:
        last |= *tail;
    }
    return sum ^ last;
}

struct Layout {
    size_t foldersAt = 0, filesAt = 0;
    std::vector<size_t> folderEntries, fileEntries, blockHeaders;
};

std::string WriteWithLayout(const CabinetModel& model, Layout* layout)
{
    std::string cab = "MSCF";
    Append32(cab, 0);
    Append32(cab, 0);  // size, set below
    Append32(cab, 0);
    Append32(cab, 0);  // file entries, set below
    Append32(cab, 0);
    cab.push_back(3);
    cab.push_back(1);
    Append16(cab, static_cast<uint32_t>(model.folders.size()));
    Append16(cab, static_cast<uint32_t>(model.files.size()));
    Append16(cab, model.flags);
    Append16(cab, 0x2345);
    Append16(cab, 0);
    if (model.flags & 4) {
        Append16(cab, model.headerReserve);
        cab.push_back(static_cast<char>(model.folderReserve));
        cab.push_back(static_cast<char>(model.blockReserve));
        cab.append(model.headerReserve, 'H');
    }
    if (model.flags & 1) cab += std::string("prev.cab") + '\0' + "disk" + '\0';
    if (model.flags & 2) cab += std::string("next.cab") + '\0' + "disk" + '\0';
    layout->foldersAt = cab.size();
    for (const ModelFolder& folder : model.folders) {
        layout->folderEntries.push_back(cab.size());
        Append32(cab, 0);  // first block, set below
        Append16(cab, static_cast<uint32_t>(folder.blocks.size()));
        Append16(cab, folder.compression);
        cab.append(model.folderReserve, 'F');
    }
    layout->filesAt = cab.size();
    Put32(cab, 16, static_cast<uint32_t>(cab.size()));
    std::vector<uint32_t> offsets(model.folders.size(), 0);
    for (const ModelFile& file : model.files) {
        layout->fileEntries.push_back(cab.size());
        uint32_t& offset = offsets[file.folder < offsets.size() ? file.folder : 0];
        Append32(cab, static_cast<uint32_t>(file.data.size()));
        Append32(cab, offset);
        Append16(cab, file.folder);
        Append16(cab, (41 << 9) | (6 << 5) | 15);
        Append16(cab, (13 << 11) | (45 << 5) | 15);
        Append16(cab, file.attributes);
        cab += file.name;
        cab.push_back('\0');
        offset += static_cast<uint32_t>(file.data.size());
    }
    for (size_t index = 0; index < model.folders.size(); ++index) {
        Put32(cab, layout->folderEntries[index], static_cast<uint32_t>(cab.size()));
        for (const auto& block : model.folders[index].blocks) {
            layout->blockHeaders.push_back(cab.size());
            std::string sizes;
            Append16(sizes, static_cast<uint32_t>(block.first.size()));
            Append16(sizes, block.second);
            Append32(cab, model.checksums ? Checksum(sizes, Checksum(block.first, 0)) : 0);
            cab += sizes;
            cab.append(model.blockReserve, 'D');
            cab += block.first;
        }
    }
    Put32(cab, 8, static_cast<uint32_t>(cab.size()));
    return cab;
}

std::string Ansi936(const wchar_t* text)
{
    char bytes[256] = {};
    WideCharToMultiByte(936, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
    return bytes;
}

std::string Utf8(const wchar_t* text)
{
    char bytes[512] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
    return bytes;
}

// File contents that compress in different ways: text, runs, noise, nothing.
std::string Content(Random& random, uint32_t size)
{
    std::string data(size, '\0');
    switch (random.Below(4)) {
    case 0:
        for (uint32_t i = 0; i < size; ++i) data[i] = "abcdefgh ijklmnop\r\n"[random.Below(19)];
        break;
    case 1:
        for (uint32_t i = 0; i < size;) {
            char c = static_cast<char>(random.Below(256));
            for (uint32_t run = 1 + random.Below(600); run > 0 && i < size; --run) data[i++] = c;
        }
        break;
    case 2:
        for (uint32_t i = 0; i < size; ++i) data[i] = static_cast<char>(random.Below(256));
        break;
    default:
        break;
    }
    return data;
}

// A stored name (bytes) of the kinds a package has: plain, GBK (the users' code page) or
// UTF-8 with its flag, each made unique by its number.
ModelFile NamedFile(Random& random, uint32_t number)
{
    static const wchar_t* const chinese[] = {L"控件", L"说明", L"乗嘰", L"安装信息", L"组件"};
    static const char* const extensions[] = {".txt", ".dat", ".inf", ".ocx", ".dll", ".bin"};
    ModelFile file;
    std::string extension = extensions[random.Below(6)];
    std::string number_ = std::to_string(number);
    switch (random.Below(3)) {
    case 0:
        file.name = "file" + number_ + extension;
        break;
    case 1:
        file.name = Ansi936(chinese[random.Below(5)]) + number_ + extension;
        break;
    default:
        file.name = Utf8(chinese[random.Below(5)]) + "-\xC3\x84" + number_ + extension;
        file.attributes |= 0x80;
        break;
    }
    if (random.Chance(10)) file.attributes |= 0x01;
    return file;
}

// A sound model: 1-4 folders of stored, MSZIP or LZX data (an MSZIP folder is often
// followed by an LZX one, with a length that is a multiple of 8), 0-8 files each.
CabinetModel SoundModel(Random& random, GeneratedCabinet* out)
{
    CabinetModel model;
    uint32_t folders = 1 + random.Below(4), number = 0;
    for (uint32_t f = 0; f < folders; ++f) {
        ModelFolder folder;
        uint32_t kind = random.Below(3);
        folder.compression = static_cast<uint16_t>(kind == 0   ? CompressStored
                                                   : kind == 1 ? CompressMszip
                                                               : CompressLzx | (15 + random.Below(7)) << 8);
        if (f > 0 && (model.folders.back().compression & 0xF) == CompressMszip && random.Chance(50))
            folder.compression = CompressLzx | (15 + random.Below(7)) << 8;
        model.folders.push_back(folder);
        uint32_t files = random.Below(9);
        uint32_t total = 0;
        for (uint32_t i = 0; i < files; ++i) {
            ModelFile file = NamedFile(random, number++);
            uint32_t size = random.Chance(20) ? 0 : random.Below(random.Chance(20) ? 150000 : 5000);
            file.data = Content(random, size);
            file.folder = static_cast<uint16_t>(f);
            total += size;
            model.files.push_back(file);
        }
        // MSZIP output ending on a multiple of 8 bytes.
        if (folder.compression == CompressMszip && total % 8 && !model.files.empty() && model.files.back().folder == f)
            model.files.back().data.append(8 - total % 8, 'p');
    }
    if (random.Chance(20)) {
        model.flags |= 4;
        model.headerReserve = static_cast<uint16_t>(random.Below(100));
        model.folderReserve = static_cast<uint8_t>(random.Below(8));
        model.blockReserve = static_cast<uint8_t>(random.Below(8));
    }
    if (random.Chance(10)) model.flags |= 1;
    model.checksums = random.Chance(70);
    EncodeFolders(model);
    for (const ModelFile& file : model.files) out->files.push_back({file.name, file.data, (file.attributes & 0x80) != 0});
    return model;
}

std::string SoundBytes(Random& random, Layout* layout, CabinetModel* kept = nullptr)
{
    GeneratedCabinet ignored;
    CabinetModel model = SoundModel(random, &ignored);
    if (kept) *kept = model;
    return WriteWithLayout(model, layout);
}

void Mutate(Random& random, std::string& bytes, size_t at, int width, std::string* detail)
{
    if (at + width > bytes.size()) return;
    static const uint32_t values[] = {0, 1, 2, 0x7F, 0x80, 0xFF, 0x100, 0x7FFF, 0x8000, 0xFFFD, 0xFFFE, 0xFFFF,
                                      0x10000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    uint32_t value = random.Chance(50) ? values[random.Below(16)] : static_cast<uint32_t>(random.Next());
    if (random.Chance(25)) {
        uint32_t old = 0;
        for (int i = 0; i < width; ++i) old |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + i])) << (8 * i);
        value = old + (random.Chance(50) ? 1 : -1) * (1 + random.Below(16));
    }
    for (int i = 0; i < width; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
    *detail += " @" + std::to_string(at) + "=" + std::to_string(value);
}

void HeaderCase(Random& random, GeneratedCabinet* out)
{
    Layout layout;
    out->bytes = SoundBytes(random, &layout);
    out->detail = "fields";
    for (uint32_t n = 1 + random.Below(3); n > 0; --n) {
        uint32_t pick = random.Below(4);
        if (pick == 0 || (layout.folderEntries.empty() && layout.fileEntries.empty())) {
            static const std::pair<int, int> fields[] = {{8, 4}, {16, 4}, {24, 1}, {25, 1}, {26, 2}, {28, 2}, {30, 2}, {34, 2}};
            auto field = fields[random.Below(8)];
            Mutate(random, out->bytes, field.first, field.second, &out->detail);
        } else if (pick == 1 && !layout.folderEntries.empty()) {
            static const std::pair<int, int> fields[] = {{0, 4}, {4, 2}, {6, 2}};
            auto field = fields[random.Below(3)];
            Mutate(random, out->bytes, layout.folderEntries[random.Below(static_cast<uint32_t>(layout.folderEntries.size()))] + field.first,
                   field.second, &out->detail);
        } else if (!layout.fileEntries.empty()) {
            static const std::pair<int, int> fields[] = {{0, 4}, {4, 4}, {8, 2}, {14, 2}};
            auto field = fields[random.Below(4)];
            Mutate(random, out->bytes, layout.fileEntries[random.Below(static_cast<uint32_t>(layout.fileEntries.size()))] + field.first,
                   field.second, &out->detail);
        }
    }
}

void NamesCase(Random& random, GeneratedCabinet* out)
{
    static const char* const hostile[] = {
        "..\\escape.txt", "../escape.txt", "sub\\..\\..\\escape.txt", "\\escape.txt", "C:\\escape.txt", "C:escape.txt",
        "NUL", "con.txt", "COM1", "lpt9.log", "CONOUT$", "a.txt.", "a.txt ", "x86\\a.ocx", "a<b.txt", "a|b.txt",
        "a\x01" "b.txt", "a*.txt", "a?.txt", "a\"b.txt", "name:stream.txt", "\xff\xfe.txt", "\x81.txt", "\xC3.txt",
        "\xE6\x8E.txt", "\xA1\x20.txt", "\xED\xA0\x80.txt", "\xC0\xAF.txt", "..", ".",
    };
    CabinetModel model;
    model.folders.push_back(ModelFolder{CompressMszip, {}});
    uint32_t count = 1 + random.Below(4), at = random.Below(count);
    out->detail = "names";
    for (uint32_t i = 0; i < count; ++i) {
        ModelFile file = NamedFile(random, i);
        if (i == at) {
            uint32_t pick = random.Below(4);
            if (pick == 0) {
                file.name = hostile[random.Below(sizeof hostile / sizeof *hostile)];
                if (random.Chance(30)) file.attributes |= 0x80;
            } else if (pick == 1) {
                // Longer than 255 bytes in UTF-8: Wine would cut it.
                std::string stem;
                for (uint32_t n = 60 + random.Below(40); n > 0; --n) stem += random.Chance(50) ? Utf8(L"控") : Ansi936(L"控");
                file.name = stem.substr(0, 200 + random.Below(55)) + (random.Chance(50) ? ".txt" : ".ocx");
                if (random.Chance(50)) file.attributes |= 0x80;
            } else if (pick == 2) {
                for (uint32_t n = 1 + random.Below(20); n > 0; --n) file.name.push_back(static_cast<char>(1 + random.Below(255)));
                if (random.Chance(50)) file.attributes |= 0x80;
            } else {
                file.name = i > 0 ? model.files[0].name : "twice.txt";  // stored twice
                if (i > 0) file.attributes = model.files[0].attributes;
            }
            out->detail += " " + std::to_string(pick);
        }
        file.data = Content(random, random.Below(3000));
        model.files.push_back(file);
    }
    EncodeFolders(model);
    out->bytes = WriteCabinet(model);
}

void BlocksCase(Random& random, GeneratedCabinet* out)
{
    Layout layout;
    out->bytes = SoundBytes(random, &layout);
    out->detail = "blocks";
    if (layout.blockHeaders.empty()) {
        Mutate(random, out->bytes, 26, 2, &out->detail);
        return;
    }
    for (uint32_t n = 1 + random.Below(3); n > 0; --n) {
        size_t header = layout.blockHeaders[random.Below(static_cast<uint32_t>(layout.blockHeaders.size()))];
        uint32_t pick = random.Below(4);
        if (pick == 0) Mutate(random, out->bytes, header, 4, &out->detail);
        else if (pick == 1) Mutate(random, out->bytes, header + 4, 2, &out->detail);
        else if (pick == 2) Mutate(random, out->bytes, header + 6, 2, &out->detail);
        else {
            size_t at = header + 8 + random.Below(64);
            if (at < out->bytes.size()) out->bytes[at] = static_cast<char>(random.Below(256));
            out->detail += " byte@" + std::to_string(at);
        }
    }
}

// Deflate streams that Wine's inflater mishandles, and LZX and Quantum data at random.
void CodecCase(Random& random, GeneratedCabinet* out)
{
    CabinetModel model;
    std::string data = Content(random, 1 + random.Below(20000));
    uint32_t pick = random.Below(8);
    uint16_t unpacked = static_cast<uint16_t>(data.size());
    std::string block;
    switch (pick) {
    case 0:  // inflates past 32 KiB, fixed codes
        block = MszipOverrun(128 + random.Below(200));
        unpacked = static_cast<uint16_t>(32768 - random.Below(100));
        break;
    case 1:  // inflates past 32 KiB, stored
        block = "CK" + StoredDeflate(std::string(32769 + random.Below(5000), 's'));
        unpacked = 32768;
        break;
    case 2:  // a dynamic block whose literal/length code is empty
    case 3:  // ... or whose distance code is empty while a length is used
        block = MszipEmptyCode(pick == 2);
        break;
    case 4:  // deflate bits at random
        block = "CK";
        for (uint32_t n = 1 + random.Below(200); n > 0; --n) block.push_back(static_cast<char>(random.Below(256)));
        break;
    case 5:  // MSZIP, then a Quantum folder of noise
    case 6:  // LZX noise
    default: {  // Quantum noise
        for (uint32_t n = 2 + random.Below(3000); n > 0; --n) block.push_back(static_cast<char>(random.Below(256)));
        break;
    }
    }
    if (pick <= 4) {
        model.folders.push_back(ModelFolder{CompressMszip, {{block, unpacked}}});
        model.files.push_back({"first.txt", std::string(unpacked, 'x'), 0, 0x20});
    } else {
        if (pick == 5) {  // a sound MSZIP folder, ending on a multiple of 8 bytes, first
            std::string z(8 * (1 + random.Below(100)), 'z');
            model.folders.push_back(ModelFolder{CompressMszip, {{MszipBlock(z), static_cast<uint16_t>(z.size())}}});
            model.files.push_back({"first.txt", z, 0, 0x20});
        }
        uint16_t compression = pick == 6 ? static_cast<uint16_t>(CompressLzx | (15 + random.Below(7)) << 8)
                                         : static_cast<uint16_t>(CompressQuantum | (10 + random.Below(12)) << 8 |
                                                                 (1 + random.Below(7)) << 4);
        uint16_t size = static_cast<uint16_t>(1 + random.Below(32768));
        model.folders.push_back(ModelFolder{compression, {{block, size}}});
        model.files.push_back({"second.txt", std::string(size, 'y'), static_cast<uint16_t>(model.folders.size() - 1), 0x20});
    }
    model.checksums = random.Chance(50);
    out->detail = "codec " + std::to_string(pick);
    out->bytes = WriteCabinet(model);
}

void CutCase(Random& random, GeneratedCabinet* out)
{
    Layout layout;
    std::string first = SoundBytes(random, &layout);
    if (random.Chance(50)) {
        size_t cut = random.Below(static_cast<uint32_t>(first.size()));
        out->bytes = first.substr(0, cut);
        out->detail = "cut " + std::to_string(cut);
    } else {
        Layout other;
        std::string second = SoundBytes(random, &other);
        size_t a = random.Below(static_cast<uint32_t>(first.size())), b = random.Below(static_cast<uint32_t>(second.size()));
        out->bytes = first.substr(0, a) + second.substr(b);
        out->detail = "splice " + std::to_string(a) + "+" + std::to_string(b);
    }
}

void DecoyCase(Random& random, GeneratedCabinet* out)
{
    CabinetModel model;
    model.folders.push_back(ModelFolder{CompressStored, {}});
    model.files.push_back({"shown.txt", Content(random, 1 + random.Below(3000)), 0, 0x20});
    uint32_t pick = random.Below(4);
    out->detail = "decoy " + std::to_string(pick);
    if (pick == 0) {
        // The header points to a second file table, placed after the data.
        EncodeFolders(model);
        Layout layout;
        std::string bytes = WriteWithLayout(model, &layout);
        size_t decoyAt = bytes.size();
        std::string decoy;
        Append32(decoy, static_cast<uint32_t>(model.files[0].data.size()));
        Append32(decoy, 0);
        Append16(decoy, 0);
        Append16(decoy, 0);
        Append16(decoy, 0);
        Append16(decoy, 0x20);
        decoy += std::string("decoy.ocx") + '\0';
        bytes += decoy;
        Put32(bytes, 16, static_cast<uint32_t>(decoyAt));
        Put32(bytes, 8, static_cast<uint32_t>(bytes.size()));
        out->bytes = bytes;
        return;
    }
    if (pick == 1) model.files.push_back({"continued.ocx", "c", static_cast<uint16_t>(0xFFFD + random.Below(3)), 0x20});
    if (pick == 2) model.flags |= random.Chance(50) ? 2 : 3;
    if (pick == 3) {
        // The next-cabinet flag and a block that unpacks to nothing: the library asks for
        // the next cabinet.
        model.flags |= 2;
        EncodeFolders(model);
        model.folders[0].blocks.push_back({"", 0});
    }
    EncodeFolders(model);
    out->bytes = WriteCabinet(model);
}

void BombCase(Random& random, GeneratedCabinet* out)
{
    CabinetModel model;
    uint32_t pick = random.Below(6);
    out->detail = "bomb " + std::to_string(pick);
    if (pick == 0 || pick == 1) {
        // Overlapping entries over one folder of zeros, or entries past its end.
        std::string zeros(32768 * (1 + random.Below(4)), '\0');
        model.folders.push_back(ModelFolder{CompressMszip, {}});
        model.files.push_back({"base.bin", zeros, 0, 0x20});
        EncodeFolders(model);
        Layout layout;
        uint32_t copies = pick == 0 ? 2 + random.Below(4000) : 1;
        for (uint32_t i = 0; i < copies; ++i) model.files.push_back({"copy" + std::to_string(i) + ".bin", "", 0, 0x20});
        std::string bytes = WriteWithLayout(model, &layout);
        for (uint32_t i = 1; i <= copies; ++i) {
            Put32(bytes, layout.fileEntries[i], pick == 0 ? static_cast<uint32_t>(zeros.size()) : 1 + random.Below(1 << 20));
            Put32(bytes, layout.fileEntries[i] + 4, pick == 0 ? 0 : static_cast<uint32_t>(zeros.size()) - random.Below(16));
        }
        out->bytes = bytes;
        return;
    }
    if (pick == 2 || pick == 3) {
        // Many files: up to the bound (2,000, which unpack; near it only now and then, for
        // creating them takes seconds under Wine) or above it.
        uint32_t files = pick == 3 ? 2001 + random.Below(4000) : random.Chance(25) ? 1500 + random.Below(501) : 100 + random.Below(500);
        model.folders.push_back(ModelFolder{CompressMszip, {}});
        for (uint32_t i = 0; i < files; ++i) model.files.push_back({"f" + std::to_string(i), "", 0, 0x20});
        EncodeFolders(model);
        out->bytes = WriteCabinet(model);
        if (pick == 2) {
            out->mustUnpack = true;
            for (const ModelFile& file : model.files) out->files.push_back({file.name, file.data, false});
        }
        return;
    }
    if (pick == 4) {
        // Many folders sharing one chain of empty blocks.
        out->bytes = SharedChainCabinet(1000 + random.Below(20000), 1000 + random.Below(20000));
        return;
    }
    // Zeros that unpack to a hundred times their size, declared and sound.
    model.folders.push_back(ModelFolder{CompressMszip, {}});
    model.files.push_back({"zeros.bin", std::string(32768 * (10 + random.Below(100)), '\0'), 0, 0x20});
    EncodeFolders(model);
    out->bytes = WriteCabinet(model);
    out->files.push_back({model.files[0].name, model.files[0].data, false});
    out->mustUnpack = true;
}

}  // namespace

void Put16(std::string& out, size_t at, uint32_t value)
{
    out[at] = static_cast<char>(value & 0xFF);
    out[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, size_t at, uint32_t value)
{
    Put16(out, at, value & 0xFFFF);
    Put16(out, at + 2, value >> 16);
}

std::string MszipOverrun(uint32_t repeats)
{
    DeflateBits bits;
    bits.Put(1, 1);
    bits.Put(1, 2);
    FixedLiteral(bits, 'A');
    for (uint32_t n = repeats; n > 0; --n) FixedRepeat(bits, 258);
    FixedLiteral(bits, 256);
    bits.Flush();
    return "CK" + bits.out;
}

std::string MszipEmptyCode(bool literalCode)
{
    DeflateBits bits;
    bits.Put(1, 1);
    bits.Put(2, 2);
    bits.Put(literalCode ? 0 : 1, 5);   // HLIT: 257 or 258 codes
    bits.Put(0, 5);                     // HDIST: 1 code
    bits.Put(literalCode ? 0 : 14, 4);  // HCLEN: 4 or 18 code-length codes
    static const int order[] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    int lengths[19] = {};
    lengths[18] = 1;
    lengths[0] = literalCode ? 1 : 2;
    if (!literalCode) lengths[1] = 2;
    for (int i = 0; i < (literalCode ? 4 : 18); ++i) bits.Put(lengths[order[i]], 3);
    // Code-length codes: 18 is "0"; 0 is "1" (first form) or "10", and 1 is "11".
    auto zeros = [&](int count) {
        bits.Code(0, 1);
        bits.Put(count - 11, 7);
    };
    zeros(138);
    if (literalCode) {
        zeros(120);  // 257 + 1 lengths, all zero
    } else {
        zeros(118);       // 0-255
        bits.Code(3, 2);  // 256: length 1
        bits.Code(3, 2);  // 257: length 1
        bits.Code(2, 2);  // the one distance: length 0
        bits.Code(1, 1);  // 257: a match of 3, at a distance no code can give
        bits.Code(0, 1);  // end of block
    }
    bits.Put(0, 16);
    bits.Flush();
    return "CK" + bits.out;
}

std::string SharedChainCabinet(uint32_t folders, uint32_t blocks)
{
    std::string bytes = "MSCF";
    for (int i = 0; i < 5; ++i) Append32(bytes, 0);
    bytes.push_back(3);
    bytes.push_back(1);
    Append16(bytes, folders);
    Append16(bytes, 1);
    for (int i = 0; i < 3; ++i) Append16(bytes, 0);
    uint32_t chain = 36 + 8 * folders + 16 + 6;
    for (uint32_t i = 0; i < folders; ++i) {
        Append32(bytes, chain);
        Append16(bytes, blocks);
        Append16(bytes, CompressStored);
    }
    Put32(bytes, 16, static_cast<uint32_t>(bytes.size()));
    Append32(bytes, 0);
    Append32(bytes, 0);
    Append16(bytes, folders - 1);
    Append16(bytes, 0);
    Append16(bytes, 0);
    Append16(bytes, 0x20);
    bytes += std::string("a.txt") + '\0';
    for (uint32_t i = 0; i < blocks; ++i) {
        Append32(bytes, 0);
        Append32(bytes, 0);
    }
    Put32(bytes, 8, static_cast<uint32_t>(bytes.size()));
    return bytes;
}

std::string MszipBlock(const std::string& data)
{
    return "CK" + (data.size() % 3 == 0 ? StoredDeflate(data) : FixedDeflate(data));
}

void EncodeFolders(CabinetModel& model)
{
    for (size_t index = 0; index < model.folders.size(); ++index) {
        ModelFolder& folder = model.folders[index];
        if (!folder.blocks.empty()) continue;
        std::string stream;
        for (const ModelFile& file : model.files)
            if (file.folder == index) stream += file.data;
        if ((folder.compression & 0xF) == CompressLzx) {
            folder.blocks = LzxFrames(stream);
            continue;
        }
        for (size_t at = 0; at < stream.size(); at += 32768) {
            std::string chunk = stream.substr(at, 32768);
            std::string bytes = (folder.compression & 0xF) == CompressMszip ? MszipBlock(chunk) : chunk;
            folder.blocks.push_back({bytes, static_cast<uint16_t>(chunk.size())});
        }
    }
}

std::string WriteCabinet(const CabinetModel& model)
{
    Layout layout;
    return WriteWithLayout(model, &layout);
}

const char* CabinetClassName(CabinetClass kind)
{
    static const char* const names[] = {"sound", "header", "names", "blocks", "codec", "cut", "decoy", "bomb"};
    return names[static_cast<int>(kind)];
}

GeneratedCabinet GenerateCabinet(uint64_t seed, uint32_t index)
{
    Random random{seed * 0x100000001B3ull ^ (static_cast<uint64_t>(index) << 20) ^ index};
    random.Next();
    GeneratedCabinet out;
    out.kind = static_cast<CabinetClass>(index % static_cast<uint32_t>(CabinetClass::Count));
    switch (out.kind) {
    case CabinetClass::Sound: {
        CabinetModel model = SoundModel(random, &out);
        out.bytes = WriteCabinet(model);
        out.detail = std::to_string(model.folders.size()) + " folders";
        out.mustUnpack = true;
        break;
    }
    case CabinetClass::Header:
        HeaderCase(random, &out);
        break;
    case CabinetClass::Names:
        NamesCase(random, &out);
        break;
    case CabinetClass::Blocks:
        BlocksCase(random, &out);
        break;
    case CabinetClass::Codec:
        CodecCase(random, &out);
        break;
    case CabinetClass::Cut:
        CutCase(random, &out);
        break;
    case CabinetClass::Decoy:
        DecoyCase(random, &out);
        break;
    default:
        BombCase(random, &out);
        break;
    }
    return out;
}
