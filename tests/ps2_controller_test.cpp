// The keyboard controller layer over the simulated 8042: acknowledgement and receive waits,
// the take sequence and its Retry/Cancel message, the providers' failures, the trace names.
#include <deque>
#include <memory>

#include "commands/port_selection.h"
#include "ps2/kb_controller.h"
#include "ps2/ps2_identify.h"
#include "ps2_fixture.h"
#include "serial/comm.h"

namespace rompush::testing {
namespace {

// A device that answers each byte it receives with the next scripted bytes.
class ScriptedPs2Device : public sim::Ps2Device {
  public:
    std::deque<std::vector<std::uint8_t>> replies;
    void Receive(std::uint8_t, std::int64_t atUs, sim::Ps2Link& link) override {
        if (replies.empty())
            return;
        for (std::uint8_t byte : replies.front())
            link.SendToHost(byte, atUs + 500);
        replies.pop_front();
    }
};

class ControllerTest : public Ps2Test {
  protected:
    ControllerTest() {
        sim.keyboard.Controller().Attach(scripted);
        // Interrupts off and translation off, so the device's bytes come to the program.
        EXPECT_TRUE(TakeController(0x20, 300, "KB not disabled"));
    }
    std::int64_t ElapsedUs(std::int64_t sinceUs) const { return sim.clock.NowUs() - sinceUs; }

    std::shared_ptr<ScriptedPs2Device> scripted = std::make_shared<ScriptedPs2Device>();
};

struct AckCase {
    const char* name;
    std::vector<std::uint8_t> reply;
    std::uint8_t result;
    bool fullWait;
};

class AckWaitTest : public ControllerTest, public ::testing::WithParamInterface<AckCase> {};

TEST_P(AckWaitTest, EndsOnAcknowledgementOrAfterItsPollsAndTime) {
    const AckCase& c = GetParam();
    StartTrace();
    scripted->replies.push_back(c.reply);
    const std::int64_t startUs = sim.clock.NowUs();
    const std::int64_t pausesBefore = sim.keyboard.PollPauses();
    EXPECT_EQ(wr_kb_cmd(0x0E), c.result);
    const std::int64_t polls = sim.keyboard.PollPauses() - pausesBefore;
    if (c.fullWait) {
        EXPECT_GE(polls, kAckWait.polls - 1);
        EXPECT_GE(ElapsedUs(startUs), kAckWait.minMs * 1000);
    } else {
        EXPECT_LT(ElapsedUs(startUs), 5000);  // a byte out and the answer back
    }
    EXPECT_EQ(TraceHas("wr_kb_cmd= &HFE"), c.reply.size() > 0 && c.reply[0] == 0xFE);
}

INSTANTIATE_TEST_SUITE_P(Answers, AckWaitTest,
                         ::testing::Values(AckCase{"Ack", {0xFA}, 0xFA, false},
                                           AckCase{
                                               "ResendIgnoredThenAck", {0xFE, 0xFA}, 0xFA, false},
                                           AckCase{"SelfTestPassed", {0xAA}, 0xAA, false},
                                           AckCase{"OnlyResend", {0xFE}, 0xFE, true},
                                           AckCase{"Nothing", {}, 0x00, true}),
                         CaseName{});

// The port-access provider of the simulation, with polls that take 100 us instead of 20 us
// (a busy window, a loaded PC).
class SlowPolls : public platform::sim::SimKeyboardPorts {
  public:
    explicit SlowPolls(platform::sim::SimPlatform& sim)
        : SimKeyboardPorts([&sim] { return sim.clock.NowUs(); },
                           [&sim] { sim.clock.AdvanceToUs(sim.clock.NowUs() + 100); }) {}
};

// The command byte read back: 0x20 lies in the accepted range and ends the wait at once;
// 0x60 does not, so the wait runs to its end and leaves 0x60 in the buffer. That end is its
// minimum time, also where each poll takes five times as long as meant.
TEST_F(ControllerTest, CommandByteReadBackWaits) {
    SlowPolls slow(sim);
    for (bool slowPolls : {false, true}) {
        if (slowPolls) {
            auto services = platform::Current();
            services.keyboard = &slow;
            platform::Install(services);
            ASSERT_TRUE(TakeController(0x20, 300, "KB not disabled"));
        }
        for (std::uint8_t value : {0x20, 0x60}) {
            wr_8042_cmd(0x60);
            Delay(10);
            wr_kb_8042_data(value);
            Delay(10);
            wr_8042_cmd(0x20);
            const std::int64_t startUs = sim.clock.NowUs();
            rd_kb_data(1);
            EXPECT_EQ(g.ps2.KbByteArray[0], value);
            if (value == 0x20) {
                EXPECT_LT(ElapsedUs(startUs), 1000);
            } else {
                EXPECT_GE(ElapsedUs(startUs), kByteWait.minMs * 1000);
                EXPECT_LT(ElapsedUs(startUs), (kByteWait.minMs + 2) * 1000);
            }
        }
    }
    platform::Install({&sim.serial, &sim.timer, &sim.clock, &sim.events, &sim.dialogs, &sim.desktop,
                       &sim.system, &sim.keyboard});
}

TEST_F(ControllerTest, TraceNamesTheBytes) {
    StartTrace();
    wr_8042_cmd(0x47);
    wr_kb_8042_data(0x60);
    scripted->replies.push_back({0xFA});
    wr_kb_cmd(0xDE);
    scripted->replies.push_back({0xFA});
    wr_kb_cmd(0xDD);
    rd_kb_data(2);
    Mode1ToChar(0x2F);
    Mode1ToChar(0x39);
    for (const char* line :
         {"        wr_8042_cmd( 47 )", "        wr_kb_8042_data( cmd_WriteKbControllerCmdByte )",
          "        wr_kb_cmd( &HDE )", "        wr_kb_cmd( cmd_GetRevSwType )",
          "        rd_kb_data( 2 )", "        Mode1ToChar( 'v' )", "        Mode1ToChar( &H39 )"}) {
        EXPECT_TRUE(TraceHas(line)) << line;
    }
}

// The controller keeps refusing the command byte: after six attempts the operator is asked;
// Retry starts six more, Cancel gives the controller back and ends the program.
TEST_F(Ps2Test, RefusedCommandByteAsksRetryThenCancelEndsTheProgram) {
    Start(KvmModel::OrbitTiny);
    sim.keyboard.Controller().RefuseCommandByte(12);
    sim.dialogs.AnswerNext(platform::mb::kAnswerRetry);
    sim.dialogs.AnswerNext(platform::mb::kAnswerCancel);
    frmUI().btnSCAN.MouseUp();
    EXPECT_THROW(CommandLoopPass(), platform::ProgramEnded);

    const auto& messages = sim.dialogs.Messages();
    ASSERT_EQ(messages.size(), 2u);
    for (const auto& message : messages) {
        EXPECT_EQ(message.prompt, "KB not disabled @ ID_PS2_Device\r\nKbByteArray(0) = &H47");
        EXPECT_EQ(message.style, platform::mb::kRetryCancel + platform::mb::kCritical);
        EXPECT_EQ(message.title, "RomPush Utility");
    }
    EXPECT_TRUE(sim.events.EndRequested());
    // The 0x47 written by the give-back was taken after the refused writes.
    EXPECT_EQ(sim.keyboard.CommandByte(), 0x47);
    const auto& history = sim.keyboard.Controller().CommandByteHistory();
    ASSERT_GE(history.size(), 2u);
    EXPECT_EQ(history.back().value, 0x47);
    ExpectGivenBack();
}

// Without port access the operator gets the provider's message and SCAN ends at once.
TEST_F(Ps2Test, NoPortAccessFailsFast) {
    Start(KvmModel::OrbitTiny);
    sim.keyboard.SetWinIoAvailable(false);
    const std::int64_t startMs = sim.clock.NowMs();
    Press(frmUI().btnSCAN);
    ASSERT_EQ(sim.dialogs.Messages().size(), 1u);
    EXPECT_EQ(sim.dialogs.Messages()[0].prompt, "WinIo was not initialized @ ID_PS2_Device");
    EXPECT_EQ(frmUI().lblPASS.Caption, "TARN Product Not Found");
    EXPECT_LT(sim.clock.NowMs() - startMs, 1000);
    EXPECT_EQ(sim.keyboard.Controller().CommandByteHistory().size(), 1u);  // never touched
    ExpectGivenBack();
}

// A PC without a keyboard controller (its ports read 0xFF): SCAN says so at once, no one is
// asked to Retry or Cancel and the program goes on; the next SCAN finds a controller again.
TEST_F(Ps2Test, AbsentControllerIsSaidAtOnce) {
    Start(KvmModel::OrbitTiny);
    sim.keyboard.SetControllerAbsent(true);
    const std::int64_t startMs = sim.clock.NowMs();
    Press(frmUI().btnSCAN);
    EXPECT_EQ(frmUI().lblPASS.Caption, "No PS/2 keyboard controller found");
    EXPECT_EQ(frmUI().frmPASS.BackColor, ui::colour::kLightYellow);
    EXPECT_LT(sim.clock.NowMs() - startMs, 1000);
    EXPECT_TRUE(sim.dialogs.Messages().empty());
    EXPECT_FALSE(sim.events.EndRequested());
    EXPECT_FALSE(g.dev.DeviceFound);
    EXPECT_TRUE(frmUI().btnSCAN.Enabled);
    EXPECT_EQ(sim.keyboard.Controller().CommandByteHistory().size(), 1u);  // never touched
    ExpectGivenBack();

    sim.keyboard.SetControllerAbsent(false);
    Press(frmUI().btnSCAN);
    EXPECT_EQ(frmUI().lblPASS.Caption, "TARN Product Found");
    EXPECT_EQ(g.dev.DevIdName, "Orbit Tiny");
    ExpectGivenBack();
}

// The port list with the driver-backed provider: "PS/2" only when the status port reads.
TEST_F(Ps2Test, PortListTestsTheDriverBackedProvider) {
    for (bool available : {true, false}) {
        sim.keyboard.SetWinIoAvailable(available);
        g.cmd.UseWinIo = true;
        FindComPorts(false);
        auto& list = frmUI().cboPORT;
        EXPECT_EQ(list.ListCount() > 0 && list.Items.back() == "PS/2", available);
        EXPECT_FALSE(sim.keyboard.WinIoOpen());
    }
    ASSERT_EQ(sim.dialogs.Messages().size(), 1u);
    EXPECT_EQ(sim.dialogs.Messages()[0].prompt, "WinIo was not initialized");
}

}  // namespace
}  // namespace rompush::testing
