// The regsvr32 runner against Wine's real cmd.exe and regsvr32.exe, with the fixture
// COM server as the control; a recording stand-in interpreter shows exact command lines.
#include "registration/registration.h"
#include "tests/registration/registration_test_support.h"

#include <gtest/gtest.h>

namespace {

// A copy of the recording interpreter in a fresh folder, named as asked.
struct Recorder {
    explicit Recorder(const std::wstring& tag, const std::wstring& name = L"recorder.exe")
        : folder(MakeTestFolder(tag)), path(folder + name)
    {
        CopyFileW((BinFolder() + L"command_recorder.exe").c_str(), path.c_str(), FALSE);
    }
    std::vector<std::wstring> Lines() const { return ReadLines(path + L".log"); }
    std::wstring folder;
    std::wstring path;
};

std::wstring UnregisterLine(const std::wstring& path)
{
    return SystemDirectory() + L"\\regsvr32.exe /u /s \"" + path + L"\"";
}

std::wstring RegisterLine(const std::wstring& path)
{
    return SystemDirectory() + L"\\regsvr32.exe /s \"" + path + L"\"";
}

TEST(RegistrationRunner, ComposesTheExactCommandLines)
{
    Recorder recorder(L"lines");
    ScopedEnvironment comspec(L"COMSPEC", recorder.path.c_str());
    const std::wstring interpreter = L"\"" + recorder.path + L"\" /c ";
    const wchar_t* paths[] = {
        L"D:\\x.ocx",
        L"C:\\Program Files\\ctl dir\\a b.ocx",
        L"C:\\pkg (x86)\\ctl(1).dll",
        L"C:\\控件\\组件 Ä.ocx",
        L"C:\\a&b^c!d.ocx",
    };
    size_t expected = 0;
    for (const wchar_t* path : paths) {
        SCOPED_TRACE(path);
        EXPECT_TRUE(RegisterComponentFile(path));
        EXPECT_TRUE(UnregisterComponentFile(path));
        std::vector<std::wstring> lines = recorder.Lines();
        ASSERT_EQ(lines.size(), expected + 3);
        EXPECT_EQ(lines[expected], interpreter + UnregisterLine(path));
        EXPECT_EQ(lines[expected + 1], interpreter + RegisterLine(path));
        EXPECT_EQ(lines[expected + 2], interpreter + UnregisterLine(path));
        expected += 3;
    }
    // An empty server path is run like any other.
    EXPECT_TRUE(UnregisterComponentFile(L""));
    ASSERT_EQ(recorder.Lines().size(), expected + 1);
    EXPECT_EQ(recorder.Lines().back(), interpreter + UnregisterLine(L""));
}

TEST(RegistrationRunner, AnyNonzeroStatusIsFailureAndStopsBeforeRegistering)
{
    Recorder recorder(L"status");
    ScopedEnvironment comspec(L"COMSPEC", recorder.path.c_str());
    for (const wchar_t* code : {L"1", L"3", L"4", L"5", L"-1"}) {
        SCOPED_TRACE(code);
        ScopedEnvironment exit(L"RECORDER_EXIT", code);
        size_t before = recorder.Lines().size();
        EXPECT_FALSE(RegisterComponentFile(L"C:\\x.ocx"));
        EXPECT_FALSE(UnregisterComponentFile(L"C:\\x.ocx"));
        // Only the unregister command of each call ran.
        ASSERT_EQ(recorder.Lines().size(), before + 2);
        EXPECT_EQ(recorder.Lines().back(), L"\"" + recorder.path + L"\" /c " + UnregisterLine(L"C:\\x.ocx"));
    }
}

TEST(RegistrationRunner, PathsTooLongForTheCommandLineAreNeverRunCut)
{
    Recorder recorder(L"long");
    ScopedEnvironment comspec(L"COMSPEC", recorder.path.c_str());
    // The unregister line holds 499 characters: system directory, 21, the path, 1.
    size_t room = 477 - SystemDirectory().size();
    std::wstring fits = L"C:\\" + std::wstring(room - 7, L'a') + L".ocx";
    std::wstring tooLong = L"C:\\" + std::wstring(room - 6, L'a') + L".ocx";
    ASSERT_EQ(fits.size(), room);
    EXPECT_TRUE(UnregisterComponentFile(fits.c_str()));
    EXPECT_TRUE(RegisterComponentFile(fits.c_str()));
    EXPECT_EQ(recorder.Lines().size(), 3u);
    EXPECT_FALSE(UnregisterComponentFile(tooLong.c_str()));
    EXPECT_FALSE(RegisterComponentFile(tooLong.c_str()));
    EXPECT_EQ(recorder.Lines().size(), 3u);
}

// Each name holds characters the interpreter treats specially outside quotation marks;
// regsvr32 must still receive the exact path, which the fixture proves by registering
// its own file name and writing its call record beside itself.
TEST(RegistrationRunner, RegistersAndUnregistersTheRealFixtureUnderEveryName)
{
    std::wstring folder = MakeTestFolder(L"real (run) & co");
    const wchar_t* names[] = {
        L"ZEMA.RunPlain.ocx",
        L"ZEMA.Run Blank.dll",
        L"ZEMA.Run(Paren).ocx",
        L"ZEMA.Run&Amp.ocx",
        L"ZEMA.Run^Caret.ocx",
        L"ZEMA.Run!Bang!.ocx",
        L"ZEMA.Run控件Ü.ocx",
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
        EXPECT_EQ(ReadLines(FixtureCallRecordPath(path)),
                  (std::vector<std::wstring>{L"unregister ok", L"register ok", L"unregister ok"}));
        RemoveFixtureKeys(id);
    }
}

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

// The interpreter expands %NAME% even between quotation marks: such a name would make
// regsvr32 load a different file, so it is refused before anything runs.
TEST(RegistrationRunner, RefusesADroppedPathTheInterpreterWouldRewrite)
{
    std::wstring folder = MakeTestFolder(L"percent");
    std::wstring literal = CopyFixture(folder, L"ZEMA.Pct%OS%.ocx");
    wchar_t os[64] = {};
    ASSERT_GT(GetEnvironmentVariableW(L"OS", os, 64), 0u);
    std::wstring expanded = CopyFixture(folder, std::wstring(L"ZEMA.Pct") + os + L".ocx");
    EXPECT_FALSE(RegisterComponentFile(literal.c_str()));
    EXPECT_FALSE(FileExists(FixtureCallRecordPath(literal)));
    EXPECT_FALSE(FileExists(FixtureCallRecordPath(expanded)));
    EXPECT_FALSE(ClassesKeyExists(FixtureIdentityFromFileName(expanded).progId));
}

// A server path read from the registry may name %SystemRoot% and the like, which the
// interpreter expands; a quotation mark or a line break, which no file name holds, would
// end the quoted argument and is refused.
TEST(RegistrationRunner, UnregisteringExpandsVariablesButRefusesQuotes)
{
    std::wstring folder = MakeTestFolder(L"expand");
    std::wstring path = CopyFixture(folder, L"ZEMA.RunExpanded.ocx");
    ScopedEnvironment variable(L"REGTEST_SERVER_FOLDER", folder.c_str());
    EXPECT_TRUE(UnregisterComponentFile(L"%REGTEST_SERVER_FOLDER%ZEMA.RunExpanded.ocx"));
    EXPECT_EQ(ReadLines(FixtureCallRecordPath(path)), std::vector<std::wstring>{L"unregister ok"});

    Recorder recorder(L"quotes");
    ScopedEnvironment comspec(L"COMSPEC", recorder.path.c_str());
    for (const wchar_t* hostile : {L"C:\\x.ocx\" & echo \"", L"C:\\x.ocx\r\necho", L"C:\\x\".ocx"}) {
        EXPECT_FALSE(UnregisterComponentFile(hostile));
        EXPECT_FALSE(RegisterComponentFile(hostile));
    }
    EXPECT_TRUE(recorder.Lines().empty());
}

TEST(RegistrationRunner, FallsBackToCmdWhenComspecIsUnsetOrMissing)
{
    std::wstring folder = MakeTestFolder(L"fallback");
    std::wstring path = CopyFixture(folder, L"ZEMA.RunFallback.ocx");
    FixtureIdentity id = FixtureIdentityFromFileName(path);
    {
        ScopedEnvironment comspec(L"COMSPEC", L"C:\\no such folder\\cmd.exe");
        EXPECT_TRUE(RegisterComponentFile(path.c_str()));
    }
    {
        ScopedEnvironment comspec(L"COMSPEC", nullptr);
        EXPECT_TRUE(UnregisterComponentFile(path.c_str()));
    }
    EXPECT_EQ(ReadLines(FixtureCallRecordPath(path)),
              (std::vector<std::wstring>{L"unregister ok", L"register ok", L"unregister ok"}));
    RemoveFixtureKeys(id);
}

TEST(RegistrationRunner, LooksForCmdInTheCurrentFolderBeforePath)
{
    Recorder local(L"current", L"cmd.exe");
    ScopedEnvironment comspec(L"COMSPEC", nullptr);
    ScopedCurrentFolder current(local.folder);
    EXPECT_TRUE(UnregisterComponentFile(L"C:\\x.ocx"));
    ASSERT_EQ(local.Lines().size(), 1u);
    EXPECT_EQ(local.Lines()[0], L"\"" + local.path + L"\" /c " + UnregisterLine(L"C:\\x.ocx"));
}

TEST(RegistrationRunner, NoInterpreterAtAllGivesFalseAndRunsNothing)
{
    std::wstring folder = MakeTestFolder(L"nointerp");
    std::wstring path = CopyFixture(folder, L"ZEMA.RunNowhere.ocx");
    ScopedEnvironment comspec(L"COMSPEC", L"C:\\no such folder\\cmd.exe");
    ScopedEnvironment search(L"PATH", folder.c_str());
    ScopedCurrentFolder current(folder);
    EXPECT_EQ(RunCommandInterpreter(L"exit 0"), -1);
    EXPECT_FALSE(RegisterComponentFile(path.c_str()));
    EXPECT_FALSE(UnregisterComponentFile(path.c_str()));
    EXPECT_FALSE(FileExists(FixtureCallRecordPath(path)));
}

}  // namespace
