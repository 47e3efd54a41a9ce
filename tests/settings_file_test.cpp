// The settings file: last-used entries per device letter, header lines, safe rewriting.
#include "core/settings_file.h"

#include <tuple>

#include "app/main_loop.h"
#include "core/state.h"
#include "program_fixture.h"

namespace rompush::testing {
namespace {

class SettingsFileTest : public ProgramTest {
  protected:
    std::string Ini() { return ReadFile(PathIn("RomPush.INI")); }
    void Program(const std::string& letter, const std::string& path) {
        g.dev.DevLetter = letter;
        g.files.SelectedFilePath = path;
        WriteINI();
    }
    std::string Header() {
        return "ROMPUSH_INI_001\r\n25\r\nCom3\r\n 1 \r\n 0 \r\n 2 \r\n 6 \r\n 2 \r\n";
    }
    void SetUp() override {
        g.port.MaxComPorts = 25;
        g.port.CommPortNumber = 3;
    }
};

TEST_F(SettingsFileTest, EachDeviceLetterKeepsOneEntryReplacedInPlace) {
    Program("D", "/fw/qtr.hex");
    EXPECT_EQ(Ini(), Header() + "D /fw/qtr.hex\r\n");
    Program("H", "/fw/vln.hex");
    Program("D", "/fw/qtr2.hex");
    EXPECT_EQ(Ini(), Header() + "D /fw/qtr2.hex\r\nH /fw/vln.hex\r\n");
    // An entry with an empty path is dropped at the next rewrite.
    std::filesystem::remove(PathIn("RomPush.INI"));
    Program("D", "");
    EXPECT_EQ(Ini(), Header() + "D \r\n");
    Program("H", "/fw/vln.hex");
    EXPECT_EQ(Ini(), Header() + "H /fw/vln.hex\r\n");
    // There is room for eleven letters.
    for (char letter : std::string("ABCDEFGHIJKL"))
        Program(std::string(1, letter), "/fw/x.hex");
    EXPECT_NE(Ini().find("K /fw/x.hex"), std::string::npos);
    EXPECT_EQ(Ini().find("L /fw/x.hex"), std::string::npos);
}

TEST_F(SettingsFileTest, PortLineAndListPositionsFollowTheProgram) {
    g.port.CommPortNumber = 99;
    g.port.MaxComPorts = 7;
    frmComParameters().cboBaud.ListIndex = 8;
    Program("K", "/fw/k.hex");
    EXPECT_EQ(Ini(),
              "ROMPUSH_INI_001\r\n7\r\nPS/2\r\n 1 \r\n 0 \r\n 2 \r\n 8 \r\n 2 \r\nK /fw/k.hex\r\n");
}

TEST_F(SettingsFileTest, CheckIniFindsTheStoredFileOnlyWhenItExists) {
    const std::string hex = PathIn("qtr v2.hex");
    WriteFile(hex, "");  // a file of length 0 still exists
    Program("D", hex);
    Program("H", PathIn("gone.hex"));
    // letter -> name and path found
    using Row = std::tuple<std::string, std::string, std::string>;
    for (auto [letter, name, path] :
         std::vector<Row>{{"D", "qtr v2.hex", hex}, {"H", "", ""}, {"K", "", ""}}) {
        g.dev.DevLetter = letter;
        std::string foundName = "x", foundPath = "y";
        CheckINI(foundName, foundPath);
        EXPECT_EQ(foundName, name) << letter;
        EXPECT_EQ(foundPath, path) << letter;
    }
    std::filesystem::remove(PathIn("RomPush.INI"));
    std::string foundName = "x", foundPath;
    CheckINI(foundName, foundPath);
    EXPECT_EQ(foundName, "");
    // A settings file with bare line feeds is read too.
    WriteFile(PathIn("RomPush.INI"),
              "ROMPUSH_INI_001\n25\nCom1\n 1 \n 0 \n 2 \n 6 \n 2 \nD " + hex + "\n");
    g.dev.DevLetter = "D";
    CheckINI(foundName, foundPath);
    EXPECT_EQ(foundPath, hex);
}

TEST_F(SettingsFileTest, FExistsTellsFilesFromFoldersAndNothing) {
    WriteFile(PathIn("empty"), "");
    EXPECT_TRUE(FExists(PathIn("empty")));
    EXPECT_FALSE(FExists(PathIn("missing")) || FExists(Folder()));
    StartTrace();
    FExists(PathIn("empty"));
    const auto lines = TraceLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "        FExists(  " + PathIn("empty") + " )");
    EXPECT_EQ(lines[1], "        --  FExists =  True");
}

TEST_F(SettingsFileTest, FailedRewriteKeepsTheOldFile) {
    Program("D", "/fw/qtr.hex");
    const std::string before = Ini();
    // A folder in the way of the new file makes the write fail.
    std::filesystem::create_directory(PathIn("RomPush.INI.new"));
    Program("H", "/fw/vln.hex");
    EXPECT_EQ(Ini(), before);
    std::filesystem::remove(PathIn("RomPush.INI.new"));
    Program("H", "/fw/vln.hex");
    EXPECT_NE(Ini(), before);
    EXPECT_FALSE(std::filesystem::exists(PathIn("RomPush.INI.new")));
}

TEST_F(SettingsFileTest, SignatureCheckDeletesForeignFiles) {
    WriteFile(PathIn("RomPush.INI"), "SOMETHING_ELSE\r\n");
    CheckIniSignature();
    EXPECT_FALSE(std::filesystem::exists(PathIn("RomPush.INI")));
    Program("D", "/fw/qtr.hex");
    CheckIniSignature();
    EXPECT_TRUE(std::filesystem::exists(PathIn("RomPush.INI")));
}

// A settings file whose COM parameter lines are missing, unreadable or out of range starts with
// the lists' default positions (and the usual 25 ports), never with position 0 of every list.
TEST_F(SettingsFileTest, MissingOrBadHeaderLinesTakeTheDefaults) {
    for (const char* header :
         {"ROMPUSH_INI_001\r\n\r\nCom3\r\n",
          "ROMPUSH_INI_001\r\nxx\r\nCom3\r\n x \r\n\r\n abc\r\n 99 \r\n -1 \r\n"}) {
        SCOPED_TRACE(header);
        ResetState();
        WireMainWindowHandlers();
        WriteFile(PathIn("RomPush.INI"), header);
        StartUp();
        EXPECT_EQ(g.port.MaxComPorts, 25);
        EXPECT_EQ(g.port.SavedDataBitsIndex, ui::kDefaultDataBitsIndex);
        EXPECT_EQ(g.port.SavedStopBitsIndex, ui::kDefaultStopBitsIndex);
        EXPECT_EQ(g.port.SavedParityIndex, ui::kDefaultParityIndex);
        EXPECT_EQ(g.port.SavedBaudIndex, ui::kDefaultBaudIndex);
        EXPECT_EQ(g.port.SavedFlowIndex, ui::kDefaultFlowIndex);
    }
}

}  // namespace
}  // namespace rompush::testing
