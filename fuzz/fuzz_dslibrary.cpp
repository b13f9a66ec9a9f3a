// Fuzz target: DecentSampler libraries (zip archives of presets and samples) read through libzip,
// their presets' regions laid out as the card's key groups, their samples read as sounds.

#include "FuzzEnv.h"
#include "model/instrument/DecentSamplerLibrary.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace cardmill;
    std::string error;
    const auto library = ReadDecentSamplerLibrary(fuzz::Copy(data, size), error);
    if (!library)
        return 0;
    fuzz::FuzzEnv env;
    const auto catalog = library->Catalog();
    for (std::size_t preset = 0; preset < std::min<std::size_t>(catalog.size(), 4); ++preset) {
        SfzDocument document = library->Regions(preset, "fuzz.dslibrary");
        SplitLayeredRegions(document);
        (void)LayOutSfz(document);
        for (std::size_t r = 0; r < std::min<std::size_t>(document.regions.size(), 4); ++r) {
            fuzz::ExerciseLibrarySample(env, library->SampleWav(document.regions[r].sample, error));
        }
    }
    return 0;
}
