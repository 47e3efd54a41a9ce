// Erase, program and verify of packet-bootloader flash, over the simulated device on the
// virtual clock: the packets on the wire, the flash they leave, the errors and where they show.
#include "serial/flash_program.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "hex_file_writer.h"
#include "hexfile/hex_validation.h"
#include "program_fixture.h"
#include "serial/comm.h"
#include "serial/flash_verify.h"
#include "serial/packets.h"
#include "sim/bootloader_device.h"
#include "ui/main_window.h"

namespace rompush::testing {
namespace {

using sim::BootloaderDevice;
using sim::Fault;

constexpr std::size_t kQtrImageBytes = 256 * 128;
constexpr std::size_t kVlnImageBytes = 25 * 512;  // pages 4..28
constexpr std::uint16_t kVlnBase = 0x800;

// An image with a recognisable byte in every cell.
std::vector<std::uint8_t> PatternImage(std::size_t size, unsigned seed = 7) {
    std::vector<std::uint8_t> image(size);
    for (std::size_t i = 0; i < size; ++i)
        image[i] = static_cast<std::uint8_t>((i * 31 + seed + (i >> 8)) & 0xFF);
    return image;
}

Fault MakeFault(Fault::Kind kind, std::uint8_t command, int skip = 0, int times = -1,
                int bytes = 0) {
    Fault fault;
    fault.kind = kind;
    fault.command = command;
    fault.skip = skip;
    fault.times = times;
    fault.bytes = bytes;
    return fault;
}

class FlashRoutineTest : public ProgramTest {
  protected:
    // A device of the type on the next free COM port, the port open at 115200 baud. Earlier
    // devices stay on their lines, so nothing they have scheduled outlives them.
    void Attach(int type, std::uint8_t flags = 0) {
        device = std::make_shared<BootloaderDevice>(BootloaderDevice::Config::ForType(type, flags));
        const int port = nextPort_++;
        sim::SerialLine* attached = &sim.serial.Attach(port, device);
        line = attached;
        device->SetUnplugHook([attached] { attached->Unplug(); });
        ui::frmUI_Load();
        g.port.BaudSetting = "115200";
        ASSERT_TRUE(SetCommPort(static_cast<std::uint8_t>(port)));
    }
    void AttachQtr() { Attach(3); }
    void AttachVln() { Attach(2); }

    // The file PROGRAM and VERIFY read, for the device letter it belongs to.
    void UseFile(char letter, std::uint16_t base, const std::vector<std::uint8_t>& image) {
        const std::string path = PathIn("firmware.hex");
        WriteHexFile(path, ProductCodeFor(letter), base, image);
        g.files.SelectedFileName = "firmware.hex";
        g.files.SelectedFilePath = path;
    }
    // What the command sets before it calls the routine.
    void As(std::uint8_t command) {
        g.cmd.CurrentCommand = command;
        g.result.ProgramMode = command == uicmdPROGRAM;
        g.result.ErrorCode = 0;
    }

    std::vector<const BootloaderDevice::ReceivedPacket*> PacketsOf(std::uint8_t command) const {
        std::vector<const BootloaderDevice::ReceivedPacket*> found;
        for (const auto& packet : device->Packets()) {
            if (packet.command == command)
                found.push_back(&packet);
        }
        return found;
    }
    std::vector<std::uint8_t> FlashFrom(std::size_t address, std::size_t size) const {
        const auto& flash = device->Flash();
        return std::vector<std::uint8_t>(
            flash.begin() + static_cast<std::ptrdiff_t>(address),
            flash.begin() + static_cast<std::ptrdiff_t>(address + size));
    }
    // The device's flash set to the image, as after an earlier good program.
    void LoadFlash(std::size_t address, const std::vector<std::uint8_t>& image) {
        std::copy(image.begin(), image.end(),
                  device->Flash().begin() + static_cast<std::ptrdiff_t>(address));
    }
    const ui::FrmUI& F() { return frmUI(); }

    std::shared_ptr<BootloaderDevice> device;
    sim::SerialLine* line = nullptr;

  private:
    int nextPort_ = 2;
};

// ---- QTR ----------------------------------------------------------------------------------

TEST_F(FlashRoutineTest, QtrImageBlankButPageThreeWritesOnlyPageThree) {
    AttachQtr();
    std::vector<std::uint8_t> image(kQtrImageBytes, 0xFF);
    for (int i = 0; i < 128; ++i)
        image[3 * 128 + i] = static_cast<std::uint8_t>(i);
    UseFile('D', 0, image);
    As(uicmdPROGRAM);
    EraseProgramQTR();

    EXPECT_EQ(g.result.ErrorCode, 0);
    EXPECT_EQ(device->CountOf(WRITE_PAGE_CMD), 4);
    EXPECT_EQ(device->CountOf(SET_PAGE_CMD), 256);
    EXPECT_EQ(device->CountOf(ERASE_PAGE_CMD), 256);
    EXPECT_EQ(device->CountOf(CRC_PAGE_CMD), 256);
    for (const auto* write : PacketsOf(WRITE_PAGE_CMD)) {
        const int address = write->payload[1] * 256 + write->payload[2];
        EXPECT_GE(address, 3 * 128);
        EXPECT_LT(address, 4 * 128);
    }
    EXPECT_EQ(FlashFrom(0, kQtrImageBytes), image);
    EXPECT_EQ(F().lblPASS.Caption, "Flash complete");
    EXPECT_EQ(F().frmPASS.BackColor, ui::colour::kButtonFace);
    EXPECT_FALSE(F().ProgressBar1.Visible);
    EXPECT_EQ(F().ProgressBar1.Max, 256);
}

TEST_F(FlashRoutineTest, QtrWriteBlockCarriesCountAddressAndImageBytes) {
    AttachQtr();
    const auto image = PatternImage(kQtrImageBytes);
    UseFile('D', 0, image);
    As(uicmdPROGRAM);
    EraseProgramQTR();
    ASSERT_EQ(g.result.ErrorCode, 0);

    const auto writes = PacketsOf(WRITE_PAGE_CMD);
    ASSERT_EQ(writes.size(), 256u * 4);
    // Page 0, block 1: &H20, &H00, &H20, then image bytes 32 to 63.
    std::vector<std::uint8_t> expected{0x20, 0x00, 0x20};
    expected.insert(expected.end(), image.begin() + 32, image.begin() + 64);
    EXPECT_EQ(writes[1]->payload, expected);
    // Last block: address &H7FE0.
    EXPECT_EQ(writes.back()->payload[1], 0x7F);
    EXPECT_EQ(writes.back()->payload[2], 0xE0);
    // QTR: the device address is the image index.
    EXPECT_EQ(FlashFrom(0, kQtrImageBytes), image);
}

TEST_F(FlashRoutineTest, QtrEraseOnlyWritesAndChecksNothing) {
    AttachQtr();
    LoadFlash(0, PatternImage(kQtrImageBytes));
    As(uicmdERASE);
    EraseProgramQTR();
    EXPECT_EQ(g.result.ErrorCode, 0);
    EXPECT_EQ(device->CountOf(ERASE_PAGE_CMD), 256);
    EXPECT_EQ(device->CountOf(WRITE_PAGE_CMD), 0);
    EXPECT_EQ(device->CountOf(CRC_PAGE_CMD), 0);
    EXPECT_EQ(device->CountOf(ID_CMD), 0);  // no identification when only erasing
    EXPECT_EQ(FlashFrom(0, kQtrImageBytes), std::vector<std::uint8_t>(kQtrImageBytes, 0xFF));
    EXPECT_EQ(F().lblPASS.Caption, "Erase complete");
}

TEST_F(FlashRoutineTest, QtrTraceNamesTheRoutineAndThePagesScanned) {
    AttachQtr();
    std::vector<std::uint8_t> image(kQtrImageBytes, 0xFF);
    image[3 * 128 + 5] = 0;
    UseFile('D', 0, image);
    StartTrace();
    As(uicmdPROGRAM);
    EraseProgramQTR();
    const auto lines = TraceLines();
    const auto has = [&](const std::string& text) {
        return std::find(lines.begin(), lines.end(), text) != lines.end();
    };
    EXPECT_TRUE(has("        EraseProgramQTR()"));
    EXPECT_TRUE(has("                Scan_For_Data( &H0 )"));
    EXPECT_TRUE(has("                Scan_For_Data( &H180 )"));
    EXPECT_TRUE(has("                Scan_For_Data( &H7F80 )"));
    EXPECT_TRUE(g.trace.TraceIndent.empty());
}

TEST_F(FlashRoutineTest, QtrDeviceThatDoesNotIdentifyIsNotProgrammed) {
    AttachQtr();
    UseFile('D', 0, PatternImage(kQtrImageBytes));
    device->AddFault(MakeFault(Fault::Kind::Silence, ID_CMD));
    As(uicmdPROGRAM);
    EraseProgramQTR();
    EXPECT_EQ(g.result.ErrorCode, 7002);
    EXPECT_EQ(device->CountOf(FLASH_CMD), 0);
    EXPECT_EQ(device->CountOf(ERASE_PAGE_CMD), 0);
}

TEST_F(FlashRoutineTest, QtrFileForAnotherDeviceIsNotProgrammed) {
    AttachQtr();
    UseFile('H', 0, PatternImage(kQtrImageBytes));
    As(uicmdPROGRAM);
    EraseProgramQTR();
    EXPECT_EQ(g.result.ErrorCode, 1002);
    EXPECT_EQ(device->CountOf(ERASE_PAGE_CMD), 0);
    EXPECT_FALSE(F().ProgressBar1.Visible);
}

TEST_F(FlashRoutineTest, NoFileSelectedIsNotProgrammedWithAnOldImage) {
    for (const bool qtr : {true, false}) {
        qtr ? AttachQtr() : AttachVln();
        g.files.SelectedFileName = "";
        g.files.SelectedFilePath = "";
        As(uicmdPROGRAM);
        qtr ? EraseProgramQTR() : EraseProgramVLN();
        EXPECT_EQ(g.result.ErrorCode, 1001) << (qtr ? "QTR" : "VLN");
        EXPECT_EQ(device->CountOf(ERASE_PAGE_CMD), 0);
    }
}

// ---- VLN ----------------------------------------------------------------------------------

TEST_F(FlashRoutineTest, VlnWritesEveryBlockAtImageIndexPlus800) {
    AttachVln();
    const auto image = PatternImage(kVlnImageBytes, 3);
    UseFile('H', kVlnBase, image);
    As(uicmdPROGRAM);
    EraseProgramVLN();
    ASSERT_EQ(g.result.ErrorCode, 0);

    const auto writes = PacketsOf(WRITE_PAGE_CMD);
    ASSERT_EQ(writes.size(), 25u * 16);
    // Page 4, block 0: &H08 &H00; page 28, block 15: &H39 &HE0.
    EXPECT_EQ(writes.front()->payload[0], 0x20);
    EXPECT_EQ(writes.front()->payload[1], 0x08);
    EXPECT_EQ(writes.front()->payload[2], 0x00);
    EXPECT_EQ(writes.back()->payload[1], 0x39);
    EXPECT_EQ(writes.back()->payload[2], 0xE0);
    EXPECT_EQ(
        std::vector<std::uint8_t>(writes.back()->payload.begin() + 3, writes.back()->payload.end()),
        std::vector<std::uint8_t>(image.end() - 32, image.end()));
    EXPECT_EQ(device->CountOf(ERASE_PAGE_CMD), 25);
    EXPECT_EQ(device->CountOf(CRC_PAGE_CMD), 25);
    // VLN: the device address is the image index + &H800.
    EXPECT_EQ(FlashFrom(kVlnBase, kVlnImageBytes), image);
    EXPECT_EQ(F().lblPASS.Caption, "Flash complete");
    EXPECT_EQ(F().ProgressBar1.Max, 400);
}

TEST_F(FlashRoutineTest, VlnEraseOnlyStepsOncePerPage) {
    AttachVln();
    LoadFlash(kVlnBase, PatternImage(kVlnImageBytes));
    As(uicmdERASE);
    EraseProgramVLN();
    EXPECT_EQ(g.result.ErrorCode, 0);
    EXPECT_EQ(F().ProgressBar1.Max, 25);
    EXPECT_EQ(device->CountOf(ERASE_PAGE_CMD), 25);
    EXPECT_EQ(device->CountOf(WRITE_PAGE_CMD), 0);
    EXPECT_EQ(FlashFrom(kVlnBase, kVlnImageBytes), std::vector<std::uint8_t>(kVlnImageBytes, 0xFF));
    EXPECT_EQ(F().lblPASS.Caption, "Erase complete");
}

TEST_F(FlashRoutineTest, VlnEraseAnsweredWithThreeBytesIsTriedFiveTimes) {
    AttachVln();
    device->AddFault(MakeFault(Fault::Kind::CutShort, ERASE_PAGE_CMD, 0, 5, 3));
    As(uicmdERASE);
    EraseProgramVLN();
    EXPECT_EQ(device->CountOf(SET_PAGE_CMD), 5);
    EXPECT_EQ(device->CountOf(ERASE_PAGE_CMD), 5);
    // The fifth answer, 04 59 and one CRC byte, is judged: its code is not two bytes from
    // its end.
    EXPECT_EQ(g.result.ErrorCode, 4004);
    EXPECT_EQ(g.link.RcvArray[0], 3);
    EXPECT_EQ(g.link.RcvArray[2], 0x59);
}

TEST_F(FlashRoutineTest, VlnEraseWholeOnTheFifthTryGoesOn) {
    AttachVln();
    device->AddFault(MakeFault(Fault::Kind::CutShort, ERASE_PAGE_CMD, 0, 4, 3));
    As(uicmdERASE);
    EraseProgramVLN();
    EXPECT_EQ(g.result.ErrorCode, 0);
    EXPECT_EQ(device->CountOf(ERASE_PAGE_CMD), 5 + 24);
}

TEST_F(FlashRoutineTest, EraseAnswersTooShortToHoldTheirCodeAreWrong) {
    for (int bytes : {1, 2}) {
        SCOPED_TRACE(bytes);
        AttachQtr();
        device->AddFault(MakeFault(Fault::Kind::CutShort, ERASE_PAGE_CMD, 0, -1, bytes));
        As(uicmdERASE);
        EraseProgramQTR();
        EXPECT_EQ(g.result.ErrorCode, 3004);
        EXPECT_EQ(device->CountOf(ERASE_PAGE_CMD), 1);
    }
    AttachVln();
    device->AddFault(MakeFault(Fault::Kind::CutShort, ERASE_PAGE_CMD, 0, -1, 1));
    As(uicmdERASE);
    EraseProgramVLN();
    EXPECT_EQ(g.result.ErrorCode, 4004);
    EXPECT_EQ(device->CountOf(ERASE_PAGE_CMD), 5);
}

// ---- Erase and program failures ------------------------------------------------------------

struct FailureCase {
    const char* name;
    bool vln;
    bool program;
    Fault fault;
    int code;
    const char* heading;
};

// Test names and failure messages show the case by its name.
void PrintTo(const FailureCase& c, std::ostream* out) {
    *out << c.name;
}

class FlashFailureTest : public FlashRoutineTest,
                         public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FlashFailureTest, ShowsItsCodeInTheProgramRow) {
    const FailureCase& c = GetParam();
    if (c.vln) {
        AttachVln();
        UseFile('H', kVlnBase, PatternImage(kVlnImageBytes));
    } else {
        AttachQtr();
        UseFile('D', 0, PatternImage(kQtrImageBytes));
    }
    device->AddFault(c.fault);
    As(c.program ? uicmdPROGRAM : uicmdERASE);
    const auto start = sim.clock.NowMs();
    if (c.vln) {
        EraseProgramVLN();
    } else {
        EraseProgramQTR();
    }
    EXPECT_EQ(g.result.ErrorCode, c.code);
    EXPECT_EQ(F().lblPASS.Caption, "ERROR CODE: " + std::to_string(c.code));
    EXPECT_EQ(F().frmPASS.BackColor, ui::colour::kRed);
    EXPECT_EQ(F().lblPROGRAM.BackColor, ui::colour::kRed);
    EXPECT_EQ(F().lblPROGRAM.Caption.rfind(c.heading, 0), 0u) << F().lblPROGRAM.Caption;
    EXPECT_TRUE(F().linPROGRAM.Visible);
    EXPECT_FALSE(F().ProgressBar1.Visible);
    // The page loop ends at the failing page.
    EXPECT_LE(device->CountOf(ERASE_PAGE_CMD), c.vln ? 5 : 3);
    EXPECT_LT(sim.clock.NowMs() - start, 10 * 60 * 1000);
}

const char* const kResponseError = "A command response error occurred.  \r\r";
const char* const kTimeoutError = "A response timeout error occurred.  \r\r";

INSTANTIATE_TEST_SUITE_P(
    Codes, FlashFailureTest,
    ::testing::Values(
        FailureCase{"Qtr3003", false, true,
                    MakeFault(Fault::Kind::WrongCode, WRITE_PAGE_CMD, 4, -1), 3003, kResponseError},
        FailureCase{"Qtr3004", false, false,
                    MakeFault(Fault::Kind::WrongCode, ERASE_PAGE_CMD, 2, -1), 3004, kResponseError},
        FailureCase{"Qtr3005", false, true, MakeFault(Fault::Kind::Silence, FLASH_CMD, 1, -1), 3005,
                    kTimeoutError},
        FailureCase{"Vln4003", true, true,
                    MakeFault(Fault::Kind::WrongCode, WRITE_PAGE_CMD, 16, -1), 4003,
                    kResponseError},
        FailureCase{"Vln4004", true, false,
                    MakeFault(Fault::Kind::WrongCode, ERASE_PAGE_CMD, 0, -1), 4004, kResponseError},
        FailureCase{"Vln4005", true, true, MakeFault(Fault::Kind::Silence, ERASE_PAGE_CMD, 0, -1),
                    4005, kResponseError},
        FailureCase{"Vln4006", true, true, MakeFault(Fault::Kind::Silence, FLASH_CMD, 1, -1), 4006,
                    kTimeoutError}),
    [](const ::testing::TestParamInfo<FailureCase>& param) {
        return std::string(param.param.name);
    });

TEST_F(FlashRoutineTest, WrongWriteAnswerDumpsTheAnswer) {
    AttachQtr();
    UseFile('D', 0, PatternImage(kQtrImageBytes));
    Fault fault = MakeFault(Fault::Kind::WrongCode, WRITE_PAGE_CMD);
    fault.code = 0x7E;
    device->AddFault(fault);
    As(uicmdPROGRAM);
    EraseProgramQTR();
    ASSERT_EQ(g.result.ErrorCode, 3003);
    EXPECT_EQ(F().lblPROGRAM.Caption.substr(0, 44), std::string(kResponseError) + " 04 7E");
    EXPECT_EQ(device->CountOf(WRITE_PAGE_CMD), 1);  // writing stops at the first bad block
    EXPECT_EQ(device->CountOf(CRC_PAGE_CMD), 0);
}

TEST_F(FlashRoutineTest, QtrDeviceUnpluggedMidProgramEndsWithAnError) {
    AttachQtr();
    UseFile('D', 0, PatternImage(kQtrImageBytes));
    device->AddFault(MakeFault(Fault::Kind::Unplug, WRITE_PAGE_CMD, 10, 1));
    As(uicmdPROGRAM);
    const auto start = sim.clock.NowMs();
    EraseProgramQTR();
    EXPECT_TRUE(line->Unplugged());
    EXPECT_EQ(g.result.ErrorCode, 3003);
    EXPECT_EQ(F().lblPASS.Caption, "ERROR CODE: 3003");
    EXPECT_LT(sim.clock.NowMs() - start, 60 * 1000);
}

TEST_F(FlashRoutineTest, VlnDeviceUnpluggedMidProgramEndsWithAnError) {
    AttachVln();
    UseFile('H', kVlnBase, PatternImage(kVlnImageBytes));
    device->AddFault(MakeFault(Fault::Kind::Unplug, ERASE_PAGE_CMD, 3, 1));
    As(uicmdPROGRAM);
    const auto start = sim.clock.NowMs();
    EraseProgramVLN();
    EXPECT_TRUE(line->Unplugged());
    EXPECT_EQ(g.result.ErrorCode, 4005);  // five erase tries, each waited out for 60 s
    EXPECT_EQ(F().lblPASS.Caption, "ERROR CODE: 4005");
    EXPECT_LT(sim.clock.NowMs() - start, 6 * 60 * 1000);
}

// ---- Conversions ---------------------------------------------------------------------------

TEST(FlashConversions, SignedAndUnsignedSixteenBitValues) {
    EXPECT_EQ(IntegerToUnsigned(-1), 65535);
    EXPECT_EQ(IntegerToUnsigned(-32768), 32768);
    EXPECT_EQ(IntegerToUnsigned(0x800), 0x800);
    EXPECT_EQ(IntegerToUnsigned(32767), 32767);
    EXPECT_EQ(UnsignedToInteger(65535), -1);
    EXPECT_EQ(UnsignedToInteger(32768), -32768);
    EXPECT_EQ(UnsignedToInteger(32767), 32767);
    EXPECT_EQ(UnsignedToInteger(0x39), 0x39);
    // Outside 0..65535 there is no 16-bit form: the low 16 bits are taken, without a crash.
    EXPECT_EQ(UnsignedToInteger(65536), 0);
    EXPECT_EQ(UnsignedToInteger(65536 + 0x39E0), 0x39E0);
    EXPECT_EQ(UnsignedToInteger(-1), -1);
    EXPECT_EQ(UnsignedToInteger(-65536), 0);
    EXPECT_EQ(UnsignedToInteger(INT32_MIN), 0);
    EXPECT_EQ(UnsignedToInteger(INT32_MAX), -1);
}

// ---- Verify --------------------------------------------------------------------------------

TEST_F(FlashRoutineTest, QtrVerifyComparesOnlyTheFirstHundredPages) {
    AttachQtr();
    auto image = PatternImage(kQtrImageBytes);
    UseFile('D', 0, image);
    LoadFlash(0, image);
    device->Flash()[150 * 128 + 7] ^= 0x55;
    As(uicmdVERIFY);
    VerifyQTR();
    EXPECT_EQ(g.result.ErrorCode, 0);
    EXPECT_EQ(device->CountOf(CRC_PAGE_CMD), 100);
    EXPECT_EQ(F().lblPASS.Caption, "Verify complete");
    EXPECT_EQ(F().ProgressBar1.Max, 200);
    EXPECT_FALSE(F().ProgressBar1.Visible);

    // Page 99 is compared.
    device->Flash()[99 * 128 + 127] ^= 0x01;
    device->ClearLog();
    As(uicmdVERIFY);
    VerifyQTR();
    EXPECT_EQ(g.result.ErrorCode, 1301);
    EXPECT_EQ(device->CountOf(CRC_PAGE_CMD), 100);
    EXPECT_EQ(F().lblVERIFY.Caption,
              "A CRC error has occured.  Check that the correct file has been selected and "
              "retest.");
    EXPECT_EQ(F().lblVERIFY.BackColor, ui::colour::kRed);
}

TEST_F(FlashRoutineTest, QtrVerifyStopsAtTheFirstDifferentPage) {
    AttachQtr();
    const auto image = PatternImage(kQtrImageBytes);
    UseFile('D', 0, image);
    LoadFlash(0, image);
    device->Flash()[10 * 128] ^= 0xFF;
    As(uicmdVERIFY);
    VerifyQTR();
    EXPECT_EQ(g.result.ErrorCode, 1301);
    EXPECT_EQ(device->CountOf(CRC_PAGE_CMD), 11);
}

TEST_F(FlashRoutineTest, DeviceThatNeverAnswersCrcVerifiesWithoutError) {
    AttachQtr();
    UseFile('D', 0, PatternImage(kQtrImageBytes));
    device->AddFault(MakeFault(Fault::Kind::Silence, CRC_PAGE_CMD));
    As(uicmdVERIFY);
    const auto start = sim.clock.NowMs();
    VerifyQTR();
    EXPECT_EQ(g.result.ErrorCode, 0);
    EXPECT_EQ(F().lblPASS.Caption, "Verify complete");
    // Every page sits out its 3000 ms.
    EXPECT_GE(sim.clock.NowMs() - start, 100 * 3000);
}

TEST_F(FlashRoutineTest, QtrVerifyWithoutFlashModeIs1302) {
    AttachQtr();
    UseFile('D', 0, PatternImage(kQtrImageBytes));
    device->AddFault(MakeFault(Fault::Kind::Silence, FLASH_CMD));
    As(uicmdVERIFY);
    VerifyQTR();
    EXPECT_EQ(g.result.ErrorCode, 1302);
    EXPECT_EQ(device->CountOf(FLASH_CMD), 1);
    EXPECT_EQ(F().lblVERIFY.Caption, kTimeoutError);
    EXPECT_EQ(device->CountOf(CRC_PAGE_CMD), 0);
}

TEST_F(FlashRoutineTest, VlnVerifyComparesPagesFourToTwentyEight) {
    AttachVln();
    const auto image = PatternImage(kVlnImageBytes);
    UseFile('H', kVlnBase, image);
    LoadFlash(kVlnBase, image);
    As(uicmdVERIFY);
    VerifyVLN();
    EXPECT_EQ(g.result.ErrorCode, 0);
    EXPECT_EQ(device->CountOf(CRC_PAGE_CMD), 25);
    EXPECT_EQ(F().lblPASS.Caption, "Verify complete");

    device->Flash()[28 * 512 + 511] ^= 0x01;
    As(uicmdVERIFY);
    VerifyVLN();
    EXPECT_EQ(g.result.ErrorCode, 1401);
    EXPECT_EQ(F().lblPASS.Caption, "ERROR CODE: 1401");
    EXPECT_EQ(F().lblVERIFY.BackColor, ui::colour::kRed);
}

TEST_F(FlashRoutineTest, VlnVerifyTriesFlashModeTwice) {
    AttachVln();
    UseFile('H', kVlnBase, PatternImage(kVlnImageBytes));
    device->AddFault(MakeFault(Fault::Kind::Silence, FLASH_CMD));
    As(uicmdVERIFY);
    VerifyVLN();
    EXPECT_EQ(g.result.ErrorCode, 1402);
    EXPECT_EQ(device->CountOf(FLASH_CMD), 2);

    // One miss is forgiven.
    device->ClearFaults();
    device->AddFault(MakeFault(Fault::Kind::Silence, FLASH_CMD, 0, 1));
    UseFile('H', kVlnBase, std::vector<std::uint8_t>(kVlnImageBytes, 0xFF));
    As(uicmdVERIFY);
    VerifyVLN();
    EXPECT_EQ(g.result.ErrorCode, 0);
}

TEST_F(FlashRoutineTest, VlnVerifyAfterProgramUsesTheImageItWrote) {
    AttachVln();
    const auto image = PatternImage(kVlnImageBytes);
    UseFile('H', kVlnBase, image);
    LoadFlash(kVlnBase, image);
    // The image is in memory; the file has gone since.
    ASSERT_TRUE(ValidateHexFile(g.files.SelectedFileName, g.files.SelectedFilePath));
    std::remove(g.files.SelectedFilePath.c_str());
    g.result.ProgramVerifyOk = true;
    StartTrace();
    As(uicmdVERIFY);
    VerifyVLN();
    EXPECT_EQ(g.result.ErrorCode, 0);
    for (const auto& l : TraceLines())
        EXPECT_EQ(l.find("ValidateHexFile()"), std::string::npos) << l;

    // Without a program before it, the file is read again and its loss is reported.
    g.result.ProgramVerifyOk = false;
    As(uicmdVERIFY);
    device->ClearLog();
    VerifyVLN();
    EXPECT_EQ(g.result.ErrorCode, 1001);
    EXPECT_EQ(device->Packets().size(), 0u);
}

// ---- The numbers the routines must keep ----------------------------------------------------

// Flash mode is asked for four times before the routine gives up: a device that answers the
// fourth FLASH_CMD is programmed, one that answers none of four fails with 3005 / 4006.
TEST_F(FlashRoutineTest, FlashModeIsTriedFourTimes) {
    for (const bool vln : {false, true}) {
        for (const int silent : {3, 4}) {
            SCOPED_TRACE(std::string(vln ? "VLN" : "QTR") + ", silent " + std::to_string(silent));
            g.dev.DeviceFound = false;  // the device before this one is not the one attached
            if (vln) {
                AttachVln();
                UseFile('H', kVlnBase, PatternImage(kVlnImageBytes));
            } else {
                AttachQtr();
                UseFile('D', 0, PatternImage(kQtrImageBytes));
            }
            // The identification's own FLASH_CMD comes first and is answered.
            device->AddFault(MakeFault(Fault::Kind::Silence, FLASH_CMD, 1, silent));
            As(uicmdPROGRAM);
            vln ? EraseProgramVLN() : EraseProgramQTR();
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
        AttachVln();
        UseFile('H', kVlnBase, PatternImage(kVlnImageBytes));
        Fault late = MakeFault(Fault::Kind::Late, WRITE_PAGE_CMD, 5, 1);
        late.delayUs = seconds * 1000000LL;
        device->AddFault(late);
        As(uicmdPROGRAM);
        EraseProgramVLN();
        EXPECT_EQ(g.result.ErrorCode, seconds < 60 ? 0 : 4003);
    }
}

}  // namespace
}  // namespace rompush::testing
