#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace cardmill {

/// Interleaved frames at `toRate` from frames at `fromRate`, through libsoxr at its very high
/// quality (linear phase, the filter's delay taken out, so frame 0 stays at time 0). Empty when
/// the resampler refuses.
std::vector<float> Resample(
    std::span<const float> interleaved, unsigned channels, double fromRate, double toRate);

/// Where a sound's energy lies in frequency: the power spectrum of its frames (Hann windows of
/// 4096 frames, half overlapping, at most 64 of them spread over the sound), through FFTW.
class EnergySpectrum {
public:
    static constexpr std::size_t kWindow = 4096;
    static constexpr std::size_t kMostWindows = 64;

    EnergySpectrum(std::span<const float> mono, double rate);
    /// The energy above `hz`, in dB below the whole energy (-120 for none, and for silence).
    double LossAboveDb(double hz) const;

private:
    double rate;
    std::vector<double> power; // per bin, 0 to kWindow / 2
};

} // namespace cardmill
