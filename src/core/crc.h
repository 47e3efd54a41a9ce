// CRC-16 (polynomial 0x1021, initial value 0, most significant bit first, no final XOR) over
// the table built at start-up: packets and page checks on the serial link, and the keyboard-port
// devices' flash check.
#pragma once

#include <cstdint>

namespace rompush {

// Fills CrcTable.
void BuildCrcTable();
// One CRC step over one byte; crc stays within 0..0xFFFF.
void CrcUpdate(std::int32_t& crc, std::uint8_t byte);

}  // namespace rompush
