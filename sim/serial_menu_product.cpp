#include "sim/serial_menu_product.h"

#include <cstdlib>

namespace rompush::sim {

bool ParseOptionNumber(const std::string& text, long& out) {
    char* end = nullptr;
    out = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && end && *end == '\0';
}

int HexByteAt(const std::string& line, std::size_t at) {
    if (at + 2 > line.size())
        return -1;
    char* end = nullptr;
    const std::string field = line.substr(at, 2);
    const long value = std::strtol(field.c_str(), &end, 16);
    return end == field.c_str() + 2 ? static_cast<int>(value) : -1;
}

HexLine ReadHexLine(const std::string& line) {
    HexLine read;
    if (line.empty() || line[0] != ':')
        return read;
    read.type = HexByteAt(line, 7);
    const int count = HexByteAt(line, 1);
    if (read.type < 0 || count < 0 || line.size() != 11 + 2 * static_cast<std::size_t>(count))
        return read;
    unsigned sum = 0;
    std::string data;
    for (std::size_t at = 1; at < line.size(); at += 2) {
        const int byte = HexByteAt(line, at);
        if (byte < 0)
            return read;
        sum += static_cast<unsigned>(byte);
        if (at >= 9 && at < line.size() - 2)
            data += static_cast<char>(byte);
    }
    read.sound = (sum & 0xFF) == 0;
    if (read.sound)
        read.data = std::move(data);
    return read;
}

std::string HeardAt(const std::string& bytes, int senderBaud, int receiverBaud) {
    if (senderBaud <= 0 || receiverBaud <= 0 || senderBaud == receiverBaud)
        return bytes;
    std::string heard;
    if (receiverBaud > senderBaud) {
        const int ratio = receiverBaud / senderBaud;
        for (unsigned char byte : bytes) {
            if (ratio >= 9) {
                heard += '\0';
                continue;
            }
            // Receiver bit i samples the sender at (1.5 + i) of its own bit times.
            unsigned value = 0;
            for (int i = 0; i < 8; ++i) {
                const int senderBit = static_cast<int>((1.5 + i) / ratio);
                const unsigned level = senderBit == 0 ? 0 : (byte >> (senderBit - 1)) & 1U;
                value |= level << i;
            }
            // A frame of low levels still shows as a character with a framing error.
            if (value == 0 || value == '?' || value == '>')
                value |= 0x80;
            heard += static_cast<char>(value);
        }
    } else {
        const std::size_t ratio = static_cast<std::size_t>(senderBaud / receiverBaud);
        for (std::size_t i = 0; i < bytes.size(); i += ratio)
            heard += static_cast<char>(0xFE);
    }
    return heard;
}

void SerialMenuProduct::PowerCycle() {
    ++poweredOn_;
    OnPowerUp();
}

void SerialMenuProduct::OnHostByte(std::uint8_t byte) {
    const std::string heard = HeardAt(std::string(1, static_cast<char>(byte)), HostBaud(), baud_);
    for (char c : heard) {
        heard_ += c;
        OnKey(c);
    }
}

void SerialMenuProduct::Say(const std::string& text) {
    if (!host_)
        return;
    const int hostBaud = HostBaud();
    if (hostBaud == 0)
        return;  // nobody listens: the bytes are lost on the wire
    lastSaidUs_ = host_->NowUs();
    host_->Send(HeardAt(text, baud_, hostBaud));
}

void SerialMenuProduct::Later(std::int64_t delayUs, std::function<void()> fn) {
    if (!host_)
        return;
    host_->After(delayUs, [this, powerUp = poweredOn_, fn = std::move(fn)] {
        if (powerUp == poweredOn_)
            fn();
    });
}

int SerialMenuProduct::HostBaud() const {
    return host_ ? BaudOf(host_->HostSettings()) : 0;
}

}  // namespace rompush::sim
