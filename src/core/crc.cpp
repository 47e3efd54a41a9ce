#include "core/crc.h"

#include "core/state.h"

namespace rompush {

void BuildCrcTable() {
    for (int n = 0; n < 256; ++n) {
        unsigned crc = static_cast<unsigned>(n) << 8;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
        }
        g.link.CrcTable[n] = static_cast<std::int16_t>(crc & 0xFFFF);
    }
}

void CrcUpdate(std::int32_t& crc, std::uint8_t byte) {
    const unsigned index = ((static_cast<unsigned>(crc) >> 8) ^ byte) & 0xFF;
    const unsigned entry = static_cast<std::uint16_t>(g.link.CrcTable[index]);
    crc = static_cast<std::int32_t>(((static_cast<unsigned>(crc) << 8) ^ entry) & 0xFFFF);
}

}  // namespace rompush
