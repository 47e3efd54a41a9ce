// A running record of what the windows show, for driving the real program from outside: each
// change of a control's caption, enabled state, visibility or place is written as one line,
//   frmUI.lblPASS.Caption = TARN Product Found
//   frmUI.btnPROGRAM.Enabled = True
//   frmUI.btnSCAN.Place = 240 1240 2655 375        (left top width height, twips)
//   frmUI.btnLASTUSED.Container = fraHEXFILE       (the place is measured inside it)
//   frmConfigDevice.cboScanTime.Text = 3             (the entry a list shows)
// so a script can wait for a text on the screen and click a button where it really is.
#pragma once

#include <cstdio>
#include <map>
#include <string>

#include "ui/controls.h"

namespace rompush::platform::qt {

class WindowLog {
  public:
    // Appends to the file at path; false when it cannot be written.
    bool Open(const std::string& path);
    ~WindowLog();
    // Writes what changed in the form since the last call.
    void Record(ui::Form& form);

  private:
    void Note(const std::string& key, const std::string& value);

    std::FILE* file_ = nullptr;
    std::map<std::string, std::string> shown_;
};

}  // namespace rompush::platform::qt
