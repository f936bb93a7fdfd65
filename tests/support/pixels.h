#pragma once
// What the screen shows: grabs of the X display through the screen device context.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct Capture {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;  // 0x00RRGGBB, top row first
    COLORREF At(int x, int y) const;
    // Writes a 24-bit BMP, for a person to look at.
    void Save(const std::wstring& path) const;
};

// Grabs `area` of the screen (screen coordinates).
Capture CaptureScreen(const RECT& area);
// Grabs the client area of `window` as it is on the screen.
Capture CaptureClient(HWND window);
