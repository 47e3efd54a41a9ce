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

    // Step rows: navy frames with white descriptions. Positions are those of the loaded
    // window; frmUI_Load sets them again.
    auto place = [](Control& c, int left, int top, int width, int height) {
        c.Left = left;
        c.Top = top;
        c.Width = width;
        c.Height = height;
    };
    for (Frame* frame : {&fraSCAN, &fraHEXFILE, &fraERASE, &fraVERIFY, &fraPROGRAM}) {
        frame->BackColor = colour::kNavy;
        frame->ForeColor = colour::kWhite;
    }
    place(fraSCAN, 90, 1000, 6255, 1095);
    place(fraHEXFILE, 90, 2100, 6255, 975);
    place(fraERASE, 90, 3070, 6250, 855);
    place(fraVERIFY, 90, 3910, 6255, 855);
    place(fraPROGRAM, 90, 4770, 6255, 855);
    for (Label* label : {&lblSCAN, &lblHEXFILE, &lblERASE, &lblVERIFY, &lblPROGRAM}) {
        label->ForeColor = colour::kWhite;
        label->BackColor = colour::kNavy;
    }
    place(lblSCAN, 2880, 180, 3240, 800);
    place(lblHEXFILE, 2880, 180, 3240, 650);
    place(lblERASE, 2880, 240, 3240, 435);
    place(lblVERIFY, 2880, 240, 3240, 435);
    place(lblPROGRAM, 2880, 240, 3240, 435);
    for (Line* line : {&linSCAN, &linHEXFILE, &linPROGRAM}) {
        line->X1 = 2880;
        line->X2 = 5520;
        line->Y1 = 480;
        line->Y2 = 480;
        line->Visible = false;
    }

    btnSCAN.Caption = "SCAN";
    place(btnSCAN, 240, 1240, 2655, 375);
    btnCommPort.Caption = "COM PORT:";
    place(btnCommPort, 720, 660, 1215, 330);
    place(cboPORT, 1920, 645, 800, 315);
    btnHEXFILE.Caption = "SELECT HEX FILE";
    place(btnHEXFILE, 240, 2340, 2055, 615);
    btnLASTUSED.Caption = "Get Last Used";
    btnLASTUSED.Font.Size = 6.75;
    place(btnLASTUSED, 2160, 240, 650, 615);
    btnERASE.Caption = "ERASE";
    place(btnERASE, 240, 3320, 2655, 495);
    btnVERIFY.Caption = "VERIFY";
    place(btnVERIFY, 240, 4150, 2655, 495);
    btnPROGRAM.Caption = "PROGRAM";
    place(btnPROGRAM, 240, 5010, 2655, 495);
    for (CommandButton* step : {&btnSCAN, &btnHEXFILE, &btnERASE, &btnVERIFY, &btnPROGRAM}) {
        step->Font.Bold = true;
    }

    // Meridan firmware targets, where the port controls are in the normal view.
    optMAIN.Caption = "MAIN";
    place(optMAIN, 240, 660, 850, 330);
    optUSB.Caption = "USB";
    place(optUSB, 1110, 660, 850, 330);
    optQRX.Caption = "QRX";
    place(optQRX, 1980, 660, 850, 330);
    for (OptionButton* option : {&optMAIN, &optUSB, &optQRX}) {
        option->BackColor = colour::kNavy;
        option->ForeColor = colour::kWhite;
    }
    // Crossfield copy and setup buttons share the ERASE and VERIFY rows.
    btnMainCpy.Caption = "SEND MAIN FIRMWARE";
    place(btnMainCpy, 240, 3320, 1290, 495);
    btnKernelCpy.Caption = "SEND KERNEL FIRMWARE";
    place(btnKernelCpy, 1605, 3320, 1290, 495);
    btnDefaults.Caption = "LOAD DEFAULTS";
    place(btnDefaults, 240, 4150, 1290, 495);
    btnStartCpu.Caption = "LOAD START CPU";
    place(btnStartCpu, 1605, 4150, 1290, 495);

    // Serial-menu views: the information area covers the lower step rows.
    for (TextBox* box : {&txtSerialDisplay, &txtInfo, &txtNote, &txtSwtDetected}) {
        box->MultiLine = true;
    }
    place(txtSerialDisplay, 90, 1000, 6255, 4200);
    place(txtSwtDetected, 90, 3070, 6255, 400);
    place(txtXBOOT, 90, 3070, 6255, 400);
    place(txtInfo, 90, 3470, 6255, 1100);
    place(txtNote, 90, 4570, 6255, 600);
    optBaud9600.Caption = "9600 Baud";
    place(optBaud9600, 600, 4200, 1500, 300);
    optBaud57600.Caption = "57600 Baud";
    place(optBaud57600, 2400, 4200, 1500, 300);
    place(pixSelectBaud, 4500, 3900, 1500, 900);
    btnRestartCFX.Caption = "Restart Crossfield";
    place(btnRestartCFX, 2340, 5250, 2100, 375);
    btnShowDiagnostic.Caption = "Show Serial Console";
    place(btnShowDiagnostic, 90, 5250, 2160, 375);
    btnSaveSerialDisplay.Caption = "Save";
    place(btnSaveSerialDisplay, 2340, 5250, 1000, 375);
    btnCANCEL.Caption = "Cancel";
    place(btnCANCEL, 4530, 5250, 1815, 375);
    btnShowHelp.Caption = "HELP";
    place(btnShowHelp, kClientWidth - 1095 - 60, 405, 1095, 285);

    // Logo strip with the "Help|About" button at its right end.
    place(picLogo, 0, 5, 6480, 1050);
    btnTitleBar.Caption = "Help|About";
    place(btnTitleBar, kClientWidth - 1095 - 60, 60, 1095, 285);
    cmdTitleBarButton.Caption = "Fake Command Button";
    cmdTitleBarButton.Visible = false;

    // Status bar along the bottom of the client area; panel 1 holds the banner.
    place(StatusBar1, 0, kClientHeight - kStatusBarHeight, kClientWidth, kStatusBarHeight);
    StatusBar1.Panels.resize(1);
    place(frmPASS, 30, 30, 2350, 270);
    frmPASS.BackColor = colour::kGreen;
    place(lblPASS, 60, 40, 2100, 200);
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
