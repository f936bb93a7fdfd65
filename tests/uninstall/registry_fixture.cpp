#include "tests/uninstall/registry_fixture.h"

#include "app/app.h"
#include "tests/support/native_registry.h"
#include "uninstall/uninstall.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <algorithm>
#include <cwctype>
#include <map>

void CreateKeyIn(REGSAM view, const std::wstring& path, const wchar_t* defaultValue)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS)
        << "cannot create " << std::string(path.begin(), path.end());
    if (defaultValue)
        RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(defaultValue),
                       static_cast<DWORD>((wcslen(defaultValue) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void CreateKey(const std::wstring& path, const wchar_t* defaultValue)
{
    CreateKeyIn(0, path, defaultValue);
}

bool KeyExistsIn(REGSAM view, const std::wstring& path)
{
    HKEY key;
    LONG result = RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_QUERY_VALUE | view, &key);
    if (result == ERROR_SUCCESS) RegCloseKey(key);
    return result == ERROR_SUCCESS || result == ERROR_ACCESS_DENIED;
}

void RemoveTreeIn(REGSAM view, const std::wstring& path)
{
    DeleteClassesTreeIn(view, path);
}

void SetDwordValue(const std::wstring& path, const wchar_t* name, DWORD value)
{
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
}

bool KeyExists(const std::wstring& path)
{
    HKEY key;
    // Only the right to ask: a key that denies reading exists all the same.
    LONG result = RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_QUERY_VALUE, &key);
    if (result == ERROR_SUCCESS) RegCloseKey(key);
    return result == ERROR_SUCCESS || result == ERROR_ACCESS_DENIED;
}

void RemoveTree(const std::wstring& path)
{
    // By handles: the platform's own call follows links and gives up on trees of a hundred
    // levels.
    RemoveTreeIn(0, path);
}

static std::vector<std::wstring> SubkeyNamesIn(REGSAM view, const std::wstring& path)
{
    std::vector<std::wstring> names;
    HKEY key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[512];
        DWORD length = 512;
        if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    RegCloseKey(key);
    return names;
}

std::vector<std::wstring> SubkeyNames(const std::wstring& path)
{
    return SubkeyNamesIn(0, path);
}

void RemoveFamilyLeftovers()
{
    for (const std::wstring& name : SubkeyNames(L"")) {
        std::wstring head = name.substr(0, 5);
        std::transform(head.begin(), head.end(), head.begin(), towlower);
        if (head == L"zema." || head == L"pdf.z") RemoveTree(name);
    }
}

static std::wstring Hex(const BYTE* data, DWORD size)
{
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring text;
    for (DWORD i = 0; i < size; ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 15];
    }
    return text;
}


static void DumpInto(REGSAM view, const std::wstring& path, std::vector<std::wstring>& lines)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
        lines.push_back(path + L" (cannot be opened)");
        return;
    }
    lines.push_back(path);
    // On the heap: trees of a hundred levels are dumped too.
    std::vector<wchar_t> name(16384);
    std::vector<BYTE> data(4096);
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = 0;
        if (RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, data.data(), &dataSize) != ERROR_SUCCESS)
            break;
        lines.push_back(path + L" | " + std::wstring(name.data(), nameLength) + L" | " + std::to_wstring(type) +
                        L" | " + Hex(data.data(), dataSize));
    }
    RegCloseKey(key);
    for (const std::wstring& child : SubkeyNamesIn(view, path)) DumpInto(view, path + L"\\" + child, lines);
}

std::vector<std::wstring> DumpTreeIn(REGSAM view, const std::wstring& path)
{
    std::vector<std::wstring> lines;
    DumpInto(view, path, lines);
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::vector<std::wstring> DumpTree(const std::wstring& path)
{
    return DumpTreeIn(0, path);
}

static const wchar_t* const CensusRoots[] = {
    L"CLSID", L"Interface", L"TypeLib", L"Wow6432Node\\CLSID", L"Wow6432Node\\Interface", L"Wow6432Node\\TypeLib",
};

std::set<std::wstring> ClassRootsCensus()
{
    std::set<std::wstring> census;
    for (const std::wstring& name : SubkeyNames(L"")) census.insert(name);
    for (const wchar_t* root : CensusRoots)
        for (const std::wstring& name : SubkeyNames(root))
            census.insert(std::wstring(root) + L"\\" + name);
    return census;
}

bool RunsUnderWow64()
{
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    return wow64 != FALSE;
}

static void SetKeySecurity(const std::wstring& path, const wchar_t* sddl)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, WRITE_DAC, &key) != ERROR_SUCCESS) return;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
        RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
        LocalFree(descriptor);
    }
    RegCloseKey(key);
}

ResistingKey::ResistingKey(const std::wstring& path) : path_(path)
{
    CreateKey(path + L"\\Child");
    // Denies KEY_ENUMERATE_SUB_KEYS (8) to everyone: the key can be neither read nor emptied.
    SetKeySecurity(path, L"D:(D;;0x8;;;WD)(A;;KA;;;WD)");
}

ResistingKey::~ResistingKey()
{
    SetKeySecurity(path_, L"D:(A;;KA;;;WD)");
}

bool ResistingKey::Resists() const
{
    HKEY key;
    LONG result = RegOpenKeyExW(HKEY_CLASSES_ROOT, path_.c_str(), 0, KEY_READ, &key);
    if (result == ERROR_SUCCESS) RegCloseKey(key);
    return result != ERROR_SUCCESS && KeyExists(path_) &&
           RegDeleteKeyW(HKEY_CLASSES_ROOT, path_.c_str()) != ERROR_SUCCESS;
}

std::vector<std::wstring> ControlListEntries()
{
    std::vector<std::wstring> entries;
    LRESULT count = SendMessageW(ControlList, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t text[512] = {};
        if (SendMessageW(ControlList, LB_GETTEXTLEN, i, 0) < 512)
            SendMessageW(ControlList, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
        entries.push_back(text);
    }
    return entries;
}

void ControlKeys::Make() const
{
    CreateKey(progId, L"control");
    CreateKey(progId + L"\\CLSID", clsid.c_str());
    std::wstring classKey = L"CLSID\\" + clsid;
    CreateKey(classKey, L"control");
    CreateKey(classKey + L"\\InprocServer32", L"C:\\windows\\system32\\control.ocx");
    CreateKey(classKey + L"\\ProgID", progId.c_str());
    CreateKey(classKey + L"\\VersionIndependentProgID", progId.c_str());
    CreateKey(classKey + L"\\TypeLib", typeLib.c_str());
    CreateKey(L"TypeLib\\" + typeLib + L"\\1.0", L"type library");
    CreateKey(L"TypeLib\\" + typeLib + L"\\1.0\\0\\win32", L"C:\\windows\\system32\\control.ocx");
    for (const std::wstring& iid : interfaces) {
        CreateKey(L"Interface\\" + iid, L"IControl");
        CreateKey(L"Interface\\" + iid + L"\\TypeLib", typeLib.c_str());
    }
}

void ControlKeys::Remove() const
{
    RemoveTree(progId);
    RemoveTree(L"CLSID\\" + clsid);
    RemoveTree(L"Wow6432Node\\CLSID\\" + clsid);
    RemoveTree(L"TypeLib\\" + typeLib);
    RemoveTree(L"Wow6432Node\\TypeLib\\" + typeLib);
    for (const std::wstring& iid : interfaces) RemoveTree(L"Interface\\" + iid);
}

std::set<std::wstring> ControlKeys::Removed() const
{
    std::set<std::wstring> gone = {L".qmc", L".qmx", progId, L"CLSID\\" + clsid, L"TypeLib\\" + typeLib};
    for (const std::wstring& iid : interfaces) gone.insert(L"Interface\\" + iid);
    return gone;
}

const ControlKeys TestControlA = {L"ZEMA.UninstallTestCtl",
                                  L"{7E570001-A1B2-4C3D-8E4F-0123456789AB}",
                                  L"{7E570002-A1B2-4C3D-8E4F-0123456789AB}",
                                  {L"{7E570003-A1B2-4C3D-8E4F-0123456789AB}", L"{7E570004-A1B2-4C3D-8E4F-0123456789AB}"}};
const ControlKeys TestControlB = {L"PDF.ZUninstallTestCtl",
                                  L"{7E570011-B1B2-4C3D-8E4F-0123456789AB}",
                                  L"{7E570012-B1B2-4C3D-8E4F-0123456789AB}",
                                  {L"{7E570013-B1B2-4C3D-8E4F-0123456789AB}"}};

void MakeExtensionKeys()
{
    CreateKey(L".qmc", L"QmcFile");
    CreateKey(L".qmc\\ShellNew");
    CreateKey(L".qmx", L"QmxFile");
}

void RemoveExtensionKeys()
{
    RemoveTree(L".qmc");
    RemoveTree(L".qmx");
}

// GUID families that the tests uninstall, as the part after the first group, with the
// first groups the tests give their members.
struct GuidFamily {
    const wchar_t* tail;
    const wchar_t* firstGroups[2];
};
static const GuidFamily Families[] = {
    {L"-C4B8-4A96-9E21-7F0B3C6D8E14}", {L"5D3A71E2", L"5D3A71E4"}},
    {L"-3F14-4D5B-8C6A-2E9F41A07B35}", {L"B7E2C90D", L"B7E2C90F"}},
    {L"-A1B2-4C3D-8E4F-0123456789AB}", {L"7E570001", L"7E570002"}},
    {L"-B1B2-4C3D-8E4F-0123456789AB}", {L"7E570011", L"7E570012"}},
};

static std::wstring LowerFirstLetterFrom(std::wstring text, size_t from)
{
    for (size_t i = from; i < text.size(); ++i)
        if (text[i] >= L'A' && text[i] <= L'F') {
            text[i] = static_cast<wchar_t>(text[i] + 32);
            break;
        }
    return text;
}

static std::vector<std::wstring> SentinelRoots()
{
    std::vector<std::wstring> roots = {L"Sentinel.UninstallTests", L"Zema", L"CLSID\\{5E5E0001-0000-4000-8000-00000000AA01}",
                                       L"Wow6432Node\\CLSID\\{5E5E0001-0000-4000-8000-00000000AA01}"};
    for (const GuidFamily& family : Families) {
        for (const wchar_t* first : family.firstGroups) {
            // Same first group, other groups.
            roots.push_back(std::wstring(L"TypeLib\\{") + first + L"-0000-4000-8000-00000000AA02}");
            roots.push_back(std::wstring(L"Interface\\{") + first + L"-0000-4000-8000-00000000AA03}");
        }
        // Other first group, and the rest differing only by a lower-case letter.
        roots.push_back(L"TypeLib\\{5E5E0002" + LowerFirstLetterFrom(family.tail, 1));
        roots.push_back(L"Interface\\{5E5E0003" + LowerFirstLetterFrom(family.tail, 16));
        roots.push_back(L"CLSID\\{5E5E0004" + LowerFirstLetterFrom(family.tail, 6));
    }
    return roots;
}

void RegistryGuard::Begin()
{
    for (const std::wstring& root : SentinelRoots()) RemoveTree(root);
    CreateKey(L"Sentinel.UninstallTests", L"Sentinel control");
    CreateKey(L"Sentinel.UninstallTests\\CLSID", L"{5E5E0001-0000-4000-8000-00000000AA01}");
    CreateKey(L"Zema", L"four characters");
    for (const wchar_t* classes : {L"CLSID", L"Wow6432Node\\CLSID"}) {
        std::wstring key = std::wstring(classes) + L"\\{5E5E0001-0000-4000-8000-00000000AA01}";
        CreateKey(key, L"Sentinel control");
        CreateKey(key + L"\\InprocServer32", L"C:\\windows\\system32\\sentinel.dll");
        CreateKey(key + L"\\TypeLib", L"{5E5E0002-0000-4000-8000-00000000AA01}");
        SetDwordValue(key, L"Flags", 0x12345678);
    }
    for (const std::wstring& root : SentinelRoots()) {
        if (root.rfind(L"TypeLib\\", 0) == 0) {
            CreateKey(root + L"\\1.0", L"Sentinel type library");
            CreateKey(root + L"\\1.0\\0\\win32", L"C:\\windows\\system32\\sentinel.tlb");
        } else if (!KeyExists(root)) {
            CreateKey(root, L"Sentinel");
            CreateKey(root + L"\\TypeLib", L"{5E5E0002-0000-4000-8000-00000000AA01}");
        }
    }
    for (const std::wstring& root : SentinelRoots()) {
        std::vector<std::wstring> dump = DumpTree(root);
        sentinelDump_.insert(sentinelDump_.end(), dump.begin(), dump.end());
    }
}

void RegistryGuard::TakeCensus()
{
    census_ = ClassRootsCensus();
}

// Under WOW64 the class, interface and type-library keys and their Wow6432Node twins are
// one key each, so both names leave the census together.
static std::set<std::wstring> WithTwins(const std::set<std::wstring>& paths)
{
    std::set<std::wstring> all = paths;
    if (!RunsUnderWow64()) return all;
    const std::wstring node = L"Wow6432Node\\";
    for (const std::wstring& path : paths) {
        for (const wchar_t* root : {L"CLSID\\", L"Interface\\", L"TypeLib\\"}) {
            if (path.rfind(root, 0) == 0) all.insert(node + path);
            if (path.rfind(node + root, 0) == 0) all.insert(path.substr(node.size()));
        }
    }
    return all;
}

// How many keys of `paths` stand below each root, e.g. "CLSID: 15, Interface: 49", so that
// a failure says at a glance how much of the platform went.
static std::string CountPerRoot(const std::set<std::wstring>& paths)
{
    std::map<std::wstring, int> counts;
    for (const std::wstring& path : paths) {
        size_t last = path.find_last_of(L'\\');
        ++counts[last == std::wstring::npos ? L"(top level)" : path.substr(0, last)];
    }
    std::string text;
    for (const auto& count : counts)
        text += (text.empty() ? "" : ", ") + std::string(count.first.begin(), count.first.end()) + ": " +
                std::to_string(count.second);
    return text;
}

void RegistryGuard::ExpectGoneExactly(const std::set<std::wstring>& gone) const
{
    for (const std::wstring& path : gone)
        EXPECT_TRUE(census_.count(path)) << "not there to begin with: " << std::string(path.begin(), path.end());
    std::set<std::wstring> after = ClassRootsCensus();
    std::set<std::wstring> removed, added;
    std::set_difference(census_.begin(), census_.end(), after.begin(), after.end(),
                        std::inserter(removed, removed.end()));
    std::set_difference(after.begin(), after.end(), census_.begin(), census_.end(), std::inserter(added, added.end()));
    EXPECT_EQ(removed, WithTwins(gone)) << "removed per root: " << CountPerRoot(removed);
    EXPECT_EQ(added, std::set<std::wstring>{}) << "added per root: " << CountPerRoot(added);
    for (const std::wstring& path : gone)
        EXPECT_FALSE(KeyExists(path)) << "still there: " << std::string(path.begin(), path.end());
}

void RegistryGuard::End()
{
    std::vector<std::wstring> now;
    for (const std::wstring& root : SentinelRoots()) {
        std::vector<std::wstring> dump = DumpTree(root);
        now.insert(now.end(), dump.begin(), dump.end());
    }
    EXPECT_EQ(now, sentinelDump_) << "a sentinel key changed";
    for (const std::wstring& root : SentinelRoots()) RemoveTree(root);
}

namespace {
// A real handle, never a predefined one, which the native calls do not take.
HKEY OpenClasses(const std::wstring& path)
{
    HKEY key = nullptr;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, (L"Software\\Classes" + (path.empty() ? L"" : L"\\" + path)).c_str(), 0,
                  KEY_ALL_ACCESS, &key);
    return key;
}

// `path` split into the path of its parent and its own name.
std::pair<std::wstring, std::wstring> ParentAndName(const std::wstring& path)
{
    size_t last = path.find_last_of(L'\\');
    if (last == std::wstring::npos) return {L"", path};
    return {path.substr(0, last), path.substr(last + 1)};
}
}  // namespace

bool MakeRegistryLink(const std::wstring& path, const std::wstring& target)
{
    std::pair<std::wstring, std::wstring> split = ParentAndName(path);
    HKEY parent = OpenClasses(split.first);
    if (!parent) return false;
    bool made = CreateNativeKey(parent, split.second, &target);
    RegCloseKey(parent);
    return made;
}

void RemoveRegistryLink(const std::wstring& path)
{
    RemoveTreeIn(0, path);
}

bool CreateKeyWithCountedName(const std::wstring& parent, const std::wstring& name)
{
    HKEY key = OpenClasses(parent);
    if (!key) return false;
    bool made = CreateNativeKey(key, name);
    RegCloseKey(key);
    return made;
}

void RemoveKeyWithCountedName(const std::wstring& parent, const std::wstring& name)
{
    HKEY key = OpenClasses(parent);
    if (!key) return;
    DeleteNativeTree(key, 0, name);
    RegCloseKey(key);
}

bool SetValueWithCountedName(const std::wstring& path, const std::wstring& name, const std::wstring& data)
{
    HKEY key = OpenClasses(path);
    if (!key) return false;
    bool set = SetNativeValue(key, name, data);
    RegCloseKey(key);
    return set;
}

std::wstring MakeLinkTarget(const std::wstring& path)
{
    RemoveLinkTarget(path);
    HKEY key;
    // The 64-bit view where there is one: a link names the key where it is stored.
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, (L"Software\\" + path + L"\\Child").c_str(), 0, nullptr, 0,
                        KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, nullptr) == ERROR_SUCCESS) {
        const wchar_t value[] = L"must survive";
        RegSetValueExW(key, L"Marker", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof value);
        RegCloseKey(key);
    }
    return L"\\REGISTRY\\Machine\\Software\\" + path;
}

void RemoveLinkTarget(const std::wstring& path)
{
    std::pair<std::wstring, std::wstring> split = ParentAndName(path);
    HKEY parent;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (L"Software\\" + split.first).c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                      &parent) != ERROR_SUCCESS)
        return;
    DeleteNativeTree(parent, KEY_WOW64_64KEY, split.second);
    RegCloseKey(parent);
}
std::vector<std::wstring> DumpLinkTarget(const std::wstring& path)
{
    std::vector<std::wstring> lines;
    for (const wchar_t* below : {L"", L"\\Child"}) {
        HKEY key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (L"Software\\" + path + below).c_str(), 0,
                          KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
            lines.push_back(path + below + L" (missing)");
            continue;
        }
        wchar_t value[64] = {};
        DWORD size = sizeof value - sizeof(wchar_t);
        RegQueryValueExW(key, L"Marker", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
        lines.push_back(path + below + L" " + value);
        RegCloseKey(key);
    }
    return lines;
}
