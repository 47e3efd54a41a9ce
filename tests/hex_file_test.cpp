// Reading Intel HEX files into the firmware image, the checks on their records and product
// code, the LF conversion, the non-flashable warning, and the SELECT HEX FILE and GET LAST
// USED commands.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "core/state.h"
#include "hex_file_writer.h"
#include "hexfile/hex_validation.h"
#include "program_fixture.h"
#include "ui/main_window.h"

namespace rompush {
namespace {

using testing::ProgramTest;

std::string Record(int address, int type, const std::vector<int>& data) {
    return testing::HexRecord(static_cast<std::uint16_t>(address & 0xFFFF),
                              static_cast<std::uint8_t>(type),
                              std::vector<std::uint8_t>(data.begin(), data.end()));
}

std::string Header(int productCode) {
    return testing::HeaderRecord(static_cast<std::uint8_t>(productCode));
}

std::vector<int> Ascii(const std::string& text) {
    return std::vector<int>(text.begin(), text.end());
}

const std::string kReceiverHeader = Header(0xD2);
const std::string kEnd = ":00000001FF";

std::string Lines(const std::vector<std::string>& lines, const std::string& end = "\r\n") {
    std::string text;
    for (const auto& line : lines)
        text += line + end;
    return text;
}

// A receiver ("D", product code &HD2) with bytes 0..n-1 = (i * 7) & 0xFF from address 0.
std::vector<std::string> ReceiverFile(int bytes) {
    std::vector<std::string> lines{kReceiverHeader};
    for (int start = 0; start < bytes; start += 16) {
        std::vector<int> data;
        for (int i = start; i < start + 16 && i < bytes; ++i)
            data.push_back((i * 7) & 0xFF);
        lines.push_back(Record(start, 0, data));
    }
    lines.push_back(kEnd);
    return lines;
}

class HexFileTest : public ProgramTest {
  protected:
    HexFileTest() { DeviceFound("D"); }
    // Writes the file and checks it as the selected file.
    bool Check(const std::string& content, const std::string& name = "fw.hex") {
        WriteFile(PathIn(name), content);
        g.files.SelectedFileName = std::filesystem::path(name).filename().string();
        g.files.SelectedFilePath = PathIn(name);
        return CkHexFile(PathIn(name));
    }
    void DeviceFound(const std::string& letter) {
        g.dev.DeviceFound = true;
        g.dev.DevLetter = letter;
        g.dev.DevIdName = letter == "H" ? "VLNMINI" : "QTRUSB";
    }
    int Cell(int index) const { return g.hex.HexData[static_cast<std::size_t>(index)]; }
    std::string Banner() const { return frmUI().lblPASS.Caption; }
};

TEST_F(HexFileTest, ProductCodeDEMatchesOnlyTheTransmitter) {
    const std::string file = Lines({testing::HeaderRecord(0xDE), Record(0, 0, {1, 2, 3}), kEnd});
    DeviceFound("H");
    EXPECT_TRUE(Check(file));
    EXPECT_EQ(g.hex.FileProductCode, 0xDE);
    EXPECT_EQ(g.result.ErrorCode, 0);
    for (const char* other : {"M", "L", "K", "D"}) {
        DeviceFound(other);
        EXPECT_FALSE(Check(file)) << other;
        EXPECT_EQ(g.result.ErrorCode, 1002) << other;
    }
    EXPECT_EQ(frmUI().lblHEXFILE.Caption,
              "This hex file is for: TWPx  Transmitter\rTARN product is : TWPx  Receiver\r"
              "Cannot program with this file.");
    EXPECT_EQ(Banner(), "ERROR CODE: 1002");
    // With no device found there is nothing to match against.
    g.dev.DeviceFound = false;
    g.result.ErrorCode = 0;
    EXPECT_TRUE(Check(file));
}

TEST_F(HexFileTest, RecordsFillTheImageFromTheFirstDataAddress) {
    struct Case {
        std::vector<std::string> records;  // between the header and the end record
        std::map<int, int> cells;          // image index -> value
    };
    const std::vector<Case> cases = {
        {{Record(0x0100, 0, {0x11, 0x22}), Record(0x0110, 0, {0x33})},
         {{0, 0x11}, {1, 0x22}, {2, 0xFF}, {0x10, 0x33}, {32784, 0xFF}}},
        // Nothing from an earlier, bigger file survives.
        {{Record(0, 0, {1})}, {{0, 1}, {1, 0xFF}, {200, 0xFF}}},
        // Address records that keep the upper address at 0 and start records are not data:
        // the first data record gives the base.
        {{Record(0, 4, {0x00, 0x00}), Record(0, 2, {0x00, 0x00}), Record(4, 0, {0xAB}),
          Record(0, 5, {0x00, 0x00, 0x00, 0x04}), Record(0, 3, {0x00, 0x00, 0x00, 0x04})},
         {{0, 0xAB}, {1, 0xFF}, {2, 0xFF}, {3, 0xFF}, {4, 0xFF}}},
        // A data record without data neither gives the base nor ends the records.
        {{Record(0, 0, {}), Record(0x10, 0, {0x11}), Record(0x20, 0, {}), Record(0x30, 0, {0x33})},
         {{0, 0x11}, {0x20, 0x33}}},
        // Addresses from &H8000 up are ordinary addresses, relative to the base like any other.
        {{Record(0x8000, 0, {0x5A}), Record(0xFFFF, 0, {0xA5})}, {{0, 0x5A}, {0x7FFF, 0xA5}}},
    };
    ASSERT_TRUE(Check(Lines(ReceiverFile(256))));
    for (const Case& c : cases) {
        std::vector<std::string> lines{kReceiverHeader};
        lines.insert(lines.end(), c.records.begin(), c.records.end());
        lines.push_back(kEnd);
        ASSERT_TRUE(Check(Lines(lines))) << lines[1];
        for (auto [index, value] : c.cells)
            EXPECT_EQ(Cell(index), value) << lines[1] << " index " << index;
        EXPECT_TRUE(g.files.HexFileRead);
        EXPECT_EQ(frmUI().ProgressBar1.Value, 0);
        EXPECT_FALSE(frmUI().ProgressBar1.Visible);
    }
}

TEST_F(HexFileTest, FaultyFilesGiveTheirCodesNeverCrashes) {
    const std::string good = Record(0, 0, {0x01, 0x02});
    std::string wrongSum = good;
    wrongSum.back() = wrongSum.back() == '0' ? '1' : '0';
    std::string binary;
    for (int i = 0; i < 5000; ++i)
        binary.push_back(static_cast<char>((i * 131 + 7) & 0xFF));
    auto file = [&](const std::string& line) { return Lines({kReceiverHeader, good, line, kEnd}); };
    const std::vector<std::pair<std::string, int>> cases = {
        // The header: no colon, not a header, no product code.
        {Lines({"06000000010000D20000", kEnd}), 1009},
        {Lines({":06000000020000D20000", kEnd}), 1007},
        {Lines({":060000000100", kEnd}), 1007},
        {"", 1009},
        // Malformed middle records: never read beyond the line.
        {file(":"), 1003},
        {file(":10000000"), 1003},
        {file(good.substr(0, good.size() - 1)), 1003},
        {file(":02000000GG01FD"), 1003},
        {file(":FF000000" + std::string(20, 'A')), 1003},
        {file(""), 1003},
        // Data below the first record's address or beyond the image's end.
        {Lines({kReceiverHeader, Record(0x100, 0, {1}), Record(0xF0, 0, {2}), kEnd}), 1003},
        {Lines({kReceiverHeader, Record(0x100, 0, {1}), Record(0x100 + 32785, 0, {3}), kEnd}),
         1003},
        // The end record.
        {Lines({kReceiverHeader, good, "00000001FF"}), 1004},
        {Lines({kReceiverHeader, good, ":01000001FF"}), 1005},
        {Lines({kReceiverHeader, good, ":00000000FF"}), 1006},
        {Lines({kReceiverHeader}), 1004},
        // Nothing to program, data beyond 64 KB, records that are neither data nor addresses.
        {Lines({kReceiverHeader, kEnd}), 1010},
        {Lines({kReceiverHeader, Record(0, 0, {}), kEnd}), 1010},
        {Lines({kReceiverHeader, good, Record(0, 4, {0x00, 0x01}), good, kEnd}), 1011},
        {Lines({kReceiverHeader, Record(0, 2, {0x10, 0x00}), good, kEnd}), 1011},
        {Lines({kReceiverHeader, good, Record(0, 6, {0x01}), kEnd}), 1012},
        {Lines({kReceiverHeader, good, kEnd, good, kEnd}), 1012},
        {binary, 1009},
        // "KVT Rev " only in the last two lines is not looked for: no KVT file, no header.
        {Lines({Record(0, 0, Ascii("boot")), Record(4, 0, Ascii("code")),
                Record(8, 0, Ascii("KVT Rev 2"))}),
         1008},
    };
    for (const auto& [content, code] : cases) {
        EXPECT_FALSE(Check(content)) << content.substr(0, 60);
        EXPECT_EQ(g.result.ErrorCode, code) << content.substr(0, 60);
    }
    // A bad checksum is reported and the records after it are still read.
    EXPECT_FALSE(Check(Lines({kReceiverHeader, wrongSum, Record(2, 0, {0x77}), kEnd})));
    EXPECT_EQ(g.result.ErrorCode, 1003);
    EXPECT_EQ(Cell(2), 0x77);
    EXPECT_EQ(frmUI().lblHEXFILE.Caption,
              "Check sum error occurred.  \r\r" + wrongSum.substr(0, 10));
    EXPECT_TRUE(frmUI().linHEXFILE.Visible);
    EXPECT_FALSE(Check(Lines({"06000000010000D20000", kEnd})));
    EXPECT_EQ(frmUI().lblHEXFILE.Caption,
              "Header character missing in selected file.  \r\r0600000001");
    // A file that cannot be read.
    g.files.SelectedFilePath = PathIn("missing.hex");
    EXPECT_FALSE(CkHexFile(PathIn("missing.hex")));
    EXPECT_EQ(g.result.ErrorCode, 1001);
    EXPECT_EQ(g.files.SelectedFileName, "");
    EXPECT_FALSE(g.files.HexFileRead);
    EXPECT_FALSE(CkHexFile(Folder()));  // a folder is not a file
    EXPECT_EQ(g.result.ErrorCode, 1001);
}

// ---- LF line ends -------------------------------------------------------------------------

TEST_F(HexFileTest, LfFileIsSavedRewrittenWithCrLfAndValidated) {
    const std::string original = Lines(ReceiverFile(64), "\n");
    std::filesystem::create_directory(PathIn("incoming"));
    ASSERT_TRUE(Check(original, "incoming/lf.hex"));
    ASSERT_EQ(sim.dialogs.Messages().size(), 1u);
    const auto& box = sim.dialogs.Messages()[0];
    EXPECT_EQ(std::tie(box.title, box.style), std::tuple("RomPush", 48));
    EXPECT_EQ(box.prompt,
              "'lf.hex' will be converted to DOS format.\r\n\r\n"
              "( Orginal file will be copied to " +
                  Folder() + "/lf.hex )");
    EXPECT_EQ(ReadFile(PathIn("lf.hex")), original);
    EXPECT_EQ(ReadFile(PathIn("incoming/lf.hex")), Lines(ReceiverFile(64), "\r\n"));
    EXPECT_EQ(Cell(63), (63 * 7) & 0xFF);
    // Once converted the file is an ordinary DOS file: no second warning.
    ASSERT_TRUE(CkHexFile(PathIn("incoming/lf.hex")));
    EXPECT_EQ(sim.dialogs.Messages().size(), 1u);
    // A file in the program folder itself is backed up beside it; CR LF pairs stay.
    const std::string mixed = ":06\n:00\r\n:01\n";
    WriteFile(PathIn("mixed.hex"), mixed);
    ASSERT_TRUE(ConvertToDosFormat(PathIn("mixed.hex")));
    EXPECT_EQ(ReadFile(PathIn("mixed.hex")), ":06\r\n:00\r\n:01\r\n");
    EXPECT_EQ(ReadFile(PathIn("mixed.hex.orig")), mixed);
}

// When the original cannot be saved in the program folder the file stays as it was, and the
// operator is told so, not that the file may be open in another program.
TEST_F(HexFileTest, BackupThatCannotBeWrittenLeavesTheFileAndIsReportedAsSuch) {
    const std::string original = Lines(ReceiverFile(32), "\n");
    std::filesystem::create_directory(PathIn("elsewhere"));
    // A folder where the backup would go: no one, not even root, can write it as a file.
    std::filesystem::create_directory(PathIn("lf.hex"));
    EXPECT_FALSE(Check(original, "elsewhere/lf.hex"));
    EXPECT_EQ(g.result.ErrorCode, 1001);
    EXPECT_EQ(ReadFile(PathIn("elsewhere/lf.hex")), original);
    EXPECT_EQ(g.files.SelectedFileName, "");
    const std::string& text = frmUI().lblHEXFILE.Caption;
    EXPECT_NE(text.find("cannot be copied to " + Folder()), std::string::npos) << text;
    EXPECT_EQ(text.find("another program"), std::string::npos) << text;
}

TEST_F(HexFileTest, TraceShowsEveryLineAndTheWindowIsRefreshedWhileReading) {
    const auto lines = ReceiverFile(48);  // header, 3 records, end
    WriteFile(PathIn("t.hex"), Lines(lines));
    StartTrace();
    ASSERT_TRUE(ValidateHexFile("t.hex", PathIn("t.hex")));
    EXPECT_EQ(frmUI().ProgressBar1.Max, 5);
    EXPECT_EQ(frmUI().btnHEXFILE.Caption, "t.hex");
    std::vector<std::string> details;
    for (const auto& line : TraceLines()) {
        if (line.find("-- (") != std::string::npos)
            details.push_back(line.substr(line.find("-- (")));
    }
    EXPECT_EQ(details, (std::vector<std::string>{
                           "-- (1) " + lines[1], "-- (1) " + lines[2], "-- (1) " + lines[3],
                           "-- (1) " + lines[4], "-- (2) " + lines[0], "-- (3) " + lines[1],
                           "-- (3) " + lines[2], "-- (3) " + lines[3], "-- (4) " + lines[4]}));

    const auto passesBefore = sim.events.Passes();
    const auto timeBefore = sim.clock.NowMs();
    ASSERT_TRUE(Check(Lines(ReceiverFile(320 * 16))));  // 320 records
    // The two settle pauses each take a pass or more; reading the records takes the rest.
    EXPECT_GE(sim.events.Passes() - passesBefore, 2 + 320 / 16);
    EXPECT_EQ(sim.clock.NowMs() - timeBefore, 200);
    EXPECT_EQ(frmUI().ProgressBar1.Max, 322);
}

TEST_F(HexFileTest, NonFlashableFirmwareIsProgrammedOnlyWhenTheOperatorSaysYes) {
    g.files.SelectedFileName = "MONO_AN.hex";
    sim.dialogs.AnswerNext(platform::mb::kAnswerNo);
    EXPECT_FALSE(CkForNonFlashFW());
    ASSERT_EQ(sim.dialogs.Messages().size(), 1u);
    const auto& box = sim.dialogs.Messages()[0];
    EXPECT_EQ(std::tie(box.title, box.style), std::tuple("RomPush Utility", 52));
    EXPECT_EQ(box.prompt,
              "               WARNING! \r\n\r\nMONO_AN is non-flashable firmware. \r\n"
              "If you continue, the Tarn device will \r\nbe programmed with MONO_AN and \r\n"
              "cannot be reprogrammed.  No changes \r\nto the firmware will then be possible."
              "\r\n\r\nCONTINUE WITH PROGRAMMING?");
    sim.dialogs.AnswerNext(platform::mb::kAnswerYes);
    EXPECT_TRUE(CkForNonFlashFW());
    for (const char* name : {"MONO_12N.hex", "MONO_A.hex", "MONO_an.hex", "N", ""}) {
        g.files.SelectedFileName = name;
        EXPECT_TRUE(CkForNonFlashFW()) << name;
    }
    EXPECT_EQ(sim.dialogs.Messages().size(), 2u);
}

// ---- SELECT HEX FILE and GET LAST USED ----------------------------------------------------

TEST_F(HexFileTest, SelectHexFileCommand) {
    g.port.HexDir = PathIn("HexFiles/");
    g.files.SelectedFileName = "before.hex";
    g.cmd.UiCommand = uicmdHEXFILE;
    HexFileCommand();  // the dialog is cancelled: nothing changes
    EXPECT_EQ(g.cmd.UiCommand, 0);
    EXPECT_EQ(g.files.SelectedFileName, "before.hex");
    EXPECT_TRUE(sim.dialogs.Messages().empty());
    EXPECT_NE(Banner(), "HEX FILE OK");
    ASSERT_EQ(sim.dialogs.FileDialogs().size(), 1u);
    const auto& r = sim.dialogs.FileDialogs()[0];
    EXPECT_EQ(std::vector({r.fileName, r.title, r.filter, r.initDir}),
              std::vector<std::string>({"*.hex", "SELECT HEX FILE",
                                        "Hex Files (*.hex)|*.hex|All Files (*.*)|*.*",
                                        PathIn("HexFiles/")}));

    WriteFile(PathIn("rx.hex"), Lines(ReceiverFile(32)));
    sim.dialogs.ChooseNextFile(PathIn("rx.hex"));
    HexFileCommand();
    EXPECT_EQ(Banner(), "HEX FILE OK");
    EXPECT_EQ(frmUI().frmPASS.BackColor, ui::colour::kGreen);
    EXPECT_TRUE(frmUI().btnPROGRAM.Enabled);
    EXPECT_EQ(g.files.SelectedFileName, "rx.hex");
    EXPECT_EQ(frmUI().btnHEXFILE.Caption, "rx.hex");
    // A file for another device keeps PROGRAM disabled; it stays selected as chosen.
    WriteFile(PathIn("tx.hex"), Lines({testing::HeaderRecord(0xDE), Record(0, 0, {1}), kEnd}));
    sim.dialogs.ChooseNextFile(PathIn("tx.hex"));
    HexFileCommand();
    EXPECT_EQ(Banner(), "ERROR CODE: 1002");
    EXPECT_FALSE(frmUI().btnPROGRAM.Enabled);
    EXPECT_EQ(g.files.SelectedFileName, "tx.hex");
}

TEST_F(HexFileTest, GetLastUsedCommand) {
    WriteFile(PathIn("rx.hex"), Lines(ReceiverFile(32)));
    g.files.SelectedFileName = "rx.hex";
    g.cmd.UiCommand = uicmdLASTUSED;
    LastUsedCommand();  // no entry: nothing is loaded
    EXPECT_NE(Banner(), "HEX FILE OK");
    EXPECT_EQ(g.cmd.UiCommand, 0);

    std::filesystem::create_directory(PathIn("old"));
    WriteFile(PathIn("old/rx.hex"), Lines(ReceiverFile(32)));
    g.files.LastUsedName = "rx.hex";
    g.files.LastUsedPath = PathIn("old/rx.hex");
    LastUsedCommand();
    EXPECT_EQ(g.files.SelectedFilePath, PathIn("old/rx.hex"));
    EXPECT_EQ(Banner(), "HEX FILE OK");
    EXPECT_TRUE(frmUI().btnPROGRAM.Enabled && frmUI().Focused == &frmUI().btnPROGRAM);
    EXPECT_EQ(g.port.HexDir, PathIn("old/"));
    // A remembered file that has since gone is reported and the selection stays.
    g.files.LastUsedName = "gone.hex";
    g.files.LastUsedPath = PathIn("gone.hex");
    LastUsedCommand();
    EXPECT_EQ(g.result.ErrorCode, 1001);
    EXPECT_EQ(g.files.SelectedFilePath, PathIn("old/rx.hex"));
    EXPECT_EQ(frmUI().btnHEXFILE.Caption, "rx.hex");
}

TEST_F(HexFileTest, ButtonPressedWhileOkIsShownIsNotLost) {
    WriteFile(PathIn("rx.hex"), Lines(ReceiverFile(32)));
    g.files.LastUsedName = "rx.hex";
    g.files.LastUsedPath = PathIn("rx.hex");
    // PROGRAM is usable while "HEX FILE OK" stays up for a second; the operator presses it.
    sim.At(sim.clock.NowMs() + 700, [] {
        ASSERT_TRUE(frmUI().btnPROGRAM.Enabled);
        frmUI().btnPROGRAM.MouseUp();
    });
    g.cmd.UiCommand = uicmdLASTUSED;
    LastUsedCommand();
    EXPECT_EQ(g.cmd.UiCommand, uicmdPROGRAM);

    sim.dialogs.ChooseNextFile(PathIn("rx.hex"));
    sim.At(sim.clock.NowMs() + 700, [] { frmUI().btnSCAN.MouseUp(); });
    g.cmd.UiCommand = uicmdHEXFILE;
    HexFileCommand();
    EXPECT_EQ(g.cmd.UiCommand, uicmdSCAN);
}

// ---- Files that must be refused, and refused untouched ------------------------------------

// A KVT file has no product code but "KVT Rev " (here split over two records); it is for a
// KVT only, and like any file its image starts from the erased state, never from the file
// read before it.
TEST_F(HexFileTest, KvtFileIsForAKvtOnlyAndStartsFromAnErasedImage) {
    const std::string kvt =
        Lines({Record(0, 0, Ascii("boot")), Record(4, 0, Ascii("KVT ")),
               Record(8, 0, Ascii("Rev 1.0")), Record(16, 0, Ascii("more")), kEnd});
    ASSERT_TRUE(Check(Lines(ReceiverFile(64)), "rx.hex"));
    g.dev.DeviceFound = false;
    ASSERT_TRUE(Check(kvt, "kvt.hex"));  // no device found: nothing to match
    EXPECT_EQ(g.files.KvtFileName, "kvt.hex");
    EXPECT_EQ(g.files.KvtFilePath, PathIn("kvt.hex"));
    EXPECT_TRUE(std::all_of(g.hex.HexData.begin(), g.hex.HexData.end(),
                            [](std::int16_t cell) { return cell == 0xFF; }));

    DeviceFound("H");
    EXPECT_FALSE(Check(kvt, "kvt.hex"));
    EXPECT_EQ(g.result.ErrorCode, 1002);
    EXPECT_EQ(frmUI().lblHEXFILE.Caption,
              "This hex file is for: KVT\rTARN product is : TWPx  Transmitter\rCannot program with "
              "this file.");

    g.dev.DevLetter = "$";
    g.dev.DevIdName = "KVT";
    EXPECT_TRUE(Check(kvt, "kvt.hex"));
}

// A file that is refused is never rewritten, whatever its line ends: only a file that passes
// its check is converted from bare LF to CR LF.
TEST_F(HexFileTest, RefusedFileWithLineFeedsIsNeverChanged) {
    DeviceFound("D");
    std::filesystem::create_directory(PathIn("incoming"));
    const char image[] =
        "\x7F"
        "ELF\x02\x01\x01\n\x00\x00\xFF\xFE\n\x10\x20";
    const std::string binary(image, sizeof image - 1);  // the NULs belong to the image
    const std::vector<std::string> refused{
        binary,                                                   // not a HEX file at all
        Lines({Header(0xDE), Record(0, 0, {1, 2}), kEnd}, "\n"),  // for another device
        Lines({Header(0xD2), ":020000000102FC", kEnd}, "\n")};    // a wrong checksum
    for (const std::string& content : refused) {
        const std::string path = PathIn("incoming/lf.hex");
        WriteFile(path, content);
        g.files.SelectedFileName = "lf.hex";
        g.files.SelectedFilePath = path;
        EXPECT_FALSE(CkHexFile(path));
        EXPECT_EQ(ReadFile(path), content);
        EXPECT_FALSE(std::filesystem::exists(PathIn("lf.hex")));
    }
    EXPECT_TRUE(sim.dialogs.Messages().empty());
}

}  // namespace
}  // namespace rompush
