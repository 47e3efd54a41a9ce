// PROGRAM of keyboard-port devices as the operator runs it: SCAN, PROGRAM, and the SCAN it
// chains to, over the simulated 8042 and device in virtual time.
#include <algorithm>

#include "ps2_fixture.h"

namespace rompush::testing {
namespace {

struct ModelCase {
    const char* name;
    KvmModel model;
    char letter;
    std::size_t base;  // load address of HEX address 0
};
const ModelCase kMonolink{"Monolink", KvmModel::Monolink, 'K', 0x4000};
const ModelCase kOrbitTiny{"OrbitTiny", KvmModel::OrbitTiny, 'T', 0x2000};
const ModelCase kOrbitMini{"OrbitMini", KvmModel::OrbitMini, 'V', 0x2000};
const ModelCase kPrisma{"Prisma", KvmModel::Prisma, 'B', 0x2000};

// The position of `part` inside `whole`, or whole.size().
std::size_t Find(const std::vector<std::uint8_t>& whole, const std::vector<std::uint8_t>& part) {
    return static_cast<std::size_t>(
        std::search(whole.begin(), whole.end(), part.begin(), part.end()) - whole.begin());
}

class ProgramModelTest : public Ps2Test, public ::testing::WithParamInterface<ModelCase> {};

// A whole image into each model: the flash holds it, the configuration is written back as it
// was read, SCAN follows with "Program and Verify OK".
TEST_P(ProgramModelTest, WholeImageLandsInFlash) {
    const ModelCase& c = GetParam();
    Start(c.model);
    const auto image = PatternImage(0x8000 - c.base);
    ChooseFile(c.letter, image);
    const KvmDevice::Config configBefore = sim.keyboard.DeviceConfig();
    ScanAndProgram();

    EXPECT_TRUE(FlashAt(c.base, image.size()) == image);
    auto& f = frmUI();
    EXPECT_EQ(f.lblPASS.Caption, "Program and Verify OK");
    EXPECT_EQ(f.lblPASS.BackColor, ui::colour::kGreen);
    EXPECT_EQ(g.files.LastUsedPath, g.files.SelectedFilePath);
    EXPECT_FALSE(f.ProgressBar1.Visible);
    EXPECT_TRUE(f.btnPROGRAM.Enabled);
    const bool keepsConfig = c.letter != 'K';
    EXPECT_EQ(device->ConfigWrites(), keepsConfig ? 1 : 0);
    if (keepsConfig) {
        std::vector<std::uint8_t> written = {0xDF};
        written.insert(written.end(), configBefore.begin(), configBefore.end());
        EXPECT_LT(Find(Received(), written), Received().size());
        EXPECT_TRUE(sim.keyboard.DeviceConfig() == configBefore);
    }
    ExpectGivenBack();
}

// A record at HEX address 0x0100 with 16 bytes goes out at the model's base + 0x0100.
TEST_P(ProgramModelTest, RecordCarriesLoadAddressAndCount) {
    const ModelCase& c = GetParam();
    Start(c.model);
    const auto data = PatternImage(16);
    ChooseFile(c.letter, data, 0x0100);
    ScanAndProgram();
    std::vector<std::uint8_t> record = {0x0E, static_cast<std::uint8_t>((c.base + 0x100) >> 8),
                                        0x00, 0x10};
    record.insert(record.end(), data.begin(), data.end());
    const auto& received = Received();
    EXPECT_LT(Find(received, record), received.size());
    EXPECT_EQ(std::count(received.begin(), received.end(), 0x0E), 1);
}

INSTANTIATE_TEST_SUITE_P(Models, ProgramModelTest,
                         ::testing::Values(kMonolink, kOrbitTiny, kOrbitMini, kPrisma), CaseName{});

// Failures: each ends in bounded time with its code shown, no configuration written over the
// device's, the controller given back and the buttons usable again.
struct FailureCase {
    const char* name;
    ModelCase model;
    std::function<void(KvmDevice&)> fault;  // set after the first SCAN
    std::int16_t errorCode;
    bool erased;
    std::uint16_t address = 0;  // HEX address of the image
};

class ProgramFailureTest : public Ps2Test, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ProgramFailureTest, EndsWithItsErrorAndTheControllerBack) {
    const FailureCase& c = GetParam();
    Start(c.model.model);
    ChooseFile(c.model.letter, PatternImage(512), c.address);
    Press(frmUI().btnSCAN);
    ASSERT_EQ(frmUI().lblPASS.Caption, "TARN Product Found");
    const KvmDevice::Config configBefore = sim.keyboard.DeviceConfig();
    c.fault(*device);
    const std::int64_t startMs = sim.clock.NowMs();
    Press(frmUI().btnPROGRAM);

    EXPECT_EQ(g.result.ErrorCode, c.errorCode);
    auto& f = frmUI();
    EXPECT_EQ(f.lblPASS.Caption, "ERROR CODE: " + std::to_string(c.errorCode));
    EXPECT_EQ(g.cmd.UiCommand, 0);
    EXPECT_EQ(device->Erases(), c.erased ? 1 : 0);
    EXPECT_EQ(device->ConfigWrites(), 0);
    EXPECT_TRUE(sim.keyboard.DeviceConfig() == configBefore);
    EXPECT_LT(sim.clock.NowMs() - startMs, 60 * 1000);
    EXPECT_TRUE(f.btnSCAN.Enabled);
    EXPECT_TRUE(f.cboPORT.Enabled);
    EXPECT_FALSE(f.ProgressBar1.Visible);
    EXPECT_NE(f.lblPROGRAM.Caption, "Keyboard and Mouse will be locked out during programming.");
    EXPECT_NE(g.files.LastUsedPath, g.files.SelectedFilePath);
    ExpectGivenBack();
}

// Bytes the device takes before the verdict of a 512-byte image in 16-byte records: the
// identification, ReadConfig (Orbit, Prisma), 0xCC, 0x0B and its three, 32 records, 0x62 + 3.
int BytesBeforeVerdict(bool orbit) {
    return 1 + (orbit ? 1 : 0) + 1 + 4 + 32 * (4 + 16) + 4;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ProgramFailureTest,
    ::testing::Values(
        // The identification and ReadConfig answer; then nothing, 0xCC included: no erase.
        FailureCase{"StartNotAcknowledged", kOrbitTiny, [](KvmDevice& d) { d.NoAckFor(0xCC); },
                    8002, false},
        FailureCase{"MonolinkStartNotAcknowledged", kMonolink, [](KvmDevice& d) { d.StopAfter(1); },
                    8002, false},
        FailureCase{"CorruptedByteFailsTheCrc", kOrbitMini,
                    [](KvmDevice& d) { d.CorruptDataByte(100); }, 8001, true},
        FailureCase{"RecordNeverAcknowledged", kOrbitTiny, [](KvmDevice& d) { d.NoAckFor(0x0E); },
                    8002, true},
        FailureCase{"StopsMidTransfer", kPrisma, [](KvmDevice& d) { d.StopAfter(200); }, 8002,
                    true},
        // Dead before the last 0x62 byte: the acknowledgement still in the data port is not
        // the verdict.
        FailureCase{"NoVerdict", kOrbitTiny,
                    [](KvmDevice& d) { d.StopAfter(BytesBeforeVerdict(true) - 1); }, 8001, true},
        // Configuration incomplete: nothing is erased, as it would be lost.
        FailureCase{"ShortConfiguration", kOrbitTiny, [](KvmDevice& d) { d.SendShortConfig(6); },
                    5001, false}),
    CaseName{});

// PROGRAM that starts no programming: the device stopped answering since SCAN (a good file
// does not make PROGRAM go on), or the operator declines a file named as non-flashable.
class NothingProgrammedTest : public Ps2Test, public ::testing::WithParamInterface<bool> {};

TEST_P(NothingProgrammedTest, WithoutADeviceOrConsent) {
    const bool silent = GetParam();
    Start(KvmModel::Monolink);
    ChooseFile('K', PatternImage(64), 0, silent ? "firmware.hex" : "mono12aN.hex");
    Press(frmUI().btnSCAN);
    device->SetSilent(silent);
    sim.dialogs.AnswerNext(platform::mb::kAnswerNo);
    Press(frmUI().btnPROGRAM);
    EXPECT_EQ(std::count(Received().begin(), Received().end(), 0xCC), 0);
    if (silent) {
        EXPECT_EQ(frmUI().lblPASS.Caption, "TARN Product Not Found");
    } else {
        ASSERT_EQ(sim.dialogs.Messages().size(), 1u);
        EXPECT_NE(sim.dialogs.Messages()[0].prompt.find("mono12aN is non-flashable"),
                  std::string::npos);
        EXPECT_EQ(Received().size(), 1u);  // the 0xDD of SCAN only
    }
    EXPECT_EQ(g.cmd.UiCommand, 0);
    EXPECT_TRUE(frmUI().btnSCAN.Enabled);
    ExpectGivenBack();
}

INSTANTIATE_TEST_SUITE_P(Ways, NothingProgrammedTest, ::testing::Bool());

// Faults the transfer survives: a ReadConfig acknowledged late (the ten bytes after the
// acknowledgement are the record, not the acknowledgement and nine), and acknowledgements of
// data bytes lost now and then (the CRC decides). Every 20th acknowledgement falls on the 13th
// byte of a Monolink's record: a repeated 0x0E would shift the record, the device cannot tell
// it from an address byte. (A lost acknowledgement of the settings an Orbit gets back is a
// failure: the device may have missed the byte.)
class SurvivedFaultTest : public Ps2Test, public ::testing::WithParamInterface<bool> {};

TEST_P(SurvivedFaultTest, ProgramsDespiteLateOrLostAcknowledgements) {
    const bool lateConfigAck = GetParam();
    Start(lateConfigAck ? KvmModel::OrbitMini : KvmModel::Monolink);
    const auto image = PatternImage(1024);
    ChooseFile(lateConfigAck ? 'V' : 'K', image);
    lateConfigAck ? device->DelayConfigAck(60 * 1000) : device->LoseAckEvery(20);
    const KvmDevice::Config configBefore = sim.keyboard.DeviceConfig();
    ScanAndProgram();
    EXPECT_EQ(frmUI().lblPASS.Caption, "Program and Verify OK");
    EXPECT_TRUE(FlashAt(lateConfigAck ? 0x2000 : 0x4000, image.size()) == image);
    EXPECT_EQ(device->ConfigWrites(), lateConfigAck ? 1 : 0);
    EXPECT_TRUE(sim.keyboard.DeviceConfig() == configBefore);
    ExpectGivenBack();
}

INSTANTIATE_TEST_SUITE_P(Faults, SurvivedFaultTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& p) {
                             return std::string(p.param ? "LateConfigAck" : "LostAcks");
                         });

// The controller stops taking bytes in the middle of the transfer: the wait for status bit 1
// is bounded, PROGRAM fails with 8002 and the give-back is written.
TEST_F(Ps2Test, ControllerThatStopsTakingBytesEndsTheTransfer) {
    Start(KvmModel::OrbitTiny);
    ChooseFile('T', PatternImage(4096));
    Press(frmUI().btnSCAN);
    StartTrace();
    const std::int64_t startMs = sim.clock.NowMs();
    sim.At(startMs + 10000, [this] { sim.keyboard.Controller().StickInputBuffer(true); });
    Press(frmUI().btnPROGRAM);
    EXPECT_EQ(g.result.ErrorCode, 8002);
    EXPECT_LT(sim.clock.NowMs() - startMs, 20000);
    const auto lines = TraceLines();
    const auto stuck = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
        return l.find("the keyboard controller takes no bytes") != std::string::npos;
    });
    EXPECT_NE(std::find_if(stuck, lines.end(),
                           [](const std::string& l) {
                               return l.find("wr_kb_8042_data( 47 )") != std::string::npos;
                           }),
              lines.end());
    EXPECT_FALSE(sim.keyboard.ControllerHeld());
    EXPECT_FALSE(sim.keyboard.WinIoOpen());
    EXPECT_TRUE(frmUI().btnSCAN.Enabled);
}

// A Monolink's programming moves the pointer off the PROGRAM button, only from over it.
TEST_F(Ps2Test, MonolinkMovesThePointerOffTheProgramButton) {
    struct {
        int x, y;
        bool moved;
    } const cases[] = {{100, 10, true}, {180, 10, false}, {100, 30, false}, {0, 10, false}};
    Start(KvmModel::Monolink);
    ChooseFile('K', PatternImage(16));
    for (const auto& c : cases) {
        sim.desktop.PlaceCursor("btnPROGRAM", c.x, c.y);
        const std::size_t movesBefore = sim.desktop.CursorMoves().size();
        ScanAndProgram();
        const auto& moves = sim.desktop.CursorMoves();
        ASSERT_EQ(moves.size(), movesBefore + (c.moved ? 1 : 0)) << c.x << "," << c.y;
        if (c.moved) {
            EXPECT_EQ(moves.back().control, "btnPROGRAM");
            EXPECT_EQ(moves.back().x, 185);
            EXPECT_EQ(moves.back().y, 15);
        }
    }
    ExpectGivenBack();
}

// The main window closed while the device is being programmed: the controller is given back
// before the program ends.
TEST_F(Ps2Test, WindowClosedDuringProgrammingGivesTheControllerBack) {
    Start(KvmModel::OrbitTiny);
    ChooseFile('T', PatternImage(4096));
    Press(frmUI().btnSCAN);
    sim.At(sim.clock.NowMs() + 6000, [] { frmUI().Unload(); });
    frmUI().btnPROGRAM.MouseUp();
    EXPECT_THROW(CommandLoopPass(), platform::ProgramEnded);
    EXPECT_GT(device->Erases(), 0);  // it was closed while the controller was held
    ExpectGivenBack();
}

}  // namespace
}  // namespace rompush::testing
