// Paints and owner draws release every drawing object they make.
#include "tests/support/gdi_census.h"
#include "tests/support/main_window_fixture.h"

using DrawingObjects = MainWindowTest;

TEST_F(DrawingObjects, RepeatedPaintsAndDrawsHoldNoMoreObjects)
{
    SendMessageW(ControlList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"ZEMA.Example"));
    auto repaintEverything = [this] {
        // Ends on the Uninstall page: hidden buttons are not drawn.
        for (int page : {1, 2}) {
            ShowPage(page);
            RedrawWindow(window, nullptr, nullptr,
                         RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        }
        for (HWND button : {QueryButton, UninstallAllButton, CloseButton, MinimizeButton}) {
            SendMessageW(button, BM_SETSTATE, TRUE, 0);
            UpdateWindow(button);
            SendMessageW(button, BM_SETSTATE, FALSE, 0);
            UpdateWindow(button);
        }
        PumpMessages();
    };
    // A first round lets the platform make what it keeps for good (caches, stock items).
    repaintEverything();
    int before = CountGdiObjects();
    ASSERT_GT(before, 0) << "the census sees no objects at all";
    for (int round = 0; round < 15; ++round) repaintEverything();
    EXPECT_EQ(CountGdiObjects(), before);
}

TEST_F(DrawingObjects, LabelPainterRestoresTheFontOfTheDeviceContext)
{
    HDC dc = GetDC(window);
    HGDIOBJ font = GetCurrentObject(dc, OBJ_FONT);
    int before = CountGdiObjects();
    for (int i = 0; i < 50; ++i) DrawLabelText(dc, 90, 100, L"使用帮助:");
    EXPECT_EQ(GetCurrentObject(dc, OBJ_FONT), font);
    EXPECT_EQ(CountGdiObjects(), before);
    ReleaseDC(window, dc);
}

TEST_F(DrawingObjects, CensusSeesALeakedFont)
{
    // The census itself must notice one object more.
    int before = CountGdiObjects();
    HFONT leaked = CreateFontW(20, 10, 0, 0, FW_NORMAL, 0, 0, 0, GB2312_CHARSET, 0, 0, 0, 0, L"楷体");
    EXPECT_EQ(CountGdiObjects(), before + 1);
    DeleteObject(leaked);
    EXPECT_EQ(CountGdiObjects(), before);
}
