// Writes Intel HEX firmware files as the maker's tools produce them: a header record that
// names the product, data records, an end record; CR LF line ends.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace rompush::testing {

// The images of the two bootloader families: a QTR receiver's 256 pages of 128 bytes from
// device address 0, a VLN transmitter's pages 4 to 28 of 512 bytes from &H800.
constexpr std::size_t kQtrImageBytes = 256 * 128;
constexpr std::size_t kVlnImageBytes = 25 * 512;
constexpr std::uint16_t kVlnBase = 0x800;

// An image with a recognisable byte in every cell.
inline std::vector<std::uint8_t> PatternImage(std::size_t size) {
    std::vector<std::uint8_t> image(size);
    for (std::size_t i = 0; i < size; ++i)
        image[i] = static_cast<std::uint8_t>((i * 31 + 7 + (i >> 8)) & 0xFF);
    return image;
}

// The product code a file carries for a device letter: the letter's code XOR &H96.
inline std::uint8_t ProductCodeFor(char devLetter) {
    return static_cast<std::uint8_t>(static_cast<unsigned char>(devLetter) ^ 0x96);
}

// One record: ":" count, address, type, data, checksum (two's complement of the byte sum).
inline std::string HexRecord(std::uint16_t address, std::uint8_t type,
                             const std::vector<std::uint8_t>& data) {
    unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF) + type;
    char field[16];
    std::snprintf(field, sizeof field, ":%02X%04X%02X", static_cast<unsigned>(data.size()),
                  static_cast<unsigned>(address), static_cast<unsigned>(type));
    std::string line = field;
    for (std::uint8_t byte : data) {
        std::snprintf(field, sizeof field, "%02X", static_cast<unsigned>(byte));
        line += field;
        sum += byte;
    }
    std::snprintf(field, sizeof field, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + field;
}

// The header record: six data bytes, the first 01, the fourth the product code.
inline std::string HeaderRecord(std::uint8_t productCode) {
    return HexRecord(0, 0, {0x01, 0x00, 0x00, productCode, 0x00, 0x00});
}

// The whole file text for an image whose first byte lies at baseAddress (which becomes
// HexData index 0), in records of recordBytes data bytes.
inline std::string HexFileText(std::uint8_t productCode, std::uint16_t baseAddress,
                               const std::vector<std::uint8_t>& image,
                               std::size_t recordBytes = 32) {
    std::string text = HeaderRecord(productCode) + "\r\n";
    for (std::size_t at = 0; at < image.size(); at += recordBytes) {
        const std::size_t end = std::min(image.size(), at + recordBytes);
        std::vector<std::uint8_t> data(image.begin() + static_cast<std::ptrdiff_t>(at),
                                       image.begin() + static_cast<std::ptrdiff_t>(end));
        text += HexRecord(static_cast<std::uint16_t>(baseAddress + at), 0, data) + "\r\n";
    }
    return text + ":00000001FF\r\n";
}

inline void WriteHexFile(const std::string& path, std::uint8_t productCode,
                         std::uint16_t baseAddress, const std::vector<std::uint8_t>& image,
                         std::size_t recordBytes = 32) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << HexFileText(productCode, baseAddress, image, recordBytes);
}

}  // namespace rompush::testing
