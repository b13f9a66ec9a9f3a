#include "FileLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace cardmill {

FileLock::Result FileLock::Lock(const std::string& path, std::chrono::milliseconds wait)
{
    Unlock();
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const int candidate = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (candidate < 0)
            return Result::Failed;
        if (::flock(candidate, LOCK_EX | LOCK_NB) == 0) {
            // Locked, but perhaps a file that a save has just replaced: the lock must be on the
            // file the path names now.
            struct stat held {
            }, named {};
            if (::fstat(candidate, &held) == 0 && ::stat(path.c_str(), &named) == 0
                && held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
                fd = candidate;
                return Result::Locked;
            }
        } else if (errno != EWOULDBLOCK) {
            ::close(candidate);
            return Result::Failed;
        }
        ::close(candidate);
        if (std::chrono::steady_clock::now() >= deadline)
            return Result::Busy;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

void FileLock::Unlock()
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

} // namespace cardmill
