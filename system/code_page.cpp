// The one conversion of a path or key name to a code page that the program relies on.
#include "system/system.h"

// WC_ERR_INVALID_CHARS, which the headers declare for Vista and later only: a UTF-8
// system code page exists only on systems that have it.
constexpr DWORD RefuseInvalidCharacters = 0x80;

ExactConversion ExactConversionFor(UINT codePage)
{
    if (codePage == CP_ACP) codePage = GetACP();
    // For UTF-8 the platform takes no flag but the invalid-character one, and no
    // default-character report: either makes the conversion fail for every text.
    if (codePage == CP_UTF8) return {codePage, RefuseInvalidCharacters, false};
    return {codePage, WC_NO_BEST_FIT_CHARS, true};
}

bool ToSystemCodePageExactly(const wchar_t* text, char* out, int capacity, UINT codePage)
{
    ExactConversion conversion = ExactConversionFor(codePage);
    BOOL usedDefault = FALSE;
    if (WideCharToMultiByte(conversion.codePage, conversion.flags, text, -1, out, capacity, nullptr,
                            conversion.reportsDefault ? &usedDefault : nullptr) != 0 &&
        !usedDefault)
        return true;
    if (capacity > 0) out[0] = '\0';
    return false;
}
