#include "menus/serial_console.h"

#include <algorithm>
#include <filesystem>

#include "commands/port_selection.h"
#include "core/state.h"
#include "core/text.h"
#include "core/whole_files.h"
#include "menus/meridan.h"
#include "menus/product_text.h"
#include "platform/platform.h"
#include "serial/comm.h"
#include "ui/main_window.h"

namespace rompush {

namespace {
const platform::Services& P() {
    return platform::Current();
}

// How long one pass of the console loop sleeps at most; characters, keys and clicks wake it.
constexpr int kConsoleSliceMs = 100;
// A product that sends no line end for this long a stretch still gets its text shown.
constexpr std::size_t kLongestConsoleLine = 1024;

// Display kinds of a console line.
enum Kind {
    kPrompt = 1,
    kPlain = 2,
    kPromptDotted = 3,
    kUsbProgress = 4,
    kPortProgress = 5,
    kEchoedDigit = 6
};

bool Has(const std::string& text, const char* what) {
    return text.find(what) != std::string::npos;
}

std::string TrimRight(std::string text) {
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Keeps the newest text when the console has grown past its limit, cut at a line start so no
// half line is left at the top.
void BoundHistory(std::string& text) {
    if (text.size() <= kConsoleHistoryLimit)
        return;
    std::size_t cut = text.size() - kConsoleHistoryLimit * 3 / 4;
    const std::size_t lineStart = text.find('\n', cut);
    if (lineStart != std::string::npos)
        cut = lineStart + 1;
    text.erase(0, cut);
}

// The Crossfield's starting computer number as its menu in the console shows it.
void ReadStartCpuFromConsole(const std::string& console) {
    const std::size_t entry = console.rfind("Change starting computer number");
    if (entry == std::string::npos)
        return;
    const std::size_t dot = console.find('.', entry);
    if (dot == std::string::npos)
        return;
    const std::size_t end = console.find('\r', dot);
    if (end == std::string::npos || end < dot + 3)
        return;
    g.menus.StartCpu = std::to_string(Val(console.substr(dot + 3, end - (dot + 3))));
    frmUI().btnStartCpu.Caption = "LOAD START CPU ... " + g.menus.StartCpu;
}

// One character of the product's text into the console line; a complete line or prompt is
// shown.
void ConsoleCharacter(char c) {
    auto& menus = g.menus;
    std::string& line = menus.ConsoleLine;
    line += c;
    enum { kCollect, kLine, kPromptEnd, kLineAndAnswer } state = kCollect;
    const bool crossfield = g.cmd.ProductMode == "CFX";
    if (c == '\r') {
        state = kLine;
        if (crossfield && Has(line, "Set baud rate of your terminal to")) {
            // The Crossfield changes its rate now: the console follows it and answers.
            g.port.BaudSetting = Has(line, "57600") ? "57600" : "9600";
            SetCommPort(static_cast<std::uint8_t>(PortNumberOfEntry(frmUI().cboPORT.Text())));
            state = kLineAndAnswer;
        }
    }
    if (c == '>' || c == '?' || c == '.' || Has(line, "Waiting for file") ||
        Has(line, "Now flashing USB Serial code") ||
        Has(line, "Now flashing new firmware to QRX on port") || Has(line, "Y/N")) {
        state = kPromptEnd;
    }
    if (crossfield && menus.StartCpuEntry && IsDigit(c))
        state = kPromptEnd;  // each digit the Crossfield echoes is shown at once
    if (state == kCollect && line.size() >= kLongestConsoleLine)
        state = kLine;

    switch (state) {
        case kCollect:
            return;
        case kPromptEnd:
            line += '\r';
            break;
        default:
            break;
    }
    const std::string complete = line;
    line.clear();
    DisplaySerialLine(complete);
    if (state == kLineAndAnswer)
        SendToProduct("\r");
}

// The character a key sends: digits (the keypad's too), capital letters, blank, Enter as a
// carriage return, Backspace and Escape. Other keys (Shift, arrows, function keys) send
// nothing: their codes are no characters the products know.
std::string KeyCharacter(int keyCode) {
    if (keyCode >= 0x60 && keyCode <= 0x69)
        keyCode -= 0x30;  // keypad digits
    const bool character = (keyCode >= '0' && keyCode <= '9') ||
                           (keyCode >= 'A' && keyCode <= 'Z') || keyCode == ' ' ||
                           keyCode == '\r' || keyCode == 0x08 || keyCode == 0x1B;
    return character ? std::string(1, static_cast<char>(keyCode)) : std::string();
}

// The file slot of the current mode gets the file the product was sent.
void StoreRequestedFile(const std::string& path) {
    auto& files = g.files;
    const std::string& mode = g.cmd.ProductMode;
    const std::string name = FileNameOf(path);
    if (mode == "USB") {
        files.UsbFilePath = path;
        files.UsbFileName = name;
    } else if (mode == "QRX") {
        files.QrxFilePath = path;
        files.QrxFileName = name;
    } else if (mode == "CFX") {
        files.CfxFilePath = path;
        files.CfxFileName = name;
    } else {
        files.SelectedFilePath = path;
        files.SelectedFileName = name;
    }
}

std::string RequestedFileTitle() {
    const auto& meridan = g.menus.meridan;
    // The Meridan's receive digits name its targets only while a Meridan is served: another
    // product's menu gives the same digits other meanings.
    const std::uint8_t choice = InMeridanMode() ? g.menus.MenuChoice : 0;
    if (choice != 0 && choice == meridan.MenuOption[kMeridanUsbReceiveOption])
        return "Select USB Hex File";
    if (choice != 0 && choice == meridan.MenuOption[kMeridanQrxReceiveOption])
        return "Select QRX Hex File";
    // Option 2, and any other request: the main firmware, as the products' own file
    // dialogs title it.
    return "Select MAIN Hex File";
}

// The operator has left the Crossfield's menu in the console: the window leaves its mode.
void LeaveCrossfieldMode() {
    auto& form = frmUI();
    ui::ShowMsg("", ui::colour::kButtonFace);
    ui::DisplayError();
    ui::DefaultUI();
    g.files.SelectedFileName = "";
    form.cboPORT.Enabled = true;
    form.btnCommPort.Enabled = true;
    g.cmd.ProductMode = "FALSE";
    g.result.ErrorCode = 0;
    ui::DisplayError();
    g.dev.DeviceFound = false;
    ui::HideMenuControls();
    ui::ShowMsg("", ui::colour::kButtonFace);
    ui::ButtonEnabler();
    g.cmd.ContinueFlag = true;
    g.cmd.UiCommand = 0;
}
}  // namespace

void MSComm1_OnComm() {
    // Only received data raises this event here. Everything waiting is taken, one character
    // at a time, so text that came before the console opened is shown too.
    auto& serial = *P().serial;
    while (serial.InBufferCount() > 0) {
        const std::string in = serial.Input();
        if (in.empty())
            break;
        for (char c : in)
            ConsoleCharacter(c);
        g.menus.ConsoleAnswer += in;
        BoundHistory(g.menus.ConsoleAnswer);
    }
}

void DisplaySerialLine(const std::string& line) {
    auto& menus = g.menus;
    auto& box = frmUI().txtSerialDisplay;
    // With CR LF line ends a line arrives with the line feed of the previous one in front:
    // it starts a new line on the screen and is no part of the line's text.
    const std::size_t first = line.find_first_not_of('\n');
    const bool newLine = first != 0;
    std::string text = first == std::string::npos ? std::string() : line.substr(first);
    bool breakBefore = newLine;

    int kind = kPlain;
    if (menus.StartCpuEntry) {
        const std::string entry = Trim(text);
        if (!entry.empty() && IsDigit(entry[0])) {
            kind = kEchoedDigit;
        } else {
            breakBefore = true;  // the echoed number is complete
            menus.StartCpuEntry = false;
        }
    }
    if (Has(line, "Enter choice -->")) {
        if (g.cmd.ProductMode == "CFX" && Has(box.Text, "Change starting computer number"))
            ReadStartCpuFromConsole(box.Text);
        menus.StartCpuEntry = false;
        kind = kPrompt;
    }
    if (Has(line, "?"))
        kind = kPrompt;
    if (Has(line, "Enter the starting cpu number -->")) {
        menus.StartCpuEntry = true;
        kind = kPrompt;
    }
    if (Has(line, "Waiting for file")) {
        menus.FileRequested = true;
        kind = kPrompt;
    }
    if (Has(line, ".") || Has(line, "Y/N"))
        kind = kPromptDotted;
    if (Has(line, "Now flashing USB Serial code"))
        kind = kUsbProgress;
    if (Has(line, "on port") || Has(line, "Y/N"))
        kind = kPortProgress;

    while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
        text.pop_back();
    std::string& shown = box.Text;
    const bool atLineStart = shown.empty() || shown.back() == '\n';
    if (breakBefore && !atLineStart)
        shown += "\r\n";
    switch (kind) {
        case kPlain:
            // A line's own blanks go; the rest of a line the product began with a dotted
            // prompt keeps its blank after the dots.
            shown += (breakBefore || atLineStart ? Trim(text) : TrimRight(text)) + "\r\n";
            break;
        case kPrompt:
            // The operator's answer, echoed by the product, follows after a blank.
            shown += text;
            if (!text.empty() && text.back() != ' ')
                shown += ' ';
            break;
        default:
            // Dotted prompts, echoed digits and progress lines go on where the line is: the
            // product keeps writing its progress dots on them.
            shown += text;
            break;
    }
    BoundHistory(shown);
    box.SelStart = static_cast<int>(shown.size());
    if (box.Change)
        box.Change();
}

void GetLastMenuOption() {
    const std::string& console = frmUI().txtSerialDisplay.Text;
    std::uint8_t last = 0;
    const std::size_t menu = console.rfind("Serial options menu");
    if (menu != std::string::npos) {
        for (std::size_t at = console.find(')', menu); at != std::string::npos;
             at = console.find(')', at + 1)) {
            const char before = at > 0 ? console[at - 1] : ' ';
            if (IsDigit(before))
                last = std::max<std::uint8_t>(last, static_cast<std::uint8_t>(before - '0'));
        }
    }
    g.menus.MenuLastOption = last;
}

void txtSerialDisplay_KeyUp(int keyCode) {
    const std::string key = KeyCharacter(keyCode);
    if (key.empty())
        return;
    auto& menus = g.menus;
    SendToProduct(key);
    GetLastMenuOption();
    const char c = key[0];
    // While the Crossfield takes a starting computer number the digits are that number, not
    // a choice from its menu.
    if (!menus.StartCpuEntry && c >= '1' && c <= '0' + menus.MenuLastOption) {
        menus.MenuChoice = static_cast<std::uint8_t>(c - '0');
        menus.MenuExitChosen = menus.MenuChoice == menus.MenuLastOption;
        menus.ConsoleAnswer.clear();
    }
    if (menus.StartCpuEntry && c == '\r')
        menus.StartCpuEntry = false;
}

void RestoreInfoLayout() {
    auto& form = frmUI();
    form.txtSerialDisplay.Visible = false;
    form.btnSaveSerialDisplay.Visible = false;
    // The information area covers the lower step rows; the note reaches under the buttons so
    // nothing of the rows shows between them.
    form.txtSwtDetected.Move(90, 3070, 6255, 400);
    form.txtSwtDetected.Font = {"Times New Roman", 12, true};
    form.txtInfo.Move(90, 3470, 6255, 1100);
    form.txtInfo.Font = {"Times New Roman", 12, false};
    form.txtNote.Move(90, 4570, 6255, 1100);
    form.txtNote.Font = {"MS Sans Serif", 8.25, false};
    for (ui::TextBox* box : {&form.txtSwtDetected, &form.txtInfo, &form.txtNote})
        box->Visible = true;
    form.btnShowDiagnostic.Caption = "Show Serial Console";
    form.btnShowDiagnostic.Visible = true;
    form.btnCANCEL.Font = ui::FontSpec{};
    form.btnCANCEL.Visible = true;
}

void ShowSerialConsole() {
    auto& form = frmUI();
    RestoreInfoLayout();
    form.btnShowDiagnostic.Visible = false;
    form.txtInfo.Visible = false;
    form.txtNote.Visible = false;
    form.txtSwtDetected.Visible = false;

    auto& box = form.txtSerialDisplay;
    box.Move(90, 1000, 6255, 4200);
    box.Font = {"@SimSun", 10, false};
    std::string text = g.menus.ConsoleLog;
    BoundHistory(text);
    box.Text = text;
    box.Visible = true;
    form.btnCANCEL.Caption = "Exit Serial Console";
    form.btnCANCEL.Font = {"Timer New Roman", 8, false};
    form.btnCANCEL.Visible = true;
    form.btnSaveSerialDisplay.Visible = true;
    form.btnSaveSerialDisplay.Enabled = true;
    box.SelStart = static_cast<int>(box.Text.size());
    form.SetFocus(box);
}

void btnShowDiagnostic_MouseUp() {
    // The PROGRAM row lies under the console's buttons: it is out of sight while the console
    // is open and as it was afterwards.
    auto& form = frmUI();
    const bool rowShown = form.fraPROGRAM.Visible;
    const bool buttonShown = form.btnPROGRAM.Visible;
    ShowSerialConsole();
    form.fraPROGRAM.Visible = false;
    form.btnPROGRAM.Visible = false;
    SerialConsoleLoop();
    form.fraPROGRAM.Visible = rowShown || form.fraPROGRAM.Visible;
    form.btnPROGRAM.Visible = buttonShown || form.btnPROGRAM.Visible;
}

void SerialConsoleLoop() {
    auto& menus = g.menus;
    auto& serial = *P().serial;
    serial.SetRThreshold(1);
    menus.FileRequested = false;
    menus.MenuExitChosen = false;
    // A digit typed in an earlier session is no choice of this one.
    menus.MenuChoice = 0;
    menus.ConsoleAnswer.clear();
    g.cmd.ContinueFlag = false;
    MSComm1_OnComm();  // what the product said before the console opened
    // No time-out: the console is the operator's until the exit button.
    while (!g.cmd.ContinueFlag) {
        P().events->WaitForEvents(kConsoleSliceMs);
        if (menus.FileRequested) {
            // Cleared first: a product that asks again while the file goes out is heard.
            menus.FileRequested = false;
            SendRequestedFile();
        }
    }
    serial.SetRThreshold(0);

    if (g.cmd.ProductMode == "CFX") {
        if (menus.MenuExitChosen)
            LeaveCrossfieldMode();
        return;
    }
    const auto& meridan = menus.meridan;
    const bool restartChosen = (meridan.MenuOption[kMeridanQrxReceiveOption] != 0 &&
                                meridan.MenuOption[kMeridanQrxReceiveOption] == menus.MenuChoice) ||
                               menus.MenuExitChosen;
    // A menu shown after the choice, and no restart's banner, says the Meridan stayed in its
    // menu: the QRX file was refused or not taken.
    const bool stayed = Has(menus.ConsoleAnswer, "Serial options menu") &&
                        !Has(menus.ConsoleAnswer, "Tarn monitor");
    if (InMeridanMode() && restartChosen && !stayed) {
        // The Meridan restarts after a QRX update or its menu's exit: its restart handling
        // runs next, on what the console already received of the restart.
        menus.SerialText = menus.ConsoleAnswer;
        g.cmd.UiCommand = uicmdSCAN;
        menus.meridan.QrxBusy = true;
        return;
    }
    menus.SerialText = menus.ConsoleLog;
    const std::size_t menu = menus.SerialText.rfind("Serial options menu");
    if (menu != std::string::npos) {
        menus.SerialText.erase(0, menu);
        ReadMenuOptions();
        ui::ButtonEnabler();
    }
}

void SendRequestedFile() {
    platform::FileDialogRequest request;
    request.fileName = "*.hex";
    request.title = RequestedFileTitle();
    request.filter = "Hex Files (*.hex)|*.hex|All Files (*.*)|*.*";
    const std::string chosen = P().dialogs->ShowOpen(request);
    const std::string path = chosen == "*.hex" ? std::string() : chosen;
    std::error_code ignored;
    std::filesystem::current_path(P().system->ProgramFolder(), ignored);

    auto refuse = [] {
        for (const char* answer : {"X", "N", "\r"})
            SendToProduct(answer);
    };
    if (path.empty()) {
        refuse();  // ends the product's wait with a refusal
        return;
    }
    auto& bar = frmUI().ProgressBar1;
    bar.Visible = true;
    const FileSend sent = SendFileAsText(path, true);
    bar.Visible = false;
    if (sent == FileSend::NoFile) {
        // The product is not left waiting for a file that never comes.
        refuse();
        P().dialogs->MsgBox("The file cannot be opened:\r\n" + path,
                            platform::mb::kExclamation + platform::mb::kOk, "RomPush Utility");
        return;
    }
    if (sent != FileSend::Sent) {
        // The exit button that stopped the transfer also leaves the console.
        g.cmd.ContinueFlag = sent == FileSend::Exit;
        P().dialogs->MsgBox("The file transfer was aborted: " + g.menus.TransferReport,
                            platform::mb::kExclamation + platform::mb::kOk, "RomPush Utility");
        return;
    }
    StoreRequestedFile(path);
}

void btnSaveSerialDisplay_MouseUp() {
    auto& form = frmUI();
    // While the console is open its text box holds the session as it is now.
    if (form.txtSerialDisplay.Visible)
        g.menus.ConsoleLog = form.txtSerialDisplay.Text;
    platform::FileDialogRequest request;
    request.fileName = "*.txt";
    request.title = "Save Serial Console Session";
    request.filter = "Text Files (*.txt)|*.txt|All Files (*.*)|*.*";
    request.initDir = P().system->HomeFolder();
    const std::string path = P().dialogs->ShowSave(request);
    if (path == "*.txt")
        return;
    if (!WriteAndCheck(path, g.menus.ConsoleLog + "\r\n")) {
        P().dialogs->MsgBox("The console session cannot be saved to:\r\n" + path,
                            platform::mb::kExclamation + platform::mb::kOk, "RomPush Utility");
    }
}

}  // namespace rompush
