#include "providers/posix/port_watcher.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>

namespace rompush::platform::posix {

namespace {
constexpr std::uint32_t kMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB |
                                IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
}  // namespace

PortWatcher::PortWatcher(std::string programFolder, std::string deviceRoot, int settleMs)
    : settleMs_(settleMs) {
    const std::string ports = programFolder + "/ports";
    watches_ = {
        // IN_ATTRIB: udev gives a new device its group and rights just after creating it.
        {deviceRoot, -1, {"ttyS", "ttyUSB", "ttyACM", "serial"}},
        {deviceRoot + "/serial", -1, {"by-id"}},
        {deviceRoot + "/serial/by-id", -1, {}},
        {programFolder, -1, {"ports"}},
        {ports, -1, {}},
    };
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    Arm();
}

PortWatcher::~PortWatcher() {
    if (fd_ >= 0)
        ::close(fd_);
}

void PortWatcher::Arm() {
    if (fd_ < 0)
        return;
    for (Watch& watch : watches_) {
        // Adding a watch again on a folder watched already gives the same one back.
        watch.wd = ::inotify_add_watch(fd_, watch.folder.c_str(), kMask);
    }
}

bool PortWatcher::Matters(int wd, const std::string& name) const {
    for (const Watch& watch : watches_) {
        if (watch.wd != wd)
            continue;
        if (watch.prefixes.empty() || name.empty())
            return true;
        for (const std::string& prefix : watch.prefixes) {
            if (name.compare(0, prefix.size(), prefix) == 0)
                return true;
        }
    }
    return false;
}

std::int64_t PortWatcher::NowMs() const {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool PortWatcher::Changed() {
    if (fd_ < 0)
        return false;
    bool seen = false;
    bool rearm = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (char* p = buffer; p < buffer + n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(p);
            p += sizeof(inotify_event) + event->len;
            if (event->mask & IN_Q_OVERFLOW) {
                seen = rearm = true;
                continue;
            }
            const std::string name = event->len > 0 ? std::string(event->name) : std::string();
            if (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF))
                rearm = true;  // a watched folder went; it may come back
            if (Matters(event->wd, name))
                seen = true;
        }
    }
    // A folder to watch may have come with the change (the map folder, /dev/serial/by-id with
    // the first USB adapter), and been filled before its watch could be added: what is in it
    // then is read by the search the change brings about.
    if (rearm || seen)
        Arm();
    if (seen) {
        pending_ = true;
        lastChangeMs_ = NowMs();
    }
    if (!pending_ || NowMs() - lastChangeMs_ < settleMs_)
        return false;
    pending_ = false;
    return true;
}

}  // namespace rompush::platform::posix
