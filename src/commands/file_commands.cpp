// SELECT HEX FILE and GET LAST USED: choosing the file that PROGRAM and VERIFY will use. Both
// hand the file to the HEX file check, which reads it and compares its product code with the
// identified device, and then let the button rules decide what the result allows.
#include "commands/commands.h"
#include "core/state.h"
#include "core/text.h"
#include "hexfile/hex_file_dialog.h"
#include "hexfile/hex_validation.h"
#include "platform/platform.h"
#include "serial/comm.h"
#include "ui/main_window.h"

namespace rompush {

void HexFileCommand() {
    ui::DisableAllButtons();
    g.result.ErrorCode = 0;
    ui::DisplayError();
    g.cmd.CurrentCommand = uicmdHEXFILE;

    const std::string path = ChooseHexFile("SELECT HEX FILE");
    Delay(100);

    auto& files = g.files;
    if (!path.empty()) {
        // A file that fails the check stays selected, so its name stays on the button.
        files.SelectedFilePath = path;
        files.SelectedFileName = FileNameOf(path);
        ValidateHexFile(files.SelectedFileName, files.SelectedFilePath);
        ui::ButtonEnabler();
        if (g.result.ErrorCode == 0) {
            ui::DisplayError();
            if (files.HexFileRead)
                ui::ShowMsg("HEX FILE OK", ui::colour::kGreen);
            Delay(1000);
        }
    } else {
        ui::ButtonEnabler();  // the previous selection stays
    }
    EndCommand(uicmdHEXFILE);
}

void LastUsedCommand() {
    auto& files = g.files;
    platform::Current().desktop->SetMousePointer(platform::MousePointer::Hourglass);
    ui::DisableAllButtons();
    const bool valid = ValidateHexFile(files.LastUsedName, files.LastUsedPath);
    if (valid) {
        files.SelectedFileName = files.LastUsedName;
        files.SelectedFilePath = files.LastUsedPath;
    }
    ui::ButtonEnabler();
    // With no last-used file nothing was checked: "HEX FILE OK" would claim a file that
    // was never loaded.
    if (g.result.ErrorCode == 0 && valid) {
        ui::DisplayError();
        ui::ShowMsg("HEX FILE OK", ui::colour::kGreen);
        Delay(1000);
        // SELECT HEX FILE opens next in the folder of the last-used file.
        const std::size_t nameLength = files.LastUsedName.size();
        if (files.LastUsedPath.size() >= nameLength)
            g.port.HexDir = files.LastUsedPath.substr(0, files.LastUsedPath.size() - nameLength);
    }
    EndCommand(uicmdLASTUSED);
    auto& form = frmUI();
    if (form.btnPROGRAM.Enabled)
        form.SetFocus(form.btnPROGRAM);
}

}  // namespace rompush
