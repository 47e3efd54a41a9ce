#include "menus/meridan.h"

namespace rompush {

// Placeholder until the product's operations are built.
void MeridanDetect() {}
void ReadMenuOptions() {}

}  // namespace rompush
