// The maker's small KVM devices on the PC's keyboard port (Monolink, Orbit Tiny, Orbit Mini,
// Prisma), as the keyboard controller sees them: they take a byte about a millisecond after
// the controller starts clocking it out, acknowledge it (0xFA) shortly after, type their
// identity as set-2 key strokes, keep a ten-byte configuration record and take new firmware
// through their programming protocol:
//   0xDD           identity: 0xFA, then make and break codes of each character, then space
//   0xDE           configuration: 0xFA, then the 10 bytes
//   0xDF + 10      writes the configuration (each byte acknowledged)
//   0xCC           starts programming: the CRC of the data bytes starts at 0
//   0x0B hi lo n   erases n units from address hi:lo (busy for n x about 30 ms)
//   0x0E hi lo n + n data bytes   writes the bytes at hi:lo, each one acknowledged
//   0x62 hi lo a   compares the CRC hi:lo with its own; after the acknowledgement of the last
//                  byte it puts its verdict in the controller: 0xFA equal, 0xFC different
// Anything else is answered 0xFE (resend), as a keyboard answers a command it does not know.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace rompush::sim {

// The PS/2 timing both ends keep. Defaults are those of a real keyboard port.
struct Ps2Timing {
    std::int64_t takeUs = 30;          // the controller takes a byte written to it
    std::int64_t wireByteUs = 1000;    // one byte (11 bits) on the PS/2 wire, either way
    std::int64_t ackUs = 300;          // from a byte received to its acknowledgement starting
    std::int64_t answerUs = 2000;      // from a request to its answer (identity, configuration)
    std::int64_t eraseUnitUs = 29000;  // one erase unit of 0x0B (the program waits 30 ms each)
    std::int64_t verdictUs = 3000;     // from the last 0x62 byte to the verdict
};

// What a device sees of the controller it is attached to.
class Ps2Link {
  public:
    virtual ~Ps2Link() = default;
    // Queues a byte for the PC; it goes on the wire at notBeforeUs or once the bytes queued
    // before it are through, whichever is later, and only while the controller can take it.
    virtual void SendToHost(std::uint8_t byte, std::int64_t notBeforeUs) = 0;
    virtual std::int64_t NowUs() const = 0;
};

class Ps2Device {
  public:
    virtual ~Ps2Device() = default;
    // A byte from the PC has fully arrived at atUs.
    virtual void Receive(std::uint8_t byte, std::int64_t atUs, Ps2Link& link) = 0;
};

enum class KvmModel { Monolink, OrbitTiny, OrbitMini, Prisma };

// "monolink", "orbit-tiny", "orbit-mini", "prisma"; nullopt for anything else.
std::optional<KvmModel> KvmModelByName(const std::string& name);
const char* KvmModelName(KvmModel model);

class KvmDevice : public Ps2Device {
  public:
    static constexpr std::size_t kFlashSize = 0x8000;
    using Config = std::array<std::uint8_t, 10>;

    // identity "" gives the model's usual one ("k12n", "t12n", "v13n", "b11n").
    explicit KvmDevice(KvmModel model, std::string identity = "", Ps2Timing timing = {});

    KvmModel Model() const { return model_; }
    const std::string& Identity() const { return identity_; }
    void SetIdentity(std::string identity) {
        identity_ = std::move(identity);
        identityCodes_.clear();
    }
    // Answers 0xDD with exactly these set-2 bytes instead (foreign codes, odd key releases).
    void SetIdentityCodes(std::vector<std::uint8_t> set2Codes) {
        identityCodes_ = std::move(set2Codes);
    }

    // Flash by load address (0x0000..0x7FFF); the application lies from ApplicationBase()
    // (Monolink 0x4000, Orbit and Prisma 0x2000) to 0x7FFF and holds an older firmware at first.
    std::vector<std::uint8_t>& Flash() { return flash_; }
    std::uint16_t ApplicationBase() const;
    Config& Configuration() { return config_; }

    // Every byte received, in order (as the device took it: after any corruption).
    const std::vector<std::uint8_t>& Received() const { return received_; }
    // The verdicts put out for 0x62 so far.
    const std::vector<std::uint8_t>& Verdicts() const { return verdicts_; }
    // Times 0x0B erased the flash, and 0xDF wrote the configuration.
    int Erases() const { return erases_; }
    int ConfigWrites() const { return configWrites_; }

    // Faults.
    void SetSilent(bool silent) { silent_ = silent; }      // takes bytes, never answers
    void SetNoAcknowledge(bool noAck) { noAck_ = noAck; }  // acts on bytes, never acks
    void NoAckFor(std::uint8_t command) { noAckFor_.push_back(command); }  // acts, no ack
    void LoseAckEvery(int n) { loseAckEvery_ = n; }    // every nth ack is lost (0 never)
    void AnswerResendNext(int n) { resendNext_ = n; }  // next n bytes: 0xFE, not taken
    void StopAfter(int n) { stopAfter_ = n; }          // dead after n more bytes
    void CorruptDataByte(int index, std::uint8_t xorMask = 0x01) {  // nth data byte since 0xCC
        corruptIndex_ = index;
        corruptMask_ = xorMask;
    }
    // The kth byte after the next `command` (1 = the byte right after it) is lost on the wire
    // once: neither taken nor acknowledged, so the device waits for one byte more.
    void LoseByteAfter(std::uint8_t command, int k) {
        loseAfter_ = command;
        loseIn_ = k;
        loseArmed_ = false;
    }
    void SendShortConfig(int count) { shortConfig_ = count; }  // 0xDE answers only count bytes
    void DelayConfigAck(std::int64_t us) { configAckDelayUs_ = us; }  // 0xDE acked late

    void Receive(std::uint8_t byte, std::int64_t atUs, Ps2Link& link) override;

  private:
    enum class State { Idle, EraseArgs, RecordHeader, RecordData, VerifyArgs, ConfigData };

    bool AckLost(std::uint8_t byte);
    void Ack(std::int64_t atUs, Ps2Link& link);
    void Command(std::uint8_t byte, std::int64_t atUs, Ps2Link& link);
    void TypeIdentity(std::int64_t atUs, Ps2Link& link);
    // Acknowledges an argument byte of the command being received and keeps it; true once
    // the command has all `count` of them.
    bool TakeArgument(std::uint8_t byte, int count, std::int64_t atUs, Ps2Link& link);
    void Erase(std::int64_t atUs);
    std::uint16_t Crc(std::uint16_t crc, std::uint8_t byte) const;

    KvmModel model_;
    std::string identity_;
    std::vector<std::uint8_t> identityCodes_;
    Ps2Timing timing_;
    std::vector<std::uint8_t> flash_;
    Config config_{};

    State state_ = State::Idle;
    bool programming_ = false;
    std::uint16_t crc_ = 0;
    int dataIndex_ = 0;  // data bytes received since 0xCC
    std::array<std::uint8_t, 10> args_{};
    int argCount_ = 0;
    std::uint16_t address_ = 0;
    int remaining_ = 0;
    std::int64_t busyUntilUs_ = 0;

    std::vector<std::uint8_t> received_;
    std::vector<std::uint8_t> verdicts_;
    int erases_ = 0;
    int configWrites_ = 0;
    int acks_ = 0;

    bool silent_ = false;
    bool noAck_ = false;
    std::vector<std::uint8_t> noAckFor_;
    int loseAckEvery_ = 0;
    int resendNext_ = 0;
    int stopAfter_ = -1;
    int corruptIndex_ = -1;
    std::uint8_t corruptMask_ = 0x01;
    int shortConfig_ = 10;
    std::uint8_t loseAfter_ = 0;
    int loseIn_ = 0;  // bytes still to come up to the one lost (0: none to lose)
    bool loseArmed_ = false;
    std::int64_t configAckDelayUs_ = 0;
};

}  // namespace rompush::sim
