// A running record of what the windows show, for driving the real program from outside: each
// change of a control's caption, enabled state, visibility or place is written as one line,
//   frmUI.lblPASS.Caption = TARN Product Found
//   frmUI.btnPROGRAM.Enabled = True
//   frmUI.btnSCAN.Place = 240 1240 2655 375        (left top width height, twips)
//   frmUI.btnLASTUSED.Container = fraHEXFILE       (the place is measured inside it)
//   frmConfigDevice.cboScanTime.Text = 3             (the entry a list shows)
//   frmUI.txtInfo.Text = Power cycle Meridan|to begin communitions.   (short texts whole)
//   frmUI.txtSerialDisplay.Line = Enter choice --> 3  (each line a text box completes)
//   frmUI.txtSerialDisplay.Tail = Enter choice -->    (the line it is writing)
//   Keyboard.ControllerHeld = True                   (the program holds the PC's keyboard)
//   Keyboard.CommandByte = 47                        (the simulated controller's, --sim-ps2)
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
    // Whether the program holds the keyboard controller, and the command byte of a simulated
    // one (commandByte < 0: a real controller, not read).
    void RecordKeyboard(bool held, int commandByte);

  private:
    void Note(const std::string& key, const std::string& value);
    void Write(const std::string& key, const std::string& value);
    // A multi-line text box: every line it completed since the last call.
    void NoteLines(const std::string& key, const std::string& text);

    std::FILE* file_ = nullptr;
    std::map<std::string, std::string> shown_;
    std::map<std::string, std::string> texts_;    // a text box's text as last seen
    std::map<std::string, std::string> partial_;  // its last line, not complete yet
};

}  // namespace rompush::platform::qt
