#include "menus/meridan.h"

namespace rompush {

// Placeholder until the product's operations are built.
void MeridanDetect() {}

}  // namespace rompush
