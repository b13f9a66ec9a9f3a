#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <span>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace cardmill {

/// Both ends of a fresh pty: the back-end opens the terminal by its path, the test plays the
/// far end on the master.
struct PtyPair {
    PtyPair()
    {
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) == 0)
            path = name;
    }
    ~PtyPair()
    {
        CloseMaster();
        if (slave >= 0)
            ::close(slave);
    }
    void CloseMaster()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    void Write(const std::vector<std::uint8_t>& bytes) const
    {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    /// Whatever the master can read within `limit`, up to `count` bytes.
    std::vector<std::uint8_t> Read(std::size_t count, std::chrono::milliseconds limit) const
    {
        std::vector<std::uint8_t> got;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (got.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd wait { master, POLLIN, 0 };
            if (left.count() <= 0 || ::poll(&wait, 1, static_cast<int>(left.count())) <= 0)
                break;
            std::uint8_t buffer[4096];
            const ssize_t n = ::read(master, buffer, std::min(sizeof buffer, count - got.size()));
            if (n <= 0)
                break;
            got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }

    int master = -1;
    int slave = -1;
    std::string path;
};

/// Collects what the back-end's thread hands over, and lets the test wait for it with a limit.
class Collector {
public:
    void Take(std::span<const std::uint8_t> bytes)
    {
        std::lock_guard lock(mutex);
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
        arrived.notify_all();
    }
    std::vector<std::uint8_t> WaitFor(std::size_t count, std::chrono::milliseconds limit)
    {
        std::unique_lock lock(mutex);
        arrived.wait_for(lock, limit, [&] { return bytes_.size() >= count; });
        return bytes_;
    }

private:
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<std::uint8_t> bytes_;
};

} // namespace cardmill
