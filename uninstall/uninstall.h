#pragma once
// Control uninstallation: installed-control query and registry purge.
#include <windows.h>

// Refills ControlList with the family's ProgIDs; returns how many it added.
int QueryInstalledControls();
// Removes one control's registry entries and unregisters its server file.
void UninstallControl(const wchar_t* progId);
