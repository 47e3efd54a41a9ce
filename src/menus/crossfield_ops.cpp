// The Crossfield's operations: sending firmware to the other boards, factory defaults and the
// starting computer, programming by the HEX file sent as text, the kernel recovery, and the
// choice of the HEX file.
#include <algorithm>
#include <cctype>

#include "core/settings_file.h"
#include "core/state.h"
#include "core/text.h"
#include "core/trace.h"
#include "hexfile/hex_file_dialog.h"
#include "hexfile/hex_validation.h"
#include "menus/crossfield.h"
#include "menus/crossfield_steps.h"
#include "platform/platform.h"
#include "serial/comm.h"
#include "ui/frm_start_cpu.h"
#include "ui/main_window.h"
#include "ui/notices.h"

namespace rompush {

namespace {
// Progress scales: factory defaults are loaded in about 95 reads, flashing shows 114 dots.
constexpr int kDefaultsScale = 95;
constexpr int kFlashScale = 114;
constexpr int kCopyScale = 100;
constexpr int kDialogSliceMs = 50;

platform::Services P() {
    return platform::Current();
}

void Busy(bool busy) {
    P().desktop->SetMousePointer(busy ? platform::MousePointer::Hourglass
                                      : platform::MousePointer::Default);
}

// The start of every operation: the last menu kept, old text dropped.
void BeginOperation() {
    cfx::KeepLastMenuBlock();
    g.menus.SerialText.clear();
    g.cmd.ContinueFlag = false;
    Busy(true);
}

// The end of every operation: buttons back, what was received kept for the console.
void EndOperation() {
    frmUI().ProgressBar1.Visible = false;
    if (!g.menus.cfx.ModeEnded)
        ui::ButtonEnabler();
    Busy(false);
    cfx::KeepReceived();
    g.cmd.UiCommand = 0;
}

// The text from "Error" up to the second carriage return after it.
std::string ErrorLine(const std::string& received) {
    const auto error = received.find("Error");
    auto end = received.find('\r', error);
    if (end != std::string::npos)
        end = received.find('\r', end + 1);
    return received.substr(error, end == std::string::npos ? end : end - error);
}

// What the Crossfield said about a download that did not end in success: its error line, or
// the last line before its menu.
std::string DownloadReport(const std::string& received) {
    std::size_t end = received.find("Serial options menu");
    if (end == std::string::npos)
        end = received.size();
    std::string last;
    std::size_t start = 0;
    while (start < end) {
        std::size_t stop = std::min(received.find('\r', start), end);
        std::string line;
        for (char c : received.substr(start, stop - start)) {
            if (c != '\n')
                line += c;
        }
        line = Trim(line);
        if (line.find("rror") != std::string::npos || line.find("Wrong") != std::string::npos)
            return line;
        if (!line.empty() && line.find_first_not_of(".\n") != std::string::npos)
            last = line;
        start = stop + 1;
    }
    return last;
}

// The starting computer dialog, until the operator accepts a number or cancels.
void EnterStartCpu() {
    auto& cfx = g.menus.cfx;
    auto& d = g.forms->frmStartCpu;
    ui::ShowMsg("Select start cpu...", ui::colour::kButtonFace);
    SendToProduct("1");
    ui::frmStartCpu_Show(g.menus.StartCpu);
    Busy(false);
    cfx.StartCpuDone = cfx.StartCpuOk = cfx.StartCpuCancelled = false;
    while (!cfx.StartCpuDone) {
        P().events->WaitForEvents(kDialogSliceMs);
        if (!cfx.StartCpuOk || cfx.StartCpuDone)
            continue;
        cfx.StartCpuOk = false;
        const std::string entry = Trim(d.txtStartCpu.Text);
        const std::string rounded = RoundStartCpu(entry);
        if (rounded.empty()) {
            d.lblRoundMsg.Caption = "Not A Valid Number.";
            d.lblRoundMsg.BackColor = ui::colour::kRed;
            d.lblRoundMsg.Visible = true;
            continue;
        }
        if (Val(entry) != Val(rounded)) {
            d.lblRoundMsg.Caption = "(Rounded to a multiple of 4 + 1)";
            d.lblRoundMsg.BackColor = ui::colour::kLightYellow;
            d.lblRoundMsg.Visible = true;
            d.txtStartCpu.Text = rounded;
            continue;
        }
        if (d.lblRoundMsg.Visible && d.lblRoundMsg.Caption == "(Rounded to a multiple of 4 + 1)") {
            d.lblRoundMsg.Caption = "Saving starting cpu...";
            d.lblRoundMsg.BackColor = ui::colour::kButtonFace;
            Delay(1000);
        }
        d.lblRoundMsg.Visible = false;
        // The number goes out as the Crossfield shows it, without leading zeros.
        g.menus.StartCpu = rounded;
        SendToProduct(rounded + "\r");
        Delay(500);
        SendToProduct("7\r");
        const bool saved = cfx::Awaited(WaitForProductText(
                                            [](const std::string& received) {
                                                const auto flash = received.rfind("Flash");
                                                return flash != std::string::npos &&
                                                       received.find("Enter choice -->", flash) !=
                                                           std::string::npos;
                                            },
                                            cfx::kPromptMs),
                                        "saving the starting computer");
        if (saved) {
            g.menus.StartCpu = ReadStartCpu(g.menus.SerialText);
            frmUI().btnStartCpu.Caption = "LOAD START CPU ... " + g.menus.StartCpu;
        }
        cfx.StartCpuDone = true;
    }
    if (cfx.StartCpuCancelled)
        SendToProduct("\r");
    ui::frmStartCpu_Close();
}

// Factory defaults; a starting computer other than 1 is entered and saved again.
void LoadDefaults() {
    auto& cfx = g.menus.cfx;
    cfx.DefaultsLoaded = true;
    ui::ShowMsg("Loading factory defaults...", ui::colour::kButtonFace);
    SendToProduct("6");
    if (!cfx::Awaited(WaitForAnyText({">"}, cfx::kFlashMs, true, cfx::kPromptMs),
                      "loading factory defaults"))
        return;
    if (g.menus.StartCpu == "1") {
        cfx.DefaultsOk = true;
        return;
    }
    // The prompt may have come with the ">" already awaited: the text is searched as it is.
    struct Step {
        const char* send;
        const char* awaited;
    };
    for (const Step& step :
         {Step{nullptr, "Enter choice -->"}, Step{"1", "Enter the starting cpu number -->"},
          Step{"", "Enter choice -->"}, Step{"7\r", "Enter choice -->"}}) {
        if (step.send) {
            cfx::KeepReceived();
            if (*step.send == '\0') {
                SendToProduct(g.menus.StartCpu + "\r");
            } else {
                Delay(100);
                SendToProduct(step.send);
            }
        }
        if (!cfx::Awaited(WaitForAnyText({step.awaited}, cfx::kPromptMs),
                          "restoring the starting computer"))
            return;
    }
}
}  // namespace

std::string RoundStartCpu(const std::string& entry) {
    const std::string number = Trim(entry);
    if (number.empty() || number.size() > 9 ||
        !std::all_of(number.begin(), number.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        return "";
    }
    const long value = Val(number);
    // Numbers run 1, 5, 9, ...: anything lower is the first of them.
    return std::to_string(value < 1 ? 1 : (value - 1) / 4 * 4 + 1);
}

void CfxCopyFirmware() {
    TraceScope trace("CfxCopyFirmware()");
    auto& f = frmUI();
    BeginOperation();
    DiscardInput();
    ui::DisableAllButtons();
    ui::StartProgressBar(kCopyScale);
    g.result.ErrorCode = 0;
    ui::DisplayError();

    const bool main = g.cmd.CopyTarget == "MAIN";
    ui::ShowMsg(main ? "Sending MAIN program..." : "Sending KERNEL program...",
                ui::colour::kButtonFace);
    SendToProduct(main ? "4" : "5");
    Delay(500);
    g.menus.SerialText.clear();
    // The copy itself runs while the answer to a "Y" is awaited; the menu's first answer
    // comes at once.
    auto answer = [](const char* step) {
        return cfx::Awaited(
            WaitForProductText(cfx::AtPromptOrQuestion, cfx::kCopyMs, true, cfx::kPromptMs), step);
    };
    auto reported = [&f] {
        if (!SerialTextHas("Error"))
            return false;
        f.lblERASE.Caption = ErrorLine(g.menus.SerialText);
        g.result.ErrorCode = 1201;
        ui::DisplayError();
        return true;
    };
    bool ok = answer("asked to send firmware") && !reported();
    if (ok) {
        Delay(1000);
        SendToProduct("Y");
        cfx::KeepReceived();
        ok = answer("sending firmware to the other boards") && !reported();
    }
    if (ok && SerialTextHas("Are you sure ?")) {
        SendToProduct("Y");
        // "COPY OK" only once the copy has ended without an error.
        cfx::KeepReceived();
        ok = answer("sending firmware to the other boards") && !reported();
    }
    if (!g.menus.cfx.ModeEnded) {
        Delay(1000);
        f.ProgressBar1.Value = 0;
        ui::ShowMsg("", ui::colour::kButtonFace);
    }
    EndOperation();
    if (g.result.ErrorCode != 0) {
        g.result.ErrorCode = 0;  // the Crossfield's own line stays on the label
    } else if (ok) {
        ui::ShowMsg("COPY OK", ui::colour::kGreen);
        f.lblERASE.Caption = "Send firmware from main board to other boards in the Crossfield.";
    }
}

void CfxSetupOperation() {
    TraceScope trace("CfxSetupOperation()");
    auto& cfx = g.menus.cfx;
    BeginOperation();
    ClearInBuffer();
    ui::DisableAllButtons();
    ui::StartProgressBar(kDefaultsScale);
    Delay(500);
    cfx.DefaultsOk = false;
    if (g.cmd.CfxSetup == "STARTCPU") {
        EnterStartCpu();
    } else if (g.cmd.CfxSetup == "DEFAULTS") {
        LoadDefaults();
    }
    frmUI().ProgressBar1.Value = 0;
    ui::ShowMsg("", ui::colour::kButtonFace);
    EndOperation();
    // Said after the message line was cleared, so the operator sees it.
    if (cfx.DefaultsOk && !cfx.ModeEnded)
        ui::ShowMsg("LOAD DEFAULTS OK", ui::colour::kGreen);
}

void CfxProgram() {
    TraceScope trace("CfxProgram()");
    auto& cfx = g.menus.cfx;
    auto& m = g.menus;
    const bool at9600 = cfx.PowerUpBaud == "9600";
    BeginOperation();
    ClearInBuffer();
    // The buttons are off from the first key on, as in the other operations: a 9600 baud
    // Crossfield takes seconds to change its rate before the file is asked for.
    ui::DisableAllButtons();
    cfx.ProgramReport.clear();
    if (at9600) {
        ui::ShowMsg("Resetting Baud to 57600...", ui::colour::kButtonFace);
        if (!cfx::ToggleRate("57600"))
            return EndOperation();
    }
    SendToProduct("3");
    Delay(500);
    if (!cfx::Awaited(WaitForAnyText({"Waiting for file"}, cfx::kPromptMs), "asked for the file"))
        return EndOperation();
    // What follows is judged on what the Crossfield says about this file only.
    cfx::KeepReceived();

    FileSend sent = FileSend::NoFile;
    if (g.result.ErrorCode == 0) {
        ui::DisableAllButtons();
        ui::StartProgressBar(1);
        ui::ShowMsg("Sending hex file...", ui::colour::kButtonFace);
        Delay(1000);
        ui::ShowMsg("Sending file...", ui::colour::kButtonFace);
        sent = SendFileAsText(g.files.CfxFilePath, true);
        if (sent == FileSend::NoFile) {
            g.result.ErrorCode = 1202;
            ui::DisplayError();
        } else if (sent != FileSend::Sent) {
            g.result.ErrorCode = 1204;  // the Crossfield was told to drop the file
        }
    }
    if (sent == FileSend::NoFile)
        cfx::RefuseFile();  // the Crossfield stops waiting for a file
    if (sent == FileSend::Lost) {
        cfx::Awaited(TextWait::Lost, "receiving the file");
        return EndOperation();
    }

    if (sent == FileSend::Sent) {
        ui::ShowMsg("Flashing Crossfield...", ui::colour::kButtonFace);
        ui::StartProgressBar(kFlashScale);
        const auto flashed = WaitForProductText(
            [](const std::string& received) {
                auto& bar = frmUI().ProgressBar1;
                bar.Value = std::min<int>(
                    bar.Max, static_cast<int>(std::count(received.begin(), received.end(), '.')));
                return received.find('>') != std::string::npos;
            },
            cfx::kFlashMs);
        if (!cfx::Awaited(flashed, "flashing"))
            return EndOperation();
    } else if (sent == FileSend::NoFile || at9600) {
        // Back in its menu after the refusal, before its rate is put back.
        if (!cfx::Awaited(WaitForAnyText({">"}, cfx::kPromptMs), "cancelling the download"))
            return EndOperation();
    }
    if (sent == FileSend::Sent && !SerialTextHas("Flash programming successful")) {
        cfx.ProgramReport = DownloadReport(m.SerialText);
        g.result.ErrorCode = 1203;
    }

    if (at9600) {
        cfx::KeepReceived();
        if (!cfx::ToggleRate("9600"))
            return EndOperation();
    }
    if (g.result.ErrorCode != 0) {
        ui::DisplayError();
    } else if (g.cmd.UiCommand == uicmdPROGRAM) {
        ui::ShowMsg("PROGRAM OK", ui::colour::kGreen);
        WriteINI();
        cfx.InfoText = "Crossfield firmware has been downloaded.  ";
    }
    EndOperation();
}

void CfxKernelRecovery() {
    TraceScope trace("CfxKernelRecovery()");
    auto& f = frmUI();
    P().dialogs->MsgBox("Bad CFX kernel detected, press OK to download new kernel.  ",
                        platform::mb::kExclamation + platform::mb::kOk, kProgramName);
    bool fileRequested = false;
    for (;;) {
        g.cmd.ContinueFlag = false;
        if (!fileRequested) {
            if (!cfx::Awaited(WaitForAnyText({"Try again"}, cfx::kPromptMs), "asking for a kernel"))
                break;
            SendToProduct("Y");
            if (!cfx::Awaited(WaitForAnyText({"Waiting for file"}, cfx::kPromptMs),
                              "asking for a kernel"))
                break;
        }
        ClearInBuffer();
        // A "Waiting for file" kept from here would end the next wait before the boot loader
        // has judged the file.
        g.menus.SerialText.clear();

        const std::string path = ChooseHexFile("Select MAIN Hex File");
        if (path.empty()) {
            cfx::RefuseFile();
            ui::ShowNotice(ui::Notice::KernelNotLoaded);
            break;
        }
        f.txtInfo.Text = "Loading kernel firmware...";
        Delay(100);
        // A file that is not the Crossfield's is refused before it reaches the flash.
        const bool valid = ValidateHexFile(FileNameOf(path), path);
        ui::ShowMsg("Sending hex file...", ui::colour::kButtonFace);
        Delay(1000);
        if (!valid || SendFileAsText(path, true) == FileSend::NoFile) {
            // "X" alone: the boot loader gives the file up and asks "Try again ?  Y/N" again,
            // so it still waits for a kernel when the operator chooses another file. (An "N"
            // would answer that question and halt it.)
            SendToProduct("X");
        }
        ui::ShowMsg("Flashing Crossfield...", ui::colour::kButtonFace);

        if (!cfx::Awaited(
                WaitForAnyText({"Waiting for file", "Flash programming", "Try again ?  Y/N"},
                               cfx::kFlashMs),
                "flashing its kernel"))
            break;
        if (SerialTextHas("Flash programming")) {
            ui::ShowMsg("", ui::colour::kButtonFace);
            break;
        }
        fileRequested = !SerialTextHas("Try again");
        P().dialogs->MsgBox(
            "Record error or wrong hex file for this unit, press OK to download new kernel.  ",
            platform::mb::kExclamation + platform::mb::kOk, kProgramName);
    }
    g.port.BaudSetting = "115200";
    SetCommPort(g.port.CommPortNumber);
}

void CfxHexFile() {
    TraceScope trace("CfxHexFile()");
    auto& files = g.files;
    ui::DisableAllButtons();
    const std::string path = ChooseHexFile("Select MAIN Hex File");
    if (!path.empty()) {
        Delay(100);
        files.CfxFilePath = path;
        files.CfxFileName = FileNameOf(path);
        const bool valid = ValidateHexFile(files.CfxFileName, files.CfxFilePath);
        ui::ButtonEnabler();
        if (valid) {
            ui::DisplayError();
            ui::ShowMsg("HEX FILE OK", ui::colour::kGreen);
        }
    } else {
        ui::ButtonEnabler();
    }
    g.cmd.UiCommand = 0;
}

void CfxLastUsed() {
    TraceScope trace("CfxLastUsed()");
    auto& files = g.files;
    Busy(true);
    ui::DisableAllButtons();
    const std::string name = FileNameOf(files.CfxLastUsedPath);
    const bool valid = ValidateHexFile(name, files.CfxLastUsedPath);
    if (valid) {
        files.CfxFileName = name;
        files.CfxFilePath = files.CfxLastUsedPath;
    }
    ui::ButtonEnabler();
    ui::DisplayError();
    if (valid) {
        ui::ShowMsg("Crossfield HEX FILE OK", ui::colour::kGreen);
        Delay(1000);
    }
    Busy(false);
    g.cmd.UiCommand = 0;
}

}  // namespace rompush
