#include "app/app.h"

void DrawLabelText(HDC dc, int x, int y, const wchar_t* text)
{
    SetBkMode(dc, TRANSPARENT);
    HFONT labelFont = CreateFontW(20, 10, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET,
                                  OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS, PROOF_QUALITY, 0x71, L"楷体");
    HGDIOBJ previousFont = SelectObject(dc, labelFont);
    SetTextColor(dc, RGB(255, 255, 255));
    TextOutW(dc, x, y, text, lstrlenW(text));
    SelectObject(dc, previousFont);
    DeleteObject(labelFont);
}
