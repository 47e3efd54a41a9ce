#include "hexfile/hex_validation.h"

#include "core/state.h"
#include "core/trace.h"

namespace rompush {

bool ValidateHexFile(const std::string& fileName, const std::string& filePath) {
    TraceScope trace("ValidateHexFile()");
    auto& button = frmUI().btnHEXFILE;
    if (fileName.empty()) {
        button.Caption = "SELECT HEX FILE";
        return false;
    }
    button.Caption = fileName;
    return CkHexFile(filePath);
}

// Reading and checking the records arrives with the HEX file commands; until then no file can
// be chosen, so no file is ever taken as valid.
bool CkHexFile(const std::string& filePath) {
    TraceScope trace("CkHexFile( " + filePath + " )");
    return false;
}

}  // namespace rompush
