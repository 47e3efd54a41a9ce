#include "sim/ps2_kvm_device.h"

#include <algorithm>

namespace rompush::sim {

namespace {

// Set-2 make codes of the keys a device types its identity with.
std::uint8_t Set2Of(char c) {
    static const char* const kLetters = "abcdefghijklmnopqrstuvwxyz";
    static const std::uint8_t kLetterCodes[26] = {
        0x1C, 0x32, 0x21, 0x23, 0x24, 0x2B, 0x34, 0x33, 0x43, 0x3B, 0x42, 0x4B, 0x3A,
        0x31, 0x44, 0x4D, 0x15, 0x2D, 0x1B, 0x2C, 0x3C, 0x2A, 0x1D, 0x22, 0x35, 0x1A};
    static const std::uint8_t kDigitCodes[10] = {0x45, 0x16, 0x1E, 0x26, 0x25,
                                                 0x2E, 0x36, 0x3D, 0x3E, 0x46};
    if (c == ' ')
        return 0x29;
    if (c >= '0' && c <= '9')
        return kDigitCodes[c - '0'];
    for (int i = 0; i < 26; ++i) {
        if (kLetters[i] == c)
            return kLetterCodes[i];
    }
    return 0;
}

struct ModelData {
    const char* name;
    const char* identity;
    std::uint16_t base;
    int eraseUnits;  // 0x0B erases the whole application in this many units
    KvmDevice::Config config;
};

const ModelData& DataOf(KvmModel model) {
    static const ModelData kModels[] = {
        {"monolink", "k12n", 0x4000, 128, {30, 1, 0x2B, 0x10, 0x20, 0x10, 0x10, 1, 1, 0x00}},
        {"orbit-tiny", "t12n", 0x2000, 64, {30, 1, 0x2B, 0x10, 0x20, 0x10, 0x10, 1, 1, 0x00}},
        {"orbit-mini", "v13n", 0x2000, 64, {45, 3, 0x2B, 0x20, 0x10, 0x30, 0x10, 0x85, 4, 0x12}},
        {"prisma", "b11n", 0x2000, 64, {15, 1, 0x00, 0x10, 0x10, 0x10, 0x10, 1, 1, 0x00}},
    };
    return kModels[static_cast<int>(model)];
}

}  // namespace

std::optional<KvmModel> KvmModelByName(const std::string& name) {
    for (KvmModel m :
         {KvmModel::Monolink, KvmModel::OrbitTiny, KvmModel::OrbitMini, KvmModel::Prisma}) {
        if (name == DataOf(m).name)
            return m;
    }
    return std::nullopt;
}

const char* KvmModelName(KvmModel model) {
    return DataOf(model).name;
}

KvmDevice::KvmDevice(KvmModel model, std::string identity, Ps2Timing timing)
    : model_(model),
      identity_(identity.empty() ? DataOf(model).identity : std::move(identity)),
      timing_(timing),
      flash_(kFlashSize),
      config_(DataOf(model).config) {
    // A boot loader below the application, an older firmware in it.
    const std::size_t base = ApplicationBase();
    for (std::size_t a = 0; a < kFlashSize; ++a)
        flash_[a] = a < base ? 0x5A : static_cast<std::uint8_t>(a * 7 + 3);
}

std::uint16_t KvmDevice::ApplicationBase() const {
    return DataOf(model_).base;
}

std::uint16_t KvmDevice::Crc(std::uint16_t crc, std::uint8_t byte) const {
    crc ^= static_cast<std::uint16_t>(byte << 8);
    for (int bit = 0; bit < 8; ++bit)
        crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021)
                             : static_cast<std::uint16_t>(crc << 1);
    return crc;
}

bool KvmDevice::AckLost(std::uint8_t byte) {
    ++acks_;
    if (state_ == State::Idle &&
        std::find(noAckFor_.begin(), noAckFor_.end(), byte) != noAckFor_.end())
        return true;
    return noAck_ || (loseAckEvery_ > 0 && acks_ % loseAckEvery_ == 0);
}

void KvmDevice::Ack(std::int64_t atUs, Ps2Link& link) {
    if (!AckLost(received_.back()))
        link.SendToHost(0xFA, atUs + timing_.ackUs);
}

void KvmDevice::TypeIdentity(std::int64_t atUs, Ps2Link& link) {
    std::vector<std::uint8_t> codes = identityCodes_;
    if (codes.empty()) {
        for (char c : identity_ + " ") {
            if (std::uint8_t code = Set2Of(c)) {
                codes.push_back(code);
                codes.push_back(0xF0);
                codes.push_back(code);
            }
        }
    }
    for (std::uint8_t code : codes)
        link.SendToHost(code, atUs);
}

bool KvmDevice::TakeArgument(std::uint8_t byte, int count, std::int64_t atUs, Ps2Link& link) {
    Ack(atUs, link);
    args_[static_cast<std::size_t>(argCount_++)] = byte;
    return argCount_ == count;
}

void KvmDevice::Erase(std::int64_t atUs) {
    const ModelData& data = DataOf(model_);
    const std::size_t unit = (kFlashSize - data.base) / static_cast<std::size_t>(data.eraseUnits);
    const std::size_t start = static_cast<std::size_t>(args_[0] << 8 | args_[1]);
    const std::size_t end = std::min(kFlashSize, start + args_[2] * unit);
    // The boot loader never erases itself.
    for (std::size_t a = std::max<std::size_t>(start, data.base); a < end; ++a)
        flash_[a] = 0xFF;
    ++erases_;
    busyUntilUs_ = atUs + timing_.ackUs + args_[2] * timing_.eraseUnitUs;
}

void KvmDevice::Command(std::uint8_t byte, std::int64_t atUs, Ps2Link& link) {
    argCount_ = 0;
    switch (byte) {
        case 0xDD:
            Ack(atUs, link);
            TypeIdentity(atUs + timing_.answerUs, link);
            return;
        case 0xDE: {
            const std::int64_t ackAt = atUs + timing_.ackUs + configAckDelayUs_;
            if (!AckLost(byte))
                link.SendToHost(0xFA, ackAt);
            for (int i = 0; i < std::min(shortConfig_, 10); ++i)
                link.SendToHost(config_[static_cast<std::size_t>(i)],
                                std::max(ackAt, atUs + timing_.answerUs));
            return;
        }
        case 0xDF:
            Ack(atUs, link);
            state_ = State::ConfigData;
            return;
        case 0xCC:
            Ack(atUs, link);
            programming_ = true;
            crc_ = 0;
            dataIndex_ = 0;
            return;
        case 0xFF:  // reset: acknowledged, then the self-test passed
            Ack(atUs, link);
            link.SendToHost(0xAA, atUs + timing_.answerUs);
            return;
        case 0xEE:  // echo
            link.SendToHost(0xEE, atUs + timing_.ackUs);
            return;
        default:
            break;
    }
    if (programming_ && (byte == 0x0B || byte == 0x0E || byte == 0x62)) {
        Ack(atUs, link);
        state_ = byte == 0x0B   ? State::EraseArgs
                 : byte == 0x0E ? State::RecordHeader
                                : State::VerifyArgs;
        return;
    }
    link.SendToHost(0xFE, atUs + timing_.ackUs);
}

void KvmDevice::Receive(std::uint8_t byte, std::int64_t atUs, Ps2Link& link) {
    if (stopAfter_ == 0)
        return;  // dead: nothing is taken any more
    if (stopAfter_ > 0)
        --stopAfter_;
    if (atUs < busyUntilUs_)
        return;  // erasing: the byte is lost
    if (loseArmed_ && --loseIn_ == 0) {
        loseArmed_ = false;
        return;  // lost on the wire
    }
    if (loseIn_ > 0 && !loseArmed_ && state_ == State::Idle && byte == loseAfter_)
        loseArmed_ = true;  // the bytes after this one are counted
    if (resendNext_ > 0) {
        --resendNext_;
        if (!silent_)
            link.SendToHost(0xFE, atUs + timing_.ackUs);
        return;
    }
    if (state_ == State::RecordData && dataIndex_ == corruptIndex_)
        byte ^= corruptMask_;
    received_.push_back(byte);
    if (silent_)
        return;

    switch (state_) {
        case State::Idle:
            Command(byte, atUs, link);
            return;
        case State::EraseArgs:
            if (TakeArgument(byte, 3, atUs, link)) {
                state_ = State::Idle;
                Erase(atUs);
            }
            return;
        case State::RecordHeader:
            if (TakeArgument(byte, 3, atUs, link)) {
                address_ = static_cast<std::uint16_t>(args_[0] << 8 | args_[1]);
                remaining_ = args_[2];
                state_ = remaining_ > 0 ? State::RecordData : State::Idle;
            }
            return;
        case State::RecordData:
            Ack(atUs, link);
            crc_ = Crc(crc_, byte);
            ++dataIndex_;
            // Flash bits only go from 1 to 0; the boot loader below the application stays.
            if (address_ >= ApplicationBase() && address_ < kFlashSize)
                flash_[address_] &= byte;
            ++address_;
            if (--remaining_ == 0)
                state_ = State::Idle;
            return;
        case State::VerifyArgs:
            if (TakeArgument(byte, 3, atUs, link)) {
                state_ = State::Idle;
                programming_ = false;
                const std::uint16_t sent = static_cast<std::uint16_t>(args_[0] << 8 | args_[1]);
                const std::uint8_t verdict = sent == crc_ ? 0xFA : 0xFC;
                verdicts_.push_back(verdict);
                link.SendToHost(verdict, atUs + timing_.verdictUs);
            }
            return;
        case State::ConfigData:
            if (TakeArgument(byte, 10, atUs, link)) {
                state_ = State::Idle;
                std::copy_n(args_.begin(), 10, config_.begin());
                ++configWrites_;
            }
            return;
    }
}

}  // namespace rompush::sim
