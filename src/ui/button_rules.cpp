// Which buttons of the main window the operator may use, per product mode; the reset of the
// window to its normal look and the lock-out while an operation runs.
#include <string>

#include "core/settings_file.h"
#include "core/state.h"
#include "core/trace.h"
#include "ui/main_window.h"

namespace rompush::ui {

namespace {

// A file is chosen, nothing has gone wrong and a device answered: PROGRAM may run.
bool Ready(const std::string& fileName) {
    return !fileName.empty() && g.result.ErrorCode == 0 && g.dev.DeviceFound;
}

// 'Get Last Used' is only offered when it would load another file than the one chosen.
void LastUsedRule(const std::string& lastUsedPath, const std::string& selectedPath) {
    CommandButton& button = frmUI().btnLASTUSED;
    if (lastUsedPath.empty() || lastUsedPath == selectedPath) {
        button.Enabled = false;
    } else if (g.dev.DeviceFound) {
        button.Enabled = true;
    }
}

// What the serial-menu modes share: VERIFY and the file buttons follow the mode's file slot.
void EnableModeFileButtons(const std::string& fileName, const std::string& filePath,
                           const std::string& lastUsedPath) {
    FrmUI& f = frmUI();
    f.btnVERIFY.Enabled = true;
    f.btnHEXFILE.Enabled = true;
    if (!fileName.empty()) {
        f.btnHEXFILE.Caption = fileName;
    } else if (g.result.ErrorCode == 0) {
        f.btnHEXFILE.Caption = "SELECT FILE";
    }
    // With no file and an error shown the button keeps its caption rather than going blank.
    f.btnPROGRAM.Enabled = Ready(fileName);
    LastUsedRule(lastUsedPath, filePath);
}

bool IsConfigurable(const std::string& letter) {
    return letter == "V" || letter == "B" || letter == "T";
}

}  // namespace

// A KVT is served until SCAN leaves it: its own file slot, its button remap in place of
// VERIFY, no ERASE, and the port it was found on.
void EnableButtonsKvt() {
    FrmUI& f = frmUI();
    const auto& files = g.files;
    f.btnSCAN.Enabled = true;
    f.cboPORT.Enabled = false;
    f.btnCommPort.Enabled = false;
    f.btnHEXFILE.Enabled = true;
    f.btnHEXFILE.Caption = files.KvtFileName.empty() ? "SELECT HEX FILE" : files.KvtFileName;
    f.btnERASE.Visible = false;
    f.btnERASE.Enabled = false;
    f.fraVERIFY.Visible = true;
    f.btnVERIFY.Visible = true;
    f.btnVERIFY.Enabled = !g.menus.kvt.KvtChecksumError;  // remapping needs its application
    f.btnPROGRAM.Enabled = Ready(files.KvtFileName);
    LastUsedRule(files.KvtLastUsedPath, files.KvtFilePath);
    f.btnShowDiagnostic.Visible = true;
    f.btnShowDiagnostic.Enabled = true;
}

void EnableButtonsNormal() {
    if (g.dev.DevLetter == "$") {
        EnableButtonsKvt();
        return;
    }
    FrmUI& f = frmUI();
    const auto& files = g.files;
    f.cboPORT.Enabled = true;
    f.btnCommPort.Enabled = true;
    f.btnHEXFILE.Enabled = true;
    f.btnHEXFILE.Caption =
        files.SelectedFileName.empty() ? "SELECT HEX FILE" : files.SelectedFileName;

    const std::string& letter = g.dev.DevLetter;
    constexpr const char* kConfigureText =
        "View and modify the configuration settings of the attached device";
    // The tip tells what the button does for the device found, and nothing for the others.
    f.btnERASE.ToolTipText = IsConfigurable(letter) ? kConfigureText : "";
    if (letter == "K" || IsConfigurable(letter)) {
        // Keyboard-port devices cannot be erased or verified on their own.
        f.btnERASE.Enabled = false;
        f.btnVERIFY.Enabled = false;
        if (IsConfigurable(letter)) {
            // Orbit and Prisma: the ERASE row becomes the configuration row.
            f.fraVERIFY.Visible = false;
            f.btnVERIFY.Visible = false;
            f.btnERASE.Enabled = g.result.ErrorCode == 0;
            f.btnERASE.Caption = "CONFIGURE DEVICE";
            f.lblERASE.Caption = kConfigureText;
        }
    } else {
        f.lblVERIFY.Caption =
            "Check that the application firmware in the Tarn product and the hex file are the "
            "same.";
        f.fraVERIFY.Visible = true;
        f.btnVERIFY.Visible = true;
        f.fraERASE.Visible = true;
        f.btnERASE.Visible = true;
        f.btnERASE.Caption = "ERASE";
        f.lblERASE.Caption = "Delete the application firmware in the Tarn product's memory.";
        f.btnERASE.Enabled = !g.dev.DevRev.empty() && g.dev.DeviceFound;
        f.btnVERIFY.Enabled = Ready(files.SelectedFileName) && !g.dev.DevRev.empty();
    }

    f.btnPROGRAM.Enabled = Ready(files.SelectedFileName);
    LastUsedRule(files.LastUsedPath, files.SelectedFilePath);
}

void EnableButtonsMain() {
    FrmUI& f = frmUI();
    auto& files = g.files;
    CheckINI(files.LastUsedName, files.LastUsedPath);
    EnableModeFileButtons(files.SelectedFileName, files.SelectedFilePath, files.LastUsedPath);

    f.btnERASE.Caption = "SEND MAIN";
    f.optMAIN.Enabled = true;
    const auto& meridan = g.menus.meridan;
    if (!meridan.UsbPresent && !meridan.QrxPresent) {
        f.optUSB.Enabled = false;
        f.optQRX.Enabled = false;
    } else {
        f.btnShowDiagnostic.Enabled = true;
        f.optUSB.Enabled = meridan.MenuOption[kMeridanUsbReceiveOption] != 0;
        f.optQRX.Enabled = meridan.MenuOption[kMeridanQrxReceiveOption] != 0;
        f.btnPROGRAM.Caption = "PROGRAM MAIN";
    }
    f.SetFocus(f.optMAIN);
}

namespace {
// The USB and QRX targets of a Meridan differ only in the file they send.
void EnableMeridanTargetButtons(const std::string& fileName, const std::string& filePath,
                                const std::string& lastUsedPath) {
    FrmUI& f = frmUI();
    EnableModeFileButtons(fileName, filePath, lastUsedPath);
    f.btnShowDiagnostic.Enabled = true;
    f.optMAIN.Enabled = true;
    f.optUSB.Enabled = true;
    f.optQRX.Enabled = g.menus.meridan.QrxPresent;
}
}  // namespace

void EnableButtonsUsb() {
    const auto& files = g.files;
    EnableMeridanTargetButtons(files.UsbFileName, files.UsbFilePath, files.UsbLastUsedPath);
}

void EnableButtonsQrx() {
    const auto& files = g.files;
    EnableMeridanTargetButtons(files.QrxFileName, files.QrxFilePath, files.QrxLastUsedPath);
}

void EnableButtonsCfx() {
    FrmUI& f = frmUI();
    auto& files = g.files;
    std::string lastUsedName;  // the Crossfield slot keeps only the path
    CheckINI(lastUsedName, files.CfxLastUsedPath);
    EnableModeFileButtons(files.CfxFileName, files.CfxFilePath, files.CfxLastUsedPath);
    f.btnShowDiagnostic.Enabled = true;
    for (CommandButton* button :
         {&f.btnERASE, &f.btnMainCpy, &f.btnKernelCpy, &f.btnDefaults, &f.btnStartCpu}) {
        button->Enabled = true;
    }
}

void ButtonEnabler() {
    TraceScope trace("ButtonEnabler()");
    FrmUI& f = frmUI();
    const std::string& mode = g.cmd.ProductMode;
    f.btnSCAN.Enabled = true;
    if (g.result.ErrorCode != 1101) {
        if (mode == "FALSE") {
            EnableButtonsNormal();
        } else if (mode == "MAIN") {
            EnableButtonsMain();
        } else if (mode == "USB") {
            EnableButtonsUsb();
        } else if (mode == "QRX") {
            EnableButtonsQrx();
        } else if (mode == "CFX") {
            EnableButtonsCfx();
        }
    }
    if (mode == "MAIN" || mode == "QRX") {
        f.btnERASE.Enabled = mode == "QRX" || g.menus.meridan.MultiController;
    }

    TraceLine(std::string("--    frmUI.btnSCAN.Enabled = ") + BoolText(f.btnSCAN.Enabled));
    TraceLine(std::string("--    frmUI.btnHEXFILE.Enabled = ") + BoolText(f.btnHEXFILE.Enabled));
    TraceLine("--    frmUI.btnHEXFILE.Caption = " + f.btnHEXFILE.Caption);
    TraceLine(std::string("--    frmUI.btnLASTUSED.Enabled = ") + BoolText(f.btnLASTUSED.Enabled));
    TraceLine(std::string("--    frmUI.btnERASE.Enabled = ") + BoolText(f.btnERASE.Enabled));
    TraceLine(std::string("--    frmUI.btnVERIFY.Enabled = ") + BoolText(f.btnVERIFY.Enabled));
    TraceLine(std::string("--    frmUI.btnPROGRAM.Enabled = ") + BoolText(f.btnPROGRAM.Enabled));
}

void DefaultUI() {
    TraceScope trace("DefaultUI()");
    FrmUI& f = frmUI();

    f.btnSCAN.Visible = true;
    f.btnSCAN.Enabled = true;
    f.btnSCAN.Caption = "SCAN";
    f.btnSCAN.Font.Bold = true;
    f.btnSCAN.Height = 375;
    f.btnSCAN.Left = 240;
    f.btnSCAN.Top = 1240;
    f.btnSCAN.Width = 2655;
    f.btnCommPort.Visible = true;
    f.cboPORT.Visible = true;

    for (Control* control :
         {static_cast<Control*>(&f.optMAIN), static_cast<Control*>(&f.optUSB),
          static_cast<Control*>(&f.optQRX), static_cast<Control*>(&f.btnKernelCpy),
          static_cast<Control*>(&f.btnMainCpy), static_cast<Control*>(&f.btnDefaults),
          static_cast<Control*>(&f.btnStartCpu)}) {
        control->Visible = false;
    }

    f.btnHEXFILE.Enabled = true;
    f.btnHEXFILE.Visible = true;
    f.btnHEXFILE.Height = 615;
    f.btnHEXFILE.Left = 240;
    f.btnHEXFILE.Top = 2340;
    f.btnHEXFILE.Width = 2055;
    f.btnHEXFILE.Caption = "SELECT HEX FILE";
    f.btnHEXFILE.Font.Bold = true;
    f.btnLASTUSED.Enabled = false;
    f.btnLASTUSED.Visible = true;
    f.btnLASTUSED.Height = 615;
    f.btnLASTUSED.Left = 2160;
    f.btnLASTUSED.Top = 240;
    f.btnLASTUSED.Width = 650;
    f.fraHEXFILE.Height = 975;

    f.btnERASE.Visible = true;
    f.btnERASE.Top = 3320;
    f.btnERASE.Height = 495;
    f.btnERASE.Caption = "ERASE";
    f.btnERASE.Font.Bold = true;
    f.btnVERIFY.Visible = true;
    f.btnVERIFY.Top = 4150;
    f.btnVERIFY.Height = 495;
    f.btnVERIFY.Caption = "VERIFY";
    f.btnVERIFY.Font.Bold = true;
    f.btnPROGRAM.Visible = true;
    f.btnPROGRAM.Top = 5010;
    f.btnPROGRAM.Caption = "PROGRAM";
    f.btnPROGRAM.Font.Bold = true;
}

void DisableAllButtons() {
    TraceScope trace("DisableAllButtons()");
    FrmUI& f = frmUI();
    for (Control* control :
         {static_cast<Control*>(&f.btnShowDiagnostic), static_cast<Control*>(&f.btnSCAN),
          static_cast<Control*>(&f.btnHEXFILE), static_cast<Control*>(&f.btnLASTUSED),
          static_cast<Control*>(&f.btnERASE), static_cast<Control*>(&f.btnVERIFY),
          static_cast<Control*>(&f.btnPROGRAM), static_cast<Control*>(&f.btnMainCpy),
          static_cast<Control*>(&f.btnKernelCpy), static_cast<Control*>(&f.btnDefaults),
          static_cast<Control*>(&f.btnStartCpu), static_cast<Control*>(&f.cboPORT),
          static_cast<Control*>(&f.btnCommPort), static_cast<Control*>(&f.optMAIN),
          static_cast<Control*>(&f.optUSB), static_cast<Control*>(&f.optQRX)}) {
        control->Enabled = false;
    }
    for (Label* label : {&f.lblSCAN, &f.lblHEXFILE, &f.lblERASE, &f.lblVERIFY}) {
        label->BackColor = colour::kNavy;
    }
    // PROGRAM may have been turned black on yellow by a keyboard-port program.
    f.lblPROGRAM.ForeColor = colour::kWhite;
    f.lblPROGRAM.BackColor = colour::kNavy;
}

}  // namespace rompush::ui
