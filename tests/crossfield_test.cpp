// The Crossfield served as the operator serves it: recognised after a power cycle, its
// diagnostics continued, its buttons clicked, left again; against the simulated Crossfield in
// virtual time. The operator is a script of steps, each run once its condition shows.
#include "menus/crossfield.h"

#include <algorithm>
#include <deque>
#include <functional>

#include "core/settings_file.h"
#include "hex_file_writer.h"
#include "menus/crossfield_steps.h"
#include "menus/serial_banner.h"
#include "program_fixture.h"
#include "serial/comm.h"
#include "sim/crossfield_product.h"

namespace rompush::testing {
namespace {

using sim::CrossfieldProduct;

class CrossfieldTest : public ProgramTest {
  protected:
    using Check = std::function<bool()>;
    using Act = std::function<void()>;

    void Attach(CrossfieldProduct::Options options) {
        product = std::make_shared<CrossfieldProduct>(options);
        line = &sim.serial.Attach(1, product);
        StartUp();
        image = PatternImage(2048);
        WriteHexFile(PathIn("cfx.hex"), ProductCodeFor('U'), 0, image);
    }

    // The operator: each step waits for its condition, checked every 20 ms of virtual time.
    void When(Check check, Act act) { steps_.push_back({std::move(check), std::move(act)}); }
    void Click(
        ui::CommandButton& button, Check also = [] { return true; }) {
        When([&button, also] { return button.Visible && button.Enabled && also(); },
             [&button] { button.MouseUp(); });
    }
    void Continue() {
        auto& cancel = frmUI().btnCANCEL;
        Click(cancel, [&cancel] { return cancel.Caption == "CONTINUE"; });
    }
    // The Crossfield's buttons usable again, and the banner says so.
    Check Shows(const std::string& banner) {
        return [banner] { return frmUI().lblPASS.Caption == banner && frmUI().btnSCAN.Enabled; };
    }
    // The operator leaves by the menu's exit option in the console.
    void ExitByConsole(
        Check after, Act before = [] {}) {
        When(std::move(after), [before] {
            before();
            g.menus.MenuExitChosen = true;
        });
    }
    void SelectFile() {
        sim.dialogs.ChooseNextFile(PathIn("cfx.hex"));
        Click(frmUI().btnHEXFILE, [] { return g.cmd.ProductMode == "CFX"; });
    }

    // Power on; once the first burst is waiting the idle loop's banner check hears it (or,
    // `lateMs` later, the entry given) and the Crossfield is served until it is left.
    void PowerUpAndEnter(int lateMs = 0, void (*entry)() = CheckSerialBanner) {
        product->PowerCycle();
        while (sim.serial.InBufferCount() <= 50)
            sim.events.WaitForEvents(10);
        if (lateMs > 0)
            Delay(static_cast<std::int16_t>(lateMs));
        Serve(entry);
    }
    // The operator's steps while `run` serves the Crossfield; the window is normal afterwards.
    void Serve(const std::function<void()>& run) {
        Poll();
        run();
        EXPECT_TRUE(steps_.empty()) << steps_.size() << " steps not taken";
        EXPECT_EQ(g.cmd.ProductMode, "FALSE");
        EXPECT_EQ(g.port.BaudSetting, "115200");
        EXPECT_TRUE(sim.serial.PortOpen() || line->Unplugged());
    }
    // What the PC wrote since the mark.
    std::string WireSince(std::size_t mark) const { return line->Wire().substr(mark); }
    std::size_t Mark() const { return line->Wire().size(); }

    // Every message line the window showed, as the operator would have seen it, and when.
    void WatchMessages() {
        const std::string& shown = frmUI().lblPASS.Caption;
        if (messages.empty() || shown != messages.back().first)
            messages.emplace_back(shown, sim.clock.NowMs());
        sim.clock.ScheduleInUs(20000, [this] { WatchMessages(); });
    }
    // When the message was first shown, -1 when never.
    std::int64_t ShownAt(const std::string& message) const {
        for (const auto& [text, atMs] : messages) {
            if (text == message)
                return atMs;
        }
        return -1;
    }

    std::shared_ptr<CrossfieldProduct> product;
    sim::SerialLine* line = nullptr;
    std::vector<std::uint8_t> image;
    std::vector<std::pair<std::string, std::int64_t>> messages;

    // The operator's steps start being taken.
    void Poll() {
        sim.clock.ScheduleInUs(20000, [this] {
            if (!steps_.empty() && steps_.front().first()) {
                const Act act = steps_.front().second;
                steps_.pop_front();
                act();
            }
            if (!steps_.empty())
                Poll();
        });
    }

  private:
    std::deque<std::pair<Check, Act>> steps_;
};

TEST_F(CrossfieldTest, CrossfieldAt9600IsProgrammedAt57600AndRestartedAt57600) {
    Attach({.baud = 9600});
    std::size_t before = 0;
    auto& f = frmUI();
    When([&] { return f.btnCANCEL.Caption == "CONTINUE"; },
         [&] {
             EXPECT_NE(f.txtSwtDetected.Text.find("Crossfield Power On Diagnostics\r\n\r\n"
                                                  "Kernel version 2.10.03\r\n"),
                       std::string::npos);
             EXPECT_NE(f.txtSwtDetected.Text.find("\r\n\r\nSerial port at 9600 baud"),
                       std::string::npos);
             EXPECT_EQ(f.txtSwtDetected.Text.find("Hit space bar"), std::string::npos);
             f.btnCANCEL.MouseUp();
         });
    SelectFile();
    Click(f.btnPROGRAM, [&] {
        before = Mark();
        return f.lblPASS.Caption == "HEX FILE OK";
    });
    Click(f.btnSCAN, Shows("PROGRAM OK"));
    When([&] { return f.optBaud57600.Visible; },
         [&] {
             EXPECT_EQ(f.txtInfo.Text, "Serial port at 9600 baud at last Crossfield powerup.");
             EXPECT_TRUE(f.optBaud9600.Value);
             f.optBaud57600.Click();
             f.btnRestartCFX.MouseUp();
         });
    When([&] { return f.txtNote.Visible && f.btnCANCEL.Caption == "CONTINUE"; },
         [&] {
             EXPECT_EQ(f.txtNote.Text, "(RomPush will now exit Crossfeld mode.)");
             EXPECT_EQ(f.txtSwtDetected.Text.rfind("Power on diagnostics", 0), 0u);
             f.btnCANCEL.MouseUp();
         });
    PowerUpAndEnter();

    EXPECT_EQ(Panels()[0], "");  // the panels are cleared when the Crossfield is left
    const std::string file = ReadFile(PathIn("cfx.hex"));
    EXPECT_EQ(product->HeldFiles().at("cfx"), file);
    // To 57600 for the file, back to 9600; then the rate change saved, and the restart.
    std::string sent;
    for (char c : file) {
        if (c != '\n')
            sent += c;
    }
    EXPECT_EQ(WireSince(before), "2\r3" + sent + "2\r" + "2\r7" + "8");
    EXPECT_EQ(product->SavedBaud(), 57600);
    EXPECT_EQ(product->Baud(), 57600);
    std::string name, path;
    g.dev.DevLetter = "U";
    CheckINI(name, path);
    EXPECT_EQ(path, PathIn("cfx.hex"));
}

struct EntryCase {
    const char* name;
    int baud;
    int lateMs;            // the entry starts after the diagnostics had passed
    const char* keysSent;  // by the entry, up to the menu
};

class CrossfieldEntry : public CrossfieldTest, public ::testing::WithParamInterface<EntryCase> {};

TEST_P(CrossfieldEntry, ReachesTheMenuAndShowsTheVersions) {
    const auto& c = GetParam();
    Attach({.baud = c.baud, .startCpu = 13});
    auto& f = frmUI();
    Continue();
    ExitByConsole([&] { return g.cmd.ProductMode == "CFX" && f.btnPROGRAM.Visible; },
                  [&] {
                      EXPECT_EQ(Panels(), (Texts{"", "Crossfield", "---", "3.41B", "2.10.03"}));
                      EXPECT_EQ(f.btnStartCpu.Caption, "LOAD START CPU ... 13");
                      EXPECT_EQ(f.btnSCAN.Caption, "RESTART / CHANGE BAUD");
                      EXPECT_EQ(f.lblERASE.Caption,
                                "Send firmware from main board to other boards in the Crossfield.");
                  });
    PowerUpAndEnter(c.lateMs);
    EXPECT_EQ(line->Wire(), c.keysSent);
}

INSTANTIATE_TEST_SUITE_P(Entries, CrossfieldEntry,
                         ::testing::Values(EntryCase{"At57600", 57600, 0, " "},
                                           EntryCase{"At9600", 9600, 0, " "},
                                           EntryCase{"PowerOnTextMissed", 57600, 1500, " 8 "}),
                         CaseName());

struct StartCpuCase {
    const char* name;
    std::vector<const char*> entries;  // typed before each OK; "-" cancels
    const char* sent;                  // after the menu key "1"
    const char* shown;                 // the message line after the first OK
    const char* startCpu;              // read back afterwards
};

class CrossfieldStartCpu : public CrossfieldTest,
                           public ::testing::WithParamInterface<StartCpuCase> {};

TEST_P(CrossfieldStartCpu, EntryIsCheckedRoundedAndSaved) {
    const auto& c = GetParam();
    Attach({});
    auto& d = g.forms->frmStartCpu;
    std::size_t before = 0;
    std::string shown = "-";
    std::int64_t savingMs = 0;
    Continue();
    Click(frmUI().btnStartCpu, [&] {
        before = Mark();
        return g.cmd.ProductMode == "CFX";
    });
    for (std::size_t i = 0; i < c.entries.size(); ++i) {
        When([&d] { return d.Visible && !g.menus.cfx.StartCpuOk; },
             [&, i] {
                 if (i == 1)
                     shown = d.lblRoundMsg.Visible ? d.lblRoundMsg.Caption : "";
                 if (std::string(c.entries[i]) == "-")
                     return d.btnCancel.MouseUp();
                 if (std::string(c.entries[i]) != "=")
                     d.txtStartCpu.Text = c.entries[i];
                 d.btnOK.MouseUp();
             });
    }
    const bool rounded = std::string(c.shown).rfind("(Rounded", 0) == 0;
    if (rounded) {
        When([&] { return d.lblRoundMsg.Caption == "Saving starting cpu..."; },
             [&] { savingMs = sim.clock.NowMs(); });
    }
    ExitByConsole([&] { return !d.Visible && frmUI().btnSCAN.Enabled; });
    PowerUpAndEnter();
    EXPECT_EQ(WireSince(before), c.sent);
    if (c.entries.size() > 1) {
        EXPECT_EQ(shown, c.shown);
    }
    EXPECT_EQ(g.menus.StartCpu, c.startCpu);
    EXPECT_EQ(savingMs != 0, rounded);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, CrossfieldStartCpu,
    ::testing::Values(
        StartCpuCase{
            "SixIsRoundedToFive", {"6", "="}, "15\r7\r", "(Rounded to a multiple of 4 + 1)", "5"},
        StartCpuCase{"NineAtOnce", {"9"}, "19\r7\r", "", "9"},
        StartCpuCase{"LettersAreNoNumber", {"abc", "-"}, "1\r", "Not A Valid Number.", "5"},
        StartCpuCase{"EmptyIsNoNumber", {"", "-"}, "1\r", "Not A Valid Number.", "5"},
        StartCpuCase{
            "ZeroIsRoundedToOne", {"0", "="}, "11\r7\r", "(Rounded to a multiple of 4 + 1)", "1"},
        StartCpuCase{"CancelSendsOneReturn", {"-"}, "1\r", "", "5"}),
    CaseName());

class CrossfieldDefaults : public CrossfieldTest, public ::testing::WithParamInterface<int> {};

TEST_P(CrossfieldDefaults, KeepTheStartingComputerAndACopyWithoutBoardsFails) {
    const int startCpu = GetParam();
    Attach({.startCpu = startCpu, .boards = 0});
    auto& f = frmUI();
    std::size_t before = 0;
    std::string defaultsBanner, copyLabel;
    Continue();
    Click(f.btnDefaults, [&] {
        before = Mark();
        return g.cmd.ProductMode == "CFX";
    });
    Click(f.btnMainCpy, [&] {
        defaultsBanner = f.lblPASS.Caption;
        return f.btnSCAN.Enabled && Mark() > before;
    });
    ExitByConsole([&] {
        copyLabel = f.lblERASE.Caption;
        return f.lblERASE.BackColor == ui::colour::kRed && f.btnSCAN.Enabled;
    });
    PowerUpAndEnter();
    EXPECT_EQ(WireSince(before), startCpu == 1 ? "64" : "619\r7\r4");
    EXPECT_EQ(defaultsBanner, startCpu == 1 ? "LOAD DEFAULTS OK" : "");
    EXPECT_EQ(product->SavedStartCpu(), startCpu);
    EXPECT_EQ(product->SavedBaud(), 9600);
    EXPECT_EQ(copyLabel, "Error: no other boards answered.\r\nCheck the backplane cables.");
}

INSTANTIATE_TEST_SUITE_P(StartCpu, CrossfieldDefaults, ::testing::Values(1, 9));

TEST_F(CrossfieldTest, CopiesEndInCopyOkOnceTheyHaveEnded) {
    // MAIN after one question, KERNEL after two.
    Attach({});
    auto& f = frmUI();
    std::size_t before = 0;
    int copiesOk = 0;
    Continue();
    Click(f.btnMainCpy, [&] {
        before = Mark();
        return g.cmd.ProductMode == "CFX";
    });
    Click(f.btnKernelCpy, [&] { return Shows("COPY OK")() && ++copiesOk; });
    // The kernel's copy runs after the answer to "Are you sure ?": three boards take 3 s.
    std::int64_t sure = 0, copyOk = 0;
    When([&] { return WireSince(before) == "4Y5YY"; }, [&] { sure = sim.clock.NowMs(); });
    ExitByConsole([&] {
        copyOk = sim.clock.NowMs();
        return Shows("COPY OK")() && ++copiesOk;
    });
    PowerUpAndEnter();
    EXPECT_EQ(WireSince(before), "4Y5YY");
    EXPECT_EQ(copiesOk, 2);
    EXPECT_GE(copyOk - sure, 3000);
}

TEST_F(CrossfieldTest, DefaultsThenRestartAtTheRateTheyGaveSendsOnlyTheRestartKey) {
    Attach({});
    auto& f = frmUI();
    std::size_t before = 0;
    Continue();
    Click(f.btnDefaults, [] { return g.cmd.ProductMode == "CFX"; });
    Click(f.btnSCAN, [&] {
        before = Mark();
        return f.lblPASS.Caption.empty() && Mark() > 1 && f.btnDefaults.Enabled;
    });
    When([&] { return f.optBaud9600.Visible; },
         [&] {
             f.optBaud9600.Click();
             f.btnRestartCFX.MouseUp();
         });
    Continue();
    PowerUpAndEnter();
    EXPECT_EQ(WireSince(before), "8");
    EXPECT_EQ(product->Baud(), 9600);
}

TEST_F(CrossfieldTest, BadKernelIsReplacedAfterAWrongFileIsRefused) {
    Attach({.baud = 57600, .badKernel = true});
    WriteHexFile(PathIn("other.hex"), ProductCodeFor('D'), 0, image);
    sim.dialogs.ChooseNextFile(PathIn("other.hex"));
    sim.dialogs.ChooseNextFile(PathIn("cfx.hex"));
    PowerUpAndEnter();
    EXPECT_EQ(sim.dialogs.FileDialogs().size(), 2u);
    ASSERT_EQ(sim.dialogs.Messages().size(), 2u);
    EXPECT_EQ(sim.dialogs.Messages()[0].prompt,
              "Bad CFX kernel detected, press OK to download new kernel.  ");
    EXPECT_EQ(sim.dialogs.Messages()[1].prompt,
              "Record error or wrong hex file for this unit, press OK to download new kernel.  ");
    EXPECT_EQ(product->HeldFiles().at("kernel"), ReadFile(PathIn("cfx.hex")));
    EXPECT_FALSE(product->KernelBad());
    // The wrong file was given up with "X" alone: an "N" would have halted the boot loader.
    EXPECT_EQ(product->Heard().find('N'), std::string::npos);
}

TEST_F(CrossfieldTest, PowerUpIsHeardWhileARefusedFileIsShown) {
    Attach({.baud = 57600});
    WriteFile(PathIn("bad.hex"), "no HEX file\r\n");
    sim.dialogs.ChooseNextFile(PathIn("bad.hex"));
    Press(frmUI().btnHEXFILE);
    ASSERT_NE(g.result.ErrorCode, 0);
    Continue();
    ExitByConsole([] { return g.cmd.ProductMode == "CFX"; });
    PowerUpAndEnter();
    EXPECT_EQ(g.menus.ProductsServed, 1);
}

// A Crossfield already running says a short line whenever the port opens; heard at 115200 it
// is a run of zeros, as a Crossfield powering up at 9600 is.
TEST_F(CrossfieldTest, RunningCrossfieldDoesNotHoldTheWindowAndAPowerCycleMeanwhileIsServed) {
    product = std::make_shared<CrossfieldProduct>(CrossfieldProduct::Options{.baud = 9600});
    line = &sim.serial.Attach(1, product);
    product->PowerCycle();
    for (const auto on = sim.clock.NowMs(); sim.clock.NowMs() < on + 6000;)
        sim.events.WaitForEvents(100);
    StartUp();
    StartTrace();
    auto& f = frmUI();
    // Left alone, the burst is let go: no message, the normal window, and no entry again.
    auto start = sim.clock.NowMs();
    RunLoopUntil(start + 20000);
    EXPECT_TRUE(sim.dialogs.Messages().empty());
    EXPECT_TRUE(f.btnSCAN.Enabled && f.cboPORT.Enabled && !f.txtInfo.Visible);
    const auto lines = TraceLines();
    EXPECT_EQ(std::count_if(
                  lines.begin(), lines.end(),
                  [](const std::string& l) { return l.find("CfxAt9600()") != std::string::npos; }),
              1);
    // The port opened again, and the operator power-cycles the Crossfield while the window
    // reads it: the new power-on text is answered and the Crossfield served.
    When([&] { return f.txtInfo.Visible && f.txtInfo.Text == "Reading serial data..."; },
         [&] { product->PowerCycle(); });
    Continue();
    ExitByConsole([&] { return g.cmd.ProductMode == "CFX" && f.btnPROGRAM.Visible; },
                  [] { EXPECT_EQ(Panels()[4], "2.10.03"); });
    start = sim.clock.NowMs();
    Serve([&] {
        SetCommPort(1);
        RunLoopUntil(start + 40000);
    });
    EXPECT_TRUE(sim.dialogs.Messages().empty());
    EXPECT_TRUE(TraceHas("the Crossfield powered up again"));
    EXPECT_EQ(g.menus.ProductsServed, 2);
}

// The starting computer stands three characters after the dot of its menu line; a line that
// ends sooner holds none, and the rest of the menu is never taken for it.
TEST_F(CrossfieldTest, StartCpuIsReadOnlyFromItsOwnLine) {
    const std::string menu = "Serial options menu\r\n  1) Change starting computer number.";
    EXPECT_EQ(ReadStartCpu(menu + "  13\r\n  2) Change baud rate.  9600\r\n"), "13");
    EXPECT_EQ(ReadStartCpu(menu + "\r\n  2) Change baud rate.  9600\r\nEnter choice -->"), "");
    EXPECT_EQ(ReadStartCpu(menu + " \r\n  2) Restart\r\n"), "");
}

struct FailureCase {
    const char* name;
    int flashMs;
    bool unplug;         // the adapter is pulled out while the Crossfield flashes
    bool corruptFile;    // a record goes bad after the file was checked
    const char* banner;  // at the end
};

class CrossfieldFailure : public CrossfieldTest,
                          public ::testing::WithParamInterface<FailureCase> {};

TEST_P(CrossfieldFailure, ProgramThatFailsIsToldAndNeverHangs) {
    const auto& c = GetParam();
    Attach({.flashMs = c.flashMs});
    auto& f = frmUI();
    std::string programRow;
    Continue();
    SelectFile();
    Click(f.btnPROGRAM, [&] {
        if (c.corruptFile)
            WriteFile(PathIn("cfx.hex"),
                      HeaderRecord(ProductCodeFor('U')) + "\r\n:0100000000FE\r\n:00000001FF\r\n");
        return f.lblPASS.Caption == "HEX FILE OK";
    });
    if (c.unplug)
        When([&] { return f.lblPASS.Caption == "Flashing Crossfield..."; },
             [&] { line->Unplug(); });
    if (c.corruptFile) {
        ExitByConsole([&] {
            programRow = f.lblPROGRAM.Caption;
            return f.btnSCAN.Enabled && f.lblPASS.Caption == "ERROR CODE: 1203";
        });
    }
    PowerUpAndEnter();
    EXPECT_EQ(f.lblPASS.Caption, c.banner);
    EXPECT_EQ(sim.dialogs.Messages().size(), c.corruptFile ? 0u : 1u);
    if (c.corruptFile) {
        EXPECT_EQ(programRow,
                  "The Crossfield did not report \"Flash programming successful\".\r\rRecord "
                  "error in line 2");
    }
    std::string name, path;
    g.dev.DevLetter = "U";
    CheckINI(name, path);
    EXPECT_EQ(path, "");  // nothing is recorded as programmed
}

INSTANTIATE_TEST_SUITE_P(Cases, CrossfieldFailure,
                         ::testing::Values(FailureCase{"AdapterPulledOut", 5700, true, false,
                                                       "Crossfield not answering"},
                                           FailureCase{"RecordErrorIsAFailure", 5700, false, true,
                                                       ""}),
                         CaseName());

class CrossfieldFirstAnswer : public CrossfieldTest,
                              public ::testing::WithParamInterface<const char*> {};

// A menu key the Crossfield never hears is given up after the menu's own bound, however long
// the work it would start may take once it answers.
TEST_P(CrossfieldFirstAnswer, UnansweredKeyEndsAfterThePromptBound) {
    Attach({});
    auto& f = frmUI();
    const std::string which = GetParam();
    ui::CommandButton& button = which == "Main"     ? f.btnMainCpy
                                : which == "Kernel" ? f.btnKernelCpy
                                                    : f.btnDefaults;
    std::int64_t clickedAt = 0;
    Continue();
    Click(button, [&] {
        if (g.cmd.ProductMode != "CFX")
            return false;
        line->StopReading(20LL * 60 * 1000 * 1000);
        clickedAt = sim.clock.NowMs();
        return true;
    });
    PowerUpAndEnter();
    ASSERT_EQ(sim.dialogs.Messages().size(), 1u);
    EXPECT_NE(sim.dialogs.Messages()[0].prompt.find("stopped answering"), std::string::npos);
    EXPECT_GE(sim.dialogs.Messages()[0].atMs - clickedAt, cfx::kPromptMs);
    EXPECT_LE(sim.dialogs.Messages()[0].atMs - clickedAt, cfx::kPromptMs + 2000);
}

INSTANTIATE_TEST_SUITE_P(Keys, CrossfieldFirstAnswer,
                         ::testing::Values("Main", "Kernel", "Defaults"),
                         [](const auto& test) { return std::string(test.param); });

class CrossfieldLongFlash : public CrossfieldTest, public ::testing::WithParamInterface<bool> {};

// Flashing is judged by the Crossfield's silence, not by how long it takes: a dot every two
// seconds keeps a ten-minute flash alive; once the dots stop, the bound of silence ends it,
// and only then is the operator told to check the Crossfield.
TEST_P(CrossfieldLongFlash, DotsKeepItAliveAndSilenceEndsIt) {
    const bool hangs = GetParam();
    Attach({.flashMs = 600000, .dotMs = 2000, .flashHangs = hangs});
    auto& f = frmUI();
    Continue();
    SelectFile();
    Click(f.btnPROGRAM, [&] { return f.lblPASS.Caption == "HEX FILE OK"; });
    if (!hangs)
        ExitByConsole(Shows("PROGRAM OK"));
    PowerUpAndEnter();
    if (hangs) {
        ASSERT_EQ(sim.dialogs.Messages().size(), 1u);
        const auto& told = sim.dialogs.Messages()[0];
        EXPECT_NE(told.prompt.find("stopped answering while it was flashing"), std::string::npos);
        const std::int64_t silentMs = told.atMs - product->LastSaidUs() / 1000;
        EXPECT_GE(silentMs, cfx::kFlashMs);
        EXPECT_LE(silentMs, cfx::kFlashMs + 1000);
        EXPECT_GT(told.atMs, 600000);  // the dots themselves kept it alive
        EXPECT_EQ(f.lblPASS.Caption, "Crossfield not answering");
    } else {
        EXPECT_TRUE(sim.dialogs.Messages().empty());
        EXPECT_EQ(product->HeldFiles().at("cfx"), ReadFile(PathIn("cfx.hex")));
    }
}

INSTANTIATE_TEST_SUITE_P(Dots, CrossfieldLongFlash, ::testing::Values(false, true),
                         [](const auto& test) {
                             return test.param ? "DotsStop" : "TenMinutesOfDots";
                         });

struct StallCase {
    const char* name;
    int stopMs;        // the Crossfield stops reading for this long during the file
    bool pressCancel;  // the operator presses the exit button during the stop
    bool whole;        // the file arrives whole
};

class CrossfieldStall : public CrossfieldTest, public ::testing::WithParamInterface<StallCase> {};

// A Crossfield that stops reading in the middle of the file: a short stop is waited out and the
// file arrives whole; a long one, or the exit button, aborts the transfer as the Crossfield
// expects. Either way no byte goes missing unnoticed, and the window processes its events.
TEST_P(CrossfieldStall, FileArrivesWholeOrTheTransferIsAborted) {
    const auto& c = GetParam();
    Attach({});
    line->SetTransmitBuffer(4096);
    auto& f = frmUI();
    std::int64_t stoppedAt = 0, pressedAt = 0;
    std::string programRow;
    Continue();
    SelectFile();
    Click(f.btnPROGRAM, [&] { return f.lblPASS.Caption == "HEX FILE OK"; });
    When([&] { return f.lblPASS.Caption == "Sending file..." && f.ProgressBar1.Value > 10; },
         [&] {
             stoppedAt = sim.clock.NowMs();
             line->StopReading(c.stopMs * 1000LL);
         });
    // The exit button is there while the file is sent.
    When([&] { return sim.clock.NowMs() > stoppedAt + 3000; },
         [&] {
             EXPECT_TRUE(f.btnCANCEL.Visible && f.btnCANCEL.Enabled);
             EXPECT_EQ(f.btnCANCEL.Caption, "Cancel");
             if (c.pressCancel) {
                 pressedAt = sim.clock.NowMs();
                 f.btnCANCEL.MouseUp();
             }
         });
    // The operator leaves once the Crossfield reads again and has had its say.
    ExitByConsole(
        [&] {
            return sim.clock.NowMs() > stoppedAt + c.stopMs + 2000 && f.btnSCAN.Enabled &&
                   g.cmd.ProductMode == "CFX";
        },
        [&] { programRow = f.lblPROGRAM.Caption; });
    WatchMessages();
    PowerUpAndEnter();

    const bool held = product->HeldFiles().count("cfx") != 0;
    EXPECT_EQ(held, c.whole);
    if (held) {
        EXPECT_EQ(product->HeldFiles().at("cfx"), ReadFile(PathIn("cfx.hex")));
    }
    EXPECT_EQ(ShownAt("PROGRAM OK") >= 0, c.whole);
    if (!c.whole) {
        // Told within a second of the button, or once the Crossfield took nothing for the
        // send's patience; the Crossfield heard the abort once it read again.
        const std::int64_t aborted = ShownAt("ERROR CODE: 1204");
        if (c.pressCancel) {
            EXPECT_LE(aborted - pressedAt, 1000);
        } else {
            EXPECT_GE(aborted - stoppedAt, 10000);
            EXPECT_LE(aborted - stoppedAt, 11000);
        }
        EXPECT_NE(product->Heard().find("\rXN\r"), std::string::npos);
        EXPECT_NE(programRow.find("aborted"), std::string::npos) << programRow;
    }
    std::string name, path;
    g.dev.DevLetter = "U";
    CheckINI(name, path);
    EXPECT_EQ(path.empty(), !c.whole);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CrossfieldStall,
    ::testing::Values(StallCase{"ShortStopIsWaitedOut", 5000, false, true},
                      StallCase{"LongStopAbortsTheTransfer", 45000, false, false},
                      StallCase{"CancelAbortsTheTransfer", 45000, true, false}),
    CaseName());

// Closing the window while the Crossfield has stopped reading: the transfer is aborted as the
// Crossfield expects before the port closes, and RomPush ends at once; nothing is recorded.
TEST_F(CrossfieldTest, ClosingTheWindowDuringAStalledSendAbortsItAndEnds) {
    Attach({});
    line->SetTransmitBuffer(4096);
    auto& f = frmUI();
    std::int64_t stoppedAt = 0, closedAt = 0;
    Continue();
    SelectFile();
    Click(f.btnPROGRAM, [&] { return f.lblPASS.Caption == "HEX FILE OK"; });
    When([&] { return f.lblPASS.Caption == "Sending file..." && f.ProgressBar1.Value > 10; },
         [&] {
             stoppedAt = sim.clock.NowMs();
             line->StopReading(45'000'000);
         });
    When([&] { return sim.clock.NowMs() > stoppedAt + 3000; },
         [&] {
             closedAt = sim.clock.NowMs();
             f.Unload();
         });
    product->PowerCycle();
    while (sim.serial.InBufferCount() <= 50)
        sim.events.WaitForEvents(10);
    Poll();
    EXPECT_THROW(CheckSerialBanner(), platform::ProgramEnded);
    EXPECT_LE(sim.clock.NowMs() - closedAt, 1000);
    // The Crossfield reads again and hears the abort.
    while (sim.clock.NowMs() < stoppedAt + 50000) {
        const auto next = sim.clock.NextDueUs();
        if (!next)
            break;
        sim.clock.AdvanceToUs(*next);
        sim.clock.RunDue();
    }
    EXPECT_NE(product->Heard().find("\rXN\r"), std::string::npos);
    EXPECT_EQ(product->HeldFiles().count("cfx"), 0u);
    std::string name, path;
    g.dev.DevLetter = "U";
    CheckINI(name, path);
    EXPECT_EQ(path, "");
}

TEST_F(CrossfieldTest, ScanFindsItAndAPowerCycleThenServesIt) {
    Attach({.baud = 9600});
    When([] { return frmUI().txtSwtDetected.Text == "Crossfield Detected."; },
         [this] { product->PowerCycle(); });
    Continue();
    ExitByConsole([] { return g.cmd.ProductMode == "CFX" && frmUI().btnPROGRAM.Visible; });
    Serve([] {
        frmUI().btnSCAN.MouseUp();
        CommandLoopPass();
    });
    EXPECT_EQ(g.menus.ProductsServed, 1);
    EXPECT_TRUE(frmUI().btnSCAN.Enabled);
}

TEST_F(CrossfieldTest, CancelWhileReadingLeavesTheModeWithThePortUsable) {
    Attach({.baud = 9600});
    Click(frmUI().btnCANCEL, [] { return frmUI().btnCANCEL.Caption == "Cancel"; });
    PowerUpAndEnter(0, CfxAt57600);  // heard at the wrong rate: no prompt ever comes
    EXPECT_TRUE(sim.dialogs.Messages().empty());
    EXPECT_FALSE(g.dev.DeviceFound);
    EXPECT_TRUE(frmUI().cboPORT.Enabled);
}

}  // namespace
}  // namespace rompush::testing
