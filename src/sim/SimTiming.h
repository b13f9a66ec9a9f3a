#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <vector>

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

    /// How long the bytes handed to the link before still take to arrive, from `now`.
    Duration Backlog(TimePoint now) const
    {
        return inboundEnd > now ? inboundEnd - now : Duration::zero();
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

/// A cheap USB-MIDI interface between the program and the wire, as users of SysEx tools meet
/// them: one that loses every N-th byte of a long burst of a message, one whose small buffer
/// overflows when the program writes faster than the wire carries (the USB side takes everything
/// at once; what finds the buffer full is lost). Neither tells the program anything; both pass a
/// message written in small pieces with pauses between them (the first counts its bytes afresh
/// after a pause of kPause). Not thread-safe.
class LossyInterface {
public:
    /// A gap in the bytes handed over that ends a burst: a USB frame.
    static constexpr std::chrono::milliseconds kPause { 1 };

    /// `bufferBytes`: what waits for the wire before bytes are lost (0: no such loss, the
    /// program held back as by a driver); `loseEvery`: the N-th, 2N-th ... byte of a message
    /// (or of the piece of one handed over after a pause) longer than N is lost (0: none).
    LossyInterface(std::uint32_t bufferBytes, std::uint32_t loseEvery)
        : buffer(bufferBytes)
        , every(loseEvery)
    {
    }

    /// What of `bytes`, handed over at `now`, goes on to the wire, where `timing` says what
    /// still waits to go.
    std::vector<std::uint8_t> Pass(
        std::span<const std::uint8_t> bytes, SimTiming::TimePoint now, const SimTiming& timing)
    {
        std::vector<std::uint8_t> kept;
        kept.reserve(bytes.size());
        const std::size_t waiting = buffer > 0 ? timing.BytesWithin(timing.Backlog(now)) : 0;
        if (handedOver && now - *handedOver >= kPause)
            position = 0;
        handedOver = now;
        for (const std::uint8_t byte : bytes) {
            if (buffer > 0 && waiting + kept.size() >= buffer) {
                ++lost;
                continue;
            }
            if (byte == 0xF0)
                position = 0;
            // Real-time bytes pass between a message's bytes without being counted in it; its
            // F7 at the N-th place is that of a message of N bytes, which loses nothing.
            if (byte < 0xF8 && ++position % (every > 0 ? every : 1) == 0 && every > 0
                && byte != 0xF7) {
                ++lost;
                continue;
            }
            kept.push_back(byte);
        }
        return kept;
    }

    std::uint64_t Lost() const { return lost; }

private:
    std::uint32_t buffer;
    std::uint32_t every;
    std::uint64_t position = 0; // of the byte in its burst, from 1 for its F0
    std::optional<SimTiming::TimePoint> handedOver; // when bytes last came
    std::uint64_t lost = 0;
};

} // namespace cardmill
