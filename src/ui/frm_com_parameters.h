// The COM port parameters dialog model and its handlers.
#pragma once

#include "ui/controls.h"

namespace rompush::ui {

struct FrmComParameters : Form {
    FrmComParameters();

    ComboBox cboBaud{"cboBaud"};
    ComboBox cboDataBits{"cboDataBits"};
    ComboBox cboParity{"cboParity"};
    ComboBox cboStopBits{"cboStopBits"};
    ComboBox cboFlowControl{"cboFlowControl"};
    TextBox txtMaxComPorts{"txtMaxComPorts"};
    CommandButton btnDefaults{"btnDefaults"};
    CommandButton btnOK{"btnOK"};
    Label lblBaud{"lblBaud"};
    Label lblDataBits{"lblDataBits"};
    Label lblParity{"lblParity"};
    Label lblStopBits{"lblStopBits"};
    Label lblFlowControl{"lblFlowControl"};
    Label lblMaxComPorts{"lblMaxComPorts"};
    Label lblMaxComPortsNote{"lblMaxComPortsNote"};
    // Every port of the port list with what its device is, and the devices that did not open.
    Label lblPorts{"lblPorts"};

    bool Loaded = false;

    std::vector<Control*> Controls() override;
};

// Default list positions: baud 6 ("38400"), data bits 1 ("8"), flow control 2 ("None"),
// parity 2 ("None"), stop bits 0 ("1").
constexpr int kDefaultBaudIndex = 6;
constexpr int kDefaultDataBitsIndex = 1;
constexpr int kDefaultFlowIndex = 2;
constexpr int kDefaultParityIndex = 2;
constexpr int kDefaultStopBitsIndex = 0;

// The dialog's lists at their default positions.
void SelectDefaultPositions();
// The dialog's lists back at the positions the operator saved (SavedBaudIndex, ...).
void SelectSavedPositions();
// The dialog's list positions become the saved ones.
void SaveListPositions();

// Handlers of the dialog.
void frmComParameters_Load();  // fills the lists (the dialog's lists exist from then on)
void frmComParameters_btnOK_Click();
void frmComParameters_btnDefaults_Click();
void frmComParameters_ListValidate();  // any list lost the focus
void frmComParameters_txtMaxComPorts_Change();
void frmComParameters_Unload();

}  // namespace rompush::ui
