#pragma once
// The main window on its Uninstall page, with no family keys left by earlier runs, and
// unrelated sentinel keys that must come through the test unchanged (RegistryGuard).
#include "tests/support/main_window_fixture.h"
#include "tests/uninstall/registry_fixture.h"

class UninstallPageTest : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        RemoveFamilyLeftovers();
        guard.Begin();
        ShowPage(2);
    }
    void TearDown() override
    {
        guard.End();
        MainWindowTest::TearDown();
    }

    RegistryGuard guard;
};
