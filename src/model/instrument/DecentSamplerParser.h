#pragma once

#include "model/instrument/SfzParser.h"

#include <string>
#include <string_view>

namespace cardmill {

/// Parses a DecentSampler preset (.dspreset: XML whose <groups>, <group> and <sample> elements
/// give each sample's file, keys, velocities, root, tuning, volume and loop, the inner element's
/// attributes over the outer's) into regions as an SFZ file would state them, their lines those
/// of the <sample> elements. What the card can't hold is in `dropped`; text that is no XML leaves
/// no region and says why there.
SfzDocument ParseDecentSampler(
    std::string_view text, const std::string& fileName, const SfzLimits& limits = {});

} // namespace cardmill
