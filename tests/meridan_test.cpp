// The Meridan modular switch served through its serial options menu, against the simulated
// Meridan on the virtual clock: detection, every button, every error it can report, and the
// bounds that keep a silent or strange product from holding the window.
#include "menus/meridan.h"

#include <deque>
#include <functional>

#include "hex_file_writer.h"
#include "menus/product_text.h"
#include "program_fixture.h"
#include "serial/comm.h"
#include "sim/meridan_product.h"

namespace rompush::testing {
namespace {

using sim::MeridanOptions;
using sim::MeridanProduct;

class MeridanTest : public ProgramTest {
  protected:
    // The Meridan on COM3 and the program started on it; the product is then switched on.
    // The operator's first step is to continue from the diagnostics, unless the product will
    // not show them.
    void PowerUp(MeridanOptions options = {}, bool diagnostics = true) {
        product_ = std::make_shared<MeridanProduct>(options);
        line_ = &sim.serial.Attach(3, product_);
        StartUp();
        ASSERT_EQ(g.port.CommPortNumber, 3);
        product_->PowerCycle();
        Poll();
        if (diagnostics)
            Continue();
    }

    // The operator: each step waits until its moment has come, then acts.
    void Then(std::function<bool()> ready, std::function<void()> act) {
        script_.push_back({std::move(ready), std::move(act)});
    }
    void Continue() {
        auto& f = frmUI();
        Then([&f] { return f.btnCANCEL.Visible && f.btnCANCEL.Caption == "CONTINUE"; },
             [this, &f] {
                 detected_ = true;
                 f.btnCANCEL.MouseUp();
             });
    }
    void Click(ui::CommandButton& button) {
        Then([&button] { return IsIdle() && button.Enabled; }, [&button] { button.MouseUp(); });
    }
    void Choose(ui::OptionButton& option) {
        Then([&option] { return IsIdle() && option.Enabled; }, [&option] { option.Click(); });
    }
    void Post(std::uint8_t command) {
        Then(IsIdle, [command] { g.cmd.UiCommand = command; });
    }
    void SelectFile(const std::string& path) {
        Then(IsIdle, [this, path] { sim.dialogs.ChooseNextFile(path); });
        Click(frmUI().btnHEXFILE);
    }
    // Everything the operator does, then RESTART and the final CONTINUE.
    void ServeAndRestart() {
        Click(frmUI().btnSCAN);
        Continue();
        Serve();
    }
    // The idle command loop's banner check hears the Meridan; its pass returns when the
    // Meridan mode has ended.
    void Serve() {
        do {
            CommandLoopPass();
        } while (!detected_ && sim.clock.NowMs() < 600'000);
        ASSERT_TRUE(detected_);
    }
    static bool IsIdle() {
        return g.cmd.UiCommand == 0 && g.cmd.ProductMode != "FALSE" && frmUI().btnSCAN.Enabled;
    }

    // A firmware file for the device letter, of `bytes` bytes.
    std::string Firmware(char letter, std::size_t bytes = 8192) {
        const std::string path = PathIn(std::string(1, letter) + "_fw.hex");
        WriteFile(path, HexFileText(ProductCodeFor(letter), 0, PatternImage(bytes)));
        return path;
    }
    std::string Held(const std::string& target) {
        const auto& held = product_->HeldFiles();
        return held.count(target) ? held.at(target) : "";
    }
    // The keys the PC sent (files excluded: lines of HEX text start with ':').
    std::string Keys() {
        std::string keys;
        bool inRecord = false;
        for (char c : line_->Wire()) {
            inRecord = c == ':' || (inRecord && c != '\r');
            if (!inRecord && c != '\r')
                keys += c;
        }
        return keys;
    }
    const std::vector<std::string>& Messages() const { return messages_; }

    // A copy to a product that never answers, or aborted by the operator, ends the mode
    // within the step's bound with its reason; the port stays open.
    void SilentOrAborted(bool abort) {
        PowerUp({"9.02", true, {2}, 2, 40, "mute"});
        std::int64_t started = 0;
        Post(uicmdERASE);
        Then([] { return true; }, [&] { started = sim.clock.NowMs(); });
        if (abort) {
            Then([] { return frmUI().btnCANCEL.Visible; },
                 [] {
                     EXPECT_EQ(frmUI().btnCANCEL.Caption, "ABORT");
                     frmUI().btnCANCEL.MouseUp();
                 });
        }
        Serve();
        EXPECT_EQ(frmUI().lblPASS.Caption,
                  abort ? "MERIDAN MODE ABORTED" : "MERIDAN NOT RESPONDING");
        EXPECT_LE(sim.clock.NowMs() - started, 7000);
        EXPECT_EQ(g.cmd.ProductMode, "FALSE");
        EXPECT_TRUE(sim.serial.PortOpen());
        EXPECT_TRUE(frmUI().btnSCAN.Enabled);
        EXPECT_EQ(frmUI().btnSCAN.Caption, "SCAN");
    }

    // A Meridan that missed the space boots on: the operator is asked to power cycle it.
    void MissedSpace(const char* version) {
        PowerUp({version, true, {2}, 2, 40, "miss-space"}, false);
        auto& f = frmUI();
        Then([&f] { return f.txtNote.Visible; },
             [this, &f] {
                 EXPECT_EQ(f.btnCANCEL.Caption, "ABORT");
                 EXPECT_EQ(f.txtSwtDetected.Text, "MERIDAN FAILED TO BE PLACED IN SERIAL MODE");
                 EXPECT_EQ(f.txtNote.Text, "Press 'ABORT' and power cycle Meridan to retry.");
                 detected_ = true;
                 f.btnCANCEL.MouseUp();
             });
        Serve();
        EXPECT_EQ(g.cmd.ProductMode, "FALSE");
        EXPECT_FALSE(g.dev.DeviceFound);
        EXPECT_EQ(g.menus.meridan.LeaveReason, "");
    }

    // The operator opens the serial console once `ready`, types `keys` into it, and closes
    // it once `done` holds.
    void InConsole(std::function<bool()> ready, const std::string& keys,
                   std::function<bool()> done) {
        auto& f = frmUI();
        Then(std::move(ready), [this, &f] {
            detected_ = true;
            f.btnShowDiagnostic.MouseUp();
        });
        Then([&f] { return f.txtSerialDisplay.Visible; },
             [&f, keys] {
                 for (char key : keys)
                     f.txtSerialDisplay.KeyUp(key);
             });
        Then(std::move(done), [&f] { f.btnCANCEL.MouseUp(); });
    }
    static bool ConsoleShows(const std::string& text) {
        return frmUI().txtSerialDisplay.Text.find(text) != std::string::npos;
    }

    std::shared_ptr<MeridanProduct> product_;
    sim::SerialLine* line_ = nullptr;
    bool detected_ = false;

  private:
    struct Step {
        std::function<bool()> ready;
        std::function<void()> act;
    };
    // Every 100 ms of virtual time the operator looks at the window; the next look is due
    // before a step runs, so a step that opens the console still gets the steps after it.
    void Poll() {
        sim.clock.ScheduleInUs(100'000, [this] { Poll(); });
        const std::string& shown = frmUI().lblPASS.Caption;
        if (!shown.empty() && (messages_.empty() || messages_.back() != shown))
            messages_.push_back(shown);
        if (!script_.empty() && script_.front().ready()) {
            auto act = script_.front().act;
            script_.pop_front();
            act();
        }
    }
    std::deque<Step> script_;
    std::vector<std::string> messages_;
};

bool Saw(const std::vector<std::string>& messages, const std::string& text) {
    return std::find(messages.begin(), messages.end(), text) != messages.end();
}

TEST_F(MeridanTest, ProgramsMainAndUsbLoadsDefaultsAndRestarts) {
    PowerUp();
    auto& f = frmUI();
    const std::string main = Firmware('X', 32768);
    const std::string usb = Firmware('S');
    Then(IsIdle, [] {
        // The diagnostics as the product sent them, with CR LF line ends.
        const std::string& shown = g.menus.meridan.InfoText;
        EXPECT_EQ(shown.substr(0, 28), "\r\nTarn monitor    V2.14.03\r\n");
        EXPECT_NE(shown.find("Program version   9.02\r\n"), std::string::npos);
        EXPECT_EQ(shown.find("Hit space"), std::string::npos);
    });
    Then(IsIdle, [&f] {
        EXPECT_EQ(Panels(), (Texts{"", "MERIDAN", "9.02", "3.10", "V2.14.03"}));
        EXPECT_EQ(f.btnSCAN.Caption, "RESTART");
        EXPECT_TRUE(f.optUSB.Enabled && f.optQRX.Enabled && f.btnERASE.Enabled);
    });
    SelectFile(main);
    Click(f.btnPROGRAM);
    Click(f.btnERASE);
    Choose(f.optUSB);
    SelectFile(usb);
    Click(f.btnPROGRAM);
    Click(f.btnVERIFY);
    ServeAndRestart();

    EXPECT_EQ(Held("main"), ReadFile(main));
    EXPECT_EQ(Held("usb"), ReadFile(usb));
    EXPECT_EQ(Keys(), " 12YY436");  // space, MAIN, copy, USB, defaults, Exit
    for (const char* text : {"Verifying Download...", "COPY OK", "Flashing USB...",
                             "LOAD DEFAULTS OK", "Waiting for Meridan restart..."}) {
        EXPECT_TRUE(Saw(Messages(), text)) << text;
    }
    EXPECT_EQ(std::count(Messages().begin(), Messages().end(), "PROGRAM OK"), 2)
        << ::testing::PrintToString(Messages());
    EXPECT_EQ(g.cmd.ProductMode, "FALSE");
    EXPECT_EQ(f.btnSCAN.Caption, "SCAN");
    EXPECT_FALSE(f.optMAIN.Visible);
    EXPECT_EQ(g.menus.meridan.LeaveReason, "");
    // The restart's text was read to its end: nothing is left for the banner check.
    RunLoopUntil(sim.clock.NowMs() + 3000);
    EXPECT_EQ(sim.serial.InBufferCount(), 0);
    EXPECT_NE(ReadFile(PathIn("RomPush.INI")).find("S " + usb), std::string::npos);
}

class MeridanStall : public MeridanTest, public ::testing::WithParamInterface<bool> {};

// A Meridan that stops reading in the middle of a file: its ABORT button, or the port's
// patience running out, aborts the transfer; the Meridan drops the file once it reads again,
// and stays in its mode with the reason shown, never with "PROGRAM OK".
TEST_P(MeridanStall, AbortsTheTransferAndStaysInTheMode) {
    const bool pressAbort = GetParam();
    PowerUp();
    line_->SetTransmitBuffer(4096);
    auto& f = frmUI();
    const std::string main = Firmware('X', 32768);
    std::int64_t stoppedAt = 0;
    SelectFile(main);
    Click(f.btnPROGRAM);
    Then([&f] { return f.lblPASS.Caption == "Flashing Meridan..." && f.ProgressBar1.Value > 50; },
         [&] {
             stoppedAt = sim.clock.NowMs();
             line_->StopReading(45'000'000);
         });
    Then([&] { return sim.clock.NowMs() > stoppedAt + 2000; },
         [&] {
             EXPECT_TRUE(f.btnCANCEL.Visible && f.btnCANCEL.Enabled);
             EXPECT_EQ(f.btnCANCEL.Caption, "ABORT");
             if (pressAbort)
                 f.btnCANCEL.MouseUp();
         });
    Then([&] { return IsIdle() && sim.clock.NowMs() > stoppedAt + 47000; },
         [&] { EXPECT_EQ(g.cmd.ProductMode, "MAIN"); });
    ServeAndRestart();
    EXPECT_EQ(Held("main"), "");
    EXPECT_FALSE(Saw(Messages(), "PROGRAM OK"));
    EXPECT_TRUE(Saw(Messages(), "ERROR CODE: 1204"));
    EXPECT_NE(product_->Heard().find("\rXN\r"), std::string::npos);
    EXPECT_EQ(g.menus.meridan.LeaveReason, "");
}

INSTANTIATE_TEST_SUITE_P(Stops, MeridanStall, ::testing::Values(false, true),
                         [](const auto& test) { return test.param ? "Abort" : "Patience"; });

TEST_F(MeridanTest, CtrlTInTheMeridanLoopTracesToDebugTxt) {
    PowerUp();
    Then(IsIdle, [this] {
        sim.dialogs.AnswerNext(platform::mb::kAnswerYes);
        sim.desktop.Press(0x11);
        sim.desktop.Press(0x54);
    });
    Then([] { return true; },
         [this] {
             sim.desktop.Release(0x54);
             sim.desktop.Release(0x11);
         });
    Then([] { return g.trace.TraceOn; }, [] {});
    ServeAndRestart();
    ASSERT_EQ(sim.dialogs.Messages().size(), 1u);
    EXPECT_EQ(sim.dialogs.Messages()[0].prompt,
              "             FOR DIAGNOSTICS ONLY  \r\n  \r\nWrite trace information to: \r\n" +
                  PathIn("Debug.txt"));
    EXPECT_EQ(frmUI().Caption, " RomPush Utility - TRACE FILE: Debug.txt");
    g.trace.File->flush();
    EXPECT_NE(ReadFile(PathIn("Debug.txt")).find("MeridanRestart()"), std::string::npos);
}

// What the menu and the power-on text say decides the targets, the copy button and the
// restart's awaited text.
struct MenuCase {
    const char* name;
    MeridanOptions options;
    std::array<std::uint8_t, 5> digits;
    std::uint8_t exit;
    bool copy;
};

class MeridanMenuTest : public MeridanTest, public ::testing::WithParamInterface<MenuCase> {};

TEST_P(MeridanMenuTest, ReadsTheMenuAndRestarts) {
    const MenuCase& c = GetParam();
    PowerUp(c.options);
    Then(IsIdle, [&c] {
        const auto& m = g.menus.meridan;
        EXPECT_EQ(m.MenuOption, c.digits);
        EXPECT_EQ(m.ExitOption, c.exit);
        EXPECT_EQ(m.UsbPresent, c.digits[3] != 0);
        EXPECT_EQ(frmUI().btnERASE.Enabled, c.copy);
        EXPECT_EQ(frmUI().optUSB.Enabled, c.digits[3] != 0);
    });
    ServeAndRestart();
    EXPECT_EQ(Keys(), " " + std::to_string(c.exit));
    EXPECT_EQ(g.cmd.ProductMode, "FALSE");
    EXPECT_EQ(g.menus.meridan.LeaveReason, "");
    EXPECT_NE(frmUI().txtSwtDetected.Text.find(c.options.usb ? "USB mouse" : "PS2 mouse"),
              std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Menus, MeridanMenuTest,
    ::testing::Values(
        MenuCase{"WithoutUsb", {"9.02", false, {3}, 2, 40, ""}, {1, 2, 3, 0, 4}, 5, true},
        MenuCase{"OneDataController", {"9.02", true, {}, 1, 40, ""}, {1, 2, 3, 4, 0}, 5, false},
        MenuCase{"Version85", {"8.50", false, {2}, 2, 40, ""}, {1, 2, 3, 0, 4}, 5, true}),
    CaseName());

// Every error a misbehaving product can cause is shown, and the Meridan stays served.
struct ErrorCase {
    const char* name;
    MeridanOptions options;
    const char* target;  // "MAIN", "USB", "QRX"
    std::uint8_t command;
    int code;
};

class MeridanErrorTest : public MeridanTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(MeridanErrorTest, ShowsTheErrorAndStaysInTheMode) {
    const ErrorCase& c = GetParam();
    PowerUp(c.options);
    auto& f = frmUI();
    const std::string target = c.target;
    if (target == "USB")
        Choose(f.optUSB);
    if (target == "QRX")
        Choose(f.optQRX);
    const std::string file = Firmware(target == "MAIN" ? 'X' : target == "USB" ? 'S' : 'H');
    SelectFile(file);
    if (c.code == 1605)
        Then(IsIdle, [&file] { std::filesystem::remove(file); });
    Post(c.command);
    Then(IsIdle, [&c, &f] {
        EXPECT_EQ(f.lblPASS.Caption, "ERROR CODE: " + std::to_string(c.code));
        EXPECT_EQ(g.result.ErrorCode, 0);
        EXPECT_FALSE(g.menus.meridan.QrxBusy);
        if (c.code == 1601) {  // the Meridan's own line on the COPY FIRMWARE row
            EXPECT_EQ(f.lblERASE.Caption.rfind("Error - ", 0), 0u) << f.lblERASE.Caption;
        }
    });
    ServeAndRestart();
    EXPECT_EQ(g.menus.meridan.LeaveReason, "");
    EXPECT_EQ(g.cmd.ProductMode, "FALSE");
}

INSTANTIATE_TEST_SUITE_P(
    Errors, MeridanErrorTest,
    ::testing::Values(
        ErrorCase{"CopyError1601", {"9.02", true, {2}, 1, 40, ""}, "QRX", uicmdERASE, 1601},
        ErrorCase{"CopyFailsOnTheWay1601",
                  {"9.02", true, {2}, 3, 40, "copy-error"},
                  "MAIN",
                  uicmdERASE,
                  1601},
        ErrorCase{"QuietDefaults1602",
                  {"9.02", true, {2}, 2, 40, "quiet-defaults"},
                  "MAIN",
                  uicmdVERIFY,
                  1602},
        ErrorCase{"UnconfirmedDefaults1602",
                  {"9.02", true, {2}, 2, 40, "defaults-unconfirmed"},
                  "MAIN",
                  uicmdVERIFY,
                  1602},
        ErrorCase{
            "UsbNoFile1603", {"9.02", true, {2}, 2, 40, "no-file-wait"}, "USB", uicmdPROGRAM, 1603},
        ErrorCase{"MainNoFile1604",
                  {"9.02", true, {2}, 2, 40, "no-file-wait"},
                  "MAIN",
                  uicmdPROGRAM,
                  1604},
        ErrorCase{
            "QrxNoFile1604", {"9.02", true, {2}, 2, 40, "no-file-wait"}, "QRX", uicmdPROGRAM, 1604},
        ErrorCase{"FileGone1605", {"9.02", true, {2}, 2, 40, ""}, "MAIN", uicmdPROGRAM, 1605},
        ErrorCase{
            "BadSector1606", {"9.02", true, {2}, 2, 40, "bad-sector"}, "MAIN", uicmdPROGRAM, 1606},
        ErrorCase{
            "NoSector1606", {"9.02", true, {2}, 2, 40, "no-sectors"}, "MAIN", uicmdPROGRAM, 1606},
        ErrorCase{
            "UsbReceive1607", {"9.02", true, {2}, 2, 40, "usb-receive"}, "USB", uicmdPROGRAM, 1607},
        ErrorCase{"QrxReceive1608",
                  {"9.02", true, {2}, 2, 40, "qrx-receive"},
                  "QRX",
                  uicmdPROGRAM,
                  1608}),
    CaseName());

TEST_F(MeridanTest, QrxUpdateRestartsWithoutASecondExitKey) {
    PowerUp({"9.02", false, {1, 4}, 2, 40, ""});  // no USB board: QRX is option 4
    auto& f = frmUI();
    const std::string qrx = Firmware('H');
    Choose(f.optQRX);
    SelectFile(qrx);
    Click(f.btnPROGRAM);
    Then([&f] { return f.txtInfo.Visible; },
         [&f] {
             EXPECT_EQ(f.txtInfo.Text, "QRX programming completed and Meridan restarted.");
             EXPECT_EQ(f.txtNote.Text, "(RomPush will now exit Meridan mode.)");
         });
    Continue();
    Serve();
    EXPECT_EQ(Held("qrx"), ReadFile(qrx));
    EXPECT_EQ(Keys(), " 4YY");  // the menu's digit, two answers, and no Exit key
    EXPECT_TRUE(Saw(Messages(), "Flashing QRX on port 1..."));
    EXPECT_TRUE(Saw(Messages(), "Flashing QRX on port 4..."))
        << ::testing::PrintToString(Messages());
    EXPECT_EQ(g.cmd.ProductMode, "FALSE");
    EXPECT_EQ(g.menus.meridan.LeaveReason, "");
    RunLoopUntil(sim.clock.NowMs() + 3000);
    EXPECT_EQ(sim.serial.InBufferCount(), 0);
}

TEST_F(MeridanTest, QrxUpdateWithAFailedTransmitterEndsInTheErrorNamingItsPort) {
    PowerUp({"9.02", false, {3, 4}, 2, 40, "qrx-port"});  // port 3 fails, port 4 passes
    auto& f = frmUI();
    Choose(f.optQRX);
    SelectFile(Firmware('H'));
    Click(f.btnPROGRAM);
    Then([&f] { return f.txtInfo.Visible; },
         [&f] {
             EXPECT_EQ(f.lblPASS.Caption, "ERROR CODE: 1609");
             EXPECT_EQ(f.txtInfo.Text, "QRX programming failed and Meridan restarted.");
             EXPECT_EQ(f.txtSwtDetected.Text, "Error - QRX on port 3 does not answer\r\n");
         });
    Continue();
    Serve();
    EXPECT_FALSE(Saw(Messages(), "PROGRAM OK")) << ::testing::PrintToString(Messages());
    EXPECT_TRUE(Saw(Messages(), "Flashing QRX on port 4..."));
    EXPECT_EQ(g.cmd.ProductMode, "FALSE");
    EXPECT_EQ(g.menus.meridan.LeaveReason, "");
    // The window is back to normal with the error on it.
    EXPECT_EQ(f.lblPASS.Caption, "ERROR CODE: 1609");
    EXPECT_EQ(f.lblPASS.BackColor, ui::colour::kRed);
    EXPECT_NE(f.lblPROGRAM.Caption.find("Error - QRX on port 3 does not answer"),
              std::string::npos);
    EXPECT_EQ(Keys(), " 4YY");
}

TEST_F(MeridanTest, CopyOkOnlyOnceTheCopyHasEnded) {
    PowerUp({"9.02", true, {2}, 6, 40, ""});
    Click(frmUI().btnERASE);
    Then([] { return frmUI().lblPASS.Caption == "COPY OK"; },
         [this] { EXPECT_EQ(product_->CopiesDone(), 1); });
    ServeAndRestart();
    EXPECT_EQ(product_->CopiesDone(), 1);
    EXPECT_EQ(Keys(), " 2YY6");
}

TEST_F(MeridanTest, WhatDetectionReadSurvivesTheConsoleOpenedFromTheDiagnostics) {
    PowerUp({}, false);
    auto& f = frmUI();
    InConsole([&f] { return f.btnCANCEL.Visible && f.btnCANCEL.Caption == "CONTINUE"; }, "",
              [] { return ConsoleShows("Program version   9.02"); });
    Then(IsIdle, [&f] {
        EXPECT_EQ(Panels(), (Texts{"", "MERIDAN", "9.02", "3.10", "V2.14.03"}));
        EXPECT_TRUE(f.optUSB.Enabled && f.optQRX.Enabled && f.btnERASE.Enabled);
    });
    ServeAndRestart();
    EXPECT_EQ(Keys(), " 6");
    EXPECT_EQ(g.menus.meridan.LeaveReason, "");
    EXPECT_EQ(g.cmd.ProductMode, "FALSE");
}

TEST_F(MeridanTest, ExitTypedInTheConsoleEndsTheModeOnTheRestartItShowed) {
    PowerUp();
    std::int64_t closed = 0;
    InConsole(IsIdle, "6", [this, &closed] {
        closed = sim.clock.NowMs();
        return ConsoleShows("USB mouse ready");
    });
    Serve();
    EXPECT_EQ(g.menus.meridan.LeaveReason, "");
    EXPECT_EQ(g.cmd.ProductMode, "FALSE");
    EXPECT_LE(sim.clock.NowMs() - closed, 3000);
    EXPECT_EQ(Keys(), " 6");
}

TEST_F(MeridanTest, QrxDigitTypedInTheConsoleWithTheFileRefusedKeepsTheMode) {
    PowerUp();
    InConsole(IsIdle, "5", [] { return ConsoleShows("Receive cancelled"); });
    Then(IsIdle, [] {
        EXPECT_EQ(g.cmd.ProductMode, "MAIN");
        EXPECT_EQ(frmUI().lblPASS.Caption, "");
    });
    ServeAndRestart();
    ASSERT_FALSE(sim.dialogs.FileDialogs().empty());
    EXPECT_EQ(sim.dialogs.FileDialogs().back().title, "Select QRX Hex File");
    EXPECT_EQ(g.menus.meridan.LeaveReason, "");
    EXPECT_EQ(Keys(), " 5XN6");  // the refusal, then RESTART's Exit
}

TEST_F(MeridanTest, TargetMissingFromTheMenuIsNotAsked) {
    PowerUp({"9.02", false, {2}, 2, 40, ""});
    const std::string usb = Firmware('S');
    Then(IsIdle, [&usb] {
        g.cmd.ProductMode = "USB";  // a menu without "Receive new USB"
        g.files.UsbFilePath = usb;
        g.files.UsbFileName = "S_fw.hex";
        g.cmd.UiCommand = uicmdPROGRAM;
    });
    Then(IsIdle, [] {
        EXPECT_EQ(frmUI().lblPASS.Caption, "ERROR CODE: 1603");
        g.cmd.ProductMode = "MAIN";
    });
    ServeAndRestart();
    EXPECT_EQ(Keys(), " 5");
}

TEST_F(MeridanTest, SilentProductLeavesTheMode) {
    SilentOrAborted(false);
}
TEST_F(MeridanTest, AbortLeavesTheMode) {
    SilentOrAborted(true);
}
TEST_F(MeridanTest, MissedSpaceBootsToUsbMouse) {
    MissedSpace("9.02");
}
TEST_F(MeridanTest, MissedSpaceBootsToPs2Mouse) {
    MissedSpace("8.50");
}

}  // namespace
}  // namespace rompush::testing
