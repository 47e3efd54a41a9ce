#include "menus/crossfield.h"

namespace rompush {

// Placeholder until the product's operations are built.
void CfxAt57600() {}
void CfxAt9600() {}

}  // namespace rompush
