#include "hexfile/hex_file_dialog.h"

#include "core/state.h"
#include "platform/platform.h"

namespace rompush {

std::string ChooseHexFile(const std::string& title) {
    platform::FileDialogRequest request;
    request.fileName = "*.hex";
    request.title = title;
    request.filter = "Hex Files (*.hex)|*.hex|All Files (*.*)|*.*";
    request.initDir = g.port.HexDir;
    const std::string path = platform::Current().dialogs->ShowOpen(request);
    // The dialog answers with the name it was given when cancelled.
    return path == request.fileName ? std::string() : path;
}

}  // namespace rompush
