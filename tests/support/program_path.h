#pragma once
#include <string>

// The folder of the test programs, the built program and the fixtures, ending in "\".
std::wstring BinFolder();
// The built program, RegisterAndUninstall.exe, beside the test programs; or the copy
// that PROGRAM_UNDER_TEST names (the package test unpacks one).
std::wstring ProgramPath();
