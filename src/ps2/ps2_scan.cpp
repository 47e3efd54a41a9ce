#include "ps2/ps2_scan.h"

#include "core/state.h"
#include "core/trace.h"
#include "hexfile/hex_validation.h"
#include "ps2/ps2_identify.h"
#include "ui/main_window.h"
#include "ui/notices.h"

namespace rompush {

void ScanPS2Port() {
    TraceScope trace("ScanPS2Port()");
    ui::ClearDevicePanels();
    ui::DisableAllButtons();
    g.dev.DeviceFound = false;
    std::string scanning = "Scanning PS/2 port...";
    scanning.resize(25, ' ');
    ui::ShowMsg(scanning, ui::colour::kButtonFace);

    if (ID_PS2_Device()) {
        ui::SetStatusPanel5("PS/2");
        ui::ShowMsg("", ui::colour::kButtonFace);
        ValidateHexFile(g.files.SelectedFileName, g.files.SelectedFilePath);
    } else if (g.result.ErrorCode == 1) {
        // A PC without a keyboard controller is said as such: no device can be behind it.
        ui::ShowNotice(g.ps2.NoController ? ui::Notice::NoKeyboardController
                                          : ui::Notice::ProductNotFound);
        ui::SetStatusPanel5("");
        ui::SetStatusPanel4("");
        ui::SetStatusPanel3("");
        ui::DisableAllButtons();
    } else if (g.result.ErrorCode == 1101 || g.result.ErrorCode == 6001) {
        // A non-flashable device is said here too: its PROGRAM stays disabled, so the text
        // would otherwise never be seen.
        ui::DisplayError();
    }
    ui::ButtonEnabler();
}

}  // namespace rompush
