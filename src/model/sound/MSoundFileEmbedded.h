#pragma once

#include "model/sound/MSoundFileWAV.h"

namespace cardmill {

/// A sample that lives inside an instrument library (a SoundFont's sample), handed over as a WAV
/// image in memory. It keeps the library's path, so that it is found and compared as its file
/// is, and the sample's own name.
class MSoundFileEmbedded final : public MSoundFileWAV {
public:
    using MSoundFileWAV::MSoundFileWAV;

    bool OpenEmbedded(std::vector<std::uint8_t> wav, const std::string& libraryPath,
        const std::string& sampleName, std::string formatName);
    std::unique_ptr<MReadableFile> Duplicate() const override;
    std::string GetFormatName() const override { return format; }
    std::string GetFileName() const override { return record.name; }
    /// The sample as the WAV file it is kept as, to be written out (SFZ export).
    std::vector<std::uint8_t> WavBytes() const;

private:
    std::string format;
};

} // namespace cardmill
