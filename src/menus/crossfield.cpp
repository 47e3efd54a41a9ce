// The Crossfield's entry, its command dispatcher, its window and its restart. The operations
// the buttons run are in crossfield_ops.cpp.
#include "menus/crossfield.h"

#include <algorithm>

#include "core/state.h"
#include "core/text.h"
#include "core/trace.h"
#include "menus/crossfield_steps.h"
#include "platform/platform.h"
#include "serial/comm.h"
#include "ui/crossfield_views.h"
#include "ui/main_window.h"
#include "ui/notices.h"

namespace rompush {

namespace {
const std::string CRLF = "\r\n";
// Progress scale while the first prompt is awaited.
constexpr int kFirstPromptScale = 790;
// A Crossfield that powers up sends its diagnostics within a second or two of its heading.
constexpr int kPowerOnSignMs = 5000;
// The heading of every power-on text; the entry's blank answers the one before it.
constexpr const char* kPowerOnHeading = "Power on diagnostics";
// What only a Crossfield powering up (or its menu) sends.
constexpr const char* kPowerOnSigns[] = {kPowerOnHeading, "Kernel version",      "Static ram",
                                         "Hit space bar", "Serial options menu", "Try again"};
// After the port is reopened, what a running Crossfield says to it is let pass, so it is not
// heard as another power-up.
constexpr int kReopenSettleMs = 500;
// How long a command loop pass of the dispatcher sleeps at most; clicks wake it at once.
constexpr int kDispatchSliceMs = 50;

platform::Services P() {
    return platform::Current();
}

void ReopenPort() {
    SetCommPort(g.port.CommPortNumber);
}

// Waits for the operator's button (CONTINUE, Cancel, Restart), processing events.
void WaitForOperator(const bool& alsoDone) {
    while (!g.cmd.ContinueFlag && !alsoDone)
        P().events->WaitForEvents(kDispatchSliceMs);
}

// Versions and the starting computer number from the power-on text, into the status panels
// and the start-CPU button.
void ShowVersions(const std::string& text) {
    const auto kernel = text.find("Kernel version");
    ui::SetStatusPanel5(kernel == std::string::npos ? "---" : Trim(text.substr(kernel + 14, 8)));
    ui::SetStatusPanel3("---");
    const auto overlay = text.find("Overlay version");
    std::string version = overlay == std::string::npos ? "---" : text.substr(overlay + 15, 6);
    while (!version.empty() && (version.back() == '\r' || version.back() == '\n'))
        version.pop_back();
    ui::SetStatusPanel4(Trim(version));
    g.menus.StartCpu = ReadStartCpu(text);
    frmUI().btnStartCpu.Caption = "LOAD START CPU ... " + g.menus.StartCpu;
}

// The power-on text as the detected-product box shows it: the lines up to the menu, without
// the prompts and short lines, and the rate the Crossfield talks at.
std::string DiagnosticsText(const std::string& received) {
    std::string shown;
    std::size_t start = 0;
    while (start < received.size()) {
        std::size_t end = received.find('\r', start);
        if (end == std::string::npos)
            end = received.size();
        std::string line = received.substr(start, end - start);
        start = end + 1;
        if (line.find("Serial options menu") != std::string::npos)
            break;
        if (line.size() <= 10 || line.find('?') != std::string::npos ||
            line.find("Hit space bar") != std::string::npos) {
            continue;
        }
        std::string kept;
        for (char c : line) {
            if (c != '\r' && c != '\n')
                kept += c;
        }
        shown += kept + CRLF;
        if (kept == "Crossfield Power On Diagnostics")
            shown += CRLF;
    }
    return shown + CRLF + "Serial port at " + g.menus.cfx.PowerUpBaud + " baud";
}

void KeepMenuFrom(const std::string& received) {
    const auto menu = received.find("Serial options menu");
    g.menus.MenuText = menu == std::string::npos ? "" : received.substr(menu);
}

// The window back to its normal look once the Crossfield has been left.
void NormalWindow() {
    auto& f = frmUI();
    ui::HideMenuControls();
    f.txtSerialDisplay.Visible = false;
    f.btnShowDiagnostic.Visible = false;
    ui::ShowStepRows(true);
    g.result.ErrorCode = 0;
    ui::DisplayError();
    ui::DefaultUI();
    f.btnERASE.Visible = true;
    f.btnVERIFY.Visible = true;
    g.dev.DeviceFound = false;
    f.cboPORT.Enabled = true;
    f.btnCommPort.Enabled = true;
    f.ProgressBar1.Visible = false;
    ui::ButtonEnabler();
}

// Entry step 13: the Crossfield mode is left, the port goes back to 115200 baud.
void LeaveCrossfield(bool unanswered) {
    g.cmd.ProductMode = "FALSE";
    g.files.CfxFileName = "";
    g.files.CfxFilePath = "";
    ui::ShowMsg("", ui::colour::kButtonFace);
    ui::ClearDevicePanels();
    g.port.BaudSetting = "115200";
    ReopenPort();
    Delay(kReopenSettleMs);
    DiscardInput();
    NormalWindow();
    P().desktop->SetMousePointer(platform::MousePointer::Default);
    if (unanswered)
        ui::ShowNotice(ui::Notice::CrossfieldNotAnswering);
}

bool PromptArrived(const std::string& received, bool at9600) {
    return received.find('>') != std::string::npos ||
           (at9600 && received.find('?') != std::string::npos);
}

// A burst at the port's rate may be no power-up at all (a running Crossfield's short line
// heard at 115200 is a run of zeros): only a power-on text, or the menu, keeps the entry.
bool PowerOnSign(const std::string& received, bool at9600) {
    if (PromptArrived(received, at9600))
        return true;
    for (const char* sign : kPowerOnSigns) {
        if (received.find(sign) != std::string::npos)
            return true;
    }
    return false;
}

// Waits for the prompt that the entry's blank brings. A power-on heading after `mark` (the
// text received up to the blank) means the Crossfield was switched off and on meanwhile: the
// entry starts again with the new power-on text and answers it with another blank.
TextWait WaitForFirstPrompt(bool at9600, std::size_t& mark) {
    auto& text = g.menus.SerialText;
    for (;;) {
        std::size_t heading = std::string::npos;
        const TextWait result = WaitForProductText(
            [&](const std::string& received) {
                if (PromptArrived(received, at9600))
                    return true;
                heading = received.find(kPowerOnHeading, mark);
                return heading != std::string::npos;
            },
            cfx::kPowerOnMs, true);
        if (result != TextWait::Found || heading == std::string::npos)
            return result;
        TraceLine("--    the Crossfield powered up again: the entry starts again");
        text.erase(0, heading);
        frmUI().ProgressBar1.Value = 0;
        Delay(750);
        ReadIntoSerialText();
        mark = text.size();
        SendToProduct(" ");
    }
}

void CfxEntry(const std::string& baud) {
    auto& cfx = g.menus.cfx;
    auto& m = g.menus;
    auto& f = frmUI();
    const bool at9600 = baud == "9600";
    cfx = CrossfieldState{};
    g.port.BaudSetting = baud;
    cfx.PowerUpBaud = baud;
    ReopenPort();
    // What the banner check read stays: it may hold the beginning of the power-on text.
    ReadIntoSerialText();

    g.dev.DevLetter = "U";
    g.dev.DevIdName = "Crossfield";
    g.dev.DevDisplayName = "Crossfield";
    g.dev.DeviceFound = true;
    ui::DisableAllButtons();
    ui::ShowMsg("", ui::colour::kButtonFace);
    ui::SetStatusPanel2("Crossfield");
    Delay(750);
    ReadIntoSerialText();
    std::size_t mark = m.SerialText.size();
    SendToProduct(" ");

    ui::ShowCrossfieldReading();
    auto& bar = f.ProgressBar1;
    ui::StartProgressBar(kFirstPromptScale);
    g.cmd.ContinueFlag = false;
    const TextWait sign = WaitForProductText(
        [at9600](const std::string& received) { return PowerOnSign(received, at9600); },
        kPowerOnSignMs, true);
    if (sign == TextWait::Silent) {
        // Not a Crossfield powering up: the window is not held, and a power-up after this is
        // heard by the banner check as usual.
        TraceLine("--    no power-on text: the burst was not a Crossfield powering up");
        bar.Visible = false;
        LeaveCrossfield(false);
        return;
    }
    bool answered = cfx::Awaited(sign, "sending its power-on text") &&
                    cfx::Awaited(WaitForFirstPrompt(at9600, mark), "sending its power-on text");
    if (answered) {
        bar.Value = 0;
        Delay(500);
        answered = cfx::Awaited(WaitForFirstPrompt(at9600, mark), "sending its power-on text");
    }

    if (answered && at9600 && SerialTextHas("Try again ?")) {
        bar.Visible = false;
        CfxKernelRecovery();
        // The port is at 115200 baud now; the Crossfield starts again with its new kernel
        // and is heard by the banner check.
        g.cmd.ProductMode = "FALSE";
        ui::ClearDevicePanels();
        NormalWindow();
        return;
    }

    if (answered && !SerialTextHas("Kernel version")) {
        // The power-on text was missed: the menu's restart key brings it again, and a blank
        // sent as soon as the RAM test shows opens the menu once more.
        m.SerialText.clear();
        Delay(1000);
        ClearInBuffer();
        SendToProduct("8");
        bool blankSent = false;
        answered = cfx::Awaited(
            WaitForProductText(
                [&blankSent](const std::string& received) {
                    if (!blankSent && received.find("Static ram") != std::string::npos) {
                        SendToProduct(" ");
                        blankSent = true;
                    }
                    return received.find('>') != std::string::npos;
                },
                cfx::kPowerOnMs, true),
            "restarting");
    }
    bar.Visible = false;
    if (!answered) {
        LeaveCrossfield(cfx.Unanswered);
        return;
    }

    const auto kernel = m.SerialText.find("Kernel version");
    if (kernel != std::string::npos)
        m.SerialText = "Crossfield Power On Diagnostics" + CRLF + m.SerialText.substr(kernel);
    // Kept aside: the console, opened from the diagnostics, takes SerialText for its own.
    const std::string powerOn = m.SerialText;
    cfx.InfoText = DiagnosticsText(powerOn);
    ui::ShowCrossfieldDiagnostics(cfx.InfoText);
    KeepMenuFrom(powerOn);
    m.ConsoleLog = cfx.InfoText + CRLF + CRLF;

    g.cmd.ContinueFlag = false;
    WaitForOperator(g.cmd.ContinueFlag);

    g.cmd.ProductMode = "CFX";
    CfxUI();
    ui::ButtonEnabler();
    ShowVersions(powerOn);
    // CONTINUE took the console box's text into the log: the diagnostics go back in.
    KeepMenuFrom(powerOn);
    m.ConsoleLog = cfx.InfoText + CRLF + CRLF;
    CfxMenu();

    LeaveCrossfield(cfx.Unanswered);
}
}  // namespace

namespace cfx {

bool Awaited(TextWait result, const std::string& step) {
    if (result == TextWait::Found)
        return true;
    g.menus.cfx.ModeEnded = true;
    if (result == TextWait::Exit) {
        TraceLine("--    the operator left the Crossfield");
        return false;
    }
    g.menus.cfx.Unanswered = true;
    const std::string why =
        result == TextWait::Lost
            ? "The serial port of the Crossfield has gone while it was " + step + "."
            : "The Crossfield stopped answering while it was " + step + ".";
    P().desktop->SetMousePointer(platform::MousePointer::Default);
    P().dialogs->MsgBox(why +
                            "\r\n\r\nRomPush leaves Crossfield mode.  Check the cable and power "
                            "cycle the Crossfield to start again.",
                        platform::mb::kExclamation + platform::mb::kOk, kProgramName);
    return false;
}

bool AtPromptOrQuestion(const std::string& received) {
    return !received.empty() && (received.back() == '>' || received.back() == '?');
}

void KeepLastMenuBlock() {
    std::string& menu = g.menus.MenuText;
    const auto block = menu.rfind("Serial options menu");
    if (block != std::string::npos)
        menu.erase(0, block);
    const auto prompt = menu.rfind('>');
    if (prompt != std::string::npos && prompt + 2 < menu.size())
        menu.erase(prompt + 2);
}

void KeepReceived() {
    g.menus.MenuText += g.menus.SerialText;
    g.menus.SerialText.clear();
}

bool ToggleRate(const std::string& baud) {
    SendToProduct("2");
    if (!Awaited(WaitForAnyText({"press return"}, kPromptMs), "changing its baud rate"))
        return false;
    g.port.BaudSetting = baud;
    ReopenPort();
    Delay(1000);
    g.menus.SerialText.clear();
    SendToProduct("\r");
    return Awaited(WaitForAnyText({">"}, kPromptMs), "changing its baud rate");
}

void RefuseFile() {
    for (const char* key : {"X", "N", "\r"})
        SendToProduct(key);
}

}  // namespace cfx

std::string ReadStartCpu(const std::string& text) {
    const auto option = text.rfind("Change starting computer number");
    if (option == std::string::npos)
        return "";
    const auto dot = text.find('.', option);
    if (dot == std::string::npos)
        return "";
    const auto end = text.find('\r', dot);
    const std::size_t from = dot + 3;
    // The number stands three characters after the dot; a line that ends sooner holds none.
    if (from > text.size() || (end != std::string::npos && end < from))
        return "";
    std::string number = Trim(text.substr(from, end == std::string::npos ? end : end - from));
    while (!number.empty() && (number.back() == '\r' || number.back() == '\n'))
        number.pop_back();
    return number;
}

void CfxAt57600() {
    TraceScope trace("CfxAt57600()");
    CfxEntry("57600");
}

void CfxAt9600() {
    TraceScope trace("CfxAt9600()");
    CfxEntry("9600");
}

void CfxUI() {
    TraceScope trace("CfxUI()");
    ui::ShowCrossfieldButtons(g.menus.StartCpu);
    if (g.result.ErrorCode == 0)
        ui::DisplayError();  // the step rows' Crossfield help texts
}

void CfxMenu() {
    TraceScope trace("CfxMenu()");
    auto& m = g.menus;
    auto& cfx = m.cfx;
    m.SerialText.clear();
    ReadIntoSerialText();
    g.cmd.ContinueFlag = false;
    g.cmd.UiCommand = 0;
    m.MenuExitChosen = false;
    cfx.DefaultsLoaded = false;
    cfx.ModeEnded = false;
    for (;;) {
        if (!m.MenuText.empty()) {
            m.ConsoleLog += m.MenuText;
            m.MenuText.clear();
            m.SerialText.clear();
        }
        switch (g.cmd.UiCommand) {
            case uicmdSCAN:
                CfxRestart();
                break;
            case uicmdHEXFILE:
                CfxHexFile();
                break;
            case uicmdLASTUSED:
                CfxLastUsed();
                break;
            case uicmdERASE:
                CfxCopyFirmware();
                break;
            case uicmdVERIFY:
                CfxSetupOperation();
                break;
            case uicmdPROGRAM:
                CfxProgram();
                break;
            default:
                break;
        }
        if (m.MenuExitChosen || cfx.ModeEnded) {
            m.MenuExitChosen = false;
            g.cmd.ContinueFlag = false;
            frmUI().btnShowDiagnostic.Visible = false;
            return;
        }
        P().events->WaitForEvents(kDispatchSliceMs);
    }
}

void CfxRestart() {
    TraceScope trace("CfxRestart()");
    auto& cfx = g.menus.cfx;
    auto& f = frmUI();
    // Only the choice's own buttons are usable while it is shown.
    ui::DisableAllButtons();
    ui::ShowBaudChoice(cfx.PowerUpBaud);
    g.cmd.ContinueFlag = false;
    cfx.RestartRequested = false;
    WaitForOperator(cfx.RestartRequested);
    g.cmd.UiCommand = 0;
    if (!cfx.RestartRequested) {
        f.btnShowDiagnostic.Caption = "Show Serial console";
        CfxUI();
        ui::ButtonEnabler();
        return;
    }
    ui::HideMenuControls();
    ui::DisableAllButtons();

    const std::string& from = cfx.PowerUpBaud;
    const std::string to = cfx.NewBaud;
    const bool change = (from == "9600" && to == "57600") ||
                        (from == "57600" && !cfx.DefaultsLoaded && to == "9600") ||
                        (from == "57600" && cfx.DefaultsLoaded && to == "57600");
    if (change) {
        CfxChangeBaud(to);
        if (cfx.ModeEnded)
            return;
    }
    g.menus.SerialText.clear();
    SendToProduct("8");
    // Factory defaults saved 9600 baud for the next power-up: the restarted Crossfield is
    // heard at the rate chosen, not at the one it had.
    if (!change && g.port.BaudSetting != to) {
        Delay(100);  // the key leaves at the old rate first
        g.port.BaudSetting = to;
        ReopenPort();
    }
    ui::ShowMsg("Waiting for Crossfield restart...", ui::colour::kButtonFace);
    if (!cfx::Awaited(WaitForAnyText({"Main program"}, cfx::kPowerOnMs), "restarting"))
        return;
    Delay(1000);

    ui::ShowMsg("", ui::colour::kButtonFace);
    g.result.ErrorCode = 0;
    ui::DisplayError();
    ui::DefaultUI();
    g.cmd.ProductMode = "FALSE";
    g.dev.DeviceFound = false;
    ui::ButtonEnabler();
    g.cmd.ContinueFlag = true;

    auto& bar = f.ProgressBar1;
    ui::StartProgressBar(kFirstPromptScale);
    g.cmd.ContinueFlag = false;
    static constexpr const char* kGood = "Main program     GOOD";
    bool shown = cfx::Awaited(WaitForAnyText({kGood}, cfx::kPowerOnMs, true), "restarting");
    // The line is complete at its carriage return, whichever read brought it.
    shown = shown && cfx::Awaited(WaitForProductText(
                                      [](const std::string& received) {
                                          const auto good = received.find(kGood);
                                          return good != std::string::npos &&
                                                 received.find('\r', good) != std::string::npos;
                                      },
                                      cfx::kPowerOnMs),
                                  "restarting");
    bar.Visible = false;
    if (!shown)
        return;
    std::string& received = g.menus.SerialText;
    const auto diagnostics = received.find("Power on diagnostics");
    if (diagnostics != std::string::npos)
        received.erase(0, diagnostics);
    Delay(1000);
    ui::ShowCrossfieldDiagnostics(
        received, std::string("(") + kProgramName + " will now exit Crossfeld mode.)");
    g.cmd.ContinueFlag = false;
    WaitForOperator(g.cmd.ContinueFlag);
    ui::ClearDevicePanels();
    ui::ShowMsg("", ui::colour::kButtonFace);
    // The Crossfield runs again at its own rate: the dispatcher ends with its mode.
    cfx.ModeEnded = true;
}

void CfxChangeBaud(const std::string& rate) {
    TraceScope trace("CfxChangeBaud( " + rate + " )");
    auto& cfx = g.menus.cfx;
    // The port follows once the Crossfield has said it changes: a port reopened at once could
    // cut off the key that asks for the change.
    if (!cfx::ToggleRate(rate))
        return;
    g.menus.SerialText.clear();
    SendToProduct("7");
    if (!cfx::Awaited(WaitForAnyText({"8)"}, cfx::kPromptMs), "saving its baud rate"))
        return;
    Delay(1000);
    ClearInBuffer();
    cfx.PowerUpBaud = cfx.NewBaud;
}

}  // namespace rompush
