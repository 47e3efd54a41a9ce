// Recognising a serial-menu product by the text it sends when it powers up.
#pragma once

#include <string>

#include "menus/serial_console.h"

namespace rompush {

// Listens on the selected COM port for a product announcing itself. More than 50 bytes
// waiting are read into SerialText and matched against the products' banners; the product
// recognised is then served by its entry procedure before this returns. Shorter bursts get
// one second to grow and are then thrown away; a single byte is left alone.
void CheckSerialBanner();
// How many "?" the text holds.
int CountQueryMarks(const std::string& text);

}  // namespace rompush
