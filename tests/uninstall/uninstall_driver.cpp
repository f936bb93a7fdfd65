// Drives whole uninstalls outside the window, for the kill tests and the fault study
// (scripts/fault-study-uninstall.sh):
//     uninstall_driver all
//         lists the installed controls and uninstalls every one, as "卸载全部" does;
//         answers every box and prints one line per box: "box: <text>"
//     uninstall_driver kill <milliseconds>
//         runs "uninstall_driver all" in a job and ends the job, the uninstall and any
//         regsvr32 it started, that many milliseconds after the start (when it still runs);
//         prints "killed" or "finished"
//     uninstall_driver dump <file> <ProgID>...
//         writes every key and value of the uninstall's roots (UninstallRootsDump) to <file>,
//         one UTF-8 line each
#include "tests/support/message_box_answerer.h"
#include "tests/uninstall/backup_files.h"
#include "uninstall/uninstall.h"

#include <cstdio>
#include <string>
#include <vector>

static int UninstallAll()
{
    ControlList = CreateWindowExW(0, L"LISTBOX", L"", WS_POPUP, 0, 0, 300, 300, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    MessageBoxAnswerer answerer(IDOK);
    int count = QueryInstalledControls();
    for (int index = 0; index < count; ++index) {
        wchar_t name[256] = {};
        if (SendMessageW(ControlList, LB_GETTEXTLEN, index, 0) < 256) {
            SendMessageW(ControlList, LB_GETTEXT, index, reinterpret_cast<LPARAM>(name));
            UninstallControl(name);
        }
    }
    for (const SeenMessageBox& box : answerer.Seen()) {
        std::wstring text = box.text;
        for (wchar_t& c : text)
            if (c == L'\r' || c == L'\n') c = L' ';
        char line[1024] = {};
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, line, sizeof line - 1, nullptr, nullptr);
        printf("box: %s\n", line);
    }
    DestroyWindow(ControlList);
    return 0;
}

static int KillAfter(DWORD milliseconds)
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring line = L"\"" + std::wstring(self) + L"\" all";
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!job || !CreateProcessW(self, &line[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                                &startup, &process))
        return 2;
    AssignProcessToJobObject(job, process.hProcess);
    ResumeThread(process.hThread);
    bool finished = WaitForSingleObject(process.hProcess, milliseconds) == WAIT_OBJECT_0;
    if (!finished) {
        TerminateJobObject(job, 9);
        WaitForSingleObject(process.hProcess, INFINITE);
    }
    // Whatever the uninstall started is gone too before the caller looks.
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
    while (QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting, sizeof accounting,
                                     nullptr) &&
           accounting.ActiveProcesses > 0) {
        TerminateJobObject(job, 9);
        Sleep(50);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(job);
    printf("%s\n", finished ? "finished" : "killed");
    return 0;
}

static int Dump(const wchar_t* file, const std::vector<std::wstring>& progIds)
{
    HANDLE out = CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return 2;
    for (const std::wstring& line : UninstallRootsDump(progIds)) {
        std::string bytes(line.size() * 3 + 1, '\0');
        int length = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), &bytes[0],
                                         static_cast<int>(bytes.size()), nullptr, nullptr);
        bytes.resize(static_cast<size_t>(length));
        bytes += '\n';
        DWORD written = 0;
        WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
    CloseHandle(out);
    return 0;
}

int wmain(int argc, wchar_t** argv)
{
    std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"all") return UninstallAll();
    if (mode == L"kill" && argc > 2) return KillAfter(wcstoul(argv[2], nullptr, 10));
    if (mode == L"dump" && argc > 2) return Dump(argv[2], std::vector<std::wstring>(argv + 3, argv + argc));
    fprintf(stderr, "usage: uninstall_driver all | kill <milliseconds> | dump <file> <ProgID>...\n");
    return 2;
}
