#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>

namespace cardmill {

/// Plays mono 16-bit frames through the sound server's default output (PulseAudio, or PipeWire's
/// PulseAudio service) and waits until they have been heard; `stop` ends it early. False, with
/// `error` in the server's words, when there is no server or output to play on.
bool PlayOnSoundOutput(std::span<const std::int16_t> frames, int rate,
    const std::atomic<bool>& stop, std::string& error);

} // namespace cardmill
