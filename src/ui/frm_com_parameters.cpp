#include "ui/frm_com_parameters.h"

#include "commands/port_selection.h"
#include "core/state.h"
#include "core/text.h"
#include "serial/comm.h"
#include "ui/main_window.h"

namespace rompush::ui {

FrmComParameters::FrmComParameters() : Form("frmComParameters") {
    Caption = "Parameters for all COM ports";
    Width = 7200;
    const int top = PlaceCaptionedLists({{lblBaud, cboBaud, "Baud Rate:"},
                                         {lblDataBits, cboDataBits, "Data Bits:"},
                                         {lblParity, cboParity, "Parity:"},
                                         {lblStopBits, cboStopBits, "Stop Bits:"},
                                         {lblFlowControl, cboFlowControl, "Flow Control:"}},
                                        240, 1500, 1860, 1455, 1);
    lblMaxComPorts.Caption = "MAX COM PORTS:";
    lblMaxComPorts.Alignment = 1;
    lblMaxComPorts.Move(240, top + 45, 1500, 255);
    txtMaxComPorts.Move(1860, top, 495, 315);
    lblMaxComPortsNote.Caption = "(Number of serial COM ports to search at startup.)";
    lblMaxComPortsNote.Move(240, top + 360, 3960, 255);
    btnDefaults.Caption = "Defaults";
    btnDefaults.Move(3480, 240, 855, 375);
    // The operator with several adapters sees which COM number is which.
    lblPorts.Move(240, top + 720, Width - 480, 1455);
    btnOK.Caption = "OK";
    btnOK.Move(3480, lblPorts.Top + lblPorts.Height + 120, 855, 375);
    Height = btnOK.Top + btnOK.Height + 525;
}

std::vector<Control*> FrmComParameters::Controls() {
    return {&lblBaud,        &cboBaud,        &lblDataBits,        &cboDataBits,    &lblParity,
            &cboParity,      &lblStopBits,    &cboStopBits,        &lblFlowControl, &cboFlowControl,
            &lblMaxComPorts, &txtMaxComPorts, &lblMaxComPortsNote, &lblPorts,       &btnDefaults,
            &btnOK};
}

void frmComParameters_Load() {
    auto& d = g.forms->frmComParameters;
    d.Loaded = true;
    auto fill = [](ComboBox& list, std::initializer_list<const char*> items, int position) {
        list.Clear();
        for (const char* item : items)
            list.AddItem(item);
        list.ListIndex = position;
    };
    fill(d.cboDataBits, {"7", "8"}, kDefaultDataBitsIndex);
    fill(d.cboStopBits, {"1", "2"}, kDefaultStopBitsIndex);
    fill(d.cboParity, {"Even", "Odd", "None"}, kDefaultParityIndex);
    fill(d.cboBaud, {"300", "1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"},
         kDefaultBaudIndex);
    fill(d.cboFlowControl, {"Xon/Xoff", "Hardware", "None"}, kDefaultFlowIndex);
    for (ComboBox* list :
         {&d.cboBaud, &d.cboDataBits, &d.cboParity, &d.cboStopBits, &d.cboFlowControl}) {
        list->LostFocus = frmComParameters_ListValidate;
        list->Click = nullptr;
    }
    d.txtMaxComPorts.Change = frmComParameters_txtMaxComPorts_Change;
    d.btnDefaults.MouseUp = frmComParameters_btnDefaults_Click;
    d.btnOK.MouseUp = frmComParameters_btnOK_Click;
    d.Unload = frmComParameters_Unload;
}

namespace {
FrmComParameters& Dialog() {
    return g.forms->frmComParameters;
}

bool AtDefaults() {
    auto& d = Dialog();
    return d.cboDataBits.ListIndex == kDefaultDataBitsIndex &&
           d.cboStopBits.ListIndex == kDefaultStopBitsIndex &&
           d.cboParity.ListIndex == kDefaultParityIndex &&
           d.cboBaud.ListIndex == kDefaultBaudIndex &&
           d.cboFlowControl.ListIndex == kDefaultFlowIndex;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Closing the dialog gives the main window back to the operator.
void CloseDialog() {
    UnloadDialog(Dialog());
    frmUI().Enabled = true;
}
}  // namespace

void SelectDefaultPositions() {
    auto& d = frmComParameters();
    d.cboDataBits.ListIndex = kDefaultDataBitsIndex;
    d.cboStopBits.ListIndex = kDefaultStopBitsIndex;
    d.cboParity.ListIndex = kDefaultParityIndex;
    d.cboBaud.ListIndex = kDefaultBaudIndex;
    d.cboFlowControl.ListIndex = kDefaultFlowIndex;
}

void SelectSavedPositions() {
    auto& d = frmComParameters();
    d.cboBaud.ListIndex = g.port.SavedBaudIndex;
    d.cboDataBits.ListIndex = g.port.SavedDataBitsIndex;
    d.cboFlowControl.ListIndex = g.port.SavedFlowIndex;
    d.cboParity.ListIndex = g.port.SavedParityIndex;
    d.cboStopBits.ListIndex = g.port.SavedStopBitsIndex;
}

void SaveListPositions() {
    auto& d = frmComParameters();
    g.port.SavedBaudIndex = static_cast<std::uint8_t>(d.cboBaud.ListIndex);
    g.port.SavedDataBitsIndex = static_cast<std::uint8_t>(d.cboDataBits.ListIndex);
    g.port.SavedFlowIndex = static_cast<std::uint8_t>(d.cboFlowControl.ListIndex);
    g.port.SavedParityIndex = static_cast<std::uint8_t>(d.cboParity.ListIndex);
    g.port.SavedStopBitsIndex = static_cast<std::uint8_t>(d.cboStopBits.ListIndex);
}

void frmComParameters_btnDefaults_Click() {
    SelectDefaultPositions();
    Dialog().btnDefaults.Enabled = false;
}

void frmComParameters_ListValidate() {
    Dialog().btnDefaults.Enabled = !AtDefaults();
}

void frmComParameters_txtMaxComPorts_Change() {
    auto& field = Dialog().txtMaxComPorts;
    const std::string text = field.Text;
    const std::string current = std::to_string(g.port.MaxComPorts);
    if (text.empty()) {
        field.Text = current;
        return;
    }
    // At most two digits: the first (when there are two or more characters) and the last.
    std::string kept;
    if (text.size() >= 2 && IsDigit(text.front()))
        kept += text.front();
    if (IsDigit(text.back()))
        kept += text.back();
    field.Text = kept.empty() ? current : kept;
}

void frmComParameters_btnOK_Click() {
    auto& d = Dialog();
    auto& ports = frmUI().cboPORT;
    bool portSetChanged = false;
    if (Val(d.txtMaxComPorts.Text) != g.port.MaxComPorts) {
        FindComPorts(false);
        g.port.BaudSetting = "115200";
        ports.SetListIndex(0);
        portSetChanged = true;
    }
    if (ports.ListIndex != ports.ListCount() - 1) {
        SaveListPositions();
        SetCommPort(g.port.CommPortNumber);
    } else {
        g.port.CommPortNumber = kPs2PortNumber;
    }
    CloseDialog();
    if (portSetChanged) {
        g.files.SelectedFileName = "";
        frmUI().btnHEXFILE.Caption = "SELECT HEX FILE";
        g.result.ErrorCode = 0;
        ButtonEnabler();
        DisplayError();
    }
}

void frmComParameters_Unload() {
    CloseDialog();
}

}  // namespace rompush::ui
