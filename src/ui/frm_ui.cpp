#include "ui/frm_ui.h"

namespace rompush::ui {

FrmUI::FrmUI() : Form("frmUI") {
    Width = kClientWidth;
    Height = kClientHeight;
    for (Control* c : {static_cast<Control*>(&lblSCAN), static_cast<Control*>(&linSCAN),
                       static_cast<Control*>(&cboPORT), static_cast<Control*>(&btnCommPort)}) {
        c->Container = &fraSCAN;
    }
    for (Control* c : {static_cast<Control*>(&lblHEXFILE), static_cast<Control*>(&linHEXFILE),
                       static_cast<Control*>(&btnLASTUSED)}) {
        c->Container = &fraHEXFILE;
    }
    lblERASE.Container = &fraERASE;
    lblVERIFY.Container = &fraVERIFY;
    lblPROGRAM.Container = &fraPROGRAM;
    linPROGRAM.Container = &fraPROGRAM;
    frmPASS.Container = &StatusBar1;
    lblPASS.Container = &frmPASS;
    ProgressBar1.Container = &StatusBar1;
    for (Control* c : {static_cast<Control*>(&optMAIN), static_cast<Control*>(&optUSB),
                       static_cast<Control*>(&optQRX)}) {
        c->Container = &fraSCAN;
    }

    // Step rows: navy frames with white descriptions; frmUI_Load places them.
    for (Frame* frame : {&fraSCAN, &fraHEXFILE, &fraERASE, &fraVERIFY, &fraPROGRAM}) {
        frame->BackColor = colour::kNavy;
        frame->ForeColor = colour::kWhite;
    }
    for (Label* label : {&lblSCAN, &lblHEXFILE, &lblERASE, &lblVERIFY, &lblPROGRAM}) {
        label->ForeColor = colour::kWhite;
        label->BackColor = colour::kNavy;
    }
    for (Line* line : {&linSCAN, &linHEXFILE, &linPROGRAM}) {
        line->X1 = 2880;
        line->X2 = 5520;
        line->Y1 = 480;
        line->Y2 = 480;
        line->Visible = false;
    }

    btnSCAN.Caption = "SCAN";
    btnCommPort.Caption = "COM PORT:";
    btnHEXFILE.Caption = "SELECT HEX FILE";
    btnLASTUSED.Caption = "Get Last Used";
    btnLASTUSED.Font.Size = 6.75;
    btnLASTUSED.Move(2160, 240, 650, 615);
    btnERASE.Caption = "ERASE";
    btnVERIFY.Caption = "VERIFY";
    btnPROGRAM.Caption = "PROGRAM";
    for (CommandButton* step : {&btnSCAN, &btnHEXFILE, &btnERASE, &btnVERIFY, &btnPROGRAM}) {
        step->Font.Bold = true;
    }

    // Meridan firmware targets, where the port controls are in the normal view.
    optMAIN.Caption = "MAIN";
    optMAIN.Move(240, 660, 850, 330);
    optUSB.Caption = "USB";
    optUSB.Move(1110, 660, 850, 330);
    optQRX.Caption = "QRX";
    optQRX.Move(1980, 660, 850, 330);
    for (OptionButton* option : {&optMAIN, &optUSB, &optQRX}) {
        option->BackColor = colour::kNavy;
        option->ForeColor = colour::kWhite;
    }
    // Crossfield copy and setup buttons share the ERASE and VERIFY rows.
    btnMainCpy.Caption = "SEND MAIN FIRMWARE";
    btnMainCpy.Move(240, 3320, 1290, 495);
    btnKernelCpy.Caption = "SEND KERNEL FIRMWARE";
    btnKernelCpy.Move(1605, 3320, 1290, 495);
    btnDefaults.Caption = "LOAD DEFAULTS";
    btnDefaults.Move(240, 4150, 1290, 495);
    btnStartCpu.Caption = "LOAD START CPU";
    btnStartCpu.Move(1605, 4150, 1290, 495);

    // Serial-menu views: the information area covers the lower step rows.
    for (TextBox* box : {&txtSerialDisplay, &txtInfo, &txtNote, &txtSwtDetected}) {
        box->MultiLine = true;
    }
    txtSerialDisplay.Move(90, 1000, 6255, 4200);
    txtSerialDisplay.Locked = true;  // the console's keys go to the product, not into the box
    txtSwtDetected.Move(90, 3070, 6255, 400);
    txtXBOOT.Move(90, 3070, 6255, 400);
    txtInfo.Move(90, 3470, 6255, 1100);
    txtNote.Move(90, 4570, 6255, 600);
    optBaud9600.Caption = "9600 Baud";
    optBaud9600.Move(600, 4200, 1500, 300);
    optBaud57600.Caption = "57600 Baud";
    optBaud57600.Move(2400, 4200, 1500, 300);
    pixSelectBaud.Move(4500, 3900, 1500, 900);
    btnRestartCFX.Caption = "Restart Crossfield";
    btnRestartCFX.Move(2340, 5250, 2100, 375);
    btnShowDiagnostic.Caption = "Show Serial Console";
    btnShowDiagnostic.Move(90, 5250, 2160, 375);
    btnSaveSerialDisplay.Caption = "Save";
    btnSaveSerialDisplay.Move(2340, 5250, 1000, 375);
    btnCANCEL.Caption = "Cancel";
    btnCANCEL.Move(4530, 5250, 1815, 375);
    btnShowHelp.Caption = "HELP";
    btnShowHelp.Move(kClientWidth - 1095 - 60, 405, 1095, 285);

    // Logo strip with the "Help|About" button at its right end.
    btnTitleBar.Caption = "Help|About";
    btnTitleBar.Move(kClientWidth - 1095 - 60, 60, 1095, 285);
    cmdTitleBarButton.Caption = "Fake Command Button";
    cmdTitleBarButton.Visible = false;

    // Status bar along the bottom of the client area; panel 1 holds the banner.
    StatusBar1.Move(0, kClientHeight - kStatusBarHeight, kClientWidth, kStatusBarHeight);
    StatusBar1.Panels.resize(1);
    frmPASS.Move(30, 30, 2350, 270);
    frmPASS.BackColor = colour::kGreen;
    lblPASS.Move(60, 40, 2100, 200);
    lblPASS.BackColor = colour::kGreen;
    lblPASS.ForeColor = colour::kBlack;
    ProgressBar1.Min = 0;
    ProgressBar1.Max = 10000;
    ProgressBar1.Visible = false;
}

std::vector<Control*> FrmUI::Controls() {
    return {&picLogo,
            &picTarnLogo,
            &picQuillLogo,
            &picTarnICO,
            &picQuillICO,
            &fraSCAN,
            &lblSCAN,
            &linSCAN,
            &cboPORT,
            &btnCommPort,
            &fraHEXFILE,
            &lblHEXFILE,
            &linHEXFILE,
            &btnLASTUSED,
            &fraERASE,
            &lblERASE,
            &fraVERIFY,
            &lblVERIFY,
            &fraPROGRAM,
            &lblPROGRAM,
            &linPROGRAM,
            &btnSCAN,
            &btnHEXFILE,
            &btnERASE,
            &btnVERIFY,
            &btnPROGRAM,
            &optMAIN,
            &optUSB,
            &optQRX,
            &btnMainCpy,
            &btnKernelCpy,
            &btnDefaults,
            &btnStartCpu,
            &txtSerialDisplay,
            &txtInfo,
            &txtNote,
            &txtSwtDetected,
            &txtXBOOT,
            &btnRestartCFX,
            &optBaud9600,
            &optBaud57600,
            &pixSelectBaud,
            &btnCANCEL,
            &btnShowDiagnostic,
            &btnSaveSerialDisplay,
            &btnShowHelp,
            &btnTitleBar,
            &cmdTitleBarButton,
            &StatusBar1,
            &frmPASS,
            &lblPASS,
            &ProgressBar1};
}

}  // namespace rompush::ui
