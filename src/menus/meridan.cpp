#include "menus/meridan.h"

#include <string>

#include "core/state.h"

namespace rompush {

// Placeholder until the product's operations are built.
void MeridanDetect() {}

namespace {
// The digit in front of the last ")" before the entry's text; 0 when the menu lacks it.
std::uint8_t OptionDigitOf(const std::string& menu, const std::string& entry) {
    const std::size_t at = menu.find(entry);
    if (at == std::string::npos)
        return 0;
    const std::size_t bracket = menu.rfind(')', at);
    if (bracket == std::string::npos || bracket == 0)
        return 0;
    const char digit = menu[bracket - 1];
    return digit >= '0' && digit <= '9' ? static_cast<std::uint8_t>(digit - '0') : 0;
}
}  // namespace

void ReadMenuOptions() {
    auto& meridan = g.menus.meridan;
    const std::string& menu = g.menus.SerialText;
    meridan.UsbReceiveOption = OptionDigitOf(menu, "Receive new USB");
    meridan.QrxReceiveOption = OptionDigitOf(menu, "Receive new QRX");
    meridan.UsbPresent = meridan.UsbReceiveOption != 0;
    meridan.QrxPresent = meridan.QrxReceiveOption != 0;
}

}  // namespace rompush
