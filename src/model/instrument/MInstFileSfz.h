#pragma once

#include "model/MReadableFileDispatcher.h"
#include "model/instrument/MInstFileRegions.h"

namespace cardmill {

/// An SFZ instrument (the text format of today's software samplers) or a DecentSampler preset
/// (XML): text whose samples are files named relative to it.
class MInstFileSfz final : public MInstFileRegions {
public:
    explicit MInstFileSfz(Services& services);

    /// Reads and parses the text; false (with the reason kept) when it holds no usable region.
    bool OpenSfz(const std::string& path);
    bool OpenDecentSampler(const std::string& path);
    std::unique_ptr<MReadableFile> Duplicate() const override;
    std::string GetFormatName() const override { return formatName; }
    std::string GetInfoLine1() const override { return "Multi-Sample Instrument"; }
    /// Where #include files come from; the folder of the .sfz file unless replaced (tests, fuzz).
    void SetIncludeReader(SfzIncludeReader reader) { includeReader = std::move(reader); }

protected:
    std::unique_ptr<MSoundFile> OpenSample(const SfzRegion& region) override;
    std::string Described() const override;

private:
    std::string SamplePath(const std::string& written) const;
    /// The whole file, at most the parser's limit; nothing (refused, with the reason) otherwise.
    std::optional<std::vector<std::uint8_t>> ReadText(const std::string& path);

    SfzIncludeReader includeReader;
    std::string kind = "SFZ instrument";
    std::string formatName = "SFZ";
};

/// SFZ files and DecentSampler presets are text without a signature: recognised by their names
/// (".sfz", ".dspreset").
class MSfzFormatInterpreter final : public MFormatInterpreter {
public:
    using MFormatInterpreter::MFormatInterpreter;
    bool Recognises(const std::string& path) const override;
    std::unique_ptr<MReadableFile> Create(const std::string& path) const override;
};

} // namespace cardmill
