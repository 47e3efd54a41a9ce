// Identification of packet-bootloader devices and the hand-over to their application.
#pragma once

namespace rompush {

bool xmitID_CMD();
void xmitGO_CMD();
void WaitForQTR();

}  // namespace rompush
