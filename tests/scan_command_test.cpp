// SCAN: finding and identifying a packet-bootloader device on the selected port.
#include <algorithm>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "program_fixture.h"
#include "ui/main_window.h"

namespace rompush::testing {
namespace {

std::string IdAnswer(int type, int flags) {
    return Bytes({7, 0x41, type, 0, flags, 0, 0});
}

class ScanCommandTest : public ProgramTest {
  protected:
    ScanCommandTest() {
        device = std::make_shared<ScriptedDevice>();
        line = &sim.serial.Attach(3, device);
        StartUp();
    }
    // A receiver that answers everything SCAN asks.
    void AnswerLikeAReceiver() {
        device->Reply(IdAnswer(3, 0));                               // the scan's ID packet
        device->Reply(IdAnswer(3, 0));                               // identification
        device->Reply(Bytes({9, 0x43, '1', '2', 'a', 0, 0, 0, 0}));  // application revision
        device->Reply(Bytes({4, 0x53, 0, 0}));                       // flash mode
        device->Reply(Bytes({9, 0x43, '1', '0', 'b', 0, 0, 0, 0}));  // bootloader revision
    }
    void Scan() {
        frmUI().btnSCAN.MouseUp();
        CommandLoopPass();
    }
    const ui::FrmUI& F() { return frmUI(); }
    std::shared_ptr<ScriptedDevice> device;
    sim::SerialLine* line = nullptr;
};

TEST_F(ScanCommandTest, FindsAndNamesAReceiver) {
    AnswerLikeAReceiver();
    sim.At(sim.clock.NowMs() + 300, [&] { device->SendNow(Bytes({8})); });
    const auto start = sim.clock.NowMs();
    Scan();
    EXPECT_EQ(F().lblPASS.Caption, "TARN Product Found");
    EXPECT_EQ(F().frmPASS.BackColor, ui::colour::kGreen);
    EXPECT_EQ(Panels(), (Texts{"", "TWPx  Receiver", "Rev D1.2A", "BSL 1.0B", "COM3"}));
    EXPECT_TRUE(g.dev.DeviceFound);
    EXPECT_EQ(g.cmd.CurrentCommand, uicmdSCAN);
    EXPECT_EQ(g.cmd.UiCommand, 0);
    EXPECT_EQ(g.result.ErrorCode, 0);
    // ERASE needs the revision that was read; PROGRAM a file.
    EXPECT_TRUE(F().btnSCAN.Enabled && F().btnHEXFILE.Enabled && F().btnERASE.Enabled);
    EXPECT_FALSE(F().btnPROGRAM.Enabled);
    EXPECT_EQ(sim.desktop.GetMousePointer(), platform::MousePointer::Default);
    // The ready byte came at 300 ms: the scan did not sit out the 3.5 s.
    EXPECT_LT(sim.clock.NowMs() - start, 3500 + 1000 + 3000);
    // SCAN leaves the port open at 115200 baud.
    EXPECT_TRUE(sim.serial.PortOpen() && sim.serial.Settings() == "115200,N,8,1");
    // A device that never says it is ready is still found, after the 3.5 s.
    AnswerLikeAReceiver();
    const auto again = sim.clock.NowMs();
    Scan();
    EXPECT_EQ(F().lblPASS.Caption, "TARN Product Found");
    EXPECT_GE(sim.clock.NowMs() - again, 3500);
}

TEST_F(ScanCommandTest, NothingAttachedIsNotFound) {
    ui::SetStatusPanel2("old");
    Scan();
    EXPECT_EQ(F().lblPASS.Caption, "TARN Product Not Found");
    EXPECT_EQ(F().frmPASS.BackColor, ui::colour::kLightYellow);
    EXPECT_EQ(Panels(), Texts(5, ""));
    EXPECT_FALSE(g.dev.DeviceFound);
    EXPECT_EQ(g.result.ErrorCode, 0);
    EXPECT_TRUE(F().btnSCAN.Enabled);
    // One ID packet from the scan; nothing answered, so no identification follows.
    EXPECT_EQ(device->Packets().size(), 1u);
    // A wrong answer is no answer.
    device->Reply(Bytes({4, 0x53, 0, 0}));
    Scan();
    EXPECT_EQ(F().lblPASS.Caption, "TARN Product Not Found");
    EXPECT_FALSE(g.dev.DeviceFound);
}

TEST_F(ScanCommandTest, PendingErrorIsOnlyCleared) {
    g.result.ErrorCode = 1003;
    line->ClearWire();
    const auto attempts = sim.serial.OpenAttempts().size();
    Scan();
    EXPECT_EQ(g.result.ErrorCode, 0);
    EXPECT_EQ(g.cmd.UiCommand, 0);
    EXPECT_EQ(line->Wire(), "");
    EXPECT_EQ(sim.serial.OpenAttempts().size(), attempts);
}

TEST_F(ScanCommandTest, PortTakenByAnotherProgramIsReportedAndNotProbed) {
    sim.serial.MarkInUse(3);
    StartTrace();
    const auto start = sim.clock.NowMs();
    Scan();
    EXPECT_EQ(F().lblPASS.Caption, "COMM port not available");
    EXPECT_EQ(F().frmPASS.BackColor, ui::colour::kLightYellow);
    EXPECT_EQ(g.result.ErrorCode, 0);
    EXPECT_TRUE(F().btnSCAN.Enabled);
    // No probe of the serial-menu products waits on a port that is not there.
    EXPECT_LT(sim.clock.NowMs() - start, 1000);
    EXPECT_FALSE(TraceHas("Delay( 500 )"));
    EXPECT_TRUE(TraceHas("in use by another program"));
    EXPECT_TRUE(TraceHas("ShowMsg( Scanning COM3.. )"));  // cut to fifteen characters
}

TEST_F(ScanCommandTest, AdapterPulledOutMidScanEndsCleanly) {
    device->Reply(IdAnswer(3, 0));
    sim.At(sim.clock.NowMs() + 4000, [&] { line->Unplug(); });
    Scan();
    EXPECT_EQ(g.result.ErrorCode, 0);
    EXPECT_FALSE(g.dev.DeviceFound);
    EXPECT_TRUE(F().btnSCAN.Enabled);
}

TEST_F(ScanCommandTest, IdentificationFailureStaysOnScreen) {
    device->Reply(IdAnswer(3, 1));
    device->Reply(IdAnswer(3, 1));
    device->Reply(Bytes({4, 0x77, 0, 0}));  // no flash mode
    Scan();
    EXPECT_EQ(F().lblPASS.Caption, "ERROR CODE: 1501");
    EXPECT_EQ(F().lblSCAN.BackColor, ui::colour::kRed);
    EXPECT_TRUE(F().linSCAN.Visible);
    EXPECT_EQ(g.result.ErrorCode, 0);  // the next SCAN scans again
}

TEST_F(ScanCommandTest, KeyboardPortSendsNothingOnTheSerialPort) {
    auto& list = frmUI().cboPORT;
    list.SetListIndex(list.ListCount() - 1);
    line->ClearWire();
    Scan();
    EXPECT_EQ(line->Wire(), "");
    EXPECT_EQ(F().lblPASS.Caption, "TARN Product Not Found");
    EXPECT_EQ(g.port.CommPortNumber, 99);
}

// While a device is identified the progress texts follow one another as the operator expects.
TEST_F(ScanCommandTest, IdentificationProgressTextsAppearInTheirOrder) {
    AnswerLikeAReceiver();
    sim.At(sim.clock.NowMs() + 300, [&] { device->SendNow(Bytes({8})); });
    StartTrace();
    Scan();
    std::vector<std::size_t> at;
    const auto lines = TraceLines();
    for (const char* text : {"Identifying Device...", "Getting REV...", "Getting BSL..."}) {
        const std::string shown = std::string("ShowMsg( ") + text + " )";
        const auto it = std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.find(shown) != std::string::npos;
        });
        ASSERT_NE(it, lines.end()) << text;
        at.push_back(static_cast<std::size_t>(it - lines.begin()));
    }
    EXPECT_TRUE(std::is_sorted(at.begin(), at.end()));
}

}  // namespace
}  // namespace rompush::testing
