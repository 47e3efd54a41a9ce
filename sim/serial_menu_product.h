// A product with a serial text menu (KVT, Crossfield, Meridan) as the PC sees it on its COM
// port. The product talks at its own baud rate, whatever the PC's port is set to: at another
// rate each side hears the other garbled, as a UART delivers a line at the wrong speed. It is
// powered independently of the PC: PowerCycle() (a test, or a signal to rompush-devsim)
// switches it off and on, and it announces itself. It runs on any DeviceHost: in-process on
// the virtual clock or behind a pseudo-terminal.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "sim/device_host.h"

namespace rompush::sim {

// What a UART set to receiverBaud delivers for bytes sent at senderBaud (8 data bits, no
// parity, one stop bit):
// - the same rate: the bytes;
// - a sender at least nine times slower: each byte's start bit alone outlasts a whole frame
//   of the receiver, so every byte arrives as a 0;
// - a sender two to eight times slower: each byte arrives as one garbled byte built from the
//   first data bits stretched over the receiver's frame; never 0, "?" or ">";
// - a faster sender: the receiver catches one frame for every (ratio) bytes, as 0xFE.
std::string HeardAt(const std::string& bytes, int senderBaud, int receiverBaud);

// A whole decimal number, as a product's name=value options give it; false for anything else
// ("", "12x", "x").
bool ParseOptionNumber(const std::string& text, long& out);

// The byte written as two hex digits at `at` of a HEX file line, -1 when they are not there.
int HexByteAt(const std::string& line, std::size_t at);

// A line of a HEX file as a product's loader reads it.
struct HexLine {
    int type = -1;       // the record type, -1 when the line has none
    bool sound = false;  // ":" first, its length agrees with its count, its bytes add up to 0
    std::string data;    // the data bytes of a sound record
};
HexLine ReadHexLine(const std::string& line);

class SerialMenuProduct : public SerialDevice {
  public:
    explicit SerialMenuProduct(int baud) : baud_(baud) {}

    int Baud() const { return baud_; }
    // The product changes its own rate (a baud setting saved in it).
    void SetBaud(int baud) { baud_ = baud; }

    // Power off and on: whatever the product was doing is forgotten (its timers are
    // dropped), then it starts again and announces itself.
    void PowerCycle();

    // The files the product holds after downloads, by target ("kvt", "main", "usb", ...),
    // as the text lines it received.
    const std::map<std::string, std::string>& HeldFiles() const { return held_; }
    // Every character the product heard from the PC since it was made.
    const std::string& Heard() const { return heard_; }
    // When it last said anything (microseconds of its host's time), -1 before it did.
    std::int64_t LastSaidUs() const { return lastSaidUs_; }

    // SerialDevice: a byte from the PC, heard at the product's rate.
    void OnHostByte(std::uint8_t byte) final;

  protected:
    // The product starts after power-on.
    virtual void OnPowerUp() = 0;
    // One character as the product heard it.
    virtual void OnKey(char c) = 0;

    // Sends text at the product's rate, garbled when the PC listens at another.
    void Say(const std::string& text);
    // Runs fn after delayUs unless the product was power-cycled in between.
    void Later(std::int64_t delayUs, std::function<void()> fn);
    // The PC's baud rate, 0 when its port is closed.
    int HostBaud() const;

    std::map<std::string, std::string> held_;

  private:
    int baud_;
    std::uint64_t poweredOn_ = 0;  // counts power-ups; timers of an earlier one are dropped
    std::string heard_;
    std::int64_t lastSaidUs_ = -1;
};

}  // namespace rompush::sim
