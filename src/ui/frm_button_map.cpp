#include "ui/frm_button_map.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "core/state.h"
#include "core/text.h"
#include "platform/platform.h"

namespace rompush::ui {

namespace {

FrmButtonMap& Dialog() {
    return g.forms->frmButtonMap;
}

void Refuse(TextBox& box, const std::string& text) {
    platform::Current().dialogs->MsgBox(text, platform::mb::kCritical + platform::mb::kOk,
                                        "Remap KVT Button");
    std::string shorter = box.Text;
    if (!shorter.empty())
        shorter.pop_back();
    box.SelStart = static_cast<int>(shorter.size());
    box.SetText(shorter);  // checked again: what is left is valid
}

}  // namespace

FrmButtonMap::FrmButtonMap() : Form("frmButtonMap") {
    Caption = "Remap KVT Buttons";
    Width = 5400;
    Height = 2760;
    lblCurrentMapping.Move(240, 120, 4920, 855);
    // Buttons 1 and 2 on the left, 3 and 4 on the right, as the mapping reads.
    const std::array<Label*, 4> labels{&lblBtn1, &lblBtn2, &lblBtn3, &lblBtn4};
    for (int i = 0; i < 4; ++i) {
        const int left = i < 2 ? 240 : 2760;
        const int top = 1140 + 420 * (i % 2);
        labels[i]->Caption = "BUTTON " + std::to_string(i + 1) + " to PORT";
        labels[i]->Move(left, top + 45, 1575, 255);
        Boxes()[i]->Move(left + 1620, top, 735, 315);
    }
    btnMapKeep.Caption = "Keep";
    btnMapKeep.Move(1200, 2160, 1335, 375);
    btnMapAbort.Caption = "Abort";
    btnMapAbort.Move(2760, 2160, 1335, 375);
}

std::vector<Control*> FrmButtonMap::Controls() {
    return {&lblCurrentMapping, &lblBtn1, &txtBtn1Cpu, &lblBtn2,    &txtBtn2Cpu, &lblBtn3,
            &txtBtn3Cpu,        &lblBtn4, &txtBtn4Cpu, &btnMapKeep, &btnMapAbort};
}

void frmButtonMap_Load() {
    auto& d = Dialog();
    d.Loaded = true;
    for (int i = 0; i < 4; ++i) {
        d.Boxes()[i]->Change = [i] { frmButtonMap_txtBtnCpu_Change(i); };
        d.Boxes()[i]->GotFocus = [i] { frmButtonMap_txtBtnCpu_GotFocus(i); };
    }
    d.btnMapKeep.MouseUp = frmButtonMap_btnMapKeep_Click;
    d.btnMapAbort.MouseUp = frmButtonMap_btnMapAbort_Click;
    d.Unload = frmButtonMap_btnMapAbort_Click;
}

void frmButtonMap_Unload() {
    UnloadDialog(Dialog());
}

void frmButtonMap_btnMapKeep_Click() {
    g.menus.kvt.MapAction = 1;
}

void frmButtonMap_btnMapAbort_Click() {
    g.menus.kvt.MapAction = 2;
}

// The same check guards every box: the KVT refuses any other number, and a refusal costs the
// operator another power cycle.
void frmButtonMap_txtBtnCpu_Change(int index) {
    TextBox& box = *Dialog().Boxes()[static_cast<std::size_t>(index)];
    const std::string number = Trim(box.Text);
    if (number.size() >= 4) {
        Refuse(box, "MAXIMUM CPU IS 999!");
    } else if (!number.empty() && !std::all_of(number.begin(), number.end(),
                                               [](char c) { return c >= '0' && c <= '9'; })) {
        Refuse(box, "INVALID CHARACTER ENTERED!  ");
    }
}

void frmButtonMap_txtBtnCpu_GotFocus(int index) {
    TextBox& box = *Dialog().Boxes()[static_cast<std::size_t>(index)];
    box.SelStart = 0;
    box.SetText("");
}

}  // namespace rompush::ui
