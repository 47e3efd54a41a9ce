#include "menus/serial_banner.h"

#include <algorithm>

#include "core/state.h"
#include "core/trace.h"
#include "menus/crossfield.h"
#include "menus/kvt.h"
#include "menus/meridan.h"
#include "platform/platform.h"
#include "serial/comm.h"
#include "ui/main_window.h"

namespace rompush {

namespace {
// More bytes than this waiting is a product talking, not line noise.
constexpr int kBannerThreshold = 50;
// A shorter burst is given this long to grow past the threshold.
constexpr int kBurstGraceMs = 1000;
// What the port hears when a packet-bootloader device's start-up chatter arrives at the
// wrong rate: never a product's banner.
const std::string kNoiseSignature = "\xE0\x8E\x1C";

bool Holds(const std::string& text, const char* what) {
    return text.find(what) != std::string::npos;
}

// The product the text announces: "Cfx9600", "Meridan", "KVT", "Cfx57600", or "" for none.
std::string BannerSelection(const std::string& text) {
    if (std::all_of(text.begin(), text.end(), [](char c) { return c == '\0'; }))
        return "Cfx9600";  // a 9600-baud Crossfield heard at 115200: only start bits
    if (Holds(text, "Tarn monitor") || Holds(text, "Hit"))
        return "Meridan";
    if (Holds(text, "KVT-BL Rev") || Holds(text, "KVT Rev") || Holds(text, "CHECK SUM error"))
        return "KVT";
    if (CountQueryMarks(text) == 0)
        return "Cfx57600";  // a 57600-baud Crossfield heard at 115200 never shows a "?"
    return "";
}

// Reads up to count characters, one per read, onto the end of SerialText.
void ReadCharacters(int count) {
    auto& serial = *platform::Current().serial;
    for (int i = 0; i < count; ++i) {
        const std::string in = serial.Input();
        if (in.empty())
            break;
        g.menus.SerialText += in;
    }
}
}  // namespace

int CountQueryMarks(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '?'));
}

void CheckSerialBanner() {
    auto& serial = *platform::Current().serial;
    auto& menus = g.menus;
    const int waiting = serial.InBufferCount();
    // An error on screen (a refused HEX file, a failed scan) does not stop a product that
    // powers up from being heard: the operator power-cycles it to be served, and nothing else
    // would tell why that did nothing.
    if (waiting > kBannerThreshold) {
        menus.BannerWaitArmed = false;
        menus.SerialText.clear();
        ReadCharacters(waiting);
        if (menus.SerialText.find(kNoiseSignature) != std::string::npos) {
            ClearInBuffer();
            return;
        }
        const std::string selection = BannerSelection(menus.SerialText);
        TraceLine("--    CheckSerialBanner = " + (selection.empty() ? "none" : selection));
        if (!selection.empty() && g.result.ErrorCode != 0) {
            // The product's view replaces the error that was shown.
            g.result.ErrorCode = 0;
            ui::DisplayError();
        }
        // What was read stays in SerialText and the product's entry procedure goes on from it:
        // its first step adds what is waiting now to SerialText (+=), it does not replace it,
        // or the text of the first burst (the banner, the product's versions) would be lost.
        if (selection == "KVT") {
            KVT_Boot();
            KvtMenu();
        } else if (selection == "Meridan") {
            MeridanDetect();
        } else if (selection == "Cfx9600") {
            CfxAt9600();
        } else if (selection == "Cfx57600") {
            CfxAt57600();
        }
        if (!selection.empty()) {
            ++menus.ProductsServed;
        } else {
            // Text that is no banner and holds a "?": dropped with whatever followed it.
            ReadCharacters(serial.InBufferCount());
            menus.SerialText.clear();
        }
        return;
    }
    if (waiting <= 1) {
        // Nothing to give a second to; an earlier burst has gone.
        menus.BannerWaitArmed = false;
        return;
    }
    if (g.link.DelayActive)
        return;  // the one timer is busy; the burst is looked at again when it is free
    if (!menus.BannerWaitArmed) {
        menus.BannerWaitArmed = true;
        StartTimer(kBurstGraceMs);
    } else {
        menus.BannerWaitArmed = false;
        ClearInBuffer();
    }
}

}  // namespace rompush
