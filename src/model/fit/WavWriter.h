#pragma once

#include "model/fit/FitPlan.h"
#include "model/sound/MSoundFile.h"

#include <cstdint>
#include <span>
#include <vector>

namespace cardmill {

/// A 16-bit PCM WAV file of interleaved frames, with a sampler chunk that gives the root key, the
/// fine tune and the loop as this program's WAV reader takes them back, and the original the
/// frames were made from, when given.
std::vector<std::uint8_t> BuildWav16(std::span<const std::int16_t> frames, unsigned channels,
    std::uint32_t rate, const SampleParams& params, const FitOrigin* origin = nullptr);

} // namespace cardmill
