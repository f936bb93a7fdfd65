// The one conversion of a path to the system code page that the program relies on.
#include "system/system.h"

bool ToSystemCodePageExactly(const wchar_t* text, char* out, int capacity)
{
    // A system code page of UTF-8 has an exact form for every character, and takes neither
    // the best-fit flag nor the default-character report.
    bool utf8 = GetACP() == CP_UTF8;
    BOOL usedDefault = FALSE;
    if (WideCharToMultiByte(CP_ACP, utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS, text, -1, out, capacity,
                            nullptr, utf8 ? nullptr : &usedDefault) != 0 &&
        !usedDefault)
        return true;
    if (capacity > 0) out[0] = '\0';
    return false;
}
