#pragma once

#include "model/MReadableFileDispatcher.h"
#include "model/sound/MSoundFile.h"

#include <optional>
#include <vector>

namespace cardmill {

/// An Audio IFF file (form type "AIFF"; the compressed AIFF-C variant is not read): format and
/// position of the sound data, instrument settings and loops, named markers, and a comment.
class MSoundFileAIFF final : public MSoundFile {
public:
    explicit MSoundFileAIFF(Services& services);

    std::unique_ptr<MReadableFile> Duplicate() const override;
    std::string GetFormatName() const override { return "Audio IFF (AIFF)"; }
    bool OpenSound(const std::string& path) override;

    /// The rate of an 80-bit extended number: the upper 32 bits of the mantissa halved once for
    /// each step the exponent lies below 16414.
    static double ExtendedRate(std::uint16_t exponent, std::uint32_t mantissa);

private:
    bool ReadHeader();
    bool ParseChunks();
    void ReadChunks();
    void FreeChunks();
    void ParseMarkers();
    void ApplySoundOffset();

    // The first chunk of each id, whole (SSND: its first 16 bytes), while the file is read.
    std::optional<std::vector<std::uint8_t>> comm, inst, mark, comt, appl, ssnd;
};

class MAIFFFormatInterpreter final : public MFormatInterpreter {
public:
    using MFormatInterpreter::MFormatInterpreter;
    bool Recognises(const std::string& path) const override;
    std::unique_ptr<MReadableFile> Create(const std::string& path) const override;
};

} // namespace cardmill
