#include "menus/serial_banner.h"

namespace rompush {

// Recognising the serial-menu products arrives with their operations; until then an idle pass
// of the command loop has nothing to listen for.
void CheckSerialBanner() {}

void RestoreInfoLayout() {}

}  // namespace rompush
