#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <thread>

namespace cardmill {

/// Seconds between 1904-01-01 and 1970-01-01: the stored times count from 1904.
inline constexpr std::int64_t kSeconds1904To1970 = 2082844800;

/// POSIX seconds to seconds since 1904, kept to the 32 bits that the stored records hold.
inline std::uint32_t SecondsSince1904(std::int64_t posixSeconds)
{
    return static_cast<std::uint32_t>(posixSeconds + kSeconds1904To1970);
}

/// Millisecond tick count and current time.
class Clock {
public:
    virtual ~Clock() = default;
    /// Milliseconds from an arbitrary start; wraps like the platform's tick count.
    virtual std::uint32_t TickCount() const = 0;
    /// Seconds since 1970-01-01 UTC.
    virtual std::int64_t Now() const = 0;
    /// Waits; the runner of long operations uses it between ticks.
    virtual void Sleep(std::chrono::milliseconds duration) = 0;
};

class SystemClock final : public Clock {
public:
    std::uint32_t TickCount() const override
    {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
        return static_cast<std::uint32_t>(ms.count());
    }
    std::int64_t Now() const override { return static_cast<std::int64_t>(std::time(nullptr)); }
    void Sleep(std::chrono::milliseconds duration) override
    {
        std::this_thread::sleep_for(duration);
    }
};

/// Test double: time moves only when the test (or a Sleep) moves it.
class ManualClock final : public Clock {
public:
    std::uint32_t TickCount() const override { return ticks; }
    std::int64_t Now() const override { return seconds; }
    void Sleep(std::chrono::milliseconds duration) override { Advance(duration.count()); }
    void Advance(std::int64_t ms)
    {
        ticks = static_cast<std::uint32_t>(ticks + static_cast<std::uint32_t>(ms));
        seconds += (ms + carry) / 1000;
        carry = (ms + carry) % 1000;
    }

    std::uint32_t ticks = 0;
    std::int64_t seconds = 1700000000;

private:
    std::int64_t carry = 0;
};

} // namespace cardmill
