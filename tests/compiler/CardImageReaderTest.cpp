#include "compiler/CardImageReader.h"

#include <gtest/gtest.h>

namespace cardmill {
namespace {

TEST(CardImageReader, APitchWordComesBackExactlyAtTheRateAndRootAWavWouldPlayItAt)
{
    const std::uint32_t rates[] = { 48000, 44100, 32000, 24000, 22050, 16000, 11025, 8000 };
    for (const std::uint32_t rate : rates)
        for (int root = 24; root <= 108; root += 7)
            for (const int fine : { -4800, -2500, 0, 1200, 4900 }) {
                const std::uint16_t word = PitchWordOf(
                    rate, static_cast<std::uint16_t>(root), static_cast<std::int16_t>(fine));
                const SampleTuning tuning = TuningOfPitchWord(word);
                EXPECT_EQ(PitchWordOf(tuning.rate, tuning.rootKey, tuning.fineTune), word)
                    << rate << " Hz, root " << root << ", fine " << fine;
                EXPECT_LE(std::abs(tuning.fineTune), std::abs(fine)) << rate << " Hz";
            }
    // A sound at the root files take when they name none keeps its rate, though an octave
    // higher rate with the root an octave up gives the same word.
    for (const std::uint32_t rate : rates) {
        const SampleTuning tuning = TuningOfPitchWord(PitchWordOf(rate, 60, 0));
        EXPECT_EQ(tuning.rate, rate);
        EXPECT_EQ(tuning.rootKey, 60);
        EXPECT_EQ(tuning.fineTune, 0);
    }
}

} // namespace
} // namespace cardmill
