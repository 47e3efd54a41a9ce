#include "ui/frm_help_about.h"

#include <filesystem>
#include <vector>

#include "core/state.h"
#include "platform/platform.h"

namespace rompush::ui {

namespace {

constexpr const char* kNotice = "Copyright \xA9 2026 Tarn Electronics.\r\nAll rights reserved.";

FrmHelpAbout& Box() {
    return g.forms->frmHelpAbout;
}

const platform::Services& P() {
    return platform::Current();
}

// The main window usable again once the box has gone or been hidden.
void GiveMainWindowBack() {
    auto& main = frmUI();
    main.Enabled = true;
    main.Activate();
}

// Where a file that came with the program is looked for: the program folder (an operator's
// own RomPush.html there wins), then beside the executable and the installed data folder.
std::vector<std::string> HelpFolders() {
    std::vector<std::string> folders{P().system->ProgramFolder()};
    for (const std::string& folder : P().system->DataFolders()) {
        if (folder != folders.front())
            folders.push_back(folder);
    }
    return folders;
}

// The help file's name for a selector, with its leading separator. Selector 2 names a topic
// window of the help viewer after '>'; the file is the part before it.
std::string HelpFileOf(int selector) {
    switch (selector) {
        case 1:
            return g.cmd.HelpFileName;
        case 2:
            return "/help/CHM-example.html";
        case 3:
            return "/help/CHM-other-language.html";
        default:
            return "";
    }
}

void Say(const std::string& text) {
    P().dialogs->MsgBox(text, platform::mb::kExclamation + platform::mb::kOk, "RomPush Utility");
}

}  // namespace

FrmHelpAbout::FrmHelpAbout() : Form("frmHelpAbout") {
    Width = 5400;
    Height = 2550;
    picIcon.Move(240, 240, 720, 720);
    picIcon.Picture = "rompush.png";
    lblAbout.Move(1200, 240, 3960, 330);
    lblAbout.Font.Bold = true;
    lblAbout.Font.Size = 9.75;
    lblVersion.Move(1200, 630, 3960, 255);
    lblCopyright.Move(1200, 990, 3960, 690);
    btnOK.Caption = "OK";
    btnOK.Move(2850, 1920, 1095, 375);
    btnHelp.Caption = "Help";
    btnHelp.Move(4065, 1920, 1095, 375);
}

std::vector<Control*> FrmHelpAbout::Controls() {
    return {&picIcon, &lblAbout, &lblVersion, &lblCopyright, &btnOK, &btnHelp};
}

void frmHelpAbout_Load() {
    auto& box = Box();
    box.Loaded = true;
    box.Caption = std::string("About ") + kProgramName + " Utility";
    box.lblVersion.Caption = std::string("Version ") + kVersion;
    box.lblCopyright.Caption = kNotice;
    box.btnOK.MouseUp = frmHelpAbout_btnOK_Click;
    box.btnHelp.MouseUp = frmHelpAbout_btnHelp_Click;
    // Closed by the window manager, the box must give the main window back as OK does.
    box.Unload = frmHelpAbout_btnOK_Click;
    box.SetFocus(box.btnOK);
    KeepOnTop(box, true);
}

void frmHelpAbout_Unload() {
    UnloadDialog(Box());
}

void btnShowHelp_Click() {
    auto& main = frmUI();
    auto& box = frmHelpAbout();
    box.lblAbout.Caption = std::string("Tarn Electronics ") + kProgramName + " Utility";
    main.Enabled = false;
    // Shown again after Help hid it: on top as when it was loaded.
    KeepOnTop(box, true);
    // On top, yet it has the keyboard, as a modal box has.
    box.Activate();
}

void cmdTitleBarButton_Click() {
    btnShowHelp_Click();
}

void btnTitleBar_Click() {
    cmdTitleBarButton_Click();
}

void frmHelpAbout_btnOK_Click() {
    KeepOnTop(Box(), false);
    frmHelpAbout_Unload();
    GiveMainWindowBack();
}

void frmHelpAbout_btnHelp_Click() {
    KeepOnTop(Box(), false);
    Box().Visible = false;
    GiveMainWindowBack();
    OpenHelp(1);
}

std::string HelpFilePath(int selector) {
    const std::string name = HelpFileOf(selector);
    if (name.empty())
        return "";
    std::error_code error;
    for (const std::string& folder : HelpFolders()) {
        const std::string path = folder + name;
        if (std::filesystem::is_regular_file(path, error))
            return path;
    }
    return "";
}

void OpenHelp(int selector) {
    if (HelpFileOf(selector).empty())
        return;
    const std::string path = HelpFilePath(selector);
    if (path.empty()) {
        std::string folders;
        for (const std::string& folder : HelpFolders())
            folders += "\r\n" + folder;
        Say("The help file " + HelpFileOf(selector).substr(1) + " cannot be found in:" + folders);
        return;
    }
    if (!P().help || !P().help->ShowContents(path))
        Say("No program to show the help file was found:\r\n" + path);
}

}  // namespace rompush::ui
