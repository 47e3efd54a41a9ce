#include "ui/frm_com_parameters.h"

#include "core/state.h"

namespace rompush::ui {

FrmComParameters::FrmComParameters() : Form("frmComParameters") {}

std::vector<Control*> FrmComParameters::Controls() {
    return {&lblBaud,       &cboBaud,        &lblDataBits,    &cboDataBits,
            &lblParity,     &cboParity,      &lblStopBits,    &cboStopBits,
            &lblFlowControl, &cboFlowControl, &lblMaxComPorts, &txtMaxComPorts,
            &lblMaxComPortsNote, &btnDefaults, &btnOK};
}

void frmComParameters_Load() {
    auto& d = g.forms->frmComParameters;
    d.Loaded = true;
    auto fill = [](ComboBox& list, std::initializer_list<const char*> items, int position) {
        list.Clear();
        for (const char* item : items) list.AddItem(item);
        list.ListIndex = position;
    };
    fill(d.cboDataBits, {"7", "8"}, kDefaultDataBitsIndex);
    fill(d.cboStopBits, {"1", "2"}, kDefaultStopBitsIndex);
    fill(d.cboParity, {"Even", "Odd", "None"}, kDefaultParityIndex);
    fill(d.cboBaud, {"300", "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"},
         kDefaultBaudIndex);
    fill(d.cboFlowControl, {"Xon/Xoff", "Hardware", "None"}, kDefaultFlowIndex);
}

void frmComParameters_btnOK_Click() {}
void frmComParameters_btnDefaults_Click() {}
void frmComParameters_ListValidate() {}
void frmComParameters_txtMaxComPorts_Change() {}
void frmComParameters_Unload() { g.forms->frmComParameters.Loaded = false; }

}  // namespace rompush::ui
