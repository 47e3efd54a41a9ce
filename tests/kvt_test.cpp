// The KVT: reading it after it powered up, the download after a power cycle, the button
// remap with its dialog, and the waits the operator can leave.
#include "menus/kvt.h"

#include <tuple>

#include "core/main_loop.h"
#include "core/text.h"
#include "hex_file_writer.h"
#include "program_fixture.h"
#include "serial/comm.h"
#include "sim/kvt_product.h"
#include "ui/frm_button_map.h"

namespace rompush::testing {
namespace {

using sim::KvtProduct;

// A KVT application image: no product header, its revision line in the data.
std::string KvtHexText(const std::string& revision, std::size_t bytes = 512) {
    std::vector<std::uint8_t> image = PatternImage(bytes);
    const std::string mark = "KVT Rev " + revision + std::string(1, '\0');
    std::copy(mark.begin(), mark.end(), image.begin() + 40);
    std::string text;
    for (std::size_t at = 0; at < image.size(); at += 16) {
        const std::vector<std::uint8_t> data(image.begin() + static_cast<long>(at),
                                             image.begin() + static_cast<long>(at + 16));
        text += HexRecord(static_cast<std::uint16_t>(at), 0, data) + "\r\n";
    }
    return text + ":00000001FF\r\n";
}

class KvtTest : public ProgramTest {
  protected:
    // A KVT on COM3; the program started and the port opened at 115200 as SCAN leaves it.
    void Attach(KvtProduct::Options options = {}) {
        kvt = std::make_shared<KvtProduct>(std::move(options));
        line = &sim.serial.Attach(3, kvt);
        StartUp();
        ASSERT_TRUE(SetCommPort(3));
    }
    // The KVT powers up; its first burst is read as the banner check reads it, then the KVT
    // is read.
    void PowerUpAndBoot() {
        kvt->PowerCycle();
        while (sim.serial.InBufferCount() <= 50)
            sim.events.WaitForEvents(10);
        g.menus.SerialText.clear();
        ReadIntoSerialText();
        KVT_Boot();
        line->ClearWire();
    }
    // The operator's action once `ready` holds, looked at every 100 ms of virtual time.
    void When(std::function<bool()> ready, std::function<void()> act) {
        sim.clock.ScheduleInUs(100'000, [this, ready, act] {
            if (ready())
                act();
            else
                When(ready, act);
        });
    }
    void PowerCycleLater(std::int64_t ms = 2000) {
        sim.clock.ScheduleInUs(ms * 1000, [this] { kvt->PowerCycle(); });
    }
    std::string KvtFile(const std::string& revision, std::size_t bytes = 512) {
        const std::string path = PathIn("kvt" + revision.substr(0, 1) + ".hex");
        WriteFile(path, KvtHexText(revision, bytes));
        return path;
    }
    // The remap dialog: the operator types into the boxes and presses a button.
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
    bool checksumError;
};

class KvtBootTest : public KvtTest, public ::testing::WithParamInterface<BootCase> {};

TEST_P(KvtBootTest, ReadsRevisionsStatusAndMappingFromThePowerOnText) {
    Attach(GetParam().options);
    PowerUpAndBoot();
    const auto& p = Panels();
    EXPECT_EQ(Texts(p.begin() + 1, p.begin() + 5), GetParam().panels);
    EXPECT_EQ(g.menus.kvt.KvtChecksumError, GetParam().checksumError);
    EXPECT_TRUE(g.dev.DeviceFound && g.dev.DevLetter == "$" && g.dev.DevIdName == "KVT");
    EXPECT_TRUE(g.menus.SerialText.empty());
    auto& f = frmUI();
    EXPECT_EQ(f.btnVERIFY.Caption, "REMAP KVT BUTTONS");
    EXPECT_EQ(f.btnVERIFY.Enabled, !GetParam().checksumError);
    EXPECT_FALSE(f.btnERASE.Visible || f.btnSCAN.Enabled || f.cboPORT.Enabled);
    EXPECT_TRUE(f.btnHEXFILE.Enabled && f.btnShowDiagnostic.Enabled);
    EXPECT_NE(g.menus.ConsoleLog.find("KVT-BL Rev"), std::string::npos);
    if (GetParam().checksumError) {
        EXPECT_EQ(f.lblERASE.Caption, "      KVT CHECKSUM ERROR: DOWNLOAD HEX FILE.\r\n");
    } else {
        EXPECT_EQ(g.menus.kvt.ButtonMap,
                  (std::array<std::string, 4>{"7   ", "12  ", "3   ", "999 "}));
        EXPECT_NE(f.lblERASE.Caption.find("BUTTON 4 to PORT 999"), std::string::npos);
    }
}

const KvtProduct::Options kMapped{"1.3 NPV", "2.1", false, {"7", "12", "3", "999"}};
KvtProduct::Options With(std::string app, bool damaged = false) {
    KvtProduct::Options o = kMapped;
    o.appRevision = std::move(app);
    o.damaged = damaged;
    return o;
}

INSTANTIATE_TEST_SUITE_P(
    Kvt, KvtBootTest,
    ::testing::Values(
        BootCase{
            "ThreeCharacterRevision", With("1.3 NPV"), {"KVT", "Rev 1.3", "BSL 2.1", "NPV"}, false},
        BootCase{
            "TwoCharacterRevision", With("5A OLC"), {"KVT", "Rev 5A", "BSL 2.1", "OLC"}, false},
        BootCase{"CodeDirectlyAfterRevision",
                 With("1.2NPV"),
                 {"KVT", "Rev 1.2", "BSL 2.1", "NPV"},
                 false},
        BootCase{
            "OtherCodeClearsPanel5", With("2.0 XYZ"), {"KVT", "Rev 2.0", "BSL 2.1", ""}, false},
        BootCase{"ChecksumError", With("1.3 NPV", true), {"KVT", "---", "BSL 2.1", ""}, true}),
    CaseName());

TEST_F(KvtTest, ApplicationTextAloneHasItsMappingAfterItsHeading) {
    Attach(kMapped);
    // A heading that mentions a "Ch" before position 130 is not taken for the mapping.
    g.menus.SerialText = "Ch 55\r\n" + kvt->ApplicationText();
    ASSERT_LT(g.menus.SerialText.find("BUTTON 1"), 200u);
    KVT_Boot();
    EXPECT_EQ(g.menus.kvt.ButtonMap, (std::array<std::string, 4>{"7   ", "12  ", "3   ", "999 "}));
    EXPECT_EQ(Panels()[3], "---");  // no boot loader seen
}

TEST_F(KvtTest, DownloadAfterPowerCycleSendsTheFileAndReadsTheNewRevision) {
    for (bool damaged : {false, true}) {
        SCOPED_TRACE(damaged ? "damaged application" : "application");
        ResetState();
        WireMainWindowHandlers();
        Attach(With("1.3 NPV", damaged));
        PowerUpAndBoot();
        const std::string path = KvtFile("1.4 NPV", 4096);
        sim.dialogs.ChooseNextFile(path);
        KvtSelectFile();
        ASSERT_EQ(g.files.KvtFilePath, path);
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
        EXPECT_EQ(g.files.KvtLastUsedPath, path);
        EXPECT_TRUE(frmUI().btnPROGRAM.Enabled && !frmUI().btnLASTUSED.Enabled);
    }
}

TEST_F(KvtTest, DownloadOfAFileThatHasGoneEndsWith1202) {
    Attach();
    PowerUpAndBoot();
    const std::string path = KvtFile("1.4 NPV");
    sim.dialogs.ChooseNextFile(path);
    KvtSelectFile();
    std::filesystem::remove(path);
    PowerCycleLater();
    KvtDownload();
    EXPECT_EQ(line->Wire(), "  ");
    EXPECT_EQ(g.result.ErrorCode, 1202);
    EXPECT_EQ(frmUI().lblPROGRAM.Caption, "Programming file cannot be opened.");
    EXPECT_EQ(g.cmd.UiCommand, 0);
}

// Each wait of the KVT view ends: the operator's Cancel, a KVT that never answers.
TEST_F(KvtTest, WaitsEndOnCancelOrTheirBoundWithTheViewUsable) {
    Attach();
    PowerUpAndBoot();
    sim.dialogs.ChooseNextFile(KvtFile("1.4 NPV"));
    KvtSelectFile();
    using Case = std::tuple<std::string, bool, std::string, std::int64_t>;
    for (auto [what, cancel, message, atMostMs] :
         {Case{"download", true, "", 5000},
          Case{"download", false, "KVT power cycle not seen.", 125000},
          Case{"remap", true, "", 5000},
          Case{"remap", false, "KVT power cycle not seen.", 125000}}) {
        SCOPED_TRACE(what + (cancel ? " cancelled" : " silent"));
        const auto start = sim.clock.NowMs();
        auto& cancelButton = frmUI().btnCANCEL;
        if (cancel)
            When([&] { return cancelButton.Visible; }, [&] { cancelButton.MouseUp(); });
        g.cmd.UiCommand = what == "download" ? uicmdPROGRAM : uicmdVERIFY;
        what == "download" ? KvtDownload() : KvtRemap();
        EXPECT_LE(sim.clock.NowMs() - start, atMostMs);
        EXPECT_GE(sim.clock.NowMs() - start, cancel ? 1000 : 120000);
        EXPECT_EQ(frmUI().lblPASS.Caption, message);
        EXPECT_FALSE(cancelButton.Visible);
        EXPECT_EQ(cancelButton.Left, 4530);
        EXPECT_TRUE(frmUI().btnPROGRAM.Enabled && frmUI().btnVERIFY.Enabled);
        EXPECT_EQ(frmUI().lblPROGRAM.Caption, "Download selected hex file to KVT");
        EXPECT_EQ(g.cmd.UiCommand, 0);
        EXPECT_TRUE(sim.serial.PortOpen());
        EXPECT_EQ(line->Wire(), "");
    }
    // The KVT is still served after the waits: a power cycle now is downloaded.
    PowerCycleLater();
    KvtDownload();
    EXPECT_EQ(frmUI().lblPASS.Caption, "PROGRAM OK");
}

TEST_F(KvtTest, ReadingAKvtThatGoesSilentEndsWithAMessage) {
    Attach();
    g.menus.SerialText =
        "\r\nKVT-BL Rev 2.1  Tarn Electronics\r\nPress <SPACE> for download...\r\n";
    const auto start = sim.clock.NowMs();
    KVT_Boot();
    EXPECT_LE(sim.clock.NowMs() - start, 32000);
    EXPECT_EQ(frmUI().lblPASS.Caption, "KVT not responding.");
    EXPECT_EQ(Panels()[3], "BSL 2.1");
    EXPECT_TRUE(frmUI().btnHEXFILE.Enabled);
}

TEST_F(KvtTest, RemapSendsOneDialoguePerChangedButtonThenLeavesTheMenu) {
    Attach(kMapped);
    PowerUpAndBoot();
    using Case = std::tuple<std::string, std::vector<std::pair<int, std::string>>, bool,
                            std::string, std::array<std::string, 4>>;
    for (auto [name, typed, keep, wire, map] :
         {Case{"only button 3 changed",
               {{0, "7"}, {2, "42"}},
               true,
               " 3\r42\rY\r0\r",
               {"7", "12", "42", "999"}},
          Case{"abort", {{1, "5"}}, false, " 0\r", {"7", "12", "42", "999"}},
          Case{"box left empty", {{3, ""}}, true, " 0\r", {"7", "12", "42", "999"}}}) {
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
        EXPECT_EQ(g.cmd.UiCommand, 0);
        EXPECT_TRUE(frmUI().btnVERIFY.Enabled);
    }
}

TEST_F(KvtTest, NotAValidEntryStartsTheRemapAgain) {
    Attach(kMapped);
    PowerUpAndBoot();
    PowerCycleLater();
    RemapWith({{1, "0"}}, true);
    EXPECT_EQ(line->Wire(), " 2\r0\rY\r");
    EXPECT_EQ(g.cmd.UiCommand, uicmdVERIFY);
    EXPECT_EQ(g.menus.kvt.MapAction, 0);
    EXPECT_EQ(g.menus.kvt.ButtonMap[1], "12  ");
    EXPECT_FALSE(frmButtonMap().Visible);
}

TEST_F(KvtTest, RemapBoxesTakeAtMostThreeDigits) {
    Attach();
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
        if (message.empty()) {
            EXPECT_EQ(sim.dialogs.Messages().size(), shown);
        } else {
            ASSERT_EQ(sim.dialogs.Messages().size(), shown + 1);
            const auto& m = sim.dialogs.Messages().back();
            EXPECT_EQ(std::tie(m.prompt, m.style, m.title),
                      std::tie(message, platform::mb::kCritical, "Remap KVT Button"));
        }
    }
}

// KvtMenu serves the buttons until the window is closed.
TEST_F(KvtTest, MenuServesTheButtonsUntilTheWindowCloses) {
    Attach();
    PowerUpAndBoot();
    const std::string path = KvtFile("2.2 NPV");
    sim.dialogs.ChooseNextFile(path);
    auto& f = frmUI();
    When([&] { return f.btnHEXFILE.Enabled; }, [&] { f.btnHEXFILE.MouseUp(); });
    When([&] { return f.btnPROGRAM.Enabled; },
         [&] {
             f.btnPROGRAM.MouseUp();
             PowerCycleLater();
         });
    When([&] { return Panels()[2] == "Rev 2.2" && g.cmd.UiCommand == 0; }, [&] { f.Unload(); });
    EXPECT_THROW(KvtMenu(), platform::ProgramEnded);
    EXPECT_TRUE(kvt->HeldFiles().at("kvt") == ReadFile(path));
}

}  // namespace
}  // namespace rompush::testing
