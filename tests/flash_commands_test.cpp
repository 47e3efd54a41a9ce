// ERASE, PROGRAM and VERIFY as the operator runs them: SCAN finds a simulated device, the
// buttons post their commands, the command loop runs them on the virtual clock.
#include "app/main_loop.h"
#include "commands/commands.h"
#include "core/settings_file.h"
#include "flash_fixture.h"
#include "serial/packets.h"
#include "ui/main_window.h"

namespace rompush::testing {
namespace {

class FlashCommandTest : public FlashTest {
  protected:
    // Puts the device on COM3, starts the program, chooses a file for it and runs SCAN.
    void Start(const Kind& kind) {
        AttachDevice(3, kind);
        StartUp();
        g.files.SelectedFileName = "firmware.hex";  // a new program has chosen no file yet
        g.files.SelectedFilePath = path;
        Press(frmUI().btnSCAN);
        ASSERT_EQ(frmUI().lblPASS.Caption, "TARN Product Found");
        ASSERT_EQ(g.dev.DevLetter, std::string(1, kind.letter));
        device->ClearLog();
    }
    // Every command leaves the port open at 115200 baud and nothing pending.
    void ExpectReadyForTheNextCommand() {
        EXPECT_TRUE(sim.serial.PortOpen() && sim.serial.Settings() == "115200,N,8,1");
        EXPECT_EQ(g.cmd.UiCommand, 0);
    }
};

TEST_F(FlashCommandTest, ReceiverProgramRunsVerifyAndReportsBoth) {
    Start(kReceiver);
    StartTrace();
    Press(frmUI().btnPROGRAM);

    EXPECT_EQ(g.result.ErrorCode, 0);
    EXPECT_EQ(g.cmd.UiCommand, uicmdVERIFY);
    EXPECT_TRUE(g.result.ProgramVerifyOk);
    EXPECT_EQ(FlashImage(), image);
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
    EXPECT_EQ(device->CountOf(CRC_PAGE_CMD), 256 + 100);
    ExpectReadyForTheNextCommand();
    EXPECT_EQ(F().Focused, &F().btnPROGRAM);
}

class EachDevice : public FlashCommandTest, public ::testing::WithParamInterface<Kind> {};
INSTANTIATE_TEST_SUITE_P(Devices, EachDevice, ::testing::Values(kReceiver, kTransmitter, kMaster));

// The transmitters' verify after a program.
class VlnDevice : public EachDevice {};
INSTANTIATE_TEST_SUITE_P(Transmitters, VlnDevice, ::testing::Values(kTransmitter, kMaster));

TEST_P(VlnDevice, VerifyAfterProgramUsesTheImageInMemoryAndOnlyTheMasterWaits) {
    const bool master = GetParam().letter == 'M';
    Start(GetParam());
    Press(frmUI().btnPROGRAM);
    ASSERT_EQ(g.cmd.UiCommand, uicmdVERIFY);
    EXPECT_EQ(FlashImage(), image);  // VLN: device address = image index + &H800
    device->ClearLog();
    std::remove(path.c_str());
    StartTrace();
    const std::int64_t verifyStartUs = sim.clock.NowUs();
    CommandLoopPass();  // VERIFY
    EXPECT_EQ(F().lblPASS.Caption, "Program and Verify OK");
    EXPECT_FALSE(g.result.ProgramVerifyOk || TraceHas("ValidateHexFile()"));
    ExpectReadyForTheNextCommand();
    // Only the master waits 3000 ms before the check (every transmitter waits after a good
    // one); the restarted master then takes the first FLASH_CMD at once.
    const auto lines = TraceLines();
    const auto verify = std::find(lines.begin(), lines.end(), "        VerifyVLN()");
    ASSERT_NE(verify, lines.end());
    EXPECT_EQ(std::find(lines.begin(), verify, "        Delay( 3000 )") != verify, master);
    if (master) {
        ASSERT_FALSE(device->Packets().empty());
        EXPECT_EQ(device->Packets().front().command, FLASH_CMD);
        const std::int64_t firstMs = (device->Packets().front().atUs - verifyStartUs) / 1000;
        EXPECT_TRUE(firstMs >= 3000 && firstMs < 4000) << firstMs;
    }
    // Without a program before it, the file is read again and its loss is reported.
    device->ClearLog();
    Press(frmUI().btnVERIFY);
    EXPECT_EQ(g.result.ErrorCode, 1001);
    EXPECT_EQ(device->Packets().size(), 0u);
}

TEST_F(FlashCommandTest, VerifyAloneReportsVerifyOk) {
    Start(kReceiver);
    LoadFlash();
    Press(frmUI().btnVERIFY);
    EXPECT_EQ(F().lblPASS.Caption, "Verify OK");
    EXPECT_TRUE(g.result.ErrorCode == 0 && F().frmPASS.BackColor == ui::colour::kGreen);
    EXPECT_EQ(device->CountOf(WRITE_PAGE_CMD) + device->CountOf(ERASE_PAGE_CMD), 0);
    ExpectReadyForTheNextCommand();
}

TEST_F(FlashCommandTest, FailedReceiverProgramLeavesEverythingForTheNextAttempt) {
    Start(kReceiver);
    WriteFile(IniPath(), ReadFile(IniPath()));  // the settings file as it stands
    const std::string settingsBefore = ReadFile(IniPath());
    const std::string lastUsedBefore = g.files.LastUsedPath;
    device->AddFault(Spoil("wrong,cmd=ERASE_PAGE,skip=5"));
    Press(frmUI().btnPROGRAM);

    EXPECT_EQ(g.result.ErrorCode, 3004);
    EXPECT_EQ(F().lblPASS.Caption, "ERROR CODE: 3004");
    EXPECT_EQ(F().lblPROGRAM.BackColor, ui::colour::kRed);
    EXPECT_FALSE(g.result.ProgramVerifyOk);
    // No GO once the pages were started on: the device stays in its bootloader.
    EXPECT_LT(IndexOfLast(GO_CMD), IndexOfLast(SET_PAGE_CMD));
    EXPECT_EQ(ReadFile(IniPath()), settingsBefore);
    EXPECT_EQ(g.files.LastUsedPath, lastUsedBefore);
    ExpectReadyForTheNextCommand();
    CommandLoopPass();
    EXPECT_EQ(device->CountOf(CRC_PAGE_CMD), 5);  // no VERIFY followed
}

// device, after PROGRAM, no flash mode (else a page differs), code
struct VerifyCase {
    Kind kind;
    bool afterProgram, noFlashMode;
    int code;
};
class FailedVerify : public FlashCommandTest, public ::testing::WithParamInterface<VerifyCase> {};
INSTANTIATE_TEST_SUITE_P(Rows, FailedVerify,
                         ::testing::Values(VerifyCase{kReceiver, true, false, 1301},
                                           VerifyCase{kReceiver, false, false, 1301},
                                           VerifyCase{kReceiver, true, true, 1302},
                                           VerifyCase{kReceiver, false, true, 1302},
                                           VerifyCase{kTransmitter, true, false, 1401},
                                           VerifyCase{kTransmitter, false, false, 1401},
                                           VerifyCase{kMaster, true, true, 1402},
                                           VerifyCase{kTransmitter, false, true, 1402}));

TEST_P(FailedVerify, ShowsInItsRowAndEndsTheProgramState) {
    const VerifyCase& c = GetParam();
    SCOPED_TRACE(std::to_string(c.code) + (c.afterProgram ? " after PROGRAM" : ""));
    Start(c.kind);
    if (c.afterProgram) {
        Press(frmUI().btnPROGRAM);
        ASSERT_EQ(g.cmd.UiCommand, uicmdVERIFY);
        ASSERT_TRUE(g.result.ProgramVerifyOk);
    } else {
        LoadFlash();
        frmUI().btnVERIFY.MouseUp();
    }
    if (c.noFlashMode) {
        device->AddFault(Spoil("silence,cmd=FLASH"));
    } else {
        device->Flash()[c.kind.base() + 5 * 512 + 3] ^= 0x40;  // a page every verify checks
    }
    CommandLoopPass();  // VERIFY

    EXPECT_EQ(g.result.ErrorCode, c.code);
    EXPECT_EQ(F().lblPASS.Caption, "ERROR CODE: " + std::to_string(c.code));
    const ui::Label& row = c.afterProgram ? F().lblPROGRAM : F().lblVERIFY;
    const ui::Label& other = c.afterProgram ? F().lblVERIFY : F().lblPROGRAM;
    EXPECT_EQ(row.BackColor, ui::colour::kRed);
    EXPECT_NE(other.BackColor, ui::colour::kRed);
    if (c.noFlashMode) {
        EXPECT_EQ(row.Caption.rfind("A response timeout error occurred.  \r\r", 0), 0u);
        EXPECT_EQ(F().linPROGRAM.Visible, c.afterProgram);
    } else {
        EXPECT_EQ(row.Caption, c.afterProgram ? "A CRC error occured after programming."
                                              : "A CRC error has occured.  Check that the "
                                                "correct file has been selected and retest.");
    }
    EXPECT_FALSE(g.result.ProgramVerifyOk);
    ExpectReadyForTheNextCommand();
}

TEST_P(EachDevice, UnpluggedMidProgramEndsWithAnError) {
    const Kind& kind = GetParam();
    Start(kind);
    device->AddFault(Spoil("unplug,cmd=WRITE_PAGE,skip=20,times=1"));
    const auto start = sim.clock.NowMs();
    Press(frmUI().btnPROGRAM);
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

// The file as common HEX tools write it: an extended linear address record that keeps the
// upper address at 0 after the header, a start address record before the end. Neither is
// data: a transmitter's image still starts at &H800, a receiver's first bytes stay the file's.
TEST_P(EachDevice, AddressAndStartRecordsAreNotProgrammed) {
    Start(GetParam());
    std::string text = ReadFile(path);
    text.insert(text.find("\r\n") + 2, ":020000040000FA\r\n");
    text.insert(text.rfind(":00000001FF"), ":0400000500000000F7\r\n");
    WriteFile(path, text);
    Press(frmUI().btnPROGRAM);
    ASSERT_EQ(g.cmd.UiCommand, uicmdVERIFY);
    CommandLoopPass();
    EXPECT_EQ(F().lblPASS.Caption, "Program and Verify OK");
    EXPECT_EQ(FlashImage(), image);
}

// A file of the header and the end record only would erase the whole application and write
// nothing: refused before the first page is erased, even when it replaced the file SCAN
// checked.
TEST_P(EachDevice, FileWithoutDataIsRefusedBeforeAnythingIsErased) {
    Start(GetParam());
    LoadFlash();
    WriteFile(path, HeaderRecord(ProductCodeFor(GetParam().letter)) + "\r\n:00000001FF\r\n");
    Press(frmUI().btnPROGRAM);
    EXPECT_EQ(g.result.ErrorCode, 1010);
    EXPECT_EQ(F().lblPASS.Caption, "ERROR CODE: 1010");
    EXPECT_EQ(F().lblHEXFILE.Caption,
              "The selected file holds no firmware data.  Cannot program with this file.");
    EXPECT_EQ(device->CountOf(ERASE_PAGE_CMD), 0);
    EXPECT_EQ(FlashImage(), image);
    EXPECT_FALSE(g.result.ProgramVerifyOk);
    ExpectReadyForTheNextCommand();
}

TEST_P(EachDevice, EraseLeavesTheDeviceBlankAndRestarted) {
    Start(GetParam());
    LoadFlash();
    StartTrace();
    Press(frmUI().btnERASE);
    EXPECT_EQ(g.result.ErrorCode, 0);
    EXPECT_EQ(g.cmd.CurrentCommand, uicmdERASE);
    EXPECT_EQ(FlashImage(), std::vector<std::uint8_t>(image.size(), 0xFF));
    EXPECT_EQ(device->CountOf(WRITE_PAGE_CMD) + device->CountOf(CRC_PAGE_CMD), 0);
    EXPECT_TRUE(TraceHas("ShowMsg( ERASE OK )"));
    EXPECT_GT(IndexOfLast(GO_CMD), IndexOfLast(ERASE_PAGE_CMD));
    EXPECT_GT(IndexOfLast(ID_CMD), IndexOfLast(ERASE_PAGE_CMD));
    ExpectReadyForTheNextCommand();
}

// ---- Runs that fail must never look like a success --------------------------------------

// A PROGRAM (or the VERIFY and ERASE around it) that cannot be done ends at once with an error
// the operator can read, leaves the settings file as it was and the port at 115200 baud.
struct FailedRun {
    const char* name;
    Kind kind;
    char button;  // 'P' PROGRAM, 'V' VERIFY, 'E' ERASE
    sim::Fault fault;
    int code;
    const char* labelStart;  // beginning of the text of the row that shows the error
    bool verifyRow;          // shown in the VERIFY row, else in the PROGRAM row
    bool kvtFile;            // a KVT firmware file is selected instead of the device's own
};

class FailedRunTest : public FlashCommandTest, public ::testing::WithParamInterface<FailedRun> {};

const char* const kCrcAfterProgramming = "A CRC error occured after programming.";
const char* const kNoAnswer = "A response timeout error occurred.  \r\r";
const char* const kPortLost = "The COM port was lost.";
const sim::Fault kNoFault = Spoil("silence,cmd=GO,skip=0,times=0");  // never acts

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
        LoadFlash();
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
    EXPECT_EQ(sim.serial.PortOpen(), !sim.serial.Line(3)->Unplugged());
    // The buttons are as their rules leave them after a failure: a new SCAN or file is possible.
    EXPECT_TRUE(F().btnSCAN.Enabled);
    EXPECT_TRUE(F().btnHEXFILE.Enabled);
    if (c.kvtFile) {
        EXPECT_EQ(device->CountOf(ERASE_PAGE_CMD) + device->CountOf(WRITE_PAGE_CMD), 0);
    }
    if (c.code == 1301 || c.code == 1401) {
        // No GO once the pages were written.
        const auto& packets = device->Packets();
        const auto firstPage = std::find_if(packets.begin(), packets.end(), [](const Packet& p) {
            return p.command == SET_PAGE_CMD;
        });
        EXPECT_TRUE(std::none_of(firstPage, packets.end(),
                                 [](const Packet& p) { return p.command == GO_CMD; }));
    }
    CommandLoopPass();
    EXPECT_NE(F().lblPASS.Caption, "Program and Verify OK");
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FailedRunTest,
    ::testing::Values(
        FailedRun{"KvtFileForATransmitter", kTransmitter, 'P', kNoFault, 1002,
                  "This hex file is for: KVT\rTARN product is : TWPx  Transmitter\r", false, true},
        // A page above 99 is never looked at by the receiver's VERIFY.
        FailedRun{"QtrPageWrittenWrong", kReceiver, 'P',
                  Spoil("badwrite,cmd=WRITE_PAGE,skip=600,times=1"), 1301, kCrcAfterProgramming,
                  false, false},
        FailedRun{"VlnPageWrittenWrong", kTransmitter, 'P',
                  Spoil("badwrite,cmd=WRITE_PAGE,skip=160,times=1"), 1401, kCrcAfterProgramming,
                  false, false},
        FailedRun{"QtrSilentToItsId", kReceiver, 'P', Spoil("silence,cmd=ID"), 7002, kNoAnswer,
                  false, false},
        FailedRun{"VlnSilentToItsId", kTransmitter, 'P', Spoil("silence,cmd=ID"), 7002, kNoAnswer,
                  false, false},
        FailedRun{"QtrSilentAfterItsRestart", kReceiver, 'P', Spoil("silence,cmd=ID,skip=1"), 7002,
                  kNoAnswer, false, false},
        FailedRun{"VlnSilentAfterVerify", kTransmitter, 'V', Spoil("silence,cmd=ID"), 7002,
                  kNoAnswer, true, false},
        FailedRun{"QtrSilentAfterErase", kReceiver, 'E', Spoil("silence,cmd=ID"), 7002, kNoAnswer,
                  false, false},
        // Five erase tries of 60 s each once took five minutes to tell of a pulled adapter.
        FailedRun{"VlnUnpluggedWhileErasing", kTransmitter, 'P',
                  Spoil("unplug,cmd=ERASE_PAGE,skip=3,times=1"), 4005, kPortLost, false, false},
        FailedRun{"VlnUnpluggedWhileVerifying", kTransmitter, 'V',
                  Spoil("unplug,cmd=CRC_PAGE,skip=3,times=1"), 1402, kPortLost, true, false}),
    CaseName{});

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
