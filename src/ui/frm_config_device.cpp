#include "ui/frm_config_device.h"

#include <string>

#include "core/state.h"

namespace rompush::ui {

namespace {

constexpr const char* kRates[] = {"30.0", "26.7", "24.0", "21.8", "20.0", "18.5", "17.1", "16.0",
                                  "15.0", "13.3", "12.0", "10.9", "10.0", "9.2",  "8.6",  "8.0",
                                  "7.5",  "6.7",  "6.0",  "5.5",  "5.0",  "4.6",  "4.3",  "4.0",
                                  "3.7",  "3.3",  "3.0",  "2.7",  "2.5",  "2.3",  "2.1",  "2.0"};
constexpr const char* kDelays[] = {"0.25", "0.50", "0.75", "1.00"};
constexpr const char* kMouseTypes[] = {"PS/2", "PS/2 WHEEL", "SERIAL", "PS/2 5-BUTTON"};

void Fill(ComboBox& list, int first, int last) {
    list.Clear();
    for (int n = first; n <= last; ++n)
        list.AddItem(std::to_string(n));
    list.ListIndex = 0;
}

template <std::size_t N>
void Fill(ComboBox& list, const char* const (&items)[N]) {
    list.Clear();
    for (const char* item : items)
        list.AddItem(item);
    list.ListIndex = 0;
}

FrmConfigDevice& Dialog() {
    return g.forms->frmConfigDevice;
}

FrmSaveConfig& Notice() {
    return g.forms->frmSaveConfig;
}

}  // namespace

FrmConfigDevice::FrmConfigDevice() : Form("frmConfigDevice") {
    Caption = "Configure Device";
    Width = 5655;
    Height = 5280;
    PlaceCaptionedLists({{lblScanTime, cboScanTime, "Scan Time Interval (1 - 15 seconds)"},
                         {lblMaxPorts, cboMaxPorts, "Max Ports Enabled (2 - 4)"},
                         {lblTypeRate, cboTypeRate, "Typematic Rate (Chars/sec)"},
                         {lblTypeDelay, cboTypeDelay, "Typematic Delay (seconds)"},
                         {lblVideoBlank, cboVideoBlank, "Video Blank Interval (0-42 minutes)"}},
                        240, 3135, 3480, 1095, 0);
    lblKbMode.Caption = "Keyboard Mode (1 - 3)";
    lblKbMode.Move(1200, 2460, 1935, 255);
    lblMsType.Caption = "Mouse Type";
    lblMsType.Move(3480, 2460, 1815, 255);
    for (int port = 0; port < 4; ++port) {
        const int y = 2760 + 420 * port;
        PortLabels()[port]->Caption = "Port " + std::to_string(port + 1);
        PortLabels()[port]->Move(240, y + 45, 855, 255);
        KbLists()[port]->Move(1200, y, 1095, 315);
        MsLists()[port]->Move(3480, y, 1815, 315);
    }
    btnOK.Caption = "OK";
    btnOK.Move(1920, 4560, 1095, 375);
    btnCANCEL.Caption = "Cancel";
    btnCANCEL.Move(3240, 4560, 1095, 375);
}

std::vector<Control*> FrmConfigDevice::Controls() {
    return {&lblScanTime, &cboScanTime,  &lblMaxPorts,  &cboMaxPorts,   &lblTypeRate,
            &cboTypeRate, &lblTypeDelay, &cboTypeDelay, &lblVideoBlank, &cboVideoBlank,
            &lblKbMode,   &lblMsType,    &lblPort1,     &cboPort1Kb,    &cboPort1Ms,
            &lblPort2,    &cboPort2Kb,   &cboPort2Ms,   &lblPort3,      &cboPort3Kb,
            &cboPort3Ms,  &lblPort4,     &cboPort4Kb,   &cboPort4Ms,    &btnOK,
            &btnCANCEL};
}

FrmSaveConfig::FrmSaveConfig() : Form("frmSaveConfig") {
    Width = 5295;
    Height = 2175;
    lblConfigStatus.Alignment = 2;
    lblConfigStatus.Move(240, 240, 4815, 1095);
    btnCONTINUE.Caption = "CONTINUE";
    btnCONTINUE.Move(1920, 1560, 1455, 375);
}

std::vector<Control*> FrmSaveConfig::Controls() {
    return {&lblConfigStatus, &btnCONTINUE};
}

void frmConfigDevice_Load() {
    auto& d = Dialog();
    d.Loaded = true;
    d.Enabled = true;
    Fill(d.cboScanTime, 1, 15);
    const bool orbitMini = g.dev.DevLetter == "V";
    Fill(d.cboMaxPorts, 2, orbitMini ? 4 : 2);
    d.cboMaxPorts.Visible = orbitMini;
    d.lblMaxPorts.Visible = orbitMini;
    Fill(d.cboTypeRate, kRates);
    Fill(d.cboTypeDelay, kDelays);
    for (int port = 0; port < 4; ++port) {
        Fill(*d.KbLists()[port], 1, 3);
        Fill(*d.MsLists()[port], kMouseTypes);
    }
    Fill(d.cboVideoBlank, 0, 42);
    d.cboMaxPorts.Click = frmConfigDevice_cboMaxPorts_Click;
    d.btnOK.MouseUp = frmConfigDevice_btnOK_Click;
    d.btnCANCEL.MouseUp = frmConfigDevice_btnCANCEL_Click;
    d.Unload = frmConfigDevice_QueryUnload;
}

void frmConfigDevice_Unload() {
    auto& d = Dialog();
    UnloadDialog(d);
    for (Control* control : d.Controls()) {
        if (control->Kind == ControlKind::ComboBox)
            static_cast<ComboBox*>(control)->Clear();
    }
}

void frmSaveConfig_Load() {
    auto& n = Notice();
    n.Loaded = true;
    n.Caption = "RomPush Utility";
    n.lblConfigStatus.Caption = "Saving configuration data...";
    n.lblConfigStatus.Font = FontSpec{};
    n.btnCONTINUE.Visible = true;
    n.btnCONTINUE.MouseUp = frmSaveConfig_btnCONTINUE_Click;
    n.Unload = frmSaveConfig_QueryUnload;
}

void frmSaveConfig_Unload() {
    UnloadDialog(Notice());
}

void frmConfigDevice_btnOK_Click() {
    g.ps2.ConfigSave = true;
    g.ps2.ConfigContinue = true;
}

void frmConfigDevice_btnCANCEL_Click() {
    g.ps2.ConfigSave = false;
    g.ps2.ConfigContinue = true;
}

void frmSaveConfig_btnCONTINUE_Click() {
    g.ps2.ConfigContinue = true;
}

void frmConfigDevice_QueryUnload() {
    frmConfigDevice_btnCANCEL_Click();
}

void frmSaveConfig_QueryUnload() {
    frmSaveConfig_btnCONTINUE_Click();
}

void ApplyPortCountRule(int maxPortsIndex) {
    auto& d = Dialog();
    d.lblPort3.Enabled = d.cboPort3Kb.Enabled = d.cboPort3Ms.Enabled = maxPortsIndex >= 1;
    d.lblPort4.Enabled = d.cboPort4Kb.Enabled = d.cboPort4Ms.Enabled = maxPortsIndex >= 2;
}

void frmConfigDevice_cboMaxPorts_Click() {
    ApplyPortCountRule(Dialog().cboMaxPorts.ListIndex);
}

}  // namespace rompush::ui
