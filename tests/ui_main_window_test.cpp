// The main window's rules: the banner, the error display, which buttons are usable in each
// product mode, the normal look and the lock-out.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "core/state.h"
#include "program_fixture.h"
#include "ui/main_window.h"

namespace rompush {
namespace {

using namespace ui;

const std::string kVerifyText =
    "Check that the application firmware in the Tarn product and the hex file are the same.";
const std::string kEraseText = "Delete the application firmware in the Tarn product's memory.";
const std::string kConfigureText =
    "View and modify the configuration settings of the attached device";

// Everything the operator can see of a control.
struct Look {
    std::string caption;
    bool enabled, visible, bold;
    int left, top, width, height;
    Colour fore, back;
    bool operator==(const Look&) const = default;
};

Look LookOf(const Control& c) {
    return {c.Caption, c.Enabled, c.Visible, c.Font.Bold, c.Left,
            c.Top,     c.Width,   c.Height,  c.ForeColor, c.BackColor};
}

std::vector<Look> WindowLook() {
    std::vector<Look> look;
    for (Control* c : frmUI().Controls())
        look.push_back(LookOf(*c));
    return look;
}

// Which of ERASE, VERIFY, HEX FILE, PROGRAM, Get Last Used, the MAIN, USB and QRX options
// and the diagnostics button are enabled, as a string of 1 and 0.
std::string EnabledButtons() {
    FrmUI& f = frmUI();
    std::string enabled;
    for (Control* c : std::vector<Control*>{&f.btnERASE, &f.btnVERIFY, &f.btnHEXFILE, &f.btnPROGRAM,
                                            &f.btnLASTUSED, &f.optMAIN, &f.optUSB, &f.optQRX,
                                            &f.btnShowDiagnostic}) {
        enabled += c->Enabled ? '1' : '0';
    }
    return enabled;
}

class MainWindowTest : public testing::ProgramTest {
  protected:
    MainWindowTest() { frmUI_Load(); }
    // A fresh window showing the code.
    FrmUI& Show(int code, bool afterProgram = false) {
        ResetState();
        frmUI_Load();
        g.hex.CurLine = ":10000000ABCDEF";
        g.result.ProgramVerifyOk = afterProgram;
        g.result.ErrorCode = static_cast<std::int16_t>(code);
        DisplayError();
        return frmUI();
    }
    // A device that answered and a chosen file: the state after a good SCAN and HEXFILE.
    void ReadyDevice(const std::string& letter) {
        g.dev.DevLetter = letter;
        g.dev.DevRev = "1.04";
        g.dev.DeviceFound = true;
        g.files.SelectedFileName = "fw.hex";
        g.files.SelectedFilePath = "/hex/fw.hex";
    }
    void WriteIni(const std::vector<std::string>& entries) {
        std::ofstream ini(PathIn("RomPush.INI"), std::ios::binary);
        ini << "ROMPUSH_INI_001\r\n25\r\nCom1\r\n 1 \r\n 0 \r\n 2 \r\n 6 \r\n 2 \r\n";
        for (const auto& entry : entries)
            ini << entry << "\r\n";
    }
    // A file that CheckINI accepts, named in the settings file for the letter.
    std::string RememberFile(const std::string& letter, const std::string& name) {
        const std::string path = PathIn(name);
        WriteFile(path, ":00000001FF\n");
        WriteIni({"D /somewhere/else.hex", letter + " " + path});
        return path;
    }
};

TEST_F(MainWindowTest, ShowMsgAndDisplayErrorColourTheBannerAndTraceIt) {
    StartTrace();
    ShowMsg("HEX FILE OK", colour::kGreen);
    EXPECT_EQ(frmUI().lblPASS.Caption, "HEX FILE OK");
    EXPECT_EQ(frmUI().frmPASS.BackColor, colour::kGreen);
    ShowMsg("", colour::kButtonFace);
    EXPECT_EQ(frmUI().frmPASS.BackColor, colour::kButtonFace);
    g.result.ErrorCode = 1003;
    DisplayError();
    EXPECT_EQ(frmUI().lblPASS.Caption, "ERROR CODE: 1003");
    EXPECT_EQ(frmUI().frmPASS.BackColor, colour::kRed);
    EXPECT_EQ(TraceLines(),
              (std::vector<std::string>{"        ShowMsg( HEX FILE OK )", "        ShowMsg(  )",
                                        "        DisplayError()",
                                        "                ShowMsg( ERROR CODE:1003 )"}));
    EXPECT_EQ(g.trace.TraceIndent, "");
    // The status panels exist before the window loads; a second load adds none.
    ResetState();
    SetStatusPanel5("COM1");
    EXPECT_EQ(frmUI().StatusBar1.Panels.at(4).Text, "COM1");
    frmUI_Load();
    frmUI_Load();
    EXPECT_EQ(frmUI().StatusBar1.Panels.size(), 5u);
}

// ---- the error table -------------------------------------------------------------------

enum class Row { Scan, HexFile, Erase, Verify, Program };

Label& LabelOf(Row row) {
    FrmUI& f = frmUI();
    Label* labels[] = {&f.lblSCAN, &f.lblHEXFILE, &f.lblERASE, &f.lblVERIFY, &f.lblPROGRAM};
    return *labels[static_cast<int>(row)];
}

struct ErrorCase {
    std::vector<int> codes;
    bool afterProgram;
    Row row;
    bool highlight;
    std::string text;
};

TEST_F(MainWindowTest, EveryErrorCodeShowsItsTextOnItsRow) {
    const std::string excerpt = "\r\r:10000000A";  // the first 10 characters of the line
    const std::string command = "A command response error occurred.  \r\r";
    const std::string timeout = "A response timeout error occurred.  \r\r";
    const std::string notResponding = "Target hardware not responding.";
    const std::string nonFlashable =
        "\r\nNon-flashable device that cannot\r\nbe erased or programmed.\r\n";
    const std::vector<ErrorCase> cases = {
        {{1001},
         false,
         Row::HexFile,
         false,
         "An error has occured while trying to open the selected file.  Check that the file is "
         "not being read or edited by another program."},
        {{1002},
         false,
         Row::HexFile,
         false,
         "This hex file is for: \rTARN product is : \rCannot program with this file."},
        {{1003}, false, Row::HexFile, true, "Check sum error occurred.  " + excerpt},
        {{1004, 1005, 1006},
         false,
         Row::HexFile,
         true,
         "EOF character missing in selected file.  " + excerpt},
        {{1007, 1008, 1009},
         false,
         Row::HexFile,
         true,
         "Header character missing in selected file.  " + excerpt},
        {{1202, 1605}, false, Row::Program, false, "Programming file cannot be opened."},
        {{1301, 1401}, true, Row::Program, false, "A CRC error occured after programming."},
        {{1301, 1401},
         false,
         Row::Verify,
         false,
         "A CRC error has occured.  Check that the correct file has been selected and retest."},
        {{1302, 1402}, true, Row::Program, true, timeout},
        {{1302, 1402}, false, Row::Verify, false, timeout},
        {{1501}, false, Row::Scan, true, "An error has occured obtaining device ID.\r\r"},
        {{1602}, false, Row::Verify, false, notResponding},
        {{1603}, false, Row::Program, false, "USB serial not found or not supported."},
        {{1604}, false, Row::Program, false, notResponding},
        {{1607}, false, Row::Program, false, "USB programming file not received."},
        {{1608}, false, Row::Program, false, "QRX programming file not received."},
        {{3003, 3004, 4003, 4004, 4005}, false, Row::Program, true, command},
        {{3005, 4006}, false, Row::Program, true, timeout},
        {{5001}, false, Row::Erase, false, "Incomplete configuration data received from device."},
        {{6001}, false, Row::Scan, false, nonFlashable},
        {{8001}, false, Row::Program, false, "CRC check failed."},
        {{8002}, false, Row::Program, false, "ACK to last command not received."},
    };
    for (const ErrorCase& c : cases) {
        for (int code : c.codes) {
            SCOPED_TRACE("code " + std::to_string(code) + (c.afterProgram ? " after PROGRAM" : ""));
            FrmUI& f = Show(code, c.afterProgram);
            EXPECT_EQ(ErrorText(code), c.text);
            EXPECT_EQ(f.lblPASS.Caption, "ERROR CODE: " + std::to_string(code));
            const Label& label = LabelOf(c.row);
            EXPECT_EQ(label.Caption, c.text);
            EXPECT_EQ(label.Top, 180);
            EXPECT_EQ(label.Height, code == 6001 ? 830 : 650);  // three lines need more room
            EXPECT_EQ(label.BackColor, colour::kRed);
            EXPECT_EQ(label.ForeColor, colour::kWhite);
            // Only the row's own line lights up, across the description.
            for (auto [row, line] :
                 {std::pair{Row::Scan, &f.linSCAN}, std::pair{Row::HexFile, &f.linHEXFILE},
                  std::pair{Row::Program, &f.linPROGRAM}}) {
                const bool lit = c.highlight && row == c.row;
                EXPECT_EQ(line->Visible, lit) << line->Name;
                if (lit) {
                    EXPECT_EQ(std::vector({line->X1, line->X2, line->Y1, line->Y2}),
                              std::vector({2880, 5520, 480, 480}));
                }
            }
            for (Row other : {Row::Scan, Row::HexFile, Row::Erase, Row::Verify, Row::Program}) {
                EXPECT_EQ(LabelOf(other).BackColor, other == c.row ? colour::kRed : colour::kNavy);
            }
            // A verify failure moves the other verify row up too.
            if (code / 100 == 13 || code / 100 == 14) {
                EXPECT_EQ(LabelOf(code % 100 == 1 ? Row::Verify : Row::Program).Top, 180);
            }
        }
    }
}

TEST_F(MainWindowTest, ColourOnlyRowsKeepTheirDescriptions) {
    for (int code : {1201, 1601, 1606}) {
        ResetState();
        frmUI_Load();
        Label& label = code == 1606 ? frmUI().lblPROGRAM : frmUI().lblERASE;
        const Look before = LookOf(label);
        g.result.ErrorCode = static_cast<std::int16_t>(code);
        DisplayError();
        EXPECT_EQ(ErrorText(code), "");
        // The ERASE rows take the error size; 1606 only colours PROGRAM.
        Look expected = before;
        expected.back = colour::kRed;
        if (code != 1606) {
            expected.top = 180;
            expected.height = 650;
        }
        EXPECT_TRUE(LookOf(label) == expected) << code;
        EXPECT_FALSE(frmUI().linPROGRAM.Visible);
        EXPECT_EQ(frmUI().lblPASS.Caption, "ERROR CODE: " + std::to_string(code));
    }
}

TEST_F(MainWindowTest, AnswerBytesAndLineExcerptsInTheTexts) {
    g.link.RcvArray = {3, 7, 0x41, 0, 0x99};  // the byte beyond the count is not shown
    EXPECT_EQ(ErrorText(4003), "A command response error occurred.  \r\r 07 41 00");
    // A garbled count stops at the buffer's end.
    g.link.RcvArray.fill(0x5A);
    g.link.RcvArray[0] = 200;
    std::string bytes;
    for (int i = 0; i < 50; ++i)
        bytes += " 5A";
    EXPECT_EQ(ErrorText(3005), "A response timeout error occurred.  \r\r" + bytes);
    // A short line is shown whole.
    g.hex.CurLine = ":0000";
    EXPECT_EQ(ErrorText(1003), "Check sum error occurred.  \r\r:0000");
    g.hex.CurLine = "";
    EXPECT_EQ(ErrorText(1007), "Header character missing in selected file.  \r\r");
}

TEST_F(MainWindowTest, MismatchNamesTheFileAndTheDevice) {
    // file letter, DevIdName, the file's product, the device's product
    const std::vector<std::vector<std::string>> cases = {
        {"M", "VLNMINI", "TWPx  Tx (Master)", "TWPx  Transmitter"},
        {"L", "TWPx  Tx (Master)", "TWPx  Tx (Slave)", "TWPx  Tx (Master)"},
        {"H", "QTRUSB", "TWPx  Transmitter", "TWPx  Receiver"},
        {"D", "TWPx  Tx (Slave)", "TWPx  Receiver", "TWPx  Tx (Slave)"},
        {"K", "Orbit Tiny", "Monolink", "Orbit Tiny"},
        {"S", "Meridan QRX", "Meridan USB", "Meridan QRX"},
        {"X", "Meridan USB", "Meridan", "Meridan USB"},
        {"B", "Meridan", "Prisma", "Meridan"},
        {"V", "Prisma", "Orbit Mini", "Prisma"},
        {"T", "Orbit Mini", "Orbit Tiny", "Orbit Mini"},
        {"U", "KVT", "Crossfield", "KVT"},
        {"K", "Monolink", "Monolink", "Monolink"},
        {"D", "Crossfield", "TWPx  Receiver", "Crossfield"},
        {"Q", "Someone else", "", ""},
    };
    for (const auto& c : cases) {
        g.hex.FileProductCode = static_cast<std::int16_t>(c[0][0] ^ 0x96);
        g.dev.DevIdName = c[1];
        EXPECT_EQ(ErrorText(1002), "This hex file is for: " + c[2] + "\rTARN product is : " + c[3] +
                                       "\rCannot program with this file.");
    }
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

TEST_F(MainWindowTest, CodeZeroRestoresTheRowsForTheFileTheDeviceAndTheMode) {
    FrmUI& f = frmUI();
    const auto loaded = WindowLook();
    for (int code : {1501, 1003, 4006, 5001, 1301}) {
        g.result.ErrorCode = static_cast<std::int16_t>(code);
        DisplayError();
    }
    g.result.ErrorCode = 0;
    DisplayError();
    EXPECT_TRUE(WindowLook() == loaded);

    f.lblVERIFY.Visible = false;
    g.files.SelectedFileName = "fw.hex";
    f.btnHEXFILE.Caption = "fw.hex";
    g.dev.DevLetter = "V";
    DisplayError();
    EXPECT_EQ(f.lblHEXFILE.Caption,
              "This is the selected file that will be used to PROGRAM or VERIFY the firmware in "
              "the TARN product.  Press to select another file.");
    EXPECT_EQ(f.lblERASE.Caption, kConfigureText);
    EXPECT_TRUE(f.lblVERIFY.Visible);

    const std::string meridanFile =
        "Press to select a file to PROGRAM the memory in Meridan. 'Get Last Used' to load file "
        "used for last PROGRAM.";
    const std::string restartMeridan = "Exit Meridan programming mode and restart Meridan.";
    const std::string cfxBaud = "Change Crossfield baud rate used and restart the Crossfield.";
    const std::string cfxSetup =
        "Load Crossfield parameters with factory defaults or change starting computer number.";
    // mode: SCAN, HEXFILE, ERASE, VERIFY and PROGRAM descriptions, PROGRAM's caption
    const std::vector<std::vector<std::string>> modes = {
        {"QRX", restartMeridan, meridanFile, kEraseText, kVerifyText,
         "Load and send QRX firmware to all transmitters.", "PROGRAM QRX"},
        {"USB", restartMeridan, meridanFile, kEraseText, kVerifyText,
         "Program and verify the USB memory in Meridan from the selected hex file.", "PROGRAM USB"},
        {"MAIN", restartMeridan, meridanFile,
         "Send firmware from main board to other boards in Meridan.",
         "Load Meridan parameters with factory defaults.",
         "Program and verify the memory in Meridan from the selected hex file.", "PROGRAM MAIN"},
        {"CFX", cfxBaud,
         "Press to select a file to PROGRAM the memory in Crossfield. 'Get Last Used' to load "
         "file used for last PROGRAM.",
         "Send firmware from main board to other boards in the Crossfield.", cfxSetup,
         "Program and verify the memory in Crossfield from the selected hex file.",
         "PROGRAM"},  // the Crossfield keeps its own captions
        {"FALSE",
         "Select an available port on this computer. 'SCAN' to search for a supported product "
         "or power cycle MERIDAN/CFX/KVT.          'COM PORT:' to select port options",
         "Press to select a file to PROGRAM/VERIFY the firmware in the TARN product. 'Get Last "
         "Used' to load file used for last PROGRAM.",
         kEraseText, kVerifyText,
         "Erase, program, and verify the memory in the Tarn product from the selected hex file.",
         "PROGRAM"},
    };
    for (const auto& m : modes) {
        g.cmd.ProductMode = m[0];
        g.dev.DevLetter = "D";
        f.btnHEXFILE.Caption = "SELECT HEX FILE";
        f.btnPROGRAM.Caption = "PROGRAM";
        DisplayError();
        EXPECT_EQ(std::vector<std::string>({m[0], f.lblSCAN.Caption, f.lblHEXFILE.Caption,
                                            f.lblERASE.Caption, f.lblVERIFY.Caption,
                                            f.lblPROGRAM.Caption, f.btnPROGRAM.Caption}),
                  m);
        if (m[0] == "MAIN") {
            EXPECT_EQ(f.btnERASE.Caption, "SEND MAIN");
        }
    }
}

// ---- ButtonEnabler ------------------------------------------------------------------------

TEST_F(MainWindowTest, NormalModeOpensTheStepsTheDeviceAndFileAllow) {
    FrmUI& f = frmUI();
    // letter, revision, file, error, device found -> the enabled buttons
    using Row = std::tuple<std::string, bool, bool, int, bool, std::string>;
    for (auto [letter, rev, file, error, found, enabled] :
         std::vector<Row>{{"D", true, true, 0, true, "111100000"},
                          {"D", false, true, 0, true, "001100000"},
                          {"D", true, false, 0, true, "101000000"},
                          {"D", true, true, 1002, true, "101000000"},
                          {"D", true, true, 0, false, "001000000"},
                          {"K", true, true, 0, true, "001100000"}}) {  // no ERASE, no VERIFY
        DisableAllButtons();
        ReadyDevice(letter);
        g.dev.DevRev = rev ? "1.04" : "";
        g.files.SelectedFileName = file ? "fw.hex" : "";
        g.result.ErrorCode = static_cast<std::int16_t>(error);
        g.dev.DeviceFound = found;
        ButtonEnabler();
        EXPECT_EQ(EnabledButtons(), enabled) << letter << rev << file << error << found;
        EXPECT_TRUE(f.btnSCAN.Enabled && f.cboPORT.Enabled && f.btnCommPort.Enabled);
        EXPECT_EQ(f.btnHEXFILE.Caption, file ? "fw.hex" : "SELECT HEX FILE");
        EXPECT_EQ(f.btnERASE.Caption, "ERASE");
        EXPECT_TRUE(f.fraVERIFY.Visible && f.btnVERIFY.Visible);
        EXPECT_EQ(f.lblERASE.Caption, kEraseText);
    }
}

TEST_F(MainWindowTest, OrbitAndPrismaTurnEraseIntoConfigureUntilANormalDevice) {
    FrmUI& f = frmUI();
    for (const char* letter : {"V", "B", "T"}) {
        ReadyDevice(letter);
        g.result.ErrorCode = 0;
        ButtonEnabler();
        EXPECT_FALSE(f.fraVERIFY.Visible || f.btnVERIFY.Visible || f.btnVERIFY.Enabled) << letter;
        EXPECT_TRUE(f.btnERASE.Enabled) << letter;
        EXPECT_EQ(f.btnERASE.Caption, "CONFIGURE DEVICE") << letter;
        EXPECT_EQ(f.lblERASE.Caption, kConfigureText) << letter;
        g.result.ErrorCode = 1003;
        ButtonEnabler();
        EXPECT_FALSE(f.btnERASE.Enabled || f.btnPROGRAM.Enabled) << letter;
    }
    g.result.ErrorCode = 0;
    ReadyDevice("D");
    ButtonEnabler();
    EXPECT_TRUE(f.fraVERIFY.Visible && f.btnVERIFY.Visible && f.fraERASE.Visible &&
                f.btnERASE.Visible);
    EXPECT_EQ(f.btnERASE.Caption, "ERASE");
    EXPECT_EQ(f.lblERASE.Caption, kEraseText);
    EXPECT_EQ(f.lblVERIFY.Caption, kVerifyText);
}

TEST_F(MainWindowTest, LastUsedIsOfferedOnlyForAnotherFile) {
    CommandButton& lastUsed = frmUI().btnLASTUSED;
    ReadyDevice("D");
    // the last-used path, device found, the button before -> after
    for (auto [path, found, before, after] :
         {std::tuple{"/hex/old.hex", true, false, true},
          std::tuple{"/hex/fw.hex", true, true, false}, std::tuple{"", true, true, false},
          std::tuple{"/hex/old.hex", false, false, false},
          std::tuple{"/hex/old.hex", false, true, true}}) {
        g.files.LastUsedPath = path;
        g.dev.DeviceFound = found;
        lastUsed.Enabled = before;
        ButtonEnabler();
        EXPECT_EQ(lastUsed.Enabled, after) << path << " " << found << " " << before;
    }
}

TEST_F(MainWindowTest, ErrorCode1101LeavesTheModeButtonsAlone) {
    FrmUI& f = frmUI();
    DisableAllButtons();
    ReadyDevice("D");
    g.result.ErrorCode = 1101;
    ButtonEnabler();
    EXPECT_TRUE(f.btnSCAN.Enabled);
    EXPECT_FALSE(f.cboPORT.Enabled || f.btnCommPort.Enabled || f.btnHEXFILE.Enabled ||
                 f.btnERASE.Enabled || f.btnPROGRAM.Enabled);
    // The SEND MAIN rule of the Meridan modes still applies.
    g.cmd.ProductMode = "QRX";
    ButtonEnabler();
    EXPECT_TRUE(f.btnERASE.Enabled);
    EXPECT_FALSE(f.btnHEXFILE.Enabled || f.optMAIN.Enabled);
}

TEST_F(MainWindowTest, ButtonEnablerTracesTheResultingState) {
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
}

TEST_F(MainWindowTest, MeridanMainFollowsItsBoardsAndItsLastUsedFile) {
    FrmUI& f = frmUI();
    DisableAllButtons();
    g.cmd.ProductMode = "MAIN";
    ReadyDevice("X");
    // No settings file: a stale last-used file is forgotten; SEND MAIN is not allowed.
    g.files.LastUsedPath = "/hex/stale.hex";
    ButtonEnabler();
    EXPECT_EQ(g.files.LastUsedPath, "");
    EXPECT_EQ(EnabledButtons(), "011101000");
    EXPECT_EQ(f.btnERASE.Caption, "SEND MAIN");
    EXPECT_EQ(f.btnPROGRAM.Caption, "PROGRAM");
    EXPECT_EQ(f.btnHEXFILE.Caption, "fw.hex");
    EXPECT_EQ(f.Focused, &f.optMAIN);

    g.menus.meridan.MultiController = true;
    g.menus.meridan.MenuOption[kMeridanUsbReceiveOption] = 4;
    g.menus.meridan.UsbPresent = true;
    const std::string last = RememberFile("X", "main_last.hex");
    ButtonEnabler();
    EXPECT_EQ(EnabledButtons(), "111111101");
    EXPECT_EQ(f.btnPROGRAM.Caption, "PROGRAM MAIN");
    EXPECT_EQ(g.files.LastUsedPath, last);
    EXPECT_EQ(g.files.LastUsedName, "main_last.hex");

    g.menus.meridan = {};
    g.menus.meridan.MenuOption[kMeridanQrxReceiveOption] = 5;
    g.menus.meridan.QrxPresent = true;
    ButtonEnabler();
    EXPECT_EQ(EnabledButtons(), "011111011");
}

TEST_F(MainWindowTest, MeridanUsbAndQrxFollowTheirOwnFiles) {
    for (const std::string mode : {"USB", "QRX"}) {
        SCOPED_TRACE(mode);
        ResetState();
        frmUI_Load();
        DisableAllButtons();
        g.cmd.ProductMode = mode;
        ReadyDevice("S");  // the normal slot holds a file: it must not count here
        ButtonEnabler();
        const char erase = mode == "QRX" ? '1' : '0';  // ERASE is open in QRX mode only
        EXPECT_EQ(EnabledButtons(), erase + std::string("11001101"));
        EXPECT_EQ(frmUI().btnHEXFILE.Caption, "SELECT FILE");

        auto& files = g.files;
        std::string& path = mode == "USB" ? files.UsbFilePath : files.QrxFilePath;
        std::string& lastUsed = mode == "USB" ? files.UsbLastUsedPath : files.QrxLastUsedPath;
        (mode == "USB" ? files.UsbFileName : files.QrxFileName) = "board.hex";
        path = "/hex/board.hex";
        lastUsed = "/hex/older.hex";
        g.menus.meridan.QrxPresent = true;
        ButtonEnabler();
        EXPECT_EQ(EnabledButtons(), erase + std::string("11111111"));
        EXPECT_EQ(frmUI().btnHEXFILE.Caption, "board.hex");
        lastUsed = path;
        ButtonEnabler();
        EXPECT_FALSE(frmUI().btnLASTUSED.Enabled);
    }
    // With no file and an error shown the file button keeps its caption.
    frmUI().btnHEXFILE.Caption = "usb.hex";
    g.files.QrxFileName = "";
    g.result.ErrorCode = 1607;
    ButtonEnabler();
    EXPECT_EQ(frmUI().btnHEXFILE.Caption, "usb.hex");
    EXPECT_FALSE(frmUI().btnPROGRAM.Enabled);
}

TEST_F(MainWindowTest, CrossfieldOpensItsCopyAndSetupButtons) {
    DisableAllButtons();
    g.cmd.ProductMode = "CFX";
    g.dev.DevLetter = "U";
    g.dev.DeviceFound = true;
    g.files.CfxFileName = "cfx.hex";
    g.files.CfxFilePath = "/hex/cfx.hex";
    ButtonEnabler();
    FrmUI& f = frmUI();
    EXPECT_EQ(EnabledButtons(), "111100001");
    EXPECT_TRUE(f.btnMainCpy.Enabled && f.btnKernelCpy.Enabled && f.btnDefaults.Enabled &&
                f.btnStartCpu.Enabled);
    EXPECT_EQ(f.btnHEXFILE.Caption, "cfx.hex");
    // The Crossfield's last-used file comes from the settings file.
    const std::string last = RememberFile("U", "cfx_last.hex");
    ButtonEnabler();
    EXPECT_EQ(g.files.CfxLastUsedPath, last);
    EXPECT_TRUE(f.btnLASTUSED.Enabled);
}

// ---- the lock-out and the normal look -----------------------------------------------------

TEST_F(MainWindowTest, DisableAllButtonsLocksEveryCommandButHelp) {
    FrmUI& f = frmUI();
    for (Control* c : f.Controls())
        c->Enabled = true;
    for (Label* label : {&f.lblSCAN, &f.lblHEXFILE, &f.lblERASE, &f.lblVERIFY})
        label->BackColor = colour::kRed;
    f.lblPROGRAM.BackColor = colour::kLightYellow;
    f.lblPROGRAM.ForeColor = colour::kBlack;
    StartTrace();
    DisableAllButtons();
    for (Control* c : std::vector<Control*>{
             &f.btnShowDiagnostic, &f.btnSCAN, &f.btnHEXFILE, &f.btnLASTUSED, &f.btnERASE,
             &f.btnVERIFY, &f.btnPROGRAM, &f.btnMainCpy, &f.btnKernelCpy, &f.btnDefaults,
             &f.btnStartCpu, &f.cboPORT, &f.btnCommPort, &f.optMAIN, &f.optUSB, &f.optQRX}) {
        EXPECT_FALSE(c->Enabled) << c->Name;
    }
    for (Label* label : {&f.lblSCAN, &f.lblHEXFILE, &f.lblERASE, &f.lblVERIFY, &f.lblPROGRAM})
        EXPECT_EQ(label->BackColor, colour::kNavy) << label->Name;
    EXPECT_TRUE(f.lblPROGRAM.ForeColor == colour::kWhite && f.btnTitleBar.Enabled);
    EXPECT_EQ(TraceLines(), std::vector<std::string>{"        DisableAllButtons()"});
}

TEST_F(MainWindowTest, DefaultUIBringsBackTheLoadedButtons) {
    FrmUI& f = frmUI();
    const std::vector<Control*> restored = {&f.btnSCAN,  &f.btnHEXFILE, &f.btnLASTUSED,
                                            &f.btnERASE, &f.btnVERIFY,  &f.btnPROGRAM};
    std::vector<Look> loaded;
    for (Control* c : restored)
        loaded.push_back(LookOf(*c));
    // A serial-menu view had changed everything.
    for (Control* c : f.Controls()) {
        c->Visible = !c->Visible;
        c->Enabled = !c->Enabled;
        c->Top += 7;
        c->Caption = "x";
        c->Font.Bold = false;
    }
    DefaultUI();
    for (std::size_t i = 0; i < restored.size(); ++i) {
        Look now = LookOf(*restored[i]);
        if (i >= 3)
            now.enabled = loaded[i].enabled;  // ButtonEnabler decides these
        if (restored[i] == &f.btnLASTUSED) {
            now.caption = loaded[i].caption;  // its caption and font never change
            now.bold = loaded[i].bold;
        }
        EXPECT_TRUE(now == loaded[i]) << restored[i]->Name;
    }
    EXPECT_TRUE(f.btnCommPort.Visible && f.cboPORT.Visible);
    for (Control* c : std::vector<Control*>{&f.optMAIN, &f.optUSB, &f.optQRX, &f.btnKernelCpy,
                                            &f.btnMainCpy, &f.btnDefaults, &f.btnStartCpu}) {
        EXPECT_FALSE(c->Visible) << c->Name;
    }
}

}  // namespace
}  // namespace rompush
