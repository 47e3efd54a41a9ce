// The Meridan modular switch: detected by its power-on text, put into its serial options menu,
// its diagnostics shown, and then served through the main window's re-labelled buttons until
// it restarts.
#include "menus/meridan.h"

#include <algorithm>

#include "core/settings_file.h"
#include "core/state.h"
#include "core/text.h"
#include "core/trace.h"
#include "hexfile/hex_validation.h"
#include "menus/meridan_internal.h"
#include "menus/product_text.h"
#include "platform/platform.h"
#include "serial/comm.h"
#include "ui/main_window.h"

namespace rompush {

namespace {
const platform::Services& P() {
    return platform::Current();
}

constexpr int kCtrl = 0x11;
constexpr int kKeyT = 0x54;

// The character just before the last ")" in front of the first `entry` of the menu, as a
// digit; 0 when the menu has no such entry.
std::uint8_t OptionDigit(const std::string& menu, const std::string& entry) {
    const std::size_t at = menu.find(entry);
    if (at == std::string::npos || at == 0)
        return 0;
    const std::size_t bracket = menu.rfind(')', at - 1);
    if (bracket == std::string::npos || bracket == 0)
        return 0;
    return static_cast<std::uint8_t>(Val(menu.substr(bracket - 1, 1)));
}

// `count` characters starting `offset` after `label` in the power-on text, trimmed; "" when
// the label is absent.
std::string FieldAfter(const std::string& text, const std::string& label, std::size_t offset,
                       std::size_t count) {
    const std::size_t at = text.find(label);
    if (at == std::string::npos || at + offset > text.size())
        return "";
    std::string field = text.substr(at + offset, count);
    const std::size_t lineEnd = field.find_first_of("\r\n");
    if (lineEnd != std::string::npos)
        field.resize(lineEnd);
    return Trim(field);
}

// The power-on text as the detected-product box shows it: lines of more than 10 characters
// that hold neither "?" nor "Hit space bar" and start with a printable character, up to the
// menu. Each line after the first starts with the line feed of the line before it: the
// filter looks at the line without it, so a product ending its lines with CR LF is shown.
std::string DiagnosticsText(const std::string& text) {
    std::string shown;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\r', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.find("Serial options menu") != std::string::npos)
            break;
        line.erase(std::remove(line.begin(), line.end(), '\n'), line.end());
        if (line.size() <= 10 || line.find('?') != std::string::npos ||
            line.find("Hit space bar") != std::string::npos) {
            continue;
        }
        const auto first = static_cast<unsigned char>(line[0]);
        if (first < 34 || first > 121)
            continue;
        if (line.find("Tarn monitor") != std::string::npos)
            shown += "\r\n";
        shown += line + "\r\n";
    }
    return shown;
}

// The status panels and flags read from the power-on text.
void ReadVersions() {
    const std::string& text = g.menus.SerialText;
    auto& m = g.menus.meridan;
    const std::string monitor = FieldAfter(text, "monitor", 11, 8);
    ui::SetStatusPanel5(monitor.empty() ? "---" : monitor);
    m.ProgramVersion = FieldAfter(text, "Program version", 18, 6);
    ui::SetStatusPanel3(m.ProgramVersion.empty() ? "---" : m.ProgramVersion);
    const std::string osd = FieldAfter(text, "OSD version", 18, 6);
    ui::SetStatusPanel4(osd.empty() ? "---" : osd);
    const std::size_t at = text.find("Data controllers");
    m.MultiController = false;
    if (at != std::string::npos && at + 16 <= text.size()) {
        const std::string rest = text.substr(at + 16);
        m.MultiController = Val(rest.substr(0, rest.find('\r'))) > 1;
    }
    TraceLine("--    ProgramVersion = " + m.ProgramVersion);
    TraceLine(std::string("--    MultiController = ") + BoolText(m.MultiController));
}

// Ctrl+T in the Meridan's loop: trace into "Debug.txt" of the program folder. Offered while
// one of the program's windows is in front and no trace file is named in its caption (the
// window's own caption carries the version, so it never reads "RomPush Utility" alone).
void MeridanTraceQuestion() {
    auto& form = frmUI();
    const std::string title = Trim(P().desktop->ForegroundWindowTitle());
    if (title.rfind("RomPush", 0) != 0 || title.find("TRACE FILE") != std::string::npos ||
        !P().desktop->KeysDownTogether(kCtrl, kKeyT)) {
        return;
    }
    while (P().desktop->KeysDownTogether(kCtrl, kKeyT))
        P().events->WaitForEvents(50);
    const std::string path = P().system->ProgramFolder() + "/Debug.txt";
    const int answer = P().dialogs->MsgBox(
        "             FOR DIAGNOSTICS ONLY  \r\n  \r\nWrite trace information to: \r\n" + path,
        platform::mb::kYesNo + platform::mb::kExclamation, "RomPush Utility");
    if (answer == platform::mb::kAnswerYes && OpenTraceFile(path)) {
        g.trace.TraceOn = true;
        form.Caption = " RomPush Utility - TRACE FILE: Debug.txt";
        return;
    }
    if (answer == platform::mb::kAnswerYes) {
        P().dialogs->MsgBox("The trace file cannot be opened:\r\n" + path,
                            platform::mb::kExclamation + platform::mb::kOk, "RomPush Utility");
    }
    g.trace.TraceOn = false;
    form.Caption = " RomPush Utility";
}

// Device letter, names and firmware slot of the target the option button chose.
void ChooseTarget(const std::string& mode, const std::string& letter, const std::string& name,
                  ui::OptionButton& chosen) {
    TraceScope trace("opt" + mode + "_Click()");
    auto& form = frmUI();
    for (ui::OptionButton* option : {&form.optMAIN, &form.optUSB, &form.optQRX})
        option->Value = option == &chosen;
    g.cmd.ProductMode = mode;
    g.dev.DevLetter = letter;
    g.dev.DevIdName = name;
    g.dev.DevDisplayName = name;
    g.result.ErrorCode = 0;
    auto& files = g.files;
    std::string* selectedName = &files.SelectedFileName;
    std::string* selectedPath = &files.SelectedFilePath;
    if (mode == "USB") {
        CheckINI(files.UsbLastUsedName, files.UsbLastUsedPath);
        selectedName = &files.UsbFileName;
        selectedPath = &files.UsbFilePath;
    } else if (mode == "QRX") {
        CheckINI(files.QrxLastUsedName, files.QrxLastUsedPath);
        selectedName = &files.QrxFileName;
        selectedPath = &files.QrxFilePath;
    } else {
        CheckINI(files.LastUsedName, files.LastUsedPath);
    }
    // The target's own file is checked against the target's letter; with none chosen yet
    // there is nothing to check.
    if (!selectedPath->empty())
        ValidateHexFile(*selectedName, *selectedPath);
    ui::ButtonEnabler();
    ui::DisplayError();
    form.lblPROGRAM.Caption = meridan::ProgramHelpText();
}

// After the Meridan mode: the window back to normal, nothing the product still says kept.
void LeaveMeridanMode() {
    auto& files = g.files;
    g.cmd.ProductMode = "FALSE";
    files.SelectedFileName.clear();
    files.SelectedFilePath.clear();
    files.UsbFileName.clear();
    files.UsbFilePath.clear();
    files.QrxFileName.clear();
    files.QrxFilePath.clear();
    ui::ShowMsg("", ui::colour::kButtonFace);
    ui::ClearDevicePanels();
    ClearInBuffer();
    g.dev.DeviceFound = false;
    ui::ButtonEnabler();
    g.cmd.ContinueFlag = true;
}

// The product could not be served to the end: the window returns to its normal state with
// the reason on the message line; the port stays open for the next power cycle.
void AbandonMeridan() {
    auto& form = frmUI();
    ui::DisableAllButtons();
    ui::HideMenuControls();
    form.ProgressBar1.Visible = false;
    g.cmd.ProductMode = "FALSE";
    g.result.ErrorCode = 0;
    ui::DisplayError();
    ui::DefaultUI();
    g.dev.DeviceFound = false;
    g.menus.meridan.QrxBusy = false;
    g.menus.meridan.MainLoading = false;
    g.cmd.UiCommand = 0;
}
}  // namespace

void ReadMenuOptions() {
    TraceScope trace("ReadMenuOptions()");
    auto& m = g.menus.meridan;
    std::string menu = g.menus.SerialText;
    const std::size_t last = menu.rfind("Serial options menu");
    if (last != std::string::npos)
        menu.erase(0, last);
    m.MenuOption = {1, 2, 3, 0, 0};
    m.MenuOption[kMeridanUsbReceiveOption] = OptionDigit(menu, "Receive new USB");
    m.MenuOption[kMeridanQrxReceiveOption] = OptionDigit(menu, "Receive new QRX");
    m.ExitOption = OptionDigit(menu, "Exit");
    m.UsbPresent = menu.find("Receive new USB") != std::string::npos;
    m.QrxPresent = menu.find("Receive new QRX") != std::string::npos;
    TraceLine("--    USB option = " + std::to_string(m.MenuOption[kMeridanUsbReceiveOption]) +
              ", QRX option = " + std::to_string(m.MenuOption[kMeridanQrxReceiveOption]) +
              ", Exit option = " + std::to_string(m.ExitOption));
}

void MeridanUI() {
    TraceScope trace("MeridanUI()");
    auto& f = frmUI();
    f.cboPORT.Visible = false;
    f.btnCommPort.Visible = false;
    for (ui::OptionButton* option : {&f.optMAIN, &f.optUSB, &f.optQRX})
        option->Visible = true;
    f.optMAIN.Value = true;
    f.optUSB.Value = false;
    f.optQRX.Value = false;
    f.btnPROGRAM.Caption = "PROGRAM MAIN";
    f.lblPROGRAM.Caption = "Program and verify the memory in Meridan from the selected hex file.";
    f.btnVERIFY.Caption = "LOAD DEFAULTS";
    f.lblVERIFY.Caption = "Load Meridan parameters with factory defaults.";
    f.btnERASE.Caption = "COPY FIRMWARE";
    f.lblERASE.Caption = "Send firmware from main board to other boards in Meridan.";
    f.btnHEXFILE.Caption = "SELECT HEX FILE";
    f.lblHEXFILE.Caption =
        "Press to select a file to PROGRAM the memory in Meridan. 'Get Last Used' to load file "
        "used for last PROGRAM.";
    f.btnSCAN.Caption = "RESTART";
    f.lblSCAN.Caption = "Exit Meridan programming mode and restart Meridan.";
    // The console button stays usable in the Meridan mode: it moves into the RESTART row,
    // under its help text, off the PROGRAM row it covers in the information views.
    f.btnShowDiagnostic.Move(3630, 1620, 2160, 375);
}

void optMAIN_Click() {
    ChooseTarget("MAIN", "X", "Meridan", frmUI().optMAIN);
}
void optUSB_Click() {
    ChooseTarget("USB", "S", "Meridan USB", frmUI().optUSB);
}
void optQRX_Click() {
    ChooseTarget("QRX", "H", "Meridan QRX", frmUI().optQRX);
}

void MeridanDetect() {
    TraceScope trace("MeridanDetect()");
    auto& form = frmUI();
    auto& m = g.menus.meridan;
    auto& text = g.menus.SerialText;
    m.LeaveReason.clear();
    m.QrxReport.clear();
    m.QrxBusy = false;
    m.MainLoading = false;
    // What the banner check read is the start of the power-on text: it is kept.
    ReadIntoSerialText();
    g.dev.DevLetter = "X";
    g.dev.DevIdName = "Meridan";
    g.dev.DevDisplayName = "Meridan";
    g.dev.DeviceFound = true;
    ui::ShowMsg("", ui::colour::kButtonFace);
    ui::SetStatusPanel2("MERIDAN");
    Delay(750);

    g.cmd.ContinueFlag = false;
    bool served = meridan::AwaitText("Static", meridan::kBootMs);
    if (served) {
        SendToProduct(" ");
        meridan::ShowInfoView("Meridan Detected", "Reading serial data...", "", "");
        ui::StartProgressBar(100);
        // A Meridan that missed the space boots on to its mouse, USB or PS/2.
        served = meridan::Await(
            [](const std::string& t) {
                return t.find('>') != std::string::npos ||
                       t.find("USB mouse") != std::string::npos ||
                       t.find("PS2 mouse") != std::string::npos;
            },
            meridan::kBootMs, true);
        form.ProgressBar1.Visible = false;
    }
    if (served && text.find('>') == std::string::npos) {
        form.txtSwtDetected.Text = "MERIDAN FAILED TO BE PLACED IN SERIAL MODE";
        meridan::ShowInfoView(form.txtSwtDetected.Text, "",
                              "Press 'ABORT' and power cycle Meridan to retry.", "ABORT");
        meridan::WaitForOperator();
        served = false;
    }
    if (served) {
        const std::string diagnostics = DiagnosticsText(text);
        meridan::ShowInfoView(diagnostics, "", "", "CONTINUE");
        form.txtSwtDetected.Font.Name = "@SimSun";
        m.InfoText = diagnostics;
        // Kept aside: the console, opened from the diagnostics, takes SerialText for its own;
        // it opens on the diagnostics.
        const std::string powerOn = text;
        g.menus.ConsoleLog = m.InfoText + "\r\n\r\n";
        meridan::WaitForOperator();

        text = powerOn;
        ReadMenuOptions();
        g.cmd.ProductMode = "MAIN";
        MeridanUI();
        ui::ButtonEnabler();
        ReadVersions();
        const std::size_t menu = text.find("Serial options menu");
        g.menus.MenuText = menu == std::string::npos ? "" : text.substr(menu);
        // Closing the console took its text into the log: the diagnostics go back in.
        g.menus.ConsoleLog = m.InfoText + "\r\n\r\n";
        ui::ButtonEnabler();
        MeridanMenu();
    }
    if (!m.LeaveReason.empty())
        AbandonMeridan();
    LeaveMeridanMode();
    if (!m.LeaveReason.empty()) {
        ui::ShowMsg(m.LeaveReason, ui::colour::kRed);
        TraceLine("--    Meridan left: " + m.LeaveReason);
    } else if (!m.QrxReport.empty()) {
        // The window is back to normal; the transmitters that failed stay on it.
        g.result.ErrorCode = 1609;
        ui::DisplayError();
        g.result.ErrorCode = 0;
    }
}

void MeridanMenu() {
    TraceScope trace("MeridanMenu()");
    auto& m = g.menus.meridan;
    m.MainLoading = false;
    g.cmd.UiCommand = 0;
    bool restarted = false;
    while (!restarted && m.LeaveReason.empty()) {
        MeridanTraceQuestion();
        if (!g.menus.MenuText.empty()) {
            g.menus.ConsoleLog += g.menus.MenuText;
            g.menus.MenuText.clear();
        }
        // The command is taken before it runs: a button clicked while an operation ends is
        // kept for the next pass.
        const std::uint8_t command = g.cmd.UiCommand;
        g.cmd.UiCommand = uicmdNONE;
        switch (command) {
            case uicmdSCAN:
                MeridanRestart();
                restarted = true;
                break;
            case uicmdHEXFILE:
                MeridanSelectFile();
                break;
            case uicmdLASTUSED:
                MeridanLastUsed();
                break;
            case uicmdERASE:
                MeridanCopyFirmware();
                break;
            case uicmdVERIFY:
                MeridanLoadDefaults();
                break;
            case uicmdPROGRAM:
                MeridanProgram();
                break;
            default:
                break;
        }
        if (command != uicmdNONE && m.QrxBusy && !restarted)
            g.cmd.UiCommand = uicmdSCAN;  // the product restarts by itself after a QRX update
        P().desktop->SetMousePointer(platform::MousePointer::Default);
        if (!restarted && m.LeaveReason.empty() && g.cmd.UiCommand == uicmdNONE)
            P().events->WaitForEvents(50);
    }
}

}  // namespace rompush
