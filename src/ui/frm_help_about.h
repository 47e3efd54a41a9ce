// The about box "About RomPush Utility", opened by the main window's "Help|About" and HELP
// buttons, and the opening of the HTML help from it. The box is modal the way the other
// dialogs are: the main window is disabled while it shows and given back when it goes.
#pragma once

#include <string>

#include "ui/controls.h"

namespace rompush::ui {

struct FrmHelpAbout : Form {
    FrmHelpAbout();

    PictureBox picIcon{"picIcon"};
    Label lblAbout{"lblAbout"};
    Label lblVersion{"lblVersion"};
    Label lblCopyright{"lblCopyright"};
    CommandButton btnOK{"btnOK"};
    CommandButton btnHelp{"btnHelp"};

    bool Loaded = false;

    std::vector<Control*> Controls() override;
};

// Load: caption, version and the maker's notice; the box is kept on top. Unload hides it.
void frmHelpAbout_Load();
void frmHelpAbout_Unload();

// Opens the about box over the disabled main window. The "Help|About" button clicks the
// hidden cmdTitleBarButton, which does the same as HELP.
void btnShowHelp_Click();
void cmdTitleBarButton_Click();
void btnTitleBar_Click();

// OK, and the window manager's close button: the box goes and the main window is usable
// again. Help: the box is hidden, the main window usable, and the help opens.
void frmHelpAbout_btnOK_Click();
void frmHelpAbout_btnHelp_Click();

// The help file of a selector: 1 the program's help (HelpFileName), 2 and 3 the example
// topics of the help folder. Looked for in the program folder first, then where the program's
// own files are; "" when it is in none of them.
std::string HelpFilePath(int selector);
// Shows the help file of the selector at its table of contents. A file that cannot be found,
// or no viewer to show it, is said in a message instead of nothing happening.
void OpenHelp(int selector);

}  // namespace rompush::ui
