#pragma once

#include "model/sound/MSoundFile.h"

#include <cstdint>
#include <span>
#include <vector>

namespace cardmill {

/// A 16-bit PCM WAV file of interleaved frames, with a sampler chunk that gives the root key, the
/// fine tune and the loop as this program's WAV reader takes them back.
std::vector<std::uint8_t> BuildWav16(std::span<const std::int16_t> frames, unsigned channels,
    std::uint32_t rate, const SampleParams& params);

} // namespace cardmill
