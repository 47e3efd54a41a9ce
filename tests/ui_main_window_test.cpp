// The main window's rules: the banner, the error display, which buttons are usable in each
// product mode, the normal look, the lock-out, the status panels and the loaded layout.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/state.h"
#include "platform/sim/sim_platform.h"
#include "program_fixture.h"
#include "ui/main_window.h"

namespace rompush {
namespace {

namespace fs = std::filesystem;
using namespace ui;

const std::string kFalseScanText =
    "Select an available port on this computer. 'SCAN' to search for a supported product or "
    "power cycle MERIDAN/CFX/KVT.          'COM PORT:' to select port options";
const std::string kVerifyText =
    "Check that the application firmware in the Tarn product and the hex file are the same.";
const std::string kEraseText = "Delete the application firmware in the Tarn product's memory.";
const std::string kConfigureText =
    "View and modify the configuration settings of the attached device";

// A control's position and size in twips.
void ExpectAt(const Control& c, int left, int top, int width, int height) {
    EXPECT_EQ(c.Left, left) << c.Name;
    EXPECT_EQ(c.Top, top) << c.Name;
    EXPECT_EQ(c.Width, width) << c.Name;
    EXPECT_EQ(c.Height, height) << c.Name;
}

class MainWindowTest : public testing::ProgramTest {
  protected:
    // A device that answered and a chosen file: the state after a good SCAN and HEXFILE.
    void ReadyDevice(const std::string& letter) {
        g.dev.DevLetter = letter;
        g.dev.DevRev = "1.04";
        g.dev.DeviceFound = true;
        g.files.SelectedFileName = "fw.hex";
        g.files.SelectedFilePath = "/hex/fw.hex";
    }

    void WriteIni(const std::vector<std::string>& entries) {
        std::ofstream ini(Folder() + "/RomPush.INI", std::ios::binary);
        for (const char* line :
             {"ROMPUSH_INI_001", "25", "Com1", " 1 ", " 0 ", " 2 ", " 6 ", " 2 "}) {
            ini << line << "\r\n";
        }
        for (const auto& entry : entries)
            ini << entry << "\r\n";
    }
};

// ---- the banner ------------------------------------------------------------------------

TEST_F(MainWindowTest, ShowMsgColoursTheBannerAndTracesTheText) {
    StartTrace();
    ShowMsg("HEX FILE OK", colour::kGreen);
    EXPECT_EQ(frmUI().lblPASS.Caption, "HEX FILE OK");
    EXPECT_EQ(frmUI().frmPASS.BackColor, colour::kGreen);
    ShowMsg("ERROR CODE: 1003", colour::kRed);
    EXPECT_EQ(frmUI().lblPASS.Caption, "ERROR CODE: 1003");
    EXPECT_EQ(frmUI().frmPASS.BackColor, colour::kRed);
    ShowMsg("", colour::kButtonFace);
    EXPECT_EQ(frmUI().frmPASS.BackColor, colour::kButtonFace);
    const auto lines = TraceLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "        ShowMsg( HEX FILE OK )");
    EXPECT_EQ(lines[1], "        ShowMsg( ERROR CODE:1003 )");
    EXPECT_EQ(lines[2], "        ShowMsg(  )");
    EXPECT_EQ(g.trace.TraceIndent, "");
}

TEST_F(MainWindowTest, DisplayErrorTracesItsBannerOneLevelDeeper) {
    frmUI_Load();
    StartTrace();
    g.hex.CurLine = ":10000000";
    g.result.ErrorCode = 1003;
    DisplayError();
    const auto lines = TraceLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "        DisplayError()");
    EXPECT_EQ(lines[1], "                ShowMsg( ERROR CODE:1003 )");
    EXPECT_EQ(g.trace.TraceIndent, "");
}

// ---- the error table -------------------------------------------------------------------

enum class Row { Scan, HexFile, Erase, Verify, Program };

Label& LabelOf(Row row) {
    FrmUI& f = frmUI();
    switch (row) {
        case Row::Scan:
            return f.lblSCAN;
        case Row::HexFile:
            return f.lblHEXFILE;
        case Row::Erase:
            return f.lblERASE;
        case Row::Verify:
            return f.lblVERIFY;
        case Row::Program:
            return f.lblPROGRAM;
    }
    return f.lblSCAN;
}

Line* LineOf(Row row) {
    FrmUI& f = frmUI();
    switch (row) {
        case Row::Scan:
            return &f.linSCAN;
        case Row::HexFile:
            return &f.linHEXFILE;
        case Row::Program:
            return &f.linPROGRAM;
        default:
            return nullptr;
    }
}

struct ErrorCase {
    int code;
    bool programVerifyOk;
    Row row;
    bool highlight;
    std::string text;
    int height;
};

const std::string kExcerpt = "\r\r:10000000A";  // the first 10 characters of the line
const std::string kNoBytes = "\r\r";            // an empty answer

std::vector<ErrorCase> ErrorCases() {
    const std::string open =
        "An error has occured while trying to open the selected file.  Check that the file is "
        "not being read or edited by another program.";
    const std::string checksum = "Check sum error occurred.  " + kExcerpt;
    const std::string eof = "EOF character missing in selected file.  " + kExcerpt;
    const std::string header = "Header character missing in selected file.  " + kExcerpt;
    const std::string command = "A command response error occurred.  " + kNoBytes;
    const std::string timeout = "A response timeout error occurred.  " + kNoBytes;
    return {
        {1001, false, Row::HexFile, false, open, 650},
        {1002, false, Row::HexFile, false,
         "This hex file is for: \rTARN product is : \rCannot program with this file.", 650},
        {1003, false, Row::HexFile, true, checksum, 650},
        {1004, false, Row::HexFile, true, eof, 650},
        {1005, false, Row::HexFile, true, eof, 650},
        {1006, false, Row::HexFile, true, eof, 650},
        {1007, false, Row::HexFile, true, header, 650},
        {1008, false, Row::HexFile, true, header, 650},
        {1009, false, Row::HexFile, true, header, 650},
        {1202, false, Row::Program, false, "Programming file cannot be opened.", 650},
        {1605, false, Row::Program, false, "Programming file cannot be opened.", 650},
        {1301, true, Row::Program, false, "A CRC error occured after programming.", 650},
        {1401, true, Row::Program, false, "A CRC error occured after programming.", 650},
        {1301, false, Row::Verify, false,
         "A CRC error has occured.  Check that the correct file has been selected and retest.",
         650},
        {1401, false, Row::Verify, false,
         "A CRC error has occured.  Check that the correct file has been selected and retest.",
         650},
        {1302, true, Row::Program, true, timeout, 650},
        {1402, true, Row::Program, true, timeout, 650},
        {1302, false, Row::Verify, false, timeout, 650},
        {1402, false, Row::Verify, false, timeout, 650},
        {1501, false, Row::Scan, true, "An error has occured obtaining device ID." + kNoBytes, 650},
        {1602, false, Row::Verify, false, "Target hardware not responding.", 650},
        {1603, false, Row::Program, false, "USB serial not found or not supported.", 650},
        {1604, false, Row::Program, false, "Target hardware not responding.", 650},
        {1607, false, Row::Program, false, "USB programming file not received.", 650},
        {1608, false, Row::Program, false, "QRX programming file not received.", 650},
        {3003, false, Row::Program, true, command, 650},
        {3004, false, Row::Program, true, command, 650},
        {4003, false, Row::Program, true, command, 650},
        {4004, false, Row::Program, true, command, 650},
        {4005, false, Row::Program, true, command, 650},
        {3005, false, Row::Program, true, timeout, 650},
        {4006, false, Row::Program, true, timeout, 650},
        {5001, false, Row::Erase, false, "Incomplete configuration data received from device.",
         650},
        {6001, false, Row::Scan, false,
         "\r\nNon-flashable device that cannot\r\nbe erased or programmed.\r\n", 830},
        {8001, false, Row::Program, false, "CRC check failed.", 650},
        {8002, false, Row::Program, false, "ACK to last command not received.", 650},
    };
}

TEST_F(MainWindowTest, EveryErrorCodeShowsItsTextOnItsRow) {
    for (const ErrorCase& c : ErrorCases()) {
        SCOPED_TRACE("code " + std::to_string(c.code) +
                     (c.programVerifyOk ? " after PROGRAM" : ""));
        ResetState();
        frmUI_Load();
        g.hex.CurLine = ":10000000ABCDEF";
        g.result.ProgramVerifyOk = c.programVerifyOk;
        g.result.ErrorCode = static_cast<std::int16_t>(c.code);

        EXPECT_EQ(ErrorText(c.code), c.text);
        DisplayError();

        FrmUI& f = frmUI();
        EXPECT_EQ(f.lblPASS.Caption, "ERROR CODE: " + std::to_string(c.code));
        EXPECT_EQ(f.frmPASS.BackColor, colour::kRed);
        Label& label = LabelOf(c.row);
        EXPECT_EQ(label.Caption, c.text);
        EXPECT_EQ(label.Top, 180);
        EXPECT_EQ(label.Height, c.height);
        EXPECT_EQ(label.BackColor, colour::kRed);
        EXPECT_EQ(label.ForeColor, colour::kWhite);

        // Only the row's own line lights up, across the description.
        for (Row other : {Row::Scan, Row::HexFile, Row::Program}) {
            Line* line = LineOf(other);
            const bool lit = c.highlight && other == c.row;
            EXPECT_EQ(line->Visible, lit) << line->Name;
            if (lit) {
                EXPECT_EQ(line->X1, 2880);
                EXPECT_EQ(line->X2, 5520);
                EXPECT_EQ(line->Y1, 480);
                EXPECT_EQ(line->Y2, 480);
            }
        }
        // The other rows keep their navy descriptions.
        for (Row other : {Row::Scan, Row::HexFile, Row::Erase, Row::Verify, Row::Program}) {
            if (other != c.row) {
                EXPECT_EQ(LabelOf(other).BackColor, colour::kNavy);
            }
        }
    }
}

TEST_F(MainWindowTest, VerifyErrorsMoveTheOtherVerifyRowUpToo) {
    for (int code : {1301, 1401}) {
        for (bool afterProgram : {false, true}) {
            ResetState();
            frmUI_Load();
            g.result.ProgramVerifyOk = afterProgram;
            g.result.ErrorCode = static_cast<std::int16_t>(code);
            DisplayError();
            EXPECT_EQ(frmUI().lblVERIFY.Top, 180) << code << " " << afterProgram;
        }
    }
    for (int code : {1302, 1402}) {
        for (bool afterProgram : {false, true}) {
            ResetState();
            frmUI_Load();
            g.result.ProgramVerifyOk = afterProgram;
            g.result.ErrorCode = static_cast<std::int16_t>(code);
            DisplayError();
            EXPECT_EQ(frmUI().lblPROGRAM.Top, 180) << code << " " << afterProgram;
        }
    }
}

TEST_F(MainWindowTest, ColourOnlyRowsKeepTheirDescriptions) {
    for (int code : {1201, 1601}) {
        ResetState();
        frmUI_Load();
        const std::string description = frmUI().lblERASE.Caption;
        g.result.ErrorCode = static_cast<std::int16_t>(code);
        EXPECT_EQ(ErrorText(code), "");
        DisplayError();
        EXPECT_EQ(frmUI().lblERASE.Caption, description);
        EXPECT_EQ(frmUI().lblERASE.Top, 180);
        EXPECT_EQ(frmUI().lblERASE.Height, 650);
        EXPECT_EQ(frmUI().lblERASE.BackColor, colour::kRed);
        EXPECT_EQ(frmUI().lblPASS.Caption, "ERROR CODE: " + std::to_string(code));
    }
    ResetState();
    frmUI_Load();
    const std::string description = frmUI().lblPROGRAM.Caption;
    g.result.ErrorCode = 1606;
    DisplayError();
    EXPECT_EQ(frmUI().lblPROGRAM.Caption, description);
    EXPECT_EQ(frmUI().lblPROGRAM.Top, 240);
    EXPECT_EQ(frmUI().lblPROGRAM.Height, 435);
    EXPECT_EQ(frmUI().lblPROGRAM.BackColor, colour::kRed);
    EXPECT_FALSE(frmUI().linPROGRAM.Visible);
}

TEST_F(MainWindowTest, ResponseDumpListsTheAnswerBytesInHex) {
    frmUI_Load();
    g.link.RcvArray[0] = 3;
    g.link.RcvArray[1] = 7;
    g.link.RcvArray[2] = 0x41;
    g.link.RcvArray[3] = 0;
    g.link.RcvArray[4] = 0x99;  // beyond the count: not shown
    g.result.ErrorCode = 4003;
    DisplayError();
    EXPECT_EQ(frmUI().lblPROGRAM.Caption, "A command response error occurred.  \r\r 07 41 00");
    g.link.RcvArray[0] = 1;
    g.link.RcvArray[1] = 0xAB;
    EXPECT_EQ(ErrorText(1501), "An error has occured obtaining device ID.\r\r AB");
}

TEST_F(MainWindowTest, ResponseDumpOfAGarbledCountStopsAtTheBufferEnd) {
    frmUI_Load();
    for (std::size_t i = 1; i < g.link.RcvArray.size(); ++i)
        g.link.RcvArray[i] = 0x5A;
    g.link.RcvArray[0] = 200;
    g.result.ErrorCode = 3005;
    DisplayError();
    std::string bytes;
    for (int i = 0; i < 50; ++i)
        bytes += " 5A";
    EXPECT_EQ(frmUI().lblPROGRAM.Caption, "A response timeout error occurred.  \r\r" + bytes);
}

TEST_F(MainWindowTest, LineExcerptShowsAShortLineWhole) {
    frmUI_Load();
    g.hex.CurLine = ":0000";
    g.result.ErrorCode = 1003;
    DisplayError();
    EXPECT_EQ(frmUI().lblHEXFILE.Caption, "Check sum error occurred.  \r\r:0000");
    g.hex.CurLine = "";
    EXPECT_EQ(ErrorText(1007), "Header character missing in selected file.  \r\r");
}

TEST_F(MainWindowTest, MismatchNamesTheFileAndTheDevice) {
    struct Case {
        char fileLetter;
        std::string devIdName;
        std::string fileName;
        std::string deviceName;
    };
    const std::vector<Case> cases = {
        {'M', "VLNMINI", "TWPx  Tx (Master)", "TWPx  Transmitter"},
        {'L', "TWPx  Tx (Master)", "TWPx  Tx (Slave)", "TWPx  Tx (Master)"},
        {'H', "QTRUSB", "TWPx  Transmitter", "TWPx  Receiver"},
        {'D', "TWPx  Tx (Slave)", "TWPx  Receiver", "TWPx  Tx (Slave)"},
        {'K', "Orbit Tiny", "Monolink", "Orbit Tiny"},
        {'S', "Meridan QRX", "Meridan USB", "Meridan QRX"},
        {'X', "Meridan USB", "Meridan", "Meridan USB"},
        {'B', "Meridan", "Prisma", "Meridan"},
        {'V', "Prisma", "Orbit Mini", "Prisma"},
        {'T', "Orbit Mini", "Orbit Tiny", "Orbit Mini"},
        {'U', "KVT", "Crossfield", "KVT"},
        {'K', "Monolink", "Monolink", "Monolink"},
        {'D', "Crossfield", "TWPx  Receiver", "Crossfield"},
        {'Q', "Someone else", "", ""},
    };
    for (const Case& c : cases) {
        ResetState();
        frmUI_Load();
        g.hex.FileProductCode = static_cast<std::int16_t>(c.fileLetter ^ 0x96);
        g.dev.DevIdName = c.devIdName;
        g.result.ErrorCode = 1002;
        DisplayError();
        EXPECT_EQ(frmUI().lblHEXFILE.Caption, "This hex file is for: " + c.fileName +
                                                  "\rTARN product is : " + c.deviceName +
                                                  "\rCannot program with this file.");
        EXPECT_FALSE(frmUI().linHEXFILE.Visible);
    }
}

// Everything the operator can see of a control.
struct Look {
    std::string caption;
    bool enabled, visible;
    int left, top, width, height;
    Colour fore, back;
    bool operator==(const Look&) const = default;
};

std::vector<Look> WindowLook() {
    std::vector<Look> look;
    for (Control* c : frmUI().Controls()) {
        look.push_back({c->Caption, c->Enabled, c->Visible, c->Left, c->Top, c->Width, c->Height,
                        c->ForeColor, c->BackColor});
    }
    return look;
}

TEST_F(MainWindowTest, CodesWithoutARowShowNothing) {
    for (int code : {7002, 5003, 5002, 5009, 1101, 1, -1, 2000}) {
        ResetState();
        frmUI_Load();
        ShowMsg("Reading device...", colour::kLightYellow);
        const auto before = WindowLook();
        g.result.ErrorCode = static_cast<std::int16_t>(code);
        DisplayError();
        EXPECT_TRUE(WindowLook() == before) << code;
        EXPECT_EQ(ErrorText(code), "") << code;
    }
}

// ---- code 0: the descriptions come back ---------------------------------------------------

TEST_F(MainWindowTest, CodeZeroRestoresTheRowsAfterAnError) {
    frmUI_Load();
    g.link.RcvArray[0] = 0;
    g.result.ErrorCode = 1501;
    DisplayError();
    g.result.ErrorCode = 1003;
    DisplayError();
    g.result.ErrorCode = 4006;
    DisplayError();
    g.result.ErrorCode = 5001;
    DisplayError();
    frmUI().lblVERIFY.BackColor = colour::kRed;
    frmUI().lblVERIFY.Top = 180;

    g.result.ErrorCode = 0;
    DisplayError();
    FrmUI& f = frmUI();
    EXPECT_FALSE(f.linSCAN.Visible);
    EXPECT_FALSE(f.linHEXFILE.Visible);
    EXPECT_FALSE(f.linPROGRAM.Visible);
    EXPECT_EQ(f.lblSCAN.Top, 180);
    EXPECT_EQ(f.lblSCAN.Height, 800);  // its long description needs the full height
    EXPECT_EQ(f.lblHEXFILE.Top, 180);
    EXPECT_EQ(f.lblHEXFILE.Height, 650);
    for (Label* label : {&f.lblERASE, &f.lblVERIFY, &f.lblPROGRAM}) {
        EXPECT_EQ(label->Top, 240) << label->Name;
        EXPECT_EQ(label->Height, 435) << label->Name;
    }
    for (Label* label : {&f.lblSCAN, &f.lblHEXFILE, &f.lblERASE, &f.lblVERIFY, &f.lblPROGRAM}) {
        EXPECT_EQ(label->BackColor, colour::kNavy) << label->Name;
        EXPECT_EQ(label->ForeColor, colour::kWhite) << label->Name;
    }
    EXPECT_EQ(f.lblSCAN.Caption, kFalseScanText);
    EXPECT_EQ(f.lblERASE.Caption, kEraseText);
    EXPECT_EQ(f.lblPROGRAM.Caption,
              "Erase, program, and verify the memory in the Tarn product from the selected hex "
              "file.");
    EXPECT_EQ(f.lblPASS.Caption, "");
    EXPECT_EQ(f.frmPASS.BackColor, colour::kButtonFace);
}

TEST_F(MainWindowTest, CodeZeroInNormalModeFollowsTheFileAndTheDevice) {
    frmUI_Load();
    FrmUI& f = frmUI();
    f.lblVERIFY.Visible = false;
    f.lblPROGRAM.Visible = false;
    g.files.SelectedFileName = "fw.hex";
    f.btnHEXFILE.Caption = "fw.hex";
    g.dev.DevLetter = "V";
    DisplayError();
    EXPECT_EQ(f.lblHEXFILE.Caption,
              "This is the selected file that will be used to PROGRAM or VERIFY the firmware in "
              "the TARN product.  Press to select another file.");
    EXPECT_EQ(f.lblERASE.Caption, kConfigureText);
    EXPECT_TRUE(f.lblVERIFY.Visible);
    EXPECT_EQ(f.lblVERIFY.Caption, kVerifyText);
    EXPECT_TRUE(f.lblPROGRAM.Visible);

    f.btnHEXFILE.Caption = "SELECT HEX FILE";
    g.dev.DevLetter = "D";
    DisplayError();
    EXPECT_EQ(f.lblHEXFILE.Caption,
              "Press to select a file to PROGRAM/VERIFY the firmware in the TARN product. 'Get "
              "Last Used' to load file used for last PROGRAM.");
    EXPECT_EQ(f.lblERASE.Caption, kEraseText);
}

TEST_F(MainWindowTest, CodeZeroInSerialMenuModesUsesTheProductsTexts) {
    const std::string meridanFile =
        "Press to select a file to PROGRAM the memory in Meridan. 'Get Last Used' to load file "
        "used for last PROGRAM.";
    const std::string restartMeridan = "Exit Meridan programming mode and restart Meridan.";
    const std::string crossfieldBaud =
        "Change Crossfield baud rate used and restart the Crossfield.";
    const std::string crossfieldSetup =
        "Load Crossfield parameters with factory defaults or change starting computer number.";

    frmUI_Load();
    FrmUI& f = frmUI();

    g.cmd.ProductMode = "QRX";
    DisplayError();
    EXPECT_EQ(f.lblSCAN.Caption, restartMeridan);
    EXPECT_EQ(f.lblHEXFILE.Caption, meridanFile);
    EXPECT_EQ(f.lblERASE.Caption, kEraseText);
    EXPECT_EQ(f.lblVERIFY.Caption, kVerifyText);
    EXPECT_EQ(f.btnPROGRAM.Caption, "PROGRAM QRX");
    EXPECT_EQ(f.lblPROGRAM.Caption, "Load and send QRX firmware to all transmitters.");

    g.cmd.ProductMode = "USB";
    DisplayError();
    EXPECT_EQ(f.lblSCAN.Caption, restartMeridan);
    EXPECT_EQ(f.lblHEXFILE.Caption, meridanFile);
    EXPECT_EQ(f.btnPROGRAM.Caption, "PROGRAM USB");
    EXPECT_EQ(f.lblPROGRAM.Caption,
              "Program and verify the USB memory in Meridan from the selected hex file.");

    g.cmd.ProductMode = "MAIN";
    DisplayError();
    EXPECT_EQ(f.lblSCAN.Caption, crossfieldBaud);
    EXPECT_EQ(f.lblHEXFILE.Caption, meridanFile);
    EXPECT_EQ(f.lblERASE.Caption, "Send firmware from main board to other boards in Meridan.");
    EXPECT_EQ(f.btnERASE.Caption, "SEND MAIN");
    EXPECT_EQ(f.lblVERIFY.Caption, crossfieldSetup);
    EXPECT_EQ(f.btnPROGRAM.Caption, "PROGRAM MAIN");
    EXPECT_EQ(f.lblPROGRAM.Caption,
              "Program and verify the memory in Meridan from the selected hex file.");

    g.cmd.ProductMode = "CFX";
    f.btnPROGRAM.Caption = "PROGRAM";
    DisplayError();
    EXPECT_EQ(f.lblSCAN.Caption, crossfieldBaud);
    EXPECT_EQ(f.lblHEXFILE.Caption,
              "Press to select a file to PROGRAM the memory in Crossfield. 'Get Last Used' to load "
              "file used for last PROGRAM.");
    EXPECT_EQ(f.lblERASE.Caption,
              "Send firmware from main board to other boards in the Crossfield.");
    EXPECT_EQ(f.lblVERIFY.Caption, crossfieldSetup);
    EXPECT_EQ(f.lblPROGRAM.Caption,
              "Program and verify the memory in Crossfield from the selected hex file.");
    EXPECT_EQ(f.btnPROGRAM.Caption, "PROGRAM");  // the Crossfield keeps its own captions
}

// ---- ButtonEnabler ------------------------------------------------------------------------

TEST_F(MainWindowTest, NormalModeWithAReadyDeviceOpensEveryStep) {
    frmUI_Load();
    DisableAllButtons();
    ReadyDevice("D");
    ButtonEnabler();
    FrmUI& f = frmUI();
    EXPECT_TRUE(f.btnSCAN.Enabled);
    EXPECT_TRUE(f.cboPORT.Enabled);
    EXPECT_TRUE(f.btnCommPort.Enabled);
    EXPECT_TRUE(f.btnHEXFILE.Enabled);
    EXPECT_EQ(f.btnHEXFILE.Caption, "fw.hex");
    EXPECT_TRUE(f.btnERASE.Enabled);
    EXPECT_EQ(f.btnERASE.Caption, "ERASE");
    EXPECT_TRUE(f.btnVERIFY.Enabled);
    EXPECT_TRUE(f.btnPROGRAM.Enabled);
    EXPECT_TRUE(f.fraVERIFY.Visible);
    EXPECT_TRUE(f.btnVERIFY.Visible);
    EXPECT_EQ(f.lblERASE.Caption, kEraseText);
    EXPECT_EQ(f.lblVERIFY.Caption, kVerifyText);
}

TEST_F(MainWindowTest, NormalModeWithoutRevisionCannotEraseOrVerify) {
    frmUI_Load();
    ReadyDevice("D");
    g.dev.DevRev = "";
    ButtonEnabler();
    FrmUI& f = frmUI();
    EXPECT_FALSE(f.btnERASE.Enabled);
    EXPECT_FALSE(f.btnVERIFY.Enabled);
    EXPECT_TRUE(f.btnPROGRAM.Enabled);
}

TEST_F(MainWindowTest, NormalModeNeedsAFileAndNoErrorToProgram) {
    frmUI_Load();
    ReadyDevice("D");
    g.files.SelectedFileName = "";
    g.files.SelectedFilePath = "";
    ButtonEnabler();
    FrmUI& f = frmUI();
    EXPECT_EQ(f.btnHEXFILE.Caption, "SELECT HEX FILE");
    EXPECT_FALSE(f.btnPROGRAM.Enabled);
    EXPECT_FALSE(f.btnVERIFY.Enabled);
    EXPECT_TRUE(f.btnERASE.Enabled);

    ReadyDevice("D");
    g.result.ErrorCode = 1002;
    ButtonEnabler();
    EXPECT_FALSE(f.btnPROGRAM.Enabled);
    EXPECT_FALSE(f.btnVERIFY.Enabled);

    ReadyDevice("D");
    g.result.ErrorCode = 0;
    g.dev.DeviceFound = false;
    ButtonEnabler();
    EXPECT_FALSE(f.btnPROGRAM.Enabled);
    EXPECT_FALSE(f.btnERASE.Enabled);
}

TEST_F(MainWindowTest, MonolinkCannotBeErasedOrVerified) {
    frmUI_Load();
    ReadyDevice("K");
    ButtonEnabler();
    FrmUI& f = frmUI();
    EXPECT_FALSE(f.btnERASE.Enabled);
    EXPECT_FALSE(f.btnVERIFY.Enabled);
    EXPECT_EQ(f.btnERASE.Caption, "ERASE");
    EXPECT_EQ(f.btnVERIFY.Caption, "VERIFY");
    EXPECT_TRUE(f.fraVERIFY.Visible);
    EXPECT_TRUE(f.btnVERIFY.Visible);
    EXPECT_TRUE(f.btnPROGRAM.Enabled);
}

TEST_F(MainWindowTest, OrbitAndPrismaTurnEraseIntoConfigure) {
    for (const char* letter : {"V", "B", "T"}) {
        ResetState();
        frmUI_Load();
        ReadyDevice(letter);
        ButtonEnabler();
        FrmUI& f = frmUI();
        EXPECT_FALSE(f.fraVERIFY.Visible) << letter;
        EXPECT_FALSE(f.btnVERIFY.Visible) << letter;
        EXPECT_FALSE(f.btnVERIFY.Enabled) << letter;
        EXPECT_TRUE(f.btnERASE.Enabled) << letter;
        EXPECT_EQ(f.btnERASE.Caption, "CONFIGURE DEVICE") << letter;
        EXPECT_EQ(f.lblERASE.Caption, kConfigureText) << letter;

        g.result.ErrorCode = 1003;
        ButtonEnabler();
        EXPECT_FALSE(f.btnERASE.Enabled) << letter;
        EXPECT_FALSE(f.btnPROGRAM.Enabled) << letter;
    }
}

TEST_F(MainWindowTest, ANormalDeviceAfterAnOrbitGetsItsRowsBack) {
    frmUI_Load();
    ReadyDevice("T");
    ButtonEnabler();
    ReadyDevice("D");
    ButtonEnabler();
    FrmUI& f = frmUI();
    EXPECT_TRUE(f.fraVERIFY.Visible);
    EXPECT_TRUE(f.btnVERIFY.Visible);
    EXPECT_TRUE(f.fraERASE.Visible);
    EXPECT_TRUE(f.btnERASE.Visible);
    EXPECT_EQ(f.btnERASE.Caption, "ERASE");
    EXPECT_EQ(f.lblERASE.Caption, kEraseText);
}

TEST_F(MainWindowTest, LastUsedIsOfferedOnlyForAnotherFile) {
    frmUI_Load();
    FrmUI& f = frmUI();
    ReadyDevice("D");

    g.files.LastUsedPath = "/hex/old.hex";
    ButtonEnabler();
    EXPECT_TRUE(f.btnLASTUSED.Enabled);

    g.files.LastUsedPath = "/hex/fw.hex";  // the file already chosen
    ButtonEnabler();
    EXPECT_FALSE(f.btnLASTUSED.Enabled);

    g.files.LastUsedPath = "";
    f.btnLASTUSED.Enabled = true;
    ButtonEnabler();
    EXPECT_FALSE(f.btnLASTUSED.Enabled);

    // Without a device the button keeps whatever state it had.
    g.files.LastUsedPath = "/hex/old.hex";
    g.dev.DeviceFound = false;
    f.btnLASTUSED.Enabled = false;
    ButtonEnabler();
    EXPECT_FALSE(f.btnLASTUSED.Enabled);
    f.btnLASTUSED.Enabled = true;
    ButtonEnabler();
    EXPECT_TRUE(f.btnLASTUSED.Enabled);
}

TEST_F(MainWindowTest, ErrorCode1101LeavesTheModeButtonsAlone) {
    frmUI_Load();
    DisableAllButtons();
    ReadyDevice("D");
    g.result.ErrorCode = 1101;
    ButtonEnabler();
    FrmUI& f = frmUI();
    EXPECT_TRUE(f.btnSCAN.Enabled);
    EXPECT_FALSE(f.cboPORT.Enabled);
    EXPECT_FALSE(f.btnCommPort.Enabled);
    EXPECT_FALSE(f.btnHEXFILE.Enabled);
    EXPECT_FALSE(f.btnERASE.Enabled);
    EXPECT_FALSE(f.btnPROGRAM.Enabled);

    // The SEND MAIN rule of the Meridan modes still applies.
    g.cmd.ProductMode = "QRX";
    ButtonEnabler();
    EXPECT_TRUE(f.btnERASE.Enabled);
    EXPECT_FALSE(f.btnHEXFILE.Enabled);
    EXPECT_FALSE(f.optMAIN.Enabled);
}

TEST_F(MainWindowTest, ButtonEnablerTracesTheResultingState) {
    frmUI_Load();
    ReadyDevice("D");
    g.files.LastUsedPath = "/hex/old.hex";
    StartTrace();
    ButtonEnabler();
    const std::vector<std::string> expected = {
        "        ButtonEnabler()",
        "        --    frmUI.btnSCAN.Enabled = True",
        "        --    frmUI.btnHEXFILE.Enabled = True",
        "        --    frmUI.btnHEXFILE.Caption = fw.hex",
        "        --    frmUI.btnLASTUSED.Enabled = True",
        "        --    frmUI.btnERASE.Enabled = True",
        "        --    frmUI.btnVERIFY.Enabled = True",
        "        --    frmUI.btnPROGRAM.Enabled = True",
    };
    EXPECT_EQ(TraceLines(), expected);
    EXPECT_EQ(g.trace.TraceIndent, "");
}

TEST_F(MainWindowTest, MeridanMainWithoutOtherBoards) {
    frmUI_Load();
    DisableAllButtons();
    g.cmd.ProductMode = "MAIN";
    ReadyDevice("X");
    ButtonEnabler();
    FrmUI& f = frmUI();
    EXPECT_EQ(f.btnERASE.Caption, "SEND MAIN");
    EXPECT_FALSE(f.btnERASE.Enabled);  // SEND MAIN not allowed
    EXPECT_TRUE(f.optMAIN.Enabled);
    EXPECT_FALSE(f.optUSB.Enabled);
    EXPECT_FALSE(f.optQRX.Enabled);
    EXPECT_FALSE(f.btnShowDiagnostic.Enabled);  // untouched
    EXPECT_EQ(f.btnPROGRAM.Caption, "PROGRAM");
    EXPECT_TRUE(f.btnVERIFY.Enabled);
    EXPECT_TRUE(f.btnHEXFILE.Enabled);
    EXPECT_EQ(f.btnHEXFILE.Caption, "fw.hex");
    EXPECT_TRUE(f.btnPROGRAM.Enabled);
    EXPECT_EQ(f.Focused, &f.optMAIN);

    g.meridan.SendMainAllowed = true;
    ButtonEnabler();
    EXPECT_TRUE(f.btnERASE.Enabled);
}

TEST_F(MainWindowTest, MeridanMainWithUsbAndQrxBoards) {
    frmUI_Load();
    DisableAllButtons();
    g.cmd.ProductMode = "MAIN";
    ReadyDevice("X");
    g.meridan.UsbCount = 2;
    g.meridan.UsbPresent = true;
    ButtonEnabler();
    FrmUI& f = frmUI();
    EXPECT_TRUE(f.optUSB.Enabled);
    EXPECT_FALSE(f.optQRX.Enabled);
    EXPECT_TRUE(f.btnShowDiagnostic.Enabled);
    EXPECT_EQ(f.btnPROGRAM.Caption, "PROGRAM MAIN");
    EXPECT_EQ(f.Focused, &f.optMAIN);

    g.meridan.QrxCount = 3;
    g.meridan.QrxPresent = true;
    g.meridan.UsbCount = 0;
    g.meridan.UsbPresent = false;
    ButtonEnabler();
    EXPECT_FALSE(f.optUSB.Enabled);
    EXPECT_TRUE(f.optQRX.Enabled);
}

TEST_F(MainWindowTest, MeridanMainLooksUpItsLastUsedFile) {
    frmUI_Load();
    g.cmd.ProductMode = "MAIN";
    ReadyDevice("X");

    // No settings file: a stale last-used file is forgotten.
    g.files.LastUsedName = "stale.hex";
    g.files.LastUsedPath = "/hex/stale.hex";
    ButtonEnabler();
    EXPECT_EQ(g.files.LastUsedPath, "");
    EXPECT_FALSE(frmUI().btnLASTUSED.Enabled);

    const std::string last = Folder() + "/main_last.hex";
    std::ofstream(last) << ":00000001FF\n";
    WriteIni({"D /somewhere/else.hex", "X " + last});
    ButtonEnabler();
    EXPECT_EQ(g.files.LastUsedPath, last);
    EXPECT_EQ(g.files.LastUsedName, "main_last.hex");
    EXPECT_TRUE(frmUI().btnLASTUSED.Enabled);
}

TEST_F(MainWindowTest, MeridanUsbAndQrxFollowTheirOwnFiles) {
    for (const char* mode : {"USB", "QRX"}) {
        SCOPED_TRACE(mode);
        ResetState();
        frmUI_Load();
        DisableAllButtons();
        g.cmd.ProductMode = mode;
        g.dev.DevLetter = "S";
        g.dev.DeviceFound = true;
        ReadyDevice("S");  // the normal slot holds a file: it must not count here
        ButtonEnabler();
        FrmUI& f = frmUI();
        EXPECT_EQ(f.btnHEXFILE.Caption, "SELECT FILE");
        EXPECT_FALSE(f.btnPROGRAM.Enabled);
        EXPECT_TRUE(f.btnVERIFY.Enabled);
        EXPECT_TRUE(f.btnHEXFILE.Enabled);
        EXPECT_TRUE(f.btnShowDiagnostic.Enabled);
        EXPECT_TRUE(f.optMAIN.Enabled);
        EXPECT_TRUE(f.optUSB.Enabled);
        EXPECT_FALSE(f.optQRX.Enabled);
        EXPECT_FALSE(f.btnLASTUSED.Enabled);
        // ERASE is open in QRX mode only.
        EXPECT_EQ(f.btnERASE.Enabled, std::string(mode) == "QRX");

        std::string& name = std::string(mode) == "USB" ? g.files.UsbFileName : g.files.QrxFileName;
        std::string& path = std::string(mode) == "USB" ? g.files.UsbFilePath : g.files.QrxFilePath;
        std::string& lastUsed =
            std::string(mode) == "USB" ? g.files.UsbLastUsedPath : g.files.QrxLastUsedPath;
        name = "board.hex";
        path = "/hex/board.hex";
        lastUsed = "/hex/older.hex";
        g.meridan.QrxPresent = true;
        ButtonEnabler();
        EXPECT_EQ(f.btnHEXFILE.Caption, "board.hex");
        EXPECT_TRUE(f.btnPROGRAM.Enabled);
        EXPECT_TRUE(f.btnLASTUSED.Enabled);
        EXPECT_TRUE(f.optQRX.Enabled);

        lastUsed = path;
        ButtonEnabler();
        EXPECT_FALSE(f.btnLASTUSED.Enabled);
    }
}

TEST_F(MainWindowTest, EmptyModeFileWithAnErrorKeepsTheFileButtonCaption) {
    frmUI_Load();
    g.cmd.ProductMode = "USB";
    frmUI().btnHEXFILE.Caption = "usb.hex";
    g.result.ErrorCode = 1607;
    ButtonEnabler();
    EXPECT_EQ(frmUI().btnHEXFILE.Caption, "usb.hex");
    EXPECT_FALSE(frmUI().btnPROGRAM.Enabled);
}

TEST_F(MainWindowTest, CrossfieldOpensItsCopyAndSetupButtons) {
    frmUI_Load();
    DisableAllButtons();
    g.cmd.ProductMode = "CFX";
    g.dev.DevLetter = "U";
    g.dev.DeviceFound = true;
    g.files.CfxFileName = "cfx.hex";
    g.files.CfxFilePath = "/hex/cfx.hex";
    ButtonEnabler();
    FrmUI& f = frmUI();
    for (CommandButton* b :
         {&f.btnERASE, &f.btnMainCpy, &f.btnKernelCpy, &f.btnDefaults, &f.btnStartCpu, &f.btnVERIFY,
          &f.btnHEXFILE, &f.btnShowDiagnostic, &f.btnPROGRAM}) {
        EXPECT_TRUE(b->Enabled) << b->Name;
    }
    EXPECT_EQ(f.btnHEXFILE.Caption, "cfx.hex");
    EXPECT_FALSE(f.optMAIN.Enabled);

    // The Crossfield's last-used file comes from the settings file.
    const std::string last = Folder() + "/cfx_last.hex";
    std::ofstream(last) << ":00000001FF\n";
    WriteIni({"U " + last});
    ButtonEnabler();
    EXPECT_EQ(g.files.CfxLastUsedPath, last);
    EXPECT_TRUE(f.btnLASTUSED.Enabled);
}

// ---- DisableAllButtons and DefaultUI ------------------------------------------------------

TEST_F(MainWindowTest, DisableAllButtonsLocksEveryCommand) {
    frmUI_Load();
    FrmUI& f = frmUI();
    std::vector<Control*> commands = {
        &f.btnShowDiagnostic, &f.btnSCAN,     &f.btnHEXFILE,  &f.btnLASTUSED,
        &f.btnERASE,          &f.btnVERIFY,   &f.btnPROGRAM,  &f.btnMainCpy,
        &f.btnKernelCpy,      &f.btnDefaults, &f.btnStartCpu, &f.cboPORT,
        &f.btnCommPort,       &f.optMAIN,     &f.optUSB,      &f.optQRX};
    for (Control* c : commands)
        c->Enabled = true;
    for (Label* label : {&f.lblSCAN, &f.lblHEXFILE, &f.lblERASE, &f.lblVERIFY}) {
        label->BackColor = colour::kRed;
    }
    f.lblPROGRAM.BackColor = colour::kLightYellow;
    f.lblPROGRAM.ForeColor = colour::kBlack;
    StartTrace();
    DisableAllButtons();
    for (Control* c : commands)
        EXPECT_FALSE(c->Enabled) << c->Name;
    for (Label* label : {&f.lblSCAN, &f.lblHEXFILE, &f.lblERASE, &f.lblVERIFY, &f.lblPROGRAM}) {
        EXPECT_EQ(label->BackColor, colour::kNavy) << label->Name;
    }
    EXPECT_EQ(f.lblPROGRAM.ForeColor, colour::kWhite);
    EXPECT_TRUE(f.btnTitleBar.Enabled);  // help stays available
    EXPECT_EQ(TraceLines(), std::vector<std::string>{"        DisableAllButtons()"});
}

TEST_F(MainWindowTest, DefaultUIRestoresTheNormalButtons) {
    frmUI_Load();
    FrmUI& f = frmUI();
    // A serial-menu view had changed everything.
    for (Control* c : f.Controls()) {
        c->Visible = !c->Visible;
        c->Enabled = !c->Enabled;
        c->Top += 7;
        c->Caption = "x";
        c->Font.Bold = false;
    }
    StartTrace();
    DefaultUI();
    EXPECT_TRUE(f.btnSCAN.Visible);
    EXPECT_TRUE(f.btnSCAN.Enabled);
    EXPECT_EQ(f.btnSCAN.Caption, "SCAN");
    EXPECT_TRUE(f.btnSCAN.Font.Bold);
    ExpectAt(f.btnSCAN, 240, 1240, 2655, 375);
    EXPECT_TRUE(f.btnCommPort.Visible);
    EXPECT_TRUE(f.cboPORT.Visible);
    for (Control* c : {static_cast<Control*>(&f.optMAIN), static_cast<Control*>(&f.optUSB),
                       static_cast<Control*>(&f.optQRX), static_cast<Control*>(&f.btnKernelCpy),
                       static_cast<Control*>(&f.btnMainCpy), static_cast<Control*>(&f.btnDefaults),
                       static_cast<Control*>(&f.btnStartCpu)}) {
        EXPECT_FALSE(c->Visible) << c->Name;
    }
    EXPECT_TRUE(f.btnHEXFILE.Enabled);
    EXPECT_TRUE(f.btnHEXFILE.Visible);
    EXPECT_EQ(f.btnHEXFILE.Caption, "SELECT HEX FILE");
    EXPECT_TRUE(f.btnHEXFILE.Font.Bold);
    ExpectAt(f.btnHEXFILE, 240, 2340, 2055, 615);
    EXPECT_FALSE(f.btnLASTUSED.Enabled);
    EXPECT_TRUE(f.btnLASTUSED.Visible);
    ExpectAt(f.btnLASTUSED, 2160, 240, 650, 615);
    EXPECT_EQ(f.fraHEXFILE.Height, 975);
    EXPECT_TRUE(f.btnERASE.Visible);
    EXPECT_EQ(f.btnERASE.Top, 3320);
    EXPECT_EQ(f.btnERASE.Height, 495);
    EXPECT_EQ(f.btnERASE.Caption, "ERASE");
    EXPECT_TRUE(f.btnERASE.Font.Bold);
    EXPECT_TRUE(f.btnVERIFY.Visible);
    EXPECT_EQ(f.btnVERIFY.Top, 4150);
    EXPECT_EQ(f.btnVERIFY.Height, 495);
    EXPECT_EQ(f.btnVERIFY.Caption, "VERIFY");
    EXPECT_TRUE(f.btnVERIFY.Font.Bold);
    EXPECT_TRUE(f.btnPROGRAM.Visible);
    EXPECT_EQ(f.btnPROGRAM.Top, 5010);
    EXPECT_EQ(f.btnPROGRAM.Caption, "PROGRAM");
    EXPECT_TRUE(f.btnPROGRAM.Font.Bold);
    EXPECT_EQ(TraceLines(), std::vector<std::string>{"        DefaultUI()"});
}

TEST_F(MainWindowTest, HideMenuControlsHidesTheSerialMenuViews) {
    frmUI_Load();
    FrmUI& f = frmUI();
    std::vector<Control*> menu = {&f.txtXBOOT,     &f.txtSwtDetected, &f.txtInfo,
                                  &f.txtNote,      &f.btnCANCEL,      &f.optBaud9600,
                                  &f.optBaud57600, &f.btnRestartCFX,  &f.pixSelectBaud};
    for (Control* c : menu)
        c->Visible = true;
    f.txtSerialDisplay.Visible = true;
    HideMenuControls();
    for (Control* c : menu)
        EXPECT_FALSE(c->Visible) << c->Name;
    EXPECT_TRUE(f.txtSerialDisplay.Visible);  // the console has its own exit
}

TEST_F(MainWindowTest, StatusPanelSettersWritePanelsTwoToFive) {
    frmUI_Load();
    SetStatusPanel2("Orbit Mini");
    SetStatusPanel3("1.04");
    SetStatusPanel4("B2");
    SetStatusPanel5("COM3");
    const auto& panels = frmUI().StatusBar1.Panels;
    ASSERT_EQ(panels.size(), 5u);
    EXPECT_EQ(panels[0].Text, "");
    EXPECT_EQ(panels[1].Text, "Orbit Mini");
    EXPECT_EQ(panels[2].Text, "1.04");
    EXPECT_EQ(panels[3].Text, "B2");
    EXPECT_EQ(panels[4].Text, "COM3");
}

TEST_F(MainWindowTest, StatusPanelSettersAreSafeBeforeTheWindowLoads) {
    SetStatusPanel5("COM1");
    ASSERT_GE(frmUI().StatusBar1.Panels.size(), 5u);
    EXPECT_EQ(frmUI().StatusBar1.Panels[4].Text, "COM1");
}

// ---- the loaded window ----------------------------------------------------------------------

struct Box {
    int left, top, width, height;
};

void ExpectBox(const Control& c, Box box) {
    EXPECT_EQ(c.Left, box.left) << c.Name;
    EXPECT_EQ(c.Top, box.top) << c.Name;
    EXPECT_EQ(c.Width, box.width) << c.Name;
    EXPECT_EQ(c.Height, box.height) << c.Name;
}

TEST_F(MainWindowTest, LoadLaysTheWindowOut) {
    StartTrace();
    frmUI_Load();
    FrmUI& f = frmUI();
    EXPECT_EQ(f.Caption, "RomPush Utility  1.8G");

    ExpectBox(f.picLogo, {0, 5, 6480, 1050});
    EXPECT_TRUE(f.picLogo.Visible);
    ExpectBox(f.fraSCAN, {90, 1000, 6255, 1095});
    ExpectBox(f.fraHEXFILE, {90, 2100, 6255, 975});
    ExpectBox(f.fraERASE, {90, 3070, 6250, 855});
    ExpectBox(f.fraVERIFY, {90, 3910, 6255, 855});
    ExpectBox(f.fraPROGRAM, {90, 4770, 6255, 855});
    for (Frame* frame : {&f.fraSCAN, &f.fraHEXFILE, &f.fraERASE, &f.fraVERIFY, &f.fraPROGRAM}) {
        EXPECT_TRUE(frame->Visible) << frame->Name;
        EXPECT_EQ(frame->BackColor, colour::kNavy) << frame->Name;
    }
    EXPECT_EQ(f.fraPROGRAM.ForeColor, colour::kWhite);

    ExpectBox(f.lblSCAN, {2880, 180, 3240, 800});
    ExpectBox(f.lblHEXFILE, {2880, 180, 3240, 650});
    ExpectBox(f.lblERASE, {2880, 240, 3240, 435});
    ExpectBox(f.lblVERIFY, {2880, 240, 3240, 435});
    ExpectBox(f.lblPROGRAM, {2880, 240, 3240, 435});
    for (Label* label : {&f.lblSCAN, &f.lblHEXFILE, &f.lblERASE, &f.lblVERIFY, &f.lblPROGRAM}) {
        EXPECT_TRUE(label->Visible) << label->Name;
        EXPECT_EQ(label->ForeColor, colour::kWhite) << label->Name;
        EXPECT_EQ(label->BackColor, colour::kNavy) << label->Name;
    }
    EXPECT_EQ(f.lblSCAN.Caption, kFalseScanText);
    // The highlight lines are off once the descriptions are shown.
    EXPECT_FALSE(f.linSCAN.Visible);
    EXPECT_FALSE(f.linHEXFILE.Visible);
    EXPECT_FALSE(f.linPROGRAM.Visible);

    ExpectBox(f.btnSCAN, {240, 1240, 2655, 375});
    ExpectBox(f.btnCommPort, {720, 660, 1215, 330});
    EXPECT_EQ(f.cboPORT.Left, 1920);
    EXPECT_EQ(f.cboPORT.Top, 645);
    EXPECT_EQ(f.cboPORT.Width, 800);
    ExpectBox(f.btnHEXFILE, {240, 2340, 2055, 615});
    ExpectBox(f.btnLASTUSED, {2160, 240, 650, 615});
    ExpectBox(f.btnERASE, {240, 3320, 2655, 495});
    ExpectBox(f.btnVERIFY, {240, 4150, 2655, 495});
    ExpectBox(f.btnPROGRAM, {240, 5010, 2655, 495});
    for (CommandButton* b : {&f.btnSCAN, &f.btnHEXFILE, &f.btnERASE, &f.btnVERIFY, &f.btnPROGRAM}) {
        EXPECT_TRUE(b->Visible) << b->Name;
        EXPECT_TRUE(b->Font.Bold) << b->Name;
    }
    EXPECT_TRUE(f.btnSCAN.Enabled);
    EXPECT_TRUE(f.btnHEXFILE.Enabled);
    EXPECT_FALSE(f.btnLASTUSED.Enabled);
    EXPECT_FALSE(f.btnERASE.Enabled);
    EXPECT_FALSE(f.btnVERIFY.Enabled);
    EXPECT_FALSE(f.btnPROGRAM.Enabled);
    EXPECT_TRUE(f.btnCommPort.Visible);
    EXPECT_TRUE(f.cboPORT.Visible);

    // Serial-menu controls, options, copy buttons and the other pictures are hidden.
    for (Control* c : {static_cast<Control*>(&f.txtSerialDisplay),
                       static_cast<Control*>(&f.txtInfo),
                       static_cast<Control*>(&f.txtNote),
                       static_cast<Control*>(&f.txtSwtDetected),
                       static_cast<Control*>(&f.txtXBOOT),
                       static_cast<Control*>(&f.btnRestartCFX),
                       static_cast<Control*>(&f.optBaud9600),
                       static_cast<Control*>(&f.optBaud57600),
                       static_cast<Control*>(&f.pixSelectBaud),
                       static_cast<Control*>(&f.btnCANCEL),
                       static_cast<Control*>(&f.btnShowDiagnostic),
                       static_cast<Control*>(&f.btnSaveSerialDisplay),
                       static_cast<Control*>(&f.btnShowHelp),
                       static_cast<Control*>(&f.optMAIN),
                       static_cast<Control*>(&f.optUSB),
                       static_cast<Control*>(&f.optQRX),
                       static_cast<Control*>(&f.btnMainCpy),
                       static_cast<Control*>(&f.btnKernelCpy),
                       static_cast<Control*>(&f.btnDefaults),
                       static_cast<Control*>(&f.btnStartCpu),
                       static_cast<Control*>(&f.picTarnLogo),
                       static_cast<Control*>(&f.picQuillLogo),
                       static_cast<Control*>(&f.picTarnICO),
                       static_cast<Control*>(&f.picQuillICO),
                       static_cast<Control*>(&f.cmdTitleBarButton)}) {
        EXPECT_FALSE(c->Visible) << c->Name;
    }

    // The "Help|About" button at the right end of the logo strip.
    EXPECT_TRUE(f.btnTitleBar.Visible);
    EXPECT_EQ(f.btnTitleBar.Caption, "Help|About");
    EXPECT_EQ(f.btnTitleBar.Left + f.btnTitleBar.Width, FrmUI::kClientWidth - 60);
    EXPECT_LT(f.btnTitleBar.Top + f.btnTitleBar.Height, f.fraSCAN.Top);

    const int trace = static_cast<int>(TraceLines().size());
    ASSERT_GT(trace, 0);
    EXPECT_EQ(TraceLines()[0], "        Form_Load()");
    EXPECT_EQ(g.trace.TraceIndent, "");
}

TEST_F(MainWindowTest, LoadSetsUpTheStatusBarBannerAndProgressBar) {
    frmUI_Load();
    frmUI_Load();  // a second load must not add panels again
    FrmUI& f = frmUI();
    ExpectBox(f.StatusBar1, {0, FrmUI::kClientHeight - FrmUI::kStatusBarHeight, FrmUI::kClientWidth,
                             FrmUI::kStatusBarHeight});
    EXPECT_TRUE(f.StatusBar1.Visible);
    const auto& panels = f.StatusBar1.Panels;
    ASSERT_EQ(panels.size(), 5u);
    EXPECT_EQ(panels[0].Alignment, StatusPanel::Align::Left);
    EXPECT_EQ(panels[1].Alignment, StatusPanel::Align::Left);
    EXPECT_EQ(panels[1].Width, 1500);
    EXPECT_EQ(panels[2].Alignment, StatusPanel::Align::Centre);
    EXPECT_EQ(panels[2].Width, 900);
    EXPECT_EQ(panels[3].Alignment, StatusPanel::Align::Centre);
    EXPECT_EQ(panels[3].Width, 900);
    EXPECT_EQ(panels[4].Alignment, StatusPanel::Align::Centre);
    EXPECT_EQ(panels[4].Width, 650);
    for (const auto& panel : panels)
        EXPECT_TRUE(panel.Inset);

    EXPECT_EQ(f.frmPASS.Container, &f.StatusBar1);
    ExpectBox(f.frmPASS, {30, 30, 2350, 270});
    ExpectBox(f.lblPASS, {60, 40, 2100, 200});
    EXPECT_TRUE(f.frmPASS.Visible);
    EXPECT_TRUE(f.lblPASS.Visible);
    EXPECT_EQ(f.frmPASS.BackColor, colour::kButtonFace);
    EXPECT_EQ(f.lblPASS.Caption, "");

    const ProgressBar& bar = f.ProgressBar1;
    EXPECT_EQ(bar.Container, &f.StatusBar1);
    EXPECT_EQ(bar.BarColor, 0x00CD00CDu);
    EXPECT_EQ(bar.Min, 0);
    EXPECT_EQ(bar.Max, 10000);
    EXPECT_EQ(bar.Value, 0);
    EXPECT_FALSE(bar.Visible);
    // Over panels 3 and 4, inside the status bar and clear of the banner.
    const int panel3Left = FrmUI::kClientWidth - 650 - 900 - 900;
    EXPECT_GE(bar.Left, panel3Left);
    EXPECT_LE(bar.Left + bar.Width, panel3Left + 1800);
    EXPECT_GT(bar.Left, f.frmPASS.Left + f.frmPASS.Width);
    EXPECT_GT(bar.Width, 1500);
    EXPECT_GT(bar.Top, 0);
    EXPECT_LE(bar.Top + bar.Height, FrmUI::kStatusBarHeight);
}

}  // namespace
}  // namespace rompush
