// Fuzz target: SoundFont 2 and 3 files: their preset lists, the regions of their presets laid out
// as the card's key groups, and their samples (SF3's decoded through libsndfile) read as sounds.

#include "FuzzEnv.h"
#include "model/instrument/InstrumentLibrary.h"
#include "model/instrument/SoundFont.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace cardmill;
    const std::vector<std::uint8_t> bytes = fuzz::Copy(data, size);
    const RangeReader read = MemoryRanges(bytes);
    std::string error;
    const SoundFontLimits limits { 1u << 20, 1u << 12, 1u << 20 };
    const auto font = ReadSoundFont(read, bytes.size(), error, limits);
    if (!font)
        return 0;
    (void)font->Catalog();
    fuzz::FuzzEnv env;
    for (std::size_t preset = 0; preset < std::min<std::size_t>(font->presets.size(), 4);
         ++preset) {
        const SfzDocument document = SoundFontRegions(*font, preset, "fuzz.sf2");
        (void)LayOutSfz(document);
        for (std::size_t r = 0; r < std::min<std::size_t>(document.regions.size(), 4); ++r) {
            fuzz::ExerciseLibrarySample(
                env, SoundFontSampleWav(*font, document.regions[r].sample, read, error, limits));
        }
    }
    return 0;
}
