#include "ps2/configure_device.h"

#include "core/state.h"
#include "core/trace.h"
#include "core/wait.h"
#include "platform/platform.h"
#include "ps2/device_config.h"
#include "ui/frm_config_device.h"

namespace rompush {

namespace {

// The longest sleep of one pass of the waits for a button: a click wakes the wait at once.
constexpr int kButtonWaitMs = 100;
constexpr std::int16_t kBeforeSavingMs = 500;

// Waits, processing events, until OK, Cancel or CONTINUE (or a close button) sets the flag.
void WaitForConfigContinue() {
    g.ps2.ConfigContinue = false;
    auto& events = *platform::Current().events;
    while (!g.ps2.ConfigContinue)
        events.WaitForEvents(kButtonWaitMs);
}

void UnloadDialogs() {
    ui::frmConfigDevice_Unload();
    ui::frmSaveConfig_Unload();
}

}  // namespace

void ConfigureDevice() {
    TraceScope trace("ConfigureDevice()");
    auto& dialog = frmConfigDevice();
    frmSaveConfig();
    g.ps2.ConfigSave = false;
    if (!GetOrbitParams()) {
        UnloadDialogs();
        return;
    }
    // Settings the device did not take last time are what the operator chose: they are shown
    // instead of what the device holds now.
    const bool offered = OfferUnsavedConfig();
    auto& main = frmUI();
    main.Enabled = false;
    dialog.Visible = true;
    // Shown (and active) before anything keeps it on top without activating it.
    platform::Current().events->DoEvents();

    if (g.result.ErrorCode != 0 || offered) {
        // A setting fell back to its default, or settings are offered again: the notice says
        // so, and the dialog can be used once the operator has read it.
        dialog.Enabled = false;
        WaitForConfigContinue();
        ui::KeepOnTop(frmSaveConfig(), false);
        ui::frmSaveConfig_Unload();
        dialog.Enabled = true;
        g.result.ErrorCode = 0;
    }

    ui::KeepOnTop(dialog, true);
    WaitForConfigContinue();
    TraceLine("--    ConfigSave = " + std::string(BoolText(g.ps2.ConfigSave)));

    if (g.ps2.ConfigSave) {
        ui::KeepOnTop(dialog, false);
        auto& notice = frmSaveConfig();
        notice.btnCONTINUE.Visible = false;
        notice.lblConfigStatus.Font.Size = 14;
        notice.Visible = true;
        Delay(kBeforeSavingMs);
        ui::KeepOnTop(notice, true);
        // A record the device did not take sets ErrorCode, which the main window shows.
        WriteOrbitParams();
        g.ps2.ConfigSave = false;
        ui::KeepOnTop(notice, false);
        notice.Visible = false;
    } else if (offered) {
        ForgetUnsavedConfig();  // the operator keeps what the device holds
    }

    UnloadDialogs();
    main.Visible = true;
    main.Enabled = true;
}

}  // namespace rompush
