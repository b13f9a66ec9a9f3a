#include "model/instrument/MInstFileRegions.h"

#include "model/Services.h"
#include "model/sound/MSoundFile.h"

#include <algorithm>

namespace cardmill {

MInstFileRegions::MInstFileRegions(Services& services)
    : MInstFileInstrument(services)
{
}

bool MInstFileRegions::TakeRegions(SfzDocument regions, const std::string& noRegion)
{
    document = std::move(regions);
    SplitLayeredRegions(document);
    layout = LayOutSfz(document);
    dropped = document.dropped;
    dropped.insert(dropped.end(), layout.dropped.begin(), layout.dropped.end());
    if (layout.groups.empty())
        return Refuse(noRegion);
    groupCount = static_cast<std::uint16_t>(layout.groups.size());
    groupSize = static_cast<std::uint16_t>(layout.groupSize);
    for (std::size_t g = 0; g < layout.groups.size(); ++g)
        upperKeys[g] = static_cast<std::uint8_t>(layout.groups[g].upperKey);
    sampleBytes = kHiddenSampleBytes;
    return true;
}

void MInstFileRegions::CopyRegionsFrom(const MInstFileRegions& source)
{
    document = source.document;
    layout = source.layout;
    dropped = source.dropped;
}

int MInstFileRegions::LoadStep()
{
    if (isLoaded)
        return 1;
    if (!isLoading) {
        if (layout.groups.empty())
            return -1;
        BeginLoad();
        walk = {};
    }
    if (!LoadRegion(walk) && !missingSample) {
        isLoading = false;
        isLoaded = false;
        return -1;
    }
    if (AdvanceGroup(walk))
        return 0;
    isLoading = false;
    // Every sample that could not be found has been named by now: the instrument is not added.
    if (missingSample)
        return -1;
    isLoaded = true;
    TellDropped();
    UpdateCompiledSize();
    return 1;
}

bool MInstFileRegions::LoadRegion(Position at)
{
    const SfzKeyGroup& group = layout.groups[static_cast<std::size_t>(at.group)];
    auto& ids = sampleIds[static_cast<std::size_t>(at.group)];
    if (static_cast<std::size_t>(at.layer) >= group.layers.size()) {
        // A group with fewer layers than the instrument plays its loudest one at the rest.
        ids[static_cast<std::size_t>(at.layer)] = ids[static_cast<std::size_t>(at.layer) - 1];
        return true;
    }
    const SfzRegion& region = document.regions[group.layers[static_cast<std::size_t>(at.layer)]];
    std::unique_ptr<MSoundFile> owned = OpenSample(region);
    if (!owned)
        return false;

    SampleParams params;
    int root = region.keycenter - region.transpose;
    int cents = region.tune;
    // The card's fine tune reaches a little over a semitone: whole semitones go to the root.
    while (cents > 127) {
        cents -= 100;
        --root;
    }
    while (cents < -127) {
        cents += 100;
        ++root;
    }
    if (root < 0 || root > 127) {
        Note(region, "pitch_keycenter",
            "the root key " + std::to_string(root) + " lies off the keyboard; "
                + (root < 0 ? "0" : "127") + " is used");
        root = std::clamp(root, 0, 127);
    }
    params.rootKey = static_cast<std::uint16_t>(root);
    params.fineTune = static_cast<std::int16_t>(cents * 256);
    params.volume = static_cast<float>(std::min(region.volume, 0.0));
    if (region.volume > 0.0)
        Note(region, "volume", "the card plays a sample at most at 0 dB");
    const std::uint32_t frames = owned->GetFrameCount();
    if (region.offset > 0 && static_cast<std::uint64_t>(region.offset) >= frames)
        Note(region, "offset", "lies past the sample's end; the sample starts at its beginning");
    else
        params.startFrame = static_cast<std::uint32_t>(region.offset);

    int first = -1, second = -1;
    SoundLoop fileLoop;
    const bool hasFileLoop
        = owned->ChooseLoops(first, second) > 0 && owned->GetLoop(fileLoop, first);
    SfzLoopMode mode = region.loopMode;
    if (mode == SfzLoopMode::Unset)
        mode = hasFileLoop ? SfzLoopMode::Continuous : SfzLoopMode::NoLoop;
    if (mode == SfzLoopMode::Sustain)
        Note(region, "loop_mode", "the card has no release past a loop: played as loop_continuous");
    if (mode == SfzLoopMode::OneShot)
        Note(region, "loop_mode", "the card ends a sound at the key's release: played as no_loop");
    if (mode == SfzLoopMode::Continuous || mode == SfzLoopMode::Sustain) {
        std::int64_t start = region.loopStart.value_or(hasFileLoop ? fileLoop.start : 0);
        std::int64_t end = region.loopEnd.value_or(
            hasFileLoop ? fileLoop.end : std::max<std::int64_t>(frames, 1) - 1);
        if (frames > 0 && end >= frames) {
            Note(region, "loop_end", "lies past the sample's end; the loop ends at its last frame");
            end = frames - 1;
        }
        if (end <= start)
            Note(region, "loop_start", "the loop ends before it starts; the sample is not looped");
        params.looping = end > start ? 1 : 0;
        params.loopStart = static_cast<std::uint32_t>(start);
        params.loopEnd = static_cast<std::uint32_t>(end);
    }
    if (!params.looping || !hasFileLoop || (region.loopStart && region.loopEnd))
        owned->TakeValueChanges(); // what the sound file said of its loops is not played
    if (params.startFrame != 0) {
        smoothing = 1;
        hasStartOffset = true;
    }
    if (!owned->SetParams(params))
        return false;
    for (const std::string& change : owned->TakeValueChanges())
        Note(region, "", "the sample '" + owned->GetFileName() + "' " + change);
    owned->Register();
    Adopt(std::move(owned), at);
    return true;
}

void MInstFileRegions::Note(const SfzRegion& region, const std::string& opcode, std::string reason)
{
    dropped.push_back({ region.file, region.line, opcode, std::move(reason) });
}

namespace {

/// One kind of setting left out: the report where it first stands, and how often it stands.
struct Kind {
    const SfzDropped* first;
    std::size_t count;
};

/// An opcode of a <group> that every region leaves out is one kind, not one a region.
std::vector<Kind> KindsOf(const std::vector<SfzDropped>& dropped)
{
    std::vector<Kind> kinds;
    for (const SfzDropped& report : dropped) {
        const auto same = std::find_if(kinds.begin(), kinds.end(), [&](const Kind& kind) {
            return kind.first->opcode == report.opcode && kind.first->reason == report.reason;
        });
        if (same != kinds.end())
            ++same->count;
        else
            kinds.push_back({ &report, 1 });
    }
    return kinds;
}

std::string KindsText(std::size_t count)
{
    return std::to_string(count) + (count == 1 ? " kind of setting" : " kinds of setting");
}

} // namespace

std::string MInstFileRegions::LeftOutLine() const
{
    const std::size_t count = KindsOf(dropped).size();
    if (count == 0)
        return {};
    return KindsText(count) + (count == 1 ? " is" : " are") + " not on the card";
}

std::string MInstFileRegions::LeftOutList() const
{
    std::string list;
    for (const Kind& kind : KindsOf(dropped)) {
        if (!list.empty())
            list += '\n';
        list += kind.first->Text();
        if (kind.count > 1)
            list += " (" + std::to_string(kind.count) + " times in all)";
    }
    return list;
}

void MInstFileRegions::TellDropped()
{
    if (dropped.empty() || !services.TellsFileChanges())
        return;
    // One line, whatever the instrument holds: a preset can leave out dozens of generators, which
    // the user reads only when they want to.
    const std::size_t count = KindsOf(dropped).size();
    services.prompter.ShowWithDetails(KindsText(count) + " in " + Described()
            + (count == 1 ? " is" : " are") + " not on the card.",
        LeftOutList(), Icon::Warning, Buttons::Ok);
}

} // namespace cardmill
