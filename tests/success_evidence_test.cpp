// Every success text the window shows rests on a confirmation from the device (the table in
// docs/success-texts.md). Each case here runs twice on a simulated device: as it should go,
// the text is shown; with that confirmation missing or wrong, the text never appears, not even
// for the moment a transient one stands.
#include <string>
#include <vector>

#include "commands/commands.h"
#include "flash_fixture.h"
#include "ps2_fixture.h"
#include "ui/main_window.h"

namespace rompush::testing {
namespace {

struct EvidenceCase {
    std::string name;
    Kind kind;
    char button;          // 'S' SCAN, 'E' ERASE, 'P' PROGRAM (and the VERIFY it runs)
    const char* fault;    // how the device spoils the confirmation
    const char* success;  // the text that rests on it
    bool spoiled = false;
};

// Each case as it should go and spoiled.
std::vector<EvidenceCase> BothWays(std::vector<EvidenceCase> cases) {
    std::vector<EvidenceCase> both;
    for (EvidenceCase c : cases) {
        c.name += "Sound";
        both.push_back(c);
        c.name.replace(c.name.size() - 5, 5, "Spoiled");
        c.spoiled = true;
        both.push_back(c);
    }
    return both;
}

class PacketEvidenceTest : public FlashTest, public ::testing::WithParamInterface<EvidenceCase> {};

TEST_P(PacketEvidenceTest, SuccessOnlyWithTheDevicesConfirmation) {
    const EvidenceCase& c = GetParam();
    AttachDevice(3, c.kind);
    StartUp();
    g.files.SelectedFileName = "firmware.hex";
    g.files.SelectedFilePath = path;
    if (c.button != 'S') {
        Press(frmUI().btnSCAN);
        ASSERT_EQ(frmUI().lblPASS.Caption, "TARN Product Found");
    }
    StartTrace();
    if (c.spoiled)
        device->AddFault(Spoil(c.fault));
    Press(c.button == 'S'   ? frmUI().btnSCAN
          : c.button == 'E' ? frmUI().btnERASE
                            : frmUI().btnPROGRAM);
    for (int pass = 0; pass < 3 && g.cmd.UiCommand != 0; ++pass)
        CommandLoopPass();

    const std::string shown = std::string("ShowMsg( ") + c.success + " )";
    EXPECT_EQ(TraceHas(shown), !c.spoiled);
    if (c.spoiled) {
        EXPECT_FALSE(TraceHas("ShowMsg( Program and Verify OK )"));
        EXPECT_NE(frmUI().frmPASS.BackColor, ui::colour::kGreen);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PacketEvidenceTest,
    ::testing::ValuesIn(BothWays({
        // SCAN: the answer to the ID packet names another command.
        {"FoundNeedsTheIdAnswer", kReceiver, 'S', "wrong,cmd=ID", "TARN Product Found"},
        // ERASE: a page's erase answered wrongly; the restarted application silent.
        {"EraseNeedsEveryPagesAnswer", kTransmitter, 'E', "wrong,cmd=ERASE_PAGE,skip=2",
         "ERASE OK"},
        {"EraseNeedsTheRestartedApplication", kReceiver, 'E', "silence,cmd=ID", "ERASE OK"},
        // PROGRAM: a page whose CRC differs after writing; the application silent after GO.
        {"ProgramNeedsEveryPagesCrc", kReceiver, 'P', "badwrite,cmd=WRITE_PAGE,skip=40,times=1",
         "Program OK"},
        {"ProgramNeedsTheRestartedApplication", kTransmitter, 'P', "silence,cmd=ID", "Program OK"},
    })),
    CaseName{});

// The keyboard port: "TARN Product Found" only for a device that typed an identity, and
// never on a PC whose keyboard controller is missing.
TEST_F(Ps2Test, FoundNeedsATypedIdentity) {
    Start(KvmModel::Prisma);
    StartTrace();
    Press(frmUI().btnSCAN);
    EXPECT_TRUE(TraceHas("ShowMsg( TARN Product Found )"));

    sim.keyboard.DetachDevice();
    StartTrace();
    Press(frmUI().btnSCAN);
    EXPECT_FALSE(TraceHas("ShowMsg( TARN Product Found )"));
    EXPECT_EQ(frmUI().lblPASS.Caption, "TARN Product Not Found");

    sim.keyboard.SetControllerAbsent(true);
    StartTrace();
    Press(frmUI().btnSCAN);
    EXPECT_FALSE(TraceHas("ShowMsg( TARN Product Found )"));
    EXPECT_FALSE(g.dev.DeviceFound);
}

}  // namespace
}  // namespace rompush::testing
