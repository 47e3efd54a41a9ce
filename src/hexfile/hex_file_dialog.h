// The operator's choice of a HEX file: the open-file dialog with that title, showing HEX files
// first and opening in the folder of the last HEX file.
#pragma once

#include <string>

namespace rompush {

// The chosen file's path; "" when the operator cancelled.
std::string ChooseHexFile(const std::string& title);

}  // namespace rompush
