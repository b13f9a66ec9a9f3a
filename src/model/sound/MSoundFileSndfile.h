#pragma once

#include "model/MReadableFileDispatcher.h"
#include "model/sound/MSoundFileWAV.h"

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cardmill {

/// A sound decoded by libsndfile: little-endian frames of 16 or 24 bits.
struct DecodedSound {
    int rate = 0;
    int channels = 1;
    int bits = 16;
    std::vector<std::uint8_t> data;
    std::vector<std::uint8_t> sampler; // a WAV "smpl" chunk with its header; empty when none
    std::string formatName;
};

/// Decodes a whole sound file in memory; nothing, with the reason in `error`, when libsndfile
/// can't read it or it is no sound the card can take.
std::optional<DecodedSound> DecodeSound(std::span<const std::uint8_t> bytes, std::string& error);

/// The sound as the bytes of a WAV file, its sampler chunk included.
std::vector<std::uint8_t> WavImage(const DecodedSound& sound);

/// A sound in a format libsndfile reads and this program's own readers don't (FLAC, Ogg Vorbis,
/// Wave64, CAF, AIFF-C, WAV of floating-point samples): decoded once into a 16- or 24-bit WAV image
/// in memory, with a sampler chunk holding the root key and loops where the format gives them (a
/// FLAC file's RIFF chunks, kept by `flac --keep-foreign-metadata`; libsndfile's instrument data
/// otherwise), and read from there as a WAV file is. The project stores the file's own path.
class MSoundFileSndfile final : public MSoundFileWAV {
public:
    /// Files larger than this are not decoded (no card holds a tenth of it).
    static constexpr std::uint64_t kMostSampleBytes = std::uint64_t { 256 } << 20;

    explicit MSoundFileSndfile(Services& services);

    std::unique_ptr<MReadableFile> Duplicate() const override;
    std::string GetFormatName() const override { return formatName; }
    bool OpenSound(const std::string& path) override;

private:
    std::string formatName = "libsndfile";
};

/// Recognises the formats by their names (.flac .ogg .oga .opus .w64 .caf .aifc) or their first
/// bytes.
class MSndfileFormatInterpreter final : public MFormatInterpreter {
public:
    using MFormatInterpreter::MFormatInterpreter;
    bool Recognises(const std::string& path) const override;
    std::unique_ptr<MReadableFile> Create(const std::string& path) const override;
};

} // namespace cardmill
