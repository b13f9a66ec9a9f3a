#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace cardmill {

/// The platform's PCM output for sound preview: 16-bit interleaved samples, written as room
/// allows, never waiting. The desktop application uses Qt Multimedia; tests a null output.
class AudioOutput {
public:
    virtual ~AudioOutput() = default;
    /// Opens the default output for `rate` and `channels`; false, with `error` saying why (no
    /// device, a format it can't play), when it can't.
    virtual bool Start(int rate, int channels, std::string& error) = 0;
    /// Samples (16-bit values, all channels counted) it takes now without waiting.
    virtual std::size_t Room() const = 0;
    /// The buffer the next Start asks for, in milliseconds (0: the system's own choice): a
    /// short one for sound that must follow a key at once.
    virtual void SetBufferMs(int milliseconds) = 0;
    virtual void Write(std::span<const std::int16_t> samples) = 0;
    /// True while samples written are still to be heard.
    virtual bool Busy() const = 0;
    virtual void Stop() = 0;
};

/// Plays nothing and counts what it is given; `capacity` samples fit at once, and the test
/// says when they have been heard.
class NullAudioOutput final : public AudioOutput {
public:
    explicit NullAudioOutput(std::size_t sampleCapacity = 1 << 20)
        : capacity(sampleCapacity)
    {
    }
    bool Start(int outputRate, int outputChannels, std::string& error) override
    {
        if (!available) {
            error = "no audio output device is available";
            return false;
        }
        rate = outputRate;
        channels = outputChannels;
        ++starts;
        queued = 0;
        return true;
    }
    std::size_t Room() const override { return capacity - queued; }
    void SetBufferMs(int) override { }
    void Write(std::span<const std::int16_t> samples) override
    {
        queued += samples.size();
        written += samples.size();
        ++writes;
    }
    bool Busy() const override { return queued > 0; }
    void Stop() override
    {
        queued = 0;
        ++stops;
    }
    /// Everything written so far has been heard.
    void Drain() { queued = 0; }

    std::size_t capacity;
    std::size_t queued = 0;
    std::size_t written = 0;
    int writes = 0;
    int starts = 0;
    int stops = 0;
    int rate = 0;
    int channels = 0;
    bool available = true;
};

} // namespace cardmill
