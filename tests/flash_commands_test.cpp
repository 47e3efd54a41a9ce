// ERASE, PROGRAM and VERIFY as the operator runs them: SCAN finds a simulated device, the
// buttons post their commands, the command loop runs them on the virtual clock.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "core/main_loop.h"
#include "core/settings_file.h"
#include "hex_file_writer.h"
#include "program_fixture.h"
#include "serial/packets.h"
#include "sim/bootloader_device.h"
#include "ui/main_window.h"

namespace rompush::testing {
namespace {

using sim::BootloaderDevice;
using sim::Fault;

constexpr std::size_t kQtrImageBytes = 256 * 128;
constexpr std::size_t kVlnImageBytes = 25 * 512;
constexpr std::uint16_t kVlnBase = 0x800;

std::vector<std::uint8_t> PatternImage(std::size_t size) {
    std::vector<std::uint8_t> image(size);
    for (std::size_t i = 0; i < size; ++i)
        image[i] = static_cast<std::uint8_t>((i * 13 + 5 + (i >> 9)) & 0xFF);
    return image;
}

Fault MakeFault(Fault::Kind kind, std::uint8_t command, int skip = 0, int times = -1) {
    Fault fault;
    fault.kind = kind;
    fault.command = command;
    fault.skip = skip;
    fault.times = times;
    return fault;
}

// The devices the commands serve: the device type and flags it answers with, its letter.
struct Kind {
    int type;
    std::uint8_t flags;
    char letter;
    bool vln() const { return letter != 'D'; }
    std::size_t imageBytes() const { return vln() ? kVlnImageBytes : kQtrImageBytes; }
    std::uint16_t base() const { return vln() ? kVlnBase : 0; }
};
constexpr Kind kReceiver{3, 0, 'D'};
constexpr Kind kTransmitter{1, 0, 'H'};
constexpr Kind kMaster{1, 0x08, 'M'};

class FlashCommandTest : public ProgramTest {
  protected:
    // Puts the device on COM3, starts the program, chooses a file for it and runs SCAN.
    void Start(const Kind& kind) {
        kind_ = kind;
        device = std::make_shared<BootloaderDevice>(
            BootloaderDevice::Config::ForType(kind.type, kind.flags));
        sim::SerialLine* attached = &sim.serial.Attach(3, device);
        line = attached;
        device->SetUnplugHook([attached] { attached->Unplug(); });
        StartUp();
        image = PatternImage(kind.imageBytes());
        path = PathIn("firmware.hex");
        WriteHexFile(path, ProductCodeFor(kind.letter), kind.base(), image);
        g.files.SelectedFileName = "firmware.hex";
        g.files.SelectedFilePath = path;
        Press(frmUI().btnSCAN);
        ASSERT_EQ(frmUI().lblPASS.Caption, "TARN Product Found");
        ASSERT_EQ(g.dev.DevLetter, std::string(1, kind.letter));
        device->ClearLog();
    }
    void Press(ui::CommandButton& button) {
        ASSERT_TRUE(button.Enabled) << button.Name;
        button.MouseUp();
        CommandLoopPass();
    }
    // The device's flash where the image goes.
    std::vector<std::uint8_t> FlashImage() const {
        const auto& flash = device->Flash();
        const auto begin = flash.begin() + kind_.base();
        return std::vector<std::uint8_t>(begin, begin + static_cast<std::ptrdiff_t>(image.size()));
    }
    void LoadFlashWithImage() {
        std::copy(image.begin(), image.end(), device->Flash().begin() + kind_.base());
    }
    // Flips a byte in a page that every verify compares.
    void SpoilFlash() { device->Flash()[kind_.base() + 5 * 512 + 3] ^= 0x40; }
    std::size_t IndexOfFirst(std::uint8_t command) const {
        const auto& packets = device->Packets();
        for (std::size_t i = 0; i < packets.size(); ++i) {
            if (packets[i].command == command)
                return i;
        }
        return packets.size();
    }
    std::size_t IndexOfLast(std::uint8_t command) const {
        const auto& packets = device->Packets();
        for (std::size_t i = packets.size(); i > 0; --i) {
            if (packets[i - 1].command == command)
                return i - 1;
        }
        return packets.size();
    }
    bool TraceHas(const std::string& text) {
        for (const auto& l : TraceLines()) {
            if (l.find(text) != std::string::npos)
                return true;
        }
        return false;
    }
    bool PortAt115200() const {
        return sim.serial.PortOpen() && sim.serial.Settings() == "115200,N,8,1";
    }
    const ui::FrmUI& F() { return frmUI(); }

    std::shared_ptr<BootloaderDevice> device;
    sim::SerialLine* line = nullptr;
    std::vector<std::uint8_t> image;
    std::string path;

  private:
    Kind kind_{};
};

TEST_F(FlashCommandTest, ReceiverProgramRunsVerifyAndReportsBoth) {
    Start(kReceiver);
    StartTrace();
    Press(frmUI().btnPROGRAM);

    EXPECT_EQ(g.result.ErrorCode, 0);
    EXPECT_EQ(g.cmd.UiCommand, uicmdVERIFY);
    EXPECT_TRUE(g.result.ProgramVerifyOk);
    EXPECT_EQ(g.cmd.CurrentCommand, uicmdPROGRAM);
    EXPECT_EQ(FlashImage(), image);  // QTR: device address = image index
    EXPECT_TRUE(TraceHas("ShowMsg( Program OK )"));
    // The file is now the receiver's last used one, in memory and in the settings file.
    EXPECT_EQ(g.files.LastUsedName, "firmware.hex");
    EXPECT_EQ(g.files.LastUsedPath, path);
    EXPECT_NE(ReadFile(IniPath()).find("D " + path + "\r\n"), std::string::npos);
    EXPECT_FALSE(F().btnLASTUSED.Enabled);
    // The application was started again and identified.
    EXPECT_GT(IndexOfLast(GO_CMD), IndexOfLast(WRITE_PAGE_CMD));
    EXPECT_GT(IndexOfLast(ID_CMD), IndexOfLast(GO_CMD) - 5);
    EXPECT_EQ(F().StatusBar1.Panels[2].Text, "Rev D1.2A");

    CommandLoopPass();  // VERIFY
    EXPECT_EQ(g.result.ErrorCode, 0);
    EXPECT_EQ(g.cmd.CurrentCommand, uicmdVERIFY);
    EXPECT_EQ(F().lblPASS.Caption, "Program and Verify OK");
    EXPECT_EQ(F().frmPASS.BackColor, ui::colour::kGreen);
    EXPECT_FALSE(g.result.ProgramVerifyOk);
    EXPECT_EQ(g.cmd.UiCommand, 0);
    EXPECT_EQ(device->CountOf(CRC_PAGE_CMD), 256 + 100);
    EXPECT_TRUE(PortAt115200());
    EXPECT_TRUE(F().btnPROGRAM.Enabled);
    EXPECT_EQ(F().Focused, &F().btnPROGRAM);
}

TEST_F(FlashCommandTest, MasterWaitsBeforeItsVerifyAndReportsBoth) {
    Start(kMaster);
    Press(frmUI().btnPROGRAM);
    ASSERT_EQ(g.result.ErrorCode, 0);
    ASSERT_EQ(g.cmd.UiCommand, uicmdVERIFY);
    EXPECT_EQ(FlashImage(), image);  // VLN: device address = image index + &H800

    device->ClearLog();
    StartTrace();
    const std::int64_t verifyStartUs = sim.clock.NowUs();
    CommandLoopPass();  // VERIFY
    // After the wait the restarted master takes the first FLASH_CMD at once.
    ASSERT_FALSE(device->Packets().empty());
    EXPECT_EQ(device->Packets().front().command, FLASH_CMD);
    const std::int64_t firstPacketMs = (device->Packets().front().atUs - verifyStartUs) / 1000;
    EXPECT_GE(firstPacketMs, 3000);
    EXPECT_LT(firstPacketMs, 4000);
    EXPECT_TRUE(TraceHas("        Delay( 3000 )"));
    EXPECT_EQ(F().lblPASS.Caption, "Program and Verify OK");
    EXPECT_EQ(F().frmPASS.BackColor, ui::colour::kGreen);
    EXPECT_FALSE(g.result.ProgramVerifyOk);
    EXPECT_TRUE(PortAt115200());
}

TEST_F(FlashCommandTest, TransmitterVerifiesWithoutTheMastersWait) {
    Start(kTransmitter);
    Press(frmUI().btnPROGRAM);
    ASSERT_EQ(g.cmd.UiCommand, uicmdVERIFY);
    StartTrace();
    CommandLoopPass();
    EXPECT_EQ(F().lblPASS.Caption, "Program and Verify OK");
    // Only the trailing waits of a good verify last 3000 ms; none comes before the check.
    const auto lines = TraceLines();
    const auto verify = std::find(lines.begin(), lines.end(), "        VerifyVLN()");
    ASSERT_NE(verify, lines.end());
    EXPECT_EQ(std::find(lines.begin(), verify, "        Delay( 3000 )"), verify);
}

TEST_F(FlashCommandTest, VerifyAloneReportsVerifyOk) {
    Start(kReceiver);
    LoadFlashWithImage();
    Press(frmUI().btnVERIFY);
    EXPECT_EQ(g.result.ErrorCode, 0);
    EXPECT_EQ(F().lblPASS.Caption, "Verify OK");
    EXPECT_EQ(F().frmPASS.BackColor, ui::colour::kGreen);
    EXPECT_EQ(g.cmd.UiCommand, 0);
    EXPECT_EQ(device->CountOf(WRITE_PAGE_CMD), 0);
    EXPECT_EQ(device->CountOf(ERASE_PAGE_CMD), 0);
    EXPECT_TRUE(PortAt115200());
}

TEST_F(FlashCommandTest, FailedReceiverProgramLeavesEverythingForTheNextAttempt) {
    Start(kReceiver);
    WriteFile(IniPath(), ReadFile(IniPath()));  // the settings file as it stands
    const std::string settingsBefore = ReadFile(IniPath());
    const std::string lastUsedBefore = g.files.LastUsedPath;
    device->AddFault(MakeFault(Fault::Kind::WrongCode, ERASE_PAGE_CMD, 5));
    Press(frmUI().btnPROGRAM);

    EXPECT_EQ(g.result.ErrorCode, 3004);
    EXPECT_EQ(F().lblPASS.Caption, "ERROR CODE: 3004");
    EXPECT_EQ(F().lblPROGRAM.BackColor, ui::colour::kRed);
    EXPECT_EQ(g.cmd.UiCommand, 0);
    EXPECT_FALSE(g.result.ProgramVerifyOk);
    // No GO once the pages were started on: the device stays in its bootloader.
    const std::size_t firstPage = IndexOfFirst(SET_PAGE_CMD);
    ASSERT_LT(firstPage, device->Packets().size());
    const std::size_t lastGo = IndexOfLast(GO_CMD);
    EXPECT_TRUE(lastGo == device->Packets().size() || lastGo < firstPage);
    EXPECT_EQ(ReadFile(IniPath()), settingsBefore);
    EXPECT_EQ(g.files.LastUsedPath, lastUsedBefore);
    EXPECT_TRUE(PortAt115200());
    CommandLoopPass();
    EXPECT_EQ(device->CountOf(CRC_PAGE_CMD), 5);  // no VERIFY followed
}

// Where a failed verify shows its error, and that it ends the program-verified state.
struct VerifyFailure {
    const char* name;
    Kind kind;
    bool afterProgram;
    bool noFlashMode;  // else a page differs
    int code;
};

void PrintTo(const VerifyFailure& c, std::ostream* out) {
    *out << c.name;
}

class VerifyFailureTest : public FlashCommandTest,
                          public ::testing::WithParamInterface<VerifyFailure> {};

TEST_P(VerifyFailureTest, ShowsInTheRightRowAndClearsTheProgramState) {
    const VerifyFailure& c = GetParam();
    Start(c.kind);
    if (c.afterProgram) {
        Press(frmUI().btnPROGRAM);
        ASSERT_EQ(g.cmd.UiCommand, uicmdVERIFY);
        ASSERT_TRUE(g.result.ProgramVerifyOk);
    } else {
        LoadFlashWithImage();
        frmUI().btnVERIFY.MouseUp();
    }
    if (c.noFlashMode) {
        device->AddFault(MakeFault(Fault::Kind::Silence, FLASH_CMD));
    } else {
        SpoilFlash();
    }
    CommandLoopPass();  // VERIFY

    EXPECT_EQ(g.result.ErrorCode, c.code);
    EXPECT_EQ(F().lblPASS.Caption, "ERROR CODE: " + std::to_string(c.code));
    const ui::Label& row = c.afterProgram ? F().lblPROGRAM : F().lblVERIFY;
    const ui::Label& other = c.afterProgram ? F().lblVERIFY : F().lblPROGRAM;
    EXPECT_EQ(row.BackColor, ui::colour::kRed);
    EXPECT_NE(other.BackColor, ui::colour::kRed);
    if (c.noFlashMode) {
        EXPECT_EQ(row.Caption.rfind("A response timeout error occurred.  \r\r", 0), 0u)
            << row.Caption;
        EXPECT_EQ(F().linPROGRAM.Visible, c.afterProgram);
    } else if (c.afterProgram) {
        EXPECT_EQ(row.Caption, "A CRC error occured after programming.");
    } else {
        EXPECT_EQ(row.Caption,
                  "A CRC error has occured.  Check that the correct file has been selected and "
                  "retest.");
    }
    EXPECT_FALSE(g.result.ProgramVerifyOk);
    EXPECT_EQ(g.cmd.UiCommand, 0);
    EXPECT_TRUE(PortAt115200());

    // The next SCAN clears the error, the one after scans: neither reports a verified program.
    device->ClearFaults();
    Press(frmUI().btnSCAN);
    EXPECT_NE(F().lblPASS.Caption, "Program and Verify OK");
    Press(frmUI().btnSCAN);
    EXPECT_EQ(F().lblPASS.Caption, "TARN Product Found");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, VerifyFailureTest,
    ::testing::Values(VerifyFailure{"Qtr1301AfterProgram", kReceiver, true, false, 1301},
                      VerifyFailure{"Qtr1301Alone", kReceiver, false, false, 1301},
                      VerifyFailure{"Qtr1302AfterProgram", kReceiver, true, true, 1302},
                      VerifyFailure{"Qtr1302Alone", kReceiver, false, true, 1302},
                      VerifyFailure{"Vln1401AfterProgram", kTransmitter, true, false, 1401},
                      VerifyFailure{"Vln1401Alone", kTransmitter, false, false, 1401},
                      VerifyFailure{"Vln1402AfterProgram", kMaster, true, true, 1402},
                      VerifyFailure{"Vln1402Alone", kTransmitter, false, true, 1402}),
    [](const ::testing::TestParamInfo<VerifyFailure>& param) {
        return std::string(param.param.name);
    });

TEST_F(FlashCommandTest, TransmitterVerifyAfterProgramDoesNotReadTheFileAgain) {
    Start(kTransmitter);
    Press(frmUI().btnPROGRAM);
    ASSERT_EQ(g.cmd.UiCommand, uicmdVERIFY);
    std::remove(path.c_str());
    StartTrace();
    CommandLoopPass();
    EXPECT_EQ(g.result.ErrorCode, 0);
    EXPECT_EQ(F().lblPASS.Caption, "Program and Verify OK");
    EXPECT_FALSE(TraceHas("ValidateHexFile()"));
    EXPECT_TRUE(TraceHas("VerifyVLN()"));
}

// The adapter is pulled out while the pages are written.
class UnplugTest : public FlashCommandTest {
  protected:
    void Run(const Kind& kind) {
        Start(kind);
        device->AddFault(MakeFault(Fault::Kind::Unplug, WRITE_PAGE_CMD, 20, 1));
        const auto start = sim.clock.NowMs();
        Press(frmUI().btnPROGRAM);
        EXPECT_TRUE(line->Unplugged());
        EXPECT_EQ(g.result.ErrorCode, kind.vln() ? 4003 : 3003);
        EXPECT_EQ(F().lblPASS.Caption, "ERROR CODE: " + std::to_string(g.result.ErrorCode));
        EXPECT_EQ(F().lblPROGRAM.BackColor, ui::colour::kRed);
        EXPECT_EQ(g.cmd.UiCommand, 0);
        EXPECT_FALSE(g.result.ProgramVerifyOk);
        EXPECT_FALSE(sim.serial.PortOpen());  // the port has gone with the adapter
        EXPECT_LT(sim.clock.NowMs() - start, 10 * 60 * 1000);
        CommandLoopPass();  // the loop goes on
        EXPECT_EQ(g.cmd.UiCommand, 0);
    }
};

TEST_F(UnplugTest, ReceiverUnpluggedMidProgramEndsWithAnError) {
    Run(kReceiver);
}
TEST_F(UnplugTest, TransmitterUnpluggedMidProgramEndsWithAnError) {
    Run(kTransmitter);
}

class EraseTest : public FlashCommandTest {
  protected:
    void Run(const Kind& kind) {
        Start(kind);
        LoadFlashWithImage();
        StartTrace();
        Press(frmUI().btnERASE);
        EXPECT_EQ(g.result.ErrorCode, 0);
        EXPECT_EQ(g.cmd.CurrentCommand, uicmdERASE);
        EXPECT_EQ(FlashImage(), std::vector<std::uint8_t>(image.size(), 0xFF));
        EXPECT_EQ(device->CountOf(WRITE_PAGE_CMD), 0);
        EXPECT_EQ(device->CountOf(CRC_PAGE_CMD), 0);
        EXPECT_TRUE(TraceHas("ShowMsg( ERASE OK )"));
        EXPECT_GT(IndexOfLast(GO_CMD), IndexOfLast(ERASE_PAGE_CMD));
        EXPECT_GT(IndexOfLast(ID_CMD), IndexOfLast(ERASE_PAGE_CMD));
        EXPECT_EQ(g.cmd.UiCommand, 0);
        EXPECT_TRUE(PortAt115200());
    }
};

TEST_F(EraseTest, ReceiverIsLeftBlankAndRestarted) {
    Run(kReceiver);
}
TEST_F(EraseTest, MasterIsLeftBlankAndRestarted) {
    Run(kMaster);
}

// ---- Runs that fail must never look like a success --------------------------------------

// A PROGRAM (or the VERIFY and ERASE around it) that cannot be done ends at once with an error
// the operator can read, leaves the settings file as it was and the port at 115200 baud.
struct FailedRun {
    const char* name;
    Kind kind;
    char button;  // 'P' PROGRAM, 'V' VERIFY, 'E' ERASE
    Fault fault;
    int code;
    const char* labelStart;  // beginning of the text of the row that shows the error
    bool verifyRow;          // shown in the VERIFY row, else in the PROGRAM row
    bool kvtFile;            // a KVT firmware file is selected instead of the device's own
};

void PrintTo(const FailedRun& c, std::ostream* out) {
    *out << c.name;
}

class FailedRunTest : public FlashCommandTest, public ::testing::WithParamInterface<FailedRun> {};

const char* const kCrcAfterProgramming = "A CRC error occured after programming.";
const char* const kNoAnswer = "A response timeout error occurred.  \r\r";
const char* const kPortLost = "The COM port was lost.";
const Fault kNoFault = MakeFault(Fault::Kind::Silence, GO_CMD, 0, 0);  // never acts

TEST_P(FailedRunTest, EndsAtOnceWithItsErrorAndChangesNoSettings) {
    const FailedRun& c = GetParam();
    Start(c.kind);
    WriteFile(IniPath(), ReadFile(IniPath()));
    const std::string settingsBefore = ReadFile(IniPath());
    if (c.kvtFile) {
        // No product header, "KVT Rev " in its data: a file for the KVT remote control switch.
        const std::string kvt = PathIn("kvt.hex");
        WriteFile(kvt, HexRecord(0, 0, {'b', 'o', 'o', 't'}) + "\r\n" +
                           HexRecord(4, 0, {'K', 'V', 'T', ' ', 'R', 'e', 'v', ' ', '1'}) + "\r\n" +
                           HexRecord(13, 0, {1, 2}) + "\r\n:00000001FF\r\n");
        g.files.SelectedFileName = "kvt.hex";
        g.files.SelectedFilePath = kvt;
    }
    if (c.button == 'V')
        LoadFlashWithImage();
    device->AddFault(c.fault);
    const auto start = sim.clock.NowMs();
    Press(c.button == 'P'   ? frmUI().btnPROGRAM
          : c.button == 'V' ? frmUI().btnVERIFY
                            : frmUI().btnERASE);
    if (g.cmd.UiCommand == uicmdVERIFY)
        CommandLoopPass();

    EXPECT_EQ(g.result.ErrorCode, c.code);
    EXPECT_EQ(F().lblPASS.Caption, "ERROR CODE: " + std::to_string(c.code));
    EXPECT_EQ(F().frmPASS.BackColor, ui::colour::kRed);
    const ui::Label& row = c.kvtFile     ? F().lblHEXFILE
                           : c.verifyRow ? F().lblVERIFY
                                         : F().lblPROGRAM;
    EXPECT_EQ(row.BackColor, ui::colour::kRed);
    EXPECT_EQ(row.Caption.rfind(c.labelStart, 0), 0u) << row.Caption;
    EXPECT_LT(sim.clock.NowMs() - start, 60 * 1000);
    EXPECT_EQ(g.cmd.UiCommand, 0);
    EXPECT_FALSE(g.result.ProgramVerifyOk);
    EXPECT_EQ(ReadFile(IniPath()), settingsBefore);
    EXPECT_EQ(sim.serial.Settings(), "115200,N,8,1");
    EXPECT_EQ(sim.serial.PortOpen(), !line->Unplugged());
    // The buttons are as their rules leave them after a failure: a new SCAN or file is possible.
    EXPECT_TRUE(F().btnSCAN.Enabled);
    EXPECT_TRUE(F().btnHEXFILE.Enabled);
    if (c.kvtFile) {
        EXPECT_EQ(device->CountOf(ERASE_PAGE_CMD) + device->CountOf(WRITE_PAGE_CMD), 0);
    }
    if (c.code == 1301 || c.code == 1401) {
        const std::size_t lastGo = IndexOfLast(GO_CMD);
        EXPECT_TRUE(lastGo == device->Packets().size() || lastGo < IndexOfFirst(SET_PAGE_CMD));
    }
    CommandLoopPass();
    EXPECT_NE(F().lblPASS.Caption, "Program and Verify OK");
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FailedRunTest,
    ::testing::Values(
        FailedRun{"KvtFileForATransmitter", kTransmitter, 'P', kNoFault, 1002,
                  "This hex file is for: KVT\rTARN product is : TWPx  Transmitter\r", false, true},
        FailedRun{"KvtFileForAReceiver", kReceiver, 'P', kNoFault, 1002,
                  "This hex file is for: KVT\rTARN product is : TWPx  Receiver\r", false, true},
        // A page above 99 is never looked at by the receiver's VERIFY.
        FailedRun{"QtrPageWrittenWrong", kReceiver, 'P',
                  MakeFault(Fault::Kind::BadWrite, WRITE_PAGE_CMD, 150 * 4, 1), 1301,
                  kCrcAfterProgramming, false, false},
        FailedRun{"VlnPageWrittenWrong", kTransmitter, 'P',
                  MakeFault(Fault::Kind::BadWrite, WRITE_PAGE_CMD, 10 * 16, 1), 1401,
                  kCrcAfterProgramming, false, false},
        FailedRun{"QtrSilentToItsId", kReceiver, 'P', MakeFault(Fault::Kind::Silence, ID_CMD), 7002,
                  kNoAnswer, false, false},
        FailedRun{"VlnSilentToItsId", kTransmitter, 'P', MakeFault(Fault::Kind::Silence, ID_CMD),
                  7002, kNoAnswer, false, false},
        FailedRun{"QtrSilentAfterItsRestart", kReceiver, 'P',
                  MakeFault(Fault::Kind::Silence, ID_CMD, 1), 7002, kNoAnswer, false, false},
        FailedRun{"VlnSilentAfterVerify", kTransmitter, 'V',
                  MakeFault(Fault::Kind::Silence, ID_CMD), 7002, kNoAnswer, true, false},
        FailedRun{"QtrSilentAfterErase", kReceiver, 'E', MakeFault(Fault::Kind::Silence, ID_CMD),
                  7002, kNoAnswer, false, false},
        // Five erase tries of 60 s each once took five minutes to tell of a pulled adapter.
        FailedRun{"VlnUnpluggedWhileErasing", kTransmitter, 'P',
                  MakeFault(Fault::Kind::Unplug, ERASE_PAGE_CMD, 3, 1), 4005, kPortLost, false,
                  false},
        FailedRun{"VlnUnpluggedWhileVerifying", kTransmitter, 'V',
                  MakeFault(Fault::Kind::Unplug, CRC_PAGE_CMD, 3, 1), 1402, kPortLost, true,
                  false}),
    [](const ::testing::TestParamInfo<FailedRun>& param) { return std::string(param.param.name); });

// The transmitter announces itself with &H08 after GO and whenever the port is opened; that
// byte is not the start of an answer, so no answer time-out runs out on a device that answers.
TEST_F(FlashCommandTest, TransmitterProgramAndVerifyWaitOutNoAnswerTimeOut) {
    Start(kTransmitter);
    Press(frmUI().btnPROGRAM);
    CommandLoopPass();  // VERIFY
    ASSERT_EQ(F().lblPASS.Caption, "Program and Verify OK");
    const auto& packets = device->Packets();
    for (std::size_t i = 0; i + 1 < packets.size(); ++i) {
        if (packets[i].command == FLASH_CMD) {
            EXPECT_LT(packets[i + 1].atUs - packets[i].atUs, 2000 * 1000) << "packet " << i;
        }
    }
}

}  // namespace
}  // namespace rompush::testing
