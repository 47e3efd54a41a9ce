// The status line's notices: what it shows in yellow when a device or port is missing, or in
// red when a step failed without an error code. Each text is written here once and shown
// through ShowNotice; the help page's list of messages explains every one.
#pragma once

#include <string>

#include "ui/controls.h"

namespace rompush::ui {

enum class Notice {
    ProductNotFound,
    PortNotAvailable,
    PageCrcMismatch,
    KvtNotResponding,
    KvtPowerCycleNotSeen,
    KvtDownloadNotCompleted,
    CrossfieldNotAnswering,
    KernelNotLoaded,
    MeridanNotResponding,
    MeridanPortLost,
    MeridanModeAborted,
    NoKeyboardController,
    Count  // not a notice: how many there are
};

std::string NoticeText(Notice notice);
Colour NoticeColour(Notice notice);
// ShowMsg with the notice's text and colour.
void ShowNotice(Notice notice);

}  // namespace rompush::ui
