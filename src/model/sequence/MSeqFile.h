#pragma once

#include "model/MReadableFile.h"

#include <cstdint>
#include <optional>
#include <span>

namespace cardmill {

class ProgressView;

/// A file that becomes one sequence on the card.
class MSeqFile : public MReadableFile {
public:
    explicit MSeqFile(Services& services)
        : MReadableFile(services)
    {
        category = 11;
    }

    int GetKind() const override { return 3; }
    /// The "Sequence Data via Out Port" option; its low 8 bits go to the top byte of the
    /// sequence's entry in the card's sequence table.
    std::uint16_t GetOutPort() const { return viaOutPort; }
    /// Changing it marks the project modified.
    void SetOutPort(std::uint16_t value);
    /// The sequence as the card holds it, to be copied into the image (empty without converted
    /// data); `first` shows the compile line for the file.
    virtual std::span<const std::uint8_t> CompiledSequence(ProgressView& progress, bool first) = 0;
    /// The file's format number for the text dump, or nothing for other kinds of sequence.
    virtual std::optional<int> MidiFormat() const { return std::nullopt; }

protected:
    std::uint16_t viaOutPort = 0;
};

} // namespace cardmill
