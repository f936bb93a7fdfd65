// The resources of the built program: icon images, title-bar bitmaps, manifest.
#include "res/resource.h"
#include "tests/support/program_path.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {
#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

class ProgramResources : public testing::Test {
protected:
    void SetUp() override
    {
        module = LoadLibraryExW(ProgramPath().c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module, nullptr) << "cannot open the built program";
    }
    void TearDown() override { FreeLibrary(module); }

    std::vector<BYTE> Resource(int id, LPCWSTR type)
    {
        HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
        if (!found) return {};
        auto* data = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
        return std::vector<BYTE>(data, data + SizeofResource(module, found));
    }

    HMODULE module = nullptr;
};
}  // namespace

TEST_F(ProgramResources, IconGroupHoldsTheEightImages)
{
    std::vector<BYTE> group = Resource(IDI_APP, RT_GROUP_ICON);
    ASSERT_GE(group.size(), 6u);
    WORD count = *reinterpret_cast<const WORD*>(&group[4]);
    ASSERT_EQ(count, 8);
    struct Image {
        int size, bits;
    } expected[] = {{32, 4}, {16, 4}, {48, 8}, {32, 8}, {16, 8}, {48, 32}, {32, 32}, {16, 32}};
    const auto* entries = reinterpret_cast<const GroupIconEntry*>(&group[6]);
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(testing::Message() << "image " << i);
        EXPECT_EQ(entries[i].width, expected[i].size);
        EXPECT_EQ(entries[i].height, expected[i].size);
        EXPECT_EQ(entries[i].bitCount, expected[i].bits);
        std::vector<BYTE> image = Resource(entries[i].id, RT_ICON);
        ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
        const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(image.data());
        EXPECT_EQ(header->biWidth, expected[i].size);
        EXPECT_EQ(header->biHeight, 2 * expected[i].size);  // colour bits and mask
        EXPECT_EQ(header->biBitCount, expected[i].bits);
    }
}

TEST_F(ProgramResources, TitleBarBitmapsAreTheirGlyphsOnTheTitleBarRed)
{
    struct Glyph {
        int id;
        COLORREF ink;
        POINT on;     // a pixel of the glyph (x, y from the top)
        POINT off;    // a pixel of the background
    } bitmaps[] = {
        {IDB_CLOSE, RGB(255, 255, 255), {15, 15}, {15, 2}},
        {IDB_CLOSE_PRESSED, RGB(0, 0, 0), {4, 27}, {2, 15}},
        {IDB_MINIMIZE, RGB(255, 255, 255), {15, 19}, {15, 15}},
        {IDB_MINIMIZE_PRESSED, RGB(0, 0, 0), {2, 21}, {15, 23}},
    };
    for (const Glyph& g : bitmaps) {
        SCOPED_TRACE(testing::Message() << "bitmap " << g.id);
        std::vector<BYTE> data = Resource(g.id, RT_BITMAP);
        ASSERT_GE(data.size(), sizeof(BITMAPINFOHEADER) + 32 * 32 * 3);
        const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(data.data());
        EXPECT_EQ(header->biWidth, 32);
        EXPECT_EQ(header->biHeight, 32);
        EXPECT_EQ(header->biBitCount, 24);
        EXPECT_EQ(header->biCompression, static_cast<DWORD>(BI_RGB));
        const BYTE* bits = data.data() + header->biSize;
        auto at = [bits](POINT p) {
            const BYTE* pixel = bits + (31 - p.y) * 96 + p.x * 3;  // bottom-up rows
            return RGB(pixel[2], pixel[1], pixel[0]);
        };
        EXPECT_EQ(at({0, 0}), RGB(126, 3, 6));
        EXPECT_EQ(at({31, 31}), RGB(126, 3, 6));
        EXPECT_EQ(at(g.off), RGB(126, 3, 6));
        EXPECT_EQ(at(g.on), g.ink);
        int ink = 0, other = 0;
        for (LONG y = 0; y < 32; ++y)
            for (LONG x = 0; x < 32; ++x) {
                COLORREF c = at({x, y});
                if (c == g.ink) ++ink;
                else if (c != RGB(126, 3, 6)) ++other;
            }
        EXPECT_EQ(other, 0) << "only glyph and background";
        EXPECT_GT(ink, 100);
    }
}

TEST_F(ProgramResources, ManifestAsksForAdministratorRights)
{
    std::vector<BYTE> manifest = Resource(1, RT_MANIFEST);
    std::string text(manifest.begin(), manifest.end());
    EXPECT_NE(text.find("level=\"requireAdministrator\""), std::string::npos);
    EXPECT_NE(text.find("uiAccess=\"false\""), std::string::npos);
    EXPECT_EQ(text.find("dependency"), std::string::npos);
}
