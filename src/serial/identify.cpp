#include "serial/identify.h"

#include <string>

#include "core/state.h"
#include "core/text.h"
#include "core/trace.h"
#include "platform/platform.h"
#include "serial/comm.h"
#include "serial/packets.h"
#include "ui/main_window.h"

namespace rompush {

namespace {
constexpr int kIdAttempts = 4;
// A bootloader that answered FLASH_CMD answers FW_CMD at once; a few tries are plenty.
constexpr int kBootloaderRevisionAttempts = 4;

// A received byte by index; bytes that were not received read as 0 and no index leaves the
// receive buffer.
std::uint8_t Rcv(int index) {
    const auto& rcv = g.link.RcvArray;
    return index >= 0 && index < static_cast<int>(rcv.size()) ? rcv[index] : 0;
}

// A revision character as the status bar may show it: a device that answered garbage must not
// put control characters there, so anything but a printable character is left out.
std::string Chr(int index) {
    const std::uint8_t byte = Rcv(index);
    if (byte < 0x20 || byte > 0x7E)
        return "";
    return std::string(1, static_cast<char>(byte));
}

std::string RevisionText(int first) {
    return Chr(first) + "." + Chr(first + 1) + UpperCase(Chr(first + 2));
}

// One row of the device table; a null prefix keeps the one of an earlier identification.
struct DeviceKind {
    const char* letter;
    const char* idName;
    const char* displayName;
    const char* revPrefix;
};

constexpr DeviceKind kTransmitter{"H", "VLNMINI", "TWPx  Transmitter", "H"};
constexpr DeviceKind kMaster{"M", "TWPx  Tx (Master)", "TWPx  Tx (Master)", "M"};
constexpr DeviceKind kSlave{"L", "TWPx  Tx (Slave)", "TWPx  Tx (Slave)", "S"};
constexpr DeviceKind kTransmitterType2{"H", "VLNMINI", "TWPx  Transmitter", nullptr};
constexpr DeviceKind kReceiver{"D", "QTRUSB", "TWPx  Receiver", "D"};
constexpr DeviceKind kMonolink{"D", "QTRUSB", "Monolink", nullptr};

// Type 1 is refined by flag bits 3 and 4, bit 4 winning when both are set.
const DeviceKind* KindOf(std::uint8_t type, std::uint8_t flags) {
    switch (type) {
        case 1:
            return (flags & 16) ? &kSlave : (flags & 8) ? &kMaster : &kTransmitter;
        case 2:
            return &kTransmitterType2;
        case 3:
            return &kReceiver;
        case 4:
            return &kMonolink;
        default:
            return nullptr;
    }
}

void FillDeviceRecord(std::uint8_t type, std::uint8_t flags) {
    auto& dev = g.dev;
    dev.DevTypeCode = type;
    const DeviceKind* kind = KindOf(type, flags);
    if (!kind) {
        // An unknown type keeps its letter but has no names.
        dev.DevIdName = "";
        dev.DevDisplayName = "";
        return;
    }
    dev.DevLetter = kind->letter;
    dev.DevIdName = kind->idName;
    dev.DevDisplayName = kind->displayName;
    if (kind->revPrefix)
        dev.DevRevPrefix = kind->revPrefix;
}

bool IdentificationFailed(std::int16_t code) {
    g.result.ErrorCode = code;
    ui::DisplayError();
    g.dev.DeviceFound = false;
    return false;
}
}  // namespace

bool xmitID_CMD() {
    TraceScope trace("xmitID_CMD()");
    const auto neutral = ui::colour::kButtonFace;
    ClearInBuffer();

    bool hit = false;
    for (int attempt = 0; attempt < kIdAttempts && !hit && !PortLost(); ++attempt) {
        Delay(100);
        // A ready byte that came in the meantime is not an answer to this ID.
        ClearInBuffer();
        send_packet(4, ID_CMD);
        Delay(50);
        RcvIn(3000);
        hit = Corrlator(ID_CMD);
    }
    if (!hit)
        return IdentificationFailed(7002);

    const int rsp = g.link.RspIndex;
    const std::uint8_t type = Rcv(rsp + 1);
    const std::uint8_t flags = Rcv(rsp + 3);
    FillDeviceRecord(type, flags);
    ui::SetStatusPanel2(g.dev.DevDisplayName);
    g.dev.DeviceFound = true;
    g.dev.DevRev = "";
    g.dev.BslRev = "";
    ui::SetStatusPanel3(g.dev.DevRev);
    ui::SetStatusPanel4(g.dev.BslRev);

    // Type 1 tells its revision only when it answered behind the &HC3 prefix; type 3 unless
    // bit 0 of its flags is set.
    const bool readRevision =
        (type == 1 && rsp > 3 && Rcv(rsp - 3) == 0xC3) || (type == 3 && (flags & 1) == 0);
    if (readRevision) {
        ui::ShowMsg("Getting REV...", neutral);
        ClearInBuffer();
        send_packet(4, FW_CMD);
        Delay(5);
        RcvIn(3000);
        const std::string& letter = g.dev.DevLetter;
        const int first = (letter == "H" || letter == "M" || letter == "L") ? 5 : 3;
        g.dev.DevRev = "Rev " + g.dev.DevRevPrefix + RevisionText(first);
        ui::SetStatusPanel3(g.dev.DevRev);
    }

    ui::ShowMsg("Getting BSL...", neutral);
    send_packet(4, FLASH_CMD);
    Delay(5);
    RcvIn(3000);
    // The answer code sits two bytes before the end; an answer too short to hold it is wrong.
    const int count = g.link.RcvArray[0];
    if (count < 3 || Rcv(count - 2) != 0x53)
        return IdentificationFailed(1501);

    Delay(1000);
    ClearInBuffer();
    bool answered = false;
    for (int attempt = 0; attempt < kBootloaderRevisionAttempts && !answered; ++attempt) {
        send_packet(4, FW_CMD);
        Delay(5);
        RcvIn(3000);
        answered = g.link.RcvArray[0] != 0;
    }
    if (!answered)
        return IdentificationFailed(1501);

    g.dev.BslRev = "BSL " + RevisionText(3);
    ui::SetStatusPanel4(g.dev.BslRev);
    ui::ShowMsg("Switching to app...", neutral);
    Delay(100);
    xmitGO_CMD();
    return true;
}

void xmitGO_CMD() {
    TraceScope trace("xmitGO_CMD()");
    send_packet(4, GO_CMD);
}

void WaitForQTR() {
    TraceScope trace("WaitForQTR()");
    const auto neutral = ui::colour::kButtonFace;
    ui::ShowMsg("Waiting for response...", neutral);
    StartTimer(3500);
    ui::ShowMsg("Waiting for response...", neutral);
    auto& serial = *platform::Current().serial;
    auto& events = *platform::Current().events;
    auto& rcv = g.link.RcvArray;
    std::size_t i = 0;
    for (;;) {
        if (!g.link.DelayActive || PortLost())
            break;
        if (serial.InBufferCount() > 0) {
            const std::string in = serial.Input();
            const std::uint8_t byte = in.empty() ? 0 : static_cast<std::uint8_t>(in[0]);
            if (i < rcv.size())
                rcv[i] = byte;  // what does not fit is read and dropped
            if (byte == 8)
                break;
            ++i;
            events.DoEvents();
        } else {
            events.WaitForEvents(100);
        }
    }
}

}  // namespace rompush
