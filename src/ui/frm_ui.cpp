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
}

std::vector<Control*> FrmUI::Controls() {
    return {&picLogo,      &picTarnLogo,   &picQuillLogo, &picTarnICO,    &picQuillICO,
            &fraSCAN,      &lblSCAN,       &linSCAN,      &cboPORT,       &btnCommPort,
            &fraHEXFILE,   &lblHEXFILE,    &linHEXFILE,   &btnLASTUSED,   &fraERASE,
            &lblERASE,     &fraVERIFY,     &lblVERIFY,    &fraPROGRAM,    &lblPROGRAM,
            &linPROGRAM,   &btnSCAN,       &btnHEXFILE,   &btnERASE,      &btnVERIFY,
            &btnPROGRAM,   &optMAIN,       &optUSB,       &optQRX,        &btnMainCpy,
            &btnKernelCpy, &btnDefaults,   &btnStartCpu,  &txtSerialDisplay, &txtInfo,
            &txtNote,      &txtSwtDetected, &txtXBOOT,    &btnRestartCFX, &optBaud9600,
            &optBaud57600, &pixSelectBaud, &btnCANCEL,    &btnShowDiagnostic,
            &btnSaveSerialDisplay, &btnShowHelp, &btnTitleBar, &cmdTitleBarButton,
            &StatusBar1,   &frmPASS,       &lblPASS,      &ProgressBar1};
}

}  // namespace rompush::ui
