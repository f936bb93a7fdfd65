#pragma once
// Keys below HKEY_CLASSES_ROOT made and inspected by the uninstall tests, and the guard
// that proves a destructive test removed exactly what it should.
#include <windows.h>

#include <set>
#include <string>
#include <vector>

// Creates the key (and its parents); sets its default value when one is given.
void CreateKey(const std::wstring& path, const wchar_t* defaultValue = nullptr);
// The same in a registry view: 0 for this process's own, KEY_WOW64_64KEY for the 64-bit one.
void CreateKeyIn(REGSAM view, const std::wstring& path, const wchar_t* defaultValue = nullptr);
bool KeyExistsIn(REGSAM view, const std::wstring& path);
void RemoveTreeIn(REGSAM view, const std::wstring& path);
std::vector<std::wstring> DumpTreeIn(REGSAM view, const std::wstring& path);
// Keys that only the native API makes, below HKEY_CLASSES_ROOT as this process sees it.
// A registry link at `path` to `target`, a native name ("\REGISTRY\Machine\...").
bool MakeRegistryLink(const std::wstring& path, const std::wstring& target);
// Removes the link itself, not what it leads to.
void RemoveRegistryLink(const std::wstring& path);
// A subkey of `parent` whose name holds a NUL, such as "k\0tail"; and its removal.
bool CreateKeyWithCountedName(const std::wstring& parent, const std::wstring& name);
void RemoveKeyWithCountedName(const std::wstring& parent, const std::wstring& name);
// A string value of `path` whose name holds a NUL.
bool SetValueWithCountedName(const std::wstring& path, const std::wstring& name, const std::wstring& data);
// The native name of HKEY_LOCAL_MACHINE\Software\<path> in the 64-bit view where there is one,
// made anew with one value, as the target of a link; and its removal.
std::wstring MakeLinkTarget(const std::wstring& path);
void RemoveLinkTarget(const std::wstring& path);
std::vector<std::wstring> DumpLinkTarget(const std::wstring& path);
void SetDwordValue(const std::wstring& path, const wchar_t* name, DWORD value);
bool KeyExists(const std::wstring& path);
// The names of the keys directly below `path` of HKEY_CLASSES_ROOT, in enumeration order.
std::vector<std::wstring> SubkeyNames(const std::wstring& path);
// Removes a key with everything below it, for set-up and clean-up.
void RemoveTree(const std::wstring& path);
// Removes every top-level key that looks like a family ProgID in any letter case, so
// that the list the query shows holds only what the test made.
void RemoveFamilyLeftovers();
// Every key below `path` (itself included) with every value, type and data byte, sorted.
std::vector<std::wstring> DumpTree(const std::wstring& path);
// The names of the keys directly below HKEY_CLASSES_ROOT and below the class, interface
// and type-library roots (and their Wow6432Node twins), as paths.
std::set<std::wstring> ClassRootsCensus();
bool RunsUnderWow64();
// The entries of ControlList, in list order.
std::vector<std::wstring> ControlListEntries();

// One control of the family as its registration leaves it below HKEY_CLASSES_ROOT.
struct ControlKeys {
    std::wstring progId;
    std::wstring clsid;
    std::wstring typeLib;
    std::vector<std::wstring> interfaces;

    void Make() const;
    void Remove() const;
    // Every key the general uninstall procedure removes for this control, the two
    // extension keys included.
    std::set<std::wstring> Removed() const;
};
// Two controls of GUID families that the sentinels shadow.
extern const ControlKeys TestControlA;
extern const ControlKeys TestControlB;
// The two extension keys that every general uninstall removes.
void MakeExtensionKeys();
void RemoveExtensionKeys();

// A key with a child whose security denies the enumeration of its subkeys: it can be
// neither opened for reading nor deleted while this object lives.
class ResistingKey {
public:
    explicit ResistingKey(const std::wstring& path);
    ~ResistingKey();
    bool Resists() const;

private:
    std::wstring path_;
};

// Unrelated keys that a destructive test must leave byte-for-byte intact: other ProgIDs,
// other classes, and TypeLib, Interface and class keys that share only the first group
// of a family GUID used by the tests, or differ from it only in letter case.
class RegistryGuard {
public:
    // Creates the sentinels and records them.
    void Begin();
    // Takes the census that ExpectGoneExactly compares with; call once the test's own
    // keys exist.
    void TakeCensus();
    // Exactly `gone` (each named as created, and each present at the census; under WOW64
    // its Wow6432Node twin, the same key, goes with it) went away, and nothing came.
    void ExpectGoneExactly(const std::set<std::wstring>& gone) const;
    void ExpectNothingChanged() const { ExpectGoneExactly({}); }
    // The sentinels are unchanged; then removes them.
    void End();

private:
    std::set<std::wstring> census_;
    std::vector<std::wstring> sentinelDump_;
};
