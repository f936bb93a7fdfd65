#pragma once
// Registry keys through the native API, which names keys by counted strings: names with a
// NUL inside, registry links, and deletion by handle. Shared by the tests' set-up and
// clean-up, which must neither follow a link nor give up on a deep tree.
#include <windows.h>

#include <string>

// Creates (or opens) `name`, counted, below the open `parent`; with `link`, a registry link
// to the native name `target` ("\REGISTRY\Machine\..."). True when it is made.
bool CreateNativeKey(HKEY parent, const std::wstring& name, const std::wstring* linkTarget = nullptr);
// Deletes `name` (counted, below the open `parent`, in `view`) with everything below it,
// by handles, never through a link: a link itself is deleted, not what it leads to.
void DeleteNativeTree(HKEY parent, REGSAM view, const std::wstring& name);
// Sets a string value whose name is counted (may hold a NUL).
bool SetNativeValue(HKEY key, const std::wstring& name, const std::wstring& data);
// True when the key at `path` below `root` is a registry link.
bool IsLinkKey(HKEY root, const std::wstring& path);
// Deletes the tree at `path` (components separated by "\") below HKEY_LOCAL_MACHINE\Software
// \Classes of `view` (0 or KEY_WOW64_64KEY), as above.
void DeleteClassesTreeIn(REGSAM view, const std::wstring& path);
