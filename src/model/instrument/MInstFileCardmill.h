#pragma once

#include "model/MReadableFileDispatcher.h"
#include "model/instrument/MInstFileInstrument.h"
#include "model/sound/SampleRecord.h"

#include <optional>
#include <span>
#include <vector>

namespace cardmill {

class ASafeFile;
class Prompter;

/// The application's own instrument file (".cmt"): no sample data, only a record of every sound
/// file with its settings and the key table. Read here; written by WriteInstrumentFile.
class MInstFileCardmill final : public MInstFileInstrument {
public:
    explicit MInstFileCardmill(Services& services);

    bool OpenInstrument(const std::string& path);
    std::unique_ptr<MReadableFile> Duplicate() const override;
    std::string GetFormatName() const override { return "Cardmill (TM)"; }
    int LoadStep() override;

private:
    bool ReadHeader();
    bool CheckVersion();
    bool ReadInst();
    void ReadKeyTable();
    /// Loads the sample of a layer; false (and a reason given) when it cannot be had.
    bool LoadSample(Position at);

    std::optional<std::vector<std::uint8_t>> inst; // the "INST" chunk, header included
    std::uint16_t storedSamples = 0;
    bool missingSample = false;
};

class MCardmillFormatInterpreter final : public MFormatInterpreter {
public:
    using MFormatInterpreter::MFormatInterpreter;
    bool Recognises(const std::string& path) const override;
    std::unique_ptr<MReadableFile> Create(const std::string& path) const override;
};

/// How the key groups of a written instrument (one a sound) lie on the keyboard.
struct InstrumentKeys {
    enum class Layout {
        Packed, // every group one key wide at the top of the keyboard, the last up to 127
        HalfWay, // split half-way between neighbouring sounds' root keys, the last up to 127
        Given, // the upper key of each group from `upperKeys`
        // the sounds put in order of their root keys and split as HalfWay does; sounds sharing
        // a root can't be placed so, and share the keyboard evenly in the order given (told)
        ByRoot,
    };
    Layout layout = Layout::Packed;
    std::vector<int> upperKeys;
};

/// The key groups, layers, voice bytes and key table of an instrument file.
struct InstrumentShape {
    int groupCount = 1;
    int groupSize = 1;
    std::uint16_t voiceByte14 = 0;
    std::uint16_t voiceByte15 = 0;
    std::array<std::uint8_t, MInstFileInstrument::kMaxGroups> upperKeys {};
};

/// The bytes of an instrument file of that shape holding `records`, one a group and layer in
/// walk order; `dataBytes` is the sample data the records' files hold.
std::vector<std::uint8_t> InstrumentFileBytes(
    const InstrumentShape& shape, std::span<const SampleRecord> records, std::uint64_t dataBytes);

/// The bytes of an instrument file with the key groups, layers, key table and voice bytes of
/// `layout`, and the records of `samples` with their settings: one a group and layer, in that
/// order (group 0 layer 0, group 0 layer 1, ...).
std::vector<std::uint8_t> InstrumentFileBytes(
    const MInstFileInstrument& layout, std::span<const MSoundFile* const> samples);

/// Writes an instrument file of the given sounds, in their order, each with its default
/// parameters; the sounds are used up. Refuses (with a message, writing nothing) an empty list,
/// more than 128 sounds, a sound whose path a record cannot hold, and key groups that the voice
/// dialog's checks refuse.
bool WriteInstrumentFile(ASafeFile& writer, Prompter& prompter, const std::string& destination,
    std::vector<std::unique_ptr<MSoundFile>> sounds, const InstrumentKeys& keys = {});

} // namespace cardmill
