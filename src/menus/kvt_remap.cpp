// Remapping the KVT's four front buttons: after a power cycle the KVT's application offers its
// remap menu for a moment; RomPush enters it, the operator edits the mapping in the remap
// dialog, and each changed button is sent as one dialogue with the menu.
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

bool SendButtonMapping(const std::string& button, const std::string& port) {
    TraceScope trace("SendButtonMapping( " + button + ", " + port + " )");
    g.menus.SerialText.clear();
    SendToProduct(button);
    Delay(1);
    SendToProduct("\r");
    if (button == "0")
        return true;
    Delay(1);
    for (char c : port) {
        SendToProduct(std::string(1, c));
        Delay(100);
    }
    SendToProduct("\r");
    Delay(100);
    // A port the KVT refuses is not saved with "Y": that "Y" and whatever followed it would
    // go to the KVT's next question instead.
    ReadIntoSerialText();
    if (SerialTextHas("NOT A VALID ENTRY"))
        return false;
    SendToProduct("Y");
    Delay(1);
    SendToProduct("\r");
    return true;
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

    // A box left empty, or showing the port it had, is no change. Each mapping the KVT saved
    // is held at once; the first it refuses ends the dialogues, so what RomPush shows is what
    // the KVT holds.
    bool refused = false;
    for (std::size_t i = 0; keep && !refused && i < 4; ++i) {
        const std::string typed = Trim(d.Boxes()[i]->Text);
        const std::string wanted = typed.empty() ? kvt.ButtonMap[i] : MapEntry(typed);
        if (Trim(wanted) == Trim(kvt.ButtonMap[i]))
            continue;
        if (SendButtonMapping(std::to_string(i + 1), Trim(wanted)))
            kvt.ButtonMap[i] = wanted;
        else
            refused = true;
    }
    if (!refused) {
        Delay(1);
        ReadIntoSerialText();
        refused = SerialTextHas("NOT A VALID ENTRY");
    }
    g.menus.SerialText.clear();

    SendButtonMapping("0", "");  // leaves the remap menu
    Delay(500);
    if (refused) {
        // The KVT refused a number: the remap starts again with another power cycle.
        TraceLine("-- KVT: NOT A VALID ENTRY");
        kvt.MapAction = 0;
        ui::frmButtonMap_Unload();
        KvtUI();
        ui::ButtonEnabler();
        g.cmd.UiCommand = uicmdVERIFY;
        return;
    }
    ShowCurrentMapping();
    ui::frmButtonMap_Unload();
    KvtUI();
    ui::ButtonEnabler();
    g.cmd.UiCommand = 0;
}

}  // namespace rompush
