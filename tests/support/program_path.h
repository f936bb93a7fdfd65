#pragma once
#include <string>

// The built program, RegisterAndUninstall.exe, beside the test programs.
std::wstring ProgramPath();
