// Page switching through the title bar's tabs, and its hit areas.
#include "tests/support/main_window_fixture.h"

namespace {
// Stands between the title bar and the main window: records the title bar's
// request to move the window instead of entering the platform's move loop.
WNDPROC OriginalMainProc;
int MoveRequests;

LRESULT CALLBACK RecordMoveRequests(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCLBUTTONDOWN && wParam == HTCAPTION) {
        ++MoveRequests;
        return 0;
    }
    return CallWindowProcW(OriginalMainProc, window, message, wParam, lParam);
}

struct PageControls {
    bool registerShown;
    bool uninstallShown;
};

PageControls Visible()
{
    bool registerShown = IsWindowVisible(PathEdit) && IsWindowVisible(InfoEdit);
    bool registerHidden = !IsWindowVisible(PathEdit) && !IsWindowVisible(InfoEdit);
    bool uninstallShown = IsWindowVisible(ControlList) && IsWindowVisible(QueryButton) &&
                          IsWindowVisible(UninstallAllButton);
    bool uninstallHidden = !IsWindowVisible(ControlList) && !IsWindowVisible(QueryButton) &&
                           !IsWindowVisible(UninstallAllButton);
    EXPECT_TRUE(registerShown || registerHidden) << "Register controls half shown";
    EXPECT_TRUE(uninstallShown || uninstallHidden) << "Uninstall controls half shown";
    return {registerShown, uninstallShown};
}
}  // namespace

class Pages : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        MoveRequests = 0;
        OriginalMainProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
            window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordMoveRequests)));
    }
};

TEST_F(Pages, FirstPaintShowsTheRegisterPageAndTabsSwitchBackAndForth)
{
    EXPECT_EQ(ActivePage, 1);
    PageControls start = Visible();
    EXPECT_TRUE(start.registerShown);
    EXPECT_FALSE(start.uninstallShown);

    ShowPage(2);
    EXPECT_EQ(ActivePage, 2);
    PageControls uninstall = Visible();
    EXPECT_FALSE(uninstall.registerShown);
    EXPECT_TRUE(uninstall.uninstallShown);

    ShowPage(1);
    EXPECT_EQ(ActivePage, 1);
    PageControls back = Visible();
    EXPECT_TRUE(back.registerShown);
    EXPECT_FALSE(back.uninstallShown);
}

TEST_F(Pages, TabClickRepaintsTheTabStripAndThePageArea)
{
    ValidateRect(titleBar, nullptr);
    ValidateRect(window, nullptr);
    ClickTitleBar(120, 60);
    RECT tabs, page;
    ASSERT_TRUE(GetUpdateRect(titleBar, &tabs, FALSE));
    EXPECT_EQ(tabs.top, 30);
    EXPECT_EQ(tabs.bottom, 85);
    EXPECT_EQ(tabs.right, 698);
    ASSERT_TRUE(GetUpdateRect(window, &page, FALSE));
    EXPECT_EQ(page.top, 80);
    EXPECT_EQ(page.bottom, 498);
}

TEST_F(Pages, HitAreasDecideThePageAndWhetherTheWindowMoves)
{
    struct Case {
        int x, y;
        int pageBefore, pageAfter;
        bool moves;
    } cases[] = {
        {10, 40, 2, 1, true},     // Register tab, top-left corner of its hit area
        {84, 90, 2, 1, true},     // last column of the Register tab still drags
        {40, 84, 2, 1, true},     // last row of the title bar belongs to the tab
        {40, 39, 2, 2, true},     // above the tab: drag only
        {85, 40, 1, 2, false},    // shared column: ends on the Uninstall page, no drag
        {85, 39, 1, 1, false},    // shared column above the tabs: nothing
        {86, 60, 1, 2, false},
        {160, 90, 1, 2, false},   // last column of the Uninstall tab
        {120, 39, 1, 1, false},   // above the Uninstall tab: nothing
        {120, 0, 2, 2, false},
        {9, 60, 2, 2, true},      // left of the tabs: drag only
        {0, 0, 1, 1, true},
        {161, 60, 1, 1, true},    // right of the tabs: drag only
        {400, 20, 2, 2, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "click at (" << c.x << ", " << c.y << ")");
        ActivePage = c.pageBefore;
        MoveRequests = 0;
        ClickTitleBar(c.x, c.y);
        EXPECT_EQ(ActivePage, c.pageAfter);
        EXPECT_EQ(MoveRequests, c.moves ? 1 : 0);
    }
}
