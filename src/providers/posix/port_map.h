// Which device a COM port number stands for. The operator's port map comes first: a symlink
// COM<n> in the folder "ports" of the program folder, pointing at any serial device (a USB
// adapter, a pseudo-terminal). The machine's own serial devices then take the numbers the map
// leaves free, from 1 up: the ttyS devices that have a real UART (by number), then ttyUSB,
// then ttyACM. A device the map already names is not numbered a second time.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "platform/platform.h"

namespace rompush::platform::posix {

class PortMap {
  public:
    // Tells whether a ttyS device has a UART behind it.
    using UartCheck = std::function<bool(const std::string& devicePath)>;

    explicit PortMap(std::string programFolder, std::string deviceRoot = "/dev",
                     UartCheck uartCheck = HasUart);

    // Every numbered port and its device path (the map's entries by their target).
    std::map<int, std::string> Ports() const;
    // The device of COM<number>, "" when there is none.
    std::string DevicePath(int number) const;
    std::string MapFolder() const;
    // From now on only COM<number> exists, and it is that device (number 0: no port at all): a
    // front end that serves one port leaves every other port alone, as another copy of the
    // program may be using it.
    void PinOnly(int number, std::string devicePath);

    // What the device of COM<number> is: for a USB adapter or modem the maker's texts and
    // numbers from sysfs, and the /dev/serial/by-id link that names it.
    PortDescription Describe(int number) const;
    PortDescription DescribeDevice(const std::string& devicePath) const;
    // Where sysfs is ("/sys"); tests build a tree of their own.
    void SetSysRoot(std::string sysRoot) { sysRoot_ = std::move(sysRoot); }
    const std::string& DeviceRoot() const { return deviceRoot_; }
    const std::string& ProgramFolder() const { return programFolder_; }

    // The machine's check: TIOCGSERIAL reports a port type other than "unknown". A device that
    // cannot be opened for the check is judged by its sysfs entry.
    static bool HasUart(const std::string& devicePath);

  private:
    std::map<int, std::string> MapEntries() const;

    std::string programFolder_;
    std::string deviceRoot_;
    std::string sysRoot_ = "/sys";
    UartCheck uartCheck_;
    bool pinned_ = false;
    int pinnedNumber_ = 0;
    std::string pinnedPath_;
    // A ttyS device's UART does not come and go: each is checked once.
    mutable std::map<std::string, bool> uartKnown_;
};

}  // namespace rompush::platform::posix
