// Reading Intel HEX files into the firmware image, the checks on their records and product
// code, the LF conversion, the non-flashable warning, and the SELECT HEX FILE and GET LAST
// USED commands.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
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
    std::vector<std::uint8_t> bytes(data.begin(), data.end());
    return testing::HexRecord(static_cast<std::uint16_t>(address & 0xFFFF),
                              static_cast<std::uint8_t>(type), bytes);
}

std::string Header(int productCode) {
    return testing::HeaderRecord(static_cast<std::uint8_t>(productCode));
}

const std::string kEnd = ":00000001FF";

std::string Lines(const std::vector<std::string>& lines, const std::string& end = "\r\n") {
    std::string text;
    for (const auto& line : lines)
        text += line + end;
    return text;
}

// A receiver ("D", product code &HD2) with bytes 0..n-1 = (i * 7) & 0xFF from address 0.
std::vector<std::string> ReceiverFile(int bytes, int perRecord = 16) {
    std::vector<std::string> lines{Header(0xD2)};
    for (int start = 0; start < bytes; start += perRecord) {
        std::vector<int> data;
        for (int i = start; i < start + perRecord && i < bytes; ++i)
            data.push_back((i * 7) & 0xFF);
        lines.push_back(Record(start, 0, data));
    }
    lines.push_back(kEnd);
    return lines;
}

class HexFileTest : public ProgramTest {
  protected:
    // Writes the file and checks it as the selected file.
    bool Check(const std::string& name, const std::string& content) {
        const std::string path = PathIn(name);
        WriteFile(path, content);
        g.files.SelectedFileName = name;
        g.files.SelectedFilePath = path;
        return CkHexFile(path);
    }
    void DeviceFound(const std::string& letter) {
        g.dev.DeviceFound = true;
        g.dev.DevLetter = letter;
        g.dev.DevIdName = letter == "H" ? "VLNMINI" : "QTRUSB";
        g.dev.DevRev = "Rev D1.2A";
    }
    int Cell(int index) const { return g.hex.HexData[static_cast<std::size_t>(index)]; }
    std::string Banner() const { return frmUI().lblPASS.Caption; }
};

// ---- the product code -------------------------------------------------------------------

TEST_F(HexFileTest, ProductCodeDEMatchesOnlyTheTransmitter) {
    const std::string file = Lines({Header(0xDE), Record(0, 0, {1, 2, 3}), kEnd});
    DeviceFound("H");
    EXPECT_TRUE(Check("tx.hex", file));
    EXPECT_EQ(g.hex.FileProductCode, 0xDE);
    EXPECT_EQ(g.result.ErrorCode, 0);

    for (const char* other : {"D", "M", "L", "K"}) {
        DeviceFound(other);
        EXPECT_FALSE(Check("tx.hex", file)) << other;
        EXPECT_EQ(g.result.ErrorCode, 1002) << other;
    }
    DeviceFound("D");
    Check("tx.hex", file);
    EXPECT_EQ(frmUI().lblHEXFILE.Caption,
              "This hex file is for: TWPx  Transmitter\rTARN product is : TWPx  Receiver\r"
              "Cannot program with this file.");
    EXPECT_EQ(Banner(), "ERROR CODE: 1002");

    // With no device found there is nothing to match against.
    g.dev.DeviceFound = false;
    g.result.ErrorCode = 0;
    EXPECT_TRUE(Check("tx.hex", file));
}

TEST_F(HexFileTest, HeaderFaultsAreReportedWithTheirCodes) {
    DeviceFound("D");
    EXPECT_FALSE(Check("a.hex", Lines({"06000000010000D20000", kEnd})));
    EXPECT_EQ(g.result.ErrorCode, 1009);
    EXPECT_EQ(frmUI().lblHEXFILE.Caption,
              "Header character missing in selected file.  \r\r0600000001");
    EXPECT_FALSE(Check("b.hex", Lines({":06000000020000D20000", kEnd})));
    EXPECT_EQ(g.result.ErrorCode, 1007);
    EXPECT_FALSE(Check("c.hex", Lines({":060000000100", kEnd})));  // no product code at all
    EXPECT_EQ(g.result.ErrorCode, 1007);
}

// ---- records and the image ----------------------------------------------------------------

TEST_F(HexFileTest, RecordsFillTheImageFromTheFirstDataAddress) {
    DeviceFound("D");
    const std::vector<std::string> lines{Header(0xD2), Record(0x0100, 0, {0x11, 0x22}),
                                         Record(0x0110, 0, {0x33}), kEnd};
    ASSERT_TRUE(Check("r.hex", Lines(lines)));
    EXPECT_EQ(Cell(0), 0x11);
    EXPECT_EQ(Cell(1), 0x22);
    EXPECT_EQ(Cell(2), 0xFF);
    EXPECT_EQ(Cell(0x10), 0x33);
    EXPECT_EQ(Cell(32784), 0xFF);
    EXPECT_TRUE(g.files.HexFileRead);
    EXPECT_EQ(frmUI().ProgressBar1.Value, 0);
    EXPECT_FALSE(frmUI().ProgressBar1.Visible);
}

TEST_F(HexFileTest, AnEarlierFileLeavesNothingInTheImage) {
    DeviceFound("D");
    ASSERT_TRUE(Check("big.hex", Lines(ReceiverFile(256))));
    EXPECT_EQ(Cell(200), (200 * 7) & 0xFF);
    ASSERT_TRUE(Check("small.hex", Lines(ReceiverFile(16))));
    EXPECT_EQ(Cell(15), (15 * 7) & 0xFF);
    EXPECT_EQ(Cell(16), 0xFF);
    EXPECT_EQ(Cell(200), 0xFF);
}

TEST_F(HexFileTest, TwoLineFileIsValidAndStoresNothing) {
    DeviceFound("D");
    ASSERT_TRUE(Check("two.hex", Lines({Header(0xD2), kEnd})));
    for (int i : {0, 1, 100, 32784})
        EXPECT_EQ(Cell(i), 0xFF);
}

TEST_F(HexFileTest, AddressRecordsAreStoredAsData) {
    DeviceFound("D");
    const std::vector<std::string> lines{Header(0xD2), Record(0x0000, 4, {0x00, 0x00}),
                                         Record(0x0002, 2, {0x10, 0x00}), Record(0x0004, 0, {0xAB}),
                                         kEnd};
    ASSERT_TRUE(Check("ext.hex", Lines(lines)));
    EXPECT_EQ(Cell(0), 0x00);
    EXPECT_EQ(Cell(1), 0x00);
    EXPECT_EQ(Cell(2), 0x10);
    EXPECT_EQ(Cell(3), 0x00);
    EXPECT_EQ(Cell(4), 0xAB);
}

TEST_F(HexFileTest, DataOutsideTheImageIsNotStoredAndFailsItsRecord) {
    DeviceFound("D");
    // The first record sets the base; one below it and one beyond the image's end.
    const std::vector<std::string> lines{Header(0xD2), Record(0x0100, 0, {0x01}),
                                         Record(0x00F0, 0, {0x02}),
                                         Record(0x0100 + 32785, 0, {0x03}), kEnd};
    EXPECT_FALSE(Check("out.hex", Lines(lines)));
    EXPECT_EQ(g.result.ErrorCode, 1003);
    EXPECT_EQ(Cell(0), 0x01);
    EXPECT_EQ(frmUI().lblHEXFILE.Caption,
              "Check sum error occurred.  \r\r" + lines[3].substr(0, 10));
    EXPECT_TRUE(frmUI().linHEXFILE.Visible);

    // Addresses from &H8000 up are ordinary addresses, relative to the base like any other.
    ASSERT_TRUE(Check("high.hex", Lines({Header(0xD2), Record(0x8000, 0, {0x5A}),
                                         Record(0xFFFF, 0, {0xA5}), kEnd})));
    EXPECT_EQ(Cell(0), 0x5A);
    EXPECT_EQ(Cell(0x7FFF), 0xA5);
}

TEST_F(HexFileTest, MalformedRecordsAreBadRecordsNeverReadsBeyondTheLine) {
    DeviceFound("D");
    const std::string good = Record(0x0000, 0, {0x01, 0x02});
    const std::vector<std::string> bad{
        ":",                                 // nothing after the colon
        ":10000000",                         // claims 16 bytes, has none
        good.substr(0, good.size() - 1),     // checksum cut in half
        ":02000000GG01FD",                   // not hex digits
        ":FF000000" + std::string(20, 'A'),  // count runs past the end
        "",                                  // an empty line
    };
    for (const auto& line : bad) {
        EXPECT_FALSE(Check("bad.hex", Lines({Header(0xD2), good, line, kEnd}))) << line;
        EXPECT_EQ(g.result.ErrorCode, 1003) << line;
    }
    // A bad checksum is reported and the records after it are still read.
    std::string wrong = good;
    wrong.back() = wrong.back() == '0' ? '1' : '0';
    EXPECT_FALSE(Check("sum.hex", Lines({Header(0xD2), wrong, Record(2, 0, {0x77}), kEnd})));
    EXPECT_EQ(g.result.ErrorCode, 1003);
    EXPECT_EQ(Cell(2), 0x77);
}

TEST_F(HexFileTest, EndRecordFaults) {
    DeviceFound("D");
    const std::string data = Record(0, 0, {1});
    EXPECT_FALSE(Check("e.hex", Lines({Header(0xD2), data, "00000001FF"})));
    EXPECT_EQ(g.result.ErrorCode, 1004);
    EXPECT_EQ(frmUI().lblHEXFILE.Caption,
              "EOF character missing in selected file.  \r\r00000001FF");
    EXPECT_FALSE(Check("e.hex", Lines({Header(0xD2), data, ":01000001FF"})));
    EXPECT_EQ(g.result.ErrorCode, 1005);
    EXPECT_FALSE(Check("e.hex", Lines({Header(0xD2), data, ":00000000FF"})));
    EXPECT_EQ(g.result.ErrorCode, 1006);
    // A header alone has no end record.
    EXPECT_FALSE(Check("e.hex", Lines({Header(0xD2)})));
    EXPECT_EQ(g.result.ErrorCode, 1004);
}

TEST_F(HexFileTest, FilesThatAreNotHexFilesGiveCodesNotCrashes) {
    DeviceFound("D");
    EXPECT_FALSE(Check("empty.hex", ""));
    EXPECT_EQ(g.result.ErrorCode, 1009);

    std::string binary;
    for (int i = 0; i < 5000; ++i)
        binary.push_back(static_cast<char>((i * 131 + 7) & 0xFF));
    EXPECT_FALSE(Check("binary.hex", binary));
    EXPECT_NE(g.result.ErrorCode, 0);

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
    DeviceFound("D");
    const std::string original = Lines(ReceiverFile(64), "\n");
    const std::string sub = PathIn("incoming");
    std::filesystem::create_directory(sub);
    const std::string path = sub + "/lf.hex";
    WriteFile(path, original);
    g.files.SelectedFileName = "lf.hex";
    g.files.SelectedFilePath = path;

    ASSERT_TRUE(CkHexFile(path));
    ASSERT_EQ(sim.dialogs.Messages().size(), 1u);
    const auto& box = sim.dialogs.Messages()[0];
    EXPECT_EQ(box.title, "RomPush");
    EXPECT_EQ(box.style, 48);
    EXPECT_EQ(box.prompt,
              "'lf.hex' will be converted to DOS format.\r\n\r\n"
              "( Orginal file will be copied to " +
                  Folder() + "/lf.hex )");
    EXPECT_EQ(ReadFile(PathIn("lf.hex")), original);
    EXPECT_EQ(ReadFile(path), Lines(ReceiverFile(64), "\r\n"));
    EXPECT_EQ(Cell(63), (63 * 7) & 0xFF);

    // Once converted the file is an ordinary DOS file: no second warning.
    ASSERT_TRUE(CkHexFile(path));
    EXPECT_EQ(sim.dialogs.Messages().size(), 1u);
}

TEST_F(HexFileTest, ConversionKeepsCrLfPairsAndTheFileInTheProgramFolder) {
    const std::string mixed = ":06\n:00\r\n:01\n";
    const std::string path = PathIn("mixed.hex");  // in the program folder itself
    WriteFile(path, mixed);
    ASSERT_TRUE(ConvertToDosFormat(path));
    EXPECT_EQ(ReadFile(path), ":06\r\n:00\r\n:01\r\n");
    EXPECT_EQ(ReadFile(path + ".orig"), mixed);
}

TEST_F(HexFileTest, BackupThatCannotBeWrittenLeavesTheFileAsItWas) {
    DeviceFound("D");
    const std::string original = Lines(ReceiverFile(32), "\n");
    const std::string sub = PathIn("elsewhere");
    std::filesystem::create_directory(sub);
    const std::string path = sub + "/lf.hex";
    WriteFile(path, original);
    // A folder where the backup would go: no one, not even root, can write it as a file.
    std::filesystem::create_directory(PathIn("lf.hex"));
    g.files.SelectedFileName = "lf.hex";
    g.files.SelectedFilePath = path;
    EXPECT_FALSE(CkHexFile(path));
    EXPECT_EQ(g.result.ErrorCode, 1001);
    EXPECT_EQ(ReadFile(path), original);
    EXPECT_EQ(g.files.SelectedFileName, "");
}

// ---- KVT files ----------------------------------------------------------------------------

std::vector<int> Ascii(const std::string& text) {
    std::vector<int> bytes;
    for (char c : text)
        bytes.push_back(static_cast<unsigned char>(c));
    return bytes;
}

TEST_F(HexFileTest, KvtSignatureAcrossTwoRecordsIsFound) {
    // "KVT Rev " split as "KVT " | "Rev 1.0", neither record holds it alone.
    const std::vector<std::string> lines{Record(0, 0, Ascii("boot")), Record(4, 0, Ascii("KVT ")),
                                         Record(8, 0, Ascii("Rev 1.0")),
                                         Record(16, 0, Ascii("more")), kEnd};
    ASSERT_TRUE(Check("kvt.hex", Lines(lines)));
    EXPECT_EQ(g.files.KvtFileName, "kvt.hex");
    EXPECT_EQ(g.files.KvtFilePath, PathIn("kvt.hex"));
}

TEST_F(HexFileTest, KvtSignatureOnlyInTheLastTwoLinesIsMissing) {
    const std::vector<std::string> lines{Record(0, 0, Ascii("boot")), Record(4, 0, Ascii("code")),
                                         Record(8, 0, Ascii("KVT Rev 2"))};
    EXPECT_FALSE(Check("kvt.hex", Lines(lines)));
    EXPECT_EQ(g.result.ErrorCode, 1008);
    EXPECT_EQ(g.files.KvtFileName, "");
}

// ---- trace and progress -------------------------------------------------------------------

TEST_F(HexFileTest, TraceShowsEveryLine) {
    DeviceFound("D");
    const auto lines = ReceiverFile(48);  // header, 3 records, end
    const std::string path = PathIn("t.hex");
    WriteFile(path, Lines(lines));
    StartTrace();
    ASSERT_TRUE(ValidateHexFile("t.hex", path));
    EXPECT_EQ(frmUI().ProgressBar1.Max, 5);
    EXPECT_EQ(frmUI().btnHEXFILE.Caption, "t.hex");

    std::vector<std::string> details;
    for (const auto& line : TraceLines()) {
        if (line.find("-- (") != std::string::npos)
            details.push_back(line.substr(line.find("-- (")));
    }
    const std::vector<std::string> expected{
        "-- (1) " + lines[1], "-- (1) " + lines[2], "-- (1) " + lines[3],
        "-- (1) " + lines[4], "-- (2) " + lines[0], "-- (3) " + lines[1],
        "-- (3) " + lines[2], "-- (3) " + lines[3], "-- (4) " + lines[4]};
    EXPECT_EQ(details, expected);
}

TEST_F(HexFileTest, WindowIsRefreshedWhileALargeFileIsRead) {
    DeviceFound("D");
    const std::string path = PathIn("large.hex");
    WriteFile(path, Lines(ReceiverFile(320 * 16)));  // 320 records
    const auto passesBefore = sim.events.Passes();
    const auto timeBefore = sim.clock.NowMs();
    ASSERT_TRUE(CkHexFile(path));
    // The two settle pauses each take a pass or more; reading the records takes the rest.
    EXPECT_GE(sim.events.Passes() - passesBefore, 2 + 320 / 16);
    EXPECT_EQ(sim.clock.NowMs() - timeBefore, 200);
    EXPECT_EQ(frmUI().ProgressBar1.Max, 322);
}

// ---- the non-flashable warning -------------------------------------------------------------

TEST_F(HexFileTest, NonFlashableNameRule) {
    g.files.SelectedFileName = "MONO_AN.hex";
    sim.dialogs.AnswerNext(platform::mb::kAnswerNo);
    EXPECT_FALSE(CkForNonFlashFW());
    ASSERT_EQ(sim.dialogs.Messages().size(), 1u);
    const auto& box = sim.dialogs.Messages()[0];
    EXPECT_EQ(box.style, 52);
    EXPECT_EQ(box.title, "RomPush Utility");
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

class FileCommandTest : public HexFileTest {
  protected:
    FileCommandTest() {
        DeviceFound("D");
        g.port.HexDir = PathIn("HexFiles/");
    }
};

TEST_F(FileCommandTest, CancelledDialogChangesNothing) {
    g.files.SelectedFileName = "before.hex";
    g.files.SelectedFilePath = PathIn("before.hex");
    g.cmd.UiCommand = uicmdHEXFILE;
    HexFileCommand();
    EXPECT_EQ(g.cmd.UiCommand, 0);
    EXPECT_EQ(g.files.SelectedFileName, "before.hex");
    EXPECT_TRUE(sim.dialogs.Messages().empty());
    EXPECT_NE(Banner(), "HEX FILE OK");
    ASSERT_EQ(sim.dialogs.FileDialogs().size(), 1u);
    const auto& request = sim.dialogs.FileDialogs()[0];
    EXPECT_EQ(request.fileName, "*.hex");
    EXPECT_EQ(request.title, "SELECT HEX FILE");
    EXPECT_EQ(request.filter, "Hex Files (*.hex)|*.hex|All Files (*.*)|*.*");
    EXPECT_EQ(request.initDir, PathIn("HexFiles/"));
}

TEST_F(FileCommandTest, GoodFileIsOkAndEnablesProgram) {
    WriteFile(PathIn("rx.hex"), Lines(ReceiverFile(32)));
    sim.dialogs.ChooseNextFile(PathIn("rx.hex"));
    HexFileCommand();
    EXPECT_EQ(Banner(), "HEX FILE OK");
    EXPECT_EQ(frmUI().frmPASS.BackColor, ui::colour::kGreen);
    EXPECT_EQ(g.files.SelectedFileName, "rx.hex");
    EXPECT_TRUE(frmUI().btnPROGRAM.Enabled);
    EXPECT_EQ(frmUI().btnHEXFILE.Caption, "rx.hex");
    EXPECT_EQ(g.cmd.UiCommand, 0);
}

TEST_F(FileCommandTest, FileForAnotherDeviceKeepsProgramDisabled) {
    WriteFile(PathIn("tx.hex"), Lines({Header(0xDE), Record(0, 0, {1}), kEnd}));
    sim.dialogs.ChooseNextFile(PathIn("tx.hex"));
    HexFileCommand();
    EXPECT_EQ(g.result.ErrorCode, 1002);
    EXPECT_EQ(Banner(), "ERROR CODE: 1002");
    EXPECT_FALSE(frmUI().btnPROGRAM.Enabled);
    // The rejected file stays selected, as the operator chose it.
    EXPECT_EQ(g.files.SelectedFileName, "tx.hex");
}

TEST_F(FileCommandTest, LastUsedWithNoEntryLoadsNothing) {
    WriteFile(PathIn("rx.hex"), Lines(ReceiverFile(32)));
    g.files.SelectedFileName = "rx.hex";
    g.files.SelectedFilePath = PathIn("rx.hex");
    g.cmd.UiCommand = uicmdLASTUSED;
    LastUsedCommand();
    EXPECT_EQ(g.files.SelectedFileName, "rx.hex");
    EXPECT_NE(Banner(), "HEX FILE OK");
    EXPECT_EQ(g.cmd.UiCommand, 0);
}

TEST_F(FileCommandTest, ButtonPressedWhileOkIsShownIsNotLost) {
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

TEST_F(FileCommandTest, LastUsedLoadsTheRememberedFile) {
    std::filesystem::create_directory(PathIn("old"));
    WriteFile(PathIn("old/rx.hex"), Lines(ReceiverFile(32)));
    g.files.LastUsedName = "rx.hex";
    g.files.LastUsedPath = PathIn("old/rx.hex");
    LastUsedCommand();
    EXPECT_EQ(g.files.SelectedFilePath, PathIn("old/rx.hex"));
    EXPECT_EQ(Banner(), "HEX FILE OK");
    EXPECT_TRUE(frmUI().btnPROGRAM.Enabled);
    EXPECT_EQ(frmUI().Focused, &frmUI().btnPROGRAM);
    EXPECT_EQ(g.port.HexDir, PathIn("old/"));

    // A remembered file that has since gone is reported and the selection stays.
    g.files.LastUsedName = "gone.hex";
    g.files.LastUsedPath = PathIn("gone.hex");
    LastUsedCommand();
    EXPECT_EQ(g.result.ErrorCode, 1001);
    EXPECT_EQ(g.files.SelectedFileName, "rx.hex");
    EXPECT_EQ(g.files.SelectedFilePath, PathIn("old/rx.hex"));
    EXPECT_EQ(frmUI().btnHEXFILE.Caption, "rx.hex");
}

// ---- Files that must be refused, and refused untouched ------------------------------------

// A KVT file has no product code; it is for a KVT only, and like any file its image starts
// from the erased state, never from the file read before it.
TEST_F(HexFileTest, KvtFileIsForAKvtOnlyAndStartsFromAnErasedImage) {
    const std::string kvt = Lines({Record(0, 0, Ascii("boot")), Record(4, 0, Ascii("KVT Rev 1")),
                                   Record(13, 0, Ascii("more")), kEnd});
    ASSERT_TRUE(Check("rx.hex", Lines(ReceiverFile(64))));
    ASSERT_TRUE(Check("kvt.hex", kvt));  // no device found: nothing to match
    EXPECT_TRUE(std::all_of(g.hex.HexData.begin(), g.hex.HexData.end(),
                            [](std::int16_t cell) { return cell == 0xFF; }));

    DeviceFound("H");
    EXPECT_FALSE(Check("kvt.hex", kvt));
    EXPECT_EQ(g.result.ErrorCode, 1002);
    EXPECT_EQ(frmUI().lblHEXFILE.Caption,
              "This hex file is for: KVT\rTARN product is : TWPx  Transmitter\rCannot program with "
              "this file.");

    g.dev.DevLetter = "$";
    g.dev.DevIdName = "KVT";
    EXPECT_TRUE(Check("kvt.hex", kvt));
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

// When the original cannot be saved in the program folder, the operator is told so, not that
// the file may be open in another program.
TEST_F(HexFileTest, BackupThatCannotBeWrittenIsReportedAsSuch) {
    DeviceFound("D");
    std::filesystem::create_directory(PathIn("elsewhere"));
    const std::string path = PathIn("elsewhere/lf.hex");
    WriteFile(path, Lines(ReceiverFile(32), "\n"));
    std::filesystem::create_directory(PathIn("lf.hex"));  // the backup's place is taken
    g.files.SelectedFileName = "lf.hex";
    g.files.SelectedFilePath = path;
    EXPECT_FALSE(CkHexFile(path));
    const std::string& text = frmUI().lblHEXFILE.Caption;
    EXPECT_NE(text.find("cannot be copied to " + Folder()), std::string::npos) << text;
    EXPECT_EQ(text.find("another program"), std::string::npos) << text;
}

}  // namespace
}  // namespace rompush
