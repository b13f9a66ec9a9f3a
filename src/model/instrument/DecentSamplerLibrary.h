#pragma once

#include "model/instrument/InstrumentLibrary.h"

#include <memory>
#include <string>
#include <vector>

namespace cardmill {

/// A DecentSampler library (.dslibrary: a zip of presets and their samples) as a library of
/// presets, one for each .dspreset it holds, named after its file (numbered 0:0, 0:1, ... in the
/// zip's order). Samples are read out of the zip, any format the sound readers take.
std::shared_ptr<const InstrumentLibrary> ReadDecentSamplerLibrary(
    const std::string& path, std::string& error);
/// The same from bytes in memory (tests, the fuzz target).
std::shared_ptr<const InstrumentLibrary> ReadDecentSamplerLibrary(
    std::vector<std::uint8_t> bytes, std::string& error);

} // namespace cardmill
