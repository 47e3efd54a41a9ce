#include "commands/port_selection.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "core/settings_file.h"
#include "core/state.h"
#include "core/text.h"
#include "core/trace.h"
#include "platform/platform.h"
#include "ps2/kb_controller.h"
#include "serial/comm.h"
#include "ui/main_window.h"
#include "ui/notices.h"

namespace rompush {

namespace {
constexpr const char* kPs2Entry = "PS/2";
constexpr std::size_t kHeaderLineCount = 8;
// How long the start-up waits for a deleted settings file to disappear.
constexpr std::int64_t kDeleteWaitMs = 2000;

std::string LineOr(const std::vector<std::string>& lines, std::size_t index) {
    return index < lines.size() ? lines[index] : std::string();
}

// True when the line holds a number (after blanks), as a header line written by the program
// does; a missing or damaged line holds none.
bool HoldsNumber(const std::string& line) {
    const auto first = line.find_first_not_of(" \t");
    if (first == std::string::npos)
        return false;
    std::size_t digit = first;
    if (line[digit] == '-' || line[digit] == '+')
        ++digit;
    return digit < line.size() && std::isdigit(static_cast<unsigned char>(line[digit]));
}

// A list position from the settings file. A line that is missing, unreadable or names a
// position the list does not have takes the list's default: position 0 (300 baud, XON/XOFF,
// 7 data bits, Even parity) would keep SCAN from finding anything.
void SetPosition(ui::ComboBox& list, const std::string& line, int defaultPosition) {
    const long position = Val(line);
    if (HoldsNumber(line) && position >= 0 && position < list.ListCount())
        list.ListIndex = static_cast<int>(position);
    else
        list.ListIndex = defaultPosition;
}

// A changed port forgets the device found on the old one.
void ForgetDevice() {
    auto& form = frmUI();
    form.btnERASE.Enabled = false;
    form.btnVERIFY.Enabled = false;
    form.btnPROGRAM.Enabled = false;
    ui::ClearDevicePanels();
    ui::ShowMsg("", ui::colour::kButtonFace);
    g.dev.DeviceFound = false;
}

void ReopenAndDiscard() {
    ReopenPortFixed();
    DiscardInput();
}

void ValidateSettingsFile() {
    std::vector<std::string> lines;
    if (!ReadIniLines(lines, 3))
        return;
    const std::string line3 = LineOr(lines, 2);
    if (!line3.empty() && (line3[0] == 'C' || line3[0] == 'P'))
        return;
    std::error_code error;
    std::filesystem::remove(IniPath(), error);
    // The file is gone before its defaults are read; a file that cannot be deleted is not
    // waited for for ever.
    auto& events = *platform::Current().events;
    const std::int64_t until = platform::Current().clock->NowMs() + kDeleteWaitMs;
    while (FExists(IniPath()) && platform::Current().clock->NowMs() < until) {
        events.WaitForEvents(50);
    }
}

void LoadHeader() {
    auto& dialog = frmComParameters();
    std::vector<std::string> lines;
    if (ReadIniLines(lines, kHeaderLineCount)) {
        const long max = Val(LineOr(lines, 1));
        if (!HoldsNumber(LineOr(lines, 1))) {
            // No search limit written: the usual 25 ports, not none.
            g.port.MaxComPorts = 25;
            dialog.txtMaxComPorts.SetText("25");
        } else {
            if (max >= 0 && max <= 255)
                g.port.MaxComPorts = static_cast<std::uint8_t>(max);
            dialog.txtMaxComPorts.SetText(LineOr(lines, 1));
        }
        SetPosition(dialog.cboDataBits, LineOr(lines, 3), ui::kDefaultDataBitsIndex);
        SetPosition(dialog.cboStopBits, LineOr(lines, 4), ui::kDefaultStopBitsIndex);
        SetPosition(dialog.cboParity, LineOr(lines, 5), ui::kDefaultParityIndex);
        SetPosition(dialog.cboBaud, LineOr(lines, 6), ui::kDefaultBaudIndex);
        SetPosition(dialog.cboFlowControl, LineOr(lines, 7), ui::kDefaultFlowIndex);
    } else {
        g.port.MaxComPorts = 25;
        dialog.txtMaxComPorts.SetText("25");
        ui::SelectDefaultPositions();
    }
    // The commands put the dialog's lists back at the saved positions before they open the
    // port, so the stored parameters become the saved ones; otherwise they would be lost at
    // the first SCAN.
    ui::SaveListPositions();
}

void RestoreRememberedPort() {
    std::vector<std::string> lines;
    if (!ReadIniLines(lines, 3))
        return;
    std::string remembered = LineOr(lines, 2);
    if (remembered != kPs2Entry)
        remembered = remembered.size() > 3 ? remembered.substr(3) : "";
    auto& list = frmUI().cboPORT;
    for (int k = 0; k < list.ListCount(); ++k) {
        if (Trim(list.Items[k]) == remembered) {
            list.SetListIndex(k);
            g.port.CommPortNumber = static_cast<std::uint8_t>(PortNumberOfEntry(list.Items[k]));
        }
    }
}

// The "PS/2" entry: offered without a test on the direct provider (the keyboard-port scan
// finds out what is there); through the driver-backed provider only when it reads the
// keyboard controller's status port.
void OfferKeyboardPort() {
    auto& list = frmUI().cboPORT;
    if (!g.cmd.UseWinIo) {
        list.AddItem(kPs2Entry);
        return;
    }
    auto& dialogs = *platform::Current().dialogs;
    platform::KeyboardPorts* kb = platform::Current().keyboard;
    if (kb == nullptr || !kb->InitializeWinIo()) {
        dialogs.MsgBox("WinIo was not initialized", platform::mb::kCritical + platform::mb::kOk,
                       "RomPush Utility");
        return;
    }
    std::uint32_t status = 0;
    if (kb->GetPortVal(kKbStatusPort, status, 1)) {
        list.AddItem(kPs2Entry);
    } else {
        TraceLine("--    GetPortVal( &H64 ) failed: " + kb->LastError());
        dialogs.MsgBox("PS/2 port was not initialized", platform::mb::kCritical + platform::mb::kOk,
                       "");
    }
    kb->ShutdownWinIo();
}

// A serial device the search found but could not open: listed with its reason; missing
// rights become the hint of what to do.
void NoteUnavailable(int number, const std::string& reason) {
    const platform::PortDescription d = platform::Current().serial->Describe(number);
    if (d.device.empty())
        return;  // no device behind the number: nothing to tell
    // The port's own reasons read "COMn (device): why"; the operator needs the why.
    const auto cut = reason.find("): ");
    const std::string why = cut == std::string::npos ? reason : reason.substr(cut + 3);
    g.port.UnavailablePorts.push_back("COM" + std::to_string(number) + "  " + d.device +
                                      "  not available: " + why);
    if (why.rfind("permission denied", 0) == 0 && g.port.RightsHint.empty()) {
        const bool named =
            !d.group.empty() && !std::isdigit(static_cast<unsigned char>(d.group[0]));
        const std::string group = named ? d.group : "dialout";
        g.port.RightsHint = "No access to " + d.device + ": your user must be in the group " +
                            group + " (sudo usermod -aG " + group + " $USER, then log in again)";
    }
}

void ForgetUnavailable() {
    g.port.UnavailablePorts.clear();
    g.port.RightsHint.clear();
}

// The tooltip and the COM PORT dialog follow the list.
void DescribePorts() {
    const std::string text = PortListText();
    frmUI().cboPORT.ToolTipText = text;
    frmComParameters().lblPorts.Caption = text;
}

int IndexOf(const std::vector<std::string>& entries, const std::string& entry) {
    const auto at = std::find(entries.begin(), entries.end(), entry);
    return at == entries.end() ? -1 : static_cast<int>(at - entries.begin());
}

// A selection that cannot be served: "COMM port not available", no device in the panels.
void ShowPortNotAvailable() {
    g.result.ErrorCode = 1;
    ui::ShowNotice(ui::Notice::PortNotAvailable);
    ui::SetStatusPanel5("");
    ui::SetStatusPanel3("");
    ui::SetStatusPanel4("");
}

// The selected port's device went away: as a failed selection, "COMM port not available".
// Nothing is selected until it comes back.
void SelectedPortWentAway(int number) {
    TraceLine("--    COM" + std::to_string(number) + " went away");
    auto& serial = *platform::Current().serial;
    try {
        if (serial.PortOpen())
            serial.SetPortOpen(false);
    } catch (const platform::PlatformError&) {
    }
    g.port.LostPortNumber = static_cast<std::uint8_t>(number);
    g.port.CommPortNumber = 0;
    ForgetDevice();
    g.dev.DevLetter = " ";
    ui::DefaultUI();
    ShowPortNotAvailable();
}

std::string DefaultHexDir() {
    return platform::Current().system->ProgramFolder() + "/HexFiles";
}

void RestoreHexDir() {
    std::vector<std::string> lines;
    g.port.HexDir = DefaultHexDir();
    if (!ReadIniLines(lines, 9))
        return;
    const std::string line9 = LineOr(lines, 8);
    if (line9.empty() || std::string("HXDK$").find(line9[0]) == std::string::npos)
        return;
    const std::string path = Trim(line9.size() > 2 ? line9.substr(2) : "");
    const auto cut = path.find_last_of("\\/");
    g.port.HexDir = cut == std::string::npos ? "" : path.substr(0, cut + 1);
}
}  // namespace

std::string PortListText() {
    const auto& list = frmUI().cboPORT;
    auto& serial = *platform::Current().serial;
    std::string text;
    auto add = [&text](const std::string& line) { text += (text.empty() ? "" : "\n") + line; };
    for (const std::string& entry : list.Items) {
        if (entry == kPs2Entry)
            continue;
        const int number = PortNumberOfEntry(entry);
        add("COM" + std::to_string(number) + "  " + serial.Describe(number).Summary());
    }
    for (const std::string& line : g.port.UnavailablePorts)
        add(line);
    if (!g.port.RightsHint.empty())
        add(g.port.RightsHint);
    return text;
}

int PortNumberOfEntry(const std::string& entry) {
    if (entry == kPs2Entry)
        return kPs2PortNumber;
    const long number = Val(Trim(entry));
    return number >= 0 && number <= 255 ? static_cast<int>(number) : 0;
}

void ReopenPortFixed() {
    auto& serial = *platform::Current().serial;
    try {
        if (serial.PortOpen())
            serial.SetPortOpen(false);
        serial.SetSettings("115200,N,8,1");
        serial.SetCommPort(g.port.CommPortNumber);
        serial.SetHandshaking(0);
        serial.SetInputLen(1);
        serial.SetInputModeText();
        serial.SetPortOpen(true);
        TraceLatency();
    } catch (const platform::PlatformError& error) {
        // "PS/2" and no selection have no serial port: it stays closed.
        TraceLine("--    frmUI.MSComm1.PortOpen = False (" + std::string(error.what()) + ")");
    }
}

void FindComPorts(bool atStartup) {
    TraceScope trace("FindComPorts()");
    auto& list = frmUI().cboPORT;
    if (atStartup) {
        ValidateSettingsFile();
        LoadHeader();
    } else {
        const long max = Val(frmComParameters().txtMaxComPorts.Text);
        g.port.MaxComPorts = static_cast<std::uint8_t>(max >= 0 && max <= 255 ? max : 25);
        list.Clear();
    }

    g.port.CommPortNumber = 0;
    g.port.LostPortNumber = 0;
    g.port.BaudSetting = "9600,";
    ForgetUnavailable();
    for (int n = 1; n <= g.port.MaxComPorts; ++n) {
        if (SetCommPort(static_cast<std::uint8_t>(n)))
            list.AddItem(std::to_string(n));
        else
            NoteUnavailable(n, platform::Current().serial->LastError());
    }
    if (list.ListCount() > 0) {
        list.SetListIndex(0);
        g.port.CommPortNumber = static_cast<std::uint8_t>(PortNumberOfEntry(list.Items[0]));
    }

    OfferKeyboardPort();

    RestoreRememberedPort();
    RestoreHexDir();
    ReopenPortFixed();
    DescribePorts();
}

void FollowPortChanges() {
    const platform::Services& services = platform::Current();
    if (services.ports == nullptr || g.cmd.ProductMode != "FALSE")
        return;
    // A dialog holds the main window (the COM PORT dialog rebuilds the list itself): the
    // change is taken once it is closed.
    if (frmUI().Enabled && services.ports->Changed())
        RefreshComPorts();
    if (!g.port.RightsHint.empty() && !g.port.RightsHintShown && frmUI().lblPASS.Caption.empty()) {
        g.port.RightsHintShown = true;
        ui::ShowMsg(g.port.RightsHint, ui::colour::kLightYellow);
    }
}

void RefreshComPorts() {
    TraceScope trace("RefreshComPorts()");
    auto& list = frmUI().cboPORT;
    auto& serial = *platform::Current().serial;
    const std::string selected = list.Text();
    const int selectedNumber = selected.empty() ? 0 : PortNumberOfEntry(selected);
    // The open port's device went and may be back under the same number: it is searched
    // like the others, and opened again below if it is.
    const bool lost = serial.PortOpen() && serial.DeviceLost();
    if (lost) {
        try {
            serial.SetPortOpen(false);
        } catch (const platform::PlatformError&) {
        }
    }

    std::vector<std::string> entries;
    ForgetUnavailable();
    for (int n = 1; n <= g.port.MaxComPorts; ++n) {
        std::string why;
        if (serial.Probe(n, why)) {
            entries.push_back(std::to_string(n));
        } else if (!serial.DevicePath(n).empty()) {
            TraceLine("--    COM" + std::to_string(n) + " (" + serial.DevicePath(n) +
                      ") not available: " + why);
            NoteUnavailable(n, why);
        }
    }
    if (IndexOf(list.Items, kPs2Entry) >= 0)
        entries.push_back(kPs2Entry);
    list.Items = entries;
    list.ListIndex = IndexOf(entries, selected);

    if (list.ListIndex >= 0) {
        if (lost) {
            ForgetDevice();
            g.dev.DevLetter = " ";
            ui::DefaultUI();
        }
        // Still there; opened again when its device came back (the click handler's path).
        if (selectedNumber != kPs2PortNumber && !serial.PortOpen())
            list.SetListIndex(list.ListIndex);
    } else if (!selected.empty()) {
        SelectedPortWentAway(selectedNumber);
    } else if (g.port.LostPortNumber != 0) {
        const int back = IndexOf(entries, std::to_string(g.port.LostPortNumber));
        if (back >= 0) {
            g.port.LostPortNumber = 0;
            list.SetListIndex(back);
        }
    }
    DescribePorts();
}

void cboPORT_Click() {
    auto& form = frmUI();
    g.result.ErrorCode = 0;
    const int number = PortNumberOfEntry(form.cboPORT.Text());
    if (number != g.port.CommPortNumber) {
        ForgetDevice();
        g.dev.DevLetter = " ";
        ui::DefaultUI();
    }
    g.port.CommPortNumber = static_cast<std::uint8_t>(number);
    g.port.LostPortNumber = 0;
    if (number != kPs2PortNumber) {
        if (SetCommPort(g.port.CommPortNumber)) {
            ReopenAndDiscard();
        } else {
            ShowPortNotAvailable();
        }
    }
    g.files.SelectedFileName = "";
    form.btnHEXFILE.Caption = "SELECT HEX FILE";
}

void cboPORT_LostFocus() {
    auto& list = frmUI().cboPORT;
    const bool lastIsPs2 =
        list.ListIndex >= 0 && list.ListIndex == list.ListCount() - 1 && list.Text() == kPs2Entry;
    g.port.CommPortNumber =
        static_cast<std::uint8_t>(lastIsPs2 ? kPs2PortNumber : PortNumberOfEntry(list.Text()));
}

void btnCommPort_MouseUp() {
    TraceScope trace("cboPORT_Click");
    if (g.port.CommPortNumber == 0)
        return;
    auto& form = frmUI();
    const std::string entry = form.cboPORT.Text();
    if (g.cmd.MainLoopRunning) {
        auto& dialog = frmComParameters();
        dialog.Caption = "Parameters for all COM ports";
        ui::SelectSavedPositions();
        form.Enabled = false;
        dialog.txtMaxComPorts.Text = std::to_string(g.port.MaxComPorts);
        dialog.lblPorts.Caption = PortListText();
        ui::KeepOnTop(dialog, true);
        ui::frmComParameters_ListValidate();
    }
    const int number = PortNumberOfEntry(entry);
    if (number != g.port.CommPortNumber)
        ForgetDevice();
    g.port.CommPortNumber = static_cast<std::uint8_t>(number);
    if (number != kPs2PortNumber)
        ReopenAndDiscard();
}

}  // namespace rompush
