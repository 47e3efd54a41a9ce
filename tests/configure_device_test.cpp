// CONFIGURE DEVICE as the operator runs it: SCAN, the CONFIGURE DEVICE button, the dialog
// edited and confirmed, over the simulated 8042 and device in virtual time.
#include <algorithm>
#include <functional>
#include <sstream>

#include "ps2_fixture.h"

namespace rompush::testing {
namespace {

using Config = KvmDevice::Config;
using Entries = std::map<std::string, std::string>;  // list name -> entry shown

// "cboScanTime=3;cboPort2Ms=PS/2 WHEEL" as list names and entries.
Entries Parse(const std::string& text) {
    Entries entries;
    std::istringstream in(text);
    for (std::string pair; std::getline(in, pair, ';');)
        entries[pair.substr(0, pair.find('='))] = pair.substr(pair.find('=') + 1);
    return entries;
}

std::vector<ui::ComboBox*> Lists(ui::FrmConfigDevice& d) {
    std::vector<ui::ComboBox*> lists;
    for (ui::Control* control : d.Controls()) {
        if (control->Kind == ui::ControlKind::ComboBox)
            lists.push_back(static_cast<ui::ComboBox*>(control));
    }
    return lists;
}

Entries Shown(ui::FrmConfigDevice& d) {
    Entries entries;
    for (ui::ComboBox* list : Lists(d))
        entries[list->Name] = list->Text();
    return entries;
}

// The operator picks these entries, as with the mouse.
void Pick(ui::FrmConfigDevice& d, const std::string& picks) {
    for (const auto& [name, entry] : Parse(picks)) {
        for (ui::ComboBox* list : Lists(d)) {
            const auto at = std::find(list->Items.begin(), list->Items.end(), entry);
            if (list->Name == name && at != list->Items.end())
                list->SetListIndex(static_cast<int>(at - list->Items.begin()));
        }
        EXPECT_EQ(Shown(d)[name], entry) << "no such entry";
    }
}

constexpr Config kDefaultRecord = {15, 1, 0x00, 0x10, 0x10, 0x10, 0x10, 1, 1, 0x00};

class ConfigureDeviceTest : public Ps2Test {
  public:
    void Scan(KvmModel model) {
        Start(model);
        Press(frmUI().btnSCAN);
        ASSERT_EQ(frmUI().btnERASE.Caption, "CONFIGURE DEVICE");
        EXPECT_EQ(frmUI().btnERASE.ToolTipText,
                  "View and modify the configuration settings of the attached device");
    }
    // What the operator does a minute after the previous step (the dialog is up by then).
    void Then(std::function<void()> step) {
        at_ = std::max(at_, sim.clock.NowMs()) + 60000;
        sim.At(at_, std::move(step));
    }
    // The operator picks entries (after `first`, every list at its first entry), then
    // presses OK (or Cancel). What the lists showed before and after is kept.
    void OperatorPicks(const std::string& picks, bool ok = true, bool first = false,
                       std::function<void()> also = nullptr) {
        Then([=, this] {
            auto& d = g.forms->frmConfigDevice;
            dialogEnabledWhenShown = d.Enabled && d.Visible && d.TopMost && !frmUI().Enabled;
            shown = Shown(d);
            enabledRows = 2 + d.cboPort3Kb.Enabled + d.cboPort4Kb.Enabled;
            for (ui::ComboBox* list : Lists(d)) {
                if (first)
                    list->SetListIndex(0);
            }
            Pick(d, picks);
            chosen = Shown(d);
            if (also)
                also();
            (ok ? d.btnOK : d.btnCANCEL).MouseUp();
        });
    }
    // The notice is up over a disabled dialog; the operator reads it and presses CONTINUE.
    void OperatorContinues() {
        Then([this] {
            auto& n = g.forms->frmSaveConfig;
            noticeText = n.Visible && n.TopMost && !g.forms->frmConfigDevice.Enabled
                             ? n.lblConfigStatus.Caption
                             : "(no notice)";
            noticeCode = g.result.ErrorCode;
            n.btnCONTINUE.MouseUp();
        });
    }
    void PressConfigure() { Press(frmUI().btnERASE); }
    void ExpectBackToMainWindow() {
        EXPECT_TRUE(frmUI().Enabled);
        EXPECT_FALSE(g.forms->frmConfigDevice.Visible);
        EXPECT_FALSE(g.forms->frmSaveConfig.Visible);
        EXPECT_EQ(g.result.ErrorCode, 0);
        ExpectGivenBack();
    }

    platform::sim::SimKeyboardPorts& Keyboard() { return sim.keyboard; }

    Entries shown, chosen;
    bool dialogEnabledWhenShown = false;
    int enabledRows = 0;
    std::string noticeText;
    std::int16_t noticeCode = 0;

    std::int64_t at_ = 0;
};

// Writing: the dialog's lists to the record the device keeps.
struct WriteCase {
    const char* name;
    KvmModel model;
    const char* picks;  // on the default dialog
    Config expected;
};

Config With(std::initializer_list<std::pair<int, std::uint8_t>> changes) {
    Config record = kDefaultRecord;
    for (auto [byte, value] : changes)
        record[static_cast<std::size_t>(byte - 1)] = value;
    return record;
}

const WriteCase kWriteCases[] = {
    {"DefaultDialog", KvmModel::OrbitMini, "", kDefaultRecord},
    {"Blanking42Minutes", KvmModel::OrbitMini, "cboVideoBlank=42", With({{8, 169}, {9, 148}})},
    {"SlowestRateLongestDelay", KvmModel::OrbitMini, "cboTypeRate=2.0;cboTypeDelay=1.00",
     With({{3, 0x7F}})},
    {"ScanAndPorts", KvmModel::OrbitMini, "cboScanTime=15;cboMaxPorts=4", With({{1, 225}, {2, 3}})},
    {"MiniKeyboardModes", KvmModel::OrbitMini, "cboPort1Kb=3;cboPort4Kb=2",
     With({{4, 0x30}, {5, 0x10}, {7, 0x20}})},
    {"TinyKeyboardModes", KvmModel::OrbitTiny, "cboPort1Kb=3", With({{4, 0x10}, {5, 0x30}})},
    {"PrismaKeyboardModes", KvmModel::Prisma, "cboPort1Kb=3", With({{4, 0x10}, {5, 0x30}})},
    {"MiniPort1Serial", KvmModel::OrbitMini, "cboPort1Ms=SERIAL", With({{10, 0x10}})},
    {"TinyPort1Serial", KvmModel::OrbitTiny, "cboPort1Ms=SERIAL", With({{10, 0x20}})},
    {"MiniEveryMouseType", KvmModel::OrbitMini,
     "cboPort2Ms=PS/2 WHEEL;cboPort3Ms=PS/2 5-BUTTON;cboPort4Ms=SERIAL",
     With({{10, 0x02 | 0x04 | 0x40 | 0x80}})},
};

class WriteTest : public ConfigureDeviceTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(WriteTest, OkWritesTheListsAndTheDeviceKeepsThem) {
    const WriteCase& c = GetParam();
    Scan(c.model);
    StartTrace();
    OperatorPicks(c.picks, true, true);
    PressConfigure();
    EXPECT_TRUE(dialogEnabledWhenShown);
    EXPECT_EQ(device->ConfigWrites(), 1);
    EXPECT_TRUE(sim.keyboard.DeviceConfig() == c.expected);
    EXPECT_TRUE(TraceHas("GetOrbitParams()"));
    EXPECT_TRUE(TraceHas("WriteOrbitParams()"));
    ExpectBackToMainWindow();

    // Read back: the dialog opens on what was written.
    const auto written = chosen;
    OperatorPicks("", false);
    PressConfigure();
    EXPECT_EQ(shown, written);
    EXPECT_EQ(device->ConfigWrites(), 1);  // Cancel wrote nothing
    ExpectBackToMainWindow();
}

INSTANTIATE_TEST_SUITE_P(Records, WriteTest, ::testing::ValuesIn(kWriteCases), CaseName{});

// Reading: the device's record to the dialog's lists, with the notice for undecodable fields.
struct ReadCase {
    const char* name;
    KvmModel model;
    Config record;
    const char* expected;  // entries the lists show
    int enabledRows;       // port rows the port-count rule leaves usable
    std::int16_t code;     // the last undecodable field (0 none), and its name in the notice
    const char* field;
};

const ReadCase kReadCases[] = {
    {"MiniAsShipped",
     KvmModel::OrbitMini,
     {45, 3, 0x2B, 0x20, 0x10, 0x30, 0x10, 0x85, 4, 0x12},
     "cboScanTime=3;cboMaxPorts=4;cboTypeRate=10.9;cboTypeDelay=0.50;cboPort1Kb=2;cboPort2Kb=1;"
     "cboPort3Kb=3;cboPort4Kb=1;cboVideoBlank=1;cboPort1Ms=SERIAL;cboPort2Ms=PS/2 WHEEL;"
     "cboPort3Ms=PS/2",
     4,
     0,
     ""},
    {"Blanking42Minutes", KvmModel::OrbitMini, With({{8, 169}, {9, 148}}), "cboVideoBlank=42", 2, 0,
     ""},
    {"MiniThreePorts", KvmModel::OrbitMini, With({{2, 2}}), "cboMaxPorts=3", 3, 0, ""},
    {"KbModeLowBitsIgnored", KvmModel::OrbitMini, With({{4, 0x18}, {5, 0x2F}}),
     "cboPort1Kb=1;cboPort2Kb=2", 2, 0, ""},
    {"TinyPortOrder", KvmModel::OrbitTiny, With({{4, 0x10}, {5, 0x30}, {10, 0x20}}),
     "cboPort1Kb=3;cboPort2Kb=1;cboPort1Ms=SERIAL;cboPort2Ms=PS/2", 2, 0, ""},
    // Positions 0 to 2 are decoded on a two-port device, position 3 is not.
    {"TinyPosition2", KvmModel::OrbitTiny, With({{10, 0xCC}}),
     "cboPort3Ms=PS/2 5-BUTTON;cboPort4Ms=PS/2", 2, 0, ""},
    {"PrismaPortOrder", KvmModel::Prisma, With({{10, 0x66}}),
     "cboPort1Ms=PS/2 5-BUTTON;cboPort2Ms=PS/2;cboPort3Ms=PS/2 5-BUTTON", 2, 0, ""},
    {"ScanByteZero", KvmModel::OrbitMini, With({{1, 0}}), "cboScanTime=1", 2, 5001,
     "SCAN INTERVAL"},
    {"MaxPortsByteZero", KvmModel::OrbitMini, With({{2, 0}}), "cboMaxPorts=2", 2, 5002,
     "MAX PORTS ENABLED"},
    {"TinyWithFourPorts", KvmModel::OrbitTiny, With({{2, 3}}), "cboMaxPorts=2", 2, 5002,
     "MAX PORTS ENABLED"},
    {"KbModeFour", KvmModel::OrbitMini, With({{4, 0x40}}), "cboPort1Kb=2", 2, 5005,
     "PORT 1 KEYBOARD MODE"},
    {"BlankingLowByteZero", KvmModel::OrbitMini, With({{8, 0}, {9, 2}}), "cboVideoBlank=0", 2, 5009,
     "VIDEO BLANKING INTERVAL"},
    {"BlankingHighByteZero", KvmModel::OrbitMini, With({{9, 0}}), "cboVideoBlank=0", 2, 5009,
     "VIDEO BLANKING INTERVAL"},
    {"BlankingBeyond42", KvmModel::OrbitMini, With({{9, 200}}), "cboVideoBlank=0", 2, 5009,
     "VIDEO BLANKING INTERVAL"},
    {"SeveralUndecodable", KvmModel::OrbitMini, With({{1, 0}, {2, 0}, {7, 0}}),
     "cboScanTime=1;cboMaxPorts=2;cboPort4Kb=2", 2, 5008, "PORT 4 KEYBOARD MODE"},
};

class ReadTest : public ConfigureDeviceTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadTest, DialogShowsTheDecodedRecord) {
    const ReadCase& c = GetParam();
    Scan(c.model);
    std::copy(c.record.begin(), c.record.end(), sim.keyboard.DeviceConfig().begin());
    if (c.code != 0)
        OperatorContinues();
    OperatorPicks("", false);
    PressConfigure();

    for (const auto& [list, entry] : Parse(c.expected))
        EXPECT_EQ(shown[list], entry) << list;
    EXPECT_EQ(enabledRows, c.enabledRows);
    EXPECT_TRUE(dialogEnabledWhenShown);
    if (c.code != 0) {
        EXPECT_EQ(noticeCode, c.code);
        EXPECT_EQ(noticeText, std::string("Incomplete configuration data received for  ") +
                                  c.field + "\r\n\r\n          Using default...  ");
    }
    EXPECT_EQ(device->ConfigWrites(), 0);
    ExpectBackToMainWindow();
}

INSTANTIATE_TEST_SUITE_P(Records, ReadTest, ::testing::ValuesIn(kReadCases), CaseName{});

// Ways out that write nothing; each gives the controller and the main window back.
struct NothingWrittenCase {
    const char* name;
    void (*operatorSteps)(ConfigureDeviceTest&);
};
class NothingWrittenTest : public ConfigureDeviceTest,
                           public ::testing::WithParamInterface<NothingWrittenCase> {};

const NothingWrittenCase kNothingWrittenCases[] = {
    {"Cancel", [](auto& t) { t.OperatorPicks("cboScanTime=15", false); }},
    {"DialogClosed",
     [](auto& t) {
         t.Then([] {
             Pick(g.forms->frmConfigDevice, "cboScanTime=15");
             g.forms->frmConfigDevice.Unload();
         });
     }},
    {"NoticeClosedThenCancel",
     [](auto& t) {
         t.Keyboard().DeviceConfig()[0] = 0;
         t.Then([] { g.forms->frmSaveConfig.Unload(); });
         t.OperatorPicks("", false);
     }},
    {"PortLostBeforeSave",
     [](auto& t) {
         t.OperatorPicks("cboScanTime=15", true, false,
                         [&t] { t.Keyboard().SetDirectAvailable(false); });
     }},
};

TEST_P(NothingWrittenTest, DeviceKeepsItsRecord) {
    Scan(KvmModel::OrbitMini);
    GetParam().operatorSteps(*this);
    const Config before = sim.keyboard.DeviceConfig();
    PressConfigure();
    EXPECT_EQ(device->ConfigWrites(), 0);
    EXPECT_EQ(std::count(device->Received().begin(), device->Received().end(), 0xDF), 0);
    EXPECT_TRUE(sim.keyboard.DeviceConfig() == before);
    ExpectBackToMainWindow();
}

INSTANTIATE_TEST_SUITE_P(WaysOut, NothingWrittenTest, ::testing::ValuesIn(kNothingWrittenCases),
                         CaseName{});

// A record that cannot be read opens no dialog: too few bytes show error 5001, a port that
// cannot be reached its message.
class UnreadRecordTest : public ConfigureDeviceTest, public ::testing::WithParamInterface<bool> {};

TEST_P(UnreadRecordTest, OpensNoDialog) {
    const bool shortRecord = GetParam();
    Scan(KvmModel::OrbitMini);
    if (shortRecord) {
        device->SendShortConfig(7);
    } else {
        sim.keyboard.SetDirectAvailable(false);
    }
    bool dialogOpened = false;
    Then([&dialogOpened] {
        dialogOpened = g.forms->frmConfigDevice.Visible;
        g.ps2.ConfigContinue = true;  // ends a wait that should not have begun
    });
    PressConfigure();
    RunLoopUntil(sim.clock.NowMs() + 120000);
    EXPECT_FALSE(dialogOpened);
    EXPECT_EQ(device->ConfigWrites(), 0);
    const auto& messages = sim.dialogs.Messages();
    if (shortRecord) {
        EXPECT_EQ(frmUI().lblPASS.Caption, "ERROR CODE: 5001");
        EXPECT_EQ(frmUI().lblERASE.Caption, "Incomplete configuration data received from device.");
        EXPECT_TRUE(messages.empty());
    } else {
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].prompt, "PS/2 port was not initialized");
    }
    ExpectBackToMainWindow();
}

INSTANTIATE_TEST_SUITE_P(Faults, UnreadRecordTest, ::testing::Bool());

// Settings written and not acknowledged: a byte of the ten lost on the wire leaves the device
// waiting for one more, which the next command byte would complete. The write fails where
// the operator sees it, and CONFIGURE DEVICE offers the settings again until they are saved.
class UnacknowledgedSettingsTest : public ConfigureDeviceTest {
  protected:
    // After the failure: SCAN (the first press clears the error), then CONFIGURE DEVICE shows
    // the settings not saved with its notice, and OK saves them.
    void SaveThemAgain(const Config& expected) {
        if (g.result.ErrorCode != 0)
            Press(frmUI().btnSCAN);
        Press(frmUI().btnSCAN);
        ASSERT_EQ(frmUI().lblPASS.Caption, "TARN Product Found");
        OperatorContinues();
        OperatorPicks("");
        const int writes = device->ConfigWrites();
        PressConfigure();
        EXPECT_EQ(noticeText.rfind("The settings the device did not take are shown again.", 0), 0u)
            << noticeText;
        EXPECT_EQ(device->ConfigWrites(), writes + 1);
        EXPECT_TRUE(sim.keyboard.DeviceConfig() == expected);
        EXPECT_TRUE(g.ps2.UnsavedConfigFor.empty());
        ExpectBackToMainWindow();

        // Saved: the next CONFIGURE DEVICE opens on what the device holds, with no notice first.
        OperatorPicks("", false);
        PressConfigure();
        EXPECT_TRUE(dialogEnabledWhenShown);
    }
};

// PROGRAM of an Orbit Tiny writes back the settings it read; one of them is lost.
TEST_F(UnacknowledgedSettingsTest, AfterProgramTheFailureIsShownAndTheSettingsOffered) {
    Scan(KvmModel::OrbitTiny);
    const Config before = {0x2d, 0x01, 0x2b, 0x10, 0x20, 0x10, 0x10, 0x95, 0x12, 0x21};
    sim.keyboard.DeviceConfig() = before;
    const auto image = PatternImage(256);
    const std::string path = PathIn("firmware.hex");
    WriteHexFile(path, ProductCodeFor('T'), 0, image, 16);
    sim.dialogs.ChooseNextFile(path);
    Press(frmUI().btnHEXFILE);
    device->LoseByteAfter(0xDF, 5);
    Press(frmUI().btnPROGRAM);

    auto& f = frmUI();
    EXPECT_EQ(g.result.ErrorCode, 8003);
    EXPECT_EQ(f.lblPASS.Caption, "ERROR CODE: 8003");
    EXPECT_EQ(f.lblPROGRAM.Caption.rfind("Programmed, but the settings written back were not", 0),
              0u);
    EXPECT_EQ(g.cmd.UiCommand, 0);  // no SCAN, no "Program and Verify OK"
    EXPECT_NE(g.files.LastUsedPath, path);
    EXPECT_TRUE(FlashAt(0x2000, image.size()) == image);
    EXPECT_FALSE(sim.keyboard.DeviceConfig() == before);
    ExpectGivenBack();
    SaveThemAgain(before);
}

// CONFIGURE DEVICE's OK: the dialog does not close as saved when a byte was not taken.
TEST_F(UnacknowledgedSettingsTest, ConfigureDeviceOkIsAFailureAndTheChoiceIsKept) {
    Scan(KvmModel::OrbitMini);
    device->LoseByteAfter(0xDF, 10);
    OperatorPicks("cboScanTime=15;cboVideoBlank=42", true, true);
    PressConfigure();
    const Config chosen = With({{1, 225}, {8, 169}, {9, 148}});
    EXPECT_FALSE(sim.keyboard.DeviceConfig() == chosen);
    EXPECT_EQ(frmUI().lblPASS.Caption, "ERROR CODE: 5010");
    EXPECT_EQ(frmUI().lblERASE.Caption.rfind("Settings not acknowledged by the device.", 0), 0u);
    EXPECT_FALSE(g.forms->frmConfigDevice.Visible);
    ExpectGivenBack();
    SaveThemAgain(chosen);
    EXPECT_EQ(shown["cboScanTime"], "15");
    EXPECT_EQ(shown["cboVideoBlank"], "42");
}

// Cancel after the offer keeps what the device holds, and the offer is not repeated.
TEST_F(UnacknowledgedSettingsTest, CancelAfterTheOfferForgetsIt) {
    Scan(KvmModel::OrbitMini);
    device->LoseByteAfter(0xDF, 3);
    OperatorPicks("cboScanTime=15", true, true);
    PressConfigure();
    Press(frmUI().btnSCAN);
    OperatorContinues();
    OperatorPicks("", false);
    const Config held = sim.keyboard.DeviceConfig();
    PressConfigure();
    EXPECT_EQ(shown["cboScanTime"], "15");
    EXPECT_TRUE(sim.keyboard.DeviceConfig() == held);
    EXPECT_TRUE(g.ps2.UnsavedConfigFor.empty());
}

}  // namespace
}  // namespace rompush::testing
