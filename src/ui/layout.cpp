// What the main window looks like once it is loaded: logo strip, the five step rows, the
// banner and the progress bar inside the five-panel status bar.
#include <string>

#include "core/state.h"
#include "core/trace.h"
#include "ui/main_window.h"

namespace rompush::ui {

namespace {

void ShowFrame(Frame& frame, int left, int top, int width, int height) {
    frame.Move(left, top, width, height);
    frame.BackColor = colour::kNavy;
    frame.Visible = true;
}

void ShowLabel(Label& label, int left, int top, int width, int height) {
    label.Move(left, top, width, height);
    label.ForeColor = colour::kWhite;
    label.BackColor = colour::kNavy;
    label.Visible = true;
}

// The SCAN and HEX FILE lines as drawn at load, across the whole label.
void ShowRowLine(Line& line) {
    line.X1 = 2880;
    line.X2 = 6000;
    line.Y1 = 480;
    line.Y2 = 480;
    line.BackColor = colour::kWhite;
    line.Visible = true;
}

// Panel 1 takes what the fixed panels leave; it holds the banner.
void SetUpStatusPanels() {
    auto& panels = frmUI().StatusBar1.Panels;
    panels.resize(1);
    panels[0].Alignment = StatusPanel::Align::Left;
    panels[0].Inset = true;
    panels[0].Width = 0;
    auto add = [&panels](StatusPanel::Align alignment, int width) {
        StatusPanel panel;
        panel.Alignment = alignment;
        panel.Width = width;
        panel.Inset = true;
        panels.push_back(panel);
    };
    add(StatusPanel::Align::Left, 1500);   // device name
    add(StatusPanel::Align::Centre, 900);  // device revision
    add(StatusPanel::Align::Centre, 900);  // bootloader revision
    add(StatusPanel::Align::Centre, 650);  // port
}

void SetUpProgressBar() {
    ProgressBar& bar = frmUI().ProgressBar1;
    bar.BarColor = 0x00CD00CD;  // RGB(205, 0, 205)
    bar.Min = 0;
    bar.Max = 10000;
    bar.Value = bar.Min;
}

}  // namespace

void HideMenuControls() {
    FrmUI& f = frmUI();
    for (Control* control :
         {static_cast<Control*>(&f.txtXBOOT), static_cast<Control*>(&f.txtSwtDetected),
          static_cast<Control*>(&f.txtInfo), static_cast<Control*>(&f.txtNote),
          static_cast<Control*>(&f.btnCANCEL), static_cast<Control*>(&f.optBaud9600),
          static_cast<Control*>(&f.optBaud57600), static_cast<Control*>(&f.btnRestartCFX),
          static_cast<Control*>(&f.pixSelectBaud)}) {
        control->Visible = false;
    }
}

void PlaceInStatusBar() {
    FrmUI& f = frmUI();
    const StatusBar& bar = f.StatusBar1;

    // The progress bar covers the two revision panels while an operation runs; the operation
    // shows it and hides it again. Panels not set up yet count with their load widths.
    const int kLoadWidths[] = {0, 1500, 900, 900, 650};
    int widths[5];
    for (std::size_t i = 0; i < 5; ++i) {
        widths[i] =
            i < bar.Panels.size() && bar.Panels[i].Width > 0 ? bar.Panels[i].Width : kLoadWidths[i];
    }
    const int panel1Width = bar.Width - (widths[1] + widths[2] + widths[3] + widths[4]);
    f.ProgressBar1.Move(panel1Width + widths[1] + 30, 30, widths[2] + widths[3] - 60, 270);
    f.ProgressBar1.Visible = false;

    // The banner sits over panel 1, at the left end of the status bar.
    f.frmPASS.Move(30, 30, 2350, 270);
    f.lblPASS.Move(60, 40, 2100, 200);
}

void frmUI_Load() {
    TraceScope trace("Form_Load()");
    FrmUI& f = frmUI();

    f.Caption = std::string(kProgramName) + " Utility " + kVersion;

    for (Control* control : f.Controls())
        control->Visible = false;
    f.StatusBar1.Visible = true;

    f.picLogo.Move(0, 5, 6480, 1050);
    f.picLogo.Picture = "tarn-logo.png";
    f.picLogo.Visible = true;
    ShowFrame(f.fraSCAN, 90, 1000, 6255, 1095);
    ShowFrame(f.fraHEXFILE, 90, 2100, 6255, 975);
    ShowFrame(f.fraERASE, 90, 3070, 6250, 855);
    ShowFrame(f.fraVERIFY, 90, 3910, 6255, 855);
    ShowFrame(f.fraPROGRAM, 90, 4770, 6255, 855);
    f.fraPROGRAM.ForeColor = colour::kWhite;
    ShowLabel(f.lblSCAN, 2880, 180, 3240, 800);
    ShowLabel(f.lblHEXFILE, 2880, 180, 3240, 650);
    ShowLabel(f.lblERASE, 2880, 240, 3240, 435);
    ShowRowLine(f.linSCAN);
    ShowRowLine(f.linHEXFILE);
    // VERIFY and PROGRAM descriptions sit where ERASE's does; the error display shows them.
    f.lblVERIFY.Move(2880, 240, 3240, 435);
    f.lblPROGRAM.Move(2880, 240, 3240, 435);

    DefaultUI();
    f.btnSCAN.Move(240, 1240, 2655, 375);
    f.btnCommPort.Move(720, 660, 1215, 330);
    f.cboPORT.Left = 1920;
    f.cboPORT.Top = 645;
    f.cboPORT.Width = 800;
    f.btnHEXFILE.Move(240, 2340, 2055, 615);
    f.btnERASE.Move(240, 3320, 2655, 495);
    f.btnVERIFY.Move(240, 4150, 2655, 495);
    f.btnPROGRAM.Move(240, 5010, 2655, 495);

    HideMenuControls();
    SetUpStatusPanels();
    SetUpProgressBar();
    PlaceInStatusBar();

    f.frmPASS.BackColor = colour::kButtonFace;
    f.lblPASS.BackColor = colour::kButtonFace;
    f.lblPASS.Visible = true;
    f.frmPASS.Visible = true;

    f.btnLASTUSED.Enabled = false;
    f.btnERASE.Enabled = false;
    f.btnVERIFY.Enabled = false;
    f.btnPROGRAM.Enabled = false;

    DisplayError();
    DefaultUI();
    // The title-bar button: an ordinary button at the right end of the logo strip.
    f.btnTitleBar.Caption = "Help|About";
    f.btnTitleBar.Move(FrmUI::kClientWidth - 1095 - 60, 60, 1095, 285);
    f.btnTitleBar.Visible = true;
    f.txtSerialDisplay.Visible = false;
}

}  // namespace rompush::ui
