// The KVT's remap dialog on the screen, shown by the form renderer beside the main window and
// recorded in the window log.
#pragma once

#include "providers/qt/form_renderer.h"
#include "providers/qt/window_log.h"

namespace rompush::platform::qt {

void AddButtonMapDialog(FormRenderer& renderer);
void RecordButtonMapDialog(WindowLog& log);

}  // namespace rompush::platform::qt
