// What the serial-menu products share: the text a product sends, the serial console and the
// banner check, and each product's own record.
#pragma once

#include <cstdint>
#include <string>

#include "menus/crossfield_state.h"
#include "menus/kvt_state.h"
#include "menus/meridan_state.h"

namespace rompush {

struct MenusState {
    std::string SerialText;   // what the product sent, searched for the awaited text
    std::string ConsoleLine;  // characters received since the last complete line or prompt
    std::string ConsoleLog;   // what the console shows when it opens; saved by its Save button
    std::string MenuText;     // the last "Serial options menu" block
    std::string StartCpu;     // the Crossfield's starting computer number
    bool StartCpuEntry = false;
    std::uint8_t MenuLastOption = 0;
    std::uint8_t MenuChoice = 0;
    bool MenuExitChosen = false;
    bool FileRequested = false;
    bool BannerWaitArmed = false;
    int ProductsServed = 0;  // product visits the banner check has run to their end
    // What the product sent in the console since it opened or since the operator's last menu
    // choice there, as it came: the Meridan's restart handling looks in it.
    std::string ConsoleAnswer;
    // A HEX file being sent as text: whether the product takes a refusal, and why the last
    // transfer was aborted.
    bool TransferRunning = false;
    bool TransferRefusable = false;
    std::string TransferReport;

    KvtState kvt;
    CrossfieldState cfx;
    MeridanState meridan;
};

}  // namespace rompush
