// What the program and rompush-kbc-helper say to each other over their socket pair (one
// message a request, one an answer; the helper answers every request in order).
//
// The helper alone holds the rights to the keyboard controller. The program asks it for one
// port access at a time, or for a watch of the status port that ends when the status
// changes (the pause between two polls of a wait, spent in the helper, so that a poll costs no
// round trip while nothing happens on the controller).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace rompush::kbc {

// The helper's socket is this descriptor in the helper.
constexpr int kHelperSocketFd = 3;

enum class Op : std::uint8_t {
    Hello = 'H',     // answer: value bit 0 direct provider usable, bit 1 driver-backed usable
    Read = 'R',      // answer: value = the byte at port
    Write = 'W',     // value to port
    Watch = 'S',     // poll port until it reads other than value, or until watchUs passed
    Held = 'K',      // value 1: the program holds the controller (interrupts off), 0: not
    GiveBack = 'G',  // give the controller back now (command byte 0x47) if it is held
};

// Which of the program's two port-access providers a request goes through.
enum class Provider : std::uint8_t {
    Direct = 'D',  // ioperm, else /dev/port
    Driver = 'W',  // /dev/port
};

enum class Result : std::uint8_t {
    Ok = 0,
    Refused = 1,   // a port or controller command outside what the program uses
    NoAccess = 2,  // the helper has no access through that provider
    Failed = 3,    // the byte was not transferred
};

constexpr std::uint8_t kHelloDirect = 0x01;
constexpr std::uint8_t kHelloDriver = 0x02;

struct Request {
    Op op = Op::Hello;
    Provider provider = Provider::Direct;
    std::uint8_t port = 0;
    std::uint8_t value = 0;
    std::uint16_t watchUs = 0;
};
constexpr std::size_t kRequestSize = 6;

struct Answer {
    Result result = Result::Ok;
    std::uint8_t value = 0;
    std::string text;  // why a request was refused or failed; the hello's missing access
    // The status port as read right after a read of the data port, or after a write once the
    // controller has taken the byte (at most 1 ms): what the program's next poll of the
    // status would read, without a round trip of its own.
    bool hasStatus = false;
    std::uint8_t status = 0;
};
constexpr std::size_t kMaxAnswerSize = 256;

inline void Encode(const Request& r, unsigned char (&out)[kRequestSize]) {
    out[0] = static_cast<unsigned char>(r.op);
    out[1] = static_cast<unsigned char>(r.provider);
    out[2] = r.port;
    out[3] = r.value;
    out[4] = static_cast<unsigned char>(r.watchUs & 0xFF);
    out[5] = static_cast<unsigned char>(r.watchUs >> 8);
}

inline Request DecodeRequest(const unsigned char (&in)[kRequestSize]) {
    Request r;
    r.op = static_cast<Op>(in[0]);
    r.provider = static_cast<Provider>(in[1]);
    r.port = in[2];
    r.value = in[3];
    r.watchUs = static_cast<std::uint16_t>(in[4] | (in[5] << 8));
    return r;
}

// Four bytes, then the text (cut to what fits).
inline std::size_t Encode(const Answer& a, unsigned char (&out)[kMaxAnswerSize]) {
    out[0] = static_cast<unsigned char>(a.result);
    out[1] = a.value;
    out[2] = a.hasStatus ? 1 : 0;
    out[3] = a.status;
    const std::size_t n = a.text.size() < kMaxAnswerSize - 4 ? a.text.size() : kMaxAnswerSize - 4;
    std::memcpy(out + 4, a.text.data(), n);
    return n + 4;
}

inline Answer DecodeAnswer(const unsigned char* in, std::size_t size) {
    Answer a;
    if (size < 4) {
        a.result = Result::Failed;
        return a;
    }
    a.result = static_cast<Result>(in[0]);
    a.value = in[1];
    a.hasStatus = in[2] != 0;
    a.status = in[3];
    a.text.assign(reinterpret_cast<const char*>(in + 4), size - 4);
    return a;
}

}  // namespace rompush::kbc
