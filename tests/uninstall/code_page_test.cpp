// Controls whose ProgIDs carry Chinese characters, registered through the real regsvr32
// and uninstalled through the Uninstall page, in whichever system code page the pass runs:
// the query's prefix test and the purge roots go through it.
#include "system/system.h"
#include "tests/registration/registration_test_support.h"
#include "tests/support/message_box_answerer.h"
#include "tests/uninstall/registry_fixture.h"
#include "tests/uninstall/uninstall_page_fixture.h"

namespace {

class ChineseProgIdUninstall : public UninstallPageTest {
protected:
    void TearDown() override
    {
        for (const FixtureIdentity& id : made) RemoveFixtureKeys(id);
        UninstallPageTest::TearDown();
    }

    std::wstring folder = MakeTestFolder(L"uninstall-cp");
    std::vector<FixtureIdentity> made;
};

}  // namespace

TEST_F(ChineseProgIdUninstall, IsListedThenRemovedAndUnregistered)
{
    // 乗 and 嘰 end in the byte 0x5C in GBK.
    for (const wchar_t* name : {L"ZEMA.控件.ocx", L"PDF.Z乗嘰说明.dll"}) {
        SCOPED_TRACE(testing::Message() << std::wstring(name));
        std::wstring path = CopyFixture(folder, name);
        FixtureIdentity id = FixtureIdentityFromFileName(path);
        made.push_back(id);
        RemoveFixtureKeys(id);
        ASSERT_TRUE(RegisterComponentFile(path.c_str()));

        SendMessageW(window, WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), reinterpret_cast<LPARAM>(QueryButton));
        ASSERT_EQ(ControlListEntries(), std::vector<std::wstring>{id.progId});
        guard.TakeCensus();
        {
            MessageBoxAnswerer answerer(IDYES);
            DoubleClickOn(id.progId);
            ASSERT_EQ(answerer.Seen().size(), 1u);
        }
        guard.ExpectGoneExactly({id.progId, L"CLSID\\" + id.clsid, L"TypeLib\\" + id.typeLib,
                                 L"Interface\\" + id.interfaces[0], L"Interface\\" + id.interfaces[1]});
        EXPECT_TRUE(ControlListEntries().empty());
        EXPECT_EQ(ReadLines(FixtureCallRecordPath(path)),
                  (std::vector<std::wstring>{L"unregister ok", L"register ok", L"unregister ok"}));
    }
}
