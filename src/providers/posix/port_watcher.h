// Notices serial devices appearing and going, and changes to the port map, through inotify on
// the device folder (/dev, /dev/serial/by-id) and on the program folder and its "ports"
// folder. Only names that can matter wake it: ttyS*, ttyUSB*, ttyACM*, the by-id links, the
// map's links. A burst of changes (udev creates the device, then sets its group and rights,
// then adds the by-id link) is reported once, when it has been quiet for a moment, so the
// list is not rebuilt against a device whose rights are not yet set.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace rompush::platform::posix {

class PortWatcher : public PortChanges {
  public:
    // settleMs: how long a burst must have been quiet before it is reported.
    PortWatcher(std::string programFolder, std::string deviceRoot = "/dev", int settleMs = 250);
    ~PortWatcher() override;
    PortWatcher(const PortWatcher&) = delete;
    PortWatcher& operator=(const PortWatcher&) = delete;

    bool Changed() override;
    // The descriptor an event loop may watch (-1 without inotify): readable when something
    // changed.
    int Fd() const { return fd_; }

  private:
    struct Watch {
        std::string folder;
        int wd = -1;
        // Which names in the folder matter; every name when empty.
        std::vector<std::string> prefixes;
    };
    // Watches every folder that exists now; a folder created later (the map folder, by-id
    // when the first USB adapter comes) is picked up at the next change.
    void Arm();
    bool Matters(int wd, const std::string& name) const;
    std::int64_t NowMs() const;

    int fd_ = -1;
    int settleMs_;
    std::vector<Watch> watches_;
    bool pending_ = false;
    std::int64_t lastChangeMs_ = 0;
};

}  // namespace rompush::platform::posix
