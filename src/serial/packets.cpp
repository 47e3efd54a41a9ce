#include "serial/packets.h"

#include "core/state.h"
#include "core/text.h"
#include "core/trace.h"
#include "platform/platform.h"
#include "serial/comm.h"

namespace rompush {

std::string CommandName(std::uint8_t command) {
    switch (command) {
        case ID_CMD:
            return "ID_CMD";
        case FW_CMD:
            return "FW_CMD";
        case FLASH_CMD:
            return "FLASH_CMD";
        case SET_PAGE_CMD:
            return "SET_PAGE_CMD";
        case ERASE_PAGE_CMD:
            return "ERASE_PAGE_CMD";
        case WRITE_PAGE_CMD:
            return "WRITE_PAGE_CMD";
        case CRC_PAGE_CMD:
            return "CRC_PAGE_CMD";
        case GO_CMD:
            return "GO_CMD";
        default:
            return Hex(command);
    }
}

bool send_packet(std::uint8_t length, std::uint8_t command) {
    TraceScope trace("send_packet( " + CommandName(command) + " )");
    auto& packet = g.link.cmd_string;
    // A packet has at least its length, code and CRC and fits the packet buffer.
    if (length < 4 || length > packet.size())
        return false;
    packet[0] = length;
    packet[1] = command;
    for (int k = 0; k < length - 4; ++k)
        packet[2 + k] = g.link.PayloadBuf[k];
    std::int32_t crc = 0;
    for (int k = 0; k < length - 2; ++k)
        CrcUpdate(crc, packet[k]);
    packet[length - 2] = static_cast<std::uint8_t>(crc >> 8);
    packet[length - 1] = static_cast<std::uint8_t>(crc & 0xFF);
    if (g.trace.TraceOn) {
        for (int k = 1; k <= length && k < static_cast<int>(packet.size()); ++k) {
            TraceLine("-- " + std::string("   cmd_string(") + std::to_string(k) + ") = &H" +
                      Hex(packet[k]));
        }
    }
    BusyWait();
    for (int k = 0; k < length; ++k) {
        if (WritePort(std::string(1, static_cast<char>(packet[k]))) != PortWrite::Sent) {
            TraceLine("--    packet not sent");
            return false;
        }
    }
    return true;
}

bool Corrlator(std::uint8_t command) {
    TraceScope trace("Corrlator( " + CommandName(command) + " )");
    int expectedLength = 0;
    int expectedCode = 0;
    switch (command) {
        case ID_CMD:
            expectedLength = 7;
            expectedCode = 0x41;
            break;
        case FW_CMD:
            expectedLength = 9;
            expectedCode = 0x43;
            break;
        case FLASH_CMD:
            expectedLength = 4;
            expectedCode = 0x53;
            break;
        case ERASE_PAGE_CMD:
            expectedLength = 4;
            expectedCode = 0x59;
            break;
        case WRITE_PAGE_CMD:
            expectedLength = 4;
            expectedCode = 0x5B;
            break;
        default:
            break;
    }
    const auto& rcv = g.link.RcvArray;
    const int n = rcv[0] < rcv.size() ? rcv[0] : static_cast<int>(rcv.size()) - 1;
    bool hit = false;
    if (expectedLength != 0 && n > 1) {
        for (int i = 1; i <= n - 1; ++i) {
            if (rcv[i] == expectedLength && rcv[i + 1] == expectedCode) {
                hit = true;
                g.link.RspIndex = static_cast<std::uint8_t>(i + 1);
            }
        }
    }
    TraceLine("--  " + std::string("  Hit = ") + BoolText(hit));
    return hit;
}

}  // namespace rompush
