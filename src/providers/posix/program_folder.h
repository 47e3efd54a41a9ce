// Where RomPush keeps its settings file, port map and HEX files, and where it finds its
// pictures and help: the same rule for the window and for rompush-cli.
#pragma once

#include <string>
#include <vector>

namespace rompush::platform::posix {

// The folder beside the executable when it may be written and RomPush is not installed (a
// build tree, a portable copy); otherwise $XDG_CONFIG_HOME/rompush (~/.config/rompush),
// created when missing. An installed copy (its files in <prefix>/share/rompush) never writes
// beside itself, even when it may: run as root, the settings would land in /usr/bin.
std::string ProgramFolderFor(const std::string& executableFolder);

// The folders that may hold the pictures and help, first the executable's own, then the
// install's data folder.
std::vector<std::string> DataFoldersFor(const std::string& executableFolder);

// The folder of the running executable ("" when it cannot be known).
std::string ExecutableFolder();

}  // namespace rompush::platform::posix
