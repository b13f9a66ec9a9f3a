#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace cardmill {

/// The clock of an emulated MIDI link with the virtual instrument at its far end: when bytes
/// handed to the link have arrived, and when the replies are back after the instrument was
/// busy. Each direction carries one byte after another, 10 bits a byte at `baud` (0: no wire
/// time), and the instrument handles one message after another. Times are computed from the
/// schedule, not from when a thread happened to wake, so waking late never adds up.
/// Not thread-safe.
class SimTiming {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Duration = std::chrono::steady_clock::duration;

    explicit SimTiming(std::uint32_t linkBaud)
        : baud(linkBaud)
    {
    }

    bool Paced() const { return baud != 0; }

    Duration WireTime(std::size_t bytes) const
    {
        if (baud == 0)
            return Duration::zero();
        const auto nanoseconds = std::uint64_t { bytes } * 10u * 1000000000u / baud;
        return std::chrono::duration_cast<Duration>(
            std::chrono::nanoseconds(static_cast<std::int64_t>(nanoseconds)));
    }

    /// How many bytes the wire carries whole within `time` (all of them without a baud rate).
    std::size_t BytesWithin(Duration time) const
    {
        if (baud == 0)
            return std::numeric_limits<std::size_t>::max();
        const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(time).count();
        return static_cast<std::size_t>(
            std::uint64_t(std::max<std::int64_t>(nanoseconds, 0)) / 1000u * baud / 10000000u);
    }

    /// Bytes handed to the link at `now`, behind those still on their way: when the last of
    /// them has arrived at the instrument.
    TimePoint ToInstrument(std::size_t bytes, TimePoint now)
    {
        inboundEnd = std::max(now, inboundEnd) + WireTime(bytes);
        return inboundEnd;
    }

    /// What a message that arrived at `arrived` made the instrument do: busy for `busyMs`, then
    /// `replyBytes` (none at all for a message without a reply) back over the link. Returns when
    /// the reply's last byte reaches the program.
    TimePoint FromInstrument(std::size_t replyBytes, TimePoint arrived, std::uint32_t busyMs)
    {
        instrumentFree = std::max(arrived, instrumentFree) + std::chrono::milliseconds(busyMs);
        if (replyBytes == 0)
            return instrumentFree;
        outboundEnd = std::max(instrumentFree, outboundEnd) + WireTime(replyBytes);
        return outboundEnd;
    }

private:
    std::uint32_t baud;
    TimePoint inboundEnd {};
    TimePoint instrumentFree {};
    TimePoint outboundEnd {};
};

} // namespace cardmill
