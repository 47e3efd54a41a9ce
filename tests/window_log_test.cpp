// The window log (ROMPUSH_WINDOW_LOG) of a SCAN on a simulated receiver: what the status bar,
// the port list and the dialog in front show, as the lines a script waits for.
#include "providers/qt/window_log.h"

#include <algorithm>
#include <sstream>

#include "program_fixture.h"
#include "ui/frm_com_parameters.h"

namespace rompush::testing {
namespace {

std::string IdAnswer(int type) {
    return Bytes({7, 0x41, type, 0, 0, 0, 0});
}

class WindowLogTest : public ProgramTest {
  protected:
    WindowLogTest() {
        device = std::make_shared<ScriptedDevice>();
        sim.serial.Attach(2, device);
        sim.serial.Attach(5, std::make_shared<ScriptedDevice>());
        StartUp();
        EXPECT_TRUE(log.Open(PathIn("window.log")));
        Pass();
    }
    // What the real window's event processing does: every window recorded, then the front.
    void Pass() {
        log.Record(frmUI());
        log.Record(frmComParameters());
        log.EndPass();
    }
    std::vector<std::string> Lines() {
        std::vector<std::string> lines;
        std::istringstream in(ReadFile(PathIn("window.log")));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    bool Logged(const std::string& line) {
        const auto lines = Lines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    std::shared_ptr<ScriptedDevice> device;
    platform::qt::WindowLog log;
};

TEST_F(WindowLogTest, ScanOnAReceiverLogsItsPanelsThePortListAndTheDialogInFront) {
    EXPECT_TRUE(Logged("frmUI.cboPORT.List = 2|5|PS/2"));
    EXPECT_TRUE(Logged("frmUI.cboPORT.Text = 2"));
    EXPECT_TRUE(Logged("Dialog = "));
    EXPECT_FALSE(Logged("frmUI.StatusBar1.Panel2 = TWPx  Receiver"));

    device->Reply(IdAnswer(3));
    device->Reply(IdAnswer(3));
    device->Reply(Bytes({9, 0x43, '1', '2', 'a', 0, 0, 0, 0}));
    device->Reply(Bytes({4, 0x53, 0, 0}));
    device->Reply(Bytes({9, 0x43, '1', '0', 'b', 0, 0, 0, 0}));
    Press(frmUI().btnSCAN);
    ASSERT_EQ(frmUI().lblPASS.Caption, "TARN Product Found");
    Pass();
    for (const char* line :
         {"frmUI.StatusBar1.Panel2 = TWPx  Receiver", "frmUI.StatusBar1.Panel3 = Rev D1.2A",
          "frmUI.StatusBar1.Panel4 = BSL 1.0B", "frmUI.StatusBar1.Panel5 = COM2",
          "frmUI.frmPASS.BackColor = &H0000C000"})
        EXPECT_TRUE(Logged(line)) << line;

    // COM PORT: opens its dialog in front of the main window; OK closes it.
    frmUI().btnCommPort.MouseUp();
    Pass();
    EXPECT_EQ(Lines().back(), "Dialog = frmComParameters: Parameters for all COM ports");
    frmComParameters().btnOK.MouseUp();
    Pass();
    EXPECT_EQ(Lines().back(), "Dialog = ");
    // Only changes are written: a pass over unchanged windows adds nothing.
    const std::size_t count = Lines().size();
    Pass();
    EXPECT_EQ(Lines().size(), count);
}

}  // namespace
}  // namespace rompush::testing
