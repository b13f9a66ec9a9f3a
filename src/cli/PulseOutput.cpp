#include "cli/PulseOutput.h"

#include <algorithm>
#include <pulse/error.h>
#include <pulse/simple.h>

namespace cardmill {

bool PlayOnSoundOutput(std::span<const std::int16_t> frames, int rate,
    const std::atomic<bool>& stop, std::string& error)
{
    pa_sample_spec format {};
    format.format = PA_SAMPLE_S16NE;
    format.rate = static_cast<std::uint32_t>(rate);
    format.channels = 1;
    // A short buffer, so that Ctrl-C silences it at once rather than after seconds.
    pa_buffer_attr buffering {};
    buffering.maxlength = static_cast<std::uint32_t>(-1);
    buffering.tlength = static_cast<std::uint32_t>(rate / 10 * 2);
    buffering.prebuf = static_cast<std::uint32_t>(-1);
    buffering.minreq = static_cast<std::uint32_t>(-1);
    buffering.fragsize = static_cast<std::uint32_t>(-1);
    int code = 0;
    pa_simple* stream = pa_simple_new(nullptr, "Cardmill", PA_STREAM_PLAYBACK, nullptr, "voice",
        &format, nullptr, &buffering, &code);
    if (!stream) {
        error = pa_strerror(code);
        return false;
    }
    constexpr std::size_t kPiece = 1024;
    bool ok = true;
    for (std::size_t at = 0; at < frames.size() && !stop; at += kPiece) {
        const std::size_t count = std::min(kPiece, frames.size() - at);
        if (pa_simple_write(stream, frames.data() + at, count * sizeof(std::int16_t), &code) < 0) {
            error = pa_strerror(code);
            ok = false;
            break;
        }
    }
    if (ok && !stop && pa_simple_drain(stream, &code) < 0) {
        error = pa_strerror(code);
        ok = false;
    }
    if (stop)
        pa_simple_flush(stream, &code);
    pa_simple_free(stream);
    return ok;
}

} // namespace cardmill
