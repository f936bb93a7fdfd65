#include "tests/support/gdi_census.h"

#include <windows.h>

int CountGdiObjects()
{
    GdiFlush();
    int live = 0;
    for (ULONG_PTR value = 1; value <= 0xFFFF; ++value)
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(value)) != 0) ++live;
    return live;
}
