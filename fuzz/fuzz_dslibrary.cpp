// Fuzz target: DecentSampler libraries (zip archives of presets and samples) read through libzip,
// their presets' regions laid out as the card's key groups, their samples read as sounds.

#include "FuzzEnv.h"
#include "model/instrument/DecentSamplerLibrary.h"
#include "model/sound/MSoundFileEmbedded.h"

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
            auto wav = library->SampleWav(document.regions[r].sample, error);
            if (!wav)
                continue;
            MSoundFileEmbedded sound(env.services);
            if (sound.OpenEmbedded(std::move(*wav), "fuzz.dslibrary", "sample", "sample"))
                fuzz::ExerciseSound(sound);
        }
    }
    return 0;
}
