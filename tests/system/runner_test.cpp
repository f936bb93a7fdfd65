// The regsvr32 runner against Wine's real regsvr32.exe, with the fixture
// COM server as the control: each copy registers its own file name and writes a call
// record beside itself, so an exact path is proved by the fixture's behaviour.
#include "system/system.h"
#include "tests/registration/registration_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const std::vector<std::wstring> UnregisterRegisterUnregister = {L"unregister ok", L"register ok",
                                                                L"unregister ok"};

// A copy of the recording program at `path`: planted where a program search would find
// it, it writes "<path>.log" if it is ever run.
std::wstring Plant(const std::wstring& path)
{
    CopyFileW((BinFolder() + L"command_recorder.exe").c_str(), path.c_str(), FALSE);
    return path;
}

std::wstring Variable(const wchar_t* name)
{
    static wchar_t value[32767];
    value[0] = L'\0';
    GetEnvironmentVariableW(name, value, 32767);
    return value;
}

std::wstring WindowsDirectory()
{
    wchar_t folder[MAX_PATH] = {};
    GetSystemWindowsDirectoryW(folder, MAX_PATH);
    return folder;
}

// The value of `name` among the "env NAME=value" lines of a call record, and whether it
// is there at all.
std::pair<bool, std::wstring> RecordedVariable(const std::vector<std::wstring>& record, const std::wstring& name)
{
    for (const std::wstring& line : record)
        if (line.size() > 5 + name.size() &&
            _wcsnicmp(line.c_str(), (L"env " + name + L"=").c_str(), 5 + name.size()) == 0)
            return {true, line.substr(5 + name.size())};
    return {false, L""};
}

// The user's side of an elevated run sets COMSPEC, PATH and windir (HKCU\Environment) and
// chooses the current folder; none of it may choose the program that runs or reach the
// regsvr32 that runs. The real regsvr32 runs the fixture, in the system directory, with
// the machine's environment.
TEST(RegistrationRunner, OnlyTheSystemDirectorysRegsvr32RunsAndWithTheMachinesEnvironment)
{
    std::wstring folder = MakeTestFolder(L"planted");
    std::wstring current = MakeTestFolder(L"current"), searched = MakeTestFolder(L"searched");
    const std::wstring planted[] = {Plant(current + L"regsvr32.exe"), Plant(current + L"cmd.exe"),
                                    Plant(searched + L"regsvr32.exe"), Plant(searched + L"cmd.exe"),
                                    Plant(folder + L"comspec.exe")};
    ScopedEnvironment comspec(L"COMSPEC", planted[4].c_str());
    ScopedEnvironment path(L"PATH", (searched + L";" + Variable(L"PATH")).c_str());
    ScopedEnvironment windir(L"windir", folder.c_str());
    ScopedEnvironment userOnly(L"ZEMA_USER_ONLY", L"the user's");
    ScopedCurrentFolder currentFolder(current);

    std::wstring server = CopyFixture(folder, L"ZEMA.RunPlanted+env.ocx");
    FixtureIdentity id = FixtureIdentityFromFileName(server);
    RemoveFixtureKeys(id);
    EXPECT_TRUE(RegisterComponentFile(server.c_str()));
    EXPECT_TRUE(FixtureRegistered(id, server));
    EXPECT_TRUE(UnregisterComponentFile(server.c_str()));
    RemoveFixtureKeys(id);

    std::vector<std::wstring> record = ReadLines(FixtureCallRecordPath(server));
    auto cwd = std::find_if(record.begin(), record.end(),
                            [](const std::wstring& line) { return line.compare(0, 4, L"cwd ") == 0; });
    ASSERT_NE(cwd, record.end());
    EXPECT_EQ(_wcsicmp(cwd->c_str() + 4, SystemDirectory().c_str()), 0) << *cwd;
    EXPECT_EQ(record.back(), L"unregister ok");
    EXPECT_NE(std::find(record.begin(), record.end(), L"register ok"), record.end());
    EXPECT_FALSE(RecordedVariable(record, L"ZEMA_USER_ONLY").first);
    EXPECT_EQ(RecordedVariable(record, L"PATH").second, SystemDirectory() + L";" + WindowsDirectory());
    EXPECT_EQ(RecordedVariable(record, L"windir").second, WindowsDirectory());
    EXPECT_EQ(RecordedVariable(record, L"SystemRoot").second, WindowsDirectory());
    for (const std::wstring& program : planted) EXPECT_FALSE(FileExists(program + L".log")) << "ran";
}

// A control may load a library of its own by bare name. The user's PATH would lead the
// search to the user's copy, loaded with administrator rights; the system's folders
// still serve.
TEST(RegistrationRunner, ALibraryLoadedByBareNameNeverComesFromTheUsersPath)
{
    std::wstring folder = MakeTestFolder(L"helper");
    std::wstring userFolder = MakeTestFolder(L"userpath");
    std::wstring planted = userFolder + L"ZemaRunHelper.dll";
    CopyFileW((BinFolder() + L"fixture_com_server.dll").c_str(), planted.c_str(), FALSE);
    ScopedEnvironment path(L"PATH", (userFolder + L";" + Variable(L"PATH")).c_str());
    struct Case {
        const wchar_t* name;
        std::wstring loaded;
    } cases[] = {
        {L"ZEMA.RunHelper+helper=ZemaRunHelper.ocx", L"helper none"},
        {L"ZEMA.RunSystemHelper+helper=version.ocx", L"helper " + SystemDirectory() + L"\\version.dll"},
    };
    // Under WOW64 the 32-bit regsvr32 names the system's 32-bit folder.
    wchar_t wow64[MAX_PATH] = {};
    if (GetSystemWow64DirectoryW(wow64, MAX_PATH)) cases[1].loaded = L"helper " + std::wstring(wow64) + L"\\version.dll";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::wstring server = CopyFixture(folder, c.name);
        FixtureIdentity id = FixtureIdentityFromFileName(server);
        RemoveFixtureKeys(id);
        EXPECT_TRUE(RegisterComponentFile(server.c_str()));
        EXPECT_TRUE(FixtureRegistered(id, server));
        std::vector<std::wstring> record = ReadLines(FixtureCallRecordPath(server));
        ASSERT_EQ(record.size(), 3u);
        EXPECT_EQ(_wcsicmp(record[1].c_str(), c.loaded.c_str()), 0) << record[1];
        RemoveFixtureKeys(id);
    }
}

// The unregister line holds 499 characters: system directory, 21, the path, 1. A path one
// character longer would lose its closing quotation mark if cut, two longer its last
// character too; both cut forms would name the real fixture at `over`, which never runs.
TEST(RegistrationRunner, PathsTooLongForTheCommandLineAreNeverRunCut)
{
    size_t room = 477 - SystemDirectory().size();
    std::wstring deep = MakeDeepFolder(MakeTestFolder(L"long"), room - 16);
    std::wstring fits = CopyFixture(deep, L"ZEMA.RunEdge.ocx");
    std::wstring over = CopyFixture(deep, L"ZEMA.RunEdge1.ocx");
    ASSERT_EQ(fits.size(), room);
    FixtureIdentity fitsId = FixtureIdentityFromFileName(fits);
    EXPECT_TRUE(RegisterComponentFile(fits.c_str()));
    EXPECT_TRUE(UnregisterComponentFile(fits.c_str()));
    EXPECT_EQ(ReadLines(FixtureCallRecordPath(fits)), UnregisterRegisterUnregister);
    RemoveFixtureKeys(fitsId);

    for (const std::wstring& tooLong : {over, over + L"x"}) {
        EXPECT_FALSE(UnregisterComponentFile(tooLong.c_str()));
        EXPECT_FALSE(RegisterComponentFile(tooLong.c_str()));
    }
    EXPECT_FALSE(FileExists(FixtureCallRecordPath(over)));
    EXPECT_FALSE(ClassesKeyExists(FixtureIdentityFromFileName(over).progId));
}

// Names with characters that a command interpreter would treat specially, expand ('%'
// even between quotation marks, '!' with delayed expansion) or split on: regsvr32 is
// given each path exactly.
TEST(RegistrationRunner, RegistersAndUnregistersTheRealFixtureUnderEveryName)
{
    std::wstring folder = MakeTestFolder(L"real (run) & co %OS%");
    const wchar_t* names[] = {
        L"ZEMA.RunPlain.ocx",
        L"ZEMA.Run Blank.dll",
        L"ZEMA.Run(Paren).ocx",
        L"ZEMA.Run&Amp.ocx",
        L"ZEMA.Run^Caret.ocx",
        L"ZEMA.Run!Bang!.ocx",
        L"ZEMA.Run!X!.ocx",
        L"ZEMA.Run%OS%.ocx",
        L"ZEMA.Run%%Two.ocx",
        L"ZEMA.Run控件Ü.ocx",
        L"ZEMA.Run a&b^c!d 组件 Ä (1) %PATH%.dll",
    };
    for (const wchar_t* name : names) {
        SCOPED_TRACE(name);
        std::wstring path = CopyFixture(folder, name);
        FixtureIdentity id = FixtureIdentityFromFileName(path);
        RemoveFixtureKeys(id);
        EXPECT_TRUE(RegisterComponentFile(path.c_str()));
        EXPECT_TRUE(FixtureRegistered(id, path));
        EXPECT_TRUE(UnregisterComponentFile(path.c_str()));
        EXPECT_FALSE(ClassesKeyExists(id.progId));
        EXPECT_FALSE(ClassesKeyExists(L"CLSID\\" + id.clsid));
        EXPECT_EQ(ReadLines(FixtureCallRecordPath(path)), UnregisterRegisterUnregister);
        RemoveFixtureKeys(id);
    }
}

// Any nonzero status is failure: regsvr32 gives 5 for a failing entry point and 3 for a
// file that is no COM server or does not exist.
TEST(RegistrationRunner, FailingUnregistrationMeansTheRegisterCommandNeverRuns)
{
    std::wstring folder = MakeTestFolder(L"failunreg");
    std::wstring path = CopyFixture(folder, L"ZEMA.RunStuck+failunreg.ocx");
    FixtureIdentity id = FixtureIdentityFromFileName(path);
    RemoveFixtureKeys(id);
    EXPECT_FALSE(RegisterComponentFile(path.c_str()));
    EXPECT_EQ(ReadLines(FixtureCallRecordPath(path)), std::vector<std::wstring>{L"unregister failed"});
    EXPECT_FALSE(ClassesKeyExists(id.progId));

    // A failing registration entry point, and a file that is no COM server at all.
    std::wstring failing = CopyFixture(folder, L"ZEMA.RunBroken+failreg.ocx");
    EXPECT_FALSE(RegisterComponentFile(failing.c_str()));
    EXPECT_EQ(ReadLines(FixtureCallRecordPath(failing)),
              (std::vector<std::wstring>{L"unregister ok", L"register failed"}));
    std::wstring text = folder + L"notes.ocx";
    WriteBytes(text, "not a library");
    EXPECT_FALSE(RegisterComponentFile(text.c_str()));
    EXPECT_FALSE(UnregisterComponentFile((folder + L"missing.ocx").c_str()));
}

// Both operations take a file's name as it is: a %NAME% is no reference (the file it
// would name never runs), and what cannot be one quoted argument, or names a folder, or
// (to the uninstall) a file relative to wherever the program was started, runs nothing.
TEST(RegistrationRunner, RunsNothingButTheFileNamed)
{
    std::wstring folder = MakeTestFolder(L"rewrite");
    std::wstring expandedTarget = CopyFixture(folder, L"ZEMA.RunExpanded.ocx");
    ScopedEnvironment variable(L"REGTEST_SERVER_FOLDER", folder.c_str());
    std::wstring marker = folder + L"marker.txt";
    const std::wstring hostile[] = {
        L"%REGTEST_SERVER_FOLDER%ZEMA.RunExpanded.ocx",
        folder + L"none.ocx\" & type nul > \"" + marker + L"\" & rem ",
        folder + L"none.ocx\r\ntype nul > \"" + marker + L"\"",
        folder + L"none\".ocx",
        folder + L"ZEMA.RunExpanded.ocx\\",
        L"",
    };
    for (const std::wstring& path : hostile) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(UnregisterComponentFile(path.c_str()));
        EXPECT_FALSE(RegisterComponentFile(path.c_str()));
    }
    ScopedCurrentFolder current(folder);
    EXPECT_FALSE(UnregisterComponentFile(L"ZEMA.RunExpanded.ocx"));
    EXPECT_FALSE(UnregisterComponentFile(L"..\\ZEMA.RunExpanded.ocx"));
    EXPECT_FALSE(FileExists(FixtureCallRecordPath(expandedTarget)));
    EXPECT_FALSE(ClassesKeyExists(FixtureIdentityFromFileName(expandedTarget).progId));
    EXPECT_FALSE(FileExists(marker));
}

}  // namespace
