#pragma once

#include "model/MReadableFile.h"
#include "platform/ByteReader.h"

#include <cstdint>
#include <span>
#include <vector>

namespace cardmill {

class MSoundFile;
class ProgressView;

/// Base of every file that becomes a voice on the card: sound files (one sample) and multi-sample
/// instruments. A voice record starts with the 16-byte voice header written here.
class MInstFile : public MReadableFile {
public:
    static constexpr std::uint32_t kHiddenSampleBytes = 0xFFFFFFFF;
    static constexpr std::size_t kVoiceHeaderBytes = 16;

    explicit MInstFile(Services& services)
        : MReadableFile(services)
    {
    }

    std::string GetInfoLine3() const override;
    int GetKind() const override { return 2; }
    void SetCategory(std::int16_t value) override
    {
        if (value >= 0 && value < 11)
            category = value;
    }

    virtual std::uint16_t GetSmoothing() const { return smoothing; }
    virtual void SetSmoothing(std::uint16_t value) { smoothing = value; }
    virtual std::uint16_t GetChannel() const { return channel; }
    virtual void SetChannel(std::uint16_t value)
    {
        if (isStereo)
            channel = value;
    }
    /// Takes the edited settings stored in a project file's item record (522 bytes, the sample
    /// records behind it).
    virtual bool RestoreFromRecord(const ByteReader& record);
    virtual std::uint32_t GetVoiceHeaderSize() const { return 0; }
    /// Gives the card data its word address; returns the next free address.
    /// Places the sample data at a card word address; the address after it.
    virtual std::uint64_t AssignCardAddress(std::uint64_t address) { return address; }
    /// Writes the voice at the start of `cursor` and moves the cursor past it. `b` is the file's
    /// position in its group, from 1.
    virtual void WriteVoiceHeader(std::span<std::uint8_t>& cursor, std::uint8_t b);
    virtual void BeginCompile(ProgressView&) { }
    /// Produces up to `count` 16-bit big-endian words into `buffer`; `count` becomes the number
    /// produced. 0 = more to come, 1 = finished, -1 = failed (the user has been told).
    virtual int CompileChunk(ProgressView&, std::uint32_t& count, std::span<std::uint8_t>)
    {
        count = 0;
        return 1;
    }
    /// The samples of the voice in walk order (a sound file is its own sample); samples that
    /// are missing are left out.
    virtual std::vector<MSoundFile*> Samples() { return {}; }
    /// The highest key of each key group, for a multi-sample instrument; none otherwise.
    virtual const std::uint8_t* UpperKeys() const { return nullptr; }
    bool IsStereo() const { return isStereo; }
    bool HasStartOffset() const { return hasStartOffset; }

    std::uint16_t GroupCount() const { return groupCount; }
    std::uint16_t GroupSize() const { return groupSize; }
    std::uint16_t VoiceByte14() const { return voiceByte14; }
    std::uint16_t VoiceByte15() const { return voiceByte15; }
    std::uint32_t SampleBytes() const { return sampleBytes; }
    /// Bytes 14 and 15 of the voice header, as a project file restores them.
    void SetVoiceBytes(std::uint8_t byte14, std::uint8_t byte15)
    {
        voiceByte14 = byte14;
        voiceByte15 = byte15;
    }
    std::uint32_t ChangeTime() const { return changeTime; }
    /// The sample or voice dialog was confirmed: the file's settings changed now.
    void SetChangeTime(std::uint32_t secondsSince1904) { changeTime = secondsSince1904; }

protected:
    /// The 16-byte voice header at the start of `voice`.
    void WriteVoiceHead(std::span<std::uint8_t> voice, std::uint8_t b) const;
    void CopyInstFrom(const MInstFile& other);

    std::uint16_t groupCount = 0;
    std::uint32_t sampleBytes = 0;
    std::uint16_t channel = 0;
    std::uint16_t groupSize = 0;
    std::uint16_t voiceByte14 = 0;
    std::uint16_t voiceByte15 = 0;
    bool isStereo = false;
    bool hasStartOffset = false;
    std::uint16_t smoothing = 0;
    std::uint32_t changeTime = 0;
};

/// The short name of one half of a split stereo file: the letter appended, or in place of the
/// tenth character when the name is already 10 long.
std::string StereoHalfName(const std::string& shortName, char letter);

} // namespace cardmill
