// An advisory lock on a folder, shared by every copy of the program on the machine: the window
// and any number of terminal runs hold the program folder while they rewrite its settings file.
#pragma once

#include <string>

namespace rompush::platform::posix {

class FolderLock {
  public:
    FolderLock() = default;
    ~FolderLock() { Release(); }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Waits until no other copy holds the folder, then holds it. A folder that cannot be
    // opened is not held (the rewrite then goes on as it would have without the lock).
    void Hold(const std::string& folder);
    void Release();

  private:
    int fd_ = -1;
};

}  // namespace rompush::platform::posix
