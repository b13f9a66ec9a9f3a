#pragma once

#include "platform/AudioOutput.h"

#include <memory>

class QAudioSink;
class QIODevice;

namespace cardmill {

/// Sound preview through Qt Multimedia's QAudioSink on the default output device, fed in push
/// mode: Room() is what the sink's buffer has free, so a write never waits.
class QtAudioOutput final : public AudioOutput {
public:
    QtAudioOutput();
    ~QtAudioOutput() override;

    bool Start(int rate, int channels, std::string& error) override;
    std::size_t Room() const override;
    void Write(std::span<const std::int16_t> samples) override;
    bool Busy() const override;
    void Stop() override;

private:
    std::unique_ptr<QAudioSink> sink;
    QIODevice* device = nullptr;
};

} // namespace cardmill
