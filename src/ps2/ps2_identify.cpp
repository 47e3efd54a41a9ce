#include "ps2/ps2_identify.h"

#include <cctype>

#include "core/state.h"
#include "core/text.h"
#include "core/trace.h"
#include "core/wait.h"
#include "ps2/kb_controller.h"
#include "ui/main_window.h"

namespace rompush {

namespace {

constexpr std::uint8_t kSpaceMakeCode = 0x39;  // the space key ends the typed identity
constexpr std::int16_t kIdentityKeys = 15;

struct Model {
    char typed;
    const char* letter;
    const char* name;
    std::uint8_t portCount;  // 0: the previous count stays
};
constexpr Model kModels[] = {
    {'k', "K", "Monolink", 0},
    {'t', "T", "Orbit Tiny", 2},
    {'v', "V", "Orbit Mini", 4},
    {'b', "B", "Prisma", 0},
};

// The text typed before the first space; codes outside the table add nothing. A space in the
// very first entry does not end it.
std::string DecodeIdentity() {
    const auto& keys = g.ps2.KbByteArray;
    std::string text;
    for (int i = 1; i <= 19; ++i) {
        text += Mode1ToChar(keys[i - 1]);
        if (keys[i] == kSpaceMakeCode)
            break;
    }
    return text;
}

void SetModel(char typed) {
    auto& dev = g.dev;
    dev.DevIdName = "";
    dev.DevDisplayName = "";
    for (const Model& model : kModels) {
        if (model.typed == typed) {
            dev.DevLetter = model.letter;
            dev.DevIdName = model.name;
            dev.DevDisplayName = model.name;
            if (model.portCount != 0)
                g.ps2.PortCount = model.portCount;
        }
    }
}

// The model letter, then the revision with a point after its first digit: "t1203" reads
// "t1.203", a short one gets "Rev " in front ("t12n" reads "Rev t1.2n").
std::string RevisionText(const std::string& typed) {
    if (typed.size() > 4)
        return typed.substr(0, 2) + "." + typed.substr(2);
    return "Rev " + typed.substr(0, 2) + "." + (typed.size() > 2 ? typed.substr(2, 2) : "");
}

// A revision ending in "n" without a digit before it is firmware that cannot be replaced.
bool NonFlashable(const std::string& revision) {
    const std::size_t n = revision.size();
    return n >= 1 && revision[n - 1] == 'n' &&
           !(n >= 2 && std::isdigit(static_cast<unsigned char>(revision[n - 2])));
}

}  // namespace

std::string Mode1ToChar(std::uint8_t code) {
    static constexpr struct {
        std::uint8_t code;
        char character;
    } kTable[] = {
        {0x0B, '0'}, {0x02, '1'}, {0x03, '2'}, {0x04, '3'}, {0x05, '4'}, {0x06, '5'},
        {0x07, '6'}, {0x08, '7'}, {0x09, '8'}, {0x0A, '9'}, {0x1E, 'a'}, {0x30, 'b'},
        {0x2E, 'c'}, {0x20, 'd'}, {0x12, 'e'}, {0x21, 'f'}, {0x22, 'g'}, {0x23, 'h'},
        {0x17, 'i'}, {0x24, 'j'}, {0x25, 'k'}, {0x26, 'l'}, {0x32, 'm'}, {0x31, 'n'},
        {0x18, 'o'}, {0x19, 'p'}, {0x10, 'q'}, {0x13, 'r'}, {0x1F, 's'}, {0x14, 't'},
        {0x16, 'u'}, {0x2F, 'v'}, {0x11, 'w'}, {0x2D, 'x'}, {0x15, 'y'}, {0x2C, 'z'},
    };
    std::string character;
    for (const auto& entry : kTable) {
        if (entry.code == code)
            character = std::string(1, entry.character);
    }
    TraceScope trace("Mode1ToChar( " +
                     (character.empty() ? "&H" + Hex(code) : "'" + character + "'") + " )");
    return character;
}

bool ID_PS2_Device() {
    TraceScope trace("ID_PS2_Device()");
    KbSession session;
    BeginDriverAccess("WinIo was not initialized @ ID_PS2_Device");
    auto& keys = g.ps2.KbByteArray;
    for (int i = 0; i <= 19; ++i)
        keys[i] = 0;

    std::string typed;
    if (TakeController(0x60, 500, "KB not disabled @ ID_PS2_Device")) {
        if (wr_kb_cmd(cmd_GetRevSwType) != kKbAck)
            wr_kb_cmd(cmd_GetRevSwType);
        Delay(1);
        rd_kb_data(kIdentityKeys);
        typed = DecodeIdentity();
    }

    bool result = false;
    if (typed.empty()) {
        g.result.ErrorCode = 1;
    } else {
        result = true;
        SetModel(typed[0]);
        ui::SetStatusPanel2(g.dev.DevDisplayName);
        g.dev.DeviceFound = true;
        g.dev.DevRev = RevisionText(typed);
        ui::SetStatusPanel3(g.dev.DevRev);
        if (NonFlashable(g.dev.DevRev)) {
            g.result.ErrorCode = 6001;
            result = false;
        }
    }
    ReleaseController();
    EndDriverAccess();
    return result;
}

}  // namespace rompush
