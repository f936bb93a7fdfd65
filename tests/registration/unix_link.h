#pragma once
#include <string>

// Makes `link` a Unix symbolic link to `target` (Windows paths; the target need not
// exist), as a local user can on the Unix side; Wine's file functions follow it. True
// when the link was made.
bool MakeUnixLink(const std::wstring& link, const std::wstring& target);
