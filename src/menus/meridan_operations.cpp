// The operations of the Meridan's buttons: the HEX file of the target, COPY FIRMWARE, LOAD
// DEFAULTS, PROGRAM (MAIN, USB or QRX) and RESTART. Each is a dialogue with the product's
// menu: a key, then a wait for the text that says how it went.
#include <string>

#include "core/settings_file.h"
#include "core/state.h"
#include "core/text.h"
#include "core/trace.h"
#include "hexfile/hex_file_dialog.h"
#include "hexfile/hex_validation.h"
#include "menus/meridan.h"
#include "menus/meridan_internal.h"
#include "menus/product_text.h"
#include "platform/platform.h"
#include "serial/comm.h"
#include "ui/main_window.h"

namespace rompush {

using meridan::Await;
using meridan::AwaitText;

namespace {
const platform::Services& P() {
    return platform::Current();
}

struct Slot {
    std::string* name;
    std::string* path;
    std::string* lastName;
    std::string* lastPath;
};

// The HEX file slot of the target being served.
Slot TargetSlot() {
    auto& f = g.files;
    const std::string& mode = g.cmd.ProductMode;
    if (mode == "USB")
        return {&f.UsbFileName, &f.UsbFilePath, &f.UsbLastUsedName, &f.UsbLastUsedPath};
    if (mode == "QRX")
        return {&f.QrxFileName, &f.QrxFilePath, &f.QrxLastUsedName, &f.QrxLastUsedPath};
    return {&f.SelectedFileName, &f.SelectedFilePath, &f.LastUsedName, &f.LastUsedPath};
}

// The buttons again after an operation; the copy button follows the data controllers.
void RefreshButtons() {
    ui::ButtonEnabler();
    auto& f = frmUI();
    f.ProgressBar1.Visible = false;
    P().desktop->SetMousePointer(platform::MousePointer::Default);
}

// The error is shown; the Meridan stays in its mode.
void ShowAndClearError() {
    ui::DisplayError();
    g.result.ErrorCode = 0;
}

// What the product said during an operation goes to the console's history.
void KeepDialogue() {
    g.menus.MenuText += g.menus.SerialText;
    g.menus.SerialText.clear();
}

// Every "Programming sector = " of the MAIN report must be followed by "Verify OK" before
// the next one; a report without any sector programmed nothing.
bool EverySectorVerified(const std::string& report) {
    const std::string sector = "Programming sector = ";
    std::size_t at = report.find(sector);
    if (at == std::string::npos)
        return false;
    while (at != std::string::npos) {
        const std::size_t next = report.find(sector, at + sector.size());
        const std::string part = report.substr(at, next == std::string::npos ? next : next - at);
        if (part.find("Verify OK") == std::string::npos)
            return false;
        at = next;
    }
    return true;
}

// Dots of the product's progress since `from` move the bar, up to its maximum.
void DotsToBar(std::size_t from) {
    auto& bar = frmUI().ProgressBar1;
    const std::string& text = g.menus.SerialText;
    int dots = 0;
    for (std::size_t i = from; i < text.size(); ++i)
        dots += text[i] == '.';
    bar.Value = std::min(dots, bar.Max);
}

bool MainReportOk() {
    auto& m = g.menus.meridan;
    const std::string& text = g.menus.SerialText;
    ui::ShowMsg("Verifying Download...", ui::colour::kButtonFace);
    ui::StartProgressBar(100);
    if (!AwaitText(">", meridan::kSectorMs, true))
        return false;
    const std::size_t menu = text.rfind("Serial options menu");
    if (!EverySectorVerified(text.substr(0, menu)))
        g.result.ErrorCode = 1606;
    m.InfoText =
        "Meridan main firmware has been downloaded.  RESTART and power cycle Meridan to "
        "reaquire current diagnostic information.";
    ReadMenuOptions();
    return true;
}

bool UsbFlashed() {
    ui::ShowMsg("Flashing USB...", ui::colour::kButtonFace);
    ui::StartProgressBar(64);
    const std::size_t from = g.menus.SerialText.size();
    if (!Await(
            [from](const std::string& t) {
                DotsToBar(from);
                return t.find('>', from) != std::string::npos;
            },
            meridan::kUsbFlashMs)) {
        return false;
    }
    if (g.menus.SerialText.find("Receive successful") != std::string::npos)
        ReadMenuOptions();
    else
        g.result.ErrorCode = 1607;
    return true;
}

// The lines beginning with "Error" that the Meridan sent since `from`, each ending in a line
// break: the transmitters that did not take the firmware.
std::string ErrorLines(const std::string& text, std::size_t from) {
    std::string lines;
    for (std::size_t at = text.find("Error", from); at != std::string::npos;
         at = text.find("Error", at + 5)) {
        if (at == 0 || text[at - 1] == '\n' || text[at - 1] == '\r') {
            const std::size_t end = text.find('\r', at);
            lines += text.substr(at, end == std::string::npos ? end : end - at) + "\r\n";
        }
    }
    return lines;
}

// The product confirms the file, asks twice before it passes it on, then flashes every
// transmitter on its ports in turn.
bool QrxFlashed() {
    auto& m = g.menus.meridan;
    const std::string& text = g.menus.SerialText;
    ui::ShowMsg("Flashing QRX...", ui::colour::kButtonFace);
    const std::size_t from = text.size();
    if (!Await(
            [from](const std::string& t) {
                return t.find("Receive successful") != std::string::npos ||
                       t.find('>', from) != std::string::npos;
            },
            meridan::kAnswerMs)) {
        return false;
    }
    if (text.find("Receive successful") == std::string::npos) {
        g.result.ErrorCode = 1608;
        m.QrxBusy = false;  // nothing goes to the transmitters: the product stays in its menu
        return true;
    }
    for (int question = 1; question <= 2; ++question) {
        const std::size_t asked = text.find("Receive successful");
        if (!Await(
                [asked, question](const std::string& t) {
                    int count = 0;
                    for (std::size_t at = t.find("Y/N", asked); at != std::string::npos;
                         at = t.find("Y/N", at + 3)) {
                        ++count;
                    }
                    return count >= question;
                },
                meridan::kAnswerMs)) {
            return false;
        }
        SendToProduct("Y");
        Delay(500);
    }
    ui::StartProgressBar(25);
    std::size_t seen = text.size();
    const bool completed = Await(
        [&seen](const std::string& t) {
            // The last port being flashed; a transmitter's "Error" line names its port too.
            std::size_t port = t.rfind("QRX on port");
            while (port != std::string::npos && port > 0 &&
                   t.compare(t.find_last_of("\r\n", port) + 1, 5, "Error") == 0) {
                port = t.rfind("QRX on port", port - 1);
            }
            // The port's number is taken once it has arrived whole.
            std::size_t end = port == std::string::npos ? port : port + 11;
            while (end < t.size() && t[end] == ' ')
                ++end;
            while (end < t.size() && t[end] >= '0' && t[end] <= '9')
                ++end;
            if (port != std::string::npos && port >= seen && end < t.size()) {
                seen = port + 1;
                ui::ShowMsg("Flashing QRX on port " +
                                std::to_string(Val(t.substr(port + 11, end - port - 11))) + "...",
                            ui::colour::kButtonFace);
            }
            if (port != std::string::npos)
                DotsToBar(port);
            return t.find("flashing completed") != std::string::npos;
        },
        meridan::kQrxSilenceMs);
    if (!completed)
        return false;
    // A transmitter's error may follow the last port's progress.
    Delay(500);
    ReadIntoSerialText();
    m.QrxReport = ErrorLines(text, text.find("Receive successful"));
    if (!m.QrxReport.empty())
        g.result.ErrorCode = 1609;
    return true;
}

// After a QRX update the Meridan restarts by itself: the note says so, with the transmitters
// that failed, if any.
void QrxCompleted() {
    auto& form = frmUI();
    const std::string& failed = g.menus.meridan.QrxReport;
    meridan::ShowInfoView(failed,
                          failed.empty() ? "QRX programming completed and Meridan restarted."
                                         : "QRX programming failed and Meridan restarted.",
                          "(RomPush will now exit Meridan mode.)", "CONTINUE");
    form.txtSwtDetected.Visible = !failed.empty();
    form.txtInfo.Font.Name = "Time New Roman";
    meridan::WaitForOperator();
}

// The copy's answer has come: an "Error" in it (up to the second line end after it) goes on
// the COPY FIRMWARE row with error 1601.
bool CopyReported() {
    const std::string& text = g.menus.SerialText;
    const std::size_t error = text.find("Error");
    if (error == std::string::npos)
        return false;
    const std::size_t first = text.find('\r', error);
    const std::size_t second = first == std::string::npos ? first : text.find('\r', first + 1);
    frmUI().lblERASE.Caption =
        text.substr(error, second == std::string::npos ? second : second - error);
    g.result.ErrorCode = 1601;
    ui::DisplayError();
    return true;
}
}  // namespace

void MeridanSelectFile() {
    TraceScope trace("MeridanSelectFile()");
    ui::DisableAllButtons();
    g.result.ErrorCode = 0;
    ui::DisplayError();
    const std::string path = ChooseHexFile("Select " + g.cmd.ProductMode + " Hex File");
    if (!path.empty()) {
        Delay(100);
        const Slot slot = TargetSlot();
        *slot.path = path;
        *slot.name = FileNameOf(path);
        ValidateHexFile(*slot.name, *slot.path);
        ui::ButtonEnabler();
        if (g.result.ErrorCode == 0 && g.files.HexFileRead)
            ui::ShowMsg("HEX FILE OK", ui::colour::kGreen);
    } else {
        ui::ButtonEnabler();
    }
}

void MeridanLastUsed() {
    TraceScope trace("MeridanLastUsed()");
    ui::DisableAllButtons();
    const Slot slot = TargetSlot();
    const bool valid = ValidateHexFile(*slot.lastName, *slot.lastPath);
    if (valid) {
        *slot.name = *slot.lastName;
        *slot.path = *slot.lastPath;
    }
    ui::ButtonEnabler();
    if (g.result.ErrorCode == 0 && valid) {
        ui::DisplayError();
        const std::string& mode = g.cmd.ProductMode;
        ui::ShowMsg(mode == "MAIN" ? "HEX FILE OK" : mode + " HEX FILE OK", ui::colour::kGreen);
        Delay(1000);
    }
}

void MeridanCopyFirmware() {
    TraceScope trace("MeridanCopyFirmware()");
    auto& form = frmUI();
    auto& text = g.menus.SerialText;
    meridan::KeepLastMenuBlock();
    P().desktop->SetMousePointer(platform::MousePointer::Hourglass);
    ClearInBuffer();
    ui::DisableAllButtons();
    ui::StartProgressBar(100);
    ui::DisplayError();
    ui::ShowMsg("Copying Program...", ui::colour::kButtonFace);
    SendToProduct(meridan::MenuKey(g.menus.meridan.MenuOption[kMeridanCopyOption]));
    Delay(500);
    text.clear();
    if (!Await(meridan::EndsInPrompt, meridan::kAnswerMs))
        return;
    bool ok = !CopyReported();
    if (ok) {
        Delay(1000);
        SendToProduct("Y");
        KeepDialogue();
        // Without a second question this answer is the copy itself.
        if (!Await(meridan::EndsInPrompt, meridan::kCopyMs, true))
            return;
        ok = !CopyReported();
    }
    if (ok && text.find("Are you sure ?") != std::string::npos) {
        SendToProduct("Y");
        KeepDialogue();
        // The data controllers receive the firmware; the menu comes back when they have it,
        // or when one of them failed.
        if (!Await(meridan::EndsInPrompt, meridan::kCopyMs, true))
            return;
        ok = !CopyReported();
    }
    form.ProgressBar1.Value = 0;
    if (ok) {
        ui::ShowMsg("COPY OK", ui::colour::kGreen);
        form.lblERASE.Caption = "Send firmware from main board to other boards in Meridan.";
    }
    g.result.ErrorCode = 0;  // an error stays on the COPY FIRMWARE row
    RefreshButtons();
    KeepDialogue();
}

void MeridanLoadDefaults() {
    TraceScope trace("MeridanLoadDefaults()");
    auto& form = frmUI();
    meridan::KeepLastMenuBlock();
    ClearInBuffer();
    SendToProduct(meridan::MenuKey(g.menus.meridan.MenuOption[kMeridanDefaultsOption]));
    ui::DisableAllButtons();
    ui::ShowMsg("Setting to Defaults...", ui::colour::kButtonFace);
    Delay(1000);
    if (P().serial->InBufferCount() <= 100) {
        ui::ShowMsg("", ui::colour::kButtonFace);
        RefreshButtons();
        g.result.ErrorCode = 1602;
        ShowAndClearError();
        return;
    }
    g.menus.SerialText.clear();
    ui::StartProgressBar(100);
    ReadIntoSerialText();
    form.ProgressBar1.Value = form.ProgressBar1.Max;
    // The rest of the menu that follows is read before the next operation sends its key.
    Await(meridan::EndsInPrompt, meridan::kAnswerMs);
    RefreshButtons();
    if (g.menus.SerialText.find("Reset to default successful") != std::string::npos) {
        ui::ShowMsg("LOAD DEFAULTS OK", ui::colour::kGreen);
    } else {
        // The Meridan answered but never said the defaults were loaded: that is no success,
        // and the operator must not be left with the progress text either.
        ui::ShowMsg("", ui::colour::kButtonFace);
        g.result.ErrorCode = 1602;
        ShowAndClearError();
    }
    KeepDialogue();
}

void MeridanProgram() {
    TraceScope trace("MeridanProgram()");
    auto& form = frmUI();
    auto& m = g.menus.meridan;
    auto& text = g.menus.SerialText;
    const std::string mode = g.cmd.ProductMode;
    meridan::KeepLastMenuBlock();
    ui::DisableAllButtons();  // from the first key on: the product is busy with the request
    ClearInBuffer();
    ClearInBuffer();
    m.QrxBusy = false;
    m.MainLoading = false;
    m.QrxReport.clear();

    // The key is the digit the menu gives the target; a menu without it is not asked.
    const std::uint8_t option = mode == "USB"   ? m.MenuOption[kMeridanUsbReceiveOption]
                                : mode == "QRX" ? m.MenuOption[kMeridanQrxReceiveOption]
                                                : m.MenuOption[kMeridanMainOption];
    const std::int16_t notAsked = mode == "USB" ? 1603 : 1604;
    text.clear();
    if (option != 0) {
        SendToProduct(meridan::MenuKey(option));
        m.QrxBusy = mode == "QRX";
        m.MainLoading = mode == "MAIN";
        form.lblPROGRAM.Caption = meridan::ProgramHelpText();
        Delay(500);
        ReadIntoSerialText();
    }
    g.result.ErrorCode = text.find("Waiting for file") != std::string::npos ? 0 : notAsked;

    bool answered = true;
    const Slot slot = TargetSlot();
    if (g.result.ErrorCode == 0) {
        ui::DisableAllButtons();
        ui::ShowMsg(mode == "MAIN" ? "Flashing Meridan..." : "Flashing Meridan for " + mode + "...",
                    ui::colour::kButtonFace);
        Delay(1000);
        form.ProgressBar1.Visible = true;
        const FileSend sent = SendFileAsText(*slot.path, true);
        if (sent == FileSend::NoFile) {
            g.result.ErrorCode = 1605;
            // The product waits for a file: it is told that none comes.
            SendToProduct("X");
            SendToProduct("N");
            SendToProduct("\r");
        } else if (sent == FileSend::Lost) {
            m.LeaveReason = "MERIDAN PORT LOST";
            answered = false;
        } else if (sent != FileSend::Sent) {
            g.result.ErrorCode = 1204;  // the Meridan was told to drop the file
        } else if (mode == "MAIN") {
            answered = MainReportOk();
        } else if (mode == "USB") {
            answered = UsbFlashed();
        } else {
            answered = QrxFlashed();
        }
    }
    if (g.result.ErrorCode != 0 && m.QrxReport.empty())
        m.QrxBusy = false;  // the transmitters were not updated: the product did not restart
    if (!answered)
        return;
    if (g.result.ErrorCode != 0) {
        ShowAndClearError();
    } else {
        ui::ShowMsg("PROGRAM OK", ui::colour::kGreen);
        if (mode == "MAIN") {
            const std::string& name = *slot.name;
            ui::SetStatusPanel3("( " + name.substr(0, name.size() >= 4 ? name.size() - 4 : 0) +
                                " )");
        }
        WriteINI();
        CheckINI(*slot.lastName, *slot.lastPath);
    }
    // The transmitters were updated, every one or not: the Meridan restarts by itself.
    if (mode == "QRX" && m.QrxBusy)
        QrxCompleted();
    m.MainLoading = false;
    // The buttons come back; "PROGRAM OK" stays on the message line for the operator to see.
    RefreshButtons();
    if (mode != "QRX")
        KeepDialogue();
}

// The Meridan leaves its menu (or has restarted by itself after a QRX update) and boots; its
// power-on text is shown before RomPush leaves the Meridan mode.
void MeridanRestart() {
    TraceScope trace("MeridanRestart()");
    auto& form = frmUI();
    auto& m = g.menus.meridan;
    auto& text = g.menus.SerialText;
    const bool afterQrx = m.QrxBusy;
    if (!afterQrx) {
        ClearInBuffer();
        text.clear();
        SendToProduct(meridan::MenuKey(m.ExitOption));
    }
    ui::DisableAllButtons();
    const bool usbVersion = Val(m.ProgramVersion) >= 9;
    const std::string awaited = usbVersion ? "USB version" : "PS2 mouse";
    if (!afterQrx)
        ui::ShowMsg("Waiting for Meridan restart...", ui::colour::kButtonFace);
    ui::StartProgressBar(100);
    // The restart's own text is read here, also after a QRX update, so that the idle banner
    // check never hears it as a product announcing itself.
    if (!AwaitText(awaited, meridan::kBootMs, true))
        return;
    Delay(1000);
    auto lineEnded = [&](const std::string& label) {
        return [&, label](const std::string&) {
            const std::size_t at = text.rfind(label);
            return at != std::string::npos && text.find('\r', at) != std::string::npos;
        };
    };
    if (!Await(lineEnded(awaited), meridan::kAnswerMs))
        return;
    if (usbVersion) {
        const std::size_t at = text.rfind(awaited);
        const std::string rest = text.substr(at, text.find('\r', at) - at);
        if (rest.find("None") == std::string::npos &&
            (!AwaitText("USB mouse", meridan::kBootMs) ||
             !Await(lineEnded("USB mouse"), meridan::kAnswerMs))) {
            return;
        }
    }
    form.ProgressBar1.Visible = false;
    if (!afterQrx) {
        const std::size_t from = text.rfind("Program version");
        const std::string powerOn = from == std::string::npos ? text : text.substr(from);
        ui::ShowMsg("", ui::colour::kButtonFace);
        g.result.ErrorCode = 0;
        ui::DisplayError();
        ui::DefaultUI();
        Delay(1000);
        meridan::ShowInfoView(powerOn, "", "(RomPush will now exit Meridan mode.)", "CONTINUE");
        meridan::WaitForOperator();
    }
    ui::DisableAllButtons();
    form.lblVERIFY.Caption =
        "Check that the application firmware in the Tarn product and the hex file are the same.";
    form.lblERASE.Caption = "Delete the application firmware in the Tarn product's memory.";
    ui::ShowMsg("", ui::colour::kButtonFace);
    g.cmd.ProductMode = "FALSE";
    ui::DefaultUI();
    g.result.ErrorCode = 0;
    g.dev.DeviceFound = false;
    m.QrxBusy = false;
}

}  // namespace rompush
