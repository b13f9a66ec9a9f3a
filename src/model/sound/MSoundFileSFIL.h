#pragma once

#include "model/MReadableFileDispatcher.h"
#include "model/sound/MSoundFile.h"

#include <optional>
#include <vector>

namespace cardmill {

/// A first-generation Sound Designer file: a fixed 1336-byte header, then 16-bit big-endian mono
/// sample data.
class MSoundFileSFIL final : public MSoundFile {
public:
    static constexpr std::size_t kHeaderBytes = 1336;

    explicit MSoundFileSFIL(Services& services);

    std::unique_ptr<MReadableFile> Duplicate() const override;
    std::string GetFormatName() const override { return "Sound Designer (TM)"; }
    bool OpenSound(const std::string& path) override;

    /// The header, when the file holds one whose first word is its size.
    std::optional<std::vector<std::uint8_t>> ReadHeaderBlock();

private:
    bool ReadSoundDesigner();
    bool ParseHeader(const std::vector<std::uint8_t>& header);
};

class MSFILFormatInterpreter final : public MFormatInterpreter {
public:
    using MFormatInterpreter::MFormatInterpreter;
    bool Recognises(const std::string& path) const override;
    std::unique_ptr<MReadableFile> Create(const std::string& path) const override;
};

} // namespace cardmill
