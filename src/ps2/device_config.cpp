#include "ps2/device_config.h"

#include <cmath>
#include <string>

#include "core/state.h"
#include "core/text.h"
#include "core/trace.h"
#include "platform/platform.h"
#include "ps2/kb_controller.h"
#include "ui/frm_config_device.h"

namespace rompush {

namespace {

constexpr int kConfigBytes = 10;
constexpr std::uint8_t kConfigCommandByte = 0x20;  // translation off, interrupts off
constexpr std::int16_t kConfigPauseMs = 300;
// Both timing fields count fifteenths of a second.
constexpr int kScanTicksPerSecond = 15;
constexpr int kBlankTicksPerMinute = 900;

// On the Orbit Tiny and the Prisma the first two ports are wired the other way round: port 1
// has keyboard-mode byte 5 and mouse position 1, port 2 byte 4 and position 0.
bool FirstPortsSwapped() {
    return g.dev.DevIdName == "Orbit Tiny" || g.dev.DevIdName == "Prisma";
}

// The mouse position (0 to 3) of a port (0 for port 1); the mapping is its own inverse, so it
// also gives the port of a position.
int MousePosition(int port) {
    return port < 2 && FirstPortsSwapped() ? 1 - port : port;
}

// The record byte that holds a port's keyboard mode.
int KbModeByte(int port) {
    return 4 + MousePosition(port);
}

// The last mouse position the record is decoded for: the device's port count itself, so an
// Orbit Tiny (2 ports) gives positions 0 to 2 and its port-3 list takes bits 2 and 6 too.
// Identification gives the Orbit Tiny 2 ports and the Orbit Mini 4; it sets no count for the
// Prisma, which is a two-port device wired like the Orbit Tiny, so it is decoded like one
// rather than by whatever count an earlier identification left behind.
int LastMousePosition() {
    return g.dev.DevIdName == "Prisma" ? 2 : g.ps2.PortCount;
}

// Rounded to the nearest whole number, halves to even.
int Nearest(double value) {
    return static_cast<int>(std::nearbyint(value));
}

// The keyboard mode is the high four bits; records this program writes have the low four
// bits 0, and bits that are not part of the field do not change the mode (0x18 is mode 1).
int KbModeIndex(std::uint8_t byte) {
    return (byte >> 4) - 1;
}

// Minutes of video blanking. Both bytes carry 1 more than their part of the time, so a byte
// of 0 stands for no time at all: undecodable rather than 0 minutes.
int BlankingIndex(std::uint8_t low, std::uint8_t high) {
    if (low == 0 || high == 0)
        return -1;
    const int ticks = (high - 1) * 256 + (low - 1);
    return Nearest(static_cast<double>(ticks) / kBlankTicksPerMinute);
}

struct Field {
    std::int16_t code;
    const char* name;
    ui::ComboBox* list;
    int defaultIndex;
};

// The field an ErrorCode names, with its name in the notice and its default entry.
bool FieldFor(std::int16_t code, Field& field) {
    auto& d = frmConfigDevice();
    const Field fields[] = {
        {5001, "SCAN INTERVAL", &d.cboScanTime, 0},
        {5002, "MAX PORTS ENABLED", &d.cboMaxPorts, 0},
        {5003, "TYPEMATIC RATE", &d.cboTypeRate, 0},
        {5004, "TYPEMATIC DELAY", &d.cboTypeDelay, 0},
        {5005, "PORT 1 KEYBOARD MODE", &d.cboPort1Kb, 1},
        {5006, "PORT 2 KEYBOARD MODE", &d.cboPort2Kb, 1},
        {5007, "PORT 3 KEYBOARD MODE", &d.cboPort3Kb, 1},
        {5008, "PORT 4 KEYBOARD MODE", &d.cboPort4Kb, 1},
        {5009, "VIDEO BLANKING INTERVAL", &d.cboVideoBlank, 0},
    };
    for (const Field& candidate : fields) {
        if (candidate.code == code) {
            field = candidate;
            return true;
        }
    }
    return false;
}

// A decoded index selects its entry when the list has one; otherwise the field falls back to
// its default and the operator is told.
void Select(ui::ComboBox& list, int index, std::int16_t code) {
    if (index >= 0 && index < list.ListCount()) {
        list.ListIndex = index;
        return;
    }
    g.result.ErrorCode = code;
    TraceLine("--    " + list.Name + " index " + std::to_string(index) +
              ": ErrorCode = " + std::to_string(code));
    ApplyConfigDefault();
}

void DecodeRecord(const ConfigRecord& r) {
    auto& d = frmConfigDevice();
    Select(d.cboScanTime, Nearest(static_cast<double>(r[1]) / kScanTicksPerSecond - 1), 5001);
    Select(d.cboMaxPorts, r[2] - 1, 5002);
    Select(d.cboTypeRate, r[3] & 0x1F, 5003);
    Select(d.cboTypeDelay, (r[3] & 0x60) / 32, 5004);
    for (int port = 0; port < 4; ++port) {
        Select(*d.KbLists()[port], KbModeIndex(r[KbModeByte(port)]),
               static_cast<std::int16_t>(5005 + port));
    }
    Select(d.cboVideoBlank, BlankingIndex(r[8], r[9]), 5009);
    // Every mouse index (0 to 3) has an entry; positions beyond 3 have no list.
    for (int position = 0; position <= LastMousePosition() && position <= 3; ++position) {
        const int index = ((r[10] >> position) & 1) + 2 * ((r[10] >> (position + 4)) & 1);
        d.MsLists()[MousePosition(position)]->ListIndex = index;
    }
    ui::ApplyPortCountRule(d.cboMaxPorts.ListIndex);
}

int IndexOf(const ui::ComboBox& list) {
    return list.ListIndex < 0 ? 0 : list.ListIndex;
}

ConfigRecord EncodeRecord() {
    auto& d = frmConfigDevice();
    ConfigRecord r{};
    r[1] = static_cast<std::uint8_t>(kScanTicksPerSecond * (IndexOf(d.cboScanTime) + 1));
    r[2] = static_cast<std::uint8_t>(IndexOf(d.cboMaxPorts) + 1);
    r[3] = static_cast<std::uint8_t>((IndexOf(d.cboTypeDelay) * 32) | IndexOf(d.cboTypeRate));
    for (int port = 0; port < 4; ++port)
        r[KbModeByte(port)] = static_cast<std::uint8_t>(16 * (IndexOf(*d.KbLists()[port]) + 1));
    const int ticks = kBlankTicksPerMinute * IndexOf(d.cboVideoBlank);
    r[8] = static_cast<std::uint8_t>(ticks % 256 + 1);
    r[9] = static_cast<std::uint8_t>(ticks / 256 + 1);
    // All four positions, whatever the port count.
    for (int position = 0; position <= 3; ++position) {
        const int index = IndexOf(*d.MsLists()[MousePosition(position)]);
        const int low = (index & 1) << position;
        const int high = ((index >> 1) & 1) << (position + 4);
        r[10] |= static_cast<std::uint8_t>(low | high);
    }
    return r;
}

void TraceRecord(const ConfigRecord& r) {
    std::string bytes;
    for (int entry = 1; entry <= kConfigBytes; ++entry)
        bytes += " &H" + Hex(r[static_cast<std::size_t>(entry)]);
    TraceLine("--    ConfigRecord =" + bytes);
}

// Runs `body` over the taken controller, through the port-access provider UseWinIo selects
// (the direct one outside identification and programming); the driver-backed provider is
// initialised and shut down around it when it is the one selected, and UseWinIo is left as it
// was. The controller is given back on every way out. False, once the operator has the
// keyboard back and has been told, when the ports cannot be reached or the controller takes
// no bytes: `body` has then sent nothing, or not all of it.
template <typename Body>
bool OverController(Body body) {
    const bool winIo = g.cmd.UseWinIo;
    bool reached = false;
    {
        KbSession session;
        g.ps2.PortFault = false;
        g.ps2.InputStuck = false;
        if (winIo)
            BeginDriverAccess("WinIo was not initialized @ ID_PS2_Device");
        if (TakeController(kConfigCommandByte, kConfigPauseMs, "KB not disabled @ ProgramMonolink"))
            body();
        reached = !ControllerUnusable();
        ReleaseController();
        if (winIo)
            EndDriverAccess();
    }
    g.cmd.UseWinIo = winIo;
    if (!reached) {
        platform::Current().dialogs->MsgBox("PS/2 port was not initialized",
                                            platform::mb::kCritical + platform::mb::kOk,
                                            "RomPush Utility");
    }
    return reached;
}

}  // namespace

bool ReadConfigRecord(ConfigRecord& record) {
    // An acknowledgement that comes late is waited for and skipped, so the record is never
    // shifted by one.
    bool acknowledged = wr_kb_cmd(ReadConfig) == kKbAck;
    for (int entry = 1; entry <= kConfigBytes;) {
        std::uint8_t byte = 0;
        if (!ReadKbByte(byte)) {
            TraceLine("--    configuration bytes received: " + std::to_string(entry - 1));
            return false;
        }
        if (!acknowledged) {
            acknowledged = byte == kKbAck;
            continue;
        }
        record[static_cast<std::size_t>(entry++)] = byte;
    }
    return true;
}

bool SendConfigRecord(const ConfigRecord& record) {
    // Every byte is sent even after one went unacknowledged: had the device missed it, it now
    // waits for one byte more rather than for the rest of the record.
    int missing = wr_kb_cmd(WriteConfig) == kKbAck ? 0 : 1;
    for (int entry = 1; entry <= kConfigBytes; ++entry) {
        if (wr_kb_cmd(record[static_cast<std::size_t>(entry)]) != kKbAck)
            ++missing;
    }
    if (missing == 0)
        return true;
    TraceLine("--    settings bytes not acknowledged: " + std::to_string(missing));
    g.ps2.UnsavedConfig = record;
    g.ps2.UnsavedConfigFor = g.dev.DevLetter;
    if (!ControllerUnusable()) {
        ConfigRecord held{};
        if (ReadConfigRecord(held))
            TraceRecord(held);
    }
    return false;
}

bool OfferUnsavedConfig() {
    const auto& p = g.ps2;
    if (p.UnsavedConfigFor.empty() || p.UnsavedConfigFor != g.dev.DevLetter)
        return false;
    TraceLine("--    offering the settings not saved");
    TraceRecord(p.UnsavedConfig);
    DecodeRecord(p.UnsavedConfig);
    auto& notice = frmSaveConfig();
    notice.lblConfigStatus.Caption = std::string("The settings the device did not take ") +
                                     "are shown again." + "\r\n\r\n" +
                                     "Press OK to save them, Cancel to keep the device's.";
    notice.lblConfigStatus.Font.Size = 10;
    notice.Visible = true;
    notice.btnCONTINUE.Visible = true;
    ui::KeepOnTop(notice, true);
    return true;
}

void ForgetUnsavedConfig() {
    g.ps2.UnsavedConfigFor.clear();
}

bool GetOrbitParams() {
    TraceScope trace("GetOrbitParams()");
    ConfigRecord record{};
    bool read = false;
    // The lists are set once the controller is given back: the PC's keyboard and mouse are
    // locked out only while the bytes cross.
    if (!OverController([&] { read = ReadConfigRecord(record); }))
        return false;
    if (!read) {
        // Too few bytes: nothing of the record is shown, so nothing of it can be saved.
        g.result.ErrorCode = 5001;
        TraceLine("-- ErrorCode = 5001");
        return false;
    }
    TraceRecord(record);
    DecodeRecord(record);
    return true;
}

bool WriteOrbitParams() {
    TraceScope trace("WriteOrbitParams()");
    const ConfigRecord record = EncodeRecord();
    TraceRecord(record);
    bool acknowledged = false;
    if (!OverController([&] { acknowledged = SendConfigRecord(record); })) {
        g.ps2.UnsavedConfig = record;
        g.ps2.UnsavedConfigFor = g.dev.DevLetter;
        return false;
    }
    if (!acknowledged) {
        g.result.ErrorCode = 5010;
        TraceLine("-- ErrorCode = 5010");
        return false;
    }
    ForgetUnsavedConfig();
    return true;
}

void ApplyConfigDefault() {
    TraceScope trace("ApplyConfigDefault()");
    Field field{};
    if (!FieldFor(g.result.ErrorCode, field))
        return;
    auto& notice = frmSaveConfig();
    notice.lblConfigStatus.Caption = std::string("Incomplete configuration data ") +
                                     "received for  " + field.name + "\r\n\r\n" +
                                     "          Using default...  ";
    notice.lblConfigStatus.Font.Size = 10;
    notice.Visible = true;
    notice.btnCONTINUE.Visible = true;
    ui::KeepOnTop(notice, true);
    field.list->ListIndex = field.defaultIndex;
}

}  // namespace rompush
