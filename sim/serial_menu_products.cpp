#include "sim/serial_menu_products.h"

#include <functional>
#include <utility>

#include "sim/announcing_product.h"
#include "sim/crossfield_product.h"
#include "sim/kvt_product.h"
#include "sim/meridan_product.h"

namespace rompush::sim {

namespace {
using Maker = std::function<std::shared_ptr<SerialMenuProduct>(
    const std::map<std::string, std::string>& options, std::string& error)>;

// One entry per simulated product.
const std::vector<std::pair<std::string, Maker>>& Makers() {
    static const std::vector<std::pair<std::string, Maker>> makers = {
        {"meridan",
         [](const auto& options, std::string& error) -> std::shared_ptr<SerialMenuProduct> {
             MeridanOptions parsed;
             if (!ParseMeridanOptions(options, parsed, error))
                 return nullptr;
             return std::make_shared<MeridanProduct>(parsed);
         }},
        {"announcer", MakeAnnouncer},
        {"crossfield", MakeCrossfield},
        {"kvt", MakeKvtProduct},
    };
    return makers;
}
}  // namespace

std::shared_ptr<SerialMenuProduct> MakeSerialMenuProduct(
    const std::string& name, const std::map<std::string, std::string>& options,
    std::string& error) {
    for (const auto& [known, make] : Makers()) {
        if (known == name)
            return make(options, error);
    }
    error = "unknown product " + name;
    return nullptr;
}

std::vector<std::string> SerialMenuProductNames() {
    std::vector<std::string> names;
    for (const auto& entry : Makers())
        names.push_back(entry.first);
    return names;
}

}  // namespace rompush::sim
