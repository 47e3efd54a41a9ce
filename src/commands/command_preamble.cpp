// How SCAN, ERASE, PROGRAM and VERIFY begin: the port reopened with the operator's saved COM
// parameters, the window locked and the previous error taken off the screen; and how a
// command hands the loop back.
#include <string>

#include "commands/commands.h"
#include "commands/port_selection.h"
#include "core/state.h"
#include "platform/platform.h"
#include "serial/comm.h"
#include "ui/main_window.h"

namespace rompush {

bool KeyboardPortSelected() {
    return frmUI().cboPORT.Text() == "PS/2";
}

std::uint8_t SelectedPortNumber() {
    return static_cast<std::uint8_t>(PortNumberOfEntry(frmUI().cboPORT.Text()));
}

void CommandPreamble(PreambleInput input) {
    if (!KeyboardPortSelected()) {
        // The dialog's lists go back to the positions the operator saved; a command may have
        // left the port at another baud rate.
        ui::SelectSavedPositions();
        g.port.BaudSetting = frmComParameters().cboBaud.Text() + ",";
        SetCommPort(SelectedPortNumber());
    }
    platform::Current().desktop->SetMousePointer(platform::MousePointer::Hourglass);
    ui::DisableAllButtons();
    if (input == PreambleInput::Clear)
        ClearInBuffer();
    g.result.ErrorCode = 0;
    ui::DisplayError();
}

void EndCommand(std::uint8_t code) {
    if (g.cmd.UiCommand == code)
        g.cmd.UiCommand = 0;
}

}  // namespace rompush
