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

}  // namespace rompush
