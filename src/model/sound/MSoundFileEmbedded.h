#pragma once

#include "model/sound/MSoundFileWAV.h"

namespace cardmill {

/// A sample that lives inside an instrument library (a SoundFont's sample), handed over as a WAV
/// image in memory. Its path is the library's with the sample's key ("#sample=KEY"): the same
/// sound wherever it is used, found again as its library is, and named by the sample's own name.
class MSoundFileEmbedded final : public MSoundFileWAV {
public:
    using MSoundFileWAV::MSoundFileWAV;

    bool OpenEmbedded(std::vector<std::uint8_t> wav, const std::string& libraryPath,
        const std::string& sampleKey, const std::string& sampleName, std::string formatName);
    std::unique_ptr<MReadableFile> Duplicate() const override;
    std::string GetFormatName() const override { return format; }
    std::string GetFileName() const override { return record.name; }
    /// The bytes are in memory, wherever the library has gone since.
    bool CanPreview() const override { return true; }
    /// The sample as the WAV file it is kept as, to be written out (SFZ export).
    std::vector<std::uint8_t> WavBytes() const;

private:
    std::string format;
};

} // namespace cardmill
