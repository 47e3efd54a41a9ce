#include "app/main_loop.h"

#include <filesystem>
#include <string>

#include "commands/commands.h"
#include "commands/port_selection.h"
#include "core/settings_file.h"
#include "core/state.h"
#include "core/text.h"
#include "core/trace.h"
#include "menus/meridan.h"
#include "menus/product_text.h"
#include "menus/serial_banner.h"
#include "menus/serial_console.h"
#include "platform/platform.h"
#include "ps2/kb_controller.h"
#include "serial/comm.h"
#include "serial/packets.h"
#include "ui/main_window.h"
#include "ui/shortcuts.h"

namespace rompush {

namespace {
// An idle pass sleeps at most this long; clicks and keys wake it at once.
constexpr int kIdleSliceMs = 50;
// Start-up gives up after this many early errors instead of restarting for ever.
constexpr int kMaxStartupAttempts = 5;

const platform::Services& P() {
    return platform::Current();
}

// Runs one start-up statement; from step 9 on a failing statement is skipped.
template <typename Step>
void Skipping(Step step) {
    try {
        step();
    } catch (const std::exception& error) {
        TraceLine(std::string("--    skipped: ") + error.what());
    }
}

// Steps 1 to 8; an error here restarts the start-up.
void EarlyStartUp() {
    TraceLine("Main()");
    g.trace.TraceIndent = "";
    g.cmd.ProductMode = "FALSE";
    auto& form = frmUI();
    for (ui::PictureBox* picture :
         {&form.picTarnICO, &form.picTarnLogo, &form.picQuillICO, &form.picQuillLogo}) {
        picture->Visible = false;
    }
    // The maker's own brand is the one built.
    const std::string folder = P().system->ProgramFolder();
    g.cmd.HelpFileName =
        std::filesystem::exists(folder + "/RomPush.html") ? "/RomPush.html" : "/Help_Tarn.html";
    cmdDetectOS();
    P().system->CreateNamedMutex("RomPushMutexName");
    g.files.SelectedFilePath = "";
    g.files.SelectedFileName = "";
    BuildCrcTable();
}

void RestartMessage(const std::string& number, const std::string& description) {
    P().dialogs->MsgBox("Error Number: " + number + "\r\nDescription: " + description +
                            "\r\n\r\nRestarting RomPush",
                        platform::mb::kCritical + platform::mb::kOk, "RomPush Utility");
    frmUI().cboPORT.Clear();
}
}  // namespace

void StartUp() {
    for (int attempt = 1;; ++attempt) {
        g.cmd.StartupAttempts = attempt;
        try {
            EarlyStartUp();
            break;
        } catch (const std::system_error& error) {
            RestartMessage(std::to_string(error.code().value()), error.what());
        } catch (const std::exception& error) {
            RestartMessage("5", error.what());
        }
        if (attempt >= kMaxStartupAttempts) {
            // A fault that comes back every time would otherwise ask for ever.
            P().events->RequestEnd();
            P().events->DoEvents();
        }
    }

    auto& form = frmUI();
    Skipping(CheckIniSignature);
    Skipping([&] {
        ui::frmUI_Load();
        form.btnSCAN.Enabled = false;
        form.cboPORT.Enabled = false;
        form.btnCommPort.Enabled = false;
        form.btnHEXFILE.Enabled = false;
        form.Visible = true;
    });
    Skipping([] {
        ui::ShowMsg("Detecting Com Ports...", ui::colour::kButtonFace);
        Delay(1000);
    });
    g.cmd.CurrentCommand = 0;
    g.port.SavedBaudIndex = ui::kDefaultBaudIndex;
    g.port.SavedDataBitsIndex = ui::kDefaultDataBitsIndex;
    g.port.SavedFlowIndex = ui::kDefaultFlowIndex;
    g.port.SavedParityIndex = ui::kDefaultParityIndex;
    g.port.SavedStopBitsIndex = ui::kDefaultStopBitsIndex;
    Skipping([] {
        P().serial->SetSThreshold(0);
        P().serial->SetRThreshold(0);
    });
    g.cmd.MainLoopRunning = false;
    Skipping([] { FindComPorts(true); });
    Skipping([] { ui::ShowMsg("", ui::colour::kButtonFace); });
    g.port.BaudSetting = "115200";
    form.btnSCAN.Enabled = true;
    form.cboPORT.Enabled = true;
    form.btnCommPort.Enabled = true;
    Skipping([] {
        if (P().serial->PortOpen())
            P().serial->SetPortOpen(false);
    });
    const std::string entry = form.cboPORT.Text();
    g.port.CommPortNumber = static_cast<std::uint8_t>(PortNumberOfEntry(entry));
    if (g.port.CommPortNumber != 0) {
        Skipping([] {
            P().serial->SetCommPort(g.port.CommPortNumber);
            P().serial->SetPortOpen(true);
        });
    } else if (form.cboPORT.ListCount() > 0) {
        form.cboPORT.SetListIndex(form.cboPORT.ListCount() - 1);
    }
    form.btnHEXFILE.Enabled = true;
    form.SetFocus(form.btnSCAN);
    g.trace.TraceOn = false;
    Skipping(ClearInBuffer);
    g.cmd.UiCommand = 0;
}

void RecoveryOffer() {
    // Asked on every pass, so a Ctrl+F12 pressed while the offer could not be made is not
    // kept for a later pass.
    const bool keys = ShortcutDown(kCtrl, kF12);
    const int code = g.hex.FileProductCode;
    const std::string& id = g.dev.DevIdName;
    if (g.result.ErrorCode != 1002)
        return;
    if (id != "VLNMINI" && id != "TWPx  Tx (Master)" && id != "TWPx  Tx (Slave)")
        return;
    const int master = 'M' ^ 0x96;  // 0xDB
    const int slave = 'L' ^ 0x96;   // 0xDA
    if (code != master && code != slave)
        return;
    if (!OwnWindowInFront() || !keys)
        return;

    WaitForRelease(kCtrl, kF12);
    const std::string current = id == "VLNMINI" ? "TWPx  Transmitter" : id;
    const bool toMaster = code == master;
    const std::string target = toMaster ? "TWPx  Tx (Master)" : "TWPx  Tx (Slave)";
    const int answer = P().dialogs->MsgBox(
        "This hex file is for: " + target + "    \r\r\nCurrent firmware is : " + current +
            "\r\r\nDOWNLOAD TO HARDWARE?",
        platform::mb::kOkCancel + platform::mb::kExclamation + platform::mb::kDefaultButton2,
        "QRX-MP2 Firmware Recovery");
    if (answer == platform::mb::kAnswerOk) {
        g.dev.DevLetter = toMaster ? "M" : "L";
        g.cmd.UiCommand = uicmdPROGRAM;
        TraceCommandMarker("PROGRAM");
    }
}

void CommandLoopPass() {
    g.cmd.MainLoopRunning = true;
    TraceShortcut();
    switch (g.cmd.UiCommand) {
        case uicmdSCAN:
            ScanCommand();
            break;
        case uicmdHEXFILE:
            HexFileCommand();
            break;
        case uicmdLASTUSED:
            LastUsedCommand();
            break;
        case uicmdERASE:
            EraseCommand();
            break;
        case uicmdVERIFY:
            VerifyCommand();
            break;
        case uicmdPROGRAM:
            ProgramCommand();
            break;
        case uicmdNONE:
            // Only while idle: nothing changes under a running command.
            FollowPortChanges();
            if (g.port.CommPortNumber != kPs2PortNumber)
                CheckSerialBanner();
            g.cmd.UiCommand = 0;
            break;
        default:
            break;  // no button posts any other code: it is left alone
    }
    RecoveryOffer();
    P().desktop->SetMousePointer(platform::MousePointer::Default);
    P().events->WaitForEvents(kIdleSliceMs);
}

void Main() {
    WireMainWindowHandlers();
    StartUp();
    for (;;)
        CommandLoopPass();
}

// ---- the operator's buttons --------------------------------------------------------------

namespace {
void Post(std::uint8_t command, const char* name) {
    g.cmd.UiCommand = command;
    if (name)
        TraceCommandMarker(name);
}
}  // namespace

void btnSCAN_MouseUp() {
    Post(uicmdSCAN, "SCAN");
}
void btnHEXFILE_MouseUp() {
    Post(uicmdHEXFILE, "HEXFILE");
}
void btnLASTUSED_MouseUp() {
    Post(uicmdLASTUSED, "LASTUSED");
}
void btnERASE_MouseUp() {
    Post(uicmdERASE, "ERASE");
}
void btnVERIFY_MouseUp() {
    Post(uicmdVERIFY, "VERIFY");
}
void btnPROGRAM_MouseUp() {
    Post(uicmdPROGRAM, "PROGRAM");
}

void btnMainCpy_MouseUp() {
    g.cmd.CopyTarget = "MAIN";
    Post(uicmdERASE, nullptr);
}

void btnKernelCpy_MouseUp() {
    g.cmd.CopyTarget = "KERNEL";
    Post(uicmdERASE, nullptr);
}

void btnDefaults_MouseUp() {
    g.cmd.CfxSetup = "DEFAULTS";
    Post(uicmdVERIFY, nullptr);
}

void btnStartCpu_MouseUp() {
    g.cmd.CfxSetup = "STARTCPU";
    Post(uicmdVERIFY, nullptr);
}

void btnCANCEL_MouseUp() {
    auto& form = frmUI();
    g.cmd.ContinueFlag = true;
    form.btnShowDiagnostic.Visible = form.btnCANCEL.Caption != "Cancel";
    // Only an open console holds the session; from another view the text the products put
    // into ConsoleLog stays.
    if (form.txtSerialDisplay.Visible)
        g.menus.ConsoleLog = form.txtSerialDisplay.Text;
    form.txtSerialDisplay.Visible = false;
    form.btnSaveSerialDisplay.Visible = false;
    ui::HideMenuControls();
}

void WireMainWindowHandlers() {
    auto& form = frmUI();
    form.btnSCAN.MouseUp = btnSCAN_MouseUp;
    form.btnHEXFILE.MouseUp = btnHEXFILE_MouseUp;
    form.btnLASTUSED.MouseUp = btnLASTUSED_MouseUp;
    form.btnERASE.MouseUp = btnERASE_MouseUp;
    form.btnVERIFY.MouseUp = btnVERIFY_MouseUp;
    form.btnPROGRAM.MouseUp = btnPROGRAM_MouseUp;
    form.btnMainCpy.MouseUp = btnMainCpy_MouseUp;
    form.btnKernelCpy.MouseUp = btnKernelCpy_MouseUp;
    form.btnDefaults.MouseUp = btnDefaults_MouseUp;
    form.btnStartCpu.MouseUp = btnStartCpu_MouseUp;
    form.btnCANCEL.MouseUp = btnCANCEL_MouseUp;
    form.optMAIN.Click = optMAIN_Click;
    form.optUSB.Click = optUSB_Click;
    form.optQRX.Click = optQRX_Click;
    form.btnShowDiagnostic.MouseUp = btnShowDiagnostic_MouseUp;
    form.btnSaveSerialDisplay.MouseUp = btnSaveSerialDisplay_MouseUp;
    form.txtSerialDisplay.KeyUp = txtSerialDisplay_KeyUp;
    P().serial->SetOnComm(MSComm1_OnComm);
    form.btnCommPort.MouseUp = btnCommPort_MouseUp;
    form.btnShowHelp.MouseUp = ui::btnShowHelp_Click;
    form.btnTitleBar.MouseUp = ui::btnTitleBar_Click;
    form.cmdTitleBarButton.MouseUp = ui::cmdTitleBarButton_Click;
    form.cboPORT.Click = cboPORT_Click;
    form.cboPORT.LostFocus = cboPORT_LostFocus;
    form.Unload = Form_Unload;
    P().timer->SetTickHandler(Timer1_Timer);
}

void Form_Unload() {
    // The progress bar is never moved to another window here. A window closed while a
    // keyboard-port operation holds the controller gives it back first, so the PC's keyboard
    // and mouse work again; then the port-access provider is shut down.
    ShutdownKeyboardPort();
    for (ui::Form* form :
         {static_cast<ui::Form*>(&g.forms->frmComParameters), static_cast<ui::Form*>(&frmUI())}) {
        form->Visible = false;
    }
    g.forms->frmComParameters.Loaded = false;
    ui::frmConfigDevice_Unload();
    ui::frmSaveConfig_Unload();
    ui::frmHelpAbout_Unload();
    // A file being sent is aborted as the product expects before its port closes.
    AbortTransferOnClose();
    try {
        if (P().serial->PortOpen())
            P().serial->SetPortOpen(false);
    } catch (const platform::PlatformError&) {
    }
    P().timer->SetEnabled(false);
    if (g.trace.File)
        g.trace.File->flush();
    P().events->RequestEnd();
}

}  // namespace rompush
