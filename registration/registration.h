#pragma once
// Component registration: drop intake, the regsvr32 runner, cabinet extraction.
#include <windows.h>
#include <shellapi.h>

constexpr int StatusTextCapacity = 1000;
// What InfoEdit shows while a cabinet is handled; "拖入文件路径:" at rest.
extern wchar_t StatusText[StatusTextCapacity];

// Handles a WM_DROPFILES of the Register page; releases the drop handle.
void HandleFileDrop(HDROP drop);

// Run regsvr32 silently: unregister then register / unregister only.
// True when every command run ended with status 0.
bool RegisterComponentFile(const wchar_t* path);
bool UnregisterComponentFile(const wchar_t* path);

// Runs `command` through the command interpreter ("/c") and waits for it: the interpreter
// named by COMSPEC, else cmd.exe from the current folder, then from PATH. Returns the
// interpreter's exit code, or -1 when none could be started.
int RunCommandInterpreter(const wchar_t* command);
