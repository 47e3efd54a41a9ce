// The simulated serial-menu products by name, for tests and rompush-devsim.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/serial_menu_product.h"

namespace rompush::sim {

// Makes the product of that name ("kvt", "crossfield", "meridan") with its options
// (name=value, as each product documents them). nullptr with the reason in `error` when the
// name or an option is unknown.
std::shared_ptr<SerialMenuProduct> MakeSerialMenuProduct(
    const std::string& name, const std::map<std::string, std::string>& options, std::string& error);

// The product names MakeSerialMenuProduct knows.
std::vector<std::string> SerialMenuProductNames();

}  // namespace rompush::sim
