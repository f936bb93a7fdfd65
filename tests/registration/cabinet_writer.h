#pragma once
// Writes cabinet files without compression, so that a test decides every stored name
// (however hostile), date, time and attribute word.
#include <cstdint>
#include <string>
#include <vector>

struct CabinetEntry {
    std::string name;  // stored bytes: system-code-page text, or UTF-8 with attribute 0x80
    std::string data;
    uint16_t date = DosDate(2021, 6, 15);
    uint16_t time = DosTime(13, 45, 30);
    uint16_t attributes = 0x20;

    static uint16_t DosDate(int year, int month, int day)
    {
        return static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
    }
    static uint16_t DosTime(int hour, int minute, int second)
    {
        return static_cast<uint16_t>((hour << 11) | (minute << 5) | (second / 2));
    }
};

// Optional parts of the header: reserved areas (flag 0x0004) and the names of the set's
// previous and next cabinets (flags 0x0001, 0x0002).
struct CabinetLayout {
    uint16_t headerReserve = 0;
    uint8_t folderReserve = 0, dataReserve = 0;
    bool reserve = false;
    std::string previous, next;  // cabinet names; the disk names are "disk"
};

// The bytes of a one-folder cabinet holding `entries` in this order.
std::string BuildCabinet(const std::vector<CabinetEntry>& entries, const CabinetLayout& layout = {});
