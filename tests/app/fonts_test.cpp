// The Chinese texts are drawn with real glyphs, in a Kai and a Song face.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

namespace {
HFONT MakeFont(const wchar_t* face, int height)
{
    LOGFONTW font = {};
    font.lfHeight = height;
    font.lfCharSet = GB2312_CHARSET;
    lstrcpynW(font.lfFaceName, face, LF_FACESIZE);
    return CreateFontIndirectW(&font);
}

// The text drawn black on white, as a bitmap of 0/1 pixels.
std::vector<bool> Render(HFONT font, const wchar_t* text)
{
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 120, 30);
    ReleaseDC(nullptr, screen);
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    HGDIOBJ oldFont = SelectObject(dc, font);
    RECT all = {0, 0, 120, 30};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    TextOutW(dc, 0, 0, text, lstrlenW(text));
    std::vector<bool> ink;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 120; ++x) ink.push_back(GetPixel(dc, x, y) != RGB(255, 255, 255));
    SelectObject(dc, oldFont);
    SelectObject(dc, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return ink;
}
}  // namespace

TEST(ChineseFaces, BothFacesHaveGlyphsForTheTexts)
{
    const wchar_t* texts[] = {L"泽玛科技", L"注册卸载", L"使用帮助拖入文件路径处理信息", L"查询安装全部"};
    for (const wchar_t* face : {L"楷体", L"宋体"}) {
        HFONT font = MakeFont(face, 20);
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, font);
        for (const wchar_t* text : texts) {
            std::vector<WORD> glyphs(lstrlenW(text));
            GetGlyphIndicesW(dc, text, lstrlenW(text), glyphs.data(), GGI_MARK_NONEXISTING_GLYPHS);
            for (size_t i = 0; i < glyphs.size(); ++i)
                EXPECT_NE(glyphs[i], 0xFFFF) << "no glyph in the face for character " << i;
        }
        SelectObject(dc, old);
        DeleteDC(dc);
        DeleteObject(font);
    }
}

TEST(ChineseFaces, KaiAndSongAreDifferentFaces)
{
    HFONT kai = MakeFont(L"楷体", 20);
    HFONT song = MakeFont(L"宋体", 20);
    std::vector<bool> inKai = Render(kai, L"卸载");
    std::vector<bool> inSong = Render(song, L"卸载");
    std::vector<bool> otherInKai = Render(kai, L"注册");
    EXPECT_NE(inKai, inSong);
    EXPECT_NE(inKai, otherInKai) << "different characters look alike: boxes?";
    DeleteObject(kai);
    DeleteObject(song);
}
