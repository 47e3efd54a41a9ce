#include "ui/frm_start_cpu.h"

#include <string>

#include "core/state.h"

namespace rompush::ui {

FrmStartCpu::FrmStartCpu() : Form("frmStartCpu") {
    Caption = "Load Start CPU";
    Width = 4200;
    Height = 2370;
    lblStartCpu.Caption = "Starting computer number (1, 5, 9, 13, ...)";
    lblStartCpu.Move(240, 240, 3720, 255);
    txtStartCpu.Move(240, 540, 1215, 315);
    lblRoundMsg.Move(1560, 540, 2400, 315);
    lblRoundMsg.Visible = false;
    btnOK.Caption = "OK";
    btnOK.Move(840, 1200, 1095, 375);
    btnCancel.Caption = "Cancel";
    btnCancel.Move(2160, 1200, 1095, 375);
}

std::vector<Control*> FrmStartCpu::Controls() {
    return {&lblStartCpu, &txtStartCpu, &lblRoundMsg, &btnOK, &btnCancel};
}

void frmStartCpu_Show(const std::string& startCpu) {
    auto& d = g.forms->frmStartCpu;
    d.lblRoundMsg.Visible = false;
    d.txtStartCpu.Text = startCpu;
    d.txtStartCpu.SelStart = static_cast<int>(startCpu.size());
    d.btnOK.MouseUp = frmStartCpu_btnOK_Click;
    d.btnCancel.MouseUp = frmStartCpu_btnCancel_Click;
    d.Unload = frmStartCpu_btnCancel_Click;
    d.Enabled = true;
    d.Visible = true;
    d.SetFocus(d.txtStartCpu);
}

void frmStartCpu_Close() {
    g.forms->frmStartCpu.Visible = false;
}

void frmStartCpu_btnOK_Click() {
    g.menus.cfx.StartCpuOk = true;
}

void frmStartCpu_btnCancel_Click() {
    g.menus.cfx.StartCpuDone = true;
    g.menus.cfx.StartCpuCancelled = true;
}

}  // namespace rompush::ui
