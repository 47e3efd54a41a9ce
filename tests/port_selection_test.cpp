// The port list: the search, the remembered port, the operator's choice, the COM PORT dialog.
#include "commands/port_selection.h"

#include <tuple>

#include "core/settings_file.h"
#include "program_fixture.h"
#include "ui/frm_com_parameters.h"
#include "ui/main_window.h"

namespace rompush::testing {
namespace {

class PortSelectionTest : public ProgramTest {
  protected:
    PortSelectionTest() {
        ui::frmUI_Load();
        for (int n : {1, 3})
            sim.serial.Attach(n, std::make_shared<ScriptedDevice>());
    }
    void WriteIni(const std::string& portLine, const std::string& rest = "") {
        WriteFile(PathIn("RomPush.INI"), "ROMPUSH_INI_001\r\n25\r\n" + portLine +
                                             "\r\n 0 \r\n 1 \r\n 1 \r\n 8 \r\n 0 \r\n" + rest);
    }
    std::vector<std::string> Entries() { return frmUI().cboPORT.Items; }
};

TEST_F(PortSelectionTest, WithoutSettingsFileAllPortsAreTriedAndDefaultsUsed) {
    FindComPorts(true);
    const auto& attempts = sim.serial.OpenAttempts();
    ASSERT_GE(attempts.size(), 25u);
    for (int n = 1; n <= 25; ++n)
        EXPECT_EQ(attempts[n - 1], n);
    EXPECT_EQ(Entries(), (std::vector<std::string>{"1", "3", "PS/2"}));
    EXPECT_EQ(frmUI().cboPORT.ListIndex, 0);
    EXPECT_EQ(g.port.CommPortNumber, 1);
    // Data bits, stop bits, parity, baud rate and flow control at their defaults.
    auto& d = frmComParameters();
    EXPECT_EQ(std::vector({d.cboDataBits.ListIndex, d.cboStopBits.ListIndex, d.cboParity.ListIndex,
                           d.cboBaud.ListIndex, d.cboFlowControl.ListIndex}),
              std::vector({1, 0, 2, 6, 2}));
    EXPECT_EQ(d.txtMaxComPorts.Text, "25");
    EXPECT_EQ(g.port.HexDir, Folder() + "/HexFiles");
    EXPECT_TRUE(sim.serial.PortOpen() && sim.serial.CommPort() == 1);
    EXPECT_EQ(sim.serial.Settings(), "115200,N,8,1");
    EXPECT_EQ(frmUI().cboPORT.ToolTipText, "COM1  sim:COM1\nCOM3  sim:COM3");
}

TEST_F(PortSelectionTest, RememberedPortIsSelectedAndItsParametersKept) {
    WriteIni("Com3", "D /home/op/firmware/qtr.hex\r\n");
    FindComPorts(true);
    EXPECT_EQ(frmUI().cboPORT.Text(), "3");
    EXPECT_EQ(g.port.CommPortNumber, 3);
    EXPECT_EQ(sim.serial.CommPort(), 3);
    auto& dialog = frmComParameters();
    EXPECT_EQ(dialog.cboDataBits.ListIndex, 0);
    EXPECT_EQ(dialog.cboBaud.ListIndex, 8);
    EXPECT_EQ(g.port.SavedBaudIndex, 8);  // the next SCAN uses the stored parameters
    EXPECT_EQ(g.port.SavedDataBitsIndex, 0);
    EXPECT_EQ(g.port.HexDir, "/home/op/firmware/");  // from the first entry
}

TEST_F(PortSelectionTest, RememberedPortLineDecidesTheSelection) {
    // port line, the list's text, CommPortNumber, serial port open, settings file kept
    using Row = std::tuple<std::string, std::string, int, bool, bool>;
    for (auto [portLine, text, number, open, kept] :
         std::vector<Row>{{"PS/2", "PS/2", 99, false, true},
                          {"Com7", "1", 1, true, true},  // gone: the first entry
                          {"Xom3", "1", 1, true, false}}) {
        sim.serial.SetPortOpen(false);
        WriteIni(portLine);
        FindComPorts(true);
        EXPECT_EQ(frmUI().cboPORT.Text(), text) << portLine;
        EXPECT_EQ(g.port.CommPortNumber, number) << portLine;
        EXPECT_EQ(sim.serial.PortOpen(), open) << portLine;
        EXPECT_EQ(std::filesystem::exists(PathIn("RomPush.INI")), kept) << portLine;
    }
    EXPECT_EQ(frmComParameters().cboBaud.ListIndex, 6);  // the defaults again
}

TEST_F(PortSelectionTest, SearchLimitComesFromTheSettingsFile) {
    WriteFile(PathIn("RomPush.INI"), "ROMPUSH_INI_001\r\n2\r\nCom1\r\n");
    FindComPorts(true);
    EXPECT_EQ(g.port.MaxComPorts, 2);
    EXPECT_EQ(Entries(), (std::vector<std::string>{"1", "PS/2"}));
    // No ports at all still offer the keyboard port.
    g.port.MaxComPorts = 0;
    frmComParameters().txtMaxComPorts.Text = "0";
    FindComPorts(false);
    EXPECT_EQ(Entries(), (std::vector<std::string>{"PS/2"}));
    EXPECT_EQ(g.port.CommPortNumber, 0);
}

TEST_F(PortSelectionTest, ChoosingAnotherPortForgetsTheDevice) {
    FindComPorts(true);
    ui::SetStatusPanel2("TWPx  Receiver");
    g.dev.DeviceFound = true;
    frmUI().cboPORT.SetListIndex(0);  // the same port again: only reopened
    EXPECT_EQ(frmUI().StatusBar1.Panels[1].Text, "TWPx  Receiver");
    EXPECT_TRUE(g.dev.DeviceFound);
    frmUI().cboPORT.SetListIndex(1);
    EXPECT_EQ(g.port.CommPortNumber, 3);
    EXPECT_EQ(frmUI().StatusBar1.Panels[1].Text, "");
    EXPECT_FALSE(g.dev.DeviceFound);
    EXPECT_EQ(sim.serial.CommPort(), 3);
    EXPECT_EQ(frmUI().btnHEXFILE.Caption, "SELECT HEX FILE");
}

TEST_F(PortSelectionTest, LostFocusFollowsTheSelectionAndATakenPortIsNotAvailable) {
    FindComPorts(true);
    auto& list = frmUI().cboPORT;
    list.ListIndex = 2;
    list.LostFocus();
    EXPECT_EQ(g.port.CommPortNumber, 99);
    list.ListIndex = 1;
    list.LostFocus();
    EXPECT_EQ(g.port.CommPortNumber, 3);
    sim.serial.MarkInUse(1);
    list.SetListIndex(0);
    EXPECT_EQ(g.result.ErrorCode, 1);
    EXPECT_EQ(frmUI().lblPASS.Caption, "COMM port not available");
    EXPECT_EQ(frmUI().frmPASS.BackColor, ui::colour::kLightYellow);
}

TEST_F(PortSelectionTest, MaxPortsFieldKeepsTwoDigits) {
    g.port.MaxComPorts = 25;
    auto& field = frmComParameters().txtMaxComPorts;
    for (const auto& [typed, kept] : std::vector<std::pair<std::string, std::string>>{
             {"1a", "1"}, {"123", "13"}, {"", "25"}, {"a", "25"}, {"7", "7"}, {"x9", "9"}}) {
        field.SetText(typed);
        EXPECT_EQ(field.Text, kept) << typed;
    }
}

TEST_F(PortSelectionTest, DialogOkReopensThePortOrRebuildsTheListForANewLimit) {
    FindComPorts(true);
    g.cmd.MainLoopRunning = true;
    g.port.BaudSetting = "57600,";
    g.files.SelectedFileName = "qtr.hex";
    frmUI().btnCommPort.MouseUp();
    auto& dialog = frmComParameters();
    EXPECT_TRUE(dialog.Visible);
    EXPECT_FALSE(frmUI().Enabled || dialog.btnDefaults.Enabled);
    dialog.cboParity.ListIndex = 0;
    dialog.cboParity.LostFocus();
    EXPECT_TRUE(dialog.btnDefaults.Enabled);
    dialog.btnOK.MouseUp();
    EXPECT_EQ(g.port.SavedParityIndex, 0);
    EXPECT_EQ(sim.serial.Settings(), "57600,E,8,1");
    EXPECT_EQ(g.files.SelectedFileName, "qtr.hex");  // new parameters keep the file
    EXPECT_TRUE(frmUI().Enabled && !dialog.Visible);
    EXPECT_EQ(Entries().size(), 3u);
    // A new search limit rebuilds the list and forgets the file.
    frmUI().btnCommPort.MouseUp();
    dialog.txtMaxComPorts.SetText("2");
    dialog.btnOK.MouseUp();
    EXPECT_EQ(Entries(), (std::vector<std::string>{"1", "PS/2"}));
    EXPECT_EQ(g.port.MaxComPorts, 2);
    EXPECT_EQ(g.files.SelectedFileName, "");
    // Defaults puts the lists back.
    dialog.btnDefaults.Enabled = true;
    dialog.btnDefaults.MouseUp();
    EXPECT_EQ(dialog.cboParity.ListIndex, 2);
    EXPECT_FALSE(dialog.btnDefaults.Enabled);
}

}  // namespace
}  // namespace rompush::testing
