#pragma once
// Files, folders, registry and environment helpers of the registration tests.
#include "tests/fixtures/fixture_identity.h"

#include <windows.h>

#include <string>
#include <vector>

// The folder of the running test program (where the fixtures are built), ending in "\".
std::wstring BinFolder();
// A new empty folder below the temporary folder, ending in "\"; `tag` names the test.
std::wstring MakeTestFolder(const std::wstring& tag);
// Copies the fixture COM server to folder + name and returns the copy's path.
std::wstring CopyFixture(const std::wstring& folder, const std::wstring& name);
// The lines of a text file (UTF-8), or none when it does not exist.
std::vector<std::wstring> ReadLines(const std::wstring& path);
std::string ReadBytes(const std::wstring& path);
void WriteBytes(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);
std::wstring SystemDirectory();

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
