// The KVT: reading it after it powered up, the download after a power cycle, the button
// remap with its dialog, and the waits the operator can leave.
#include "menus/kvt.h"

#include <tuple>

#include "app/main_loop.h"
#include "core/text.h"
#include "hex_file_writer.h"
#include "program_fixture.h"
#include "serial/comm.h"
#include "sim/kvt_product.h"
#include "ui/frm_button_map.h"

namespace rompush::testing {
namespace {

using sim::KvtProduct;
using Map = std::array<std::string, 4>;

// A KVT application image: no product header, its revision line in the data.
std::string KvtHexText(const std::string& revision, std::size_t bytes) {
    std::vector<std::uint8_t> image = PatternImage(bytes);
    const std::string mark = "KVT Rev " + revision + std::string(1, '\0');
    std::copy(mark.begin(), mark.end(), image.begin() + 40);
    std::string text;
    for (std::size_t at = 0; at < image.size(); at += 16) {
        const auto from = image.begin() + static_cast<long>(at);
        text += HexRecord(static_cast<std::uint16_t>(at), 0, {from, from + 16}) + "\r\n";
    }
    return text + ":00000001FF\r\n";
}

KvtProduct::Options Kvt(std::string app = "1.3 NPV", bool damaged = false, int maxPort = 999) {
    return {std::move(app), "2.1", damaged, {"7", "12", "3", "999"}, maxPort};
}

class KvtTest : public ProgramTest {
  protected:
    // A KVT on COM3 powers up; its first burst is read as the banner check reads it, then the
    // KVT is read. The port is at 115200 as SCAN leaves it.
    void PowerUpAndBoot(KvtProduct::Options options = Kvt()) {
        kvt = std::make_shared<KvtProduct>(std::move(options));
        line = &sim.serial.Attach(3, kvt);
        StartUp();
        ASSERT_TRUE(SetCommPort(3));
        kvt->PowerCycle();
        while (sim.serial.InBufferCount() <= 50)
            sim.events.WaitForEvents(10);
        ReadIntoSerialText();
        KVT_Boot();
        line->ClearWire();
    }
    // The operator's action once `ready` holds, looked at every 100 ms of virtual time.
    void When(std::function<bool()> ready, std::function<void()> act) {
        sim.clock.ScheduleInUs(100'000, [this, ready, act] { ready() ? act() : When(ready, act); });
    }
    void PowerCycleLater() {
        sim.clock.ScheduleInUs(2'000'000, [this] { kvt->PowerCycle(); });
    }
    std::string SelectKvtFile(const std::string& revision, std::size_t bytes = 512) {
        const std::string path = PathIn("kvt" + revision.substr(0, 1) + ".hex");
        WriteFile(path, KvtHexText(revision, bytes));
        sim.dialogs.ChooseNextFile(path);
        KvtSelectFile();
        EXPECT_EQ(g.files.KvtFilePath, path);
        return path;
    }
    // The remap dialog: the operator types into boxes (index, text) and keeps or aborts.
    void RemapWith(std::vector<std::pair<int, std::string>> typed, bool keep) {
        When([] { return frmButtonMap().Visible; },
             [typed, keep] {
                 auto& d = frmButtonMap();
                 for (const auto& [box, text] : typed) {
                     d.Boxes()[box]->GotFocus();
                     for (char c : text)
                         d.Boxes()[box]->SetText(d.Boxes()[box]->Text + c);
                 }
                 (keep ? d.btnMapKeep : d.btnMapAbort).MouseUp();
             });
        KvtRemap();
    }

    std::shared_ptr<KvtProduct> kvt;
    sim::SerialLine* line = nullptr;
};

struct BootCase {
    std::string name;
    KvtProduct::Options options;
    Texts panels;  // 2 to 5
};

class KvtBootTest : public KvtTest, public ::testing::WithParamInterface<BootCase> {};

TEST_P(KvtBootTest, ReadsRevisionsStatusAndMappingFromThePowerOnText) {
    PowerUpAndBoot(GetParam().options);
    const bool damaged = GetParam().options.damaged;
    const Texts panels = Panels();
    EXPECT_EQ(Texts(panels.begin() + 1, panels.begin() + 5), GetParam().panels);
    EXPECT_EQ(g.menus.kvt.KvtChecksumError, damaged);
    EXPECT_TRUE(g.dev.DeviceFound && g.dev.DevLetter == "$" && g.menus.SerialText.empty());
    auto& f = frmUI();
    EXPECT_EQ(f.btnVERIFY.Caption, "REMAP KVT BUTTONS");
    EXPECT_EQ(f.btnVERIFY.Enabled, !damaged);
    EXPECT_FALSE(f.btnERASE.Visible || f.cboPORT.Enabled);
    EXPECT_TRUE(f.btnSCAN.Enabled);  // the way back to the normal window
    EXPECT_TRUE(f.btnHEXFILE.Enabled && f.btnShowDiagnostic.Enabled);
    EXPECT_NE(g.menus.ConsoleLog.find("KVT-BL Rev"), std::string::npos);
    if (damaged) {
        EXPECT_EQ(f.lblERASE.Caption, "      KVT CHECKSUM ERROR: DOWNLOAD HEX FILE.\r\n");
    } else {
        EXPECT_EQ(g.menus.kvt.ButtonMap, (Map{"7   ", "12  ", "3   ", "999 "}));
        EXPECT_NE(f.lblERASE.Caption.find("BUTTON 4 to PORT 999"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kvt, KvtBootTest,
    ::testing::Values(
        BootCase{"ThreeCharacterRevision", Kvt("1.3 NPV"), {"KVT", "Rev 1.3", "BSL 2.1", "NPV"}},
        BootCase{"TwoCharacterRevision", Kvt("5A OLC"), {"KVT", "Rev 5A", "BSL 2.1", "OLC"}},
        BootCase{"CodeRightAfterRevision", Kvt("1.2NPV"), {"KVT", "Rev 1.2", "BSL 2.1", "NPV"}},
        BootCase{"OtherCodeClearsPanel5", Kvt("2.0 XYZ"), {"KVT", "Rev 2.0", "BSL 2.1", ""}},
        BootCase{"ChecksumError", Kvt("1.3 NPV", true), {"KVT", "---", "BSL 2.1", ""}}),
    CaseName());

TEST_F(KvtTest, ApplicationTextAloneHasItsMappingAfterItsHeadingAndSilenceEndsTheReading) {
    PowerUpAndBoot();
    // A "Ch" before position 130 of the application's own text is not taken for the mapping.
    g.menus.SerialText = "Ch 55\r\n" + kvt->ApplicationText();
    KVT_Boot();
    EXPECT_EQ(g.menus.kvt.ButtonMap, (Map{"7   ", "12  ", "3   ", "999 "}));
    EXPECT_EQ(Panels()[3], "---");  // no boot loader seen
    // A KVT that stops after its boot loader's text: the reading ends with a message.
    g.menus.SerialText = kvt->BootLoaderText();
    const auto start = sim.clock.NowMs();
    KVT_Boot();
    EXPECT_LE(sim.clock.NowMs() - start, 32000);
    EXPECT_EQ(frmUI().lblPASS.Caption, "KVT not responding.");
    EXPECT_TRUE(frmUI().btnHEXFILE.Enabled);
}

class KvtDownloadTest : public KvtTest, public ::testing::WithParamInterface<bool> {};

TEST_P(KvtDownloadTest, AfterPowerCycleSendsTheFileAndReadsTheNewRevision) {
    PowerUpAndBoot(Kvt("1.3 NPV", GetParam()));  // a damaged application too
    const std::string path = SelectKvtFile("1.4 NPV", 4096);
    ASSERT_TRUE(frmUI().btnPROGRAM.Enabled);
    PowerCycleLater();
    KvtDownload();
    const std::string file = ReadFile(path);
    std::string sent = "  ";  // the two spaces, then each line ended by CR alone
    for (char c : file)
        sent += c == '\n' ? "" : std::string(1, c);
    EXPECT_TRUE(line->Wire() == sent);
    EXPECT_TRUE(kvt->HeldFiles().at("kvt") == file);
    EXPECT_EQ(Panels()[2], "Rev 1.4");
    EXPECT_FALSE(g.menus.kvt.KvtChecksumError);
    EXPECT_EQ(frmUI().lblPASS.Caption, "PROGRAM OK");
    EXPECT_EQ(g.cmd.UiCommand, 0);
    EXPECT_NE(ReadFile(PathIn("RomPush.INI")).find("$ " + path), std::string::npos);
    EXPECT_TRUE(frmUI().btnPROGRAM.Enabled && !frmUI().btnLASTUSED.Enabled);
    // A file that has gone by the time of the download: 1202, nothing sent but the spaces.
    std::filesystem::remove(SelectKvtFile("1.5 NPV"));
    line->ClearWire();
    PowerCycleLater();
    KvtDownload();
    EXPECT_EQ(line->Wire(), "  ");
    EXPECT_EQ(frmUI().lblPROGRAM.Caption, "Programming file cannot be opened.");
}
INSTANTIATE_TEST_SUITE_P(Kvt, KvtDownloadTest, ::testing::Bool());

// Each wait for a power cycle ends: on the operator's Cancel, or when none comes.
TEST_F(KvtTest, PowerCycleWaitsEndOnCancelOrTheirBoundWithTheViewUsable) {
    PowerUpAndBoot();
    SelectKvtFile("1.4 NPV");
    using Case = std::tuple<bool, bool, std::string>;
    for (auto [download, cancel, message] :
         {Case{true, true, ""}, Case{true, false, "KVT power cycle not seen."},
          Case{false, true, ""}, Case{false, false, "KVT power cycle not seen."}}) {
        SCOPED_TRACE(std::string(download ? "download" : "remap") + (cancel ? " cancelled" : ""));
        const auto start = sim.clock.NowMs();
        auto& f = frmUI();
        if (cancel)
            When([&] { return f.btnCANCEL.Visible; }, [&] { f.btnCANCEL.MouseUp(); });
        download ? KvtDownload() : KvtRemap();
        const auto took = sim.clock.NowMs() - start;
        EXPECT_TRUE(cancel ? took < 2000 : took >= 120000 && took < 125000) << took;
        EXPECT_EQ(f.lblPASS.Caption, message);
        EXPECT_TRUE(!f.btnCANCEL.Visible && f.btnCANCEL.Left == 4530);
        EXPECT_TRUE(f.btnPROGRAM.Enabled && f.btnVERIFY.Enabled && sim.serial.PortOpen());
        EXPECT_EQ(f.lblPROGRAM.Caption, "Download selected hex file to KVT");
        EXPECT_EQ(g.cmd.UiCommand, 0);
        EXPECT_EQ(line->Wire(), "");
    }
    PowerCycleLater();  // the KVT is still served
    KvtDownload();
    EXPECT_EQ(frmUI().lblPASS.Caption, "PROGRAM OK");
}

TEST_F(KvtTest, RemapSendsOneDialoguePerChangedButtonAndStopsAtARefusal) {
    PowerUpAndBoot(Kvt("1.3 NPV", false, 100));
    using Case = std::tuple<std::string, std::vector<std::pair<int, std::string>>, bool,
                            std::string, Map, int>;
    for (auto [name, typed, keep, wire, map, next] :
         {Case{"only 3 changed",
               {{0, "7"}, {2, "42"}},
               true,
               " 3\r42\rY\r0\r",
               {"7", "12", "42", "999"},
               0},
          Case{"abort", {{1, "5"}}, false, " 0\r", {"7", "12", "42", "999"}, 0},
          Case{"box left empty", {{3, ""}}, true, " 0\r", {"7", "12", "42", "999"}, 0},
          Case{"refused", {{1, "0"}}, true, " 2\r0\r0\r", {"7", "12", "42", "999"}, 5},
          // Button 1 is saved, button 3 refused: button 4 is not sent, and RomPush holds
          // what the KVT holds.
          Case{"refused after one saved",
               {{0, "9"}, {2, "500"}, {3, "42"}},
               true,
               " 1\r9\rY\r3\r500\r0\r",
               {"9", "12", "42", "999"},
               5}}) {
        SCOPED_TRACE(name);
        line->ClearWire();
        PowerCycleLater();
        RemapWith(typed, keep);
        EXPECT_EQ(line->Wire(), wire);
        EXPECT_EQ(kvt->Map(), map);
        for (std::size_t i = 0; i < 4; ++i)
            EXPECT_EQ(g.menus.kvt.ButtonMap[i], MapEntry(map[i]));
        EXPECT_NE(frmUI().lblERASE.Caption.find("BUTTON 3 to PORT 42"), std::string::npos);
        EXPECT_FALSE(frmButtonMap().Visible);
        EXPECT_EQ(g.cmd.UiCommand, next);
        EXPECT_EQ(g.menus.kvt.MapAction, next == 5 ? 0 : keep ? 1 : 2);
    }
}

// A KVT file whose records are damaged is refused as any other file: the KVT would take it
// and be left with an application that fails its checksum.
TEST_F(KvtTest, FileWithADamagedRecordIsRefusedAndNotOffered) {
    PowerUpAndBoot();
    const std::string good = SelectKvtFile("1.4 NPV");
    std::string text = KvtHexText("1.5 NPV", 512);
    text[9] = text[9] == '0' ? '1' : '0';  // a data digit of the first record
    const std::string bad = PathIn("damaged.hex");
    WriteFile(bad, text);
    sim.dialogs.ChooseNextFile(bad);
    KvtSelectFile();
    auto& f = frmUI();
    EXPECT_NE(f.lblPASS.Caption, "HEX FILE OK");
    EXPECT_EQ(g.result.ErrorCode, 1003);
    EXPECT_EQ(g.files.KvtFilePath, good);  // the KVT's file is still the one that passed
    EXPECT_FALSE(f.btnPROGRAM.Enabled);
}

// SCAN leaves the KVT for the normal window; an adapter pulled out ends the KVT with a
// message. Neither waits for the program to end.
TEST_F(KvtTest, ScanOrALostPortLeavesTheKvt) {
    PowerUpAndBoot();
    SelectKvtFile("1.4 NPV");
    auto& f = frmUI();
    bool left = false;
    sim.clock.ScheduleInUs(60'000'000, [&] {
        if (!left)
            f.Unload();
    });
    When([&] { return f.btnSCAN.Enabled; }, [&] { f.btnSCAN.MouseUp(); });
    EXPECT_NO_THROW(KvtMenu());
    EXPECT_TRUE(f.btnSCAN.Enabled && f.cboPORT.Enabled && f.btnCommPort.Enabled);
    EXPECT_TRUE(f.btnERASE.Visible && !f.btnShowDiagnostic.Visible);
    EXPECT_EQ(f.btnVERIFY.Caption, "VERIFY");
    EXPECT_FALSE(g.dev.DeviceFound);
    EXPECT_NE(g.dev.DevLetter, "$");
    EXPECT_EQ(Panels(), Texts(5, ""));
    EXPECT_EQ(g.cmd.UiCommand, 0);
    EXPECT_TRUE(sim.dialogs.Messages().empty());

    kvt->PowerCycle();
    while (sim.serial.InBufferCount() <= 50)
        sim.events.WaitForEvents(10);
    ReadIntoSerialText();
    KVT_Boot();
    sim.clock.ScheduleInUs(1'000'000, [&] { line->Unplug(); });
    EXPECT_NO_THROW(KvtMenu());
    left = true;
    EXPECT_EQ(f.lblPASS.Caption, "COMM port not available");
    EXPECT_TRUE(f.cboPORT.Enabled && f.btnSCAN.Enabled && !g.dev.DeviceFound);
    ASSERT_EQ(sim.dialogs.Messages().size(), 1u);
    EXPECT_EQ(sim.dialogs.Messages()[0].prompt.rfind("The serial port of the KVT has gone.", 0),
              0u);
}

// A HEX file refused in the normal window leaves its error shown; a KVT that powers up is
// heard all the same.
TEST_F(KvtTest, PowerUpIsHeardWhileAnErrorIsShown) {
    kvt = std::make_shared<KvtProduct>(Kvt());
    line = &sim.serial.Attach(3, kvt);
    StartUp();
    ASSERT_TRUE(SetCommPort(3));
    WriteFile(PathIn("bad.hex"), "no HEX file\r\n");
    sim.dialogs.ChooseNextFile(PathIn("bad.hex"));
    Press(frmUI().btnHEXFILE);
    ASSERT_NE(g.result.ErrorCode, 0);
    kvt->PowerCycle();
    When([] { return g.dev.DevLetter == "$" && frmUI().btnSCAN.Enabled; },
         [] { frmUI().btnSCAN.MouseUp(); });
    RunLoopUntil(sim.clock.NowMs() + 10000);
    EXPECT_EQ(g.menus.ProductsServed, 1);
    EXPECT_EQ(Panels()[2], "");  // served, then left by SCAN
}

TEST_F(KvtTest, RemapBoxesTakeAtMostThreeDigits) {
    ui::frmButtonMap_Load();
    auto& d = frmButtonMap();
    using Case = std::tuple<int, std::string, std::string, std::string>;
    for (auto [box, typed, left, message] :
         {Case{0, "1000", "100", "MAXIMUM CPU IS 999!"},
          Case{0, "1a", "1", "INVALID CHARACTER ENTERED!  "}, Case{3, "4 ", "4", ""},
          Case{2, "9x", "9", "INVALID CHARACTER ENTERED!  "}}) {
        SCOPED_TRACE(typed);
        const std::size_t shown = sim.dialogs.Messages().size();
        d.Boxes()[box]->SetText("12  ");
        d.Boxes()[box]->GotFocus();
        EXPECT_EQ(d.Boxes()[box]->Text, "");
        for (char c : typed)
            d.Boxes()[box]->SetText(d.Boxes()[box]->Text + c);
        EXPECT_EQ(Trim(d.Boxes()[box]->Text), left);
        ASSERT_EQ(sim.dialogs.Messages().size(), shown + !message.empty());
        if (!message.empty()) {
            const auto& m = sim.dialogs.Messages().back();
            EXPECT_EQ(std::tie(m.prompt, m.style, m.title),
                      std::tie(message, platform::mb::kCritical, "Remap KVT Button"));
        }
    }
}

// A KVT that stops reading in the middle of its download: the transfer stops once the port's
// patience has run out (the boot loader knows no refusal), the window says why and the KVT
// stays served; the KVT holds no file and nothing is recorded.
TEST_F(KvtTest, DownloadThatStallsIsAbortedAndTheKvtStaysServed) {
    PowerUpAndBoot();
    line->SetTransmitBuffer(4096);
    SelectKvtFile("2.2 NPV", 32768);
    auto& f = frmUI();
    std::int64_t stoppedAt = 0;
    PowerCycleLater();
    When([&] { return f.lblPASS.Caption == "Sending file..." && f.ProgressBar1.Value > 20; },
         [&] {
             stoppedAt = sim.clock.NowMs();
             line->StopReading(45'000'000);
             When([&] { return sim.clock.NowMs() > stoppedAt + 2000; },
                  [&] { EXPECT_TRUE(f.btnCANCEL.Visible && f.btnCANCEL.Caption == "Cancel"); });
         });
    KvtDownload();
    EXPECT_GE(sim.clock.NowMs() - stoppedAt, 10000);
    EXPECT_LE(sim.clock.NowMs() - stoppedAt, 11000);
    EXPECT_EQ(f.lblPASS.Caption, "ERROR CODE: 1204");
    EXPECT_EQ(f.lblPROGRAM.Caption,
              "The file transfer was aborted: the KVT took no data for 10 seconds.");
    EXPECT_EQ(kvt->HeldFiles().count("kvt"), 0u);
    EXPECT_TRUE(f.btnPROGRAM.Enabled && !f.btnCANCEL.Visible);
    EXPECT_EQ(g.files.KvtLastUsedPath, "");
}

TEST_F(KvtTest, MenuServesTheButtonsUntilTheWindowCloses) {
    PowerUpAndBoot();
    const std::string path = PathIn("kvt.hex");
    WriteFile(path, KvtHexText("2.2 NPV", 512));
    sim.dialogs.ChooseNextFile(path);
    auto& f = frmUI();
    When([&] { return f.btnHEXFILE.Enabled; }, [&] { f.btnHEXFILE.MouseUp(); });
    When([&] { return f.btnPROGRAM.Enabled; }, [&] { f.btnPROGRAM.MouseUp(), PowerCycleLater(); });
    When([&] { return Panels()[2] == "Rev 2.2" && g.cmd.UiCommand == 0; },
         [&] { sim.desktop.Press(0x11), sim.desktop.Press(0x54); });  // Ctrl+T
    When([&] { return !sim.dialogs.Messages().empty(); }, [&] { f.Unload(); });
    sim.clock.ScheduleInUs(60'000'000,
                           [&] { sim.desktop.Release(0x11), sim.desktop.Release(0x54); });
    EXPECT_THROW(KvtMenu(), platform::ProgramEnded);
    EXPECT_TRUE(kvt->HeldFiles().at("kvt") == ReadFile(path));
    EXPECT_EQ(sim.dialogs.Messages().back().title, "RomPush Utility");  // the trace question
}

}  // namespace
}  // namespace rompush::testing
