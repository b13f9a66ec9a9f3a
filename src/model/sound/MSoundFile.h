#pragma once

#include "model/instrument/MInstFile.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cardmill {

class ByteStream;
class Prompter;

/// The editable parameters of a sample: edited by the sample dialog, stored in project and
/// instrument files.
struct SampleParams {
    std::uint16_t rootKey = 60;
    std::int16_t fineTune = 0; // 1/256 cent
    std::int16_t paramByte2 = 0;
    std::uint16_t channel = 0; // 0 both mixed, 1 first (left), 2 second (right)
    float volume = 0.0f; // dB
    std::uint32_t startFrame = 0;
    std::uint32_t loopStart = 0;
    std::uint32_t loopEnd = 0;
    std::uint16_t looping = 0;
};

struct SoundLoop {
    std::uint32_t start = 0;
    std::uint32_t end = 0;
    bool valid = false;
    bool alternating = false;
};

struct SoundMarker {
    std::uint32_t frame = 0;
    std::uint16_t id = 0;
    bool named = false;
    std::string name;
};

/// What makes two sounds one sound wherever they are used: the file, and the place in it of a
/// sound that shares its file with others (the key of a library's sample; empty otherwise).
struct SoundIdentity {
    std::string file; // absolute
    std::string place;
    auto operator<=>(const SoundIdentity&) const = default;
};

/// Shows, as one warning with an OK button, the sentences that say which values a file gave were
/// changed to ones the card can take; nothing when there are none.
void TellValueChanges(Prompter& prompter, const std::vector<std::string>& sentences);

/// The card's volume byte (0 to 252) of a volume in dB, and back.
std::uint8_t VolumeByte(float volumeDb);
float VolumeFromByte(unsigned volumeByte);

/// Format and channel choice of one sample conversion; see the converter table of the card data.
struct SampleFormat {
    std::uint8_t bytesPerSample = 2;
    std::uint8_t channelCount = 1;
    bool littleEndian = true;
    bool unsigned8 = false;
    std::uint16_t channel = 0; // 0 mix, 1 first, 2 second (mono files: ignored)
};
/// Converts `frames` frames of `in` into 16-bit big-endian signed words at `out`, one per frame;
/// the two must not overlap.
using SampleConverter = void (*)(const std::uint8_t* in, std::uint8_t* out, std::size_t frames);
SampleConverter ChooseConverter(const SampleFormat& format);
/// The vector units a converter may use; the one-argument ChooseConverter takes the best there is.
enum class VectorUnits { kNone, kSse2, kAvx2 };
/// The converter built on `units`, or nullptr where this build or this processor lacks them.
SampleConverter ChooseConverter(const SampleFormat& format, VectorUnits units);

/// One sample taken from a sound file: its format, loops and named markers, the parameters the
/// user may edit, and what it becomes on the card: a 12-byte sample header and a stream of 16-bit
/// sample words. A plain MSoundFile takes any file as raw 16-bit little-endian mono data at
/// 48000 Hz; the format readers derive from it and only fill its fields.
///
/// Every live sound is registered in the application's sound registry; a sound that uses the same
/// file and channel as an earlier one becomes a "phantom" sharing that sound's card data.
class MSoundFile : public MInstFile {
public:
    static constexpr std::uint32_t kLoopStartLimit = 0x3FFF0; // 262128
    static constexpr std::uint16_t kHighestKey = 127;
    static constexpr int kMaxLoops = 8;
    static constexpr int kMaxMarkers = 8;
    static constexpr std::size_t kMarkerNameLimit = 31;
    static constexpr std::uint32_t kVoiceBytes = 30;
    static constexpr std::size_t kSampleHeaderBytes = 12;
    static constexpr std::size_t kReadAheadBytes = 1 << 16;

    explicit MSoundFile(Services& services);
    ~MSoundFile() override;

    // Readable file
    bool Deactivate() override;
    std::unique_ptr<MReadableFile> Duplicate() const override;
    std::unique_ptr<MReadableFile> DuplicateActive() const override;
    void Activate() override;
    std::string GetInfoLine1() const override;
    std::string GetInfoLine2() const override;
    std::string GetInfoLine3() const override;
    /// Not raw data, and the file is still there to be read.
    bool CanPreview() const override;
    bool UpdatePreview() override;
    void UnloadPreview() override;
    int LoadStep() override;
    bool UpdateCompiledSize() override;
    bool UpdateCompiledSizeStep(bool) override
    {
        UpdateCompiledSize();
        return true;
    }

    // Voice
    void SetChannel(std::uint16_t value) override;
    bool RestoreFromRecord(const ByteReader& record) override;
    std::uint32_t GetVoiceHeaderSize() const override { return kVoiceBytes; }
    std::vector<MSoundFile*> Samples() override { return { this }; }
    std::uint64_t AssignCardAddress(std::uint64_t address) override;
    void WriteVoiceHeader(std::span<std::uint8_t>& cursor, std::uint8_t b) override;
    void BeginCompile(ProgressView& progress) override;
    int CompileChunk(
        ProgressView& progress, std::uint32_t& count, std::span<std::uint8_t> buffer) override;

    /// Sets the path and reads the file's header (raw data for the plain class).
    virtual bool OpenSound(const std::string& path);
    /// The default loops: examines entries 0, 2, 4 and 6; returns how many are valid (at most 2).
    int ChooseLoops(int& first, int& second) const;
    bool GetLoop(SoundLoop& out, int index) const;
    void Register();
    void Unshare();
    void BuildShareKey();
    bool ShareData();
    std::uint32_t GetId() const { return soundId; }
    SoundIdentity Identity() const;
    /// The sample data as the file holds it, as a 64-bit hash, read once when first asked:
    /// sounds are compared by it only when name, format and length already match. Nothing when
    /// the data can't be read.
    std::optional<std::uint64_t> SampleDataHash() const;
    std::uint32_t GetFrameCount() const { return frameCount; }
    std::uint32_t GetStartFrame() const { return startMarkerFrame; }
    std::uint16_t GetRootKey() const { return params.rootKey; }
    /// Takes a whole parameter record, from a file's defaults or a stored record. Whatever reader
    /// gave them, values the card can't take are changed here, and the change noted for the
    /// user: a root key off the keyboard is moved onto it, a loop ending past the data is cut to
    /// its last frame (no loop when its start is then not before its end), a start frame after
    /// the loop end becomes the loop start. A start between loop start and loop end is kept
    /// even where SetStartFrame, the dialog's setter, would refuse it: the card plays it. False
    /// when the loop check is refused.
    bool SetParams(const SampleParams& record);
    /// The changes of values since the last call, as predicates of the file ("gives the root
    /// key 200; it is used as 127"), each only once in the sound's life.
    std::vector<std::string> TakeValueChanges();
    /// Bytes of sample words on the card: 0 for a phantom.
    std::uint32_t GetSampleDataSize() const;
    std::uint64_t GetFileDataSize() const;
    std::array<std::uint8_t, kSampleHeaderBytes> BuildSampleHeader(bool smooth) const;
    bool ApplyDefaults();
    bool CopyTo(MSoundFile& other) const;
    bool DropWholeFileLoops();
    void FindStartMarker();
    bool FindMarker(std::uint32_t& frame, std::string_view name) const;
    bool SetStartFrame(std::uint32_t frame);
    /// The sample dialog's setters: false, changing nothing, when the value is out of range.
    bool SetRootKey(std::uint16_t key);
    /// Volume as the card's byte, 0 to 252.
    bool SetVolumeByte(unsigned volumeByte);
    /// Loop on or off with a new loop start, through the loop check (which may ask and replace
    /// the loop); false when the check is refused.
    bool SetLoop(bool looping, std::uint32_t loopStart);

    /// Audio preview: opens the sound's data from its first frame; false for raw data.
    bool BeginPreview();
    /// The next frames for playback as interleaved native 16-bit samples; 0 at the end.
    std::size_t ReadPreview(std::span<std::int16_t> samples);
    void EndPreview();

    const SampleParams& Params() const { return params; }
    float SampleRate() const { return sampleRate; }
    std::uint8_t BytesPerSample() const { return bytesPerSample; }
    std::uint8_t ChannelCount() const { return channelCount; }
    bool IsRaw() const { return isRaw; }
    bool IsPhantom() const { return sharedWith != 0; }
    std::uint32_t SharedWith() const { return sharedWith; }
    bool IsInactive() const { return inactive; }
    std::uint32_t SpanFirst() const { return spanFirst; }
    std::uint32_t SpanLast() const { return spanLast; }
    std::uint64_t CardAddress() const { return cardAddress; }
    std::uint32_t DataOffset() const { return dataOffset; }
    const std::string& ShareKey() const { return shareKey; }
    int LoopCount() const { return loopCount; }
    int MarkerCount() const { return markerCount; }
    const SoundMarker& Marker(int index) const { return markers[static_cast<std::size_t>(index)]; }
    /// The sample's type as text ("16-bit Mono") and rate as text ("44100 Hz").
    std::string SampleTypeText() const { return GetInfoLine1(); }
    std::string SampleRateText() const { return GetInfoLine3(); }
    /// How the file holds its sample data (the channel choice is this sound's).
    SampleFormat DataFormat() const;
    /// A stream of its own at the first byte of the sample data; nothing when the file can't
    /// be opened.
    std::unique_ptr<ByteStream> OpenSampleData() const;

    /// Settings as the card takes them on `frameCount` frames, as SetParams stores them (its
    /// question answered OK): the root moved onto the keyboard, a loop cut to the data, a sound
    /// without a loop ending in 8 silent frames past its data, a loop start out of the card's
    /// reach replaced by a loop over the whole file (`wholeFileLoop` set true, for the question), a
    /// start after the loop end moved to the loop start. `changes` gets what was changed.
    static SampleParams Settle(SampleParams params, std::uint32_t frameCount,
        std::vector<std::string>* changes = nullptr, bool* wholeFileLoop = nullptr);
    /// The frames of the data the card holds for settled settings, from the first used (the
    /// smaller of start and loop start) to the loop end; the card adds 8 frames after it.
    static std::pair<std::uint32_t, std::uint32_t> UsedSpan(const SampleParams& settled)
    {
        return { std::min(settled.startFrame, settled.loopStart), settled.loopEnd };
    }

protected:
    /// Keeps frameCount within the bytes the file really holds from dataOffset on.
    void LimitFramesToFile();
    /// What every reader does once its header is read: loops over the whole file are dropped,
    /// loops that end past the data are cut to it (noted for the user), the start marker found.
    void FinishHeader();
    /// Adds a loop entry; a loop whose end does not lie after its start is kept but invalid.
    void SetLoopEntry(
        int index, std::uint32_t start, std::uint32_t end, bool valid, bool alternating);
    /// True when the header describes data the card converters can take.
    bool FormatUsable() const;
    void ResetOwnSpan();
    void WidenSpan(const MSoundFile& sharer);
    std::uint32_t frameCount = 0;
    bool isRaw = false;
    float sampleRate = 48000.0f;
    std::uint8_t bytesPerSample = 2;
    std::uint8_t channelCount = 1;
    float fileGain = 0.0f;
    std::uint16_t fileFineTune = 0;
    std::uint8_t fileLowKey = 0;
    std::uint32_t fileRootKey = 60; // as the file gives it, before the card's range is applied
    std::uint8_t fileHighKey = 127;
    std::uint8_t fileLowVelocity = 1;
    std::uint8_t fileHighVelocity = 127;
    int loopCount = 0;
    std::array<SoundLoop, kMaxLoops> loops {};
    int markerCount = 0;
    std::array<SoundMarker, kMaxMarkers> markers {};
    std::uint32_t startMarkerFrame = 0;
    SampleParams params;
    std::uint32_t dataOffset = 0;
    bool isUnsigned8 = false;
    bool inactive = false;
    std::string shareKey;
    std::uint32_t soundId = 0;
    mutable std::optional<std::optional<std::uint64_t>> dataHash;
    std::uint32_t sharedWith = 0;
    std::uint32_t firstUsedFrame = 0;
    std::uint32_t spanFirst = 0;
    std::uint32_t spanLast = 0;
    std::uint64_t cardAddress = 0;

private:
    MSoundFile* Owner() const;
    void NoteValueChange(std::string change, bool first = false);
    /// Tells the changes not yet taken, the first sentence beginning with `subject`.
    void TellOwnChanges(const std::string& subject);
    /// The file's loops cut to the data it holds.
    void LimitLoopsToData();

    std::vector<std::string> valueChanges; // not yet taken
    std::vector<std::string> takenValueChanges;

    // Compile state
    SampleConverter converter = nullptr;
    std::vector<std::uint8_t> rawFrames; // frames read ahead of the conversion
    std::size_t rawAt = 0; // the next frame of rawFrames to convert
    std::size_t rawEnd = 0; // the frames rawFrames holds
    std::uint64_t framesToRead = 0; // frames of the file not yet read
    std::uint64_t zerosToWrite = 0;
    // Preview state
    std::unique_ptr<ByteStream> previewStream;
    std::uint64_t previewFramesLeft = 0;
    std::vector<std::uint8_t> previewBuffer;
};

} // namespace cardmill
