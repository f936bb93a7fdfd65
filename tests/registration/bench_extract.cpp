// Benchmark driver (run by scripts/bench-extract.sh, not by the tests): unpacks one
// cabinet through ExtractCabinet with the real main window, then through the platform's
// own extrac32.exe (Wine's expand.exe does not unpack these cabinets), and prints the best time of each.
// Usage: bench_extract <cabinet> <scratch folder> <runs> <one-file cabinet>
#include "app/app.h"
#include "registration/registration.h"

#include <cstdio>
#include <cwchar>
#include <string>

#include <strsafe.h>

static double Seconds()
{
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Runs a command line to its end; returns its wall time in seconds.
static double RunTool(std::wstring line)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    double start = Seconds();
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    double elapsed = Seconds() - start;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return elapsed;
}

static double Best(double a, double b)
{
    return a < 0 || (b >= 0 && b < a) ? b : a;
}

int wmain(int argc, wchar_t** argv)
{
    if (argc < 5) return 2;
    std::wstring cabinet = argv[1], scratch = argv[2];
    int runs = _wtoi(argv[3]);
    CreateMainWindow(GetModuleHandleW(nullptr));

    double ours = -1, extrac32 = -1, startup = -1;
    std::wstring system(MAX_PATH, L'\0');
    system.resize(GetSystemDirectoryW(&system[0], MAX_PATH));
    for (int run = 0; run < runs; ++run) {
        char pathA[1000] = {};
        WideCharToMultiByte(CP_ACP, 0, cabinet.c_str(), -1, pathA, 1000, nullptr, nullptr);
        StringCchCopyW(StatusText, StatusTextCapacity, L"拖入文件路径:");
        double start = Seconds();
        ExtractCabinet(cabinet.c_str(), pathA);
        ours = Best(ours, Seconds() - start);
        std::wstring target = scratch + L"\\extrac32-" + std::to_wstring(run);
        extrac32 = Best(extrac32, RunTool(L"\"" + system + L"\\extrac32.exe\" /Y /E /L \"" + target + L"\" \"" + cabinet + L"\""));
        // The tool's start-up: extrac32 on a cabinet of one tiny file.
        startup = Best(startup, RunTool(L"\"" + system + L"\\extrac32.exe\" /Y /E /L \"" + scratch +
                                        L"\\tiny\" \"" + argv[4] + L"\""));
    }
    printf("folder %s\n", ExtractFolder);
    printf("ExtractCabinet %.3f s\nextrac32.exe %.3f s\ntool start-up %.3f s\n", ours, extrac32, startup);
    return 0;
}
