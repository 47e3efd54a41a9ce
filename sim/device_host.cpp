#include "sim/device_host.h"

#include <cstdlib>
#include <sstream>
#include <vector>

namespace rompush::sim {

namespace {
std::vector<std::string> Fields(const std::string& settings) {
    std::vector<std::string> fields;
    std::stringstream in(settings);
    std::string field;
    while (std::getline(in, field, ','))
        fields.push_back(field);
    return fields;
}
}  // namespace

int BaudOf(const std::string& settings) {
    const auto fields = Fields(settings);
    return fields.empty() ? 0 : std::atoi(fields[0].c_str());
}

std::int64_t ByteTimeUs(const std::string& settings) {
    const auto fields = Fields(settings);
    const int baud = BaudOf(settings);
    if (baud <= 0)
        return 0;
    int bits = 1;  // start bit
    bits += fields.size() > 2 ? std::atoi(fields[2].c_str()) : 8;
    if (fields.size() > 1 && !fields[1].empty() && fields[1] != "N")
        bits += 1;
    bits += fields.size() > 3 ? std::atoi(fields[3].c_str()) : 1;
    return (static_cast<std::int64_t>(bits) * 1000000 + baud - 1) / baud;
}

}  // namespace rompush::sim
