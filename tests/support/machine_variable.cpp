#include "tests/support/machine_variable.h"

static const wchar_t Environment[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

ScopedMachineVariable::ScopedMachineVariable(const wchar_t* name, DWORD type, const std::wstring& value) : name_(name)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Environment, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    set_ = RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    RegCloseKey(key);
}

ScopedMachineVariable::~ScopedMachineVariable()
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Environment, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueW(key, name_.c_str());
    RegCloseKey(key);
}
