// The regsvr32 runner against Wine's real cmd.exe and regsvr32.exe, with the fixture
// COM server as the control: each copy registers its own file name and writes a call
// record beside itself, so an exact path is proved by the fixture's behaviour.
#include "system/system.h"
#include "tests/registration/registration_test_support.h"

#include <gtest/gtest.h>

namespace {

const std::vector<std::wstring> UnregisterRegisterUnregister = {L"unregister ok", L"register ok",
                                                                L"unregister ok"};

// A copy of the recording interpreter in a fresh folder, named as asked: planted where
// an interpreter search would find it, it writes "<path>.log" if it is ever run.
struct Recorder {
    explicit Recorder(const std::wstring& tag, const std::wstring& name = L"recorder.exe")
        : folder(MakeTestFolder(tag)), path(folder + name)
    {
        CopyFileW((BinFolder() + L"command_recorder.exe").c_str(), path.c_str(), FALSE);
    }
    bool Ran() const { return FileExists(path + L".log"); }
    std::wstring folder;
    std::wstring path;
};

std::wstring Variable(const wchar_t* name)
{
    static wchar_t value[32767];
    value[0] = L'\0';
    GetEnvironmentVariableW(name, value, 32767);
    return value;
}

// The user's side of an elevated run sets COMSPEC and PATH and chooses the current folder;
// none of it may choose the interpreter. The real regsvr32 still runs the fixture, the
// interpreter's exit code comes back, and the interpreter starts in the system directory.
TEST(RegistrationRunner, OnlyTheSystemDirectorysCmdEverRuns)
{
    std::wstring folder = MakeTestFolder(L"planted");
    std::wstring empty = MakeTestFolder(L"empty");
    Recorder current(L"current", L"cmd.exe");
    Recorder searched(L"searched", L"cmd.exe");
    Recorder named(L"named");
    std::wstring originalPath = Variable(L"PATH");
    std::wstring searchPath = searched.folder + L";" + originalPath;
    const wchar_t* missing = L"C:\\no such folder\\cmd.exe";
    struct Case {
        const Recorder& planted;
        const wchar_t* comspec;
        const std::wstring& currentFolder;
        const std::wstring& path;
    } cases[] = {
        {current, missing, current.folder, originalPath},    // cmd.exe in the current folder
        {searched, nullptr, empty, searchPath},              // cmd.exe in a PATH folder
        {named, named.path.c_str(), empty, originalPath},    // COMSPEC naming a program
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.planted.path);
        ScopedEnvironment comspec(L"COMSPEC", c.comspec);
        ScopedEnvironment search(L"PATH", c.path.c_str());
        ScopedCurrentFolder currentFolder(c.currentFolder);
        std::wstring path = CopyFixture(folder, L"ZEMA.RunPlanted" + std::to_wstring(&c - cases) + L".ocx");
        FixtureIdentity id = FixtureIdentityFromFileName(path);
        RemoveFixtureKeys(id);

        EXPECT_TRUE(RegisterComponentFile(path.c_str()));
        EXPECT_TRUE(FixtureRegistered(id, path));
        EXPECT_TRUE(UnregisterComponentFile(path.c_str()));
        EXPECT_EQ(ReadLines(FixtureCallRecordPath(path)), UnregisterRegisterUnregister);
        EXPECT_EQ(RunCommandInterpreter(L"exit 7"), 7);
        std::wstring shown = folder + L"current" + std::to_wstring(&c - cases) + L".txt";
        EXPECT_EQ(RunCommandInterpreter((L"cd > \"" + shown + L"\"").c_str()), 0);
        std::vector<std::wstring> lines = ReadLines(shown);
        std::wstring started = lines.empty() ? L"" : lines[0].substr(0, lines[0].find(L'\r'));
        EXPECT_EQ(_wcsicmp(started.c_str(), SystemDirectory().c_str()), 0) << started;
        EXPECT_FALSE(c.planted.Ran());
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

// Each name holds characters the interpreter treats specially outside quotation marks;
// regsvr32 must still receive the exact path.
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
        L"ZEMA.Run a&b^c!d 组件 Ä (1).dll",
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

// Both operations take a name, never something for the interpreter to rewrite: it expands
// %NAME% even between quotation marks (regsvr32 would load another file), a quotation mark
// ends the quoted argument and lets the rest run as a command, a line break may end the
// command line. Each is refused before anything runs.
TEST(RegistrationRunner, RefusesAnyPathTheInterpreterWouldRewrite)
{
    std::wstring folder = MakeTestFolder(L"rewrite");
    std::wstring expandedTarget = CopyFixture(folder, L"ZEMA.RunExpanded.ocx");
    ScopedEnvironment variable(L"REGTEST_SERVER_FOLDER", folder.c_str());
    std::wstring literal = CopyFixture(folder, L"ZEMA.Pct%OS%.ocx");
    std::wstring osExpanded = CopyFixture(folder, L"ZEMA.Pct" + Variable(L"OS") + L".ocx");
    std::wstring marker = folder + L"marker.txt";
    const std::wstring hostile[] = {
        L"%REGTEST_SERVER_FOLDER%ZEMA.RunExpanded.ocx",
        literal,
        folder + L"none.ocx\" & type nul > \"" + marker + L"\" & rem ",
        folder + L"none.ocx\r\ntype nul > \"" + marker + L"\"",
        folder + L"none\".ocx",
    };
    for (const std::wstring& path : hostile) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(UnregisterComponentFile(path.c_str()));
        EXPECT_FALSE(RegisterComponentFile(path.c_str()));
    }
    for (const std::wstring& fixture : {expandedTarget, literal, osExpanded}) {
        EXPECT_FALSE(FileExists(FixtureCallRecordPath(fixture))) << fixture;
        EXPECT_FALSE(ClassesKeyExists(FixtureIdentityFromFileName(fixture).progId)) << fixture;
    }
    EXPECT_FALSE(FileExists(marker));
}

}  // namespace
