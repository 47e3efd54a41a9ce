// Remapping the KVT's four front buttons: after a power cycle the KVT's application offers its
// remap menu for a moment; RomPush enters it, the operator edits the mapping in the remap
// dialog, and each changed button is sent as one dialogue with the menu.
#include <array>
#include <string>

#include "core/state.h"
#include "core/text.h"
#include "core/trace.h"
#include "menus/kvt.h"
#include "platform/platform.h"
#include "serial/comm.h"
#include "ui/frm_button_map.h"
#include "ui/main_window.h"

namespace rompush {

namespace {

// The label of the remap dialog: the mapping as the KVT holds it.
void ShowCurrentMapping() {
    const auto& map = g.menus.kvt.ButtonMap;
    frmButtonMap().lblCurrentMapping.Caption =
        "Current Mapping:\r\n        BUTTON 1 to PORT " + map[0] + "    BUTTON 3 to PORT " +
        map[2] + "\r\n        BUTTON 2 to PORT " + map[1] + "    BUTTON 4 to PORT " + map[3];
}

void OpenRemapDialog() {
    auto& d = frmButtonMap();
    if (!d.Loaded)
        ui::frmButtonMap_Load();
    ShowCurrentMapping();
    for (std::size_t i = 0; i < 4; ++i) {
        ui::TextBox& box = *d.Boxes()[i];
        box.SelStart = 0;
        box.SetText(g.menus.kvt.ButtonMap[i]);
    }
    // The focus starts on Keep, so no box is emptied before the operator moves into it.
    d.SetFocus(d.btnMapKeep);
    d.Visible = true;
}

// The menu is entered after the power cycle: the application offers it for a moment.
bool EnterRemapMenu() {
    kvt::OfferExit();
    TextWait step = WaitForAnyText({"Press SPACE bar"}, kvt::kPowerCycleBoundMs);
    if (step != TextWait::Found) {
        kvt::LeaveWait(step, true);
        return false;
    }
    ui::ShowMsg("Reading KVT...", ui::colour::kLightYellow);
    step = WaitForAnyText({"BUTTON remap."}, kvt::kAnswerBoundMs);
    if (step == TextWait::Found) {
        Delay(200);
        SendToProduct(" ");
        step = WaitForAnyText({"<Enter>:"}, kvt::kAnswerBoundMs);
    }
    if (step != TextWait::Found) {
        kvt::LeaveWait(step, false);
        return false;
    }
    kvt::WithdrawExit();
    ui::ShowMsg("", ui::colour::kButtonFace);
    return true;
}

}  // namespace

void SendButtonMapping(const std::string& button, const std::string& port) {
    TraceScope trace("SendButtonMapping( " + button + ", " + port + " )");
    SendToProduct(button);
    Delay(1);
    SendToProduct("\r");
    if (button == "0")
        return;
    Delay(1);
    for (char c : port) {
        SendToProduct(std::string(1, c));
        Delay(100);
    }
    SendToProduct("\r");
    Delay(100);
    SendToProduct("Y");
    Delay(1);
    SendToProduct("\r");
}

void KvtRemap() {
    TraceLine("-- KVT: remap buttons");
    auto& kvt = g.menus.kvt;
    auto& d = frmButtonMap();
    ui::DisableAllButtons();
    // Only what the KVT says once the operator is asked is its power cycle.
    ClearInBuffer();
    g.menus.SerialText.clear();
    kvt::AskForPowerCycle("Cycle power on KVT to begin BUTTON remapping.", false);
    if (!EnterRemapMenu())
        return;

    OpenRemapDialog();
    kvt.MapAction = 0;
    while (kvt.MapAction == 0)
        platform::Current().events->WaitForEvents(100);
    const bool keep = kvt.MapAction == 1;

    // A box left empty, or showing the port it had, is no change.
    std::array<std::string, 4> wanted;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::string typed = Trim(d.Boxes()[i]->Text);
        wanted[i] = typed.empty() ? kvt.ButtonMap[i] : MapEntry(typed);
        if (keep && Trim(wanted[i]) != Trim(kvt.ButtonMap[i]))
            SendButtonMapping(std::to_string(i + 1), Trim(wanted[i]));
    }

    Delay(1);
    ReadIntoSerialText();
    if (g.menus.SerialText.find("NOT A VALID ENTRY") != std::string::npos) {
        // The KVT refused a number: the remap starts again with another power cycle.
        TraceLine("-- KVT: NOT A VALID ENTRY");
        kvt.MapAction = 0;
        g.cmd.UiCommand = uicmdVERIFY;
        g.menus.SerialText.clear();
        d.Visible = false;
        return;
    }

    SendButtonMapping("0", "");  // leaves the remap menu
    Delay(500);
    if (keep) {
        kvt.ButtonMap = wanted;
        ShowCurrentMapping();
    }
    ui::frmButtonMap_Unload();
    KvtUI();
    ui::ButtonEnabler();
    g.cmd.UiCommand = 0;
}

}  // namespace rompush
