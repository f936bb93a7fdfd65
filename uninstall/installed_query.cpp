#include "uninstall/uninstall.h"

// Entry points filled by the uninstall work.
int QueryInstalledControls()
{
    return 0;
}

void UninstallControl(const wchar_t*)
{
}
