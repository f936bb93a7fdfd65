// The plan of one uninstall: every tree it deletes, and every tree it only saves, named
// as the uninstall opens it and as the registry stores it. Nothing is deleted while the
// plan is made, so the enumerations that fill it never step over a key.
#include "uninstall/uninstall.h"

#include <cwchar>

#include <strsafe.h>

// Far beyond what one control registers; a plan that does not fit is refused whole.
constexpr int MostPlannedTrees = 1024;
constexpr int PlanTextUnits = 131072;
constexpr int MostPurgedRoots = 8;

static PlannedTree Trees[MostPlannedTrees];
static int TreeCount;
static wchar_t Text[PlanTextUnits];
static int TextUsed;
static bool Refused;
static wchar_t PurgedRoots[MostPurgedRoots][StoredNameUnits];
static int PurgedRootCount;

void BeginUninstallPlan()
{
    TreeCount = 0;
    TextUsed = 0;
    Refused = false;
    PurgedRootCount = 0;
}

bool UninstallPlanSound()
{
    return !Refused;
}

// A copy of `text` in the plan's storage; nullptr when there is no room left.
static const wchar_t* Keep(const wchar_t* text)
{
    size_t length = wcslen(text);
    if (length + 1 > static_cast<size_t>(PlanTextUnits - TextUsed)) return nullptr;
    wchar_t* copy = Text + TextUsed;
    wmemcpy(copy, text, length + 1);
    TextUsed += static_cast<int>(length + 1);
    return copy;
}

// The stored name of the open key, the name a restore gives it back: the path may name
// it in other letter case, or in the 32-bit view through a different path. Where the
// platform does not tell it, a system without WOW64 has the key where the path says.
static bool UseStoredName(HKEY key, const wchar_t* path, wchar_t (&name)[StoredNameUnits])
{
    return StoredKeyName(key, name, StoredNameUnits) ||
           (!DetectWow64() && SUCCEEDED(StringCchCopyW(name, StoredNameUnits, L"HKEY_LOCAL_MACHINE\\Software\\Classes\\")) &&
            SUCCEEDED(StringCchCatW(name, StoredNameUnits, path)));
}

void PlanKeyTree(REGSAM view, const wchar_t* path, bool deleted)
{
    if (Refused) return;
    HKEY root, key;
    if (OpenClassesRoot(view, KEY_READ, &root) != ERROR_SUCCESS) {
        Refused = true;
        return;
    }
    LONG opened = OpenKeyWithoutLinks(root, view, path, KEY_READ, &key);
    RegCloseKey(root);
    // A key that is not there has nothing to save or delete.
    if (opened == ERROR_FILE_NOT_FOUND) return;
    static wchar_t name[StoredNameUnits];
    bool named = opened == ERROR_SUCCESS && UseStoredName(key, path, name);
    if (opened == ERROR_SUCCESS) RegCloseKey(key);
    if (!named) {
        Refused = true;
        return;
    }
    for (int i = 0; i < TreeCount; ++i)
        if (wcscmp(Trees[i].storedName, name) == 0) {
            Trees[i].deleted = Trees[i].deleted || deleted;
            return;
        }
    const wchar_t* keptPath = Keep(path);
    const wchar_t* keptName = keptPath ? Keep(name) : nullptr;
    if (TreeCount == MostPlannedTrees || !keptName) {
        Refused = true;
        return;
    }
    Trees[TreeCount++] = PlannedTree{view, keptPath, keptName, deleted};
}

bool FirstPurgeOfRoot(const wchar_t* storedName)
{
    for (int i = 0; i < PurgedRootCount; ++i)
        if (wcscmp(PurgedRoots[i], storedName) == 0) return false;
    if (PurgedRootCount < MostPurgedRoots &&
        SUCCEEDED(StringCchCopyW(PurgedRoots[PurgedRootCount], StoredNameUnits, storedName)))
        ++PurgedRootCount;
    return true;
}

int PlannedTreeCount()
{
    return TreeCount;
}

const PlannedTree& PlannedTreeAt(int index)
{
    return Trees[index];
}

bool PlannedTreeInsideAnother(int index)
{
    const wchar_t* name = Trees[index].storedName;
    for (int i = 0; i < TreeCount; ++i) {
        size_t length = wcslen(Trees[i].storedName);
        if (i != index && wcsncmp(name, Trees[i].storedName, length) == 0 && name[length] == L'\\') return true;
    }
    return false;
}

void DeletePlannedTrees()
{
    for (int i = 0; i < TreeCount; ++i) {
        if (!Trees[i].deleted) continue;
        HKEY root;
        wchar_t path[KeyTreePathUnits] = {};
        if (OpenClassesRoot(Trees[i].view, KEY_READ, &root) != ERROR_SUCCESS) continue;
        if (CopyKeyPath(Trees[i].path, path) == S_OK) DeleteKeyTree(root, Trees[i].view, path);
        RegCloseKey(root);
    }
}
