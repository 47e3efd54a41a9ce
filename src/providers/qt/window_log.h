// A running record of what the windows show, for driving the real program from outside: each
// change an operator can see is written as one line,
//   frmUI.lblPASS.Caption = TARN Product Found
//   frmUI.btnPROGRAM.Enabled = True
//   frmUI.btnSCAN.Place = 240 1240 2655 375        (left top width height, twips)
//   frmUI.btnLASTUSED.Container = fraHEXFILE       (the place is measured inside it)
//   frmUI.frmPASS.BackColor = &H0000C000           (colours as 0x00BBGGRR)
//   frmUI.StatusBar1.Panel2 = TWPx  Receiver       (each panel of a status bar, from 1)
//   frmUI.cboPORT.List = 1|2|PS/2                   (a list's entries)
//   frmConfigDevice.cboScanTime.Text = 3             (the entry a list shows)
//   frmUI.optMAIN.Value = True                       (an option button chosen)
//   frmUI.ProgressBar1.Value = 12 of 256
//   frmUI.txtInfo.Text = Power cycle Meridan|to begin communitions.   (short texts whole)
//   frmUI.txtSerialDisplay.Line = Enter choice --> 3  (each line a text box completes)
//   frmUI.txtSerialDisplay.Tail = Enter choice -->    (the line it is writing)
//   Keyboard.ControllerHeld = True                   (the program holds the PC's keyboard)
//   Keyboard.CommandByte = 47                        (the simulated controller's, --sim-ps2)
// A message box is written when it opens and when it is answered:
//   MsgBox.Title = RomPush Utility
//   MsgBox.Text = ...                                 (line breaks as |)
//   MsgBox.Icon = Exclamation
//   MsgBox.Buttons = Yes No
//   MsgBox.Default = Yes
//   MsgBox.Answer = No
// and so is a file dialog (FileDialog.Title, FileDialog.Answer: the file chosen, "" for none).
// The window in front of the main window, whenever it changes:
//   Dialog = frmConfigDevice: Configure Device    (a dialog window: its name and title)
//   Dialog = MsgBox: RomPush Utility               (a message box: its title)
//   Dialog = Open: Select HEX File                 (a file dialog, Open or Save: its title)
//   Dialog =                                       (none: the main window is in front)
// so a script can wait for a text on the screen and click a button where it really is.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <vector>

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
    // After the forms of one pass were recorded: the window in front, when it changed.
    void EndPass();

    // A message box about to be shown (style as the logic gives it), and the answer it gave.
    void MessageBoxShown(const std::string& title, const std::string& text, int style);
    void MessageBoxAnswered(int answer);
    // A file dialog ("Open" or "Save") about to be shown, and the file it gave ("" none).
    void FileDialogShown(const std::string& kind, const std::string& title);
    void FileDialogAnswered(const std::string& path);

  private:
    void Note(const std::string& key, const std::string& value);
    void Write(const std::string& key, const std::string& value);
    // A multi-line text box: every line it completed since the last call.
    void NoteLines(const std::string& key, const std::string& text);
    void RecordControl(const std::string& key, const ui::Control& control);

    std::FILE* file_ = nullptr;
    std::map<std::string, std::string> shown_;
    std::map<std::string, std::string> texts_;    // a text box's text as last seen
    std::map<std::string, std::string> partial_;  // its last line, not complete yet
    // Dialog windows shown, in the order they opened: name and title.
    std::vector<std::pair<std::string, std::string>> openForms_;
    // Message boxes and file dialogs open now, the newest last (each waits for the one after).
    std::vector<std::string> openBoxes_;
};

}  // namespace rompush::platform::qt
