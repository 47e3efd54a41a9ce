// The about box of "Help|About" and HELP, and the help it opens.
#include <filesystem>

#include "program_fixture.h"

namespace rompush::testing {
namespace {

class HelpAboutTest : public ProgramTest {
  protected:
    HelpAboutTest() { g.cmd.HelpFileName = "/Help_Tarn.html"; }
    ui::FrmHelpAbout& Box() { return g.forms->frmHelpAbout; }
    // A file that came with the program, in the folder given.
    static std::string Ship(const std::string& folder, const std::string& name) {
        std::filesystem::create_directories(std::filesystem::path(folder + name).parent_path());
        WriteFile(folder + name, "<html></html>");
        return folder + name;
    }
    std::string LastMessage() { return sim.dialogs.Messages().back().prompt; }
};

TEST_F(HelpAboutTest, BothButtonsOpenTheBoxAndOkOrClosingGivesTheMainWindowBack) {
    auto& main = frmUI();
    unsigned opened = 0;
    for (ui::CommandButton* button : {&main.btnTitleBar, &main.btnShowHelp}) {
        for (bool closedByWindowManager : {false, true}) {
            button->MouseUp();
            EXPECT_EQ(Box().Caption + "|" + Box().lblAbout.Caption + "|" +
                          Box().lblVersion.Caption + "|" + Box().lblCopyright.Caption,
                      "About RomPush Utility|Tarn Electronics RomPush Utility|Version  1.8G|"
                      "Copyright \xA9 2026 Tarn Electronics.\r\nAll rights reserved.");
            EXPECT_TRUE(Box().Visible && Box().TopMost && !main.Enabled);
            EXPECT_EQ(Box().Activations, ++opened);
            closedByWindowManager ? Box().Unload() : Box().btnOK.MouseUp();
            EXPECT_FALSE(Box().Visible || Box().TopMost || Box().Loaded || !main.Enabled);
            EXPECT_EQ(main.Activations, opened);
        }
    }
    EXPECT_TRUE(sim.help.Shown().empty());
}

// Help hides the box and opens the file; the program folder comes first (an operator's own
// help), then beside the program and the installed data folder.
TEST_F(HelpAboutTest, HelpOpensEachSelectorsFileWhereverItWasInstalled) {
    const std::string beside = PathIn("bin"), installed = PathIn("share");
    sim.system.SetDataFolders({beside, installed});
    frmUI().btnTitleBar.MouseUp();
    Box().btnHelp.MouseUp();
    EXPECT_EQ(LastMessage(), "The help file Help_Tarn.html cannot be found in:\r\n" + Folder() +
                                 "\r\n" + beside + "\r\n" + installed);
    EXPECT_TRUE(Box().Loaded && !Box().Visible && !Box().TopMost && frmUI().Enabled);
    EXPECT_TRUE(sim.help.Shown().empty());

    const std::string own = Ship(Folder(), "/Help_Tarn.html");
    const std::string example = Ship(installed, "/help/CHM-example.html");
    const std::string other = Ship(beside, "/help/CHM-other-language.html");
    Ship(installed, "/help/CHM-other-language.html");
    frmUI().btnShowHelp.MouseUp();
    EXPECT_TRUE(Box().Visible && Box().TopMost && !frmUI().Enabled);
    Box().btnHelp.MouseUp();
    ui::OpenHelp(2);
    ui::OpenHelp(3);
    EXPECT_EQ(sim.help.Shown(), (std::vector<std::string>{own, example, other}));

    sim.help.SetAvailable(false);
    ui::OpenHelp(1);
    EXPECT_EQ(LastMessage(), "No program to show the help file was found:\r\n" + own);
}

}  // namespace
}  // namespace rompush::testing
