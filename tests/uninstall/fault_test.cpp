// Faults met by a whole uninstall through the Uninstall page: a tree that cannot be saved
// whole, a registry link in a tree, and a kill at any moment. Whatever happens, either
// nothing is deleted and no backup file is left, or a complete backup file brings back
// everything that went, what the control's own unregistration removed included.
#include "tests/registration/registration_test_support.h"
#include "tests/support/child_process.h"
#include "tests/support/message_box_answerer.h"
#include "tests/support/native_registry.h"
#include "tests/uninstall/backup_files.h"
#include "tests/uninstall/end_to_end_fixture.h"
#include "tests/uninstall/registry_fixture.h"
#include "uninstall/uninstall.h"

#include <cctype>
#include <chrono>
#include <functional>
#include <random>

namespace {
const wchar_t LinkTargetPath[] = L"ZemaTests\\UninstallLinkTarget";

// A path of `levels` levels below `root`, each "\Level<nnn>".
std::wstring DeepPath(const std::wstring& root, int levels)
{
    std::wstring path = root;
    wchar_t level[16];
    for (int i = 0; i < levels; ++i) {
        swprintf(level, 16, L"\\Level%03d", i);
        path += level;
    }
    return path;
}

struct FaultCase {
    const char* label;
    // Plants what cannot be saved in the registration of the control `id`; `target` is the
    // native name of a tree elsewhere below HKEY_LOCAL_MACHINE\Software.
    std::function<void(const FixtureIdentity& id, const std::wstring& target)> plant;
    std::function<void(const FixtureIdentity& id)> remove;
};

std::vector<FaultCase> FaultCases()
{
    auto nothing = [](const FixtureIdentity&) {};
    return {
        {"a key name with a line break", [](const FixtureIdentity& id, const std::wstring&) {
             CreateKey(id.progId + L"\\Line\r\nBreak", L"x");
         }, nothing},
        {"a value name with a line break in the class key", [](const FixtureIdentity& id, const std::wstring&) {
             SetDwordValue(L"CLSID\\" + id.clsid, L"Line\nBreak", 1);
         }, nothing},
        {"a value name with a NUL inside", [](const FixtureIdentity& id, const std::wstring&) {
             CreateKey(id.progId + L"\\z", L"written after the value");
             ASSERT_TRUE(SetValueWithCountedName(id.progId, std::wstring(L"v\0w", 3), L"x"));
         }, nothing},
        {"a key named k<NUL>tail beside a key k", [](const FixtureIdentity& id, const std::wstring&) {
             CreateKey(id.progId + L"\\k", L"the key k");
             ASSERT_TRUE(CreateKeyWithCountedName(id.progId, std::wstring(L"k\0tail", 6)));
         },
         [](const FixtureIdentity& id) { RemoveKeyWithCountedName(id.progId, std::wstring(L"k\0tail", 6)); }},
        {"a path of 102 levels and 944 characters", [](const FixtureIdentity& id, const std::wstring&) {
             CreateKey(DeepPath(L"CLSID\\" + id.clsid, 100), L"deepest");
         }, nothing},
        {"two levels of 255-character names", [](const FixtureIdentity& id, const std::wstring&) {
             CreateKey(id.progId + L"\\" + std::wstring(255, L'L') + L"\\" + std::wstring(255, L'M'), L"longest");
         }, nothing},
        {"a registry link below the ProgID", [](const FixtureIdentity& id, const std::wstring& target) {
             ASSERT_TRUE(MakeRegistryLink(id.progId + L"\\Link", target));
         },
         [](const FixtureIdentity& id) { RemoveRegistryLink(id.progId + L"\\Link"); }},
        {"a registry link below the class key", [](const FixtureIdentity& id, const std::wstring& target) {
             ASSERT_TRUE(MakeRegistryLink(L"CLSID\\" + id.clsid + L"\\Link", target));
         },
         [](const FixtureIdentity& id) { RemoveRegistryLink(L"CLSID\\" + id.clsid + L"\\Link"); }},
    };
}

class UninstallFaults : public UninstallEndToEnd {
protected:
    void TearDown() override
    {
        RemoveLinkTarget(LinkTargetPath);
        UninstallEndToEnd::TearDown();
    }
};
}  // namespace

// One case of FaultCases() each, so that each has the time of a test of its own.
class UnsaveableTree : public UninstallFaults, public ::testing::WithParamInterface<size_t> {};

// A tree that cannot be saved whole keeps the whole control: nothing is deleted, its
// server is not asked to unregister (it would delete the tree that is in no backup), no
// file is left and the box says so. A link is never followed to what it leads to.
TEST_P(UnsaveableTree, KeepsTheWholeControl)
{
    const FaultCase c = FaultCases()[GetParam()];
    SCOPED_TRACE(c.label);
    Register(L"ZEMA.Unsaveable.ocx", false);
    const std::wstring target = MakeLinkTarget(LinkTargetPath);
    const std::vector<std::wstring> targetBefore = DumpLinkTarget(LinkTargetPath);
    c.plant(id, target);
    ASSERT_EQ(Query(), std::vector<std::wstring>{id.progId});
    const std::vector<std::wstring> registered = UninstallRootsDump({id.progId});

    MessageBoxAnswerer answerer(IDYES);
    DoubleClickOn(id.progId);

    std::vector<SeenMessageBox> seen = answerer.Seen();
    EXPECT_EQ(seen.size(), 2u);
    if (seen.size() == 2) {
        EXPECT_EQ(seen[1].text, id.progId + L"\r\n注册表备份无法保存，该控件未卸载！");
    }
    EXPECT_EQ(DumpDifference(UninstallRootsDump({id.progId}), registered), "");
    EXPECT_EQ(DumpLinkTarget(LinkTargetPath), targetBefore);
    EXPECT_EQ(CallRecord(path), std::vector<std::wstring>{L"register ok"});
    EXPECT_EQ(NewBackupFiles(backups), std::vector<std::wstring>{});
    EXPECT_EQ(ControlListEntries(), std::vector<std::wstring>{id.progId});
    c.remove(id);
    Forget();
}

INSTANTIATE_TEST_SUITE_P(EveryFault, UnsaveableTree, ::testing::Range<size_t>(0, FaultCases().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             std::string name;
                             for (const char* c = FaultCases()[info.param].label; *c; ++c)
                                 if (isalnum(static_cast<unsigned char>(*c))) name += *c;
                             return name;
                         });

// A ProgID of the family that is itself a registry link leads nowhere: what it links to,
// anywhere below HKEY_LOCAL_MACHINE\Software, stays.
TEST_F(UninstallFaults, AProgIdThatIsALinkLeavesWhatItLeadsTo)
{
    const std::wstring progId = L"ZEMA.LinkedProgId";
    const std::wstring target = MakeLinkTarget(LinkTargetPath);
    const std::vector<std::wstring> targetBefore = DumpLinkTarget(LinkTargetPath);
    ASSERT_TRUE(MakeRegistryLink(progId, target));
    ASSERT_EQ(Query(), std::vector<std::wstring>{progId});

    {
        MessageBoxAnswerer answerer(IDYES);
        DoubleClickOn(progId);
        EXPECT_EQ(answerer.Seen().size(), 2u);
    }

    EXPECT_EQ(DumpLinkTarget(LinkTargetPath), targetBefore);
    EXPECT_TRUE(IsLinkKey(HKEY_CLASSES_ROOT, progId));
    RemoveRegistryLink(progId);
}

namespace {
std::wstring DriverCommand(const std::wstring& arguments)
{
    return L"\"" + BinFolder() + L"uninstall_driver.exe\" " + arguments;
}

// Imports every backup file that is not in `before` and removes them all; the number of
// complete backups among them.
int ImportAndRemoveNewBackups(const std::set<std::wstring>& before)
{
    int imported = 0;
    for (const std::wstring& name : NewBackupFiles(before)) {
        bool backup = name.size() > 4 && name.compare(name.size() - 4, 4, L".reg") == 0;
        if (backup) {
            std::wstring text = ReadBackupFile(name);
            EXPECT_EQ(text.substr(text.size() < 4 ? 0 : text.size() - 4), L"\r\n\r\n")
                << "a backup file ends in the middle of a key";
            EXPECT_EQ(ImportBackup(name), 0u);
            ++imported;
        }
        DeleteFileW((BackupFolder() + name).c_str());
    }
    return imported;
}
}  // namespace

// Killed at random moments (the uninstall and the regsvr32 it started): a complete backup
// file exists for everything that went, or nothing went. The moments are drawn anew on
// every run; the seed is printed on a failure. scripts/fault-study-uninstall.sh runs
// many more trials on larger controls.
TEST_F(UninstallFaults, AnUninstallKilledAtAnyMomentLeavesNothingThatABackupDoesNotBringBack)
{
    Register(L"ZEMA.KillOne+full+bulk=1500.ocx", false);
    Register(L"Zema.KillTwo+bulk=1500.ocx", false);
    const std::vector<std::wstring> listed = Query();
    const std::vector<std::wstring> registered = UninstallRootsDump(listed);

    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(RunToEnd(DriverCommand(L"all")), 0u);
    auto whole = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_EQ(ImportAndRemoveNewBackups(backups), 2);
    ASSERT_EQ(DumpDifference(UninstallRootsDump(listed), registered), "");

    unsigned seed = static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::mt19937 random(seed);
    std::uniform_int_distribution<long> moment(0, static_cast<long>(whole.count()));
    for (int trial = 0; trial < 5; ++trial) {
        long killedAfter = moment(random);
        SCOPED_TRACE(testing::Message() << "seed " << seed << ", trial " << trial << ", killed after " << killedAfter
                                        << " ms of " << whole.count());
        ASSERT_EQ(RunToEnd(DriverCommand(L"kill " + std::to_wstring(killedAfter))), 0u);
        ImportAndRemoveNewBackups(backups);
        EXPECT_EQ(DumpDifference(UninstallRootsDump(listed), registered), "");
    }
}
