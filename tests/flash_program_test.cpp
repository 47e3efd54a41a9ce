// Erase, program and verify of packet-bootloader flash, over the simulated device on the
// virtual clock: the packets on the wire, the flash they leave, the errors and where they show.
#include "serial/flash_program.h"

#include "flash_fixture.h"
#include "hexfile/hex_validation.h"
#include "serial/comm.h"
#include "serial/flash_verify.h"
#include "serial/packets.h"
#include "ui/main_window.h"

namespace rompush::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

class FlashRoutineTest : public FlashTest {
  protected:
    // A device on the next free COM port, the port open at 115200 baud, and a file of the
    // device's family: a QTR receiver or a VLN transmitter (type 2, "H"). Earlier devices stay
    // on their lines, so nothing they have scheduled outlives them.
    void Attach(bool vln, const Bytes& image = {}) {
        g.dev = {};  // as a fresh program: the last device's letter would not match the file
        AttachDevice(nextPort_, vln ? Kind{2, 0, 'H'} : kReceiver, image);
        ui::frmUI_Load();
        g.port.BaudSetting = "115200";
        ASSERT_TRUE(SetCommPort(static_cast<std::uint8_t>(nextPort_++)));
    }
    // Runs the family's routine as the command does.
    void Run(std::uint8_t command) {
        g.cmd.CurrentCommand = command;
        g.result.ProgramMode = command == uicmdPROGRAM;
        g.result.ErrorCode = 0;
        if (command == uicmdVERIFY) {
            kind_.vln() ? VerifyVLN() : VerifyQTR();
        } else {
            kind_.vln() ? EraseProgramVLN() : EraseProgramQTR();
        }
    }

  private:
    int nextPort_ = 2;
};

TEST_F(FlashRoutineTest, ProgramWritesEveryPageButBlankOnesFromTheImage) {
    for (bool vln : {false, true}) {
        // QTR: device address = image index, page 3 left blank; VLN: image index + &H800.
        Bytes image = PatternImage(vln ? kVlnImageBytes : kQtrImageBytes);
        if (!vln)
            std::fill(image.begin() + 3 * 128, image.begin() + 4 * 128, 0xFF);
        Attach(vln, image);
        if (!vln)
            StartTrace();
        Run(uicmdPROGRAM);
        EXPECT_EQ(g.result.ErrorCode, 0);
        const int pages = vln ? 25 : 256;
        for (std::uint8_t command : {SET_PAGE_CMD, ERASE_PAGE_CMD, CRC_PAGE_CMD})
            EXPECT_EQ(device->CountOf(command), pages);
        const auto writes = PacketsOf(WRITE_PAGE_CMD);
        ASSERT_EQ(writes.size(), vln ? 25u * 16 : 255u * 4);
        for (const auto* write : writes) {
            const int address = write->payload[1] * 256 + write->payload[2];
            EXPECT_TRUE(vln || address < 3 * 128 || address >= 4 * 128) << address;
        }
        // The second block: &H20, its address, 32 image bytes; the last block ends the image.
        Bytes second{0x20, static_cast<std::uint8_t>(vln ? 0x08 : 0x00), 0x20};
        second.insert(second.end(), image.begin() + 32, image.begin() + 64);
        EXPECT_EQ(writes[1]->payload, second);
        Bytes last{0x20, static_cast<std::uint8_t>(vln ? 0x39 : 0x7F), 0xE0};
        last.insert(last.end(), image.end() - 32, image.end());
        EXPECT_EQ(writes.back()->payload, last);
        EXPECT_EQ(FlashImage(), image);
        EXPECT_EQ(F().lblPASS.Caption, "Flash complete");
        EXPECT_EQ(F().frmPASS.BackColor, ui::colour::kButtonFace);
        EXPECT_FALSE(F().ProgressBar1.Visible);
        EXPECT_EQ(F().ProgressBar1.Max, vln ? 400 : 256);
    }
    const auto lines = TraceLines();
    for (const char* line :
         {"        EraseProgramQTR()", "                Scan_For_Data( &H0 )",
          "                Scan_For_Data( &H180 )", "                Scan_For_Data( &H7F80 )"}) {
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
    }
    EXPECT_TRUE(g.trace.TraceIndent.empty());
}

TEST_F(FlashRoutineTest, EraseOnlyErasesEveryPageAndChecksNothing) {
    for (bool vln : {false, true}) {
        Attach(vln);
        LoadFlash();
        Run(uicmdERASE);
        EXPECT_EQ(g.result.ErrorCode, 0);
        EXPECT_EQ(device->CountOf(ERASE_PAGE_CMD), vln ? 25 : 256);
        EXPECT_EQ(F().ProgressBar1.Max, vln ? 25 : 256);  // one step per page
        for (std::uint8_t command : {WRITE_PAGE_CMD, CRC_PAGE_CMD, ID_CMD})
            EXPECT_EQ(device->CountOf(command), 0);  // no identification when only erasing
        EXPECT_EQ(FlashImage(), Bytes(image.size(), 0xFF));
        EXPECT_EQ(F().lblPASS.Caption, "Erase complete");
    }
}

TEST_F(FlashRoutineTest, NothingIsErasedForAnUnknownDeviceAWrongFileOrNoFile) {
    // family, what goes wrong, the code
    struct Case {
        bool vln;
        int what;  // 0 the device does not identify, 1 a file of another device, 2 no file
        int code;
    };
    for (const Case& c :
         {Case{false, 0, 7002}, Case{false, 1, 1002}, Case{false, 2, 1001}, Case{true, 2, 1001}}) {
        Attach(c.vln);
        if (c.what == 0)
            device->AddFault(Spoil("silence,cmd=ID"));
        if (c.what == 1)
            WriteHexFile(g.files.SelectedFilePath, ProductCodeFor('H'), 0, image);
        if (c.what == 2)
            g.files.SelectedFileName = g.files.SelectedFilePath = "";
        Run(uicmdPROGRAM);
        EXPECT_EQ(g.result.ErrorCode, c.code);
        EXPECT_EQ(device->CountOf(ERASE_PAGE_CMD), 0) << c.code;
        if (c.what == 0) {
            EXPECT_EQ(device->CountOf(FLASH_CMD), 0);
        }
        EXPECT_FALSE(F().ProgressBar1.Visible);
    }
}

TEST_F(FlashRoutineTest, ShortEraseAnswersAreTriedAgainOnVlnOnly) {
    // family, fault, code, erase packets
    for (auto [vln, fault, code, erases] : std::vector<std::tuple<bool, std::string, int, int>>{
             // The fifth answer, 04 59 and one CRC byte, is judged (and kept for the error
             // text): its code is not two bytes from its end.
             {true, "short,cmd=ERASE_PAGE,times=5,bytes=3", 4004, 5},
             {true, "short,cmd=ERASE_PAGE,times=4,bytes=3", 0, 5 + 24},
             {true, "short,cmd=ERASE_PAGE,bytes=1", 4004, 5},
             // Too short to hold their code: wrong at once.
             {false, "short,cmd=ERASE_PAGE,bytes=1", 3004, 1},
             {false, "short,cmd=ERASE_PAGE,bytes=2", 3004, 1},
         }) {
        SCOPED_TRACE(fault);
        Attach(vln);
        device->AddFault(Spoil(fault));
        Run(uicmdERASE);
        EXPECT_EQ(g.result.ErrorCode, code);
        EXPECT_EQ(device->CountOf(ERASE_PAGE_CMD), erases);
        if (code == 4004) {
            EXPECT_EQ(g.link.RcvArray[0], std::string(fault).back() - '0');  // bytes=N
            EXPECT_EQ(g.link.RcvArray[1], 0x04);
        }
    }
}

TEST_F(FlashRoutineTest, FailuresShowTheirCodeInTheProgramRow) {
    const std::string response = "A command response error occurred.  \r\r";
    const std::string timeout = "A response timeout error occurred.  \r\r";
    for (auto [vln, command, fault, code, heading] :
         std::vector<std::tuple<bool, std::uint8_t, std::string, int, std::string>>{
             // The wrong answer is shown; writing stops at the first bad block.
             {false, uicmdPROGRAM, "wrong,cmd=WRITE_PAGE,skip=4,code=0x7E", 3003,
              response + " 04 7E"},
             {false, uicmdERASE, "wrong,cmd=ERASE_PAGE,skip=2", 3004, response},
             {false, uicmdPROGRAM, "silence,cmd=FLASH,skip=1", 3005, timeout},
             {true, uicmdPROGRAM, "wrong,cmd=WRITE_PAGE,skip=16", 4003, response},
             {true, uicmdERASE, "wrong,cmd=ERASE_PAGE", 4004, response},
             {true, uicmdPROGRAM, "silence,cmd=ERASE_PAGE", 4005, response},
             {true, uicmdPROGRAM, "silence,cmd=FLASH,skip=1", 4006, timeout},
         }) {
        SCOPED_TRACE(fault);
        Attach(vln);
        device->AddFault(Spoil(fault));
        const auto start = sim.clock.NowMs();
        Run(command);
        EXPECT_EQ(g.result.ErrorCode, code);
        EXPECT_EQ(F().lblPASS.Caption, "ERROR CODE: " + std::to_string(code));
        EXPECT_EQ(F().frmPASS.BackColor, ui::colour::kRed);
        EXPECT_EQ(F().lblPROGRAM.BackColor, ui::colour::kRed);
        EXPECT_EQ(F().lblPROGRAM.Caption.rfind(heading, 0), 0u) << F().lblPROGRAM.Caption;
        EXPECT_TRUE(F().linPROGRAM.Visible);
        EXPECT_FALSE(F().ProgressBar1.Visible);
        // The page loop ends at the failing page.
        EXPECT_LE(device->CountOf(ERASE_PAGE_CMD), vln ? 5 : 3);
        if (code == 3003) {
            EXPECT_EQ(device->CountOf(WRITE_PAGE_CMD), 5);
            EXPECT_EQ(device->CountOf(CRC_PAGE_CMD), 1);
        }
        EXPECT_LT(sim.clock.NowMs() - start, 6 * 60 * 1000);
    }
}

TEST(FlashConversions, SignedAndUnsignedSixteenBitValues) {
    for (auto [in, out] : {std::pair{-1, 65535}, {-32768, 32768}, {0x800, 0x800}, {32767, 32767}})
        EXPECT_EQ(IntegerToUnsigned(in), out);
    // Outside 0..65535 there is no 16-bit form: the low 16 bits are taken, without a crash.
    const int in[] = {65535,          32768, 32767,  0x39,      65536,
                      65536 + 0x39E0, -1,    -65536, INT32_MIN, INT32_MAX};
    const int out[] = {-1, -32768, 32767, 0x39, 0, 0x39E0, -1, 0, 0, -1};
    for (std::size_t i = 0; i < std::size(in); ++i)
        EXPECT_EQ(UnsignedToInteger(in[i]), out[i]) << in[i];
}

// ---- Verify --------------------------------------------------------------------------------

TEST_F(FlashRoutineTest, VerifyComparesTheFamilysPagesUpToTheFirstDifference) {
    // family, spoiled address (-1 none), code, CRC packets
    for (auto [vln, spoiled, code, crcs] :
         std::vector<std::tuple<bool, int, int, int>>{{false, -1, 0, 100},
                                                      {false, 150 * 128 + 7, 0, 100},
                                                      {false, 99 * 128 + 127, 1301, 100},
                                                      {false, 10 * 128, 1301, 11},
                                                      {true, -1, 0, 25},
                                                      {true, 4 * 512, 1401, 1},
                                                      {true, 28 * 512 + 511, 1401, 25}}) {
        SCOPED_TRACE(spoiled);
        Attach(vln);
        LoadFlash();
        if (spoiled >= 0)
            device->Flash()[static_cast<std::size_t>(spoiled)] ^= 0x55;
        Run(uicmdVERIFY);
        EXPECT_EQ(g.result.ErrorCode, code);
        EXPECT_EQ(device->CountOf(CRC_PAGE_CMD), crcs);
        EXPECT_FALSE(F().ProgressBar1.Visible);
        if (code == 0) {
            EXPECT_EQ(F().lblPASS.Caption, "Verify complete");
            EXPECT_EQ(F().ProgressBar1.Max, vln ? 400 : 200);
        } else {
            EXPECT_EQ(F().lblPASS.Caption, "ERROR CODE: " + std::to_string(code));
            EXPECT_EQ(F().lblVERIFY.BackColor, ui::colour::kRed);  // its text: the error table's
        }
    }
}

TEST_F(FlashRoutineTest, DeviceThatNeverAnswersCrcVerifiesWithoutError) {
    Attach(false);
    device->AddFault(Spoil("silence,cmd=CRC_PAGE"));
    const auto start = sim.clock.NowMs();
    Run(uicmdVERIFY);
    EXPECT_EQ(g.result.ErrorCode, 0);
    EXPECT_EQ(F().lblPASS.Caption, "Verify complete");
    EXPECT_GE(sim.clock.NowMs() - start, 100 * 3000);  // every page sits out its 3000 ms
}

TEST_F(FlashRoutineTest, VerifyWithoutFlashModeTriesOnceOnQtrAndTwiceOnVln) {
    // family, flash-mode answers missed, code, FLASH_CMD packets
    for (auto [vln, fault, code, flashes] : std::vector<std::tuple<bool, std::string, int, int>>{
             {false, "silence,cmd=FLASH", 1302, 1},
             {true, "silence,cmd=FLASH", 1402, 2},
             {true, "silence,cmd=FLASH,times=1", 0, 2}}) {
        SCOPED_TRACE(fault);
        Attach(vln);
        LoadFlash();
        device->AddFault(Spoil(fault));
        Run(uicmdVERIFY);
        EXPECT_EQ(g.result.ErrorCode, code);
        EXPECT_EQ(device->CountOf(FLASH_CMD), flashes);
        if (code != 0) {
            EXPECT_EQ(F().lblVERIFY.Caption, "A response timeout error occurred.  \r\r");
            EXPECT_EQ(device->CountOf(CRC_PAGE_CMD), 0);
        }
    }
}

// ---- The numbers the routines must keep ----------------------------------------------------

// Flash mode is asked for four times before the routine gives up: a device that answers the
// fourth FLASH_CMD is programmed, one that answers none of four fails with 3005 / 4006.
TEST_F(FlashRoutineTest, FlashModeIsTriedFourTimes) {
    for (const bool vln : {false, true}) {
        for (const int silent : {3, 4}) {
            SCOPED_TRACE(std::string(vln ? "VLN" : "QTR") + ", silent " + std::to_string(silent));
            Attach(vln);
            // The identification's own FLASH_CMD comes first and is answered.
            device->AddFault(Spoil("silence,cmd=FLASH,skip=1,times=" + std::to_string(silent)));
            Run(uicmdPROGRAM);
            const int expected = silent < 4 ? 0 : vln ? 4006 : 3005;
            EXPECT_EQ(g.result.ErrorCode, expected);
            EXPECT_EQ(device->CountOf(FLASH_CMD), 1 + (silent < 4 ? silent + 1 : 4));
        }
    }
}

// The VLN bootloader is given 60 s for each answer: a write answered after 59 s is taken, one
// answered after 61 s is not.
TEST_F(FlashRoutineTest, VlnAnswerTimeOutIsSixtySeconds) {
    for (const int seconds : {59, 61}) {
        SCOPED_TRACE(std::to_string(seconds) + " s");
        Attach(true);
        device->AddFault(
            Spoil("late,cmd=WRITE_PAGE,skip=5,times=1,delay=" + std::to_string(seconds * 1000)));
        Run(uicmdPROGRAM);
        EXPECT_EQ(g.result.ErrorCode, seconds < 60 ? 0 : 4003);
    }
}

}  // namespace
}  // namespace rompush::testing
