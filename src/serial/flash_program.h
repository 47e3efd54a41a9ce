// Erasing and programming the flash of a packet-bootloader device, page by page: select the
// page, erase it, write it in 32-byte blocks, compare the device's CRC of the page with the
// image's. One routine per bootloader family; ProgramMode says erase only or erase and program.
#pragma once

#include <cstdint>

namespace rompush {

// QTR family (letter "D"): pages 0..255 of 128 bytes; device address = HexData index.
void EraseProgramQTR();
// VLN family ("H", "M", "L"): pages 4..28 of 512 bytes; device address = HexData index + &H800.
void EraseProgramVLN();
// True when one of the 128 image cells from address on holds a byte other than &HFF.
bool Scan_For_Data(std::int32_t address);
// A signed 16-bit value read as unsigned: negative values + 65536.
std::int32_t IntegerToUnsigned(std::int16_t value);
// An unsigned 16-bit value back into a signed one: values above 32767 - 65536. A value outside
// 0..65535 has no 16-bit form; its low 16 bits are taken, as the wire would carry them.
std::int16_t UnsignedToInteger(std::int32_t value);

}  // namespace rompush
