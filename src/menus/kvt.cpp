#include "menus/kvt.h"

#include <fstream>

#include "core/settings_file.h"
#include "core/state.h"
#include "core/text.h"
#include "core/trace.h"
#include "hexfile/hex_file_dialog.h"
#include "hexfile/hex_validation.h"
#include "platform/platform.h"
#include "serial/comm.h"
#include "ui/main_window.h"
#include "ui/notices.h"
#include "ui/shortcuts.h"

namespace rompush {

namespace {

const platform::Services& P() {
    return platform::Current();
}

// An idle pass of the KVT's loop sleeps at most this long; clicks wake it at once.
constexpr int kIdleSliceMs = 50;
// The button-mapping lines follow the application's heading when the KVT's text starts with
// the application itself.
constexpr std::size_t kMappingAfterHeading = 129;
// The button of the KVT's ERASE row: the serial console's, or Cancel during a wait.
constexpr int kRowButtonLeft = 240, kRowButtonTop = 3320, kRowButtonWidth = 2160;
constexpr int kRowButtonHeight = 495;

// The text from `from` up to the end of its line.
std::string RestOfLine(const std::string& text, std::size_t from) {
    const std::size_t end = text.find_first_of(std::string("\r\n\0", 3), from);
    return text.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

// Four times "Ch": each entry runs from two characters after it to the next carriage return.
void ReadButtonMap(const std::string& text, std::size_t from) {
    auto& map = g.menus.kvt.ButtonMap;
    for (std::size_t button = 0; button < map.size(); ++button) {
        const std::size_t ch = from < text.size() ? text.find("Ch", from) : std::string::npos;
        if (ch == std::string::npos) {
            map[button] = MapEntry("");
            continue;
        }
        const std::size_t cr = text.find('\r', ch + 2);
        map[button] = MapEntry(text.substr(ch + 2, cr == std::string::npos ? cr : cr - ch - 2));
        TraceLine("-- ButtonMap(" + std::to_string(button + 1) + ") = " + map[button]);
        from = cr == std::string::npos ? text.size() : cr + 1;
    }
}

// Reads what else the KVT sent into the console's log, so the console shows all of it.
void DrainIntoConsoleLog() {
    auto& serial = *P().serial;
    while (serial.InBufferCount() > 0) {
        const std::string in = serial.Input();
        if (in.empty())
            break;
        g.menus.ConsoleLog += in;
    }
}

// The KVT's file becomes the selected file: the HEX check and the settings file work on it.
void SelectKvtFile() {
    g.files.SelectedFileName = g.files.KvtFileName;
    g.files.SelectedFilePath = g.files.KvtFilePath;
}

void EndOperation() {
    ui::ButtonEnabler();
    g.cmd.UiCommand = 0;
}

// The KVT is no longer served: the window goes back to its normal look, on the port it was
// on, with nothing found.
void LeaveKvt() {
    TraceScope trace("LeaveKvt()");
    auto& f = frmUI();
    ui::HideMenuControls();
    f.btnShowDiagnostic.Visible = false;
    f.btnCANCEL.Visible = false;
    f.ProgressBar1.Visible = false;
    f.lblERASE.Move(2880, 240, 3240, 435);
    g.dev = DeviceRecord{};  // the KVT is no longer the device
    // The KVT's file was the selected one; the normal window starts without a file.
    g.files.SelectedFileName = "";
    g.files.SelectedFilePath = "";
    g.menus.SerialText.clear();
    ui::ClearDevicePanels();
    g.result.ErrorCode = 0;
    ui::DefaultUI();
    ui::DisplayError();
    ui::ShowMsg("", ui::colour::kButtonFace);
    ui::ButtonEnabler();
    g.cmd.UiCommand = 0;
}

}  // namespace

std::string MapEntry(const std::string& text) {
    std::string entry = Trim(text);
    if (entry.size() < 4)
        entry.resize(4, ' ');
    return entry;
}

KvtRevisionLine ReadKvtRevision(const std::string& afterRev) {
    KvtRevisionLine line;
    const std::size_t blank = afterRev.find(' ');
    if (blank == std::string::npos) {
        line.revision = Trim(afterRev.substr(0, 3));
        line.status = Trim(afterRev.size() > 3 ? afterRev.substr(3, 3) : "");
    } else {
        line.revision = Trim(afterRev.substr(0, blank));
        line.status = Trim(afterRev.substr(blank + 1)).substr(0, 3);
    }
    return line;
}

void KVT_Boot() {
    TraceScope trace("KVT_Boot()");
    auto& kvt = g.menus.kvt;
    auto& text = g.menus.SerialText;  // what the banner check read stays: it is the KVT's first
                                      // burst

    ui::ShowMsg("Reading KVT...", ui::colour::kLightYellow);
    kvt::OfferExit();
    const TextWait read = WaitForAnyText({"?", "CHECK SUM error occured"}, kvt::kReadingBoundMs);
    kvt::WithdrawExit();
    ui::ShowMsg("", ui::colour::kButtonFace);
    ui::SetStatusPanel2("KVT");
    Delay(750);

    const std::size_t rev = text.find("KVT Rev ");
    if (rev != std::string::npos) {
        const KvtRevisionLine line = ReadKvtRevision(RestOfLine(text, rev + 8));
        g.dev.DevRev = "Rev " + line.revision;
        ui::SetStatusPanel3(g.dev.DevRev);
        ui::SetStatusPanel5(line.status == "NPV" || line.status == "OLC" ? line.status : "");
        kvt.KvtChecksumError = false;
    } else {
        g.dev.DevRev = "";
        ui::SetStatusPanel3("---");
        kvt.KvtChecksumError = true;
    }
    TraceLine(std::string("-- KvtChecksumError = ") + BoolText(kvt.KvtChecksumError));

    kvt.DownloadCompleted = text.find("DownLoad Completed...") != std::string::npos;
    bool bootLoaderSeen = false;
    if (!kvt.DownloadCompleted) {
        const std::size_t bl = text.find("KVT-BL Rev ");
        bootLoaderSeen = bl != std::string::npos;
        g.dev.BslRev = bootLoaderSeen ? ReadKvtRevision(RestOfLine(text, bl + 11)).revision : "";
        ui::SetStatusPanel4(bootLoaderSeen ? "BSL " + g.dev.BslRev : "---");
    }
    const bool fromStart = kvt.KvtChecksumError || kvt.DownloadCompleted || bootLoaderSeen;
    ReadButtonMap(text, fromStart ? 0 : kMappingAfterHeading);

    // The console shows the KVT's power-on text.
    g.menus.ConsoleLog += text;
    DrainIntoConsoleLog();
    text.clear();
    g.dev.DevLetter = "$";
    g.dev.DevIdName = "KVT";
    g.dev.DevDisplayName = "KVT";
    g.dev.DeviceFound = true;
    KvtUI();
    SelectKvtFile();
    ValidateHexFile(g.files.KvtFileName, g.files.KvtFilePath);
    if (read == TextWait::Silent || read == TextWait::Lost)
        ui::ShowNotice(ui::Notice::KvtNotResponding);
    ui::ButtonEnabler();
}

void KvtUI() {
    TraceScope trace("KvtUI()");
    auto& f = frmUI();
    const auto& map = g.menus.kvt.ButtonMap;
    // The KVT has nothing to erase: its ERASE row holds the serial console's button and the
    // button mapping.
    f.btnERASE.Visible = false;
    f.btnShowDiagnostic.Move(kRowButtonLeft, kRowButtonTop, kRowButtonWidth, kRowButtonHeight);
    f.lblERASE.Move(2520, 240, 3600, 435);
    f.lblERASE.Visible = true;
    if (g.menus.kvt.KvtChecksumError) {
        f.lblERASE.Caption = "      KVT CHECKSUM ERROR: DOWNLOAD HEX FILE.\r\n";
    } else {
        f.lblERASE.Caption = " BUTTON 1 to PORT " + map[0] + "     BUTTON 3 to PORT " + map[2] +
                             "\r\n BUTTON 2 to PORT " + map[1] + "     BUTTON 4 to PORT " + map[3];
    }
    f.lblSCAN.Caption = "'SCAN' to leave the KVT and return to the normal window.";
    f.btnVERIFY.Caption = "REMAP KVT BUTTONS";
    f.lblVERIFY.Caption = "Remap KVT buttons to selected ports.";
    f.lblVERIFY.Visible = true;
    f.lblPROGRAM.Caption = "Download selected hex file to KVT";
    f.lblPROGRAM.Visible = true;
    f.lblHEXFILE.Caption =
        "Press to select a file to PROGRAM/VERIFY the firmware in the TARN product. 'Get Last "
        "Used' to load file used for last PROGRAM.";
    CheckINI(g.files.KvtLastUsedName, g.files.KvtLastUsedPath);
}

void KvtMenu() {
    TraceScope trace("KvtMenu()");
    ui::ShowMsg("", ui::colour::kButtonFace);
    g.cmd.UiCommand = 0;
    for (;;) {
        if (PortLost()) {
            // The adapter has gone: nothing can reach the KVT any more.
            TraceLine("-- KVT: port lost");
            LeaveKvt();
            ui::ShowNotice(ui::Notice::PortNotAvailable);
            P().dialogs->MsgBox("The serial port of the KVT has gone.\r\n\r\n" +
                                    std::string(kProgramName) +
                                    " leaves KVT mode.  Check the cable, then SCAN or power "
                                    "cycle the KVT to start again.",
                                platform::mb::kExclamation + platform::mb::kOk, kProgramName);
            return;
        }
        switch (g.cmd.UiCommand) {
            case uicmdSCAN:
                // SCAN leaves the KVT: the port list and SCAN serve the normal window again.
                LeaveKvt();
                return;
            case uicmdHEXFILE:
                KvtSelectFile();
                break;
            case uicmdLASTUSED:
                KvtLastUsed();
                break;
            case uicmdVERIFY:
                KvtRemap();
                break;
            case uicmdPROGRAM:
                KvtDownload();
                break;
            default:
                break;
        }
        TraceShortcut();
        P().desktop->SetMousePointer(platform::MousePointer::Default);
        P().events->WaitForEvents(kIdleSliceMs);
    }
}

void KvtSelectFile() {
    TraceLine("-- KVT: select HEX file");
    ui::DisableAllButtons();
    g.result.ErrorCode = 0;
    ui::DisplayError();
    KvtUI();
    const std::string path = ChooseHexFile("Select MAIN Hex File");
    if (!path.empty()) {
        Delay(100);
        g.files.SelectedFilePath = path;
        g.files.SelectedFileName = FileNameOf(path);
        // A file that passes becomes the KVT's file; a refused one leaves the KVT's file as
        // it was, with the reason shown.
        if (ValidateHexFile(g.files.SelectedFileName, g.files.SelectedFilePath)) {
            KvtUI();
            ui::ShowMsg("HEX FILE OK", ui::colour::kGreen);
        }
        SelectKvtFile();
    }
    EndOperation();
}

void KvtLastUsed() {
    TraceLine("-- KVT: get last used HEX file");
    P().desktop->SetMousePointer(platform::MousePointer::Hourglass);
    ui::DisableAllButtons();
    g.result.ErrorCode = 0;
    ui::DisplayError();
    KvtUI();
    auto& files = g.files;
    g.files.SelectedFileName = files.KvtLastUsedName;
    g.files.SelectedFilePath = files.KvtLastUsedPath;
    if (ValidateHexFile(files.KvtLastUsedName, files.KvtLastUsedPath)) {
        ui::ShowMsg("HEX FILE OK", ui::colour::kGreen);
        Delay(1000);
    }
    SelectKvtFile();
    EndOperation();
}

void KvtDownload() {
    TraceLine("-- KVT: download");
    auto& files = g.files;
    auto& f = frmUI();
    ui::DisableAllButtons();
    // Text the KVT sent before the operator is asked is not the power cycle asked for; what
    // comes while the request blinks is.
    ClearInBuffer();
    g.menus.SerialText.clear();
    kvt::AskForPowerCycle("Cycle power on KVT to begin programming.", true);
    kvt::OfferExit();
    TextWait step =
        WaitForAnyText({"download...", "CHECK SUM error occured"}, kvt::kPowerCycleBoundMs);
    if (step != TextWait::Found)
        return kvt::LeaveWait(step, true);
    Delay(100);
    SendToProduct(" ");

    g.menus.SerialText.clear();
    step = WaitForAnyText({"begin.", "Ready to receive HEX file"}, kvt::kAnswerBoundMs);
    if (step != TextWait::Found)
        return kvt::LeaveWait(step, false);
    Delay(100);
    SendToProduct(" ");

    ui::ShowMsg("Flashing KVT...", ui::colour::kButtonFace);
    Delay(1000);
    step = WaitForAnyText({"Ready to receive HEX file..."}, kvt::kEraseBoundMs);
    if (step != TextWait::Found)
        return kvt::LeaveWait(step, false);
    kvt::WithdrawExit();
    g.menus.MenuText += g.menus.SerialText;
    g.menus.SerialText.clear();

    ui::DisableAllButtons();
    f.ProgressBar1.Visible = true;
    ui::ShowMsg("Sending hex file...", ui::colour::kButtonFace);
    Delay(1000);
    if (files.KvtFilePath.empty() || !std::ifstream(files.KvtFilePath, std::ios::binary)) {
        f.ProgressBar1.Visible = false;
        g.result.ErrorCode = 1202;
        ui::DisplayError();
        return EndOperation();
    }
    ui::ShowMsg("Sending file...", ui::colour::kButtonFace);
    kvt::OfferExit();
    // The KVT's boot loader knows no refusal: a transfer left or stalled simply stops, and
    // the KVT waits in its boot loader for the next power cycle.
    const FileSend sent = SendFileAsText(files.KvtFilePath, false);
    kvt::WithdrawExit();
    f.ProgressBar1.Value = 0;
    f.ProgressBar1.Visible = false;
    if (sent != FileSend::Sent) {
        g.result.ErrorCode = sent == FileSend::NoFile ? 1202 : 1204;
        ui::DisplayError();
        g.result.ErrorCode = 0;  // the KVT stays served: the download may be tried again
        ClearInBuffer();
        return EndOperation();
    }

    // The KVT restarts with the new application: its revision is read again. Only a download
    // it reported completed, into an application that starts, is the last used file.
    KVT_Boot();
    if (g.menus.kvt.DownloadCompleted && !g.menus.kvt.KvtChecksumError) {
        SelectKvtFile();
        WriteINI();
        KvtUI();
        ui::ButtonEnabler();
        ui::ShowMsg("PROGRAM OK", ui::colour::kGreen);
    } else {
        ui::ShowNotice(ui::Notice::KvtDownloadNotCompleted);
    }
    g.cmd.UiCommand = 0;
}

namespace kvt {

void AskForPowerCycle(const std::string& text, bool programRow) {
    auto& f = frmUI();
    ui::Label& label = programRow ? f.lblPROGRAM : f.lblVERIFY;
    label.Caption = text;
    label.Visible = true;
    for (int blink = 0; blink < 2; ++blink) {
        label.BackColor = ui::colour::kRed;
        label.ForeColor = ui::colour::kWhite;
        Delay(250);
        label.BackColor = ui::colour::kNavy;
        label.ForeColor = ui::colour::kWhite;
        Delay(250);
    }
}

void OfferExit() {
    auto& button = frmUI().btnCANCEL;
    g.cmd.ContinueFlag = false;
    auto& saved = g.menus.kvt.ExitButtonPlace;
    saved = {button.Left, button.Top, button.Width, button.Height};
    button.Caption = "Cancel";
    // In place of the serial console's button, which a wait on the KVT has no use for.
    frmUI().btnShowDiagnostic.Visible = false;
    button.Move(kRowButtonLeft, kRowButtonTop, kRowButtonWidth, kRowButtonHeight);
    button.Enabled = true;
    button.Visible = true;
}

void WithdrawExit() {
    auto& button = frmUI().btnCANCEL;
    button.Visible = false;
    const auto& saved = g.menus.kvt.ExitButtonPlace;
    if (saved[2] > 0)
        button.Move(saved[0], saved[1], saved[2], saved[3]);
    g.cmd.ContinueFlag = false;
}

void LeaveWait(TextWait result, bool powerCycle) {
    WithdrawExit();
    switch (result) {
        case TextWait::Exit:
            TraceLine("-- KVT: wait left by the operator");
            ui::ShowMsg("", ui::colour::kButtonFace);
            break;
        case TextWait::Silent:
            ui::ShowNotice(powerCycle ? ui::Notice::KvtPowerCycleNotSeen
                                      : ui::Notice::KvtNotResponding);
            break;
        default:
            ui::ShowNotice(ui::Notice::KvtNotResponding);
            break;
    }
    // What the KVT sent so far belongs to a dialogue that has been given up.
    g.menus.SerialText.clear();
    ClearInBuffer();
    KvtUI();
    EndOperation();
}

}  // namespace kvt

}  // namespace rompush
