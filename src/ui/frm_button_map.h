// The KVT's remap dialog: the current mapping of its four front buttons and a box per button
// for the computer port it should select. Its buttons only set MapAction, which the remap
// operation waits on.
#pragma once

#include <array>

#include "ui/controls.h"

namespace rompush::ui {

struct FrmButtonMap : Form {
    FrmButtonMap();

    Label lblCurrentMapping{"lblCurrentMapping"};
    Label lblBtn1{"lblBtn1"}, lblBtn2{"lblBtn2"}, lblBtn3{"lblBtn3"}, lblBtn4{"lblBtn4"};
    TextBox txtBtn1Cpu{"txtBtn1Cpu"}, txtBtn2Cpu{"txtBtn2Cpu"};
    TextBox txtBtn3Cpu{"txtBtn3Cpu"}, txtBtn4Cpu{"txtBtn4Cpu"};
    CommandButton btnMapKeep{"btnMapKeep"};
    CommandButton btnMapAbort{"btnMapAbort"};

    bool Loaded = false;

    // The boxes of buttons 1 to 4.
    std::array<TextBox*, 4> Boxes() { return {&txtBtn1Cpu, &txtBtn2Cpu, &txtBtn3Cpu, &txtBtn4Cpu}; }

    std::vector<Control*> Controls() override;
};

// Loading wires the handlers; the remap operation fills the label and the boxes.
void frmButtonMap_Load();
// Hides the dialog; what it showed stays until the next remap fills it again.
void frmButtonMap_Unload();

// Keep sends the boxes that changed; Abort, and the window's close button, send nothing.
void frmButtonMap_btnMapKeep_Click();
void frmButtonMap_btnMapAbort_Click();

// Entry check as the operator types into a box (index 0 for button 1): a computer number has
// at most three digits and nothing else.
void frmButtonMap_txtBtnCpu_Change(int index);
// A box the operator moves into is emptied for the new number.
void frmButtonMap_txtBtnCpu_GotFocus(int index);

}  // namespace rompush::ui
