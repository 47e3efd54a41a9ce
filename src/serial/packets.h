// Bootloader packets: layout, command codes, CRC-16 and the recognition of answers.
#pragma once

#include <cstdint>
#include <string>

#include "core/crc.h"

namespace rompush {

constexpr std::uint8_t ID_CMD = 0x40;
constexpr std::uint8_t FW_CMD = 0x42;
constexpr std::uint8_t FLASH_CMD = 0x52;
constexpr std::uint8_t SET_PAGE_CMD = 0x56;
constexpr std::uint8_t ERASE_PAGE_CMD = 0x58;
constexpr std::uint8_t WRITE_PAGE_CMD = 0x5A;
constexpr std::uint8_t CRC_PAGE_CMD = 0x5C;
constexpr std::uint8_t GO_CMD = 0x5E;

// "ID_CMD", "FLASH_CMD", ...; a code not in the table as its hex digits.
std::string CommandName(std::uint8_t command);
// Builds the packet of the given length and command around PayloadBuf and writes it. False
// when it could not be written whole: the device did not get the packet.
bool send_packet(std::uint8_t length, std::uint8_t command);
// True when RcvArray holds the answer expected for the command; sets RspIndex.
bool Corrlator(std::uint8_t command);

}  // namespace rompush
