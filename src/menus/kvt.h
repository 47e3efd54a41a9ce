// The KVT remote control switch: its revisions and button mapping, HEX file download after a
// power cycle, and remapping its front buttons.
#pragma once

namespace rompush {

// Reads the KVT's revisions and button mapping from what it sent when it powered up.
void KVT_Boot();
// Serves the main window's buttons for the KVT.
void KvtMenu();

}  // namespace rompush
