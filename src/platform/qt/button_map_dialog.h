// The KVT's remap dialog on the screen, shown by the form renderer beside the main window and
// recorded in the window log.
#pragma once

#include "platform/qt/form_renderer.h"
#include "platform/qt/window_log.h"

namespace rompush::platform::qt {

void AddButtonMapDialog(FormRenderer& renderer);
void RecordButtonMapDialog(WindowLog& log);

}  // namespace rompush::platform::qt
