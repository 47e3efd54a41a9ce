// Recognising a serial-menu product by the text it sends when it powers up.
#pragma once

namespace rompush {

void CheckSerialBanner();
void RestoreInfoLayout();

}  // namespace rompush
