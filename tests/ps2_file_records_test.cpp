// What of a HEX file a keyboard-port device is sent: its data records and nothing else, up to
// the end record; and the files it is never sent, refused when they are chosen and again
// before the controller is taken. Over the simulated 8042 and device in virtual time.
#include <algorithm>

#include "commands/commands.h"
#include "ps2_fixture.h"

namespace rompush::testing {
namespace {

const std::string kEndRecord = ":00000001FF";

// Data records of 16 bytes for an image from HEX address `address` on.
std::vector<std::string> DataRecords(const std::vector<std::uint8_t>& image,
                                     std::uint16_t address = 0) {
    std::vector<std::string> records;
    for (std::size_t at = 0; at < image.size(); at += 16) {
        const auto begin = image.begin() + static_cast<std::ptrdiff_t>(at);
        const auto end =
            image.begin() + static_cast<std::ptrdiff_t>(std::min(image.size(), at + 16));
        records.push_back(HexRecord(static_cast<std::uint16_t>(address + at), 0, {begin, end}));
    }
    return records;
}

class Ps2FileTest : public Ps2Test {
  protected:
    // Writes a file of the header for the letter, these records and the end record, as the
    // selected file.
    void WriteRecords(char letter, const std::vector<std::string>& records,
                      const std::string& name = "firmware.hex") {
        std::string text = HeaderRecord(ProductCodeFor(letter)) + "\r\n";
        for (const std::string& record : records)
            text += record + "\r\n";
        WriteFile(PathIn(name), text + kEndRecord + "\r\n");
        g.files.SelectedFileName = name;
        g.files.SelectedFilePath = PathIn(name);
    }
    void ExpectProgrammed(std::size_t base, const std::vector<std::uint8_t>& image) {
        EXPECT_EQ(frmUI().lblPASS.Caption, "Program and Verify OK");
        EXPECT_TRUE(FlashAt(base, image.size()) == image);
        ExpectGivenBack();
    }
};

// The file as common HEX tools write it: an extended linear address record that keeps the
// upper address at 0 after the header, a start address record before the end. Neither is
// data; the application's first bytes are the file's.
struct Model {
    const char* name;
    KvmModel model;
    char letter;
    std::size_t base;
};

class AddressRecordTest : public Ps2FileTest, public ::testing::WithParamInterface<Model> {};

TEST_P(AddressRecordTest, AddressAndStartRecordsAreNotSent) {
    const Model& m = GetParam();
    Start(m.model);
    const auto image = PatternImage(256);
    auto records = DataRecords(image);
    records.insert(records.begin(), ":020000040000FA");
    records.insert(records.begin() + 5, HexRecord(0, 3, {0x00, 0x00, 0x01, 0x00}));
    records.push_back(HexRecord(0, 5, {0x00, 0x00, 0x20, 0x00}));
    WriteRecords(m.letter, records);
    ScanAndProgram();
    ExpectProgrammed(m.base, image);
}

INSTANTIATE_TEST_SUITE_P(Models, AddressRecordTest,
                         ::testing::Values(Model{"OrbitTiny", KvmModel::OrbitTiny, 'T', 0x2000},
                                           Model{"Monolink", KvmModel::Monolink, 'K', 0x4000}),
                         CaseName{});

// A data record without data in the middle of the file does not end the transfer: the rest of
// the application is written and checked, not left erased.
TEST_F(Ps2FileTest, TransferEndsAtTheEndRecordOnly) {
    Start(KvmModel::OrbitMini);
    const auto image = PatternImage(512);
    auto records = DataRecords(image);
    records.insert(records.begin() + 10, HexRecord(0x00A0, 0, {}));
    WriteRecords('V', records);
    ScanAndProgram();
    ExpectProgrammed(0x2000, image);
}

// Files that nothing good could come of: refused with their code when SCAN checks the
// selected file and when SELECT HEX FILE chooses it, and again when the file has changed on
// disk since: PROGRAM then neither takes the controller nor erases.
struct RefusedFile {
    const char* name;
    std::vector<std::string> records;  // between the header and the end record
    std::int16_t code;
    const char* text;  // the start of the HEX FILE row's text
};

class RefusedFileTest : public Ps2FileTest, public ::testing::WithParamInterface<RefusedFile> {};

TEST_P(RefusedFileTest, NeverErasesTheDevice) {
    const RefusedFile& c = GetParam();
    Start(KvmModel::OrbitTiny);
    WriteRecords('T', c.records);
    Press(frmUI().btnSCAN);
    auto& f = frmUI();
    EXPECT_EQ(f.lblPASS.Caption, "ERROR CODE: " + std::to_string(c.code));
    EXPECT_EQ(f.lblHEXFILE.Caption.rfind(c.text, 0), 0u) << f.lblHEXFILE.Caption;
    EXPECT_FALSE(f.btnPROGRAM.Enabled);

    sim.dialogs.ChooseNextFile(PathIn("firmware.hex"));
    Press(f.btnHEXFILE);
    EXPECT_EQ(g.result.ErrorCode, c.code);
    EXPECT_NE(f.lblPASS.Caption, "HEX FILE OK");
    EXPECT_FALSE(f.btnPROGRAM.Enabled);

    // A good file at SCAN, replaced on disk before PROGRAM.
    WriteRecords('T', DataRecords(PatternImage(64)), "good.hex");
    Press(f.btnSCAN);  // clears the error
    Press(f.btnSCAN);
    ASSERT_EQ(f.lblPASS.Caption, "TARN Product Found");
    WriteRecords('T', c.records, "good.hex");
    const std::size_t commandBytes = sim.keyboard.Controller().CommandByteHistory().size();
    Press(f.btnPROGRAM);
    EXPECT_EQ(g.result.ErrorCode, c.code);
    EXPECT_EQ(f.lblPASS.Caption, "ERROR CODE: " + std::to_string(c.code));
    EXPECT_EQ(device->Erases(), 0);
    EXPECT_EQ(std::count(Received().begin(), Received().end(), 0xCC), 0);
    // Taken only to identify the device (0x60), never to program it (0x20).
    const auto& history = sim.keyboard.Controller().CommandByteHistory();
    EXPECT_GT(history.size(), commandBytes);
    EXPECT_TRUE(std::none_of(history.begin() + static_cast<std::ptrdiff_t>(commandBytes),
                             history.end(),
                             [](const auto& change) { return change.value == 0x20; }));
    EXPECT_EQ(g.cmd.UiCommand, 0);
    ExpectGivenBack();
}

INSTANTIATE_TEST_SUITE_P(
    Files, RefusedFileTest,
    ::testing::Values(
        RefusedFile{"HeaderAndEndOnly", {}, 1010, "The selected file holds no firmware data."},
        RefusedFile{"OnlyEmptyRecords",
                    {HexRecord(0, 0, {}), HexRecord(0x10, 0, {})},
                    1010,
                    "The selected file holds no firmware data."},
        // 0x2000 + 0x5FF8 + 16 bytes reach past 0x7FFF.
        RefusedFile{
            "BeyondTheFlash",
            {HexRecord(0x5FE8, 0, std::vector<std::uint8_t>(16, 0x11)),
             HexRecord(0x5FF8, 0, std::vector<std::uint8_t>(16, 0x22))},
            1011,
            "Data outside the memory of this TARN product in selected file.  \r\r:105FF8002"},
        RefusedFile{
            "UpperAddressMoved",
            {HexRecord(0, 0, {1, 2}), ":020000040001F9", HexRecord(0, 0, {3, 4})},
            1011,
            "Data outside the memory of this TARN product in selected file.  \r\r:020000040"},
        RefusedFile{"SegmentAddressMoved",
                    {HexRecord(0, 2, {0x10, 0x00}), HexRecord(0, 0, {3, 4})},
                    1011,
                    "Data outside the memory"},
        RefusedFile{"UnknownRecordType",
                    {HexRecord(0, 0, {1, 2}), HexRecord(2, 6, {3, 4})},
                    1012,
                    "Record type not supported in selected file.  \r\r:02000206"},
        RefusedFile{"EndRecordBeforeTheEnd",
                    {HexRecord(0, 0, {1, 2}), kEndRecord, HexRecord(2, 0, {3, 4})},
                    1012,
                    "Record type not supported"}),
    CaseName{});

// A file with no data is refused for every device, with no device found as well: by the
// device its product code names.
TEST_F(Ps2FileTest, FileWithoutDataIsRefusedBeforeScan) {
    Start(KvmModel::Monolink);
    WriteRecords('K', {});
    sim.dialogs.ChooseNextFile(PathIn("firmware.hex"));
    Press(frmUI().btnHEXFILE);
    EXPECT_EQ(frmUI().lblPASS.Caption, "ERROR CODE: 1010");
    // A Monolink's application starts at 0x4000: HEX address 0x3FF0 + 16 bytes is its last.
    WriteRecords('K', {HexRecord(0x3FF0, 0, std::vector<std::uint8_t>(16, 0x5A))});
    sim.dialogs.ChooseNextFile(PathIn("firmware.hex"));
    Press(frmUI().btnHEXFILE);
    EXPECT_EQ(frmUI().lblPASS.Caption, "HEX FILE OK");
    WriteRecords('K', {HexRecord(0x3FF1, 0, std::vector<std::uint8_t>(16, 0x5A))});
    sim.dialogs.ChooseNextFile(PathIn("firmware.hex"));
    Press(frmUI().btnHEXFILE);
    EXPECT_EQ(frmUI().lblPASS.Caption, "ERROR CODE: 1011");
}

// After a good PROGRAM the SCAN that follows is the device's confirmation; a device that does
// not answer it leaves a warning, not the green success.
TEST_F(Ps2FileTest, DeviceSilentAfterProgramIsAWarning) {
    Start(KvmModel::OrbitTiny);
    ChooseFile('T', PatternImage(256));
    Press(frmUI().btnSCAN);
    Press(frmUI().btnPROGRAM);
    ASSERT_EQ(g.cmd.UiCommand, uicmdSCAN);
    device->SetSilent(true);
    CommandLoopPass();
    auto& f = frmUI();
    EXPECT_EQ(f.lblPASS.Caption, ui::kProgrammedNoAnswer);
    EXPECT_EQ(f.frmPASS.BackColor, ui::colour::kLightYellow);
    EXPECT_FALSE(g.result.ProgramVerifyOk);
    EXPECT_EQ(g.result.ScanErrorCode, 1);
    ExpectGivenBack();
}

}  // namespace
}  // namespace rompush::testing
