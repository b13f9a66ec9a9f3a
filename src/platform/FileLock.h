#pragma once

#include <chrono>
#include <string>

namespace cardmill {

/// An exclusive advisory lock (flock) on a file that saves replace by renaming a new file over
/// it. Every program that changes a project holds it from opening to saving (the command line
/// and the desktop application alike), so two of them never lose each other's changes. The lock
/// belongs to the file the path names when it is taken: when a save replaced the file while we
/// waited, it is taken again on the new one.
class FileLock {
public:
    enum class Result { Locked, Busy, Failed };

    FileLock() = default;
    ~FileLock() { Unlock(); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    /// Waits up to `wait` for the lock; Busy when another program held it all that time, Failed
    /// when the file can't be opened.
    Result Lock(const std::string& path, std::chrono::milliseconds wait);
    void Unlock();
    bool Held() const { return fd >= 0; }

private:
    int fd = -1;
};

} // namespace cardmill
