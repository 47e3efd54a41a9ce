#include "providers/qt/button_map_dialog.h"

#include "core/state.h"

namespace rompush::platform::qt {

// Looked up on every pass: a fresh program state brings a fresh dialog.
void AddButtonMapDialog(FormRenderer& renderer) {
    renderer.AddForm([]() -> ui::Form* { return &g.forms->frmButtonMap; });
}

void RecordButtonMapDialog(WindowLog& log) {
    log.Record(g.forms->frmButtonMap);
}

}  // namespace rompush::platform::qt
