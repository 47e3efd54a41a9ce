#include "core/state.h"

namespace rompush {

Globals g;

void ResetState() {
    g = Globals{};
}

ui::FrmComParameters& frmComParameters() {
    auto& dialog = g.forms->frmComParameters;
    if (!dialog.Loaded)
        ui::frmComParameters_Load();
    return dialog;
}

ui::FrmConfigDevice& frmConfigDevice() {
    auto& dialog = g.forms->frmConfigDevice;
    if (!dialog.Loaded)
        ui::frmConfigDevice_Load();
    return dialog;
}

ui::FrmSaveConfig& frmSaveConfig() {
    auto& notice = g.forms->frmSaveConfig;
    if (!notice.Loaded)
        ui::frmSaveConfig_Load();
    return notice;
}

ui::FrmHelpAbout& frmHelpAbout() {
    auto& box = g.forms->frmHelpAbout;
    if (!box.Loaded)
        ui::frmHelpAbout_Load();
    return box;
}

}  // namespace rompush
