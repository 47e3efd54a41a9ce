#include "ui/notices.h"

#include "ui/main_window.h"

namespace rompush::ui {

namespace {

struct NoticeRow {
    const char* text;
    Colour colour;
};

// A notice added to the enumeration without a row here does not compile (-Wswitch).
NoticeRow Row(Notice notice) {
    switch (notice) {
        case Notice::ProductNotFound:
            return {"TARN Product Not Found", colour::kLightYellow};
        case Notice::PortNotAvailable:
            return {"COMM port not available", colour::kLightYellow};
        case Notice::PageCrcMismatch:
            return {"flash on chip page does not match crc of file page", colour::kRed};
        case Notice::KvtNotResponding:
            return {"KVT not responding.", colour::kLightYellow};
        case Notice::KvtPowerCycleNotSeen:
            return {"KVT power cycle not seen.", colour::kLightYellow};
        case Notice::KvtDownloadNotCompleted:
            return {"KVT download not completed.", colour::kRed};
        case Notice::CrossfieldNotAnswering:
            return {"Crossfield not answering", colour::kLightYellow};
        case Notice::KernelNotLoaded:
            return {"Kernel not loaded", colour::kLightYellow};
        case Notice::MeridanNotResponding:
            return {"MERIDAN NOT RESPONDING", colour::kRed};
        case Notice::MeridanPortLost:
            return {"MERIDAN PORT LOST", colour::kRed};
        case Notice::MeridanModeAborted:
            return {"MERIDAN MODE ABORTED", colour::kRed};
        case Notice::NoKeyboardController:
            return {"No PS/2 keyboard controller found", colour::kLightYellow};
        case Notice::Count:
            break;
    }
    return {"", colour::kButtonFace};
}

}  // namespace

std::string NoticeText(Notice notice) {
    return Row(notice).text;
}

Colour NoticeColour(Notice notice) {
    return Row(notice).colour;
}

void ShowNotice(Notice notice) {
    ShowMsg(NoticeText(notice), NoticeColour(notice));
}

}  // namespace rompush::ui
