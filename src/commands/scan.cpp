#include <string>

#include "commands/commands.h"
#include "commands/port_selection.h"
#include "core/settings_file.h"
#include "core/state.h"
#include "core/trace.h"
#include "hexfile/hex_validation.h"
#include "platform/platform.h"
#include "ps2/ps2_scan.h"
#include "serial/comm.h"
#include "serial/identify.h"
#include "serial/packets.h"
#include "ui/main_window.h"

namespace rompush {

namespace {
constexpr std::int32_t kReadyByteWaitMs = 3500;
constexpr std::uint8_t kReadyByte = 0x08;

void SetPointer(platform::MousePointer pointer) {
    platform::Current().desktop->SetMousePointer(pointer);
}

void ClearPortPanels() {
    ui::SetStatusPanel5("");
    ui::SetStatusPanel3("");
    ui::SetStatusPanel4("");
}

// Waits up to 3500 ms for the bootloader's ready byte.
void WaitForReadyByte() {
    auto& serial = *platform::Current().serial;
    auto& events = *platform::Current().events;
    StartTimer(kReadyByteWaitMs);
    for (;;) {
        if (!g.link.DelayActive || PortLost())
            break;
        if (serial.InBufferCount() > 0) {
            const std::string in = serial.Input();
            if (!in.empty() && static_cast<std::uint8_t>(in[0]) == kReadyByte)
                break;
            events.DoEvents();
        } else {
            events.WaitForEvents(100);
        }
    }
    StopTimer();
}
}  // namespace

void ScanCommand() {
    auto& form = frmUI();
    if (g.result.ErrorCode != 0) {
        // A SCAN pressed while an error is pending only clears it; the next SCAN scans.
        g.cmd.UiCommand = 0;
        g.result.ErrorCode = 0;
        return;
    }
    const bool ps2 = KeyboardPortSelected();
    const int number = SelectedPortNumber();
    CommandPreamble(PreambleInput::Keep);
    g.cmd.CurrentCommand = uicmdSCAN;

    g.port.CommPortNumber = static_cast<std::uint8_t>(number);
    if (g.port.CommPortNumber == kPs2PortNumber) {
        ScanPS2Port();
    } else {
        ScanSerialPort();
    }
    SetPointer(platform::MousePointer::Default);

    if (g.result.ErrorCode == 0) {
        ui::DisplayError();
        ui::ShowMsg("TARN Product Found", ui::colour::kGreen);
        Delay(1000);
    }
    CheckINI(g.files.LastUsedName, g.files.LastUsedPath);
    ui::ButtonEnabler();

    if (g.result.ProgramVerifyOk) {
        ui::ShowMsg("Program and Verify OK", ui::colour::kGreen);
        g.result.ProgramVerifyOk = false;
        ClearInBuffer();
    }
    g.cmd.UiCommand = 0;
    if (form.btnPROGRAM.Enabled)
        form.SetFocus(form.btnPROGRAM);

    g.result.ScanErrorCode = g.result.ErrorCode;
    if (!ps2) {
        // The probes for the serial-menu products come with their operations; the port is
        // left open at 115200 baud as the products expect.
        ClearInBuffer();
        g.port.BaudSetting = "115200";
        SetCommPort(static_cast<std::uint8_t>(number));
        if (g.result.ErrorCode == 1) {
            ui::ShowMsg("TARN Product Not Found", ui::colour::kLightYellow);
            ClearPortPanels();
            g.result.ErrorCode = 0;
        }
    }
    EndCommand(uicmdSCAN);  // a button pressed once the buttons were usable again still runs
    g.result.ErrorCode = 0;
}

void ScanSerialPort() {
    TraceScope trace("ScanSerialPort()");
    ui::ClearDevicePanels();
    ui::DisableAllButtons();
    g.dev.DeviceFound = false;

    const std::string port = std::to_string(g.port.CommPortNumber);
    ui::ShowMsg(("Scanning COM" + port + "...").substr(0, 15), ui::colour::kButtonFace);

    if (!SetCommPort(g.port.CommPortNumber)) {
        g.result.ErrorCode = 1;
        ui::ShowMsg("COMM port not available", ui::colour::kLightYellow);
        ClearPortPanels();
        ui::DisableAllButtons();
    } else {
        ui::ShowMsg("Waiting for response...", ui::colour::kButtonFace);
        WaitForReadyByte();
        send_packet(4, ID_CMD);
        Delay(50);
        RcvIn(3000);
        if (g.link.RcvArray[0] == 0 || !Corrlator(ID_CMD)) {
            g.result.ErrorCode = 1;
        } else {
            ui::ShowMsg("Identifying Device...", ui::colour::kButtonFace);
            ui::SetStatusPanel5("COM" + port);
            if (xmitID_CMD()) {
                ui::ShowMsg("", ui::colour::kButtonFace);
                ValidateHexFile(g.files.SelectedFileName, g.files.SelectedFilePath);
            }
        }
    }
    ui::ButtonEnabler();
}

}  // namespace rompush
