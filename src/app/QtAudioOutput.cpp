#include "app/QtAudioOutput.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>

namespace cardmill {

QtAudioOutput::QtAudioOutput() = default;

QtAudioOutput::~QtAudioOutput()
{
    Stop();
}

bool QtAudioOutput::Start(int rate, int channels, std::string& error)
{
    Stop();
    const QAudioDevice output = QMediaDevices::defaultAudioOutput();
    if (output.isNull()) {
        error = "no audio output device is available";
        return false;
    }
    QAudioFormat format;
    format.setSampleRate(rate);
    format.setChannelCount(channels);
    format.setSampleFormat(QAudioFormat::Int16);
    if (!output.isFormatSupported(format)) {
        error = "the audio output can't play " + std::to_string(rate) + " Hz with "
            + std::to_string(channels) + " channel" + (channels == 1 ? "" : "s");
        return false;
    }
    sink = std::make_unique<QAudioSink>(output, format);
    if (bufferMs > 0)
        sink->setBufferSize(format.bytesForDuration(qint64 { bufferMs } * 1000));
    device = sink->start();
    if (!device) {
        error = "the audio output could not be opened";
        sink.reset();
        return false;
    }
    bytesPerSecond = format.bytesForDuration(1000000);
    written = 0;
    started.start();
    return true;
}

std::size_t QtAudioOutput::Room() const
{
    return sink ? static_cast<std::size_t>(sink->bytesFree()) / sizeof(std::int16_t) : 0;
}

void QtAudioOutput::Write(std::span<const std::int16_t> samples)
{
    if (!device)
        return;
    const qint64 taken = device->write(
        reinterpret_cast<const char*>(samples.data()), static_cast<qint64>(samples.size_bytes()));
    if (taken > 0)
        written += taken;
}

bool QtAudioOutput::Busy() const
{
    if (!sink || sink->state() == QAudio::StoppedState || bytesPerSecond == 0)
        return false;
    const qint64 writtenUs = written * 1000000 / bytesPerSecond;
    if (sink->processedUSecs() >= writtenUs)
        return false;
    // A server that stops telling how far it played can't keep the preview open for ever.
    return started.elapsed() * 1000 < writtenUs + kLongestLatencyUs;
}

void QtAudioOutput::Stop()
{
    if (sink)
        sink->stop();
    sink.reset();
    device = nullptr;
}

} // namespace cardmill
