// The dialog of LOAD START CPU: the Crossfield's starting computer number in a text box, a
// message line under it for a number that is not valid or was rounded, OK and Cancel. The
// buttons only set the flags StartCpuOk, StartCpuDone and StartCpuCancelled, which the setup
// operation waits on.
#pragma once

#include "ui/controls.h"

namespace rompush::ui {

struct FrmStartCpu : Form {
    FrmStartCpu();

    Label lblStartCpu{"lblStartCpu"};
    TextBox txtStartCpu{"txtStartCpu"};
    Label lblRoundMsg{"lblRoundMsg"};
    CommandButton btnOK{"btnOK"};
    CommandButton btnCancel{"btnCancel"};

    std::vector<Control*> Controls() override;
};

// Shows the dialog with the number, the message line hidden, and wires its buttons.
void frmStartCpu_Show(const std::string& startCpu);
void frmStartCpu_Close();
void frmStartCpu_btnOK_Click();
// Cancel, and the window manager's close button.
void frmStartCpu_btnCancel_Click();

}  // namespace rompush::ui
