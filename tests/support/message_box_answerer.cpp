#include "tests/support/message_box_answerer.h"

#include <algorithm>

namespace {
std::wstring WindowText(HWND window)
{
    wchar_t text[2048] = {};
    GetWindowTextW(window, text, 2048);
    return text;
}

std::wstring ClassOf(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

BOOL CALLBACK FindBodyText(HWND child, LPARAM found)
{
    auto* text = reinterpret_cast<std::wstring*>(found);
    if (_wcsicmp(ClassOf(child).c_str(), L"Static") == 0) {
        std::wstring body = WindowText(child);
        if (!body.empty()) {
            *text = body;
            return FALSE;
        }
    }
    return TRUE;
}

struct Search {
    DWORD process;
    std::vector<HWND> dialogs;
};

BOOL CALLBACK FindDialogs(HWND window, LPARAM found)
{
    auto* search = reinterpret_cast<Search*>(found);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == search->process && IsWindowVisible(window) && ClassOf(window) == L"#32770")
        search->dialogs.push_back(window);
    return TRUE;
}
}  // namespace

MessageBoxAnswerer::MessageBoxAnswerer(int button) : button_(button), thread_([this] { Watch(); })
{
}

MessageBoxAnswerer::~MessageBoxAnswerer()
{
    stop_ = true;
    thread_.join();
}

std::vector<SeenMessageBox> MessageBoxAnswerer::Seen()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
}

void MessageBoxAnswerer::Watch()
{
    while (!stop_) {
        Search search{GetCurrentProcessId(), {}};
        EnumWindows(FindDialogs, reinterpret_cast<LPARAM>(&search));
        for (HWND dialog : search.dialogs) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (std::find(answered_.begin(), answered_.end(), dialog) != answered_.end()) continue;
            SeenMessageBox box{WindowText(dialog), L"", GetWindow(dialog, GW_OWNER),
                               GetDlgItem(dialog, IDYES) != nullptr};
            EnumChildWindows(dialog, FindBodyText, reinterpret_cast<LPARAM>(&box.text));
            seen_.push_back(box);
            answered_.push_back(dialog);
            int press = GetDlgItem(dialog, button_) ? button_ : IDOK;
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(press, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, press)));
        }
        // Forget boxes that have closed, so that a reused handle counts as a new box.
        {
            std::lock_guard<std::mutex> lock(mutex_);
            answered_.erase(std::remove_if(answered_.begin(), answered_.end(),
                                           [](HWND w) { return !IsWindow(w); }),
                            answered_.end());
        }
        Sleep(10);
    }
}
