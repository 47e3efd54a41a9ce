// Start-up, the command loop, the operator's button handlers, the hidden shortcuts and the
// shut-down of the main window.
#pragma once

#include <cstdint>

#include "ui/shortcuts.h"

namespace rompush {

// The program: start-up, then the command loop until the main window is closed (the
// platform's event processing then throws ProgramEnded).
[[noreturn]] void Main();
// Start-up steps 1 to 20 (restarted after an early error).
void StartUp();
// One pass of the command loop.
void CommandLoopPass();
// The QRX-MP2 firmware recovery offer (Ctrl+F12) when its conditions hold.
void RecoveryOffer();

// Mouse-up handlers of the main window's buttons.
void btnSCAN_MouseUp();
void btnHEXFILE_MouseUp();
void btnLASTUSED_MouseUp();
void btnERASE_MouseUp();
void btnVERIFY_MouseUp();
void btnPROGRAM_MouseUp();
void btnMainCpy_MouseUp();
void btnKernelCpy_MouseUp();
void btnDefaults_MouseUp();
void btnStartCpu_MouseUp();
void btnCANCEL_MouseUp();
// Connects the main window's controls to their handlers.
void WireMainWindowHandlers();

// Main window unload: gives everything back and ends the program.
void Form_Unload();

}  // namespace rompush
