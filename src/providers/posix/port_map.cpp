#include "providers/posix/port_map.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace rompush::platform::posix {

namespace {

// The number after a name's prefix ("ttyUSB12" -> 12), -1 when the rest is not all digits.
long NumberAfter(const std::string& name, const std::string& prefix) {
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
        return -1;
    const std::string digits = name.substr(prefix.size());
    if (digits.size() > 6)
        return -1;
    if (!std::all_of(digits.begin(), digits.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        return -1;
    }
    return std::stol(digits);
}

// The devices of one family in the device folder, in the order of their numbers.
std::vector<std::string> DevicesOf(const std::string& root, const std::string& prefix) {
    std::vector<std::pair<long, std::string>> found;
    std::error_code ec;
    for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        const long number = NumberAfter(it->path().filename().string(), prefix);
        if (number >= 0)
            found.emplace_back(number, it->path().string());
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    for (auto& entry : found)
        paths.push_back(std::move(entry.second));
    return paths;
}

// The path a device is known by at the end of its symlinks, for telling two names of one
// device apart.
std::string RealPath(const std::string& path) {
    std::error_code ec;
    fs::path real = fs::weakly_canonical(path, ec);
    return ec ? fs::path(path).lexically_normal().string() : real.string();
}

// The first line of a sysfs attribute, "" when there is none.
std::string Attribute(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == ' '))
        line.pop_back();
    return line;
}

std::string GroupOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return "";
    group entry{};
    group* found = nullptr;
    std::vector<char> buffer(4096);
    if (::getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return std::to_string(info.st_gid);
    return found->gr_name;
}

}  // namespace

PortMap::PortMap(std::string programFolder, std::string deviceRoot, UartCheck uartCheck)
    : programFolder_(std::move(programFolder)),
      deviceRoot_(std::move(deviceRoot)),
      uartCheck_(std::move(uartCheck)) {}

std::string PortMap::MapFolder() const {
    return (fs::path(programFolder_) / "ports").string();
}

std::map<int, std::string> PortMap::MapEntries() const {
    std::map<int, std::string> entries;
    const fs::path folder = MapFolder();
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const long number = NumberAfter(it->path().filename().string(), "COM");
        if (number < 1 || number > 255)
            continue;
        std::error_code linkEc;
        if (!it->is_symlink(linkEc))
            continue;
        fs::path target = fs::read_symlink(it->path(), linkEc);
        if (linkEc)
            continue;
        if (target.is_relative())
            target = folder / target;
        entries[static_cast<int>(number)] = target.lexically_normal().string();
    }
    return entries;
}

void PortMap::PinOnly(int number, std::string devicePath) {
    pinned_ = true;
    pinnedNumber_ = number;
    pinnedPath_ = std::move(devicePath);
}

std::map<int, std::string> PortMap::Ports() const {
    if (pinned_) {
        if (pinnedNumber_ == 0)
            return {};
        return {{pinnedNumber_, pinnedPath_}};
    }
    std::map<int, std::string> ports = MapEntries();
    std::vector<std::string> named;
    for (const auto& entry : ports)
        named.push_back(RealPath(entry.second));

    std::vector<std::string> machine;
    for (const std::string& path : DevicesOf(deviceRoot_, "ttyS")) {
        auto known = uartKnown_.find(path);
        if (known == uartKnown_.end()) {
            known = uartKnown_.emplace(path, uartCheck_ && uartCheck_(path)).first;
        }
        if (known->second)
            machine.push_back(path);
    }
    for (const char* prefix : {"ttyUSB", "ttyACM"}) {
        for (std::string& path : DevicesOf(deviceRoot_, prefix))
            machine.push_back(std::move(path));
    }

    int number = 1;
    for (const std::string& path : machine) {
        if (std::find(named.begin(), named.end(), RealPath(path)) != named.end())
            continue;
        while (ports.count(number))
            ++number;
        if (number > 255)
            break;
        ports[number] = path;
    }
    return ports;
}

std::string PortMap::DevicePath(int number) const {
    const auto ports = Ports();
    const auto it = ports.find(number);
    return it == ports.end() ? std::string() : it->second;
}

PortDescription PortMap::Describe(int number) const {
    return DescribeDevice(DevicePath(number));
}

PortDescription PortMap::DescribeDevice(const std::string& devicePath) const {
    PortDescription d;
    d.device = devicePath;
    if (devicePath.empty())
        return d;
    const std::string real = RealPath(devicePath);
    d.group = GroupOf(real);
    std::error_code ec;
    const fs::path byId = fs::path(deviceRoot_) / "serial" / "by-id";
    for (fs::directory_iterator it(byId, ec), end; !ec && it != end; it.increment(ec)) {
        if (RealPath(it->path().string()) == real) {
            d.byId = it->path().string();
            break;
        }
    }
    // The tty's device in sysfs sits below the USB device that carries the maker's texts.
    const std::string name = fs::path(real).filename().string();
    fs::path at = fs::weakly_canonical(fs::path(sysRoot_) / "class" / "tty" / name / "device", ec);
    if (ec)
        return d;
    const fs::path top = fs::weakly_canonical(sysRoot_, ec);
    for (int depth = 0; depth < 8 && !at.empty() && at != top && at != at.root_path(); ++depth) {
        if (fs::exists(at / "idVendor", ec)) {
            d.vendorId = Attribute(at / "idVendor");
            d.productId = Attribute(at / "idProduct");
            d.manufacturer = Attribute(at / "manufacturer");
            d.product = Attribute(at / "product");
            d.serial = Attribute(at / "serial");
            break;
        }
        at = at.parent_path();
    }
    return d;
}

bool PortMap::HasUart(const std::string& devicePath) {
    const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        serial_struct info{};
        const bool real = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
        ::close(fd);
        return real;
    }
    if (errno == EBUSY)
        return true;  // held by another program: it is there
    if (errno != EACCES && errno != EPERM)
        return false;
    // Not allowed to open it: the kernel also tells the port type in sysfs.
    std::ifstream type("/sys/class/tty/" + fs::path(devicePath).filename().string() + "/type");
    int value = 0;
    return static_cast<bool>(type >> value) && value != PORT_UNKNOWN;
}

}  // namespace rompush::platform::posix
