// ERASE, PROGRAM and VERIFY: the flash routines of the identified device's bootloader family,
// then the device's application started again and identified, so the status panels show the
// new revision. A good PROGRAM records its file as the device's last used one and runs VERIFY.
// Keyboard-port devices are programmed over the keyboard controller and followed by SCAN.
#include <string>

#include "commands/commands.h"
#include "core/settings_file.h"
#include "core/state.h"
#include "core/trace.h"
#include "hexfile/hex_validation.h"
#include "ps2/configure_device.h"
#include "ps2/ps2_program.h"
#include "serial/comm.h"
#include "serial/flash_program.h"
#include "serial/flash_verify.h"
#include "serial/identify.h"
#include "serial/packets.h"
#include "ui/main_window.h"

namespace rompush {

namespace {

bool IsVln(const std::string& letter) {
    return letter == "H" || letter == "M" || letter == "L";
}

bool IsQtr(const std::string& letter) {
    return letter == "D";
}

// Orbit Tiny, Orbit Mini and Prisma: keyboard-port devices with a configuration.
bool IsConfigurable(const std::string& letter) {
    return letter == "T" || letter == "V" || letter == "B";
}

bool IsKeyboardPortDevice(const std::string& letter) {
    return letter == "K" || IsConfigurable(letter);
}

// PROGRAM of a keyboard-port device: a good one records the file as last used and chains to
// SCAN, which shows the new revision and "Program and Verify OK" in green.
void ProgramKeyboardPortDevice() {
    auto& files = g.files;
    if (g.dev.DevLetter == "K" && !CkForNonFlashFW()) {
        g.cmd.UiCommand = 0;
        return;
    }
    ProgramPs2Device();
    ui::DisplayError();
    CheckINI(files.LastUsedName, files.LastUsedPath);
    ui::ButtonEnabler();
    if (g.result.ErrorCode != 0) {
        g.cmd.UiCommand = 0;
        return;
    }
    files.LastUsedName = files.SelectedFileName;
    files.LastUsedPath = files.SelectedFilePath;
    frmUI().btnLASTUSED.Enabled = false;  // the file now is the last used one
    WriteINI();
    ui::DisplayError();
    ui::ButtonEnabler();
    ui::ShowMsg("Program and Verify OK", ui::colour::kButtonFace);
    Delay(1000);
    g.result.ProgramVerifyOk = true;
    g.cmd.UiCommand = uicmdSCAN;
}

void ReopenAt115200() {
    g.port.BaudSetting = "115200";
    SetCommPort(SelectedPortNumber());
}

// After an erase or a program: the application runs again and is asked who it is.
void RestartAndIdentify() {
    ClearInBuffer();
    send_packet(4, GO_CMD);
    if (IsQtr(g.dev.DevLetter)) {
        WaitForQTR();
    } else {
        Delay(1000);
    }
    ClearInBuffer();
    xmitID_CMD();
    ui::ButtonEnabler();
}

}  // namespace

void EraseCommand() {
    if (IsConfigurable(g.dev.DevLetter)) {
        // Orbit and Prisma: this button is CONFIGURE DEVICE; nothing is erased.
        ui::DisableAllButtons();
        ConfigureDevice();
        ui::ButtonEnabler();
        ui::DisplayError();
        g.result.ErrorCode = 0;
        g.cmd.UiCommand = 0;
        return;
    }
    CommandPreamble(PreambleInput::Clear);
    g.cmd.CurrentCommand = uicmdERASE;
    g.result.ProgramMode = false;
    if (g.dev.DevLetter == "K") {
        // A Monolink is only ever erased as part of its programming; it has no serial port for
        // the bootloader's restart and identification either.
        ui::ButtonEnabler();
        g.cmd.UiCommand = 0;
        return;
    }

    WaitForQTR();
    ClearInBuffer();
    const std::string letter = g.dev.DevLetter;
    if (IsVln(letter)) {
        EraseProgramVLN();
    } else if (IsQtr(letter)) {
        EraseProgramQTR();
    }

    if (g.result.ErrorCode == 0) {
        RestartAndIdentify();
        if (g.result.ErrorCode == 0) {
            ui::DisplayError();
            ui::ShowMsg("ERASE OK", ui::colour::kGreen);
            Delay(1000);
            ui::ShowMsg("", ui::colour::kButtonFace);
        }
    }
    ui::ButtonEnabler();
    g.cmd.UiCommand = 0;
    ReopenAt115200();
}

void ProgramCommand() {
    CommandPreamble(PreambleInput::Clear);
    g.cmd.CurrentCommand = uicmdPROGRAM;
    g.result.ProgramMode = true;
    ClearInBuffer();

    const std::string letter = g.dev.DevLetter;
    if (IsKeyboardPortDevice(letter)) {
        ProgramKeyboardPortDevice();
        if (!KeyboardPortSelected() && !g.result.ProgramVerifyOk)
            ReopenAt115200();
        return;
    }
    if (IsVln(letter) || IsQtr(letter)) {
        WaitForQTR();
        if (IsVln(letter)) {
            EraseProgramVLN();
        } else {
            EraseProgramQTR();
        }
    }

    auto& files = g.files;
    if (g.result.ErrorCode == 0) {
        RestartAndIdentify();
        if (g.result.ErrorCode == 0) {
            files.LastUsedName = files.SelectedFileName;
            files.LastUsedPath = files.SelectedFilePath;
            frmUI().btnLASTUSED.Enabled = false;  // the file now is the last used one
            WriteINI();
            ui::DisplayError();
            ui::ShowMsg("Program OK", ui::colour::kButtonFace);
            Delay(1000);
            ui::ShowMsg("", ui::colour::kButtonFace);
        }
    } else {
        CheckINI(files.LastUsedName, files.LastUsedPath);
        ui::ButtonEnabler();
    }

    if (g.result.ErrorCode == 0) {
        g.cmd.UiCommand = uicmdVERIFY;
        g.result.ProgramVerifyOk = true;
    } else {
        g.cmd.UiCommand = 0;
    }
    if (!KeyboardPortSelected() && !g.result.ProgramVerifyOk)
        ReopenAt115200();
}

void VerifyCommand() {
    CommandPreamble(PreambleInput::Clear);
    g.cmd.CurrentCommand = uicmdVERIFY;

    const std::string letter = g.dev.DevLetter;
    if (letter == "H" || letter == "L") {
        VerifyVLN();
    } else if (letter == "M") {
        Delay(3000);  // the master transmitter takes its time to restart
        VerifyVLN();
    } else if (IsQtr(letter)) {
        WaitForQTR();
        VerifyQTR();
    }

    if (letter != "K") {
        xmitGO_CMD();
        if (g.result.ErrorCode == 0) {
            if (IsQtr(letter))
                WaitForQTR();
            xmitID_CMD();
        }
    }
    ui::ButtonEnabler();

    auto& f = frmUI();
    if (g.result.ErrorCode == 0) {
        ui::DisplayError();
        g.cmd.UiCommand = 0;
        ui::ShowMsg(g.result.ProgramVerifyOk ? "Program and Verify OK" : "Verify OK",
                    ui::colour::kGreen);
        g.result.ProgramVerifyOk = false;
        Delay(3000);
        ClearInBuffer();
        Delay(1000);
    } else {
        ClearInBuffer();
        g.cmd.UiCommand = 0;
        // The button rules have just put the VERIFY row's description back; the error is shown
        // again so its text stands, in the PROGRAM row when a PROGRAM came before. After that
        // the program counts as not verified, so no later SCAN reports it as verified.
        ui::DisplayError();
        g.result.ProgramVerifyOk = false;
    }
    if (f.btnPROGRAM.Enabled)
        f.SetFocus(f.btnPROGRAM);
    if (!KeyboardPortSelected() && !g.result.ProgramVerifyOk) {
        ReopenAt115200();
        EndCommand(uicmdVERIFY);  // a button pressed during the pauses above still runs
    }
}

}  // namespace rompush
