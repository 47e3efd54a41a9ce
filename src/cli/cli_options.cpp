#include "cli/cli_options.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace rompush::cli {

namespace {

struct Named {
    const char* name;
    Command command;
};
constexpr Named kCommands[] = {{"ports", Command::Ports},     {"scan", Command::Scan},
                               {"program", Command::Program}, {"verify", Command::Verify},
                               {"erase", Command::Erase},     {"help", Command::Help}};

bool NeedsFile(Command command) {
    return command == Command::Program || command == Command::Verify;
}

bool NeedsPort(Command command) {
    return command == Command::Scan || command == Command::Program || command == Command::Verify ||
           command == Command::Erase;
}

const char* kComOptions =
    "COM parameters (as in the window's COM PORT dialog; unset ones keep the window's saved\n"
    "choice, 38400 baud, 8 data bits, parity None, 1 stop bit, no flow control by default):\n"
    "  --baud N            300 1200 2400 4800 9600 19200 38400 57600 115200\n"
    "  --data-bits N       7 or 8\n"
    "  --parity P          none, odd or even\n"
    "  --stop-bits N       1 or 2\n"
    "  --flow F            none, hardware or xon/xoff\n";

const char* kCommonOptions =
    "Options:\n"
    "  --port P            COM3, a device path such as /dev/ttyUSB0, or PS/2 (the keyboard\n"
    "                      port); give it several times to serve several devices at once\n"
    "                      (each port once: PS/2 and ps2, or COM3 and its device, are one)\n"
    "  --yes               answer Yes to the window's questions (e.g. programming firmware\n"
    "                      that cannot be reprogrammed); without it they are answered No\n"
    "  --json              print one JSON result object per port at the end (one a line);\n"
    "                      what the window shows then goes to standard error\n"
    "  --folder DIR        program folder: settings file RomPush.INI and port map\n"
    "                      (default: the window's)\n"
    "  --sim-ps2 MODEL     a simulated device behind PS/2: monolink, orbit-tiny,\n"
    "                      orbit-mini or prisma (also ROMPUSH_SIM_PS2)\n"
    "  --trace FILE        write the program trace to FILE\n"
    "  -h, --help          this text\n";

const char* kExitStatus =
    "Exit status: 0 success; 1 several ports failed in different ways; 2 wrong command line;\n"
    "3 HEX file; 4 port; 5 identification; 6 erase or program; 7 verify.\n";

}  // namespace

std::string HelpText(Command command) {
    std::string text;
    switch (command) {
        case Command::Ports:
            return "usage: rompush-cli ports [--folder DIR] [--json]\n\n"
                   "Lists the ports as the window's port list numbers them: every COM port that\n"
                   "opens, with its device and what it is (USB maker and product, serial number,\n"
                   "the /dev/serial/by-id name), then PS/2. Ports that exist but do not open (in\n"
                   "use, no permission) are listed as not available, with the reason.\n"
                   "  --json              one JSON object a port: port, number, device, by_id,\n"
                   "                      vendor_id, product_id, manufacturer, product, serial,\n"
                   "                      group, available, reason\n";
        case Command::Scan:
            text =
                "usage: rompush-cli scan --port P [options]\n\n"
                "SCAN: finds and identifies the device on each port and shows its name,\n"
                "revision and bootloader revision.\n\n";
            break;
        case Command::Program:
            text =
                "usage: rompush-cli program FILE --port P [options]\n\n"
                "SCAN, the HEX file check, then PROGRAM: erases and programs the device from\n"
                "FILE and verifies it (keyboard-port devices: programs and scans again).\n"
                "Records FILE as the device type's last used file in the settings file, as\n"
                "the window does.\n"
                "  --no-save           leave the settings file alone\n\n";
            break;
        case Command::Verify:
            text =
                "usage: rompush-cli verify FILE --port P [options]\n\n"
                "SCAN, the HEX file check, then VERIFY: compares the device's flash with FILE\n"
                "(packet-bootloader devices; keyboard-port devices are verified while they\n"
                "are programmed).\n\n";
            break;
        case Command::Erase:
            text =
                "usage: rompush-cli erase --port P [options]\n\n"
                "SCAN, then ERASE: deletes the application firmware of a packet-bootloader\n"
                "device. (On an Orbit or Prisma that button is CONFIGURE DEVICE: use the\n"
                "window.)\n\n";
            break;
        default:
            return "usage: rompush-cli COMMAND [FILE] --port P [--port P ...] [options]\n\n"
                   "The RomPush firmware download utility from a terminal: the same procedures\n"
                   "as the window, for production lines and scripts.\n\n"
                   "Commands:\n"
                   "  ports               list the ports\n"
                   "  scan                identify the device on each port\n"
                   "  program FILE        program and verify each device from an Intel HEX file\n"
                   "  verify FILE         verify each device against an Intel HEX file\n"
                   "  erase               erase each device's application firmware\n"
                   "  help [COMMAND]      this text, or a command's\n\n"
                   "Devices: those with the packet bootloader on a COM port (TWPx receivers and\n"
                   "transmitters) and the keyboard-port devices on PS/2 (Monolink, Orbit Tiny,\n"
                   "Orbit Mini, Prisma). Serial-menu products (Crossfield, Meridan, KVT) are\n"
                   "served by the window only, for now.\n\n" +
                   std::string(kCommonOptions) + "\n" + kComOptions + "\n" + kExitStatus +
                   "\nSee rompush-cli(1).\n";
    }
    return text + kCommonOptions + "\n" + kComOptions + "\n" + kExitStatus;
}

std::optional<Options> ParseOptions(int argc, char** argv, std::string& problem) {
    Options o;
    // --name=value is read as --name value.
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            args.push_back(arg.substr(0, eq));
            args.push_back(arg.substr(eq + 1));
        } else {
            args.push_back(arg);
        }
    }
    std::vector<std::string> words;
    const std::size_t count = args.size();
    for (std::size_t i = 0; i < count; ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= count) {
                problem = arg + " needs a value";
                return false;
            }
            into = args[++i];
            return true;
        };
        auto optional = [&](std::optional<std::string>& into) {
            std::string v;
            if (!value(v))
                return false;
            into = v;
            return true;
        };
        bool ok = true;
        if (arg == "--port") {
            std::string p;
            ok = value(p);
            o.ports.push_back(p);
        } else if (arg == "--baud") {
            ok = optional(o.baud);
        } else if (arg == "--data-bits") {
            ok = optional(o.dataBits);
        } else if (arg == "--parity") {
            ok = optional(o.parity);
        } else if (arg == "--stop-bits") {
            ok = optional(o.stopBits);
        } else if (arg == "--flow") {
            ok = optional(o.flow);
        } else if (arg == "--yes" || arg == "-y") {
            o.yes = true;
        } else if (arg == "--json") {
            o.json = true;
        } else if (arg == "--no-save") {
            o.noSave = true;
        } else if (arg == "--folder") {
            ok = value(o.folder);
        } else if (arg == "--sim-ps2") {
            ok = value(o.simPs2);
        } else if (arg == "--trace") {
            ok = value(o.trace);
        } else if (arg == "--result-file") {
            ok = value(o.resultFile);
        } else if (arg == "--label") {
            ok = value(o.label);
        } else if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--version") {
            o.version = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            problem = "unknown option " + arg;
            return std::nullopt;
        } else {
            words.push_back(arg);
        }
        if (!ok)
            return std::nullopt;
    }
    if (o.simPs2.empty()) {
        const char* env = std::getenv("ROMPUSH_SIM_PS2");
        if (env && *env && std::strcmp(env, "none") != 0)
            o.simPs2 = env;
    }
    if (o.version)
        return o;
    if (words.empty()) {
        if (o.help)
            return o;
        problem = "no command given";
        return std::nullopt;
    }
    o.commandName = words[0];
    for (const Named& n : kCommands) {
        if (o.commandName == n.name)
            o.command = n.command;
    }
    if (o.command == Command::None) {
        problem = "unknown command " + o.commandName;
        return std::nullopt;
    }
    if (o.command == Command::Help) {
        o.help = true;
        o.command = Command::None;
        if (words.size() > 1) {
            for (const Named& n : kCommands) {
                if (words[1] == n.name)
                    o.command = n.command;
            }
        }
        return o;
    }
    if (o.help)
        return o;
    const std::size_t wanted = NeedsFile(o.command) ? 2 : 1;
    if (words.size() < wanted) {
        problem = o.commandName + " needs the HEX file";
        return std::nullopt;
    }
    if (words.size() > wanted) {
        problem = "unexpected argument " + words[wanted];
        return std::nullopt;
    }
    if (NeedsFile(o.command))
        o.file = words[1];
    if (NeedsPort(o.command) && o.ports.empty()) {
        problem = o.commandName + " needs --port";
        return std::nullopt;
    }
    return o;
}

std::vector<std::string> ChildArguments(const Options& o, const std::string& port,
                                        const std::string& resultFile) {
    std::vector<std::string> args{o.commandName};
    if (!o.file.empty())
        args.push_back(o.file);
    args.insert(args.end(), {"--port", port, "--result-file", resultFile, "--label", port});
    const std::pair<const char*, const std::optional<std::string>*> com[] = {
        {"--baud", &o.baud},
        {"--data-bits", &o.dataBits},
        {"--parity", &o.parity},
        {"--stop-bits", &o.stopBits},
        {"--flow", &o.flow}};
    for (const auto& [name, v] : com) {
        if (*v)
            args.insert(args.end(), {name, **v});
    }
    for (const auto& [flag, on] :
         {std::pair{"--yes", o.yes}, {"--json", o.json}, {"--no-save", o.noSave}}) {
        if (on)
            args.push_back(flag);
    }
    for (const auto& [name, v] : {std::pair{"--folder", &o.folder}, {"--sim-ps2", &o.simPs2}}) {
        if (!v->empty())
            args.insert(args.end(), {name, *v});
    }
    if (!o.trace.empty()) {
        // One trace file per port: TRACE-COM3.txt beside TRACE.txt.
        std::string tag;
        for (char c : port)
            tag += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        const auto dot = o.trace.rfind('.');
        const bool suffix = dot != std::string::npos && o.trace.find('/', dot) == std::string::npos;
        args.insert(args.end(),
                    {"--trace", suffix ? o.trace.substr(0, dot) + "-" + tag + o.trace.substr(dot)
                                       : o.trace + "-" + tag});
    }
    return args;
}

}  // namespace rompush::cli
