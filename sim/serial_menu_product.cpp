#include "sim/serial_menu_product.h"

namespace rompush::sim {

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
