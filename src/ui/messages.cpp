// The status banner, the error display with the table of error texts, and the status-bar
// panels of the main window.
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

#include "core/state.h"
#include "core/trace.h"
#include "platform/platform.h"
#include "ui/main_window.h"

namespace rompush::ui {

namespace {

const std::string CR = "\r";
const std::string CRLF = "\r\n";

// Where a highlight line runs when it points at a step (twips, inside its frame).
constexpr int kLineX1 = 2880;
constexpr int kLineX2 = 5520;
constexpr int kLineY = 480;

// Label geometry of an error display.
constexpr int kErrorTop = 180;
constexpr int kErrorHeight = 650;
constexpr int kTallErrorHeight = 830;  // the three-line text of a non-flashable device

// How an error row changes its label.
enum class RowStyle {
    Text,           // Top, Height, Caption and red background
    ColourAndSize,  // Top, Height and red background, the description stays
    ColourOnly      // red background only
};

struct ErrorRow {
    Label* label = nullptr;
    Line* line = nullptr;  // the step's highlight line, nullptr when the row shows none
    std::string text;
    RowStyle style = RowStyle::Text;
    int height = kErrorHeight;
};

// The bytes of the last answer as " 07 41 00". RcvArray holds the count in element 0; a count
// beyond the buffer is cut at its end, so a garbled count never reads past it.
std::string ResponseDump(const std::string& heading) {
    const auto& rcv = g.link.RcvArray;
    const std::size_t count = std::min<std::size_t>(rcv[0], rcv.size() - 1);
    std::string text = heading + CR + CR;
    for (std::size_t i = 1; i <= count; ++i) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned>(rcv[i]));
        text += " ";
        text += digits;
    }
    return text;
}

// The port is open but the device behind it has gone: there is no answer to show.
bool PortLost() {
    const platform::SerialPort* serial = platform::Current().serial;
    return serial != nullptr && serial->DeviceLost();
}

// The text of an error about a device's answer: the answer's bytes, or, when the adapter was
// pulled out, that the port was lost, which no dump of an empty answer would tell.
std::string AnswerText(const std::string& heading) {
    if (PortLost())
        return "The COM port was lost.  Check that the device and its adapter are connected, "
               "then SCAN again.";
    return ResponseDump(heading);
}

// The start of the HEX line the reader stopped at, so the operator can see what is wrong.
std::string LineExcerpt(const std::string& heading) {
    return heading + CR + CR + g.hex.CurLine.substr(0, 10);
}

// The product a HEX file is made for, from its product code (a letter XOR &H96).
std::string FileProductName() {
    static const std::pair<char, const char*> kProducts[] = {
        {'H', "TWPx  Transmitter"}, {'M', "TWPx  Tx (Master)"},
        {'L', "TWPx  Tx (Slave)"},  {'D', "TWPx  Receiver"},
        {'K', "Monolink"},          {'S', "Meridan USB"},
        {'X', "Meridan"},           {'B', "Prisma"},
        {'V', "Orbit Mini"},        {'T', "Orbit Tiny"},
        {'U', "Crossfield"},        {'$', "KVT"}};
    for (const auto& [letter, name] : kProducts) {
        if (g.hex.FileProductCode == (static_cast<unsigned char>(letter) ^ 0x96))
            return name;
    }
    return "";
}

// The attached product as the operator knows it, from the identified device.
std::string DeviceProductName() {
    const std::string& id = g.dev.DevIdName;
    if (id == "VLNMINI")
        return "TWPx  Transmitter";
    if (id == "QTRUSB")
        return "TWPx  Receiver";
    static const char* const kSameName[] = {
        "Crossfield",  "TWPx  Tx (Master)", "TWPx  Tx (Slave)", "Monolink",   "Meridan",
        "Meridan USB", "Meridan QRX",       "Orbit Tiny",       "Orbit Mini", "Prisma",
        "KVT"};
    for (const char* name : kSameName) {
        if (id == name)
            return id;
    }
    return "";
}

std::string MismatchText() {
    return "This hex file is for: " + FileProductName() + CR +
           "TARN product is : " + DeviceProductName() + CR + "Cannot program with this file.";
}

// A device that did not answer its identification. SCAN reports it as a product not found;
// inside ERASE, PROGRAM and VERIFY it is told as the response time-out of the step that ran,
// so the operator is not left with a progress text and locked buttons.
std::optional<ErrorRow> UnansweredIdentification() {
    FrmUI& f = frmUI();
    const std::uint8_t command = g.cmd.CurrentCommand;
    if (g.cmd.ProductMode != "FALSE")
        return std::nullopt;
    const std::string text = AnswerText("A response timeout error occurred.  ");
    if (command == uicmdVERIFY && !g.result.ProgramVerifyOk)
        return ErrorRow{&f.lblVERIFY, nullptr, text};
    if (command == uicmdERASE || command == uicmdPROGRAM || command == uicmdVERIFY)
        return ErrorRow{&f.lblPROGRAM, &f.linPROGRAM, text};
    return std::nullopt;
}

// The row of the error table for a code; nothing for codes the window does not show.
std::optional<ErrorRow> RowFor(int code) {
    FrmUI& f = frmUI();
    switch (code) {
        case 1001:
            // A file that could be read but not converted says why; "open in another program"
            // would send the operator looking for the wrong cause.
            if (!g.hex.ConversionProblem.empty())
                return ErrorRow{&f.lblHEXFILE, nullptr, g.hex.ConversionProblem};
            return ErrorRow{&f.lblHEXFILE, nullptr,
                            "An error has occured while trying to open the selected file.  "
                            "Check that the file is not being read or edited by another program."};
        case 1002:
            return ErrorRow{&f.lblHEXFILE, nullptr, MismatchText()};
        case 1003:
            return ErrorRow{&f.lblHEXFILE, &f.linHEXFILE,
                            LineExcerpt("Check sum error occurred.  ")};
        case 1004:
        case 1005:
        case 1006:
            return ErrorRow{&f.lblHEXFILE, &f.linHEXFILE,
                            LineExcerpt("EOF character missing in selected file.  ")};
        case 1007:
        case 1008:
        case 1009:
            return ErrorRow{&f.lblHEXFILE, &f.linHEXFILE,
                            LineExcerpt("Header character missing in selected file.  ")};
        case 1010:
            return ErrorRow{&f.lblHEXFILE, nullptr,
                            "The selected file holds no firmware data.  "
                            "Cannot program with this file."};
        case 1011:
            return ErrorRow{
                &f.lblHEXFILE, &f.linHEXFILE,
                LineExcerpt("Data outside the memory of this TARN product in selected file.  ")};
        case 1012:
            return ErrorRow{&f.lblHEXFILE, &f.linHEXFILE,
                            LineExcerpt("Record type not supported in selected file.  ")};
        case 1201:
        case 1601:
            return ErrorRow{&f.lblERASE, nullptr, "", RowStyle::ColourAndSize};
        case 1202:
        case 1605:
            return ErrorRow{&f.lblPROGRAM, nullptr, "Programming file cannot be opened."};
        case 1203:
            // The Crossfield took the file but did not say the flash was written.
            return ErrorRow{&f.lblPROGRAM, &f.linPROGRAM,
                            "The Crossfield did not report \"Flash programming successful\"." + CR +
                                CR + g.menus.cfx.ProgramReport};
        case 1204:
            return ErrorRow{&f.lblPROGRAM, &f.linPROGRAM,
                            "The file transfer was aborted: " + g.menus.TransferReport};
        case 1301:
        case 1401:
            // During and after a PROGRAM the failed check belongs to the PROGRAM row.
            if (g.result.ProgramVerifyOk || g.cmd.CurrentCommand == uicmdPROGRAM) {
                return ErrorRow{&f.lblPROGRAM, nullptr, "A CRC error occured after programming."};
            }
            return ErrorRow{&f.lblVERIFY, nullptr,
                            "A CRC error has occured.  Check that the correct "
                            "file has been selected and retest."};
        case 1302:
        case 1402:
            if (g.result.ProgramVerifyOk) {
                return ErrorRow{&f.lblPROGRAM, &f.linPROGRAM,
                                AnswerText("A response timeout error occurred.  ")};
            }
            return ErrorRow{&f.lblVERIFY, nullptr,
                            AnswerText("A response timeout error occurred.  ")};
        case 1501:
            return ErrorRow{&f.lblSCAN, &f.linSCAN,
                            AnswerText("An error has occured obtaining device ID.")};
        case 1602:
            return ErrorRow{&f.lblVERIFY, nullptr, "Target hardware not responding."};
        case 1603:
            return ErrorRow{&f.lblPROGRAM, nullptr, "USB serial not found or not supported."};
        case 1604:
            return ErrorRow{&f.lblPROGRAM, nullptr, "Target hardware not responding."};
        case 1606:
            return ErrorRow{&f.lblPROGRAM, nullptr, "", RowStyle::ColourOnly};
        case 1607:
            return ErrorRow{&f.lblPROGRAM, nullptr, "USB programming file not received."};
        case 1608:
            return ErrorRow{&f.lblPROGRAM, nullptr, "QRX programming file not received."};
        case 1609:
            // The Meridan passed the file on, but a transmitter reported an error: its port
            // is named in the Meridan's own line.
            return ErrorRow{&f.lblPROGRAM, &f.linPROGRAM,
                            "QRX programming failed." + CR + CR + g.menus.meridan.QrxReport};
        case 3003:
        case 3004:
        case 4003:
        case 4004:
        case 4005:
            return ErrorRow{&f.lblPROGRAM, &f.linPROGRAM,
                            AnswerText("A command response error occurred.  ")};
        case 3005:
        case 4006:
            return ErrorRow{&f.lblPROGRAM, &f.linPROGRAM,
                            AnswerText("A response timeout error occurred.  ")};
        case 5001:
            return ErrorRow{&f.lblERASE, nullptr,
                            "Incomplete configuration data received from device."};
        case 5010:
            return ErrorRow{&f.lblERASE, nullptr,
                            "Settings not acknowledged by the device.  SCAN, then CONFIGURE "
                            "DEVICE to save them again."};
        case 6001:
            return ErrorRow{&f.lblSCAN, nullptr,
                            CRLF + "Non-flashable device that cannot" + CRLF +
                                "be erased or programmed." + CRLF,
                            RowStyle::Text, kTallErrorHeight};
        case 8001:
            return ErrorRow{&f.lblPROGRAM, nullptr, "CRC check failed."};
        case 8002:
            return ErrorRow{&f.lblPROGRAM, nullptr, "ACK to last command not received."};
        case 8003:
            return ErrorRow{&f.lblPROGRAM, nullptr,
                            "Programmed, but the settings written back were not acknowledged.  "
                            "SCAN, then CONFIGURE DEVICE to save them again."};
        case 7002:
            return UnansweredIdentification();
        default:
            return std::nullopt;  // 1101, 5002-5009 and the rest show nothing
    }
}

void ShowHighlight(Line& line) {
    line.Visible = true;
    line.X1 = kLineX1;
    line.X2 = kLineX2;
    line.Y1 = kLineY;
    line.Y2 = kLineY;
}

void WhiteOnNavy(Label& label) {
    label.ForeColor = colour::kWhite;
    label.BackColor = colour::kNavy;
}

// ErrorCode 0: the step labels get back the descriptions of the current mode.
void RestoreDescriptions() {
    FrmUI& f = frmUI();
    const std::string& mode = g.cmd.ProductMode;

    const char* const kMeridanHexFile =
        "Press to select a file to PROGRAM the memory in Meridan. 'Get Last Used' to load file "
        "used for last PROGRAM.";
    const char* const kEraseFirmware =
        "Delete the application firmware in the Tarn product's memory.";
    const char* const kVerifyFirmware =
        "Check that the application firmware in the Tarn product and the hex file are the same.";
    const char* const kCrossfieldBaud =
        "Change Crossfield baud rate used and restart the Crossfield.";
    const char* const kCrossfieldSetup =
        "Load Crossfield parameters with factory defaults or change starting computer number.";

    if (mode == "QRX" || mode == "USB") {
        f.lblSCAN.Caption = "Exit Meridan programming mode and restart Meridan.";
        f.lblHEXFILE.Caption = kMeridanHexFile;
        f.lblERASE.Caption = kEraseFirmware;
        f.lblVERIFY.Caption = kVerifyFirmware;
        if (mode == "QRX") {
            f.btnPROGRAM.Caption = "PROGRAM QRX";
            f.lblPROGRAM.Caption = "Load and send QRX firmware to all transmitters.";
        } else {
            f.lblPROGRAM.Caption =
                "Program and verify the USB memory in Meridan from the selected hex file.";
            f.btnPROGRAM.Caption = "PROGRAM USB";
        }
    } else if (mode == "MAIN") {
        // The Meridan's own RESTART and LOAD DEFAULTS help: a Meridan has no baud rate or
        // starting computer to change.
        f.lblSCAN.Caption = "Exit Meridan programming mode and restart Meridan.";
        f.lblHEXFILE.Caption = kMeridanHexFile;
        f.lblERASE.Caption = "Send firmware from main board to other boards in Meridan.";
        f.btnERASE.Caption = "SEND MAIN";
        f.lblVERIFY.Caption = "Load Meridan parameters with factory defaults.";
        f.lblPROGRAM.Caption =
            "Program and verify the memory in Meridan from the selected hex file.";
        f.btnPROGRAM.Caption = "PROGRAM MAIN";
    } else if (mode == "CFX") {
        f.lblSCAN.Caption = kCrossfieldBaud;
        f.lblHEXFILE.Caption =
            "Press to select a file to PROGRAM the memory in Crossfield. 'Get Last Used' to load "
            "file used for last PROGRAM.";
        f.lblERASE.Caption = "Send firmware from main board to other boards in the Crossfield.";
        f.lblVERIFY.Caption = kCrossfieldSetup;
        f.lblPROGRAM.Caption =
            "Program and verify the memory in Crossfield from the selected hex file.";
    } else if (mode == "FALSE") {
        f.lblSCAN.Caption =
            "Select an available port on this computer. 'SCAN' to search for a supported "
            "product or power cycle MERIDAN/CFX/KVT.          'COM PORT:' to select port "
            "options";
        if (f.btnHEXFILE.Caption == g.files.SelectedFileName) {
            f.lblHEXFILE.Caption =
                "This is the selected file that will be used to PROGRAM or VERIFY the firmware "
                "in the TARN product.  Press to select another file.";
        } else {
            f.lblHEXFILE.Caption =
                "Press to select a file to PROGRAM/VERIFY the firmware in the TARN product. "
                "'Get Last Used' to load file used for last PROGRAM.";
        }
        const std::string& letter = g.dev.DevLetter;
        if (letter == "V" || letter == "B" || letter == "T") {
            f.lblERASE.Caption =
                "View and modify the configuration settings of the attached device";
        } else {
            f.lblERASE.Caption = kEraseFirmware;
        }
        f.lblVERIFY.Visible = true;
        f.lblVERIFY.Caption = kVerifyFirmware;
        f.lblPROGRAM.Visible = true;
        f.lblPROGRAM.Caption =
            "Erase, program, and verify the memory in the Tarn product from the selected hex "
            "file.";
    }

    f.linSCAN.Visible = false;
    f.lblSCAN.Top = 180;
    // An error display shortens the SCAN label; its description needs the full height again.
    f.lblSCAN.Height = 800;
    WhiteOnNavy(f.lblSCAN);
    f.linHEXFILE.Visible = false;
    f.lblHEXFILE.Top = 180;
    f.lblHEXFILE.Height = 650;
    WhiteOnNavy(f.lblHEXFILE);
    for (Label* label : {&f.lblERASE, &f.lblVERIFY}) {
        label->Top = 240;
        label->Height = 435;
        WhiteOnNavy(*label);
    }
    f.linPROGRAM.Visible = false;
    f.lblPROGRAM.Top = 240;
    f.lblPROGRAM.Height = 435;
    WhiteOnNavy(f.lblPROGRAM);

    ShowMsg("", colour::kButtonFace);
}

}  // namespace

void ShowMsg(const std::string& text, Colour colour) {
    // An error banner is traced by its code alone.
    TraceScope trace(text.compare(0, 10, "ERROR CODE") == 0
                         ? "ShowMsg( ERROR CODE:" + text.substr(text.size() - 4) + " )"
                         : "ShowMsg( " + text + " )");
    FrmUI& f = frmUI();
    f.frmPASS.BackColor = colour;
    // The banner label is see-through: it shows the banner's colour behind its text.
    f.lblPASS.BackColor = colour;
    f.lblPASS.Caption = text;
}

std::string ErrorText(int errorCode) {
    const auto row = RowFor(errorCode);
    return row ? row->text : std::string();
}

bool ErrorShown(int errorCode) {
    return RowFor(errorCode).has_value();
}

void DisplayError() {
    TraceScope trace("DisplayError()");
    const int code = g.result.ErrorCode;
    if (code == 0) {
        RestoreDescriptions();
        return;
    }
    const auto row = RowFor(code);
    if (!row)
        return;

    ShowMsg("ERROR CODE: " + std::to_string(code), colour::kRed);

    Label& label = *row->label;
    if (row->style != RowStyle::ColourOnly) {
        label.Top = kErrorTop;
        label.Height = row->height;
    }
    if (row->style == RowStyle::Text)
        label.Caption = row->text;
    label.BackColor = colour::kRed;

    // A verify failure moves the other verify row up as well, whichever row shows it.
    FrmUI& f = frmUI();
    if (code == 1301 || code == 1401)
        f.lblVERIFY.Top = kErrorTop;
    if (code == 1302 || code == 1402)
        f.lblPROGRAM.Top = kErrorTop;

    if (row->line)
        ShowHighlight(*row->line);
}

namespace {
// Panel n of the status bar (1 = Panels[0]); a bar not laid out yet gets the panels it lacks.
void SetPanelText(std::size_t panel, const std::string& text) {
    auto& panels = frmUI().StatusBar1.Panels;
    if (panels.size() < panel)
        panels.resize(panel);
    panels[panel - 1].Text = text;
}
}  // namespace

void SetStatusPanel2(const std::string& text) {
    SetPanelText(2, text);
}
void SetStatusPanel3(const std::string& text) {
    SetPanelText(3, text);
}
void SetStatusPanel4(const std::string& text) {
    SetPanelText(4, text);
}
void SetStatusPanel5(const std::string& text) {
    SetPanelText(5, text);
}

void ClearDevicePanels() {
    for (std::size_t panel = 2; panel <= 5; ++panel)
        SetPanelText(panel, "");
}

void StartProgressBar(int max) {
    auto& bar = frmUI().ProgressBar1;
    bar.Min = 0;
    bar.Max = max;
    bar.Value = 0;
    bar.Visible = true;
}

}  // namespace rompush::ui
