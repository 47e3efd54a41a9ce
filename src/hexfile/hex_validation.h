// Reading an Intel HEX file into the firmware image and checking it against the device.
#pragma once

#include <string>

namespace rompush {

bool ValidateHexFile(const std::string& fileName, const std::string& filePath);
bool CkHexFile(const std::string& filePath);

}  // namespace rompush
