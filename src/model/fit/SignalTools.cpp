#include "model/fit/SignalTools.h"

#include <algorithm>
#include <cmath>
#include <fftw3.h>
#include <memory>
#include <numbers>
#include <soxr.h>

namespace cardmill {

std::vector<float> Resample(
    std::span<const float> interleaved, unsigned channels, double fromRate, double toRate)
{
    if (channels == 0 || interleaved.empty())
        return {};
    const std::size_t frames = interleaved.size() / channels;
    const auto outFrames
        = static_cast<std::size_t>(std::llround(static_cast<double>(frames) * toRate / fromRate));
    std::vector<float> out(outFrames * channels);
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    std::size_t done = 0;
    const soxr_error_t error = soxr_oneshot(fromRate, toRate, channels, interleaved.data(), frames,
        nullptr, out.data(), outFrames, &done, &io, &quality, nullptr);
    if (error)
        return {};
    out.resize(done * channels);
    return out;
}

EnergySpectrum::EnergySpectrum(std::span<const float> mono, double sampleRate)
    : rate(sampleRate)
    , power(kWindow / 2 + 1, 0.0)
{
    std::vector<float> window(kWindow);
    for (std::size_t i = 0; i < kWindow; ++i)
        window[i] = static_cast<float>(
            0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) / kWindow));
    // FFTW's own allocation keeps its arrays aligned for its fastest code.
    const auto freeFloats = [](float* p) { fftwf_free(p); };
    const auto freeComplex = [](fftwf_complex* p) { fftwf_free(p); };
    std::unique_ptr<float, decltype(freeFloats)> in(fftwf_alloc_real(kWindow), freeFloats);
    std::unique_ptr<fftwf_complex, decltype(freeComplex)> out(
        fftwf_alloc_complex(kWindow / 2 + 1), freeComplex);
    fftwf_plan plan
        = fftwf_plan_dft_r2c_1d(static_cast<int>(kWindow), in.get(), out.get(), FFTW_ESTIMATE);

    // Windows half overlapping; a long sound is sampled at evenly spread windows instead.
    const std::size_t hop = kWindow / 2;
    const std::size_t starts = mono.size() > kWindow ? (mono.size() - kWindow) / hop + 1 : 1;
    const std::size_t used = std::min(starts, kMostWindows);
    for (std::size_t w = 0; w < used; ++w) {
        const std::size_t start = (used == 1 ? 0 : w * (starts - 1) / (used - 1)) * hop;
        for (std::size_t i = 0; i < kWindow; ++i)
            in.get()[i] = start + i < mono.size() ? mono[start + i] * window[i] : 0.0f;
        fftwf_execute(plan);
        for (std::size_t k = 0; k < power.size(); ++k) {
            const double re = out.get()[k][0];
            const double im = out.get()[k][1];
            power[k] += re * re + im * im;
        }
    }
    fftwf_destroy_plan(plan);
}

double EnergySpectrum::LossAboveDb(double hz) const
{
    constexpr double kFloor = -120.0;
    double total = 0.0;
    double above = 0.0;
    const double binWidth = rate / kWindow;
    for (std::size_t k = 1; k < power.size(); ++k) { // without the constant part
        total += power[k];
        if (static_cast<double>(k) * binWidth > hz)
            above += power[k];
    }
    if (total <= 0.0 || above <= 0.0)
        return kFloor;
    return std::max(kFloor, 10.0 * std::log10(above / total));
}

} // namespace cardmill
