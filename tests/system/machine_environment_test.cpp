// The machine's environment against the user's. Under Wine the user's variables
// (HKCU\Environment) reach this test process's environment, which stands for them here;
// the machine's come from the prefix's registry, which a test may add to.
#include "system/system.h"
#include "tests/registration/registration_test_support.h"
#include "tests/support/machine_variable.h"

#include <gtest/gtest.h>

#include <map>

namespace {

std::wstring WindowsDirectory()
{
    wchar_t folder[MAX_PATH] = {};
    GetSystemWindowsDirectoryW(folder, MAX_PATH);
    return folder;
}

std::wstring MachineValue(const wchar_t* subkey, const wchar_t* name)
{
    wchar_t value[MAX_PATH] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return L"";
    RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    return value;
}

// The user's own values for names the machine has too, and one the machine lacks.
struct UsersVariables {
    std::wstring folder = MakeTestFolder(L"userenv");
    ScopedEnvironment windir{L"windir", folder.c_str()};
    ScopedEnvironment systemRoot{L"SystemRoot", folder.c_str()};
    ScopedEnvironment path{L"PATH", folder.c_str()};
    ScopedEnvironment temp{L"TEMP", folder.c_str()};
    ScopedEnvironment programFiles{L"ProgramFiles", folder.c_str()};
    ScopedEnvironment userOnly{L"ZEMA_USER_ONLY", folder.c_str()};
};

TEST(MachineEnvironment, ExpandsTheMachinesVariablesAndLeavesTheUsersUnexpanded)
{
    UsersVariables user;
    ScopedMachineVariable expandable(L"ZEMA_TEST_MACHINE", REG_EXPAND_SZ, L"%SystemRoot%\\zema");
    ScopedMachineVariable literal(L"ZEMA_TEST_LITERAL", REG_SZ, L"%SystemRoot%\\zema");
    ASSERT_TRUE(expandable.IsSet() && literal.IsSet());
    const std::wstring windows = WindowsDirectory();
    const std::wstring programFiles =
        MachineValue(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"ProgramFilesDir");
    ASSERT_FALSE(programFiles.empty());
    struct Case {
        const wchar_t* text;
        std::wstring expanded;
    } cases[] = {
        {L"%windir%\\ZemaCtl\\ZEnv.ocx", windows + L"\\ZemaCtl\\ZEnv.ocx"},
        {L"%SYSTEMROOT%\\a.ocx", windows + L"\\a.ocx"},
        {L"%SystemDrive%\\a.ocx", windows.substr(0, 2) + L"\\a.ocx"},
        {L"%TEMP%", windows + L"\\temp"},
        {L"%ProgramFiles%\\Zema\\a.ocx", programFiles + L"\\Zema\\a.ocx"},
        {L"%Path%", SystemDirectory() + L";" + windows},
        {L"%ZEMA_TEST_MACHINE%\\a.ocx", windows + L"\\zema\\a.ocx"},
        // REG_SZ values are taken as they are stored.
        {L"%ZEMA_TEST_LITERAL%", L"%SystemRoot%\\zema"},
        {L"%ZEMA_USER_ONLY%\\a.ocx", L"%ZEMA_USER_ONLY%\\a.ocx"},
        {L"C:\\100%\\a.ocx", L"C:\\100%\\a.ocx"},
        {L"%ZEMA_USER_ONLY%windir%", L"%ZEMA_USER_ONLY" + windows},
        {L"", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
        wchar_t out[1000] = L"x";
        EXPECT_TRUE(ExpandMachineVariables(c.text, out, 1000));
        EXPECT_EQ(out, c.expanded);
    }
    wchar_t small[8] = {};
    EXPECT_FALSE(ExpandMachineVariables(L"%windir%\\ZemaCtl", small, 8));
}

TEST(MachineEnvironment, TheBlockHoldsTheMachinesVariablesOnlySortedByName)
{
    UsersVariables user;
    static wchar_t block[32768];
    ASSERT_TRUE(BuildMachineEnvironment(block, 32768));
    std::vector<std::wstring> names;
    std::map<std::wstring, std::wstring> values;
    for (const wchar_t* entry = block; *entry; entry += wcslen(entry) + 1) {
        std::wstring text = entry;
        size_t equals = text.find(L'=');
        ASSERT_NE(equals, std::wstring::npos);
        std::wstring name = text.substr(0, equals);
        for (wchar_t& c : name) c = static_cast<wchar_t>(towupper(c));
        names.push_back(name);
        values[name] = text.substr(equals + 1);
    }
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end()) << "a name twice";
    EXPECT_EQ(values.count(L"ZEMA_USER_ONLY"), 0u);
    EXPECT_EQ(values[L"WINDIR"], WindowsDirectory());
    EXPECT_EQ(values[L"SYSTEMROOT"], WindowsDirectory());
    EXPECT_EQ(values[L"PATH"], SystemDirectory() + L";" + WindowsDirectory());
    EXPECT_EQ(values[L"TEMP"], WindowsDirectory() + L"\\temp");
    EXPECT_NE(values[L"PROGRAMFILES"], user.folder);
    for (const auto& variable : values) EXPECT_EQ(variable.second.find(user.folder), std::wstring::npos) << variable.first;

    wchar_t small[64] = {};
    EXPECT_FALSE(BuildMachineEnvironment(small, 64));
}

}  // namespace
