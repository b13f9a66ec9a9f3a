// Fuzz target: DecentSampler presets (XML) read into regions and laid out as the card's key
// groups, velocity layers split where their key ranges differ.

#include "model/instrument/DecentSamplerParser.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace cardmill;
    SfzLimits limits;
    limits.maxRegions = 256;
    SfzDocument document = ParseDecentSampler(
        std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.dspreset", limits);
    SplitLayeredRegions(document);
    (void)LayOutSfz(document);
    return 0;
}
