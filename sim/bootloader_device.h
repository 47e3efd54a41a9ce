// A device with the packet bootloader, as the PC sees it on its COM port: the application
// that answers the identification and revision packets, and the bootloader behind it that
// erases, writes and checks the flash page by page. It runs on any DeviceHost: in-process on
// the virtual clock (SerialLine) or in real time behind a pseudo-terminal (rompush-devsim).
//
// Packets from the PC: length L, command, payload, CRC-16 (XMODEM) high and low over bytes
// 0..L-3. A packet with a bad CRC or a length that does not suit its command is ignored.
//
// Answer frames (c c = CRC-16 over the frame's bytes before it; PC indices count the frame's
// first byte as RcvArray(1), or the prefix's first byte when there is one):
//
//   ID_CMD         07 41 TT BB FF c c        TT device type, BB the identification byte,
//                                            FF the flags byte (RspIndex+1 and +3)
//   FW_CMD         09 43 R1 R2 R3 00 00 c c  R1 R2 R3 the revision characters
//   FLASH_CMD      04 53 c c                 the bootloader has taken over
//   SET_PAGE_CMD   (no answer)
//   ERASE_PAGE_CMD 04 59 c c                 sent when the erase has finished
//   WRITE_PAGE_CMD 04 5B c c
//   CRC_PAGE_CMD   06 5D CH CL c c           CH CL the CRC-16 of the page set
//   GO_CMD         (no answer) the application starts and announces itself with 08
//
// The application of a "prefixed" device (the type-1 transmitters) answers ID_CMD and FW_CMD
// behind the two bytes C3 PP, which the length byte does not count: C3 PP 07 41 TT BB FF c c.
// The PC reads the application revision of such a device at RcvArray 5, 6, 7 (behind the
// prefix) and that of an unprefixed QTR receiver at RcvArray 3, 4, 5. In flash mode the
// bootloader answers itself, never prefixed, so its revision is always at RcvArray 3, 4, 5:
//
//   application, prefixed   C3 PP 09 43 '1' '2' 'a' 00 00 c c  -> "Rev H1.2A"
//   application, plain      09 43 '1' '2' 'a' 00 00 c c        -> "Rev D1.2A"
//   bootloader (flash mode) 09 43 '1' '0' 'b' 00 00 c c        -> "BSL 1.0B"
//
// The application answers only ID_CMD, FW_CMD and FLASH_CMD; page commands and GO_CMD are
// for the bootloader, so they go unanswered until FLASH_CMD has handed over to it. Flash
// cells behave like real flash: erasing sets a page to FF, writing can only clear bits.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/device_host.h"

namespace rompush::sim {

// CRC-16 with polynomial 0x1021, initial value 0, most significant bit first, no final XOR.
std::uint16_t Crc16Xmodem(const std::uint8_t* data, std::size_t length);
std::uint16_t Crc16Xmodem(const std::string& bytes);

// The two bootloader families and their flash geometry.
enum class Family { QTR, VLN };

struct FlashGeometry {
    int pageSize;
    int firstPage;  // pages below belong to the bootloader itself and cannot be selected
    int lastPage;
    std::size_t flashSize;  // device address = page * pageSize
};
FlashGeometry GeometryOf(Family family);

// A fault the device shows when answering. Each fault counts the packets of its command
// (any command when command is 0): the first `skip` are answered normally, the next `times`
// (every further one when times < 0) are spoiled.
struct Fault {
    enum class Kind {
        Silence,    // the work is done, no answer is sent
        WrongCode,  // the answer carries `code` instead of the proper answer code
        CutShort,   // only the first `bytes` bytes of the answer are sent
        Late,       // the answer comes `delayUs` later than usual
        CutStream,  // `bytes` bytes of the answer, then nothing more until the next power-up
        Unplug,     // the unplug hook runs and the device is gone
        BadWrite,   // a write is answered as good but its first byte is stored inverted
    };
    Kind kind = Kind::Silence;
    std::uint8_t command = 0;
    int skip = 0;
    int times = -1;
    int bytes = 0;
    std::int64_t delayUs = 0;
    std::uint8_t code = 0x7F;
};

// Reads a fault written as "kind[,cmd=0x5C][,skip=N][,times=N][,bytes=N][,delay=MS][,code=0xNN]"
// with kind one of silence, wrong, short, late, cut, unplug, badwrite. nullopt when malformed.
std::optional<Fault> ParseFault(const std::string& text);

class BootloaderDevice : public SerialDevice {
  public:
    enum class PowerUpOn {
        Never,      // the device runs from the start and never announces itself by itself
        FirstOpen,  // the first time the PC opens its port
        EveryOpen,  // every time the PC opens its port (the adapter's DTR resets the device)
    };
    enum class Mode {
        Off,       // unplugged
        Starting,  // the application is starting up and hears nothing
        App,       // the application runs
        Boot,      // the bootloader runs (flash mode)
    };

    struct Config {
        int type = 3;
        std::uint8_t flags = 0;
        std::uint8_t idByte = 0;
        Family family = Family::QTR;
        bool prefixed = false;  // the application answers behind C3 PP
        std::uint8_t prefixByte = 0x01;
        std::string appRev = "12a";  // three characters
        std::string bslRev = "10b";
        std::int64_t answerDelayUs = 2000;         // from the last byte of a packet to its answer
        std::int64_t eraseUs = 5000;               // added to the erase answer
        std::int64_t writeUs = 500;                // added to the write answer
        std::int64_t startUs = 100000;             // application start-up until the ready byte
        std::int64_t interByteTimeoutUs = 100000;  // a half packet older than this is dropped
        PowerUpOn powerUpOn = PowerUpOn::EveryOpen;
        std::vector<Fault> faults;

        // Family and prefix as the device types have them: types 1 and 2 are VLN, the others
        // QTR; type 1 answers behind the prefix.
        static Config ForType(int type, std::uint8_t flags = 0);
    };

    struct ReceivedPacket {
        std::uint8_t command;
        std::vector<std::uint8_t> payload;
        std::int64_t atUs;
    };

    BootloaderDevice();
    explicit BootloaderDevice(Config config);

    // SerialDevice.
    void OnHostByte(std::uint8_t byte) override;
    void OnHostOpened() override;
    void OnHostClosed() override {}

    // Power-up: the application starts and sends the ready byte 08 once it runs, when the
    // PC has its port open. Also ends an unplug or a cut stream.
    void PowerUp();
    // What the device does when it is pulled out (an Unplug fault): in-process the test calls
    // SerialLine::Unplug(), behind a pseudo-terminal the master is closed.
    void SetUnplugHook(std::function<void()> hook) { unplugHook_ = std::move(hook); }
    void AddFault(const Fault& fault);
    void ClearFaults();

    Mode CurrentMode() const { return mode_; }
    const Config& GetConfig() const { return config_; }
    const FlashGeometry& Geometry() const { return geometry_; }

    // The flash contents, device address 0 upwards.
    std::vector<std::uint8_t>& Flash() { return flash_; }
    const std::vector<std::uint8_t>& Flash() const { return flash_; }
    std::vector<std::uint8_t> Page(int page) const;

    // Packets received with a good CRC, in order, and the number of bad ones.
    const std::vector<ReceivedPacket>& Packets() const { return packets_; }
    int BadPackets() const { return badPackets_; }
    int CountOf(std::uint8_t command) const;
    void ClearLog();
    // Every byte the device has handed to the line.
    const std::string& Sent() const { return sent_; }

  private:
    struct FaultState {
        Fault fault;
        int seen = 0;
    };
    struct Answer {
        std::string prefix;  // C3 PP, not counted by the frame's length byte
        std::string frame;
        std::int64_t workUs = 0;  // erase or write time before the answer leaves
    };

    void HandlePacket(const std::vector<std::uint8_t>& packet);
    std::optional<Answer> Execute(std::uint8_t command, const std::vector<std::uint8_t>& payload);
    static std::string Frame(std::uint8_t code, const std::vector<std::uint8_t>& data);
    static std::vector<std::uint8_t> Revision(const std::string& rev);
    void Reply(Answer answer, std::int64_t atUs, const std::vector<Fault>& active);
    void Transmit(const std::string& bytes);
    void StartApplication();
    bool PageSelected() const;

    Config config_;
    FlashGeometry geometry_;
    std::vector<std::uint8_t> flash_;
    std::vector<FaultState> faults_;
    Mode mode_ = Mode::App;
    bool muted_ = false;  // the stream was cut
    bool everOpened_ = false;
    std::uint64_t epoch_ = 0;  // answers and start-ups of an earlier power-up are dropped
    int page_ = -1;            // the page set by SET_PAGE_CMD, -1 none
    std::vector<std::uint8_t> rx_;
    std::int64_t lastByteUs_ = 0;
    std::int64_t busyUntilUs_ = 0;  // answers leave in order, each after the work before it
    std::vector<ReceivedPacket> packets_;
    int badPackets_ = 0;
    std::string sent_;
    std::function<void()> unplugHook_;
};

}  // namespace rompush::sim
