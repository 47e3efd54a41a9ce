// The COM port on Linux: a termios serial device found through the port map, opened
// exclusively, in raw mode with the settings string's baud rate, parity, data and stop bits.
// Received bytes are collected from the device into a receive buffer; a device that vanishes
// (adapter pulled out, pseudo-terminal closed) leaves the port "open" but deaf and mute, as
// the logic expects of a port whose device has gone.
#pragma once

#include <termios.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "providers/posix/line_control.h"
#include "providers/posix/port_map.h"

namespace rompush::platform::posix {

class PosixSerialPort : public SerialPort {
  public:
    // control: where the driver's low-latency flag is set on open and put back on close.
    explicit PosixSerialPort(
        PortMap map, std::shared_ptr<LineControl> control = std::make_shared<KernelLineControl>());
    ~PosixSerialPort() override;
    PosixSerialPort(const PosixSerialPort&) = delete;
    PosixSerialPort& operator=(const PosixSerialPort&) = delete;

    void SetCommPort(int number) override;
    int CommPort() const override { return number_; }
    void SetSettings(const std::string& settings) override;
    std::string Settings() const override { return settings_; }
    void SetHandshaking(int mode) override;
    int Handshaking() const override { return handshaking_; }
    void SetInputLen(int characters) override { inputLen_ = characters < 0 ? 0 : characters; }
    int InputLen() const override { return inputLen_; }
    void SetInputModeText() override {}

    void SetPortOpen(bool open) override;
    bool PortOpen() const override { return open_; }

    int InBufferCount() override;
    std::string Input() override;
    int Write(const std::string& bytes) override;
    void DiscardOutput() override;
    bool DeviceLost() const override { return open_ && lost_; }

    void SetRThreshold(int characters) override { rThreshold_ = characters; }
    void SetSThreshold(int characters) override { sThreshold_ = characters; }
    void SetOnComm(std::function<void()> handler) override { onComm_ = std::move(handler); }

    std::string DevicePath(int number) const override { return map_.DevicePath(number); }
    std::string LastError() const override { return lastError_; }
    PortDescription Describe(int number) const override { return map_.Describe(number); }
    bool Probe(int number, std::string& why) override;
    std::string LatencyNote() const override { return latencyNote_; }

    // For an event loop: the descriptor to watch for received bytes, -1 while there is none
    // (closed, or the device has vanished). The watcher runs whenever it changes.
    int Fd() const { return fd_; }
    void SetFdWatcher(std::function<void(int fd)> watcher);
    // The descriptor is readable (or hung up): collects the bytes and raises the receive
    // event for each of them when the receive threshold is 1.
    void OnReadable();
    // True once the device has vanished while the port was open.
    bool Lost() const { return lost_; }
    // True when the logic has taken bytes out of the receive buffer since the last call: an
    // event loop then does not sleep while more bytes wait, so a frame that arrived in one
    // piece is read at once.
    bool TakeReadProgress();
    // Bytes in the receive buffer, without looking at the device.
    int Buffered() const { return static_cast<int>(buffer_.size()); }

  private:
    // Moves what the device has into the buffer; returns the number of bytes read.
    int Drain();
    void MarkLost(const std::string& why);
    void CloseFd();
    void ApplySettings();
    void NotifyWatcher();
    // A reason of a failed open; missing rights name the group that owns the device.
    std::string WithOwner(const std::string& path, const std::string& why) const;
    // Asks the driver for low-latency mode, remembering the flags to put back on close.
    void EnterLowLatency();

    PortMap map_;
    std::shared_ptr<LineControl> control_;
    std::string latencyNote_;
    bool restoreFlags_ = false;
    int savedFlags_ = 0;
    int number_ = 1;
    std::string settings_ = "9600,N,8,1";
    int handshaking_ = 0;
    int inputLen_ = 0;
    int rThreshold_ = 0;
    int sThreshold_ = 0;
    std::function<void()> onComm_;
    std::function<void(int)> fdWatcher_;

    bool open_ = false;
    bool lost_ = false;
    int fd_ = -1;
    std::string path_;
    std::deque<std::uint8_t> buffer_;
    int unannounced_ = 0;  // bytes received whose receive event has not run yet
    bool readProgress_ = false;
    std::string lastError_;
};

// A settings string taken apart; throws PlatformError when it is malformed.
struct LineSettings {
    int baud = 9600;
    char parity = 'N';
    int dataBits = 8;
    int stopBits = 1;
};
LineSettings ParseSettings(const std::string& settings);
// The raw-mode terminal settings for a settings string and handshaking (0 none, 1 XON/XOFF,
// 2 RTS/CTS), starting from the device's current ones.
termios MakeTermios(const termios& current, const std::string& settings, int handshaking);

}  // namespace rompush::platform::posix
