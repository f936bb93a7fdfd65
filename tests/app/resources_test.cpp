// The resources of the built program: icon images, title-bar bitmaps, manifest, version.
#include "res/app_version.h"
#include "res/resource.h"
#include "tests/support/program_path.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cwchar>
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

TEST(ProgramVersion, VersionResourceNamesTheProgramAndCarriesTheProjectVersion)
{
    std::wstring path = ProgramPath();
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u) << "no version resource, error " << GetLastError();
    std::vector<BYTE> data(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, data.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    const DWORD high = MAKELONG(APP_VERSION_MINOR, APP_VERSION_MAJOR), low = MAKELONG(0, APP_VERSION_PATCH);
    EXPECT_EQ(fixed->dwFileVersionMS, high);
    EXPECT_EQ(fixed->dwFileVersionLS, low);
    EXPECT_EQ(fixed->dwProductVersionMS, high);
    EXPECT_EQ(fixed->dwProductVersionLS, low);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    // The strings are read through the language and code page that the resource announces.
    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, 2 * sizeof(WORD));
    wchar_t table[64];
    swprintf(table, 64, L"\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]);

    wchar_t version[32];
    swprintf(version, 32, L"%d.%d.%d", APP_VERSION_MAJOR, APP_VERSION_MINOR, APP_VERSION_PATCH);
    struct Entry {
        const wchar_t* name;
        const wchar_t* value;
    } entries[] = {
        {L"FileDescription", L"Register and uninstall"},
        {L"ProductName", L"Register and uninstall"},
        {L"OriginalFilename", L"RegisterAndUninstall.exe"},
        {L"FileVersion", version},
        {L"ProductVersion", version},
    };
    for (const Entry& e : entries) {
        SCOPED_TRACE(testing::Message() << e.name);
        wchar_t* value = nullptr;
        UINT characters = 0;
        ASSERT_TRUE(VerQueryValueW(data.data(), (std::wstring(table) + e.name).c_str(),
                                   reinterpret_cast<void**>(&value), &characters));
        EXPECT_STREQ(value, e.value);
    }
}
