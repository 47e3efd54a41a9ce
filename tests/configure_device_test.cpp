// CONFIGURE DEVICE as the operator runs it: SCAN, the CONFIGURE DEVICE button, the dialog
// edited and confirmed, over the simulated 8042 and device in virtual time.
#include <algorithm>
#include <functional>
#include <ostream>

#include "ps2_fixture.h"

namespace rompush::testing {
namespace {

using Config = KvmDevice::Config;
using Edit = std::function<void(ui::FrmConfigDevice&)>;

// Selects the entry of that text, as the operator picks it.
void Choose(ui::ComboBox& list, const std::string& entry) {
    for (int i = 0; i < list.ListCount(); ++i) {
        if (list.Items[static_cast<std::size_t>(i)] == entry)
            return list.SetListIndex(i);
    }
    ADD_FAILURE() << list.Name << " has no entry " << entry;
}

// Every list at its first entry: the default dialog.
void AllFirst(ui::FrmConfigDevice& d) {
    for (ui::Control* control : d.Controls()) {
        if (control->Kind == ui::ControlKind::ComboBox)
            static_cast<ui::ComboBox*>(control)->SetListIndex(0);
    }
}

constexpr Config kDefaultRecord = {15, 1, 0x00, 0x10, 0x10, 0x10, 0x10, 1, 1, 0x00};

class ConfigureDeviceTest : public Ps2Test {
  protected:
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
    // The operator edits the dialog, then presses OK (or Cancel). What the lists showed before
    // the edit and after it is kept.
    void OperatorEdits(Edit edit, bool ok = true) {
        Then([this, edit, ok] {
            auto& d = g.forms->frmConfigDevice;
            dialogEnabledWhenShown = d.Enabled && d.Visible && d.TopMost && !frmUI().Enabled;
            shown = Texts(d);
            enabledRows = 2 + d.cboPort3Kb.Enabled + d.cboPort4Kb.Enabled;
            if (edit)
                edit(d);
            chosen = Texts(d);
            (ok ? d.btnOK : d.btnCANCEL).MouseUp();
        });
    }
    static std::map<std::string, std::string> Texts(ui::FrmConfigDevice& d) {
        std::map<std::string, std::string> texts;
        for (ui::Control* control : d.Controls()) {
            if (control->Kind == ui::ControlKind::ComboBox)
                texts[control->Name] = static_cast<ui::ComboBox*>(control)->Text();
        }
        return texts;
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

    std::map<std::string, std::string> shown, chosen;
    bool dialogEnabledWhenShown = false;
    int enabledRows = 0;
    std::string noticeText;
    std::int16_t noticeCode = 0;

  private:
    std::int64_t at_ = 0;
};

// Writing: the dialog's lists to the record the device keeps.
struct WriteCase {
    const char* name;
    KvmModel model;
    Edit edit;  // applied to the default dialog
    Config expected;
};
void PrintTo(const WriteCase& c, std::ostream* os) {
    *os << c.name;
}

Config With(std::initializer_list<std::pair<int, std::uint8_t>> changes) {
    Config record = kDefaultRecord;
    for (auto [byte, value] : changes)
        record[static_cast<std::size_t>(byte - 1)] = value;
    return record;
}

const WriteCase kWriteCases[] = {
    {"DefaultDialog", KvmModel::OrbitMini, nullptr, kDefaultRecord},
    {"Blanking42Minutes", KvmModel::OrbitMini, [](auto& d) { Choose(d.cboVideoBlank, "42"); },
     With({{8, 169}, {9, 148}})},
    {"SlowestRateLongestDelay", KvmModel::OrbitMini,
     [](auto& d) {
         Choose(d.cboTypeRate, "2.0");
         Choose(d.cboTypeDelay, "1.00");
     },
     With({{3, 0x7F}})},
    {"ScanAndPorts", KvmModel::OrbitMini,
     [](auto& d) {
         Choose(d.cboScanTime, "15");
         Choose(d.cboMaxPorts, "4");
     },
     With({{1, 225}, {2, 3}})},
    {"MiniKeyboardModes", KvmModel::OrbitMini,
     [](auto& d) {
         Choose(d.cboPort1Kb, "3");
         Choose(d.cboPort4Kb, "2");
     },
     With({{4, 0x30}, {5, 0x10}, {7, 0x20}})},
    {"TinyKeyboardModes", KvmModel::OrbitTiny, [](auto& d) { Choose(d.cboPort1Kb, "3"); },
     With({{4, 0x10}, {5, 0x30}})},
    {"PrismaKeyboardModes", KvmModel::Prisma, [](auto& d) { Choose(d.cboPort1Kb, "3"); },
     With({{4, 0x10}, {5, 0x30}})},
    {"MiniPort1Serial", KvmModel::OrbitMini, [](auto& d) { Choose(d.cboPort1Ms, "SERIAL"); },
     With({{10, 0x10}})},
    {"TinyPort1Serial", KvmModel::OrbitTiny, [](auto& d) { Choose(d.cboPort1Ms, "SERIAL"); },
     With({{10, 0x20}})},
    {"MiniEveryMouseType", KvmModel::OrbitMini,
     [](auto& d) {
         Choose(d.cboPort2Ms, "PS/2 WHEEL");
         Choose(d.cboPort3Ms, "PS/2 5-BUTTON");
         Choose(d.cboPort4Ms, "SERIAL");
     },
     With({{10, 0x02 | 0x04 | 0x40 | 0x80}})},
};

class WriteTest : public ConfigureDeviceTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(WriteTest, OkWritesTheListsAndTheDeviceKeepsThem) {
    const WriteCase& c = GetParam();
    Scan(c.model);
    StartTrace();
    OperatorEdits([&c](auto& d) {
        AllFirst(d);
        if (c.edit)
            c.edit(d);
    });
    PressConfigure();
    EXPECT_TRUE(dialogEnabledWhenShown);
    EXPECT_EQ(device->ConfigWrites(), 1);
    EXPECT_TRUE(sim.keyboard.DeviceConfig() == c.expected);
    EXPECT_TRUE(TraceHas("GetOrbitParams()"));
    EXPECT_TRUE(TraceHas("WriteOrbitParams()"));
    ExpectBackToMainWindow();

    // Read back: the dialog opens on what was written.
    const auto written = chosen;
    OperatorEdits(nullptr, false);
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
    std::map<std::string, std::string> expected;  // entries the lists show
    int enabledRows;                              // port rows the port-count rule leaves usable
    std::int16_t code;                            // the last undecodable field (0 none)
    const char* field;                            // named in the notice
};
void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << c.name;
}

const ReadCase kReadCases[] = {
    {"MiniAsShipped",
     KvmModel::OrbitMini,
     {45, 3, 0x2B, 0x20, 0x10, 0x30, 0x10, 0x85, 4, 0x12},
     {{"cboScanTime", "3"},
      {"cboMaxPorts", "4"},
      {"cboTypeRate", "10.9"},
      {"cboTypeDelay", "0.50"},
      {"cboPort1Kb", "2"},
      {"cboPort2Kb", "1"},
      {"cboPort3Kb", "3"},
      {"cboPort4Kb", "1"},
      {"cboVideoBlank", "1"},
      {"cboPort1Ms", "SERIAL"},
      {"cboPort2Ms", "PS/2 WHEEL"},
      {"cboPort3Ms", "PS/2"}},
     4,
     0,
     ""},
    {"Blanking42Minutes",
     KvmModel::OrbitMini,
     With({{8, 169}, {9, 148}}),
     {{"cboVideoBlank", "42"}},
     2,
     0,
     ""},
    {"MiniThreePorts", KvmModel::OrbitMini, With({{2, 2}}), {{"cboMaxPorts", "3"}}, 3, 0, ""},
    {"KbModeLowBitsIgnored",
     KvmModel::OrbitMini,
     With({{4, 0x18}, {5, 0x2F}}),
     {{"cboPort1Kb", "1"}, {"cboPort2Kb", "2"}},
     2,
     0,
     ""},
    {"TinyPortOrder",
     KvmModel::OrbitTiny,
     With({{4, 0x10}, {5, 0x30}, {10, 0x20}}),
     {{"cboPort1Kb", "3"}, {"cboPort2Kb", "1"}, {"cboPort1Ms", "SERIAL"}, {"cboPort2Ms", "PS/2"}},
     2,
     0,
     ""},
    // Positions 0 to 2 are decoded on a two-port device, position 3 is not.
    {"TinyPosition2",
     KvmModel::OrbitTiny,
     With({{10, 0xCC}}),
     {{"cboPort3Ms", "PS/2 5-BUTTON"}, {"cboPort4Ms", "PS/2"}},
     2,
     0,
     ""},
    {"PrismaPortOrder",
     KvmModel::Prisma,
     With({{10, 0x66}}),
     {{"cboPort1Ms", "PS/2 5-BUTTON"}, {"cboPort2Ms", "PS/2"}, {"cboPort3Ms", "PS/2 5-BUTTON"}},
     2,
     0,
     ""},
    {"ScanByteZero",
     KvmModel::OrbitMini,
     With({{1, 0}}),
     {{"cboScanTime", "1"}},
     2,
     5001,
     "SCAN INTERVAL"},
    {"MaxPortsByteZero",
     KvmModel::OrbitMini,
     With({{2, 0}}),
     {{"cboMaxPorts", "2"}},
     2,
     5002,
     "MAX PORTS ENABLED"},
    {"TinyWithFourPorts",
     KvmModel::OrbitTiny,
     With({{2, 3}}),
     {{"cboMaxPorts", "2"}},
     2,
     5002,
     "MAX PORTS ENABLED"},
    {"KbModeFour",
     KvmModel::OrbitMini,
     With({{4, 0x40}}),
     {{"cboPort1Kb", "2"}},
     2,
     5005,
     "PORT 1 KEYBOARD MODE"},
    {"BlankingLowByteZero",
     KvmModel::OrbitMini,
     With({{8, 0}, {9, 2}}),
     {{"cboVideoBlank", "0"}},
     2,
     5009,
     "VIDEO BLANKING INTERVAL"},
    {"BlankingHighByteZero",
     KvmModel::OrbitMini,
     With({{9, 0}}),
     {{"cboVideoBlank", "0"}},
     2,
     5009,
     "VIDEO BLANKING INTERVAL"},
    {"BlankingBeyond42",
     KvmModel::OrbitMini,
     With({{9, 200}}),
     {{"cboVideoBlank", "0"}},
     2,
     5009,
     "VIDEO BLANKING INTERVAL"},
    {"SeveralUndecodable",
     KvmModel::OrbitMini,
     With({{1, 0}, {2, 0}, {7, 0}}),
     {{"cboScanTime", "1"}, {"cboMaxPorts", "2"}, {"cboPort4Kb", "2"}},
     2,
     5008,
     "PORT 4 KEYBOARD MODE"},
};

class ReadTest : public ConfigureDeviceTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadTest, DialogShowsTheDecodedRecord) {
    const ReadCase& c = GetParam();
    Scan(c.model);
    std::copy(c.record.begin(), c.record.end(), sim.keyboard.DeviceConfig().begin());
    if (c.code != 0)
        OperatorContinues();
    OperatorEdits(nullptr, false);
    PressConfigure();

    for (const auto& [list, entry] : c.expected)
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
class NothingWrittenTest;
struct NothingWrittenCase {
    const char* name;
    void (*operatorSteps)(NothingWrittenTest&);
};
void PrintTo(const NothingWrittenCase& c, std::ostream* os) {
    *os << c.name;
}

class NothingWrittenTest : public ConfigureDeviceTest,
                           public ::testing::WithParamInterface<NothingWrittenCase> {
  public:
    void Edits(Edit edit, bool ok) { OperatorEdits(std::move(edit), ok); }
    void Step(std::function<void()> step) { Then(std::move(step)); }
    platform::sim::SimKeyboardPorts& Keyboard() { return sim.keyboard; }
};

const NothingWrittenCase kNothingWrittenCases[] = {
    {"Cancel", [](auto& t) { t.Edits([](auto& d) { Choose(d.cboScanTime, "15"); }, false); }},
    {"DialogClosed",
     [](auto& t) {
         t.Step([] {
             auto& d = g.forms->frmConfigDevice;
             Choose(d.cboScanTime, "15");
             d.Unload();
         });
     }},
    {"NoticeClosedThenCancel",
     [](auto& t) {
         t.Keyboard().DeviceConfig()[0] = 0;
         t.Step([] { g.forms->frmSaveConfig.Unload(); });
         t.Edits(nullptr, false);
     }},
    {"PortLostBeforeSave",
     [](auto& t) {
         t.Edits(
             [&t](auto& d) {
                 Choose(d.cboScanTime, "15");
                 t.Keyboard().SetDirectAvailable(false);
             },
             true);
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

}  // namespace
}  // namespace rompush::testing
