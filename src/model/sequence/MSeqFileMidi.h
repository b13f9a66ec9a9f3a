#pragma once

#include "model/MReadableFileDispatcher.h"
#include "model/sequence/MSeqFile.h"
#include "model/sequence/MStdMidiFileTrack.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace cardmill {

/// A standard MIDI file (format 0 or 1) and its conversion into the card's sequence format:
/// channel and System Exclusive messages grouped between time records that count milliseconds.
/// The conversion runs once, in slices of at most 167 ms, while the file is loaded.
class MSeqFileMidi final : public MSeqFile {
public:
    static constexpr int kMaxTracks = 64;

    explicit MSeqFileMidi(Services& services);
    ~MSeqFileMidi() override;

    /// SetFile, then the header and track chunks; false when the file cannot be a sequence.
    bool OpenSequence(const std::string& path);

    std::unique_ptr<MReadableFile> Duplicate() const override;
    std::string GetFormatName() const override { return "MIDI Sequence"; }
    std::string GetInfoLine1() const override;
    std::string GetInfoLine2() const override;
    std::string GetInfoLine3() const override;
    int LoadStep() override;
    bool UpdateCompiledSize() override;
    std::span<const std::uint8_t> CompiledSequence(ProgressView& progress, bool first) override;
    std::optional<int> MidiFormat() const override { return format; }

    std::uint16_t Format() const { return format; }
    std::uint16_t TicksPerQuarter() const { return ticksPerQuarter; }
    std::uint16_t TrackCount() const { return trackCount; }
    std::uint32_t EventCount() const { return eventCount; }
    std::span<const std::uint8_t> ConvertedData() const { return converted; }
    void ReleaseTracks();

    /// Off: the conversion walks every tick one by one, as a reference for the tests; on (the
    /// default): runs of ticks without events are crossed in one step, with the same result.
    void SetSkipsEmptyTicks(bool skip) { skipEmptyTicks = skip; }

private:
    class Converter;
    bool Load();

    std::vector<std::uint8_t> converted;
    std::uint32_t eventCount = 0;
    std::uint16_t format = 0;
    std::uint16_t ticksPerQuarter = 0;
    std::uint16_t trackCount = 0;
    std::array<MStdMidiFileTrack, kMaxTracks> tracks;
    int conversionState = 0;
    std::unique_ptr<Converter> converter;
    bool skipEmptyTicks = true;
};

class MMidiFormatInterpreter final : public MFormatInterpreter {
public:
    using MFormatInterpreter::MFormatInterpreter;
    bool Recognises(const std::string& path) const override;
    std::unique_ptr<MReadableFile> Create(const std::string& path) const override;
};

} // namespace cardmill
