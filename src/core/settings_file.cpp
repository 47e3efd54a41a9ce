#include "core/settings_file.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "core/state.h"
#include "core/text.h"
#include "core/trace.h"
#include "core/whole_files.h"
#include "platform/platform.h"

namespace rompush {

namespace {
constexpr std::size_t kHeaderLines = 8;
constexpr std::size_t kMaxEntrySlots = 11;

// Header lines 4 to 8 carry a list position with a blank before and after it, as the
// lenient number reading expects.
std::string PositionLine(int position) {
    return " " + std::to_string(position) + " ";
}

// The HEX path stored for the current device, by the serial-menu mode being served.
std::string EntryPath() {
    const std::string& mode = g.cmd.ProductMode;
    if (mode == "FALSE" || mode == "MAIN")
        return g.files.SelectedFilePath;
    if (mode == "USB")
        return g.files.UsbFilePath;
    if (mode == "QRX")
        return g.files.QrxFilePath;
    if (mode == "CFX")
        return g.files.CfxFilePath;
    return "";
}

// The text before the first blank of an entry line; a line without a blank names nothing.
bool EntryLetterIs(const std::string& line, const std::string& letter) {
    const auto blank = line.find(' ');
    return blank != std::string::npos && line.substr(0, blank) == letter;
}
}  // namespace

std::string IniPath() {
    return platform::Current().system->ProgramFolder() + "/" + kIniFileName;
}

bool FExists(const std::string& path) {
    TraceScope trace("FExists(  " + path + " )");
    std::error_code error;
    [[maybe_unused]] const auto length = std::filesystem::file_size(path, error);
    const bool exists = !error;
    TraceLine(std::string("--  FExists =  ") + BoolText(exists));
    return exists;
}

bool ReadIniLines(std::vector<std::string>& lines, std::size_t maxLines) {
    lines.clear();
    std::ifstream in(IniPath(), std::ios::binary);
    if (!in.is_open())
        return false;
    std::string line;
    while (lines.size() < maxLines && std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return true;
}

void CheckIniSignature() {
    std::vector<std::string> lines;
    if (!ReadIniLines(lines, 1))
        return;
    if (lines.empty() || lines[0] != kIniSignature) {
        std::error_code error;
        std::filesystem::remove(IniPath(), error);
    }
}

void CheckINI(std::string& nameOut, std::string& pathOut) {
    TraceScope trace("CheckINI()");
    std::vector<std::string> lines;
    if (!ReadIniLines(lines)) {
        nameOut = "";
        pathOut = "";
        return;
    }
    bool found = false;
    // Header lines 5 to 8 begin with a blank and never name a device.
    for (std::size_t k = 4; k < lines.size(); ++k) {
        const std::string& line = lines[k];
        if (line.empty() || !EntryLetterIs(line, g.dev.DevLetter))
            continue;
        pathOut = line.substr(line.find(' ') + 1);
        nameOut = FileNameOf(pathOut);
        found = !pathOut.empty() && !nameOut.empty() && FExists(pathOut);
    }
    if (!found) {
        nameOut = "";
        pathOut = "";
    }
}

void WriteINI() {
    TraceScope trace("WriteINI()");
    if (!g.files.SaveLastUsed) {
        TraceLine("--    WriteINI = settings file left alone");
        return;
    }
    const std::string entry = g.dev.DevLetter + " " + EntryPath();
    // Another copy of the program may be rewriting the file at this moment: the whole read and
    // rewrite is done while holding it.
    auto& system = *platform::Current().system;
    system.HoldSettings(true);
    struct Release {
        platform::System& system;
        ~Release() { system.HoldSettings(false); }
    } release{system};

    std::vector<std::string> slots;
    std::vector<std::string> lines;
    const bool readable = ReadIniLines(lines);
    if (readable) {
        bool found = false;
        for (std::size_t k = kHeaderLines; k < lines.size(); ++k) {
            const std::string& line = lines[k];
            std::string slot = line;
            if (!line.empty() && EntryLetterIs(line, g.dev.DevLetter)) {
                slot = entry;
                found = true;
            }
            if (slots.size() < kMaxEntrySlots)
                slots.push_back(slot);
        }
        if (!found && slots.size() < kMaxEntrySlots)
            slots.push_back(entry);
    }

    auto& dialog = frmComParameters();
    std::ostringstream out;
    out << kIniSignature << "\r\n";
    out << static_cast<int>(g.port.MaxComPorts) << "\r\n";
    out << (g.port.CommPortNumber == kPs2PortNumber ? std::string("PS/2")
                                                    : "Com" + std::to_string(g.port.CommPortNumber))
        << "\r\n";
    for (const ui::ComboBox* list : {&dialog.cboDataBits, &dialog.cboStopBits, &dialog.cboParity,
                                     &dialog.cboBaud, &dialog.cboFlowControl}) {
        out << PositionLine(list->ListIndex) << "\r\n";
    }
    if (!slots.empty()) {
        for (const std::string& slot : slots) {
            if (slot.size() >= 5)
                out << slot << "\r\n";
        }
    } else {
        out << entry << "\r\n";
    }

    // The new file is written beside the old one and then put in its place, so a failed or
    // interrupted write never loses the settings already there.
    const std::string path = IniPath();
    switch (ReplaceFile(path, out.str(), ".new")) {
        case Replaced::Done:
            break;
        case Replaced::CannotCreate:
            TraceLine("--    WriteINI = cannot create " + path + ".new");
            break;
        case Replaced::CannotWrite:
            TraceLine("--    WriteINI = cannot write " + path + ".new");
            break;
        case Replaced::CannotReplace:
            TraceLine("--    WriteINI = cannot replace " + path);
            break;
    }
}

}  // namespace rompush
