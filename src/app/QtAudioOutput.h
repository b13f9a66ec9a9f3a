#pragma once

#include "platform/AudioOutput.h"

#include <QElapsedTimer>
#include <memory>

class QAudioSink;
class QIODevice;

namespace cardmill {

/// Sound preview through Qt Multimedia's QAudioSink on the default output device, fed in push
/// mode: Room() is what the sink's buffer has free, so a write never waits. It is busy until the
/// sound server has played everything written, not only taken it: its own buffer holds the
/// sound's last fraction of a second, which stopping earlier would cut off.
class QtAudioOutput final : public AudioOutput {
public:
    static constexpr qint64 kLongestLatencyUs = 2000000;

    QtAudioOutput();
    ~QtAudioOutput() override;

    bool Start(int rate, int channels, std::string& error) override;
    std::size_t Room() const override;
    void SetBufferMs(int milliseconds) override { bufferMs = milliseconds; }
    void Write(std::span<const std::int16_t> samples) override;
    bool Busy() const override;
    void Stop() override;

private:
    std::unique_ptr<QAudioSink> sink;
    QIODevice* device = nullptr;
    int bytesPerSecond = 0;
    int bufferMs = 0;
    qint64 written = 0; // bytes
    QElapsedTimer started;
};

} // namespace cardmill
