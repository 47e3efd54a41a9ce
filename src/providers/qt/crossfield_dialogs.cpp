#include "providers/qt/crossfield_dialogs.h"

#include "core/state.h"

namespace rompush::platform::qt {

// Looked up on every pass: a fresh program state brings a fresh dialog.
void AddCrossfieldDialogs(FormRenderer& renderer) {
    renderer.AddForm([]() -> ui::Form* { return &g.forms->frmStartCpu; });
}

void RecordCrossfieldDialogs(WindowLog& log) {
    log.Record(g.forms->frmStartCpu);
}

}  // namespace rompush::platform::qt
