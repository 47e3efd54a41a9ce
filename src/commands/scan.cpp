#include <string>

#include "commands/commands.h"
#include "commands/port_selection.h"
#include "core/settings_file.h"
#include "core/state.h"
#include "core/trace.h"
#include "hexfile/hex_validation.h"
#include "menus/product_text.h"
#include "menus/serial_banner.h"
#include "platform/platform.h"
#include "ps2/ps2_scan.h"
#include "serial/comm.h"
#include "serial/identify.h"
#include "serial/packets.h"
#include "ui/main_window.h"
#include "ui/notices.h"

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

namespace {
// How long one pass of an information view sleeps at most; the Cancel click wakes it.
constexpr int kViewSliceMs = 100;

// Everything waiting on the port, processing events after each read.
std::string CollectReply() {
    auto& serial = *platform::Current().serial;
    std::string reply;
    while (serial.InBufferCount() > 0) {
        const std::string in = serial.Input();
        if (in.empty())
            break;
        reply += in;
        platform::Current().events->DoEvents();
    }
    return reply;
}

// A "K", then a "C" at or after it, then an "R" at or after that.
bool MeridanAnswered(const std::string& reply) {
    const std::size_t k = reply.find('K');
    const std::size_t c = k == std::string::npos ? k : reply.find('C', k);
    return c != std::string::npos && reply.find('R', c) != std::string::npos;
}

// The information view of a product that answered SCAN's probe. The product is served once
// it is power-cycled: the banner check listens until the operator's Cancel.
void OpenProbeView(const std::string& detected, const std::string& info, const std::string& note) {
    auto& form = frmUI();
    g.result.ErrorCode = 0;
    ui::ShowMsg("", ui::colour::kButtonFace);
    SetPointer(platform::MousePointer::Default);
    for (ui::Control* control :
         {static_cast<ui::Control*>(&form.btnSCAN), static_cast<ui::Control*>(&form.btnHEXFILE),
          static_cast<ui::Control*>(&form.btnLASTUSED), static_cast<ui::Control*>(&form.cboPORT),
          static_cast<ui::Control*>(&form.btnCommPort)}) {
        control->Enabled = false;
    }
    RestoreInfoLayout();
    // Nothing has spoken yet: there is no console to show.
    form.btnShowDiagnostic.Visible = false;
    form.txtSwtDetected.Text = detected;
    form.txtInfo.Text = info;
    form.txtNote.Font = {"MS Sans Serif", 11, true};
    form.txtNote.Text = note;
    form.btnCANCEL.Caption = "Cancel";
}

// Until Cancel, or until a product that powered up has been served and has left: its view
// (and this one's Cancel button) is gone by then.
void ListenUntilCancel() {
    const int served = g.menus.ProductsServed;
    while (!g.cmd.ContinueFlag && g.menus.ProductsServed == served) {
        CheckSerialBanner();
        platform::Current().events->WaitForEvents(kViewSliceMs);
    }
}

void CloseProbeView() {
    auto& form = frmUI();
    for (ui::Control* control :
         {static_cast<ui::Control*>(&form.btnSCAN), static_cast<ui::Control*>(&form.btnHEXFILE),
          static_cast<ui::Control*>(&form.cboPORT), static_cast<ui::Control*>(&form.btnCommPort)}) {
        control->Enabled = true;
    }
    g.cmd.UiCommand = 0;
}
}  // namespace

void MeridanProbe(std::uint8_t port) {
    g.port.BaudSetting = "115200";
    SetCommPort(port);
    DiscardInput();
    SendToProduct("?\r");
    Delay(1000);
    if (!MeridanAnswered(CollectReply()))
        return;
    OpenProbeView("Meridan Detected.", "Power cycle Meridan\r\nto begin communitions.",
                  "NOTE: SCAN not needed to find Meridan.\r\nPower cycle from main menu.");
    g.cmd.ContinueFlag = false;
    ListenUntilCancel();
    CloseProbeView();
}

void CrossfieldProbe(std::uint8_t port) {
    g.port.BaudSetting = "9600";
    for (;;) {
        SetCommPort(port);
        DiscardInput();
        Delay(500);
        SendToProduct("?");
        Delay(500);
        SendToProduct("\r");
        Delay(500);
        if (CollectReply().find('K') != std::string::npos) {
            OpenProbeView("Crossfield Detected.", "Power cycle Crossfield to begin communitions.",
                          "NOTE: SCAN not needed to find Crossfield.\r\n"
                          "       Power cycle from main menu.");
            g.cmd.ContinueFlag = false;
            // Whatever rate it answered at, the Crossfield is listened for at 115200.
            g.port.BaudSetting = "115200";
            SetCommPort(port);
            ListenUntilCancel();
            CloseProbeView();
            return;
        }
        if (g.port.BaudSetting != "9600")
            return;
        g.port.BaudSetting = "57600";
    }
}

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
        // The SCAN after a PROGRAM is the device's confirmation that it runs its new firmware;
        // without an answer the programming alone is reported, as a warning.
        if (g.dev.DeviceFound) {
            ui::ShowMsg("Program and Verify OK", ui::colour::kGreen);
        } else {
            ui::ShowMsg(ui::kProgrammedNoAnswer, ui::colour::kLightYellow);
        }
        g.result.ProgramVerifyOk = false;
        ClearInBuffer();
    }
    g.cmd.UiCommand = 0;
    if (form.btnPROGRAM.Enabled)
        form.SetFocus(form.btnPROGRAM);

    g.result.ScanErrorCode = g.result.ErrorCode;
    // A port that could not be opened cannot be probed either: "COMM port not available"
    // stays, rather than a "not found" that would send the operator to cable and power.
    const bool portOpen = !ps2 && platform::Current().serial->PortOpen();
    if (portOpen) {
        MeridanProbe(static_cast<std::uint8_t>(number));
        CrossfieldProbe(static_cast<std::uint8_t>(number));
        ClearInBuffer();
        g.port.BaudSetting = "115200";
        SetCommPort(static_cast<std::uint8_t>(number));
        if (g.result.ErrorCode == 1) {
            ui::ShowNotice(ui::Notice::ProductNotFound);
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
        ui::ShowNotice(ui::Notice::PortNotAvailable);
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
