#pragma once
// Answers the message boxes that the code under test shows, as a user would.
#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct SeenMessageBox {
    std::wstring caption;
    std::wstring text;
    HWND owner;
    bool hasYesNo;
};

class MessageBoxAnswerer {
public:
    // Presses `button` (IDYES, IDNO or IDOK) on every box; a box without it gets IDOK.
    explicit MessageBoxAnswerer(int button);
    ~MessageBoxAnswerer();
    std::vector<SeenMessageBox> Seen();

private:
    void Watch();
    int button_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<SeenMessageBox> seen_;
    std::vector<HWND> answered_;
    std::thread thread_;
};
