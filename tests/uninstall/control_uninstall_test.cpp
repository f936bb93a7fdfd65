#include "tests/registration/registration_test_support.h"
#include "tests/support/message_box_answerer.h"
#include "tests/uninstall/backup_files.h"
#include "tests/uninstall/registry_fixture.h"
#include "uninstall/uninstall.h"

#include <gtest/gtest.h>

#include <cwctype>

namespace {
const ControlKeys& General = TestControlA;

class ControlUninstall : public ::testing::Test {
protected:
    void SetUp() override
    {
        General.Remove();
        guard.Begin();
    }
    void TearDown() override
    {
        General.Remove();
        RemoveExtensionKeys();
        guard.End();
        for (const std::wstring& name : NewBackupFiles(backups)) DeleteFileW((BackupFolder() + name).c_str());
    }

    RegistryGuard guard;
    std::set<std::wstring> backups = BackupFiles();
    // An uninstall that cannot save its backup says so in a box; none is expected unless
    // a test looks.
    MessageBoxAnswerer boxes{IDOK};
};
}  // namespace

TEST_F(ControlUninstall, RemovesTheWholeControlAndItsExtensionKeys)
{
    General.Make();
    MakeExtensionKeys();
    // Without WOW64 the Wow6432Node twin of the class key is a key of its own, which the
    // procedure neither reads nor deletes.
    const std::wstring twin = L"Wow6432Node\\CLSID\\" + General.clsid;
    if (!RunsUnderWow64()) CreateKey(twin + L"\\TypeLib", L"{7E570009-0000-4000-8000-000000000000}");
    guard.TakeCensus();

    UninstallControl(General.progId.c_str());

    guard.ExpectGoneExactly(General.Removed());
    EXPECT_EQ(KeyExists(twin), !RunsUnderWow64());
}

TEST_F(ControlUninstall, ASecondUninstallChangesNothing)
{
    General.Make();
    MakeExtensionKeys();
    UninstallControl(General.progId.c_str());
    guard.TakeCensus();

    UninstallControl(General.progId.c_str());

    guard.ExpectNothingChanged();
}

TEST_F(ControlUninstall, TheSpecialControlsLoseExactlyTheirFixedKeys)
{
    struct Case {
        const wchar_t* progId;
        const wchar_t* typeLib;
        const wchar_t* clsid;  // spelled in upper case, as the platform may store it
        const wchar_t* familyInterface;
    };
    for (const Case& c : {Case{L"Zema.BulkUploadCtl", L"{5D3A71E2-C4B8-4A96-9E21-7F0B3C6D8E14}",
                               L"{5D3A71E4-C4B8-4A96-9E21-7F0B3C6D8E14}", L"{5D3A71E0-C4B8-4A96-9E21-7F0B3C6D8E14}"},
                          Case{L"ZEMA.StampServerCtl", L"{B7E2C90D-3F14-4D5B-8C6A-2E9F41A07B35}",
                               L"{B7E2C90F-3F14-4D5B-8C6A-2E9F41A07B35}", L"{B7E2C900-3F14-4D5B-8C6A-2E9F41A07B35}"}}) {
        SCOPED_TRACE(std::string(c.progId, c.progId + wcslen(c.progId)));
        ControlKeys control = {c.progId, c.clsid, c.typeLib, {c.familyInterface}};
        control.Make();
        MakeExtensionKeys();
        std::wstring twins[] = {L"Wow6432Node\\CLSID\\" + control.clsid, L"Wow6432Node\\TypeLib\\" + control.typeLib};
        if (!RunsUnderWow64())
            for (const std::wstring& twin : twins) CreateKey(twin, L"32-bit view");
        guard.TakeCensus();

        UninstallControl(c.progId);

        // Under WOW64 the Wow6432Node paths of the fixed set name these same keys.
        guard.ExpectGoneExactly({control.progId, L"CLSID\\" + control.clsid, L"TypeLib\\" + control.typeLib});
        for (const std::wstring& twin : twins) EXPECT_EQ(KeyExists(twin), !RunsUnderWow64());
        control.Remove();
    }
}

// A tree that cannot be read cannot be saved: then nothing at all is deleted, and the
// user is told.
TEST_F(ControlUninstall, AnUnreadableTreeStopsTheWholeUninstall)
{
    ControlKeys control = {L"Zema.BulkUploadCtl", L"{5D3A71E4-C4B8-4A96-9E21-7F0B3C6D8E14}",
                           L"{5D3A71E2-C4B8-4A96-9E21-7F0B3C6D8E14}", {}};
    CreateKey(control.progId + L"\\CLSID", control.clsid.c_str());
    CreateKey(L"CLSID\\" + control.clsid + L"\\InprocServer32", L"C:\\windows\\system32\\control.ocx");
    {
        ResistingKey resisting(L"TypeLib\\" + control.typeLib);
        ASSERT_TRUE(resisting.Resists());
        guard.TakeCensus();

        UninstallControl(control.progId.c_str());

        guard.ExpectNothingChanged();
        std::vector<SeenMessageBox> seen = boxes.Seen();
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].text, control.progId + L"\r\n注册表备份无法保存，该控件未卸载！");
        EXPECT_EQ(NewBackupFiles(backups), std::vector<std::wstring>{});
    }
    control.Remove();
}

TEST_F(ControlUninstall, ACaseVariantOfASpecialProgIdTakesTheGeneralProcedure)
{
    for (const ControlKeys& control :
         {ControlKeys{L"ZEMA.BulkUploadCtl", L"{5D3A71E4-C4B8-4A96-9E21-7F0B3C6D8E14}",
                      L"{5D3A71E2-C4B8-4A96-9E21-7F0B3C6D8E14}", {L"{5D3A71E0-C4B8-4A96-9E21-7F0B3C6D8E14}"}},
          ControlKeys{L"Zema.StampServerCtl", L"{B7E2C90F-3F14-4D5B-8C6A-2E9F41A07B35}",
                      L"{B7E2C90D-3F14-4D5B-8C6A-2E9F41A07B35}", {L"{B7E2C900-3F14-4D5B-8C6A-2E9F41A07B35}"}}}) {
        SCOPED_TRACE(std::string(control.progId.begin(), control.progId.end()));
        control.Make();
        MakeExtensionKeys();
        guard.TakeCensus();

        UninstallControl(control.progId.c_str());

        guard.ExpectGoneExactly(control.Removed());
        control.Remove();
    }
}

TEST_F(ControlUninstall, WithoutAUsableClsidOnlyTheExtensionKeysAndTheProgIdGo)
{
    struct Case {
        const char* label;
        std::wstring progId;
        bool clsidKey;
        const wchar_t* clsidValue;  // nullptr: no default value
    };
    const std::wstring clsidBelowClass = General.clsid + L"\\InprocServer32";
    const std::wstring shortGuid = General.clsid.substr(0, 36) + L"}";
    const std::wstring longGuid = General.clsid + L"0";
    const std::wstring unbraced = General.clsid.substr(1, 36);
    const Case cases[] = {
        {"no CLSID key", L"ZEMA.UninstallOdd", false, nullptr},
        {"CLSID key without value", L"ZEMA.UninstallOdd", true, nullptr},
        {"empty CLSID value", L"ZEMA.UninstallOdd", true, L""},
        {"backslash", L"ZEMA.UninstallOdd", true, L"\\"},
        {"parent of the class roots", L"ZEMA.UninstallOdd", true, L"..\\.."},
        {"path below a class key", L"ZEMA.UninstallOdd", true, clsidBelowClass.c_str()},
        {"ProgID too long to read its CLSID", L"ZEMA." + std::wstring(244, L'O'), true, General.clsid.c_str()},
        // Texts that name a key of their own, made below as a class of General's GUID family.
        {"braces around no GUID", L"ZEMA.UninstallOdd", true, L"{x}"},
        {"the word CLSID", L"ZEMA.UninstallOdd", true, L"CLSID"},
        {"37 characters", L"ZEMA.UninstallOdd", true, shortGuid.c_str()},
        {"39 characters", L"ZEMA.UninstallOdd", true, longGuid.c_str()},
        {"no braces", L"ZEMA.UninstallOdd", true, unbraced.c_str()},
        {"a letter beyond F", L"ZEMA.UninstallOdd", true, L"{7E57000G-A1B2-4C3D-8E4F-0123456789AB}"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        General.Make();
        MakeExtensionKeys();
        CreateKey(c.progId, L"odd control");
        if (c.clsidKey) CreateKey(c.progId + L"\\CLSID", c.clsidValue);
        // Were the text used, this class would go and take General's type library and
        // interfaces with it.
        std::wstring oddClass = c.clsidValue && c.clsidValue[0] && !wcschr(c.clsidValue, L'\\')
                                    ? L"CLSID\\" + std::wstring(c.clsidValue)
                                    : L"";
        if (!oddClass.empty()) {
            CreateKey(oddClass + L"\\ProgID", c.progId.c_str());
            CreateKey(oddClass + L"\\TypeLib", General.typeLib.c_str());
        }
        guard.TakeCensus();

        UninstallControl(c.progId.c_str());

        guard.ExpectGoneExactly({L".qmc", L".qmx", c.progId});
        EXPECT_TRUE(KeyExists(L"CLSID\\" + General.clsid + L"\\InprocServer32"));
        RemoveTree(c.progId);
        RemoveTree(oddClass);
    }
}

TEST_F(ControlUninstall, AClassBelongsToTheFamilyByItsProgIdOrVersionIndependentProgId)
{
    struct Case {
        const char* label;
        const wchar_t* progId;              // of the class key; nullptr: no such key
        const wchar_t* independentProgId;   // likewise
        bool lowerCaseClsid;                // the ProgID's CLSID value in lower case
        bool ofTheFamily;
    };
    const Case cases[] = {
        {"both of the family", L"ZEMA.UninstallTestCtl.1", L"ZEMA.UninstallTestCtl", false, true},
        {"ProgID only", L"Zema.UninstallTestCtl.1", nullptr, false, true},
        {"version-independent ProgID only", L"Other.Control.1", L"PDF.ZUninstallTestCtl", false, true},
        {"a GUID in lower case is a GUID", L"ZEMA.UninstallTestCtl", nullptr, true, true},
        {"neither of the family", L"Other.Control.1", L"Other.Control", false, false},
        {"no ProgID values", nullptr, nullptr, false, false},
        {"prefix in another letter case", L"zema.UninstallTestCtl", L"PDF.z", false, false},
        {"prefix without its last character", L"ZEMA", L"PDF.", false, false},
        {"prefix further in", L" ZEMA.UninstallTestCtl", L"Other.ZEMA.Control", false, false},
    };
    const std::wstring classKey = L"CLSID\\" + General.clsid;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        General.Make();
        MakeExtensionKeys();
        RemoveTree(classKey + L"\\ProgID");
        RemoveTree(classKey + L"\\VersionIndependentProgID");
        if (c.progId) CreateKey(classKey + L"\\ProgID", c.progId);
        if (c.independentProgId) CreateKey(classKey + L"\\VersionIndependentProgID", c.independentProgId);
        if (c.lowerCaseClsid) {
            std::wstring lower = General.clsid;
            for (wchar_t& unit : lower) unit = static_cast<wchar_t>(towlower(unit));
            CreateKey(General.progId + L"\\CLSID", lower.c_str());
        }
        guard.TakeCensus();
        std::vector<std::wstring> classBefore = DumpTree(classKey);

        UninstallControl(General.progId.c_str());

        if (c.ofTheFamily) {
            guard.ExpectGoneExactly(General.Removed());
        } else {
            guard.ExpectGoneExactly({L".qmc", L".qmx", General.progId});
            EXPECT_EQ(DumpTree(classKey), classBefore);
        }
        General.Remove();
    }
}

namespace {
// Classes the platform registers in every prefix, read through the 32-bit view: the
// component categories manager of ole32.dll (no ProgID, no type library) and the file
// system object of scrrun.dll (ProgID "Scripting.FileSystemObject", a type library and
// interfaces of its own GUID family).
const wchar_t CategoriesManager[] = L"{0002E005-0000-0000-C000-000000000046}";
const wchar_t FileSystemObject[] = L"{0D43FE01-F093-11CF-8940-00A0C9054228}";

// The platform's keys that a crafted registration aims at, dumped whole.
std::vector<std::wstring> DumpPlatformKeys(const std::vector<std::wstring>& keys)
{
    std::vector<std::wstring> lines;
    for (const std::wstring& key : keys) {
        EXPECT_TRUE(KeyExists(key)) << "the prefix lacks " << std::string(key.begin(), key.end());
        std::vector<std::wstring> dump = DumpTree(key);
        lines.insert(lines.end(), dump.begin(), dump.end());
    }
    return lines;
}
}  // namespace

// A ProgID of the family can be written by anyone who may register a class (per user on
// Windows). When its CLSID names a class of the platform, that class, its type library,
// its interfaces and its server file are none of this control's business.
TEST_F(ControlUninstall, AClassOutsideTheFamilyIsNeitherDeletedNorUnregistered)
{
    struct Case {
        const wchar_t* progId;
        const wchar_t* clsid;
        bool special;  // removed by its fixed key set: the extension keys stay
    };
    for (const Case& c : {Case{L"ZEMA.Evil", CategoriesManager, false}, Case{L"ZEMA.Evil", FileSystemObject, false},
                          Case{L"Zema.BulkUploadCtl", CategoriesManager, true},
                          Case{L"ZEMA.StampServerCtl", FileSystemObject, true}}) {
        SCOPED_TRACE(std::string(c.progId, c.progId + wcslen(c.progId)) + " " +
                     std::string(c.clsid, c.clsid + wcslen(c.clsid)));
        CreateKey(c.progId, L"evil");
        CreateKey(std::wstring(c.progId) + L"\\CLSID", c.clsid);
        MakeExtensionKeys();
        const std::vector<std::wstring> platform = {L"CLSID\\" + std::wstring(c.clsid),
                                                    L"TypeLib\\{420B2830-E718-11CF-893D-00A0C9054228}",
                                                    L"Interface\\{00000000-0000-0000-C000-000000000046}"};
        std::vector<std::wstring> before = DumpPlatformKeys(platform);
        guard.TakeCensus();

        UninstallControl(c.progId);

        if (c.special)
            guard.ExpectGoneExactly({c.progId});
        else
            guard.ExpectGoneExactly({L".qmc", L".qmx", c.progId});
        EXPECT_EQ(DumpPlatformKeys(platform), before);
        RemoveTree(c.progId);
    }
}

// A class of the family whose TypeLib value names the platform's reserved OLE range (the
// GUIDs of IUnknown, IDispatch and the standard OLE type library) or the zero GUID: the
// purge would take every key of that range.
TEST_F(ControlUninstall, AReservedOrZeroTypeLibGuidPurgesNothing)
{
    // The platform has no key of the zero GUID's family: this one shows whether it is purged.
    const std::wstring zeroFamilyWitness = L"Interface\\{5E5E0005-0000-0000-0000-000000000000}";
    CreateKey(zeroFamilyWitness, L"witness");
    const std::vector<std::wstring> platform = {L"Interface\\{00000000-0000-0000-C000-000000000046}",
                                                L"Interface\\{00020400-0000-0000-C000-000000000046}",
                                                L"TypeLib\\{00020430-0000-0000-C000-000000000046}",
                                                zeroFamilyWitness};
    for (const wchar_t* typeLib : {L"{00000000-0000-0000-C000-000000000046}", L"{00020430-0000-0000-c000-000000000046}",
                                   L"{00000000-0000-0000-0000-000000000000}"}) {
        SCOPED_TRACE(std::string(typeLib, typeLib + wcslen(typeLib)));
        General.Make();
        MakeExtensionKeys();
        CreateKey(L"CLSID\\" + General.clsid + L"\\TypeLib", typeLib);
        std::vector<std::wstring> before = DumpPlatformKeys(platform);
        guard.TakeCensus();

        UninstallControl(General.progId.c_str());

        // The control's own type library and interfaces are not named by the value.
        guard.ExpectGoneExactly({L".qmc", L".qmx", General.progId, L"CLSID\\" + General.clsid});
        EXPECT_EQ(DumpPlatformKeys(platform), before);
        General.Remove();
    }
    RemoveTree(zeroFamilyWitness);
}

TEST_F(ControlUninstall, AProgIdThatIsNoSingleKeyNameDeletesNothing)
{
    General.Make();
    MakeExtensionKeys();
    CreateKey(General.progId + L"\\Sub");
    guard.TakeCensus();
    for (const wchar_t* progId : {L"", L"\\", L"\\CLSID", L"ZEMA.UninstallTestCtl\\Sub"}) UninstallControl(progId);
    guard.ExpectNothingChanged();
    EXPECT_TRUE(KeyExists(General.progId + L"\\Sub"));
}

TEST(Wow64Detection, AgreesWithThePlatform)
{
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_EQ(DetectWow64(), wow64 != FALSE);
}

// The class's own type library decides whether its GUID family is the control's: one that
// names other files belongs to some other program, the platform's among them.
TEST_F(ControlUninstall, TheGuidFamilyIsPurgedOnlyWhenTheClassTypeLibraryNamesItsServer)
{
    struct Case {
        const char* label;
        const wchar_t* typeLibPath;  // the win32 path of the type library; nullptr: no TypeLib key
        bool purged;
    };
    const Case cases[] = {
        {"names the server", L"C:\\windows\\system32\\control.ocx", true},
        {"names the server in other letter case", L"C:\\WINDOWS\\System32\\CONTROL.OCX", true},
        {"names the server with a resource index", L"C:\\windows\\system32\\control.ocx\\2", true},
        {"no type library key", nullptr, true},
        {"names another file", L"C:\\windows\\system32\\other.tlb", false},
        {"names a file of the same name elsewhere", L"C:\\elsewhere\\control.ocx", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        General.Make();
        MakeExtensionKeys();
        RemoveTree(L"TypeLib\\" + General.typeLib);
        if (c.typeLibPath) CreateKey(L"TypeLib\\" + General.typeLib + L"\\1.0\\0\\win32", c.typeLibPath);
        guard.TakeCensus();

        UninstallControl(General.progId.c_str());

        std::set<std::wstring> gone = {L".qmc", L".qmx", General.progId, L"CLSID\\" + General.clsid};
        if (c.purged) {
            for (const std::wstring& iid : General.interfaces) gone.insert(L"Interface\\" + iid);
            if (c.typeLibPath) gone.insert(L"TypeLib\\" + General.typeLib);
        }
        guard.ExpectGoneExactly(gone);
        EXPECT_TRUE(boxes.Seen().empty());
        General.Remove();
    }
}

// The platform's HTML type library and its 282 interfaces form one GUID family: a class
// of the family naming that library must not purge it.
TEST_F(ControlUninstall, AClassNamingAPlatformTypeLibraryLeavesItsFamilyAlone)
{
    const std::wstring platformTypeLib = L"{3050F1C5-98B5-11CF-BB82-00AA00BDCE0B}";
    const std::wstring familyTail = platformTypeLib.substr(9);
    auto familyKeys = [&](const wchar_t* root) {
        std::vector<std::wstring> keys;
        for (const std::wstring& name : SubkeyNames(root))
            if (name.size() == 38 && name.substr(9) == familyTail) keys.push_back(name);
        return keys;
    };
    ASSERT_TRUE(KeyExists(L"TypeLib\\" + platformTypeLib)) << "the prefix has no HTML type library";
    const std::vector<std::wstring> interfaces = familyKeys(L"Interface");
    const std::vector<std::wstring> typeLibs = familyKeys(L"TypeLib");
    ASSERT_GT(interfaces.size(), 100u);
    General.Make();
    MakeExtensionKeys();
    CreateKey(L"CLSID\\" + General.clsid + L"\\TypeLib", platformTypeLib.c_str());
    guard.TakeCensus();

    UninstallControl(General.progId.c_str());

    EXPECT_EQ(familyKeys(L"Interface"), interfaces);
    EXPECT_EQ(familyKeys(L"TypeLib"), typeLibs);
    guard.ExpectGoneExactly({L".qmc", L".qmx", General.progId, L"CLSID\\" + General.clsid});
    General.Remove();
}

namespace {
// HKEY_CLASSES_ROOT of this process made a view of `key` while it lives, as the merged view
// of Windows shows the user's own registrations over the machine's.
class MergedViewStandIn {
public:
    explicit MergedViewStandIn(HKEY key) { RegOverridePredefKey(HKEY_CLASSES_ROOT, key); }
    ~MergedViewStandIn() { RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr); }
};

const wchar_t UserClasses[] = L"Software\\ZemaTests\\UserClasses";

void SetUserDefault(const std::wstring& path, const std::wstring& value)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(UserClasses) + L"\\" + path).c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

std::vector<std::wstring> DumpUserClasses()
{
    std::vector<std::wstring> lines;
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, UserClasses, 0, KEY_READ, &key) != ERROR_SUCCESS) return lines;
    {
        MergedViewStandIn merged(key);
        lines = DumpTree(L"ZEMA.UninstallTestCtl");
        std::vector<std::wstring> classes = DumpTree(L"CLSID");
        lines.insert(lines.end(), classes.begin(), classes.end());
    }
    RegCloseKey(key);
    return lines;
}
}  // namespace

// On Windows HKEY_CLASSES_ROOT lays the user's own registrations, which the user can write
// without administrator rights, over the machine's. Wine does not merge; here this process's
// HKEY_CLASSES_ROOT is made to show a user's registration instead. The uninstall reads
// and deletes the machine's registration only, and never runs the user's server.
TEST_F(ControlUninstall, TheUserHalfOfTheMergedViewIsNeitherReadNorChanged)
{
    RegDeleteTreeW(HKEY_CURRENT_USER, UserClasses);
    // The user's own server: a copy of the fixture, which records whether it was run.
    const std::wstring planted = CopyFixture(MakeTestFolder(L"merged-view"), L"ZEMA.Planted.ocx");
    General.Make();
    MakeExtensionKeys();
    SetUserDefault(General.progId + L"\\CLSID", General.clsid);
    SetUserDefault(L"CLSID\\" + General.clsid + L"\\ProgID", General.progId);
    SetUserDefault(L"CLSID\\" + General.clsid + L"\\InprocServer32", planted);
    const std::vector<std::wstring> userBefore = DumpUserClasses();
    guard.TakeCensus();
    HKEY user;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, UserClasses, 0, KEY_ALL_ACCESS, &user), ERROR_SUCCESS);
    {
        MergedViewStandIn merged(user);
        UninstallControl(General.progId.c_str());
    }
    RegCloseKey(user);

    guard.ExpectGoneExactly(General.Removed());
    EXPECT_EQ(DumpUserClasses(), userBefore);
    EXPECT_EQ(ReadLines(FixtureCallRecordPath(planted)), std::vector<std::wstring>{}) << "the user's server ran";
    RegDeleteTreeW(HKEY_CURRENT_USER, UserClasses);
}
