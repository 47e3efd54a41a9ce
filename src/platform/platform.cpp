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
