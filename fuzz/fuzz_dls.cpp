// Fuzz target: DLS level 1 and 2 files: their instrument lists and pool tables, the regions of
// their instruments laid out as the card's key groups, and their waves read as sounds.

#include "FuzzEnv.h"
#include "model/instrument/Dls.h"
#include "model/instrument/InstrumentLibrary.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace cardmill;
    const std::vector<std::uint8_t> bytes = fuzz::Copy(data, size);
    const RangeReader read = MemoryRanges(bytes);
    std::string error;
    const auto file = ReadDls(read, bytes.size(), error);
    if (!file)
        return 0;
    (void)file->Catalog();
    fuzz::FuzzEnv env;
    for (std::size_t i = 0; i < std::min<std::size_t>(file->instruments.size(), 4); ++i) {
        const SfzDocument document = DlsRegions(*file, i, "fuzz.dls");
        (void)LayOutSfz(document);
        for (std::size_t r = 0; r < std::min<std::size_t>(document.regions.size(), 4); ++r) {
            fuzz::ExerciseLibrarySample(
                env, DlsSampleWav(*file, std::stoul(document.regions[r].sample), read, error));
        }
    }
    return 0;
}
