#include "ps2/ps2_scan.h"

#include "core/state.h"
#include "core/trace.h"
#include "ui/main_window.h"

namespace rompush {

// The keyboard-port path arrives with the keyboard controller access; until then nothing
// answers on the "PS/2" entry.
void ScanPS2Port() {
    TraceScope trace("ScanPS2Port()");
    ui::ShowMsg("TARN Product Not Found", ui::colour::kLightYellow);
    g.result.ErrorCode = 1;
}

}  // namespace rompush
