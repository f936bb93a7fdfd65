// What the window shows: the colours of the title bar, the tabs, the page and
// the buttons, read back from the screen and from owner draws into a bitmap.
#include "tests/support/main_window_fixture.h"
#include "tests/support/pixels.h"

namespace {
constexpr COLORREF Page = RGB(100, 3, 6);
constexpr COLORREF Bar = RGB(126, 3, 6);
constexpr COLORREF White = RGB(255, 255, 255);
constexpr COLORREF Black = RGB(0, 0, 0);

int CountColour(const Capture& capture, const RECT& area, COLORREF colour)
{
    int count = 0;
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x)
            if (capture.At(x, y) == colour) ++count;
    return count;
}

// Pixels of white text, smoothed edges included.
int CountLight(const Capture& capture, const RECT& area)
{
    int count = 0;
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x) {
            COLORREF c = capture.At(x, y);
            if (GetRValue(c) >= 200 && GetGValue(c) >= 200 && GetBValue(c) >= 200) ++count;
        }
    return count;
}

std::wstring ShotPath(const wchar_t* name)
{
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name;
}
}  // namespace

class Pixels : public MainWindowTest {
protected:
    Capture Grab(const wchar_t* name)
    {
        PumpFor(300);
        Capture capture = CaptureClient(window);
        capture.Save(ShotPath(name));
        return capture;
    }
};

TEST_F(Pixels, RegisterPageColoursAndTexts)
{
    Capture shot = Grab(L"register-page.bmp");
    EXPECT_EQ(shot.At(300, 20), Bar);            // title bar background
    EXPECT_EQ(shot.At(690, 80), Bar);
    EXPECT_EQ(shot.At(650, 450), Page);          // page background
    EXPECT_EQ(shot.At(20, 300), Page);
    for (int y = 41; y <= 84; ++y) EXPECT_EQ(shot.At(12, y), Page) << "Register tab row " << y;
    EXPECT_EQ(shot.At(12, 40), Bar);             // the face starts at row 41
    EXPECT_EQ(shot.At(9, 60), Bar);
    EXPECT_EQ(shot.At(85, 60), Bar);             // the face ends before column 85
    EXPECT_EQ(shot.At(155, 50), Bar);            // inactive Uninstall tab, beside its label
    EXPECT_GT(CountLight(shot, {5, 5, 90, 27}), 30) << "company caption";
    EXPECT_GT(CountLight(shot, {29, 54, 70, 76}), 20) << "注册 label";
    EXPECT_GT(CountLight(shot, {105, 54, 150, 76}), 20) << "卸载 label";
    EXPECT_GT(CountLight(shot, {90, 100, 180, 122}), 30) << "usage label";
    EXPECT_GT(CountLight(shot, {90, 220, 230, 242}), 30) << "information label";
    EXPECT_EQ(CountLight(shot, {610, 100, 698, 498}), 0);
    // The edit controls keep the platform's window background.
    EXPECT_NE(shot.At(300, 410), Page);
}

TEST_F(Pixels, UninstallPageColours)
{
    ShowPage(2);
    Capture shot = Grab(L"uninstall-page.bmp");
    for (int y = 41; y <= 84; ++y) EXPECT_EQ(shot.At(88, y), Page) << "Uninstall tab row " << y;
    EXPECT_EQ(shot.At(86, 41), Page);
    EXPECT_EQ(shot.At(85, 60), Bar);             // the face starts at column 86
    EXPECT_EQ(shot.At(88, 40), Bar);
    EXPECT_EQ(shot.At(160, 60), Bar);
    EXPECT_EQ(shot.At(12, 60), Bar);             // inactive Register tab
    EXPECT_EQ(shot.At(100, 300), White);         // list background
    EXPECT_EQ(shot.At(505, 225), Page);          // button faces, normal
    EXPECT_EQ(shot.At(595, 335), Page);
    EXPECT_GT(CountLight(shot, {502, 222, 598, 268}), 20) << "查询安装 caption";
    EXPECT_GT(CountLight(shot, {502, 292, 598, 338}), 20) << "卸载全部 caption";
    EXPECT_EQ(shot.At(300, 190), Page);          // no PathEdit on this page
}

TEST_F(Pixels, HeldButtonShowsThePressedFace)
{
    ShowPage(2);
    SendMessageW(QueryButton, BM_SETSTATE, TRUE, 0);
    Capture held = Grab(L"button-held.bmp");
    EXPECT_EQ(held.At(505, 225), Bar);
    EXPECT_EQ(held.At(595, 265), Bar);
    EXPECT_EQ(held.At(505, 295), Page);          // the other button stays normal
    EXPECT_GT(CountLight(held, {502, 222, 598, 268}), 20);

    SendMessageW(QueryButton, BM_SETSTATE, FALSE, 0);
    Capture released = Grab(L"button-released.bmp");
    EXPECT_EQ(released.At(505, 225), Page);
}

TEST_F(Pixels, OwnerDrawFaceFollowsStateAndAction)
{
    // Draws into a bitmap pre-filled with green, so untouched pixels show.
    struct Case {
        const char* name;
        UINT type;
        UINT action;
        UINT state;
        HWND button;
        COLORREF face;
    } cases[] = {
        {"whole, normal", ODT_BUTTON, ODA_DRAWENTIRE, 0, QueryButton, Page},
        {"whole, selected", ODT_BUTTON, ODA_DRAWENTIRE, ODS_SELECTED, QueryButton, Bar},
        {"select, selected", ODT_BUTTON, ODA_SELECT, ODS_SELECTED, UninstallAllButton, Bar},
        {"select, released", ODT_BUTTON, ODA_SELECT, 0, UninstallAllButton, Page},
        {"focus only while held", ODT_BUTTON, ODA_FOCUS, ODS_SELECTED | ODS_FOCUS, QueryButton,
         Page},
        {"not a button", ODT_LISTBOX, ODA_DRAWENTIRE, ODS_SELECTED, QueryButton,
         RGB(0, 255, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HDC screen = GetDC(nullptr);
        HDC dc = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, 100, 50);
        ReleaseDC(nullptr, screen);
        HGDIOBJ previous = SelectObject(dc, bitmap);
        RECT all = {0, 0, 100, 50};
        HBRUSH green = CreateSolidBrush(RGB(0, 255, 0));
        FillRect(dc, &all, green);
        DeleteObject(green);

        DRAWITEMSTRUCT item = {};
        item.CtlType = c.type;
        item.itemAction = c.action;
        item.itemState = c.state;
        item.hwndItem = c.button;
        item.hDC = dc;
        item.rcItem = all;
        SendMessageW(window, WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&item));

        EXPECT_EQ(GetPixel(dc, 1, 1), c.face);
        EXPECT_EQ(GetPixel(dc, 98, 48), c.face);
        EXPECT_EQ(GetPixel(dc, 0, 0), RGB(0, 255, 0)) << "left and top lines stay untouched";
        EXPECT_EQ(GetPixel(dc, 50, 0), RGB(0, 255, 0));
        EXPECT_EQ(GetPixel(dc, 0, 25), RGB(0, 255, 0));
        int white = 0;
        for (int y = 0; y < 50; ++y)
            for (int x = 0; x < 100; ++x) {
                COLORREF p = GetPixel(dc, x, y);
                white += GetRValue(p) >= 200 && GetGValue(p) >= 200 && GetBValue(p) >= 200;
            }
        if (c.type == ODT_BUTTON) {
            EXPECT_GT(white, 20) << "white caption";
        } else {
            EXPECT_EQ(white, 0);
        }
        SelectObject(dc, previous);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
}

TEST_F(Pixels, CloseAndMinimiseGlyphsTurnBlackWhileHeld)
{
    struct Case {
        const char* name;
        HWND button;
        POINT glyph;  // a pixel of the glyph in the 16 x 16 button
    } cases[] = {{"close", CloseButton, {7, 7}}, {"minimise", MinimizeButton, {7, 10}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool held : {false, true}) {
            SendMessageW(c.button, BM_SETSTATE, held, 0);
            PumpFor(200);
            Capture shot = CaptureClient(c.button);
            ASSERT_EQ(shot.width, 16);
            EXPECT_EQ(shot.At(0, 0), Bar);
            EXPECT_EQ(shot.At(15, 0), Bar);
            EXPECT_EQ(shot.At(c.glyph.x, c.glyph.y), held ? Black : White);
            RECT all = {0, 0, 16, 16};
            EXPECT_EQ(CountColour(shot, all, held ? White : Black), 0);
            EXPECT_GT(CountColour(shot, all, held ? Black : White), 10);
        }
        SendMessageW(c.button, BM_SETSTATE, FALSE, 0);
    }
}
