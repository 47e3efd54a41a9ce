#include "platform/platform.h"

namespace rompush::platform {

namespace {
Services& Installed() {
    static Services services;
    return services;
}
}  // namespace

void Install(const Services& services) {
    Installed() = services;
}

const Services& Current() {
    return Installed();
}

}  // namespace rompush::platform

namespace rompush::platform {

std::string PortDescription::Summary() const {
    std::string what;
    auto add = [&what](const std::string& text, const char* separator) {
        if (text.empty())
            return;
        if (!what.empty())
            what += separator;
        what += text;
    };
    add(manufacturer, "");
    add(product, " ");
    if (!serial.empty())
        add("serial " + serial, ", ");
    if (!vendorId.empty())
        add("(" + vendorId + ":" + productId + ")", " ");
    std::string line = device;
    if (!what.empty())
        line += "  " + what;
    if (!byId.empty())
        line += "  " + byId;
    return line;
}

}  // namespace rompush::platform
