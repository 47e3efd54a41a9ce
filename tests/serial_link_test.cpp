// The serial link: port settings, receiving answer frames with a time-out, waiting, packets.
#include "program_fixture.h"
#include "scripted_device.h"
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
    void OpenPort() { ASSERT_TRUE(SetCommPort(3)); }
    std::shared_ptr<ScriptedDevice> device;
    sim::SerialLine* line = nullptr;
};

TEST_F(SerialLinkTest, SettingsStringIsTheSameWithOrWithoutTheTrailingComma) {
    g.port.BaudSetting = "57600";
    EXPECT_EQ(BuildSettingsString(), "57600,N,8,1");
    g.port.BaudSetting = "57600,";
    EXPECT_EQ(BuildSettingsString(), "57600,N,8,1");
}

TEST_F(SerialLinkTest, SettingsStringFollowsTheDialogLists) {
    auto& dialog = frmComParameters();
    dialog.cboParity.ListIndex = 0;  // Even
    dialog.cboDataBits.ListIndex = 0;
    dialog.cboStopBits.ListIndex = 1;
    EXPECT_EQ(BuildSettingsString(), "115200,E,7,2");
    dialog.cboParity.ListIndex = -1;  // no parity text: the field is left out
    EXPECT_EQ(BuildSettingsString(), "115200,7,2");
}

TEST_F(SerialLinkTest, SetCommPortOpensWithSettingsAndHandshaking) {
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
    EXPECT_EQ(lines[0], "        SetCommPort( 3 )");
    EXPECT_EQ(lines[1], "        --    frmUI.MSComm1.Settings = 115200,N,8,1");
    EXPECT_EQ(lines[2], "        --    frmUI.MSComm1.Handshaking = 2");
}

TEST_F(SerialLinkTest, SetCommPortFailsOnMissingAndBusyPorts) {
    EXPECT_FALSE(SetCommPort(4));
    EXPECT_FALSE(sim.serial.PortOpen());
    sim.serial.MarkInUse(3);
    EXPECT_FALSE(SetCommPort(3));
}

TEST_F(SerialLinkTest, FrameLongerThan49BytesIsCutAtIndex49) {
    OpenPort();
    std::string frame(60, '\x11');
    frame[0] = 60;
    device->SendNow(frame);
    RcvIn(3000);
    EXPECT_EQ(g.link.RcvArray[0], 49);
    EXPECT_EQ(g.link.RcvArray[1], 60);
    EXPECT_EQ(g.link.RcvArray[49], 0x11);
    EXPECT_EQ(g.link.RcvArray[50], 0);
    EXPECT_EQ(sim.serial.InBufferCount(), 0);  // late bytes are discarded
}

TEST_F(SerialLinkTest, PrefixedFrameIsReadToItsEnd) {
    OpenPort();
    device->SendNow(Bytes({0xC3, 0x00, 7, 0x41, 3, 0, 0, 0xAA, 0xBB, 0x99}));
    RcvIn(3000);
    EXPECT_EQ(g.link.RcvArray[0], 9);
    EXPECT_EQ(g.link.RcvArray[9], 0xBB);
}

TEST_F(SerialLinkTest, SilenceTimesOutWithNothingReceived) {
    OpenPort();
    const auto start = sim.clock.NowMs();
    RcvIn(3000);
    EXPECT_EQ(g.link.RcvArray[0], 0);
    EXPECT_EQ(sim.clock.NowMs() - start, 3000);
    EXPECT_FALSE(g.link.DelayActive);
}

TEST_F(SerialLinkTest, FrameCutShortEndsAtTheTimeOutWithWhatCame) {
    OpenPort();
    device->SendNow(Bytes({7, 0x41, 3}));
    RcvIn(3000);
    EXPECT_EQ(g.link.RcvArray[0], 3);
    EXPECT_EQ(sim.clock.NowMs(), 3000);
}

TEST_F(SerialLinkTest, PrefixWithoutItsLengthByteDoesNotHoldTheProgram) {
    OpenPort();
    device->SendNow(Bytes({0xC3}));
    RcvIn(3000);
    EXPECT_EQ(g.link.RcvArray[0], 1);
    EXPECT_EQ(sim.clock.NowMs(), 3000);
}

TEST_F(SerialLinkTest, AnswerArrivingAfterTheTimeOutIsDiscarded) {
    OpenPort();
    sim.At(3100, [&] { device->SendNow(Bytes({4, 0x53, 0, 0})); });
    RcvIn(3000);
    EXPECT_EQ(g.link.RcvArray[0], 0);
    Delay(500);
    RcvIn(100);
    EXPECT_EQ(g.link.RcvArray[0], 4);
}

TEST_F(SerialLinkTest, UnpluggedAdapterReadsAsSilence) {
    OpenPort();
    line->Unplug();
    send_packet(4, ID_CMD);
    RcvIn(3000);
    EXPECT_EQ(g.link.RcvArray[0], 0);
    EXPECT_FALSE(SetCommPort(3));
}

TEST_F(SerialLinkTest, DelayWaitsOnTheTimerInVirtualTime) {
    const auto start = sim.clock.NowMs();
    Delay(3500);
    EXPECT_EQ(sim.clock.NowMs() - start, 3500);
    EXPECT_FALSE(g.link.DelayActive);
    EXPECT_FALSE(sim.timer.Enabled());
    Delay(0);  // a wait of nothing returns at once
    EXPECT_EQ(sim.clock.NowMs() - start, 3500);
}

TEST_F(SerialLinkTest, DelayLetsButtonHandlersRunWhileItWaits) {
    sim.At(200, [] { frmUI().btnSCAN.MouseUp(); });
    Delay(1000);
    EXPECT_EQ(g.cmd.UiCommand, uicmdSCAN);
}

TEST_F(SerialLinkTest, ClearInBufferEmptiesTheReceiveBuffer) {
    OpenPort();
    device->SendNow("garbage");
    Delay(10);
    EXPECT_GT(sim.serial.InBufferCount(), 0);
    ClearInBuffer();
    EXPECT_EQ(sim.serial.InBufferCount(), 0);
}

TEST(CrcTest, TableAndCheckValue) {
    ResetState();
    BuildCrcTable();
    EXPECT_EQ(static_cast<std::uint16_t>(g.link.CrcTable[1]), 0x1021);
    EXPECT_EQ(static_cast<std::uint16_t>(g.link.CrcTable[2]), 0x2042);
    EXPECT_EQ(static_cast<std::uint16_t>(g.link.CrcTable[8]), 0x8108);
    EXPECT_EQ(static_cast<std::uint16_t>(g.link.CrcTable[255]), 0x1EF0);
    std::int32_t crc = 0;
    for (char c : std::string("123456789"))
        CrcUpdate(crc, static_cast<std::uint8_t>(c));
    EXPECT_EQ(crc, 0x31C3);
}

TEST_F(SerialLinkTest, PacketsCarryTheirCrc) {
    OpenPort();
    send_packet(4, ID_CMD);
    g.link.PayloadBuf[0] = 0;
    send_packet(5, SET_PAGE_CMD);
    Delay(5);
    EXPECT_EQ(line->Wire(), Bytes({0x04, 0x40, 0x84, 0x00, 0x05, 0x56, 0x00, 0x4F, 0xE9}));
}

TEST_F(SerialLinkTest, PacketTooLongForTheBufferIsNotSent) {
    OpenPort();
    EXPECT_FALSE(send_packet(42, WRITE_PAGE_CMD));
    EXPECT_FALSE(send_packet(3, ID_CMD));
    Delay(5);
    EXPECT_EQ(line->Wire(), "");
}

TEST_F(SerialLinkTest, SendPacketTracesEveryByte) {
    OpenPort();
    StartTrace();
    send_packet(4, ID_CMD);
    const auto lines = TraceLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "        send_packet( ID_CMD )");
    EXPECT_EQ(lines[1], "        --    cmd_string(1) = &H40");
}

void Receive(std::initializer_list<int> bytes) {
    g.link.RcvArray.fill(0);
    int i = 1;
    for (int b : bytes)
        g.link.RcvArray[i++] = static_cast<std::uint8_t>(b);
    g.link.RcvArray[0] = static_cast<std::uint8_t>(i - 1);
}

TEST(CorrlatorTest, FindsTheAnswerBehindThePrefix) {
    ResetState();
    Receive({0xC3, 0x12, 7, 0x41, 3, 0, 0, 0, 0});
    EXPECT_TRUE(Corrlator(ID_CMD));
    EXPECT_EQ(g.link.RspIndex, 4);
}

TEST(CorrlatorTest, LastMatchWinsAndShortBuffersNeverHit) {
    ResetState();
    Receive({4, 0x53, 4, 0x53});
    EXPECT_TRUE(Corrlator(FLASH_CMD));
    EXPECT_EQ(g.link.RspIndex, 4);
    Receive({4});
    EXPECT_FALSE(Corrlator(FLASH_CMD));
    Receive({7, 0x42});
    EXPECT_FALSE(Corrlator(ID_CMD));
    Receive({4, 0x53});
    EXPECT_FALSE(Corrlator(GO_CMD));  // a command without an expected answer
}

TEST(CorrlatorTest, NeverReadsPastTheBufferWhateverTheCount) {
    ResetState();
    g.link.RcvArray.fill(0);
    g.link.RcvArray[0] = 255;
    g.link.RcvArray[49] = 7;
    g.link.RcvArray[50] = 0x41;
    EXPECT_TRUE(Corrlator(ID_CMD));
    EXPECT_EQ(g.link.RspIndex, 50);
}

}  // namespace
}  // namespace rompush::testing
