#pragma once

#include "model/MReadableFile.h"

#include <cstdint>
#include <span>

namespace cardmill {

class ProgressView;

/// A file of instrument parameters: the program bank of the card.
class MParamFile : public MReadableFile {
public:
    explicit MParamFile(Services& services)
        : MReadableFile(services)
    {
        category = 12;
    }

    int GetKind() const override { return 4; }
    /// Writes the compiled bank to `destination`; 1 done, other values failed.
    virtual int CompileBank(ProgressView& progress, std::span<std::uint8_t> destination) = 0;
};

} // namespace cardmill
