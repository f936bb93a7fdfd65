#include "uninstall/uninstall.h"

#include <cstring>
#include <cwchar>

// The family's ProgID prefixes, in the order they are tested; compared as ANSI bytes.
static const char* const FamilyPrefixes[] = {"ZEMA.", "PDF.Z", "Zema."};
constexpr int PrefixBytes = 5;
constexpr int KeyNameUnits = 256;
constexpr int AnsiNameBytes = 255;

bool HasFamilyPrefix(const wchar_t* name, DWORD nameLength)
{
    char ansi[AnsiNameBytes] = {};
    if (WideCharToMultiByte(CP_ACP, 0, name, -1, ansi, AnsiNameBytes, nullptr, nullptr) == 0) {
        // The whole name did not fit (a 255-character name needs 256 bytes with its
        // terminator): its first five characters alone decide, the prefixes being ASCII.
        ZeroMemory(ansi, sizeof ansi);
        int head = nameLength < PrefixBytes ? static_cast<int>(nameLength) : PrefixBytes;
        WideCharToMultiByte(CP_ACP, 0, name, head, ansi, AnsiNameBytes, nullptr, nullptr);
    }
    ansi[PrefixBytes] = '\0';
    for (const char* prefix : FamilyPrefixes)
        if (strcmp(ansi, prefix) == 0) return true;
    return false;
}

int QueryInstalledControls()
{
    LRESULT listed = SendMessageW(ControlList, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < listed; ++i) SendMessageW(ControlList, LB_DELETESTRING, 0, 0);

    // The machine's registrations only: the user's own, which the merged HKEY_CLASSES_ROOT
    // would lay over them, are writable without administrator rights.
    HKEY root;
    if (OpenClassesRoot(OwnView, KEY_READ, &root) != ERROR_SUCCESS) return 0;
    int count = 0;
    for (DWORD index = 0;; ++index) {
        wchar_t name[KeyNameUnits];
        DWORD nameLength = KeyNameUnits;
        if (RegEnumKeyExW(root, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        // A name with a NUL inside is not its own text: listed, it would name another key.
        if (wcsnlen(name, nameLength) != nameLength || !HasFamilyPrefix(name, nameLength)) continue;
        SendMessageW(ControlList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
        ++count;
    }
    RegCloseKey(root);
    return count;
}
