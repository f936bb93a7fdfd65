// Benchmark driver (run by scripts/bench-uninstall.sh, not by the tests): fills
// HKEY_CLASSES_ROOT with 20,000 top-level keys (a few hundred of them ProgIDs of the
// family) and "Interface" with 20,000 GUID keys, then times the installed-control query
// against a bare enumeration of the root, and one control uninstall, its registry backup
// included, against bare enumerations of the roots it purges. Removes its keys and the
// backups of its uninstalls at the end.
// Usage: bench_uninstall [runs]
#include "app/app.h"
#include "system/system.h"
#include "uninstall/uninstall.h"

#include <cstdio>
#include <cwchar>
#include <string>

constexpr int TopLevelKeys = 20000;
constexpr int FamilyKeys = 300;
constexpr int InterfaceKeys = 20000;
const wchar_t Target[] = L"ZEMA.BenchTarget";
const wchar_t TargetClsid[] = L"{BE7C0002-5A5A-4B4B-8C8C-0123456789AB}";
const wchar_t TargetTypeLib[] = L"{BE7C0000-5A5A-4B4B-8C8C-0123456789AB}";

// Each uninstall of the target leaves a backup "<seconds>-ZEMA.BenchTarget[-n].reg";
// counts them, with their total size, and deletes them when `remove` is set.
static int TargetBackups(bool remove, long long* bytes)
{
    wchar_t folder[MAX_PATH] = {};
    GetSystemDirectoryW(folder, MAX_PATH);
    swprintf(folder + 1, MAX_PATH - 1, L":\\ZemaActiveX\\backup\\");
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((std::wstring(folder) + L"*-" + Target + L"*.reg").c_str(), &found);
    int count = 0;
    *bytes = 0;
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
        ++count;
        *bytes += found.nFileSizeLow;
        if (remove) DeleteFileW((std::wstring(folder) + found.cFileName).c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return count;
}

static double Seconds()
{
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

static void Create(const std::wstring& path, const wchar_t* value = nullptr)
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr))
        return;
    if (value)
        RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                       static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

static std::wstring Numbered(const wchar_t* format, int number)
{
    wchar_t text[64];
    swprintf(text, 64, format, number);
    return text;
}

static void MakeKeys()
{
    for (int i = 0; i < TopLevelKeys; ++i)
        Create(Numbered(i < FamilyKeys ? L"ZEMA.Bench%05d" : L"BenchKey.%05d", i));
    for (int i = 0; i < InterfaceKeys; ++i) Create(Numbered(L"Interface\\{%08X-BE7C-4000-8000-000000000000}", i));
}

static void RemoveKeys()
{
    for (int i = 0; i < TopLevelKeys; ++i)
        RegDeleteKeyW(HKEY_CLASSES_ROOT, Numbered(i < FamilyKeys ? L"ZEMA.Bench%05d" : L"BenchKey.%05d", i).c_str());
    for (int i = 0; i < InterfaceKeys; ++i)
        RegDeleteKeyW(HKEY_CLASSES_ROOT, Numbered(L"Interface\\{%08X-BE7C-4000-8000-000000000000}", i).c_str());
}

// The control that is uninstalled: ProgID, class, type library and two interfaces. Its
// server file names no file that exists: the uninstall checks it against every class and
// then runs the unregistration, which fails.
static void MakeTarget()
{
    Create(Target, L"bench control");
    Create(std::wstring(Target) + L"\\CLSID", TargetClsid);
    Create(std::wstring(L"CLSID\\") + TargetClsid + L"\\InprocServer32", L"C:\\bench.ocx");
    // A class belongs to the family only when it names a ProgID of it.
    Create(std::wstring(L"CLSID\\") + TargetClsid + L"\\ProgID", Target);
    Create(std::wstring(L"CLSID\\") + TargetClsid + L"\\TypeLib", TargetTypeLib);
    Create(std::wstring(L"TypeLib\\") + TargetTypeLib + L"\\1.0\\0\\win32", L"C:\\bench.ocx");
    Create(L"Interface\\{BE7C0001-5A5A-4B4B-8C8C-0123456789AB}\\TypeLib", TargetTypeLib);
    Create(L"Interface\\{BE7C0003-5A5A-4B4B-8C8C-0123456789AB}\\TypeLib", TargetTypeLib);
}

// A bare enumeration of the subkeys of `path` (empty: the root); returns the count.
static int Enumerate(const wchar_t* path)
{
    HKEY key = HKEY_CLASSES_ROOT;
    if (path[0] && RegOpenKeyExW(HKEY_CLASSES_ROOT, path, 0, KEY_READ, &key)) return 0;
    int count = 0;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr)) break;
        ++count;
    }
    if (key != HKEY_CLASSES_ROOT) RegCloseKey(key);
    return count;
}

template <typename Work>
static double Best(int runs, Work work)
{
    double best = 1e30;
    for (int run = 0; run < runs; ++run) {
        double start = Seconds();
        work();
        double elapsed = Seconds() - start;
        if (elapsed < best) best = elapsed;
    }
    return best;
}

int wmain(int argc, wchar_t** argv)
{
    int runs = argc > 1 ? _wtoi(argv[1]) : 3;
    long long leftBytes = 0;
    // Backups of an earlier run would be counted as this run's.
    TargetBackups(true, &leftBytes);
    ControlList = CreateWindowExW(0, L"LISTBOX", L"", WS_POPUP, 0, 0, 300, 300, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    double start = Seconds();
    MakeKeys();
    wprintf(L"made %d top-level and %d Interface keys in %.1f s\n", TopLevelKeys, InterfaceKeys, Seconds() - start);
    wprintf(L"keys below HKEY_CLASSES_ROOT: %d, Interface: %d, TypeLib: %d\n", Enumerate(L""),
            Enumerate(L"Interface"), Enumerate(L"TypeLib"));

    int listed = 0;
    double bareRoot = Best(runs, [] { Enumerate(L""); });
    double query = Best(runs, [&] { listed = QueryInstalledControls(); });
    wprintf(L"bare enumeration of the root: %.3f s\n", bareRoot);
    wprintf(L"QueryInstalledControls: %.3f s (%d listed)\n", query, listed);
    wprintf(L"ratio query / bare enumeration: %.2f (target 1.5)\n", query / bareRoot);

    const wchar_t* second = DetectWow64() ? L"Wow6432Node\\Interface" : L"Interface";
    double barePurgeRoots = Best(runs, [&] {
        Enumerate(L"Interface");
        Enumerate(second);
        Enumerate(L"TypeLib");
    });
    // The uninstall ends by running the unregistering child process; timed on its own too.
    double child = Best(runs, [] { UnregisterComponentFile(L"C:\\bench.ocx"); });
    double uninstall = 1e30;
    bool removed = true;
    for (int run = 0; run < runs; ++run) {
        MakeTarget();
        double begin = Seconds();
        UninstallControl(Target);
        double elapsed = Seconds() - begin;
        if (elapsed < uninstall) uninstall = elapsed;
        HKEY key;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"Interface\\{BE7C0003-5A5A-4B4B-8C8C-0123456789AB}", 0, KEY_READ,
                          &key) == ERROR_SUCCESS) {
            RegCloseKey(key);
            removed = false;
        }
    }
    wprintf(L"bare enumerations of Interface, %ls and TypeLib: %.3f s\n", second, barePurgeRoots);
    wprintf(L"target control removed: %ls\n", removed ? L"yes" : L"NO");
    long long backupBytes = 0;
    int backups = TargetBackups(true, &backupBytes);
    wprintf(L"registry backups written: %d of %d uninstalls, %lld bytes each\n", backups, runs,
            backups ? backupBytes / backups : 0);
    wprintf(L"UninstallControl with its registry backup: %.3f s, of which the unregistering child process about "
            L"%.3f s\n",
            uninstall, child);
    wprintf(L"ratio uninstall / bare enumerations: %.2f gross, %.2f without the child process (target 4)\n",
            uninstall / barePurgeRoots, (uninstall - child) / barePurgeRoots);

    RemoveKeys();
    DestroyWindow(ControlList);
    return 0;
}
