// The serial-menu products' common ground: recognising a product by what it says when it
// powers up, the serial console, and SCAN's probes for the Meridan and the Crossfield.
#include <filesystem>
#include <functional>
#include <string>

#include "commands/commands.h"
#include "menus/serial_banner.h"
#include "program_fixture.h"
#include "serial/comm.h"
#include "sim/announcing_product.h"

namespace rompush::testing {
namespace {

// A menu whose last option, "3)", is its exit.
const std::string kCrossfieldMenu =
    "\r\nSerial options menu\r\n1) Change starting computer number.  9\r\n2) Restart\r\n"
    "3) Exit\r\nEnter choice -->";

class SerialConsoleTest : public ProgramTest {
  protected:
    SerialConsoleTest() {
        line = &sim.serial.Attach(3, product);
        StartUp();
        g.port.BaudSetting = "115200";
        SetCommPort(3);
        StartTrace();
    }
    std::int64_t Now() { return sim.clock.NowMs(); }
    void PowerUp(int baud, const std::string& text) {
        product->SetBaud(baud);
        product->bursts = {text};
        product->PowerCycle();
    }
    // The product powers up; the idle command loop listens for `ms`. The window is closed
    // then, which also ends a product's visit.
    void PowerUpAndListen(int baud, const std::string& text, std::int64_t ms = 3000) {
        PowerUp(baud, text);
        const std::int64_t end = Now() + ms;
        sim.At(end, [this] { sim.events.RequestEnd(); });
        try {
            RunLoopUntil(end + 1);
        } catch (const platform::ProgramEnded&) {
        }
    }
    // The console opened by its button; `during` runs at 10 ms, the exit button at `exitMs`.
    void Console(const std::function<void()>& during, std::int64_t exitMs = 2000) {
        sim.At(Now() + 10, during);
        sim.At(Now() + exitMs, [] { frmUI().btnCANCEL.MouseUp(); });
        frmUI().btnShowDiagnostic.MouseUp();
    }
    void Type(const std::string& keys) {
        for (char key : keys)
            txtSerialDisplay_KeyUp(key == '\r' ? 0x0D : key);
    }
    const std::string& Shown() { return frmUI().txtSerialDisplay.Text; }
    bool Has(const std::string& text, const std::string& what) {
        return text.find(what) != std::string::npos;
    }

    std::shared_ptr<sim::AnnouncingProduct> product = std::make_shared<sim::AnnouncingProduct>();
    sim::SerialLine* line = nullptr;
};

struct BannerCase {
    const char* name;
    int baud;  // the product's; the PC listens at 115200
    std::string text;
    std::string selection;
};

class BannerTest : public SerialConsoleTest, public ::testing::WithParamInterface<BannerCase> {};

TEST_P(BannerTest, PowerUpTextSelectsTheProduct) {
    const BannerCase& c = GetParam();
    PowerUpAndListen(c.baud, c.text);
    EXPECT_TRUE(TraceHas("CheckSerialBanner = " + c.selection));
    if (c.selection == "none") {
        // Text that is no banner is dropped with what followed it.
        EXPECT_EQ(g.menus.SerialText, "");
        EXPECT_EQ(sim.serial.InBufferCount(), 0);
    }
}

const std::string kPadding(60, '-');
INSTANTIATE_TEST_SUITE_P(
    Banners, BannerTest,
    ::testing::Values(
        BannerCase{"CrossfieldAt9600HeardAsZeros", 9600, "Crossfield " + kPadding, "Cfx9600"},
        BannerCase{"QueryMarksAreNoBanner", 115200, std::string(51, '?'), "none"},
        BannerCase{"MeridanEvenWithQueryMark", 115200, "Tarn monitor ? " + kPadding, "Meridan"},
        BannerCase{"KvtApplication", 115200, "KVT-BL Rev 2.1\r\nKVT Rev 1.05 NPV" + kPadding,
                   "KVT"},
        BannerCase{"KvtChecksumError", 115200, "CHECK SUM error occured " + kPadding, "KVT"},
        BannerCase{"CrossfieldAt57600NeverShowsQueryMark", 57600,
                   "Crossfield Power On Diagnostics ? > " + kPadding, "Cfx57600"}),
    CaseName());

TEST_F(SerialConsoleTest, NoiseIsDroppedAndAPowerUpIsHeardWhileAnErrorIsShown) {
    PowerUp(115200, "\xE0\x8E\x1C" + kPadding + "KVT Rev 1.05");
    RunLoopUntil(Now() + 3000);
    EXPECT_FALSE(TraceHas("CheckSerialBanner ="));
    EXPECT_EQ(sim.serial.InBufferCount(), 0);
    // A HEX file refused in the window leaves its error shown; a Meridan that powers up is
    // heard all the same, and its view replaces the error.
    WriteFile(PathIn("bad.hex"), "no HEX file\r\n");
    sim.dialogs.ChooseNextFile(PathIn("bad.hex"));
    Press(frmUI().btnHEXFILE);
    ASSERT_NE(g.result.ErrorCode, 0);
    PowerUpAndListen(115200, "Tarn monitor " + kPadding);
    EXPECT_TRUE(TraceHas("CheckSerialBanner = Meridan"));
}

TEST_F(SerialConsoleTest, ShortBurstsGetOneSecondAndSingleBytesStay) {
    product->SayNow(std::string(30, 'x'));
    const std::int64_t seen = Now();
    RunLoopUntil(seen + 900);
    EXPECT_EQ(sim.serial.InBufferCount(), 30);
    RunLoopUntil(seen + 1200);
    EXPECT_EQ(sim.serial.InBufferCount(), 0);
    product->SayNow("x");
    RunLoopUntil(Now() + 5000);
    EXPECT_EQ(sim.serial.InBufferCount(), 1);
}

struct BaudLineCase {
    const char* name;
    std::string rate;
};
class CrossfieldBaudLineTest : public SerialConsoleTest,
                               public ::testing::WithParamInterface<BaudLineCase> {};

TEST_P(CrossfieldBaudLineTest, ConsoleFollowsTheNewRateAndAnswers) {
    g.cmd.ProductMode = "CFX";
    Console([&] {
        product->SayNow("\r\nSet baud rate of your terminal to " + GetParam().rate + "\r");
    });
    EXPECT_EQ(sim.serial.Settings(), GetParam().rate + ",N,8,1");
    EXPECT_EQ(line->Wire().back(), '\r');
    EXPECT_TRUE(Has(g.menus.ConsoleLog, "terminal to " + GetParam().rate + "\r\n"));
}
INSTANTIATE_TEST_SUITE_P(Rates, CrossfieldBaudLineTest,
                         ::testing::Values(BaudLineCase{"To9600", "9600"},
                                           BaudLineCase{"To57600", "57600"}),
                         CaseName());

TEST_F(SerialConsoleTest, EchoedStartCpuDigitsShowAtOnceAndEnterEndsTheEntry) {
    g.cmd.ProductMode = "CFX";
    product->echo = true;
    Console([&] {
        product->SayNow(kCrossfieldMenu + " 1\r\nEnter the starting cpu number -->");
        sim.At(Now() + 200, [&] { Type("3"); });
        sim.At(Now() + 300, [&] {
            // The echo of a digit is on the screen before the next key.
            EXPECT_TRUE(Has(Shown(), "number --> 3"));
            // A line the product starts with its line feed is still an echoed digit.
            product->SayNow("\n1");
        });
        sim.At(Now() + 400, [&] {
            EXPECT_TRUE(g.menus.StartCpuEntry);
            Type("\r");
        });
    });
    EXPECT_TRUE(Has(g.menus.ConsoleLog, "number --> 3\r\n1"));
    EXPECT_FALSE(g.menus.StartCpuEntry);
    EXPECT_FALSE(g.menus.MenuExitChosen);  // digits of the number are no menu choice
    EXPECT_EQ(g.menus.StartCpu, "9");      // read from the menu at "Enter choice -->"
    EXPECT_EQ(frmUI().btnStartCpu.Caption, "LOAD START CPU ... 9");
}

struct ExitCase {
    const char* name;
    std::string mode;
    char key;
    bool leaves;  // Crossfield: leaves its mode; Meridan: its restart handling comes next
};
class MenuExitTest : public SerialConsoleTest, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(MenuExitTest, LastOptionTypedInTheConsole) {
    const ExitCase& c = GetParam();
    g.cmd.ProductMode = c.mode;
    g.menus.meridan.MenuOption[kMeridanQrxReceiveOption] = 2;
    g.cmd.UiCommand = 0;
    Console([&] {
        product->SayNow(kCrossfieldMenu);
        sim.At(Now() + 200, [&] { Type(std::string(1, c.key)); });
    });
    EXPECT_EQ(g.menus.MenuLastOption, 3);
    EXPECT_EQ(g.menus.MenuExitChosen, c.key == '3');
    if (c.mode == "CFX") {
        EXPECT_EQ(g.cmd.ProductMode, c.leaves ? "FALSE" : "CFX");
    } else {
        EXPECT_EQ(g.cmd.UiCommand, c.leaves ? uicmdSCAN : 0);
        EXPECT_EQ(g.menus.meridan.QrxBusy, c.leaves);
    }
}
INSTANTIATE_TEST_SUITE_P(Keys, MenuExitTest,
                         ::testing::Values(ExitCase{"CrossfieldExit", "CFX", '3', true},
                                           ExitCase{"CrossfieldOtherOption", "CFX", '1', false},
                                           ExitCase{"MeridanExit", "MAIN", '3', true},
                                           ExitCase{"MeridanQrxReceive", "QRX", '2', true},
                                           ExitCase{"MeridanOtherOption", "MAIN", '1', false},
                                           ExitCase{"NoMeridanNoRestart", "FALSE", '3', false}),
                         CaseName());

TEST_F(SerialConsoleTest, RequestedFileGoesLineByLineOrIsRefused) {
    const std::string hex = PathIn("main.hex");
    WriteFile(hex, ":0400000001020304F2\r\n:00000001FF\r\n");
    product->replies['2'] = "\r\nWaiting for file";
    g.cmd.ProductMode = "CFX";
    // A Meridan served earlier received USB firmware by its option 2; the Crossfield's 2 is
    // no USB.
    g.menus.meridan.MenuOption[kMeridanUsbReceiveOption] = 2;
    sim.dialogs.ChooseNextFile(hex);
    Console([&] {
        product->SayNow(kCrossfieldMenu);
        sim.At(Now() + 200, [&] { Type("2"); });
    });
    EXPECT_TRUE(Has(product->Heard(), "2:0400000001020304F2\r:00000001FF\r"));
    EXPECT_EQ(g.files.CfxFilePath, hex);
    EXPECT_EQ(sim.dialogs.FileDialogs().back().title, "Select MAIN Hex File");
    // Cancelled: the product's wait ends with a refusal.
    Console([&] { Type("2"); });
    EXPECT_TRUE(Has(product->Heard(), "2XN\r"));
    EXPECT_EQ(g.files.CfxFilePath, hex);
}

TEST_F(SerialConsoleTest, SavedSessionAndBoundedHistory) {
    const std::string saved = PathIn("session.txt");
    g.menus.ConsoleLog = "Crossfield Power On Diagnostics\r\n\r\n";
    Console([&] {
        product->SayNow("\r\nKernel version 1.2.3\r\n");
        sim.At(Now() + 100, [&] {
            sim.dialogs.ChooseNextFile(saved);
            frmUI().btnSaveSerialDisplay.MouseUp();
        });
    });
    EXPECT_EQ(ReadFile(saved),
              "Crossfield Power On Diagnostics\r\n\r\n\r\nKernel version 1.2.3\r\n\r\n");
    EXPECT_EQ(sim.dialogs.FileDialogs().back().initDir, Folder());
    // Cancelled: nothing is written.
    std::filesystem::remove(saved);
    frmUI().btnSaveSerialDisplay.MouseUp();
    EXPECT_FALSE(std::filesystem::exists(saved));
    // A long session keeps its newest text.
    std::string many;
    for (int i = 0; i < 3000; ++i)
        many += "Line " + std::to_string(i) + " of the diagnostics\r\n";
    Console([&] { product->SayNow(many); }, 60000);
    EXPECT_LE(g.menus.ConsoleLog.size(), kConsoleHistoryLimit);
    EXPECT_TRUE(Has(g.menus.ConsoleLog, "\r\nLine 2999 of the diagnostics\r\n"));
    EXPECT_EQ(g.menus.ConsoleLog.rfind("Line ", 0), 0u);  // cut at a line start
}

struct ProbeCase {
    const char* name;
    int baud;
    char key;  // the probe key the product answers
    std::string reply;
    std::string detected;  // the information view's product, "" for none
};
class ProbeTest : public SerialConsoleTest, public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(ProbeTest, AnsweringProductGetsItsViewUntilCancel) {
    const ProbeCase& c = GetParam();
    product->SetBaud(c.baud);
    product->replies[c.key] = c.reply;
    std::string detected, settings;
    bool scanEnabled = true;
    sim.At(20000, [&] {
        const auto& form = frmUI();
        detected = form.txtSwtDetected.Visible ? form.txtSwtDetected.Text : "";
        scanEnabled = form.btnSCAN.Enabled;
        settings = sim.serial.Settings();
        if (form.btnCANCEL.Visible)
            frmUI().btnCANCEL.MouseUp();
    });
    Press(frmUI().btnSCAN);
    EXPECT_EQ(detected, c.detected);
    if (!c.detected.empty()) {
        EXPECT_FALSE(scanEnabled);
        EXPECT_EQ(settings, "115200,N,8,1");  // listened for at 115200 whatever it answered at
    }
    EXPECT_TRUE(frmUI().btnSCAN.Enabled);
    EXPECT_EQ(frmUI().lblPASS.Caption, c.detected.empty() ? "TARN Product Not Found" : "");
}
INSTANTIATE_TEST_SUITE_P(
    Probes, ProbeTest,
    ::testing::Values(ProbeCase{"MeridanKCR", 115200, '\r', "K C R", "Meridan Detected."},
                      ProbeCase{"RBeforeCIsNoMeridan", 115200, '\r', "K R C", ""},
                      ProbeCase{"CrossfieldAt9600", 9600, '\r', "K", "Crossfield Detected."},
                      ProbeCase{"CrossfieldAt57600", 57600, '\r', "K", "Crossfield Detected."}),
    CaseName());

TEST_F(SerialConsoleTest, ProbeViewEndsOnceThePoweredUpProductWasServed) {
    // The product's visit replaces the view, Cancel button and all: SCAN does not wait on.
    product->replies['\r'] = "K C R";
    product->bursts = {"Tarn monitor Version 2.10\r\nHit space bar " + kPadding};
    sim.At(12000, [&] { product->PowerCycle(); });
    sim.At(300000, [] { frmUI().btnCANCEL.MouseUp(); });
    Press(frmUI().btnSCAN);
    EXPECT_TRUE(TraceHas("CheckSerialBanner = Meridan"));
    EXPECT_LT(Now(), 300000);
    EXPECT_TRUE(frmUI().btnSCAN.Enabled && frmUI().cboPORT.Enabled);
}

}  // namespace
}  // namespace rompush::testing
