#pragma once
// A variable of the machine's environment (HKLM\SYSTEM\...\Session Manager\Environment),
// as only administrators may set it, for the scope's lifetime.
#include <windows.h>

#include <string>

class ScopedMachineVariable {
public:
    ScopedMachineVariable(const wchar_t* name, DWORD type, const std::wstring& value);
    ~ScopedMachineVariable();
    bool IsSet() const { return set_; }

private:
    std::wstring name_;
    bool set_ = false;
};
