#include "menus/kvt.h"

namespace rompush {

// Placeholder until the product's operations are built.
void KVT_Boot() {}
void KvtMenu() {}

}  // namespace rompush
