#pragma once
// The real main window, created in the test process as the program creates it.
#include "app/app.h"

#include <gtest/gtest.h>

#include <string>

// Dispatches every message waiting for this thread (sent ones included).
void PumpMessages();
// Pumps messages for about `milliseconds`, so that the X server has drawn what was asked.
void PumpFor(int milliseconds);

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Shows a page the way a user does: a click on its tab, then the repaint.
    void ShowPage(int page);
    // Sends a left click at (x, y) of the title bar's client area.
    void ClickTitleBar(int x, int y);
    // Selects the ControlList entry that is exactly `entry` and sends what the list sends
    // on a double-click.
    void DoubleClickOn(const std::wstring& entry);

    HWND window = nullptr;
    HWND titleBar = nullptr;
};
