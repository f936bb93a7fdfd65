// The fixture COM server registered through the real regsvr32, then uninstalled through
// the Uninstall page: the keys it wrote go, and its server file is asked to unregister.
#include "system/system.h"
#include "tests/fixtures/fixture_identity.h"
#include "tests/support/child_process.h"
#include "tests/support/machine_variable.h"
#include "tests/support/message_box_answerer.h"
#include "tests/uninstall/backup_files.h"
#include "tests/uninstall/end_to_end_fixture.h"
#include "tests/uninstall/registry_fixture.h"
#include "uninstall/uninstall.h"

#include <algorithm>
#include <ctime>

TEST_F(UninstallEndToEnd, ARegisteredControlIsListedThenRemovedAndUnregistered)
{
    // Its GUID family is one that the sentinels shadow.
    Register(L"ZEMA.UninstallEndToEnd+tlb=7E570012-B1B2-4C3D-8E4F-0123456789AB.ocx");
    Click(QueryButton);
    ASSERT_EQ(ControlListEntries(), std::vector<std::wstring>{id.progId});
    guard.TakeCensus();

    {
        MessageBoxAnswerer answerer(IDYES);
        DoubleClickOn(id.progId);
        ASSERT_EQ(answerer.Seen().size(), 1u);
        EXPECT_EQ(answerer.Seen()[0].text, L"   是否卸载？");
    }

    guard.ExpectGoneExactly({id.progId, L"CLSID\\" + id.clsid, L"TypeLib\\" + id.typeLib,
                             L"Interface\\" + id.interfaces[0], L"Interface\\" + id.interfaces[1]});
    EXPECT_TRUE(ControlListEntries().empty());
    // Registration unregisters first, then registers; the uninstall ran the server path once more.
    EXPECT_EQ(CallRecord(path), (std::vector<std::wstring>{L"unregister ok", L"register ok", L"unregister ok"}));

    MessageBoxAnswerer answerer(IDOK);
    Click(QueryButton);
    ASSERT_EQ(answerer.Seen().size(), 1u);
    EXPECT_EQ(answerer.Seen()[0].text, L"当前电脑没有安装控件！");
}

TEST_F(UninstallEndToEnd, ASpecialControlLosesItsFixedKeysAndItsServerIsAskedToUnregister)
{
    // The server refuses to unregister, so the keys it would remove itself show what the
    // fixed key set leaves alone.
    Register(L"Zema.BulkUploadCtl+failunreg+tlb=5D3A71E2-C4B8-4A96-9E21-7F0B3C6D8E14"
             L"+clsid=5D3A71E4-C4B8-4a96-9E21-7F0B3C6D8E14.ocx",
             false);
    Click(QueryButton);
    ASSERT_EQ(ControlListEntries(), std::vector<std::wstring>{L"Zema.BulkUploadCtl"});
    guard.TakeCensus();

    {
        MessageBoxAnswerer answerer(IDYES);
        DoubleClickOn(id.progId);
    }

    guard.ExpectGoneExactly({id.progId, L"CLSID\\" + id.clsid, L"TypeLib\\" + id.typeLib});
    for (const std::wstring& iid : id.interfaces) EXPECT_TRUE(KeyExists(L"Interface\\" + iid));
    EXPECT_EQ(CallRecord(path), (std::vector<std::wstring>{L"register ok", L"unregister failed"}));
}

namespace {
void SetServerValue(const std::wstring& clsid, DWORD type, const std::wstring& value)
{
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, (L"CLSID\\" + clsid + L"\\InprocServer32").c_str(), 0,
                            KEY_SET_VALUE, &key),
              ERROR_SUCCESS);
    RegSetValueExW(key, nullptr, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}
}  // namespace

// Installers store the server path in quotation marks or with %NAME% references. The
// program unquotes it and expands it itself with the machine's variables (never the
// user's, which this process inherits); what comes out must be a plain path.
TEST_F(UninstallEndToEnd, AQuotedOrExpandableServerPathIsUnregisteredWhenItComesOutPlain)
{
    struct Case {
        const char* label;
        DWORD type;
        // The stored value, "<folder>" and "<name>" standing for the copy's folder (without
        // its last backslash) and file name.
        const wchar_t* stored;
        bool unregistered;
    };
    const Case cases[] = {
        {"quoted", REG_SZ, L"\"<folder>\\<name>\"", true},
        {"variable", REG_EXPAND_SZ, L"%ZEMA_TEST_FOLDER%\\<name>", true},
        {"quoted variable", REG_EXPAND_SZ, L"\"%ZEMA_TEST_FOLDER%\\<name>\"", true},
        {"variable as plain text", REG_SZ, L"%ZEMA_TEST_FOLDER%\\<name>", true},
        {"unknown variable", REG_EXPAND_SZ, L"%ZEMA_TEST_NO_SUCH_VARIABLE%\\<name>", false},
        {"the user's variable", REG_EXPAND_SZ, L"%ZEMA_TEST_USERS%\\<name>", false},
        {"variable holding a quotation mark", REG_EXPAND_SZ, L"%ZEMA_TEST_QUOTE%\\<name>", false},
        {"variable holding a variable", REG_EXPAND_SZ, L"%ZEMA_TEST_NESTED%\\<name>", false},
        {"variable holding a line break", REG_EXPAND_SZ, L"%ZEMA_TEST_BREAK%\\<name>", false},
        {"quotation mark inside", REG_SZ, L"\"<folder>\"\\<name>", false},
        {"unbalanced quotation mark", REG_SZ, L"\"<folder>\\<name>", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::wstring name = L"ZEMA.UninstallServerPath.ocx";
        Register(name, false);
        std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
        ScopedMachineVariable machineFolder(L"ZEMA_TEST_FOLDER", REG_SZ, folder);
        ScopedMachineVariable quote(L"ZEMA_TEST_QUOTE", REG_SZ, folder + L"\" & \"");
        ScopedMachineVariable nested(L"ZEMA_TEST_NESTED", REG_SZ, L"%ZEMA_TEST_FOLDER%");
        ScopedMachineVariable lineBreak(L"ZEMA_TEST_BREAK", REG_SZ, folder + L"\r\n");
        // The user's own variable of the same name leads nowhere.
        SetEnvironmentVariableW(L"ZEMA_TEST_USERS", folder.c_str());
        std::wstring stored = c.stored;
        const std::pair<std::wstring, std::wstring> fields[] = {{L"<folder>", folder}, {L"<name>", name}};
        for (const auto& field : fields)
            for (size_t at; (at = stored.find(field.first)) != std::wstring::npos;)
                stored.replace(at, field.first.size(), field.second);
        SetServerValue(id.clsid, c.type, stored);
        guard.TakeCensus();

        UninstallControl(id.progId.c_str());

        // A server path that does not come out plain names no file: the type library, which
        // names the control's file, cannot be shown to be the control's own, and its GUID
        // family stays.
        std::set<std::wstring> gone = {id.progId, L"CLSID\\" + id.clsid};
        if (c.unregistered)
            gone.insert({L"TypeLib\\" + id.typeLib, L"Interface\\" + id.interfaces[0], L"Interface\\" + id.interfaces[1]});
        guard.ExpectGoneExactly(gone);
        std::vector<std::wstring> record = {L"register ok"};
        if (c.unregistered) record.push_back(L"unregister ok");
        EXPECT_EQ(CallRecord(path), record);
        Forget();
    }
    SetEnvironmentVariableW(L"ZEMA_TEST_USERS", nullptr);
}

// A specially handled ProgID whose CLSID names a class outside the family: the fixed keys
// go as always, but that class's server is not asked to unregister.
TEST_F(UninstallEndToEnd, ASpecialControlWhoseClassIsOutsideTheFamilyKeepsThatServer)
{
    // Its own ProgID is not of the family; its GUIDs are the fixed ones of the special control.
    Register(L"Other.StampServer+tlb=B7E2C90D-3F14-4D5B-8C6A-2E9F41A07B35"
             L"+clsid=B7E2C90F-3F14-4d5b-8C6A-2E9F41A07B35.ocx",
             false);
    CreateKey(L"ZEMA.StampServerCtl\\CLSID", id.clsid.c_str());
    Click(QueryButton);
    ASSERT_EQ(ControlListEntries(), std::vector<std::wstring>{L"ZEMA.StampServerCtl"});
    guard.TakeCensus();

    {
        MessageBoxAnswerer answerer(IDYES);
        DoubleClickOn(L"ZEMA.StampServerCtl");
    }

    guard.ExpectGoneExactly({L"ZEMA.StampServerCtl", L"CLSID\\" + id.clsid, L"TypeLib\\" + id.typeLib});
    EXPECT_TRUE(KeyExists(id.progId));
    EXPECT_EQ(CallRecord(path), std::vector<std::wstring>{L"register ok"});
    RemoveTree(L"ZEMA.StampServerCtl");
}

namespace {
long long Now()
{
    return static_cast<long long>(time(nullptr));
}
}  // namespace

TEST_F(UninstallEndToEnd, AnUninstallIsUndoneByImportingItsBackup)
{
    Register(L"ZEMA.BackupRoundTrip+tlb=7E570012-B1B2-4C3D-8E4F-0123456789AB.ocx", false);
    MakeExtensionKeys();
    Click(QueryButton);
    ASSERT_EQ(ControlListEntries(), std::vector<std::wstring>{id.progId});
    const std::vector<std::wstring> registered = UninstallRootsDump({id.progId});
    long long start = Now();

    {
        MessageBoxAnswerer answerer(IDYES);
        DoubleClickOn(id.progId);
        EXPECT_EQ(answerer.Seen().size(), 1u);
    }

    ASSERT_FALSE(KeyExists(id.progId));
    EXPECT_FALSE(KeyExists(L".qmc"));
    std::vector<std::wstring> written = NewBackupFiles(backups);
    ASSERT_EQ(written.size(), 1u);
    EXPECT_TRUE(IsBackupNamed(written[0], id.progId, start, Now()));
    // Nothing is left to delete, so a second uninstall writes nothing.
    UninstallControl(id.progId.c_str());
    EXPECT_EQ(NewBackupFiles(backups), written);

    EXPECT_EQ(ImportBackup(written[0]), 0u);
    EXPECT_EQ(DumpDifference(UninstallRootsDump({id.progId}), registered), "");
}

TEST_F(UninstallEndToEnd, UninstallAllWritesOneBackupPerControlAndTheyUndoIt)
{
    const std::vector<std::wstring> names = {L"ZEMA.BackupAllA.ocx", L"Zema.BackupAllB.ocx", L"PDF.ZBackupAllC.dll"};
    std::vector<std::wstring> progIds;
    for (const std::wstring& name : names) {
        Register(name, false);
        progIds.push_back(id.progId);
    }
    Click(QueryButton);
    ASSERT_EQ(ControlListEntries().size(), names.size());
    const std::vector<std::wstring> registered = UninstallRootsDump(progIds);
    long long start = Now();

    {
        MessageBoxAnswerer answerer(IDYES);
        Click(UninstallAllButton);
        EXPECT_EQ(answerer.Seen().size(), 1u);
    }

    EXPECT_TRUE(ControlListEntries().empty());
    std::vector<std::wstring> written = NewBackupFiles(backups);
    ASSERT_EQ(written.size(), names.size());
    for (const std::wstring& progId : progIds)
        EXPECT_EQ(std::count_if(written.begin(), written.end(),
                                [&](const std::wstring& file) { return IsBackupNamed(file, progId, start, Now()); }),
                  1)
            << std::string(progId.begin(), progId.end());
    for (const std::wstring& file : written) EXPECT_EQ(ImportBackup(file), 0u);
    EXPECT_EQ(DumpDifference(UninstallRootsDump(progIds), registered), "");
}

// The two controls removed by fixed key sets, each registered by a server that refuses to
// unregister: what a server removes itself is not in a backup. The first CLSID differs in
// letter case from the fixed key path that names it; the backup keeps the key's own name.
class SpecialControlBackup : public UninstallEndToEnd, public ::testing::WithParamInterface<const wchar_t*> {};

TEST_P(SpecialControlBackup, AnUninstallIsUndoneByImportingItsBackup)
{
    Register(GetParam(), false);
    Click(QueryButton);
    const std::vector<std::wstring> registered = UninstallRootsDump({id.progId});

    {
        MessageBoxAnswerer answerer(IDYES);
        DoubleClickOn(id.progId);
    }

    ASSERT_FALSE(KeyExists(L"CLSID\\" + id.clsid));
    std::vector<std::wstring> written = NewBackupFiles(backups);
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(ImportBackup(written[0]), 0u);
    EXPECT_EQ(DumpDifference(UninstallRootsDump({id.progId}), registered), "");
}

INSTANTIATE_TEST_SUITE_P(
    BothSpecialControls, SpecialControlBackup,
    ::testing::Values(L"Zema.BulkUploadCtl+failunreg+tlb=5D3A71E2-C4B8-4A96-9E21-7F0B3C6D8E14"
                      L"+clsid=5D3A71E4-C4B8-4A96-9E21-7F0B3C6D8E14.ocx",
                      L"ZEMA.StampServerCtl+failunreg+tlb=B7E2C90D-3F14-4D5B-8C6A-2E9F41A07B35"
                      L"+clsid=B7E2C90F-3F14-4d5b-8C6A-2E9F41A07B35.ocx"));

TEST_F(UninstallEndToEnd, WhenTheBackupCannotBeSavedNothingIsUninstalledAndTheUserIsTold)
{
    Register(L"ZEMA.BackupRefused.ocx", false);
    MakeExtensionKeys();
    Click(QueryButton);
    const std::vector<std::wstring> registered = UninstallRootsDump({id.progId});
    BlockedBackupFolder blocked;
    ASSERT_TRUE(blocked.Blocks());

    MessageBoxAnswerer answerer(IDYES);
    DoubleClickOn(id.progId);

    std::vector<SeenMessageBox> seen = answerer.Seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].text, id.progId + L"\r\n注册表备份无法保存，该控件未卸载！");
    EXPECT_EQ(seen[1].caption, L"提示");
    EXPECT_EQ(seen[1].owner, window);
    EXPECT_FALSE(seen[1].hasYesNo);
    EXPECT_EQ(DumpDifference(UninstallRootsDump({id.progId}), registered), "");
    // Nor was the server asked to remove its keys.
    EXPECT_EQ(CallRecord(path), std::vector<std::wstring>{L"register ok"});
    EXPECT_EQ(ControlListEntries(), std::vector<std::wstring>{id.progId});
}

// Two controls whose type libraries are of one GUID family, removed with "卸载全部" and
// restored from their backups: the registry is what it was, byte for byte. With "+full"
// each control's own unregistration removes more than the uninstall deletes (its
// versioned ProgID, AppID, second type-library version and an interface of another
// family), and the backups bring that back too.
class FamilyRestore : public UninstallEndToEnd, public ::testing::WithParamInterface<const wchar_t*> {};

TEST_P(FamilyRestore, UninstallAllThenImportingEveryBackupGivesTheRegistryAsItWas)
{
    const std::wstring marker = GetParam();
    std::vector<FixtureIdentity> ids;
    // The control uninstalled first has the type library that the enumeration meets second:
    // a purge that deletes while it enumerates steps over it, and the control's own
    // unregistration then removes it.
    for (const wchar_t* name : {L"ZEMA.FamilyOne+tlb=7E5700B0-C1C2-4C3D-8E4F-0123456789AB",
                                L"ZEMA.FamilyTwo+tlb=7E5700A0-C1C2-4C3D-8E4F-0123456789AB"}) {
        Register(name + marker + L".ocx");
        ids.push_back(id);
    }
    const std::vector<std::wstring> listed = Query();
    const std::vector<std::wstring> registered = UninstallRootsDump(listed);

    {
        MessageBoxAnswerer answerer(IDYES);
        Click(UninstallAllButton);
        EXPECT_EQ(answerer.Seen().size(), 1u);
    }

    EXPECT_TRUE(ControlListEntries().empty());
    for (const FixtureIdentity& control : ids) {
        for (const std::wstring& key : {L"CLSID\\" + control.clsid, L"TypeLib\\" + control.typeLib,
                                        L"Interface\\" + control.interfaces[0], L"Interface\\" + control.interfaces[1]})
            EXPECT_FALSE(KeyExists(key)) << std::string(key.begin(), key.end());
        // What only the control's own unregistration removes.
        if (control.full) {
            for (const std::wstring& key : {control.versionedProgId, L"AppID\\" + control.appId,
                                            L"Interface\\" + control.outsideInterface})
                EXPECT_FALSE(KeyExists(key)) << std::string(key.begin(), key.end());
        }
    }
    for (const std::wstring& copy : copies)
        EXPECT_EQ(CallRecord(copy), (std::vector<std::wstring>{L"unregister ok", L"register ok", L"unregister ok"}));
    std::vector<std::wstring> written = NewBackupFiles(backups);
    ASSERT_EQ(written.size(), ids.size());
    for (const std::wstring& file : written) EXPECT_EQ(ImportBackup(file), 0u);
    EXPECT_EQ(DumpDifference(UninstallRootsDump(listed), registered), "");
}

INSTANTIATE_TEST_SUITE_P(PlainAndFullRegistrations, FamilyRestore, ::testing::Values(L"", L"+full"));

// A 64-bit control dropped on the window is registered by the 32-bit regsvr32 handing it
// to the 64-bit one, in the 64-bit view. It is removed from there, and unregistered.
TEST_F(UninstallEndToEnd, A64BitControlIsRemovedFromThe64BitViewAndUnregisteredThere)
{
    if (!RunsUnderWow64()) GTEST_SKIP() << "a 32-bit system has no 64-bit view";
    Register(L"ZEMA.Wide64+full.ocx", true, true);
    const REGSAM view64 = KEY_WOW64_64KEY;
    ASSERT_FALSE(KeyExistsIn(0, L"CLSID\\" + id.clsid)) << "registered in the 32-bit view";
    const std::vector<std::wstring> listed = Query();
    ASSERT_EQ(listed, (std::vector<std::wstring>{id.progId, id.versionedProgId}));
    const std::vector<std::wstring> registered = UninstallRootsDump(listed);

    {
        MessageBoxAnswerer answerer(IDYES);
        Click(UninstallAllButton);
        EXPECT_EQ(answerer.Seen().size(), 1u);
    }

    EXPECT_TRUE(ControlListEntries().empty());
    for (const std::wstring& key : {L"CLSID\\" + id.clsid, L"Interface\\" + id.interfaces[0],
                                    L"Interface\\" + id.interfaces[1], L"Interface\\" + id.outsideInterface,
                                    L"TypeLib\\" + id.typeLib, L"AppID\\" + id.appId})
        EXPECT_FALSE(KeyExistsIn(view64, key)) << std::string(key.begin(), key.end());
    EXPECT_EQ(CallRecord(path), (std::vector<std::wstring>{L"unregister ok", L"register ok", L"unregister ok"}));
    std::vector<std::wstring> written = NewBackupFiles(backups);
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(ImportBackup(written[0]), 0u);
    EXPECT_EQ(DumpDifference(UninstallRootsDump(listed), registered), "");
}
