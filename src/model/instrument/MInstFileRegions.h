#pragma once

#include "model/instrument/MInstFileInstrument.h"
#include "model/instrument/SfzParser.h"

#include <vector>

namespace cardmill {

/// An instrument stated as regions (SFZ files, SoundFont and DLS presets, DecentSampler presets)
/// read into the card's instrument: key groups from the regions' key ranges, up to three layers
/// from their velocity ranges, sample parameters from the regions. What the card can't hold is
/// told once, when the instrument is added: one line through the prompter, the reports (each where
/// it first stands) as its details.
class MInstFileRegions : public MInstFileInstrument {
public:
    int LoadStep() override;

    /// Everything left out, in the order found: reading, key layout, then the samples' loading.
    const std::vector<SfzDropped>& Dropped() const { return dropped; }
    /// "23 kinds of setting are not on the card" (each opcode with the same reason one kind);
    /// empty when nothing is left out.
    std::string LeftOutLine() const;
    /// The kinds left out, a line each where it first stands, with how often it stands.
    std::string LeftOutList() const;

protected:
    explicit MInstFileRegions(Services& services);

    /// Lays out the regions read; false, with `noRegion` as the reason, when no key plays any.
    bool TakeRegions(SfzDocument regions, const std::string& noRegion);
    /// The sound a region plays, loaded; none when it can't be (the user has been told, or
    /// `missingSample` is set so that every missing sample is named before the load fails).
    virtual std::unique_ptr<MSoundFile> OpenSample(const SfzRegion& region) = 0;
    /// "the SFZ instrument 'x.sfz'": how the reports name the file.
    virtual std::string Described() const = 0;
    void CopyRegionsFrom(const MInstFileRegions& source);

    bool missingSample = false;

private:
    bool LoadRegion(Position at);
    void Note(const SfzRegion& region, const std::string& opcode, std::string reason);
    void TellDropped();

    SfzDocument document;
    SfzLayout layout;
    std::vector<SfzDropped> dropped;
};

} // namespace cardmill
