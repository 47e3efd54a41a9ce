#include "providers/qt/config_dialogs.h"

#include "core/state.h"

namespace rompush::platform::qt {

// The models are looked up on every pass: a fresh program state brings fresh windows. The
// renderer draws them with the controls of every other window; the notice's label centres its
// text and changes its font size as the model says.
void AddConfigDialogs(FormRenderer& renderer) {
    renderer.AddForm([]() -> ui::Form* { return &g.forms->frmConfigDevice; });
    renderer.AddForm([]() -> ui::Form* { return &g.forms->frmSaveConfig; });
}

void RecordConfigDialogs(WindowLog& log) {
    log.Record(g.forms->frmConfigDevice);
    log.Record(g.forms->frmSaveConfig);
}

}  // namespace rompush::platform::qt
