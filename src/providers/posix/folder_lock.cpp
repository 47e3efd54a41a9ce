#include "providers/posix/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace rompush::platform::posix {

void FolderLock::Hold(const std::string& folder) {
    Release();
    fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0)
        return;
    while (::flock(fd_, LOCK_EX) != 0) {
        if (errno != EINTR) {
            Release();
            return;
        }
    }
}

void FolderLock::Release() {
    if (fd_ >= 0)
        ::close(fd_);  // closing the descriptor releases the lock
    fd_ = -1;
}

}  // namespace rompush::platform::posix
