#pragma once
#include <string>

// Makes `link` a Unix symbolic link to the existing `target` (Windows paths), as a local
// user can on the Unix side; Wine's file functions follow it. True when the link was made.
bool MakeUnixLink(const std::wstring& link, const std::wstring& target);
// Removes such a link, not what it leads to (Wine's functions cannot remove a link to a
// folder).
bool RemoveUnixLink(const std::wstring& link);
// Gives `path` (a file or folder) the Unix mode o+w, as its owner can: Wine then shows an
// Everyone entry with write rights. True when that entry shows.
bool MakeWorldWritable(const std::wstring& path);
