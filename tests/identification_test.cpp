// Identification of packet-bootloader devices: the device record, revisions, failures.
#include <tuple>

#include "program_fixture.h"
#include "serial/comm.h"
#include "serial/identify.h"
#include "serial/packets.h"
#include "ui/main_window.h"

namespace rompush::testing {
namespace {

// A device answer frame with a valid length byte; the two final bytes are never checked.
std::string Frame(std::initializer_list<int> body) {
    std::string frame(1, static_cast<char>(body.size() + 3));
    for (int b : body)
        frame.push_back(static_cast<char>(b));
    frame += Bytes({0x12, 0x34});
    return frame;
}

class IdentificationTest : public ProgramTest {
  protected:
    IdentificationTest() {
        device = std::make_shared<ScriptedDevice>();
        line = &sim.serial.Attach(2, device);
        ui::frmUI_Load();
        g.port.BaudSetting = "115200";
        EXPECT_TRUE(SetCommPort(2));
    }
    // ID answer: length 7, code &H41, type, one byte, flags.
    void AnswerId(int type, int flags) { device->Reply(Frame({0x41, type, 0, flags})); }
    void AnswerRevision(const std::string& chars) {
        device->Reply(Frame({0x43, chars[0], chars[1], chars[2], 0, 0}));
    }
    void AnswerFlashMode() { device->Reply(Bytes({4, 0x53, 0, 0})); }
    void AnswerBootloader(const std::string& chars) { AnswerRevision(chars); }

    std::shared_ptr<ScriptedDevice> device;
    sim::SerialLine* line = nullptr;
};

TEST_F(IdentificationTest, ReceiverWithRevisionsIsIdentifiedAndStarted) {
    AnswerId(3, 0);
    AnswerRevision("12a");
    AnswerFlashMode();
    AnswerBootloader("10b");
    ASSERT_TRUE(xmitID_CMD());
    Delay(10);  // the GO packet is on its way
    EXPECT_TRUE(g.dev.DeviceFound);
    EXPECT_EQ(g.dev.DevLetter, "D");
    EXPECT_EQ(g.dev.DevIdName, "QTRUSB");
    EXPECT_EQ(g.dev.DevDisplayName, "TWPx  Receiver");
    EXPECT_EQ(g.dev.DevRev, "Rev D1.2A");
    EXPECT_EQ(g.dev.BslRev, "BSL 1.0B");
    EXPECT_EQ(Panels(), (Texts{"", "TWPx  Receiver", "Rev D1.2A", "BSL 1.0B", ""}));
    EXPECT_EQ(frmUI().lblPASS.Caption, "Switching to app...");
    // ID, FW, FLASH, FW, GO: exactly these packets (their CRCs are checked end to end).
    const auto& packets = device->Packets();
    ASSERT_EQ(packets.size(), 5u);
    EXPECT_EQ(packets[0], Bytes({0x04, 0x40, 0x84, 0x00}));
    EXPECT_EQ(packets[1][1], FW_CMD);
    EXPECT_EQ(packets[2][1], FLASH_CMD);
    EXPECT_EQ(packets[3][1], FW_CMD);
    EXPECT_EQ(packets[4][1], GO_CMD);
}

TEST_F(IdentificationTest, OddFlagsSkipTheApplicationRevision) {
    AnswerId(3, 1);
    AnswerFlashMode();
    AnswerBootloader("20c");
    ASSERT_TRUE(xmitID_CMD());
    EXPECT_EQ(g.dev.DevRev, "");
    EXPECT_EQ(g.dev.BslRev, "BSL 2.0C");
    EXPECT_EQ(device->Packets()[1][1], FLASH_CMD);
}

TEST_F(IdentificationTest, TypeAndFlagsNameTheDevice) {
    // type, flags -> letter, display name, id name, revision prefix ("Q": the earlier one kept)
    using Row = std::tuple<int, int, std::string, std::string, std::string, std::string>;
    for (auto [type, flags, letter, display, id, prefix] :
         std::vector<Row>{{1, 0x18, "L", "TWPx  Tx (Slave)", "TWPx  Tx (Slave)", "S"},
                          {1, 0x10, "L", "TWPx  Tx (Slave)", "TWPx  Tx (Slave)", "S"},
                          {1, 0x08, "M", "TWPx  Tx (Master)", "TWPx  Tx (Master)", "M"},
                          {1, 0x00, "H", "TWPx  Transmitter", "VLNMINI", "H"},
                          {2, 0x00, "H", "TWPx  Transmitter", "VLNMINI", "Q"},
                          {4, 0x00, "D", "Monolink", "QTRUSB", "Q"},
                          {9, 0x00, "K", "", "", "Q"}}) {  // unknown: the letter stays, no names
        g.dev.DevRevPrefix = "Q";
        g.dev.DevLetter = "K";
        AnswerId(type, flags);
        AnswerFlashMode();
        AnswerBootloader("11a");
        ASSERT_TRUE(xmitID_CMD()) << type << " " << flags;
        Delay(10);  // the GO packet reaches the device before the next round
        EXPECT_EQ(std::vector(
                      {g.dev.DevLetter, g.dev.DevDisplayName, g.dev.DevIdName, g.dev.DevRevPrefix}),
                  std::vector({letter, display, id, prefix}));
        EXPECT_EQ(g.dev.DevRev, "");  // no &HC3 prefix: no application revision
    }
}

TEST_F(IdentificationTest, PrefixedTransmitterTellsItsRevision) {
    device->Reply(Bytes({0xC3, 0x00, 7, 0x41, 1, 0, 0x08, 0, 0}));
    // Behind the prefix the revision characters sit at indexes 5 to 7.
    device->Reply(Bytes({0xC3, 0x00, 9, 0x43, '3', '4', 'd', 0, 0, 0, 0}));
    AnswerFlashMode();
    AnswerBootloader("10a");
    ASSERT_TRUE(xmitID_CMD());
    EXPECT_EQ(g.dev.DevLetter, "M");
    EXPECT_EQ(g.dev.DevRev, "Rev M3.4D");
}

TEST_F(IdentificationTest, IdIsSentFourTimesAtMost) {
    ui::ShowMsg("before", ui::colour::kButtonFace);
    EXPECT_FALSE(xmitID_CMD());
    EXPECT_EQ(g.result.ErrorCode, 7002);
    EXPECT_FALSE(g.dev.DeviceFound);
    EXPECT_EQ(device->Packets().size(), 4u);
    EXPECT_EQ(frmUI().lblPASS.Caption, "before");  // nothing shown
    // An answer to the third attempt is no error.
    g.result.ErrorCode = 0;
    device->Reply("");
    device->Reply("");
    AnswerId(3, 1);
    AnswerFlashMode();
    AnswerBootloader("10a");
    ASSERT_TRUE(xmitID_CMD());
    EXPECT_EQ(g.result.ErrorCode, 0);
    EXPECT_EQ(device->Packets()[4 + 2], Bytes({0x04, 0x40, 0x84, 0x00}));
}

TEST_F(IdentificationTest, WrongFlashModeAnswerIsReportedWithTheBytes) {
    for (const std::string& answer : {Bytes({4, 0x99, 0, 0}), Bytes({0x53})}) {
        AnswerId(3, 1);
        device->Reply(answer);  // one byte is a wrong answer, not a stray read
        EXPECT_FALSE(xmitID_CMD());
        EXPECT_EQ(g.result.ErrorCode, 1501);
        EXPECT_FALSE(g.dev.DeviceFound);
    }
    EXPECT_EQ(frmUI().lblPASS.Caption, "ERROR CODE: 1501");
    EXPECT_EQ(frmUI().lblSCAN.Caption, "An error has occured obtaining device ID.\r\r 53");
}

TEST_F(IdentificationTest, BootloaderThatNeverTellsItsRevisionEndsWithAnError) {
    AnswerId(3, 1);
    AnswerFlashMode();
    const auto start = sim.clock.NowMs();
    EXPECT_FALSE(xmitID_CMD());
    EXPECT_EQ(g.result.ErrorCode, 1501);
    EXPECT_LT(sim.clock.NowMs() - start, 30000);
}

TEST_F(IdentificationTest, WaitForQtrStopsAtTheReadyByteOrTimesOut) {
    device->SendNow(Bytes({1, 2, 8, 9}));
    WaitForQTR();
    EXPECT_EQ(g.link.RcvArray[0], 1);
    EXPECT_EQ(g.link.RcvArray[2], 8);
    EXPECT_EQ(frmUI().lblPASS.Caption, "Waiting for response...");
    // What does not fit is dropped.
    device->SendNow(std::string(80, '\x01'));
    const auto start = sim.clock.NowMs();
    WaitForQTR();
    EXPECT_EQ(sim.clock.NowMs() - start, 3500);
    EXPECT_EQ(g.link.RcvArray[50], 1);
}

// A device that answers the revision requests with garbage puts only printable characters in
// the status bar.
TEST_F(IdentificationTest, GarbledRevisionsShowOnlyPrintableCharacters) {
    AnswerId(3, 0);
    device->Reply(Frame({0x43, 0x07, '2', 0x1B, 0, 0}));
    AnswerFlashMode();
    device->Reply(Frame({0x43, '1', 0x00, 0x9B, 0, 0}));
    ASSERT_TRUE(xmitID_CMD());
    EXPECT_EQ(g.dev.DevRev, "Rev D.2");
    EXPECT_EQ(g.dev.BslRev, "BSL 1.");
    EXPECT_EQ(frmUI().StatusBar1.Panels[2].Text, "Rev D.2");
}

}  // namespace
}  // namespace rompush::testing
