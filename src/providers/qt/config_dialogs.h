// The windows of CONFIGURE DEVICE on the screen: the dialog "Configure Device" and its notice,
// shown by the form renderer beside the main window and recorded in the window log.
#pragma once

#include "providers/qt/form_renderer.h"
#include "providers/qt/window_log.h"

namespace rompush::platform::qt {

// Adds both windows to the renderer; they appear whenever the program shows them.
void AddConfigDialogs(FormRenderer& renderer);
// Writes what changed in both windows since the last call.
void RecordConfigDialogs(WindowLog& log);

}  // namespace rompush::platform::qt
