// The Scan command's path for the keyboard port.
#pragma once

namespace rompush {

void ScanPS2Port();

}  // namespace rompush
