#include "app/app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    // DLLs loaded later come from the system directory only, never from the program's
    // folder (often Downloads) or the current one. Looked up, so that a system without
    // the call still starts.
    using SetDirectories = BOOL(WINAPI*)(DWORD);
    auto setDirectories = reinterpret_cast<SetDirectories>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDirectories) setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    int exitCode = 0;
    if (RunAsUnpackChild(&exitCode)) return exitCode;
    HoldProgramFile();
    return RunApplication(instance);
}
