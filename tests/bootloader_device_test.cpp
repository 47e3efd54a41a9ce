// The simulated packet-bootloader device on the simulated COM port: what a PC sees when it
// sends packets to it, byte for byte and in (virtual) time.
#include "sim/bootloader_device.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/state.h"
#include "platform/sim/sim_platform.h"

namespace {

using rompush::platform::sim::SimPlatform;
using rompush::sim::BootloaderDevice;
using rompush::sim::Crc16Xmodem;
using rompush::sim::Family;
using rompush::sim::Fault;
using Config = BootloaderDevice::Config;

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values)
        s.push_back(static_cast<char>(v));
    return s;
}

// A packet as the PC builds it: length, command, payload, CRC high and low.
std::string Packet(std::uint8_t command, const std::string& payload = "") {
    std::string p;
    p.push_back(static_cast<char>(payload.size() + 4));
    p.push_back(static_cast<char>(command));
    p += payload;
    const std::uint16_t crc = Crc16Xmodem(p);
    p.push_back(static_cast<char>(crc >> 8));
    p.push_back(static_cast<char>(crc & 0xFF));
    return p;
}

// An answer frame with its CRC, as the device must send it.
std::string Frame(std::initializer_list<int> head) {
    std::string f = Bytes(head);
    const std::uint16_t crc = Crc16Xmodem(f);
    f.push_back(static_cast<char>(crc >> 8));
    f.push_back(static_cast<char>(crc & 0xFF));
    return f;
}

std::string WritePayload(int address, const std::string& data) {
    return Bytes({0x20, (address >> 8) & 0xFF, address & 0xFF}) + data;
}

// RcvArray as the PC fills it: element 0 the count, the bytes from index 1.
struct Received {
    std::string bytes;
    int At(int index) const { return static_cast<unsigned char>(bytes.at(index - 1)); }
    int Count() const { return static_cast<int>(bytes.size()); }
    // Index of the answer code of the last (length, code) pair, 0 when none.
    int RspIndex(int length, int code) const {
        int hit = 0;
        for (int i = 1; i < Count(); ++i) {
            if (At(i) == length && At(i + 1) == code)
                hit = i + 1;
        }
        return hit;
    }
};

class BootloaderDeviceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        rompush::ResetState();
        folder_ = std::filesystem::temp_directory_path() /
                  ("rompush_bl_" + std::to_string(::getpid()) + "_" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override {
        platform_.reset();
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }

    // Puts a device on COM1 and opens the port; the device powers up and announces itself.
    void Start(const Config& config, const std::string& settings = "115200,N,8,1",
               bool swallowReady = true) {
        platform_.reset();
        platform_ = std::make_unique<SimPlatform>(folder_.string(), folder_.string());
        platform_->clock.SetLimitMs(10 * 60 * 1000);
        device_ = std::make_shared<BootloaderDevice>(config);
        line_ = &platform_->serial.Attach(1, device_);
        auto& port = platform_->serial;
        port.SetCommPort(1);
        port.SetSettings(settings);
        port.SetInputLen(0);
        port.SetPortOpen(true);
        if (swallowReady) {
            EXPECT_EQ(Bytes({0x08}), Collect(config.startUs / 1000 + 20));
        }
    }

    // Lets ms of virtual time pass and returns what arrived.
    std::string Collect(std::int64_t ms) {
        auto& clock = platform_->clock;
        const std::int64_t end = clock.NowMs() + ms;
        while (clock.NowMs() < end) {
            platform_->events.WaitForEvents(static_cast<int>(end - clock.NowMs()));
        }
        return platform_->serial.Input();
    }

    Received Ask(const std::string& packet, std::int64_t ms = 50) {
        platform_->serial.Output(packet);
        return Received{Collect(ms)};
    }

    void EnterFlashMode() {
        ASSERT_EQ(Frame({0x04, 0x53}), Ask(Packet(0x52)).bytes);
        ASSERT_EQ(BootloaderDevice::Mode::Boot, device_->CurrentMode());
    }

    std::filesystem::path folder_;
    std::unique_ptr<SimPlatform> platform_;
    std::shared_ptr<BootloaderDevice> device_;
    rompush::sim::SerialLine* line_ = nullptr;
};

TEST(Crc16, CheckValueAndPacketsOfTheProtocol) {
    EXPECT_EQ(0x31C3, Crc16Xmodem(std::string("123456789")));
    EXPECT_EQ(0, Crc16Xmodem(std::string()));
    EXPECT_EQ(Bytes({0x04, 0x40, 0x84, 0x00}), Packet(0x40));
    EXPECT_EQ(Bytes({0x05, 0x56, 0x00, 0x4F, 0xE9}), Packet(0x56, Bytes({0x00})));
}

TEST_F(BootloaderDeviceTest, AnnouncesItselfWhenThePortOpens) {
    Config config = Config::ForType(3);
    config.startUs = 100000;
    Start(config, "115200,N,8,1", false);
    EXPECT_EQ("", Collect(90));  // still starting
    EXPECT_EQ(Bytes({0x08}), Collect(20));
    EXPECT_EQ(BootloaderDevice::Mode::App, device_->CurrentMode());

    // Every open resets it (the adapter's DTR line).
    platform_->serial.SetPortOpen(false);
    platform_->serial.SetPortOpen(true);
    EXPECT_EQ(Bytes({0x08}), Collect(150));
}

TEST_F(BootloaderDeviceTest, PowersUpOnlyOnFirstOpenOrNeverWhenSoConfigured) {
    Config config = Config::ForType(3);
    config.powerUpOn = BootloaderDevice::PowerUpOn::FirstOpen;
    Start(config);
    platform_->serial.SetPortOpen(false);
    platform_->serial.SetPortOpen(true);
    EXPECT_EQ("", Collect(300));

    config.powerUpOn = BootloaderDevice::PowerUpOn::Never;
    Start(config, "115200,N,8,1", false);
    EXPECT_EQ("", Collect(300));
    // Already running: it answers at once.
    EXPECT_EQ(7, Ask(Packet(0x40)).Count());
    device_->PowerUp();
    EXPECT_EQ(Bytes({0x08}), Collect(150));
}

TEST_F(BootloaderDeviceTest, IdAnswersCarryTypeAndFlagsWhereThePcReadsThem) {
    for (int type : {2, 3, 4}) {
        for (int flags : {0x00, 0x01, 0x08, 0x18}) {
            Start(Config::ForType(type, static_cast<std::uint8_t>(flags)));
            const Received r = Ask(Packet(0x40));
            EXPECT_EQ(Frame({0x07, 0x41, type, 0x00, flags}), r.bytes) << type << " " << flags;
            const int rsp = r.RspIndex(7, 0x41);
            ASSERT_EQ(2, rsp);
            EXPECT_EQ(type, r.At(rsp + 1));
            EXPECT_EQ(flags, r.At(rsp + 3));
        }
    }
}

TEST_F(BootloaderDeviceTest, TypeOneAnswersBehindThePrefix) {
    Config config = Config::ForType(1, 0x18);
    config.prefixByte = 0x05;
    Start(config);
    const Received r = Ask(Packet(0x40));
    EXPECT_EQ(Bytes({0xC3, 0x05}) + Frame({0x07, 0x41, 0x01, 0x00, 0x18}), r.bytes);
    // The PC's reading: the frame ends at index length + 2 = 9; the code is at 4.
    EXPECT_EQ(9, r.Count());
    const int rsp = r.RspIndex(7, 0x41);
    ASSERT_EQ(4, rsp);
    EXPECT_EQ(0xC3, r.At(rsp - 3));
    EXPECT_EQ(1, r.At(rsp + 1));
    EXPECT_EQ(0x18, r.At(rsp + 3));

    // Without the prefix configured, type 1 answers plainly.
    config.prefixed = false;
    Start(config);
    EXPECT_EQ(Frame({0x07, 0x41, 0x01, 0x00, 0x18}), Ask(Packet(0x40)).bytes);
}

TEST_F(BootloaderDeviceTest, RevisionsSitWhereThePcReadsThem) {
    // A prefixed transmitter: application revision at RcvArray 5, 6, 7.
    Config config = Config::ForType(1);
    config.appRev = "12a";
    config.bslRev = "10b";
    Start(config);
    Received r = Ask(Packet(0x42));
    EXPECT_EQ(11, r.Count());
    EXPECT_EQ(0x09, r.At(3));
    EXPECT_EQ(0x43, r.At(4));
    EXPECT_EQ(std::string("12a"), r.bytes.substr(4, 3));
    // The bootloader answers FLASH_CMD with the code at RcvArray(RcvArray(0) - 2) ...
    r = Ask(Packet(0x52));
    EXPECT_EQ(0x53, r.At(r.Count() - 2));
    // ... and its revision at RcvArray 3, 4, 5, never prefixed.
    r = Ask(Packet(0x42));
    EXPECT_EQ(Frame({0x09, 0x43, '1', '0', 'b', 0x00, 0x00}), r.bytes);

    // A QTR receiver: application revision at RcvArray 3, 4, 5.
    config = Config::ForType(3);
    config.appRev = "2B7";
    Start(config);
    r = Ask(Packet(0x42));
    EXPECT_EQ(Frame({0x09, 0x43, '2', 'B', '7', 0x00, 0x00}), r.bytes);
}

TEST_F(BootloaderDeviceTest, ApplicationIgnoresPageCommandsUntilFlashMode) {
    Start(Config::ForType(3));
    device_->Flash()[0] = 0x00;
    EXPECT_EQ("", Ask(Packet(0x56, Bytes({0}))).bytes);
    EXPECT_EQ("", Ask(Packet(0x58)).bytes);
    EXPECT_EQ("", Ask(Packet(0x5C)).bytes);
    EXPECT_EQ("", Ask(Packet(0x5E), 300).bytes);
    EXPECT_EQ(0x00, device_->Flash()[0]);
    EXPECT_EQ(4, static_cast<int>(device_->Packets().size()));
}

TEST_F(BootloaderDeviceTest, QtrEraseWriteAndCrcRoundTrip) {
    Start(Config::ForType(3));
    EXPECT_EQ(0x8000u, device_->Flash().size());
    for (std::uint8_t b : device_->Flash())
        ASSERT_EQ(0xFF, b);
    EnterFlashMode();

    std::string page;
    for (int i = 0; i < 128; ++i)
        page.push_back(static_cast<char>(i * 7 + 3));
    const int p = 3;
    EXPECT_EQ("", Ask(Packet(0x56, Bytes({p}))).bytes);
    EXPECT_EQ(Frame({0x04, 0x59}), Ask(Packet(0x58)).bytes);
    for (int block = 0; block < 4; ++block) {
        const int address = p * 128 + block * 32;
        const Received r = Ask(Packet(0x5A, WritePayload(address, page.substr(block * 32, 32))));
        EXPECT_EQ(Frame({0x04, 0x5B}), r.bytes);
        EXPECT_EQ(0x5B, r.At(2));
    }
    const std::uint16_t crc = Crc16Xmodem(page);
    const Received r = Ask(Packet(0x5C));
    EXPECT_EQ(Frame({0x06, 0x5D, crc >> 8, crc & 0xFF}), r.bytes);
    EXPECT_EQ(crc, r.At(3) * 256 + r.At(4));

    const std::vector<std::uint8_t> stored = device_->Page(p);
    EXPECT_EQ(page, std::string(stored.begin(), stored.end()));
    EXPECT_EQ(0xFF, device_->Flash()[p * 128 - 1]);
    EXPECT_EQ(0xFF, device_->Flash()[p * 128 + 128]);

    // The CRC of an erased page is that of 128 bytes FF.
    Ask(Packet(0x56, Bytes({200})));
    const std::uint16_t blank = Crc16Xmodem(std::string(128, '\xFF'));
    EXPECT_EQ(Frame({0x06, 0x5D, blank >> 8, blank & 0xFF}), Ask(Packet(0x5C)).bytes);

    // Writing without erasing only clears bits; erasing brings FF back.
    Ask(Packet(0x56, Bytes({p})));
    Ask(Packet(0x5A, WritePayload(p * 128, std::string(32, '\x0F'))));
    EXPECT_EQ(page[0] & 0x0F, device_->Flash()[p * 128]);
    EXPECT_EQ(Frame({0x04, 0x59}), Ask(Packet(0x58)).bytes);
    EXPECT_EQ(0xFF, device_->Flash()[p * 128]);
}

TEST_F(BootloaderDeviceTest, VlnPagesAreFiveHundredTwelveBytesFromPageFour) {
    Start(Config::ForType(2));
    EXPECT_EQ(Family::VLN, device_->GetConfig().family);
    EXPECT_GE(device_->Flash().size(), 0x4000u);
    EnterFlashMode();

    // Pages 0..3 hold the bootloader: they cannot be selected.
    device_->Flash()[3 * 512] = 0x12;
    Ask(Packet(0x56, Bytes({3})));
    EXPECT_EQ("", Ask(Packet(0x58)).bytes);
    EXPECT_EQ("", Ask(Packet(0x5C)).bytes);
    EXPECT_EQ("", Ask(Packet(0x5A, WritePayload(0x07E0, std::string(32, '\0')))).bytes);
    EXPECT_EQ(0x12, device_->Flash()[3 * 512]);

    // Page 4 starts at 0x800, page 28 ends at 0x39FF.
    Ask(Packet(0x56, Bytes({28})));
    EXPECT_EQ(Frame({0x04, 0x59}), Ask(Packet(0x58)).bytes);
    EXPECT_EQ(Frame({0x04, 0x5B}),
              Ask(Packet(0x5A, WritePayload(0x39E0, std::string(32, '\x55')))).bytes);
    EXPECT_EQ(0x55, device_->Flash()[0x39FF]);
    std::string expected(512, '\xFF');
    expected.replace(512 - 32, 32, std::string(32, '\x55'));
    const std::uint16_t crc = Crc16Xmodem(expected);
    EXPECT_EQ(Frame({0x06, 0x5D, crc >> 8, crc & 0xFF}), Ask(Packet(0x5C)).bytes);

    Ask(Packet(0x56, Bytes({4})));
    Ask(Packet(0x58));
    Ask(Packet(0x5A, WritePayload(0x0800, std::string(32, '\x11'))));
    EXPECT_EQ(0x11, device_->Page(4)[0]);
    EXPECT_EQ(0x11, device_->Flash()[0x800]);
}

TEST_F(BootloaderDeviceTest, EraseAnswerComesAfterTheEraseTime) {
    Config config = Config::ForType(3);
    config.eraseUs = 40000;
    Start(config);
    EnterFlashMode();
    Ask(Packet(0x56, Bytes({1})), 5);
    EXPECT_EQ("", Ask(Packet(0x58), 30).bytes);
    EXPECT_EQ(Frame({0x04, 0x59}), Collect(30));
}

TEST_F(BootloaderDeviceTest, AnswersArePacedAtThePcsBaudRate) {
    // At 9600 baud 8N1 a byte takes 1042 us: 4 bytes in, 2 ms, 7 bytes out = 13.5 ms.
    Config config = Config::ForType(3);
    config.answerDelayUs = 2000;
    Start(config, "9600,N,8,1");
    platform_->serial.Output(Packet(0x40));
    EXPECT_EQ(6, static_cast<int>(Collect(13).size()));
    EXPECT_EQ(1, static_cast<int>(Collect(2).size()));
}

TEST_F(BootloaderDeviceTest, GoStartsTheApplicationWhichAnnouncesItself) {
    Config config = Config::ForType(1, 0x08);
    config.startUs = 150000;
    Start(config);
    EnterFlashMode();
    EXPECT_EQ("", Ask(Packet(0x5E), 100).bytes);
    EXPECT_EQ(BootloaderDevice::Mode::Starting, device_->CurrentMode());
    // Deaf while it starts: this packet is not even heard.
    EXPECT_EQ(Bytes({0x08}), Ask(Packet(0x40), 100).bytes);
    EXPECT_EQ(0, device_->CountOf(0x40));
    EXPECT_EQ(BootloaderDevice::Mode::App, device_->CurrentMode());
    // The application answers again, behind its prefix.
    EXPECT_EQ(0xC3, Ask(Packet(0x40)).At(1));
    EXPECT_EQ(1, device_->CountOf(0x40));
}

TEST_F(BootloaderDeviceTest, BadPacketsAreIgnoredAndTheNextOneIsRead) {
    Start(Config::ForType(3));
    std::string bad = Packet(0x40);
    bad[3] ^= 0x01;
    EXPECT_EQ("", Ask(bad).bytes);
    EXPECT_EQ(1, device_->BadPackets());
    // Noise that is no length byte, then a good packet.
    EXPECT_EQ(7, Ask(Bytes({0x00, 0xFF}) + Packet(0x40)).Count());
    // A packet cut off half-way is forgotten after a pause.
    platform_->serial.Output(Packet(0x56, Bytes({1})).substr(0, 3));
    EXPECT_EQ("", Collect(300));
    EXPECT_EQ(7, Ask(Packet(0x40)).Count());
    // A length that does not suit the command.
    EXPECT_EQ("", Ask(Packet(0x40, Bytes({1}))).bytes);
    EXPECT_EQ(2, device_->BadPackets());
    EXPECT_EQ(2, device_->CountOf(0x40));
}

TEST_F(BootloaderDeviceTest, SilenceSkipsOnlyTheChosenAnswers) {
    Config config = Config::ForType(3);
    Fault fault;
    fault.kind = Fault::Kind::Silence;
    fault.command = 0x40;
    fault.skip = 1;
    fault.times = 2;
    config.faults.push_back(fault);
    Start(config);
    EXPECT_EQ(7, Ask(Packet(0x40)).Count());
    EXPECT_EQ(0, Ask(Packet(0x40)).Count());
    EXPECT_EQ(0, Ask(Packet(0x40)).Count());
    EXPECT_EQ(7, Ask(Packet(0x40)).Count());
    EXPECT_EQ(9, Ask(Packet(0x42)).Count());  // other commands are not touched
}

TEST_F(BootloaderDeviceTest, WrongCodeShortAndLateAnswers) {
    Start(Config::ForType(3));
    EnterFlashMode();
    Fault wrong;
    wrong.kind = Fault::Kind::WrongCode;
    wrong.command = 0x58;
    wrong.code = 0x11;
    wrong.times = 1;
    device_->AddFault(wrong);
    Ask(Packet(0x56, Bytes({0})));
    EXPECT_EQ(Frame({0x04, 0x11}), Ask(Packet(0x58)).bytes);
    EXPECT_EQ(Frame({0x04, 0x59}), Ask(Packet(0x58)).bytes);

    Fault cutShort;
    cutShort.kind = Fault::Kind::CutShort;
    cutShort.command = 0x5C;
    cutShort.bytes = 3;
    cutShort.times = 1;
    device_->AddFault(cutShort);
    EXPECT_EQ(3, Ask(Packet(0x5C)).Count());
    EXPECT_EQ(6, Ask(Packet(0x5C)).Count());  // the device itself goes on

    Fault late;
    late.kind = Fault::Kind::Late;
    late.command = 0x5A;
    late.delayUs = 500000;
    late.times = 1;
    device_->AddFault(late);
    EXPECT_EQ("", Ask(Packet(0x5A, WritePayload(0, std::string(32, '\0'))), 400).bytes);
    EXPECT_EQ(Frame({0x04, 0x5B}), Collect(200));
}

TEST_F(BootloaderDeviceTest, LateAnswersKeepTheirOrder) {
    Config config = Config::ForType(3);
    Fault late;
    late.kind = Fault::Kind::Late;
    late.command = 0x40;
    late.delayUs = 300000;
    config.faults.push_back(late);
    Start(config);
    platform_->serial.Output(Packet(0x40) + Packet(0x42));
    const std::string got = Collect(500);
    ASSERT_EQ(16u, got.size());
    EXPECT_EQ(0x41, static_cast<unsigned char>(got[1]));
    EXPECT_EQ(0x43, static_cast<unsigned char>(got[8]));
}

TEST_F(BootloaderDeviceTest, CutStreamStopsEverythingUntilPowerUp) {
    Config config = Config::ForType(3);
    Fault cut;
    cut.kind = Fault::Kind::CutStream;
    cut.command = 0x42;
    cut.bytes = 4;
    cut.times = 1;
    config.faults.push_back(cut);
    Start(config);
    EXPECT_EQ(Frame({0x09, 0x43, '1', '2', 'a', 0, 0}).substr(0, 4), Ask(Packet(0x42)).bytes);
    EXPECT_EQ("", Ask(Packet(0x40)).bytes);
    EXPECT_EQ(2, static_cast<int>(device_->Packets().size()));  // it still hears
    device_->PowerUp();
    EXPECT_EQ(Bytes({0x08}), Collect(200));
    EXPECT_EQ(7, Ask(Packet(0x40)).Count());
}

TEST_F(BootloaderDeviceTest, UnplugCallsTheHookAndTheDeviceIsGone) {
    Config config = Config::ForType(3);
    Fault unplug;
    unplug.kind = Fault::Kind::Unplug;
    unplug.command = 0x52;
    config.faults.push_back(unplug);
    Start(config);
    int calls = 0;
    device_->SetUnplugHook([&] {
        ++calls;
        line_->Unplug();
    });
    EXPECT_EQ(7, Ask(Packet(0x40)).Count());
    EXPECT_EQ("", Ask(Packet(0x52)).bytes);
    EXPECT_EQ(1, calls);
    EXPECT_TRUE(line_->Unplugged());
    EXPECT_EQ(BootloaderDevice::Mode::Off, device_->CurrentMode());
    EXPECT_EQ(0, platform_->serial.InBufferCount());
    // A port that has vanished cannot be opened again.
    platform_->serial.SetPortOpen(false);
    EXPECT_THROW(platform_->serial.SetPortOpen(true), rompush::platform::PlatformError);
}

TEST(FaultText, ParsesEveryKindAndRejectsNonsense) {
    auto f = rompush::sim::ParseFault("late,cmd=CRC_PAGE_CMD,delay=250,skip=2,times=1");
    ASSERT_TRUE(f);
    EXPECT_EQ(Fault::Kind::Late, f->kind);
    EXPECT_EQ(0x5C, f->command);
    EXPECT_EQ(250000, f->delayUs);
    EXPECT_EQ(2, f->skip);
    EXPECT_EQ(1, f->times);

    f = rompush::sim::ParseFault("wrong,cmd=0x58,code=0x12");
    ASSERT_TRUE(f);
    EXPECT_EQ(Fault::Kind::WrongCode, f->kind);
    EXPECT_EQ(0x58, f->command);
    EXPECT_EQ(0x12, f->code);
    EXPECT_EQ(-1, f->times);

    f = rompush::sim::ParseFault("cut,cmd=id,bytes=3");
    ASSERT_TRUE(f);
    EXPECT_EQ(Fault::Kind::CutStream, f->kind);
    EXPECT_EQ(0x40, f->command);
    EXPECT_EQ(3, f->bytes);

    EXPECT_EQ(Fault::Kind::Silence, rompush::sim::ParseFault("silence")->kind);
    EXPECT_EQ(Fault::Kind::CutShort, rompush::sim::ParseFault("short,bytes=1")->kind);
    EXPECT_EQ(Fault::Kind::Unplug, rompush::sim::ParseFault("unplug,cmd=go")->kind);
    EXPECT_FALSE(rompush::sim::ParseFault(""));
    EXPECT_FALSE(rompush::sim::ParseFault("explode"));
    EXPECT_FALSE(rompush::sim::ParseFault("late,delay=x"));
    EXPECT_FALSE(rompush::sim::ParseFault("late,cmd=NOPE"));
    EXPECT_FALSE(rompush::sim::ParseFault("late,colour=5"));
}

}  // namespace
