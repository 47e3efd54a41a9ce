#include "cli/port_run.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "app/main_loop.h"
#include "cli/console_view.h"
#include "core/state.h"
#include "core/text.h"
#include "core/trace.h"
#include "providers/console/console_platform.h"
#include "providers/posix/keyboard_ports.h"
#include "providers/posix/poll_loop.h"
#include "providers/posix/port_map.h"
#include "providers/posix/serial_port.h"
#include "providers/posix/steady_clock.h"
#include "providers/sim/steady_keyboard.h"
#include "ui/frm_com_parameters.h"
#include "ui/main_window.h"
#include "ui/notices.h"

namespace rompush::cli {

namespace fs = std::filesystem;
using platform::console::ConsoleSystem;

namespace {

// Command passes a command may chain through (PROGRAM, VERIFY or SCAN, and a spare).
constexpr int kMaxChainedPasses = 8;

std::string Upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string Canonical(const std::string& path) {
    std::error_code ec;
    const fs::path real = fs::weakly_canonical(path, ec);
    return ec ? path : real.string();
}

// The COM parameter options and the dialog lists they choose in.
struct ComOption {
    const char* name;
    const std::optional<std::string> Options::*value;
    ui::ComboBox ui::FrmComParameters::*list;
    std::uint8_t PortState::*saved;
};
const ComOption kComOptions[] = {
    {"--baud", &Options::baud, &ui::FrmComParameters::cboBaud, &PortState::SavedBaudIndex},
    {"--data-bits", &Options::dataBits, &ui::FrmComParameters::cboDataBits,
     &PortState::SavedDataBitsIndex},
    {"--parity", &Options::parity, &ui::FrmComParameters::cboParity, &PortState::SavedParityIndex},
    {"--stop-bits", &Options::stopBits, &ui::FrmComParameters::cboStopBits,
     &PortState::SavedStopBitsIndex},
    {"--flow", &Options::flow, &ui::FrmComParameters::cboFlowControl, &PortState::SavedFlowIndex}};

// The list position of an option's value, -1 when the list has no such entry.
int PositionIn(const ui::ComboBox& list, const std::string& value) {
    for (int k = 0; k < list.ListCount(); ++k) {
        if (Upper(list.Items[static_cast<std::size_t>(k)]) == Upper(value))
            return k;
    }
    return -1;
}

// The operator's COM parameters become the saved ones, as OK in the COM PORT dialog makes them.
void ApplyComOptions(const Options& o) {
    auto& dialog = frmComParameters();
    for (const ComOption& option : kComOptions) {
        if (const auto& value = o.*option.value) {
            g.port.*option.saved =
                static_cast<std::uint8_t>(PositionIn(dialog.*option.list, *value));
        }
    }
}

// Presses a button: the command runs, and the commands it chains to after it.
void RunCommand(std::uint8_t code, ConsoleView& view) {
    view.BeginCommand();
    g.cmd.UiCommand = code;
    for (int pass = 0; pass < kMaxChainedPasses && g.cmd.UiCommand != 0; ++pass)
        CommandLoopPass();
    view.Render();
}

std::string PanelText(std::size_t panel) {
    const auto& panels = frmUI().StatusBar1.Panels;
    return panel <= panels.size() ? panels[panel - 1].Text : std::string();
}

void TakeDevice(Result& r) {
    r.deviceName = g.dev.DevDisplayName.empty() ? PanelText(2) : g.dev.DevDisplayName;
    r.deviceId = g.dev.DevIdName;
    r.deviceLetter = g.dev.DevLetter == " " ? "" : g.dev.DevLetter;
    r.revision = PanelText(3);
    r.bootloader = PanelText(4);
}

std::string DeviceLine(const Result& r) {
    std::string line = "Device: " + r.deviceName;
    for (const std::string* part : {&r.revision, &r.bootloader}) {
        if (!part->empty())
            line += ", " + *part;
    }
    return line;
}

void Fail(Result& r, int status, const std::string& problem, int code = 0,
          const std::string& text = "") {
    r.exitStatus = status;
    r.problem = problem;
    r.errorCode = code;
    r.errorText = NormaliseLineEnds(text);
}

// The failure the window showed for the command just run.
void FailFromWindow(Result& r, const ConsoleView& view, int fallback, const std::string& what) {
    const int code = g.result.ErrorCode != 0 ? g.result.ErrorCode : view.ErrorCode();
    std::string problem = what;
    if (code != 0)
        problem += " (ERROR CODE: " + std::to_string(code) + ")";
    Fail(r, ExitStatusOfError(code, fallback), problem, code,
         view.ErrorText().empty() ? ui::ErrorText(code) : view.ErrorText());
}

// The questions of this run that --yes would have answered.
std::string RefusedQuestions(const platform::console::ConsoleDialogs& dialogs) {
    if (dialogs.Refused().empty())
        return "";
    return "the question \"" + dialogs.Refused().back() +
           "\" was answered No (give --yes to answer Yes)";
}

// The serial-menu products' information view waits for Cancel: a terminal run presses it, as
// those products are served by the window.
void CancelMenuView(ConsoleView& view) {
    auto& f = frmUI();
    if (!f.btnCANCEL.Visible || !f.btnCANCEL.Enabled || g.cmd.ContinueFlag || !f.btnCANCEL.MouseUp)
        return;
    view.Line(f.txtSwtDetected.Text +
              " Serial-menu products are served by the window; "
              "pressing Cancel.");
    f.btnCANCEL.MouseUp();
}

const char* ButtonName(Command command) {
    switch (command) {
        case Command::Program:
            return "PROGRAM";
        case Command::Verify:
            return "VERIFY";
        default:
            return "ERASE";
    }
}

// The window's button for the command is usable now.
bool ButtonUsable(Command command) {
    auto& f = frmUI();
    switch (command) {
        case Command::Program:
            return f.btnPROGRAM.Enabled;
        case Command::Verify:
            return f.btnVERIFY.Enabled && f.btnVERIFY.Visible;
        default:
            return f.btnERASE.Enabled && f.btnERASE.Caption == "ERASE";
    }
}

int StatusOf(Command command) {
    return command == Command::Verify ? kExitVerify : kExitProgram;
}

// What the window shows when the command has done its job.
const char* SuccessText(Command command) {
    switch (command) {
        case Command::Program:
            return "Program and Verify OK";
        case Command::Verify:
            return "Verify OK";
        default:
            return "ERASE OK";
    }
}

struct Session {
    const Options& o;
    Result& r;
    ConsoleView& view;
    platform::console::ConsoleDialogs& dialogs;
    platform::posix::PosixSerialPort& serial;
    const PortChoice& port;

    void Run();
};

void Session::Run() {
    WireMainWindowHandlers();
    StartUp();
    if (!o.trace.empty()) {
        if (OpenTraceFile(o.trace)) {
            g.trace.TraceOn = true;
            TraceRaw(std::string("RomPush Ver ") + kVersion);
            TraceRaw("");
        } else {
            view.Line("The trace file cannot be opened: " + o.trace);
        }
    }
    g.files.SaveLastUsed = !o.noSave;

    // The operator picks the port in the port list.
    auto& list = frmUI().cboPORT;
    const std::string entry = port.number == kPs2PortNumber ? "PS/2" : std::to_string(port.number);
    const auto& items = list.Items;
    const auto found = std::find(items.begin(), items.end(), entry);
    if (found == items.end()) {
        // The port search left it out: one more attempt tells why.
        std::string why;
        try {
            serial.SetCommPort(port.number);
            serial.SetPortOpen(true);
            serial.SetPortOpen(false);
        } catch (const platform::PlatformError& error) {
            why = error.what();
        }
        if (why.empty() && port.number > g.port.MaxComPorts) {
            why = port.name + " is beyond the " + std::to_string(g.port.MaxComPorts) +
                  " ports searched (MAX COM PORTS in the window's COM PORT dialog)";
        }
        Fail(r, kExitPort,
             "COMM port not available: " +
                 (why.empty() ? port.name + " (" + port.devicePath + ")" : why));
        return;
    }
    list.SetListIndex(static_cast<int>(found - items.begin()));
    ApplyComOptions(o);
    if (g.result.ErrorCode == 1) {
        Fail(r, kExitPort, port.name + ": " + ui::NoticeText(ui::Notice::PortNotAvailable), 1);
        return;
    }

    RunCommand(uicmdSCAN, view);
    TakeDevice(r);
    if (!g.dev.DeviceFound) {
        const std::string notAvailable = ui::NoticeText(ui::Notice::PortNotAvailable);
        const std::string notFound = ui::NoticeText(ui::Notice::ProductNotFound);
        // A PC without a keyboard controller has no PS/2 port to serve.
        const std::string noController = ui::NoticeText(ui::Notice::NoKeyboardController);
        const bool controllerMissing = view.Shown(noController);
        const bool portFailed = view.Shown(notAvailable) || controllerMissing;
        const int code = g.result.ScanErrorCode;
        std::string problem = view.Shown(notFound) ? notFound : "no device identified";
        if (portFailed)
            problem = controllerMissing ? noController : notAvailable;
        if (code != 0)
            problem += " (ERROR CODE: " + std::to_string(code) + ")";
        // Code 1 here: nothing answered on a port that opened.
        const int status = portFailed  ? kExitPort
                           : code == 1 ? kExitIdentification
                                       : ExitStatusOfError(code, kExitIdentification);
        Fail(r, status, problem, code,
             view.ErrorText().empty() ? ui::ErrorText(code) : view.ErrorText());
        return;
    }
    view.Line(DeviceLine(r));
    if (g.result.ScanErrorCode != 0) {
        // Found, but refused on the way (a configuration that could not be read).
        FailFromWindow(r, view, kExitIdentification, "SCAN failed");
        return;
    }
    if (o.command == Command::Scan) {
        r.exitStatus = kExitOk;
        return;
    }

    if (!o.file.empty()) {
        RunCommand(uicmdHEXFILE, view);
        if (g.result.ErrorCode != 0 || !g.files.HexFileRead) {
            FailFromWindow(r, view, kExitFile, "the HEX file was refused");
            return;
        }
    }
    if (!ButtonUsable(o.command)) {
        Fail(r, StatusOf(o.command),
             std::string(ButtonName(o.command)) + " is not available for the " + r.deviceName +
                 (o.command == Command::Erase && frmUI().btnERASE.Caption != "ERASE"
                      ? " (its button is " + frmUI().btnERASE.Caption + ": use the window)"
                      : ""));
        return;
    }
    const std::uint8_t code = o.command == Command::Program  ? uicmdPROGRAM
                              : o.command == Command::Verify ? uicmdVERIFY
                                                             : uicmdERASE;
    RunCommand(code, view);
    TakeDevice(r);
    if (o.command == Command::Program && view.Shown(ui::kProgrammedNoAnswer)) {
        // The flash passed its check, but the SCAN that follows found nothing.
        const int scanCode = g.result.ScanErrorCode;
        Fail(r, kExitIdentification,
             std::string(ui::kProgrammedNoAnswer) +
                 (scanCode != 0 ? " (ERROR CODE: " + std::to_string(scanCode) + ")" : ""),
             scanCode);
        return;
    }
    if (g.result.ErrorCode == 0 && view.Shown(SuccessText(o.command))) {
        r.exitStatus = kExitOk;
        return;
    }
    const std::string refused = RefusedQuestions(dialogs);
    if (g.result.ErrorCode == 0 && view.ErrorCode() == 0 && !refused.empty()) {
        Fail(r, StatusOf(o.command), std::string(ButtonName(o.command)) + " stopped: " + refused);
        return;
    }
    FailFromWindow(r, view, StatusOf(o.command), std::string(ButtonName(o.command)) + " failed");
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::unique_ptr<platform::KeyboardPorts> MakeKeyboard(const Options& o) {
    return platform::sim::SteadyClockKeyboard(o.simPs2.empty() ? std::nullopt
                                                               : sim::KvmModelByName(o.simPs2));
}

}  // namespace

PortChoice ResolvePort(const std::string& given, const std::string& programFolder) {
    PortChoice choice;
    const std::string upper = Upper(given);
    if (upper == "PS/2" || upper == "PS2") {
        choice.number = kPs2PortNumber;
        choice.name = "PS/2";
        return choice;
    }
    const platform::posix::PortMap map(programFolder);
    if (upper.rfind("COM", 0) == 0 && upper.size() > 3 &&
        std::all_of(upper.begin() + 3, upper.end(), [](char c) { return std::isdigit(c); })) {
        const int number = upper.size() <= 6 ? std::stoi(upper.substr(3)) : 0;
        choice.number = number;
        choice.name = "COM" + std::to_string(number);
        if (number < 1 || number > 255) {
            choice.problem = given + ": COM ports are numbered 1 to 255";
        } else {
            choice.devicePath = map.DevicePath(number);
            if (choice.devicePath.empty())
                choice.problem = choice.name + " names no serial device (see rompush-cli ports)";
        }
        return choice;
    }
    if (given.empty() || given[0] != '/') {
        choice.problem = "not a port: \"" + given + "\" (give COM<n>, a device path or PS/2)";
        return choice;
    }
    // A device path: the number the port list gives it, or else the first number free.
    const auto ports = map.Ports();
    const std::string wanted = Canonical(given);
    for (const auto& [number, path] : ports) {
        if (Canonical(path) == wanted)
            choice.number = number;
    }
    if (choice.number == 0) {
        choice.number = 1;
        while (ports.count(choice.number))
            ++choice.number;
    }
    choice.name = "COM" + std::to_string(choice.number);
    choice.devicePath = given;
    if (choice.number > 255)
        choice.problem = given + ": no COM number is free for it";
    return choice;
}

std::string CheckOptionValues(const Options& o) {
    auto& dialog = frmComParameters();
    for (const ComOption& option : kComOptions) {
        const auto& value = o.*option.value;
        if (!value || PositionIn(dialog.*option.list, *value) >= 0)
            continue;
        std::string choices;
        for (const std::string& item : (dialog.*option.list).Items)
            choices += (choices.empty() ? "" : ", ") + item;
        return std::string(option.name) + " " + *value + ": choose one of " + choices;
    }
    if (!o.simPs2.empty() && !sim::KvmModelByName(o.simPs2))
        return "--sim-ps2 " + o.simPs2 + ": choose monolink, orbit-tiny, orbit-mini or prisma";
    // One port, one process: "PS/2" and "ps2", "COM3" and "com03", or COM3 and the device it
    // names are the same port, and two processes must never drive it (or the keyboard
    // controller) at once.
    const std::string folder = ConsoleSystem::ResolveFolder(o.folder);
    std::vector<std::pair<std::string, std::string>> seen;  // the port, as given
    for (const std::string& given : o.ports) {
        const PortChoice port = ResolvePort(given, folder);
        const std::string same = !port.devicePath.empty() ? Canonical(port.devicePath)
                                 : !port.name.empty()     ? port.name
                                                          : Upper(given);
        for (const auto& [other, otherGiven] : seen) {
            if (other == same) {
                return "--port " + otherGiven + " and --port " + given +
                       " are the same port; give it once";
            }
        }
        seen.emplace_back(same, given);
    }
    return "";
}

Result RunPort(const Options& o, const std::string& given) {
    const auto start = std::chrono::steady_clock::now();
    Result r;
    r.port = given;
    r.command = o.commandName;
    std::error_code ec;
    if (!o.file.empty())
        r.file = fs::absolute(o.file, ec).string();

    std::FILE* human = o.json ? stderr : stdout;
    const bool terminal = ::isatty(::fileno(human)) == 1 && o.label.empty();
    ConsoleView view(human, terminal, o.label.empty() ? "" : o.label + ": ");

    const std::string folder = ConsoleSystem::ResolveFolder(o.folder);
    const PortChoice port = ResolvePort(given, folder);
    r.portName = port.name;
    r.devicePath = port.devicePath;
    if (!port.problem.empty()) {
        Fail(r, kExitPort, port.problem);
    } else if (!r.file.empty() && !fs::is_regular_file(r.file, ec)) {
        // Nothing is opened for a file that is not there.
        Fail(r, kExitFile, o.file + ": no such file");
    } else {
        platform::posix::PortMap map(folder);
        map.PinOnly(port.number == kPs2PortNumber ? 0 : port.number, port.devicePath);
        platform::console::ConsolePlatform run(
            std::move(map),
            [&view] {
                view.Render();
                CancelMenuView(view);
            },
            platform::console::ConsoleDialogs(
                o.yes, r.file,
                [&view](const std::string& title, const std::string& text) {
                    view.Notice(title, text);
                }),
            folder, MakeKeyboard(o));
        auto& dialogs = run.dialogs;
        try {
            Session{o, r, view, dialogs, run.serial, port}.Run();
        } catch (const platform::ProgramEnded&) {
            const std::string refused = RefusedQuestions(dialogs);
            Fail(r, o.command == Command::Scan ? kExitIdentification : StatusOf(o.command),
                 "the run was ended" + (refused.empty() ? std::string() : ": " + refused));
        }
        r.status = frmUI().lblPASS.Caption;
        if (r.status.empty() && !view.ShownTexts().empty()) {
            const auto& shown = view.ShownTexts();
            const auto last = std::find_if(shown.rbegin(), shown.rend(),
                                           [](const std::string& t) { return !t.empty(); });
            if (last != shown.rend())
                r.status = *last;
        }
        // The keyboard controller is given back and the port closed before the platform goes.
        try {
            Form_Unload();
        } catch (const platform::ProgramEnded&) {
        }
    }
    r.seconds = SecondsSince(start);
    return r;
}

namespace {

// One port of `rompush-cli ports`.
struct PortRow {
    std::string port;  // "COM3", "PS/2"
    int number = 0;
    platform::PortDescription d;
    bool available = true;
    std::string reason;  // why it is not available
};

std::string PortJson(const PortRow& r) {
    std::string out = "{\"port\":" + JsonString(r.port) +
                      ",\"number\":" + std::to_string(r.number) +
                      ",\"device\":" + JsonString(r.d.device);
    const std::pair<const char*, const std::string*> fields[] = {
        {"by_id", &r.d.byId},           {"vendor_id", &r.d.vendorId},
        {"product_id", &r.d.productId}, {"manufacturer", &r.d.manufacturer},
        {"product", &r.d.product},      {"serial", &r.d.serial},
        {"group", &r.d.group}};
    for (const auto& [name, value] : fields)
        out += std::string(",\"") + name + "\":" + JsonString(*value);
    return out + ",\"available\":" + (r.available ? "true" : "false") +
           ",\"reason\":" + JsonString(r.reason) + "}";
}

}  // namespace

int ListPorts(const Options& o) {
    namespace posix = platform::posix;
    const std::string folder = ConsoleSystem::ResolveFolder(o.folder);
    platform::console::ConsolePlatform run(
        posix::PortMap(folder), nullptr,
        platform::console::ConsoleDialogs(false, "",
                                          [](const std::string& title, const std::string& text) {
                                              std::fprintf(stderr, "%s: %s\n", title.c_str(),
                                                           NormaliseLineEnds(text).c_str());
                                          }),
        folder, MakeKeyboard(o));
    WireMainWindowHandlers();
    StartUp();
    std::vector<PortRow> rows;
    const auto& entries = frmUI().cboPORT.Items;
    for (const std::string& entry : entries) {
        PortRow row;
        if (entry == "PS/2") {
            row.port = "PS/2";
            row.number = kPs2PortNumber;
            row.d.device =
                "keyboard port" + (o.simPs2.empty() ? "" : " (simulated " + o.simPs2 + ")");
        } else {
            row.number = std::stoi(entry);
            row.port = "COM" + std::to_string(row.number);
            row.d = run.serial.Describe(row.number);
        }
        rows.push_back(row);
    }
    // Devices the window leaves out of its list, each with the reason.
    for (const auto& [number, path] : posix::PortMap(folder).Ports()) {
        if (std::find(entries.begin(), entries.end(), std::to_string(number)) != entries.end())
            continue;
        PortRow row;
        row.number = number;
        row.port = "COM" + std::to_string(number);
        row.d = run.serial.Describe(number);
        row.available = false;
        if (number > g.port.MaxComPorts) {
            row.reason = "beyond the search limit";
        } else if (run.serial.Probe(number, row.reason)) {
            row.reason = "did not open when the list was made";
        }
        rows.push_back(row);
    }
    std::sort(rows.begin(), rows.end(),
              [](const PortRow& a, const PortRow& b) { return a.number < b.number; });
    for (const PortRow& r : rows) {
        if (o.json) {
            std::printf("%s\n", PortJson(r).c_str());
            continue;
        }
        const std::string summary = r.number == kPs2PortNumber ? r.d.device : r.d.Summary();
        std::printf("%-7s %s%s\n", r.port.c_str(), summary.c_str(),
                    r.available ? "" : ("  (not available: " + r.reason + ")").c_str());
    }
    if (!g.port.RightsHint.empty())
        std::fprintf(stderr, "%s\n", g.port.RightsHint.c_str());
    try {
        Form_Unload();
    } catch (const platform::ProgramEnded&) {
    }
    return kExitOk;
}

}  // namespace rompush::cli
