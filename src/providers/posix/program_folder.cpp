#include "providers/posix/program_folder.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace rompush::platform::posix {

namespace {
fs::path InstalledData(const std::string& executableFolder) {
    return (fs::path(executableFolder) / ".." / "share" / "rompush").lexically_normal();
}
}  // namespace

std::string ProgramFolderFor(const std::string& executableFolder) {
    std::error_code ec;
    const bool installed =
        !executableFolder.empty() && fs::is_directory(InstalledData(executableFolder), ec);
    if (!executableFolder.empty() && !installed && ::access(executableFolder.c_str(), W_OK) == 0)
        return executableFolder;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    const fs::path config =
        xdg && *xdg == '/' ? fs::path(xdg) : fs::path(home && *home ? home : "/tmp") / ".config";
    const fs::path own = config / "rompush";
    fs::create_directories(own, ec);
    return own.string();
}

std::vector<std::string> DataFoldersFor(const std::string& executableFolder) {
    return {executableFolder, InstalledData(executableFolder).string()};
}

std::string ExecutableFolder() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}

}  // namespace rompush::platform::posix
