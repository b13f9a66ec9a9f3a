#pragma once

#include "model/MReadableFileDispatcher.h"
#include "model/instrument/MInstFileInstrument.h"
#include "model/instrument/SfzParser.h"

#include <vector>

namespace cardmill {

/// An SFZ instrument (the text format of today's software samplers) read into the card's
/// instrument: key groups from the regions' key ranges, up to three layers from their velocity
/// ranges, sample parameters from the opcodes. What the card can't hold is reported once per
/// load through the prompter, naming file, line and opcode, and kept as the file's comment.
class MInstFileSfz final : public MInstFileInstrument {
public:
    explicit MInstFileSfz(Services& services);

    /// Reads and parses the text; false (with the reason kept) when it holds no usable region.
    bool OpenSfz(const std::string& path);
    std::unique_ptr<MReadableFile> Duplicate() const override;
    std::string GetFormatName() const override { return "SFZ"; }
    std::string GetInfoLine1() const override { return "Multi-Sample Instrument"; }
    int LoadStep() override;

    /// Everything left out, in the order found: parsing, key layout, then the samples' loading.
    const std::vector<SfzDropped>& Dropped() const { return dropped; }
    /// Where #include files come from; the folder of the .sfz file unless replaced (tests, fuzz).
    void SetIncludeReader(SfzIncludeReader reader) { includeReader = std::move(reader); }

private:
    bool LoadRegion(Position at);
    std::string SamplePath(const std::string& written) const;
    void Note(const SfzRegion& region, const std::string& opcode, std::string reason);
    void TellDropped();

    SfzIncludeReader includeReader;
    SfzDocument document;
    SfzLayout layout;
    std::vector<SfzDropped> dropped;
    bool missingSample = false;
};

/// SFZ files are text without a signature: recognised by the ".sfz" name and text content.
class MSfzFormatInterpreter final : public MFormatInterpreter {
public:
    using MFormatInterpreter::MFormatInterpreter;
    bool Recognises(const std::string& path) const override;
    std::unique_ptr<MReadableFile> Create(const std::string& path) const override;
};

} // namespace cardmill
