// What RomPush knows of the attached KVT remote control switch.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace rompush {

struct KvtState {
    // Port (computer number) of front buttons 1 to 4 as the KVT reports it, each trimmed and
    // filled with blanks on the right to 4 characters.
    std::array<std::string, 4> ButtonMap{"    ", "    ", "    ", "    "};
    // The KVT's text holds no application revision: its application is missing or damaged.
    bool KvtChecksumError = false;
    // Set by the remap dialog: 0 none yet, 1 keep (send the new mapping), 2 abort.
    std::uint8_t MapAction = 0;
    // The last reading of the KVT followed a download that it reported completed.
    bool DownloadCompleted = false;
    // Where the exit button sat before a wait on the KVT moved it (left, top, width, height).
    std::array<int, 4> ExitButtonPlace{};
};

}  // namespace rompush
