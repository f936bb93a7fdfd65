// The one exact conversion that cabinet paths and the TypeLib purge's root names go
// through, over the code pages the program meets: 1252, the users' 936 and the UTF-8
// system code page of newer Windows. Each is asked of the platform directly, whatever the
// code page this pass runs in.
#include "system/system.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ExactConversion, FollowsThePlatformsRulesForEachCodePage)
{
    // WideCharToMultiByte takes no flag but WC_ERR_INVALID_CHARS and no default-character
    // report for UTF-8, and fails every conversion otherwise; Wine does not, Windows does.
    const DWORD RefuseInvalidCharacters = 0x80;
    struct Case {
        UINT codePage;
        DWORD flags;
        bool reportsDefault;
    } cases[] = {
        {1252, WC_NO_BEST_FIT_CHARS, true},
        {936, WC_NO_BEST_FIT_CHARS, true},
        {CP_UTF8, RefuseInvalidCharacters, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.codePage);
        ExactConversion conversion = ExactConversionFor(c.codePage);
        EXPECT_EQ(conversion.codePage, c.codePage);
        EXPECT_EQ(conversion.flags, c.flags);
        EXPECT_EQ(conversion.reportsDefault, c.reportsDefault);
    }
    ExactConversion system = ExactConversionFor(CP_ACP);
    ExactConversion actual = ExactConversionFor(GetACP());
    EXPECT_EQ(system.codePage, GetACP());
    EXPECT_EQ(system.flags, actual.flags);
    EXPECT_EQ(system.reportsDefault, actual.reportsDefault);
}

TEST(ExactConversion, WritesEachCharacterExactlyOrNothing)
{
    struct Case {
        UINT codePage;
        const wchar_t* text;
        const char* bytes;  // nullptr: refused
    } cases[] = {
        {1252, L"C:/ZemaActiveX/1765321234/", "C:/ZemaActiveX/1765321234/"},
        {1252, L"caf\u00E9.cab", "caf\xE9.cab"},
        // A best-fit look-alike would name another file: 'A' for 'Ā'.
        {1252, L"\u0100.cab", nullptr},
        {1252, L"控件.cab", nullptr},
        {936, L"控件.cab", "\xBF\xD8\xBC\xFE.cab"},
        // A trail byte that is a backslash.
        {936, L"乗\\嘰", "\x81\x5C\\\x87\x5C"},
        {936, L"\uD55C.cab", nullptr},
        {CP_UTF8, L"控件.cab", "\xE6\x8E\xA7\xE4\xBB\xB6.cab"},
        {CP_UTF8, L"\u0100\uD55C", "\xC4\x80\xED\x95\x9C"},
        {CP_UTF8, L"\U0001F600", "\xF0\x9F\x98\x80"},
        // A lone surrogate has no form in UTF-8.
        {CP_UTF8, L"a\xD800.cab", nullptr},
        {CP_UTF8, L"a\xDC00", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.codePage << " " << testing::PrintToString(std::wstring(c.text)));
        char out[64];
        memset(out, 'x', sizeof out);
        bool converted = ToSystemCodePageExactly(c.text, out, sizeof out, c.codePage);
        EXPECT_EQ(converted, c.bytes != nullptr);
        EXPECT_EQ(std::string(out), c.bytes ? c.bytes : "");
    }
    // A result that does not fit is refused whole, never cut.
    for (UINT codePage : {1252u, 936u, static_cast<UINT>(CP_UTF8)}) {
        char out[4];
        memset(out, 'x', sizeof out);
        EXPECT_FALSE(ToSystemCodePageExactly(L"abcd", out, 4, codePage));
        EXPECT_EQ(out[0], '\0');
        EXPECT_TRUE(ToSystemCodePageExactly(L"abc", out, 4, codePage));
    }
}

}  // namespace
