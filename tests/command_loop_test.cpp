// Start-up, the command loop, the buttons, the hidden shortcuts, tracing and shut-down.
#include <tuple>

#include "app/main_loop.h"
#include "program_fixture.h"
#include "serial/comm.h"
#include "serial/identify.h"
#include "ui/main_window.h"

namespace rompush::testing {
namespace {

constexpr int kCtrl = 0x11, kT = 0x54, kF12 = 0x7B;

class CommandLoopTest : public ProgramTest {
  protected:
    void Start() {
        StartUp();
        ASSERT_TRUE(frmUI().Visible);
    }
    int QuestionsAsked(const std::string& title) {
        int n = 0;
        for (const auto& m : sim.dialogs.Messages())
            n += m.title == title;
        return n;
    }
};

TEST_F(CommandLoopTest, StartUpShowsTheMainWindowAndSelectsAPort) {
    sim.serial.Attach(2, std::make_shared<ScriptedDevice>());
    Start();
    EXPECT_EQ(frmUI().Caption, "RomPush Utility  1.8G");
    EXPECT_EQ(frmUI().cboPORT.Items, (std::vector<std::string>{"2", "PS/2"}));
    EXPECT_EQ(g.port.CommPortNumber, 2);
    EXPECT_TRUE(sim.serial.PortOpen() && frmUI().btnSCAN.Enabled && frmUI().btnHEXFILE.Enabled);
    EXPECT_TRUE(frmUI().cboPORT.Enabled && frmUI().Focused == &frmUI().btnSCAN);
    EXPECT_EQ(g.port.BaudSetting, "115200");
    EXPECT_EQ(sim.system.Mutexes(), (std::vector<std::string>{"RomPushMutexName"}));
    EXPECT_GE(sim.clock.NowMs(), 1000);  // "Detecting Com Ports..." stays a second
    EXPECT_EQ(g.cmd.HelpFileName, "/Help_Tarn.html");
    EXPECT_FALSE(g.cmd.MainLoopRunning);  // until the first pass
    CommandLoopPass();
    EXPECT_TRUE(g.cmd.MainLoopRunning);
}

TEST_F(CommandLoopTest, EarlyStartUpErrorRestartsTheStartUpAtMostFiveTimes) {
    sim.system.FailNextMutexes(1);
    Start();
    ASSERT_EQ(sim.dialogs.Messages().size(), 1u);
    const auto& message = sim.dialogs.Messages()[0];
    EXPECT_EQ(std::tie(message.title, message.style), std::tuple("RomPush Utility", 16));
    EXPECT_EQ(message.prompt,
              "Error Number: 5\r\nDescription: Out of memory\r\n\r\nRestarting RomPush");
    EXPECT_EQ(g.cmd.StartupAttempts, 2);
    EXPECT_EQ(sim.system.Mutexes().size(), 1u);
    // Without serial ports the keyboard port is selected.
    EXPECT_EQ(frmUI().cboPORT.Items, (std::vector<std::string>{"PS/2"}));
    EXPECT_EQ(g.port.CommPortNumber, 99);
    EXPECT_FALSE(sim.serial.PortOpen());

    ResetState();
    sim.system.FailNextMutexes(1000);
    EXPECT_THROW(StartUp(), platform::ProgramEnded);
    EXPECT_EQ(sim.dialogs.Messages().size(), 1u + 5u);
}

TEST_F(CommandLoopTest, ButtonsPostTheirCodesAndMarkTheTrace) {
    Start();
    StartTrace();
    auto& f = frmUI();
    using Post = std::tuple<ui::CommandButton*, int, std::string>;
    for (auto [button, code, name] : std::vector<Post>{{&f.btnSCAN, 1, "SCAN"},
                                                       {&f.btnHEXFILE, 2, "HEXFILE"},
                                                       {&f.btnERASE, 4, "ERASE"},
                                                       {&f.btnVERIFY, 5, "VERIFY"},
                                                       {&f.btnPROGRAM, 6, "PROGRAM"},
                                                       {&f.btnLASTUSED, 7, "LASTUSED"}}) {
        button->MouseUp();
        EXPECT_EQ(g.cmd.UiCommand, code);
        const auto lines = TraceLines();
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(std::vector(lines.end() - 3, lines.end()),
                  (std::vector<std::string>{"", "-----uicmd" + name, ""}));
    }
    // The Crossfield's copy and setup buttons post ERASE and VERIFY with their target.
    const auto before = TraceLines().size();
    for (auto [button, code, target] : std::vector<Post>{{&f.btnMainCpy, 4, "MAIN"},
                                                         {&f.btnKernelCpy, 4, "KERNEL"},
                                                         {&f.btnDefaults, 5, "DEFAULTS"},
                                                         {&f.btnStartCpu, 5, "STARTCPU"}}) {
        button->MouseUp();
        EXPECT_EQ(g.cmd.UiCommand, code);
        EXPECT_EQ(code == 4 ? g.cmd.CopyTarget : g.cmd.CfxSetup, target);
    }
    EXPECT_EQ(TraceLines().size(), before);  // they write no marker
}

TEST_F(CommandLoopTest, PendingCommandsRunUnknownOnesStayAndTheIdleLoopSleeps) {
    Start();
    for (auto* button : {&frmUI().btnHEXFILE, &frmUI().btnERASE, &frmUI().btnVERIFY,
                         &frmUI().btnPROGRAM, &frmUI().btnLASTUSED}) {
        button->MouseUp();
        CommandLoopPass();
        EXPECT_EQ(g.cmd.UiCommand, 0);
    }
    g.cmd.UiCommand = 3;
    RunLoopUntil(sim.clock.NowMs() + 500);
    EXPECT_EQ(g.cmd.UiCommand, 3);
    g.cmd.UiCommand = 0;
    const auto passes = sim.events.Passes();
    RunLoopUntil(sim.clock.NowMs() + 10000);
    // Every pass yields and waits for events instead of spinning through virtual time.
    EXPECT_LE(sim.events.Passes() - passes, 10000 / 50 + 5);
}

TEST_F(CommandLoopTest, HeldCtrlTAsksOnceAfterReleaseInTheProgramsOwnWindowOnly) {
    Start();
    sim.dialogs.AnswerNext(platform::mb::kAnswerNo);
    const auto now = sim.clock.NowMs();
    sim.At(now + 100, [&] {
        sim.desktop.Press(kCtrl);
        sim.desktop.Press(kT);
    });
    sim.At(now + 900, [&] {
        EXPECT_EQ(QuestionsAsked("RomPush Utility"), 0);  // not while held
        sim.desktop.Release(kT);
        sim.desktop.Release(kCtrl);
    });
    RunLoopUntil(now + 2000);
    ASSERT_EQ(QuestionsAsked("RomPush Utility"), 1);
    const auto& question = sim.dialogs.Messages().back();
    EXPECT_EQ(question.style, 4 + 32);
    EXPECT_EQ(question.prompt,
              "        FOR DIAGNOSTICS ONLY  \r\n  \r\nStart program trace and save to file?  ");
    EXPECT_EQ(frmUI().Caption, " RomPush Utility");
    EXPECT_FALSE(g.trace.TraceOn);
}

TEST_F(CommandLoopTest, TraceFileStartsWithTheVersionLineUnlessItCannotBeWritten) {
    Start();
    sim.dialogs.AnswerNext(platform::mb::kAnswerYes);
    TraceQuestion();  // the save dialog is cancelled
    EXPECT_FALSE(g.trace.TraceOn);
    EXPECT_EQ(frmUI().Caption, " RomPush Utility");
    const auto& dialog = sim.dialogs.FileDialogs().back();
    EXPECT_EQ(std::vector({dialog.fileName, dialog.title, dialog.filter}),
              std::vector<std::string>(
                  {"*.txt", "SAVE TRACE FILE", "Text Files (*.txt)|*.txt|All Files (*.*)|*.*"}));
    sim.dialogs.AnswerNext(platform::mb::kAnswerYes);
    sim.dialogs.ChooseNextFile(PathIn("no-such-folder/trace.txt"));
    TraceQuestion();
    EXPECT_FALSE(g.trace.TraceOn || g.trace.File);
    EXPECT_EQ(sim.dialogs.Messages().back().style, 48);
    EXPECT_NE(sim.dialogs.Messages().back().prompt.find("cannot be opened"), std::string::npos);

    sim.dialogs.AnswerNext(platform::mb::kAnswerYes);
    sim.dialogs.ChooseNextFile(PathIn("mytrace.txt"));
    TraceQuestion();
    ASSERT_TRUE(g.trace.TraceOn);
    EXPECT_EQ(frmUI().Caption, " RomPush TRACE FILE: " + PathIn("mytrace.txt"));
    frmUI().btnSCAN.MouseUp();
    g.trace.File->flush();
    EXPECT_EQ(ReadFile(PathIn("mytrace.txt")),
              "RomPush Ver  1.8G\r\n\r\n\r\n-----uicmdSCAN\r\n\r\n");
}

TEST_F(CommandLoopTest, TraceIndentationFollowsTheNesting) {
    auto device = std::make_shared<ScriptedDevice>();
    sim.serial.Attach(1, device);
    Start();
    StartTrace();
    g.dev.DevLetter = "Q";
    xmitID_CMD();  // no answer: four attempts
    Delay(0);      // returns early
    ui::ShowMsg("done", ui::colour::kButtonFace);
    const auto lines = TraceLines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "        xmitID_CMD()");
    EXPECT_EQ(lines[1], "                ClearInBuffer()");
    EXPECT_EQ(lines[2], "                Delay( 100 )");
    EXPECT_EQ(lines[3], "                        Timer1_Timer()");
    EXPECT_EQ(lines[lines.size() - 2], "        Delay( 0 )");
    EXPECT_EQ(lines.back(), "        ShowMsg( done )");
    EXPECT_EQ(g.trace.TraceIndent, "");
}

TEST_F(CommandLoopTest, CtrlF12OffersTheTransmitterRecoveryOnlyForAMismatchedFile) {
    Start();
    auto pressCtrlF12 = [&] {
        sim.desktop.Press(kCtrl);
        sim.desktop.Press(kF12);
        sim.At(sim.clock.NowMs() + 200, [&] {
            sim.desktop.Release(kCtrl);
            sim.desktop.Release(kF12);
        });
    };
    auto offers = [&] { return QuestionsAsked("QRX-MP2 Firmware Recovery"); };
    g.cmd.UiCommand = 3;  // keeps the loop from running a command after the offer
    g.dev.DevLetter = "H";
    pressCtrlF12();
    // Not offered: another error, a file for another product, another device, another window.
    for (int step = 0; step < 4; ++step) {
        g.result.ErrorCode = step == 0 ? 1001 : 1002;
        g.hex.FileProductCode = step == 1 ? 0xDE : 0xDA;
        g.dev.DevIdName = step == 2 ? "QTRUSB" : "TWPx  Tx (Master)";
        sim.desktop.SetForeignWindowActive(step == 3);
        CommandLoopPass();
    }
    EXPECT_EQ(offers(), 0);
    sim.desktop.SetForeignWindowActive(false);
    // Cancel changes nothing, and the offer comes back only with Ctrl+F12 pressed again.
    sim.dialogs.AnswerNext(platform::mb::kAnswerCancel);
    pressCtrlF12();
    CommandLoopPass();
    ASSERT_EQ(offers(), 1);
    EXPECT_NE(sim.dialogs.Messages().back().prompt.find("for: TWPx  Tx (Slave)"),
              std::string::npos);
    EXPECT_EQ(g.dev.DevLetter, "H");
    EXPECT_EQ(g.cmd.UiCommand, 3);
    RunLoopUntil(sim.clock.NowMs() + 300);
    EXPECT_EQ(offers(), 1);
    // OK programs the device as the file's target.
    g.dev.DevIdName = "VLNMINI";
    g.hex.FileProductCode = 0xDB;
    sim.dialogs.AnswerNext(platform::mb::kAnswerOk);
    pressCtrlF12();
    CommandLoopPass();
    ASSERT_EQ(offers(), 2);
    const auto& offer = sim.dialogs.Messages().back();
    EXPECT_EQ(offer.style, 1 + 48 + 256);
    EXPECT_EQ(offer.prompt,
              "This hex file is for: TWPx  Tx (Master)    \r\r\nCurrent firmware is : TWPx  "
              "Transmitter\r\r\nDOWNLOAD TO HARDWARE?");
    EXPECT_EQ(g.dev.DevLetter, "M");
    EXPECT_EQ(g.cmd.UiCommand, uicmdPROGRAM);
}

TEST_F(CommandLoopTest, ClosingTheWindowEndsTheProgramEvenDuringAWait) {
    auto device = std::make_shared<ScriptedDevice>();
    sim.serial.Attach(1, device);
    Start();
    ASSERT_TRUE(sim.serial.PortOpen());
    sim.At(sim.clock.NowMs() + 500, [] { frmUI().Unload(); });
    EXPECT_THROW(Delay(3000), platform::ProgramEnded);
    EXPECT_FALSE(sim.serial.PortOpen() || frmUI().Visible || sim.timer.Enabled());
}

TEST_F(CommandLoopTest, CancelLeavesTheSerialMenuView) {
    Start();
    auto& f = frmUI();
    f.btnCANCEL.Caption = "Cancel";
    f.txtSerialDisplay.Text = "menu text";
    f.btnCANCEL.Visible = f.txtSerialDisplay.Visible = f.btnShowDiagnostic.Visible = true;
    f.btnCANCEL.MouseUp();
    EXPECT_TRUE(g.cmd.ContinueFlag);
    EXPECT_FALSE(f.btnShowDiagnostic.Visible);
    EXPECT_EQ(g.menus.ConsoleLog, "menu text");
    EXPECT_FALSE(f.txtSerialDisplay.Visible || f.btnCANCEL.Visible);
    f.btnCANCEL.Caption = "Exit Serial Console";
    f.btnCANCEL.MouseUp();
    EXPECT_TRUE(f.btnShowDiagnostic.Visible);
}

// The hidden shortcuts need both keys down together in a RomPush window: keys pressed one
// after the other, or together in another program's window, ask nothing.
TEST_F(CommandLoopTest, ShortcutsNeedBothKeysTogetherInTheProgramsWindow) {
    Start();
    g.result.ErrorCode = 1002;  // the recovery offer's conditions hold throughout
    g.dev.DevIdName = "VLNMINI";
    g.hex.FileProductCode = 0xDB;
    g.cmd.UiCommand = 3;  // no command runs
    auto tap = [&](std::initializer_list<int> keys) {
        for (int key : keys)
            sim.desktop.Press(key);
        for (int key : keys)
            sim.desktop.Release(key);
        RunLoopUntil(sim.clock.NowMs() + 200);
    };
    for (int second : {kT, kF12}) {
        tap({second});  // alone
        tap({kCtrl});   // alone, later
        sim.desktop.SetForeignWindowActive(true);
        tap({kCtrl, second});  // together, in another program's window
        sim.desktop.SetForeignWindowActive(false);
        RunLoopUntil(sim.clock.NowMs() + 200);
    }
    EXPECT_TRUE(sim.dialogs.Messages().empty());

    sim.dialogs.AnswerNext(platform::mb::kAnswerNo);
    sim.dialogs.AnswerNext(platform::mb::kAnswerCancel);
    tap({kCtrl, kT});
    tap({kCtrl, kF12});
    EXPECT_EQ(QuestionsAsked("RomPush Utility"), 1);
    EXPECT_EQ(QuestionsAsked("QRX-MP2 Firmware Recovery"), 1);
}

}  // namespace
}  // namespace rompush::testing
