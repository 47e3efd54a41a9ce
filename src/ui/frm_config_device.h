// The two windows of CONFIGURE DEVICE: the dialog "Configure Device" with the ten settings of
// an Orbit Tiny, Orbit Mini or Prisma as lists, and the notice that says a setting fell back to
// its default or that the settings are being saved. Their buttons only set the flags
// ConfigContinue and ConfigSave, which ConfigureDevice waits on.
#pragma once

#include <array>

#include "ui/controls.h"

namespace rompush::ui {

struct FrmConfigDevice : Form {
    FrmConfigDevice();

    Label lblScanTime{"lblScanTime"};
    ComboBox cboScanTime{"cboScanTime"};
    Label lblMaxPorts{"lblMaxPorts"};
    ComboBox cboMaxPorts{"cboMaxPorts"};
    Label lblTypeRate{"lblTypeRate"};
    ComboBox cboTypeRate{"cboTypeRate"};
    Label lblTypeDelay{"lblTypeDelay"};
    ComboBox cboTypeDelay{"cboTypeDelay"};
    Label lblVideoBlank{"lblVideoBlank"};
    ComboBox cboVideoBlank{"cboVideoBlank"};
    // Column headings of the port rows.
    Label lblKbMode{"lblKbMode"};
    Label lblMsType{"lblMsType"};
    Label lblPort1{"lblPort1"}, lblPort2{"lblPort2"}, lblPort3{"lblPort3"}, lblPort4{"lblPort4"};
    ComboBox cboPort1Kb{"cboPort1Kb"}, cboPort2Kb{"cboPort2Kb"};
    ComboBox cboPort3Kb{"cboPort3Kb"}, cboPort4Kb{"cboPort4Kb"};
    ComboBox cboPort1Ms{"cboPort1Ms"}, cboPort2Ms{"cboPort2Ms"};
    ComboBox cboPort3Ms{"cboPort3Ms"}, cboPort4Ms{"cboPort4Ms"};
    CommandButton btnOK{"btnOK"};
    CommandButton btnCANCEL{"btnCANCEL"};

    bool Loaded = false;

    // The port rows' lists and labels, port 1 first.
    std::array<ComboBox*, 4> KbLists() {
        return {&cboPort1Kb, &cboPort2Kb, &cboPort3Kb, &cboPort4Kb};
    }
    std::array<ComboBox*, 4> MsLists() {
        return {&cboPort1Ms, &cboPort2Ms, &cboPort3Ms, &cboPort4Ms};
    }
    std::array<Label*, 4> PortLabels() { return {&lblPort1, &lblPort2, &lblPort3, &lblPort4}; }

    std::vector<Control*> Controls() override;
};

struct FrmSaveConfig : Form {
    FrmSaveConfig();

    Label lblConfigStatus{"lblConfigStatus"};
    CommandButton btnCONTINUE{"btnCONTINUE"};

    bool Loaded = false;

    std::vector<Control*> Controls() override;
};

// Loading fills the lists (every list at its first entry; "Max Ports Enabled" offers 3 and 4
// ports and is shown only for an Orbit Mini) and wires the handlers. Unloading hides the window
// and empties its lists, so nothing of the device's settings stays behind.
void frmConfigDevice_Load();
void frmConfigDevice_Unload();
void frmSaveConfig_Load();
void frmSaveConfig_Unload();

// The buttons: OK saves, Cancel does not; both, and CONTINUE, end the wait they are shown for.
void frmConfigDevice_btnOK_Click();
void frmConfigDevice_btnCANCEL_Click();
void frmSaveConfig_btnCONTINUE_Click();
// The window manager's close button: Cancel for the dialog, CONTINUE for the notice.
void frmConfigDevice_QueryUnload();
void frmSaveConfig_QueryUnload();

// The port-count rule: index 0 of cboMaxPorts (2 ports) disables the rows of ports 3 and 4,
// index 1 (3 ports) only the row of port 4, index 2 (4 ports) none.
void ApplyPortCountRule(int maxPortsIndex);
void frmConfigDevice_cboMaxPorts_Click();

}  // namespace rompush::ui
