// The about box on the screen, and the desktop's viewer of the HTML help.
#pragma once

#include "platform/platform.h"
#include "providers/qt/form_renderer.h"
#include "providers/qt/window_log.h"

namespace rompush::platform::qt {

// Adds the about box to the renderer; it appears whenever the program shows it.
void AddHelpDialogs(FormRenderer& renderer);
// Writes what changed in the about box since the last call.
void RecordHelpDialogs(WindowLog& log);

// Opens a help file in the desktop's default viewer of HTML files (xdg-open's choice). The
// page begins with its table of contents.
class QtHelpViewer : public HelpViewer {
  public:
    bool ShowContents(const std::string& path) override;
};

}  // namespace rompush::platform::qt
