#include "tests/uninstall/registry_fixture.h"
#include "uninstall/uninstall.h"

#include <gtest/gtest.h>

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
    }

    RegistryGuard guard;
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

TEST_F(ControlUninstall, AResistingFixedKeyDoesNotStopTheOthers)
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

        guard.ExpectGoneExactly({control.progId, L"CLSID\\" + control.clsid});
        EXPECT_TRUE(KeyExists(L"TypeLib\\" + control.typeLib));
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
    const Case cases[] = {
        {"no CLSID key", L"ZEMA.UninstallOdd", false, nullptr},
        {"CLSID key without value", L"ZEMA.UninstallOdd", true, nullptr},
        {"empty CLSID value", L"ZEMA.UninstallOdd", true, L""},
        {"backslash", L"ZEMA.UninstallOdd", true, L"\\"},
        {"path below a class key", L"ZEMA.UninstallOdd", true, clsidBelowClass.c_str()},
        {"ProgID too long to read its CLSID", L"ZEMA." + std::wstring(244, L'O'), true, General.clsid.c_str()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        General.Make();
        MakeExtensionKeys();
        CreateKey(c.progId, L"odd control");
        if (c.clsidKey) CreateKey(c.progId + L"\\CLSID", c.clsidValue);
        guard.TakeCensus();

        UninstallControl(c.progId.c_str());

        guard.ExpectGoneExactly({L".qmc", L".qmx", c.progId});
        EXPECT_TRUE(KeyExists(L"CLSID\\" + General.clsid + L"\\InprocServer32"));
        RemoveTree(c.progId);
    }
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
