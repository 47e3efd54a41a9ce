// The Meridan's waits for its own text, and the information view its detection, QRX update
// and restart show.
#include <string>

#include "core/state.h"
#include "core/trace.h"
#include "menus/meridan_internal.h"
#include "menus/product_text.h"
#include "platform/platform.h"
#include "ui/main_window.h"
#include "ui/notices.h"

namespace rompush::meridan {

namespace {
const platform::Services& P() {
    return platform::Current();
}
}  // namespace

bool Await(const std::function<bool(const std::string&)>& arrived, int silenceMs,
           bool countProgress) {
    auto& form = frmUI();
    auto& m = g.menus.meridan;
    // The exit button stays usable through every wait: a view that shows it already has its
    // caption; otherwise it offers to abort.
    const bool showAbort = !form.btnCANCEL.Visible;
    if (showAbort) {
        form.btnCANCEL.Caption = "ABORT";
        form.btnCANCEL.Visible = true;
        form.btnCANCEL.Enabled = true;
    }
    g.cmd.ContinueFlag = false;
    const TextWait result = WaitForProductText(arrived, silenceMs, countProgress);
    if (showAbort && result != TextWait::Exit)
        form.btnCANCEL.Visible = false;
    switch (result) {
        case TextWait::Found:
            return true;
        case TextWait::Exit:
            m.LeaveReason = ui::NoticeText(ui::Notice::MeridanModeAborted);
            break;
        case TextWait::Lost:
            m.LeaveReason = ui::NoticeText(ui::Notice::MeridanPortLost);
            break;
        case TextWait::Silent:
            m.LeaveReason = ui::NoticeText(ui::Notice::MeridanNotResponding);
            break;
    }
    return false;
}

bool AwaitText(std::string_view text, int silenceMs, bool countProgress) {
    return Await([text](const std::string& t) { return t.find(text) != std::string::npos; },
                 silenceMs, countProgress);
}

bool AwaitAnyText(std::string_view first, std::string_view second, int silenceMs,
                  bool countProgress) {
    return Await(
        [first, second](const std::string& t) {
            return t.find(first) != std::string::npos || t.find(second) != std::string::npos;
        },
        silenceMs, countProgress);
}

bool EndsInPrompt(const std::string& text) {
    return !text.empty() && (text.back() == '>' || text.back() == '?');
}

void ShowInfoView(const std::string& detected, const std::string& info, const std::string& note,
                  const std::string& cancelCaption) {
    auto& f = frmUI();
    f.txtSerialDisplay.Visible = false;
    // The product's own text fills the area of the lower step rows; the note sits under it.
    const int noteHeight = note.empty() ? 0 : 600;
    const int infoHeight = info.empty() ? 0 : 500;
    const int top = 1000;
    const int bottom = 5200;
    f.txtSwtDetected.Move(90, top, 6255, bottom - top - noteHeight - infoHeight);
    f.txtSwtDetected.Text = detected;
    f.txtSwtDetected.Font = {"@SimSun", 9, false};
    f.txtSwtDetected.Visible = true;
    f.txtInfo.Move(90, bottom - noteHeight - infoHeight, 6255, infoHeight);
    f.txtInfo.Text = info;
    f.txtInfo.Font = {"Times New Roman", 10, false};
    f.txtInfo.Visible = !info.empty();
    f.txtNote.Move(90, bottom - noteHeight, 6255, noteHeight);
    f.txtNote.Text = note;
    f.txtNote.Font = {"MS Sans Serif", 8.25, true};
    f.txtNote.Visible = !note.empty();
    f.btnShowDiagnostic.Move(90, 5250, 2160, 375);
    f.btnShowDiagnostic.Caption = "Show Serial Console";
    f.btnShowDiagnostic.Visible = !cancelCaption.empty();
    f.btnShowDiagnostic.Enabled = true;
    f.btnCANCEL.Caption = cancelCaption;
    f.btnCANCEL.Visible = !cancelCaption.empty();
    f.btnCANCEL.Enabled = true;
}

void WaitForOperator() {
    g.cmd.ContinueFlag = false;
    while (!g.cmd.ContinueFlag) {
        ReadIntoSerialText();
        P().events->WaitForEvents(100);
    }
}

void KeepLastMenuBlock() {
    std::string& menu = g.menus.MenuText;
    const std::size_t last = menu.rfind("Serial options menu");
    if (last != std::string::npos)
        menu.erase(0, last);
}

std::string MenuKey(int digit) {
    return std::string(1, static_cast<char>('0' + digit));
}

std::string ProgramHelpText() {
    const std::string& mode = g.cmd.ProductMode;
    if (mode == "QRX")
        return "Load and send QRX firmware to all transmitters.";
    if (mode == "USB")
        return "Program and verify the USB memory in Meridan from the selected hex file.";
    return "Program and verify the memory in Meridan from the selected hex file.";
}

}  // namespace rompush::meridan
