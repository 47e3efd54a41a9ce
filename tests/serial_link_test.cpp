// The serial link: port settings, receiving answer frames with a time-out, waiting, packets.
#include "program_fixture.h"
#include "serial/comm.h"
#include "serial/packets.h"

namespace rompush::testing {
namespace {

class SerialLinkTest : public ProgramTest {
  protected:
    SerialLinkTest() {
        device = std::make_shared<ScriptedDevice>();
        line = &sim.serial.Attach(3, device);
        g.port.BaudSetting = "115200";
    }
    std::shared_ptr<ScriptedDevice> device;
    sim::SerialLine* line = nullptr;
};

TEST_F(SerialLinkTest, SettingsStringFollowsTheBaudRateAndTheDialogLists) {
    g.port.BaudSetting = "57600,";  // with or without the trailing comma
    EXPECT_EQ(BuildSettingsString(), "57600,N,8,1");
    g.port.BaudSetting = "115200";
    auto& dialog = frmComParameters();
    dialog.cboParity.ListIndex = 0;  // Even
    dialog.cboDataBits.ListIndex = 0;
    dialog.cboStopBits.ListIndex = 1;
    EXPECT_EQ(BuildSettingsString(), "115200,E,7,2");
    dialog.cboParity.ListIndex = -1;  // no parity text: the field is left out
    EXPECT_EQ(BuildSettingsString(), "115200,7,2");
}

TEST_F(SerialLinkTest, SetCommPortOpensWithSettingsAndHandshakingOrFails) {
    frmComParameters().cboFlowControl.ListIndex = 1;  // Hardware
    StartTrace();
    ASSERT_TRUE(SetCommPort(3));
    EXPECT_TRUE(sim.serial.PortOpen());
    EXPECT_EQ(sim.serial.CommPort(), 3);
    EXPECT_EQ(sim.serial.Settings(), "115200,N,8,1");
    EXPECT_EQ(sim.serial.Handshaking(), 2);
    EXPECT_EQ(sim.serial.InputLen(), 1);
    const auto lines = TraceLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(std::vector(lines.begin(), lines.begin() + 3),
              (std::vector<std::string>{"        SetCommPort( 3 )",
                                        "        --    frmUI.MSComm1.Settings = 115200,N,8,1",
                                        "        --    frmUI.MSComm1.Handshaking = 2"}));
    EXPECT_FALSE(SetCommPort(4));  // missing
    EXPECT_FALSE(sim.serial.PortOpen());
    sim.serial.MarkInUse(3);
    EXPECT_FALSE(SetCommPort(3));
}

TEST_F(SerialLinkTest, AnswerFramesAreReadToTheirEndOrTheTimeOut) {
    struct Case {
        std::string bytes;  // sent by the device at once
        int count;          // RcvArray(0) afterwards
        int lastValue;      // RcvArray(count)
        bool timesOut;      // RcvIn(3000) waits its 3000 ms
    };
    std::string longFrame(60, '\x11');
    longFrame[0] = 60;
    for (const Case& c : {
             Case{Bytes({4, 0x53, 0x12, 0x34}), 4, 0x34, false},
             Case{longFrame, 49, 0x11, false},  // cut at index 49, the rest discarded
             Case{Bytes({0xC3, 0x00, 7, 0x41, 3, 0, 0, 0xAA, 0xBB, 0x99}), 9, 0xBB, false},
             Case{"", 0, 0, true}, Case{Bytes({7, 0x41, 3}), 3, 3, true},  // cut short: what came
             Case{Bytes({0xC3}), 1, 0xC3, true},  // a prefix alone cannot hold the program
         }) {
        SCOPED_TRACE(c.bytes.size());
        ASSERT_TRUE(SetCommPort(3));
        device->SendNow(c.bytes);
        const auto start = sim.clock.NowMs();
        RcvIn(3000);
        const auto ms = sim.clock.NowMs() - start;
        EXPECT_TRUE(c.timesOut ? ms == 3000 : ms < 100) << ms;
        EXPECT_EQ(g.link.RcvArray[0], c.count);
        EXPECT_EQ(g.link.RcvArray[static_cast<std::size_t>(c.count)], c.lastValue);
        EXPECT_EQ(g.link.RcvArray[50], 0);
        EXPECT_EQ(sim.serial.InBufferCount(), 0);
        EXPECT_FALSE(c.timesOut && g.link.DelayActive);
        sim.serial.SetPortOpen(false);
    }
}

TEST_F(SerialLinkTest, LateAnswersAreLeftForLaterAndAnUnpluggedAdapterIsSilent) {
    ASSERT_TRUE(SetCommPort(3));
    sim.At(3100, [&] { device->SendNow(Bytes({4, 0x53, 0, 0})); });
    RcvIn(3000);
    EXPECT_EQ(g.link.RcvArray[0], 0);
    Delay(500);
    RcvIn(100);
    EXPECT_EQ(g.link.RcvArray[0], 4);

    line->Unplug();
    send_packet(4, ID_CMD);
    RcvIn(3000);
    EXPECT_EQ(g.link.RcvArray[0], 0);
    EXPECT_FALSE(SetCommPort(3));
}

TEST_F(SerialLinkTest, DelayWaitsOnTheTimerAndLetsButtonHandlersRun) {
    sim.At(200, [] { frmUI().btnSCAN.MouseUp(); });
    Delay(3500);
    EXPECT_EQ(sim.clock.NowMs(), 3500);
    EXPECT_EQ(g.cmd.UiCommand, uicmdSCAN);
    EXPECT_FALSE(g.link.DelayActive || sim.timer.Enabled());
    Delay(0);  // a wait of nothing returns at once
    EXPECT_EQ(sim.clock.NowMs(), 3500);

    ASSERT_TRUE(SetCommPort(3));
    device->SendNow("garbage");
    Delay(10);
    EXPECT_GT(sim.serial.InBufferCount(), 0);
    ClearInBuffer();
    EXPECT_EQ(sim.serial.InBufferCount(), 0);
}

// The CRC bytes below are those of the XMODEM CRC-16 (check value 0x31C3), high byte first.
TEST_F(SerialLinkTest, PacketsCarryTheirCrcAndAreTraced) {
    ASSERT_TRUE(SetCommPort(3));
    StartTrace();
    send_packet(4, ID_CMD);
    g.link.PayloadBuf[0] = 0;
    send_packet(5, SET_PAGE_CMD);
    // Too long for the buffer, or too short for a packet: not sent.
    EXPECT_FALSE(send_packet(42, WRITE_PAGE_CMD) || send_packet(3, ID_CMD));
    Delay(5);
    EXPECT_EQ(line->Wire(), Bytes({0x04, 0x40, 0x84, 0x00, 0x05, 0x56, 0x00, 0x4F, 0xE9}));
    const auto lines = TraceLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "        send_packet( ID_CMD )");
    EXPECT_EQ(lines[1], "        --    cmd_string(1) = &H40");
}

TEST(CorrlatorTest, FindsTheLastAnswerOfTheCommandWithinTheBuffer) {
    struct Case {
        std::vector<int> received;  // RcvArray from index 1; the count is their number
        std::uint8_t command;
        int rspIndex;  // 0: no answer found
    };
    for (const Case& c : {
             Case{{0xC3, 0x12, 7, 0x41, 3, 0, 0, 0, 0}, ID_CMD, 4},  // behind the prefix
             Case{{4, 0x53, 4, 0x53}, FLASH_CMD, 4},                 // the last match wins
             Case{{4}, FLASH_CMD, 0}, Case{{7, 0x42}, ID_CMD, 0},
             Case{{4, 0x53}, GO_CMD, 0},  // a command without an expected answer
         }) {
        ResetState();
        for (std::size_t i = 0; i < c.received.size(); ++i)
            g.link.RcvArray[i + 1] = static_cast<std::uint8_t>(c.received[i]);
        g.link.RcvArray[0] = static_cast<std::uint8_t>(c.received.size());
        EXPECT_EQ(Corrlator(c.command), c.rspIndex != 0) << c.received[0];
        if (c.rspIndex != 0) {
            EXPECT_EQ(g.link.RspIndex, c.rspIndex);
        }
    }
    // A garbled count never reads past the buffer.
    ResetState();
    g.link.RcvArray[0] = 255;
    g.link.RcvArray[49] = 7;
    g.link.RcvArray[50] = 0x41;
    EXPECT_TRUE(Corrlator(ID_CMD));
    EXPECT_EQ(g.link.RspIndex, 50);
}

}  // namespace
}  // namespace rompush::testing
