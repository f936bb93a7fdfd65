#pragma once
// Child processes that the tests start themselves (regsvr32 alone, reg import, ...).
#include <windows.h>

#include <string>

// Runs `commandLine` and waits for it to end: its exit code, or the error code when it
// could not be started.
DWORD RunToEnd(std::wstring commandLine);
