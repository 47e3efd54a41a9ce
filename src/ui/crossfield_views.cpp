#include "ui/crossfield_views.h"

#include "core/state.h"
#include "ui/main_window.h"

namespace rompush::ui {

namespace {
const FontSpec kDiagnosticsFont{"@SimSun", 10, false};
const FontSpec kInfoFont{"Times New Roman", 10, true};

void ShowBox(TextBox& box, int top, int height, const std::string& text, const FontSpec& font) {
    box.Move(90, top, 6255, height);
    box.Font = font;
    box.Text = text;
    box.SelStart = static_cast<int>(text.size());
    box.Visible = true;
}

void ShowButton(CommandButton& button, const std::string& caption, int left, int width) {
    button.Caption = caption;
    button.Move(left, 5250, width, 375);
    button.Enabled = true;
    button.Visible = true;
}
}  // namespace

void ShowStepRows(bool visible) {
    FrmUI& f = frmUI();
    for (Control* control :
         {static_cast<Control*>(&f.fraERASE), static_cast<Control*>(&f.lblERASE),
          static_cast<Control*>(&f.fraVERIFY), static_cast<Control*>(&f.lblVERIFY),
          static_cast<Control*>(&f.fraPROGRAM), static_cast<Control*>(&f.lblPROGRAM),
          static_cast<Control*>(&f.btnPROGRAM), static_cast<Control*>(&f.btnMainCpy),
          static_cast<Control*>(&f.btnKernelCpy), static_cast<Control*>(&f.btnDefaults),
          static_cast<Control*>(&f.btnStartCpu)}) {
        control->Visible = visible;
    }
    f.btnERASE.Visible = false;
    f.btnVERIFY.Visible = false;
}

void ShowCrossfieldButtons(const std::string& startCpu) {
    FrmUI& f = frmUI();
    HideMenuControls();
    f.txtSerialDisplay.Visible = false;
    ShowStepRows(true);
    f.btnSCAN.Caption = "RESTART / CHANGE BAUD";
    f.cboPORT.Visible = false;
    f.btnCommPort.Visible = false;
    f.btnStartCpu.Caption = "LOAD START CPU ... " + startCpu;
    f.btnPROGRAM.Caption = "PROGRAM";
    f.btnShowDiagnostic.Caption = "Show Serial console";
    f.btnShowDiagnostic.Move(240, 1660, 2655, 330);
    f.btnShowDiagnostic.Visible = true;
}

void ShowCrossfieldReading() {
    FrmUI& f = frmUI();
    HideMenuControls();
    ShowStepRows(false);
    f.btnShowDiagnostic.Visible = false;
    ShowBox(f.txtSwtDetected, 3070, 400, "Crossfield Detected\r\n", kInfoFont);
    ShowBox(f.txtInfo, 3470, 1700, "Reading serial data...", FontSpec{});
    // The operator may leave while the Crossfield is being read.
    ShowButton(f.btnCANCEL, "Cancel", 4530, 1815);
}

void ShowCrossfieldDiagnostics(const std::string& text, const std::string& note) {
    FrmUI& f = frmUI();
    HideMenuControls();
    ShowStepRows(false);
    const int noteHeight = note.empty() ? 0 : 400;
    ShowBox(f.txtSwtDetected, 1000, 4170 - noteHeight, text, kDiagnosticsFont);
    if (!note.empty())
        ShowBox(f.txtNote, 5170 - noteHeight, noteHeight, note, FontSpec{});
    ShowButton(f.btnShowDiagnostic, "Show Serial console", 90, 2160);
    ShowButton(f.btnCANCEL, "CONTINUE", 4530, 1815);
}

void ShowBaudChoice(const std::string& powerUpBaud) {
    FrmUI& f = frmUI();
    auto& cfx = g.menus.cfx;
    HideMenuControls();
    ShowStepRows(false);
    f.btnShowDiagnostic.Visible = false;
    ShowBox(f.txtSwtDetected, 3070, 400, "Select serial baud rate and restart Crossfield.",
            kInfoFont);
    ShowBox(f.txtInfo, 3470, 500,
            "Serial port at " + powerUpBaud + " baud at last Crossfield powerup.", FontSpec{});
    ShowBox(f.txtNote, 3970, 1200, "Select baud rate used after next Crossfield powerup.",
            FontSpec{});
    cfx.NewBaud = powerUpBaud;
    f.optBaud9600.Move(840, 4450, 1500, 300);
    f.optBaud57600.Move(2640, 4450, 1500, 300);
    f.optBaud9600.Value = powerUpBaud == "9600";
    f.optBaud57600.Value = powerUpBaud != "9600";
    for (OptionButton* option : {&f.optBaud9600, &f.optBaud57600}) {
        option->BackColor = colour::kWindowBackground;
        option->Enabled = true;
        option->Visible = true;
    }
    f.optBaud9600.Click = optBaud9600_Click;
    f.optBaud57600.Click = optBaud57600_Click;
    f.btnRestartCFX.MouseUp = btnRestartCFX_MouseUp;
    ShowButton(f.btnRestartCFX, "Restart Crossfield", 2340, 2100);
    ShowButton(f.btnCANCEL, "Cancel", 4530, 1815);
}

void optBaud9600_Click() {
    g.menus.cfx.NewBaud = "9600";
    frmUI().optBaud9600.Value = true;
    frmUI().optBaud57600.Value = false;
}

void optBaud57600_Click() {
    g.menus.cfx.NewBaud = "57600";
    frmUI().optBaud57600.Value = true;
    frmUI().optBaud9600.Value = false;
}

void btnRestartCFX_MouseUp() {
    g.menus.cfx.RestartRequested = true;
}

}  // namespace rompush::ui
