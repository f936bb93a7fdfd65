#pragma once
// Files, folders, registry and environment helpers of the registration tests.
#include "registration/registration.h"
#include "system/system.h"
#include "tests/fixtures/fixture_identity.h"
#include "tests/support/program_path.h"

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

// A new empty folder below the temporary folder, ending in "\"; `tag` names the test.
std::wstring MakeTestFolder(const std::wstring& tag);
// Creates folders below `folder` so that the returned path, ending in "\", has exactly
// `length` characters (each level short enough for the file system).
std::wstring MakeDeepFolder(const std::wstring& folder, size_t length);
// Copies the fixture COM server to folder + name and returns the copy's path.
std::wstring CopyFixture(const std::wstring& folder, const std::wstring& name);
// The lines of a text file (UTF-8), or none when it does not exist.
std::vector<std::wstring> ReadLines(const std::wstring& path);
std::string ReadBytes(const std::wstring& path);
void WriteBytes(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);
std::wstring SystemDirectory();

// The program's base folder, "<system drive>:\ZemaActiveX\".
std::wstring ProgramBaseFolder();
// Forgets the identity recorded for the program's folder `folder`: whatever is at that
// name is then someone else's to the program, which moves it aside.
void ForgetProtectedFolder(const std::wstring& folder);
// What the program moved aside from `folder` ("<folder>-moved-..."), full paths, sorted.
std::vector<std::wstring> MovedAside(const std::wstring& folder);
// Deletes a folder with everything below it; a link inside is left, and its folder with it.
void RemoveFolderTree(const std::wstring& folder);

// The program's folder as a user made it before the program's first run, empty: what was
// there goes, and is no longer recorded as the program's. The program then moves the
// user's folder aside and makes its own; what it moved aside meanwhile is deleted at the
// end of the scope.
class UsersBaseFolder {
public:
    UsersBaseFolder();
    ~UsersBaseFolder();
    // The folder the program moved aside, ending in "\"; empty when it moved nothing.
    std::wstring MovedFolder() const;

private:
    std::vector<std::wstring> asideBefore_;
};

// Below HKEY_CLASSES_ROOT, as this 32-bit process sees it.
bool ClassesKeyExists(const std::wstring& path);
std::wstring ClassesDefault(const std::wstring& path);
// Removes whatever a copy of the fixture named by `id` may have registered.
void RemoveFixtureKeys(const FixtureIdentity& id);
// True when every key the fixture registers for `id` exists, with its server at `path`.
bool FixtureRegistered(const FixtureIdentity& id, const std::wstring& path);

// Sets (or, with nullptr, removes) an environment variable for the scope's lifetime.
class ScopedEnvironment {
public:
    ScopedEnvironment(const wchar_t* name, const wchar_t* value);
    ~ScopedEnvironment();

private:
    std::wstring name_;
    std::wstring old_;
    bool hadOld_;
};

// Makes `folder` the current folder for the scope's lifetime.
class ScopedCurrentFolder {
public:
    explicit ScopedCurrentFolder(const std::wstring& folder);
    ~ScopedCurrentFolder();

private:
    std::wstring old_;
};

// A WM_DROPFILES handle carrying `paths` in this order, as the shell builds it.
HDROP MakeDrop(const std::vector<std::wstring>& paths);
std::wstring WindowText(HWND window);
// Waits until no extraction folder exists for the current second, so that this test's
// cabinets do not share a folder with an earlier test's.
void WaitForFreshExtractionSecond();
// The current extraction folder in UTF-16 with backslashes, e.g. C:\ZemaActiveX\1765321234\.
std::wstring ExtractionFolder();
// The same folder as the list of unpacked files shows it: C:/ZemaActiveX/1765321234/.
std::wstring ShownExtractionFolder();

// Records every text set on a window (WM_SETTEXT), in order, while it lives.
class TextHistory {
public:
    explicit TextHistory(HWND window);
    ~TextHistory();
    std::vector<std::wstring> texts;

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND window_;
    WNDPROC old_;
};
