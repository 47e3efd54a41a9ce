// The main window model: every control of the main window by its name.
#pragma once

#include "ui/controls.h"

namespace rompush::ui {

struct FrmUI : Form {
    FrmUI();

    // Step rows: frame, button(s), description label, highlight line.
    Frame fraSCAN{"fraSCAN"};
    CommandButton btnSCAN{"btnSCAN"};
    Label lblSCAN{"lblSCAN"};
    Line linSCAN{"linSCAN"};
    ComboBox cboPORT{"cboPORT"};
    CommandButton btnCommPort{"btnCommPort"};

    Frame fraHEXFILE{"fraHEXFILE"};
    CommandButton btnHEXFILE{"btnHEXFILE"};
    CommandButton btnLASTUSED{"btnLASTUSED"};
    Label lblHEXFILE{"lblHEXFILE"};
    Line linHEXFILE{"linHEXFILE"};

    Frame fraERASE{"fraERASE"};
    CommandButton btnERASE{"btnERASE"};
    Label lblERASE{"lblERASE"};

    Frame fraVERIFY{"fraVERIFY"};
    CommandButton btnVERIFY{"btnVERIFY"};
    Label lblVERIFY{"lblVERIFY"};

    Frame fraPROGRAM{"fraPROGRAM"};
    CommandButton btnPROGRAM{"btnPROGRAM"};
    Label lblPROGRAM{"lblPROGRAM"};
    Line linPROGRAM{"linPROGRAM"};

    // Meridan mode options and Crossfield buttons.
    OptionButton optMAIN{"optMAIN"};
    OptionButton optUSB{"optUSB"};
    OptionButton optQRX{"optQRX"};
    CommandButton btnMainCpy{"btnMainCpy"};
    CommandButton btnKernelCpy{"btnKernelCpy"};
    CommandButton btnDefaults{"btnDefaults"};
    CommandButton btnStartCpu{"btnStartCpu"};

    // Serial-menu views.
    TextBox txtSerialDisplay{"txtSerialDisplay"};
    TextBox txtInfo{"txtInfo"};
    TextBox txtNote{"txtNote"};
    TextBox txtSwtDetected{"txtSwtDetected"};
    TextBox txtXBOOT{"txtXBOOT"};
    CommandButton btnRestartCFX{"btnRestartCFX"};
    OptionButton optBaud9600{"optBaud9600"};
    OptionButton optBaud57600{"optBaud57600"};
    PictureBox pixSelectBaud{"pixSelectBaud"};
    CommandButton btnCANCEL{"btnCANCEL"};
    CommandButton btnShowDiagnostic{"btnShowDiagnostic"};
    CommandButton btnSaveSerialDisplay{"btnSaveSerialDisplay"};
    CommandButton btnShowHelp{"btnShowHelp"};

    // Pictures.
    PictureBox picLogo{"picLogo"};
    PictureBox picTarnLogo{"picTarnLogo"};
    PictureBox picQuillLogo{"picQuillLogo"};
    PictureBox picTarnICO{"picTarnICO"};
    PictureBox picQuillICO{"picQuillICO"};

    // Status bar with the banner and the progress bar inside it.
    StatusBar StatusBar1{"StatusBar1"};
    Frame frmPASS{"frmPASS"};
    Label lblPASS{"lblPASS"};
    ProgressBar ProgressBar1{"ProgressBar1"};

    // The "Help|About" button (the title-bar button) and the hidden button it clicks.
    CommandButton btnTitleBar{"btnTitleBar"};
    CommandButton cmdTitleBarButton{"cmdTitleBarButton"};

    std::vector<Control*> Controls() override;

    // Client area in twips.
    static constexpr int kClientWidth = 6435;
    static constexpr int kClientHeight = 6090;
    static constexpr int kStatusBarHeight = 375;
};

}  // namespace rompush::ui
