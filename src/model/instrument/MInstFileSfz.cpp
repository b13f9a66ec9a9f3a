#include "model/instrument/MInstFileSfz.h"

#include "model/Services.h"
#include "model/TextFields.h"
#include "model/sound/MSoundFile.h"
#include "platform/FileSystem.h"
#include "platform/ProgressView.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace cardmill {

namespace {

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

/// A text file of at most `limit` bytes; nothing when it can't be read or is larger.
std::optional<std::string> ReadTextFile(const std::string& path, std::size_t limit)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string text(limit + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    if (got > limit || in.bad())
        return std::nullopt;
    text.resize(got);
    return text;
}

} // namespace

MInstFileSfz::MInstFileSfz(Services& services)
    : MInstFileInstrument(services)
{
}

std::string MInstFileSfz::SamplePath(const std::string& written) const
{
    if (written.starts_with('/'))
        return written;
    return std::filesystem::path(FolderOf(AbsolutePath(GetPath())) + written)
        .lexically_normal()
        .string();
}

bool MInstFileSfz::OpenSfz(const std::string& path)
{
    const SfzLimits limits;
    if (!SetFile(path))
        return false;
    if (FileSize() > limits.maxFileBytes) {
        CloseStream();
        return Refuse("The file is too large to be an SFZ instrument.");
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(FileSize()));
    const bool read = bytes.empty() || Read(bytes);
    CloseStream();
    if (!read)
        return Refuse("It can't be read to its end.");
    if (bytes.size() >= 2
        && ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF)))
        return Refuse("It is UTF-16 text; Cardmill reads SFZ files written in UTF-8 or in an "
                      "8-bit character set.");
    if (std::find(bytes.begin(), bytes.end(), std::uint8_t { 0 }) != bytes.end())
        return Refuse("The file is not text, so it is no SFZ instrument.");
    SfzIncludeReader reader = includeReader;
    if (!reader) {
        const std::string folder = FolderOf(AbsolutePath(path));
        reader = [folder, limits](const std::string& name) {
            return ReadTextFile(name.starts_with('/') ? name : folder + name, limits.maxFileBytes);
        };
    }
    const std::string text(bytes.begin(), bytes.end());
    document = ParseSfz(text, GetFileName(), reader, limits);
    layout = LayOutSfz(document);
    dropped = document.dropped;
    dropped.insert(dropped.end(), layout.dropped.begin(), layout.dropped.end());
    if (layout.groups.empty())
        return Refuse("The SFZ file holds no region with a sample that a key plays.");
    groupCount = static_cast<std::uint16_t>(layout.groups.size());
    groupSize = static_cast<std::uint16_t>(layout.groupSize);
    for (std::size_t g = 0; g < layout.groups.size(); ++g)
        upperKeys[g] = static_cast<std::uint8_t>(layout.groups[g].upperKey);
    sampleBytes = kHiddenSampleBytes;
    return true;
}

void MInstFileSfz::Note(const SfzRegion& region, const std::string& opcode, std::string reason)
{
    dropped.push_back({ region.file, region.line, opcode, std::move(reason) });
}

int MInstFileSfz::LoadStep()
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

bool MInstFileSfz::LoadRegion(Position at)
{
    const SfzKeyGroup& group = layout.groups[static_cast<std::size_t>(at.group)];
    auto& ids = sampleIds[static_cast<std::size_t>(at.group)];
    if (static_cast<std::size_t>(at.layer) >= group.layers.size()) {
        // A group with fewer layers than the instrument plays its loudest one at the rest.
        ids[static_cast<std::size_t>(at.layer)] = ids[static_cast<std::size_t>(at.layer) - 1];
        return true;
    }
    const SfzRegion& region = document.regions[group.layers[static_cast<std::size_t>(at.layer)]];
    FileRecord file;
    file.path = SamplePath(region.sample);
    file.name = StoredFileName(file.path);
    services.Progress().SetSector("Opening Sound File:  ", file.name);
    FileLocator::Status status = FileLocator::Status::Skipped;
    std::unique_ptr<MSoundFile> owned = LocateSample(file, status);
    if (status == FileLocator::Status::Skipped) {
        // The search for a moved file knows only the file's name: where it was looked for first
        // is the SFZ file's to say.
        services.prompter.Show("The SFZ instrument '" + GetFileName() + "' names the sample '"
                + region.sample + "' at line " + std::to_string(region.sampleLine)
                + (region.sampleFile == GetFileName() ? "" : " of '" + region.sampleFile + "'")
                + ", but there is no file '" + file.path
                + "', nor one whose name differs from it only in case.",
            Icon::Warning, Buttons::Ok);
        missingSample = true;
        return false;
    }
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

void MInstFileSfz::TellDropped()
{
    if (dropped.empty())
        return;
    // An opcode of a <group> that every region leaves out is one report, not one a region: each
    // report is told once, where it first stands, with how often it stands.
    struct Summary {
        const SfzDropped* first;
        std::size_t count;
    };
    std::vector<Summary> summaries;
    for (const SfzDropped& report : dropped) {
        const auto same = std::find_if(summaries.begin(), summaries.end(), [&](const Summary& s) {
            return s.first->opcode == report.opcode && s.first->reason == report.reason;
        });
        if (same != summaries.end())
            ++same->count;
        else
            summaries.push_back({ &report, 1 });
    }
    constexpr std::size_t kShown = 20;
    std::string message
        = "Some of what the SFZ instrument " + GetFileName() + " holds can't go onto the card:";
    for (std::size_t i = 0; i < std::min(summaries.size(), kShown); ++i) {
        message += "\n" + summaries[i].first->Text();
        if (summaries[i].count > 1)
            message += " (" + std::to_string(summaries[i].count) + " times in all)";
    }
    if (summaries.size() > kShown)
        message += "\n... and " + std::to_string(summaries.size() - kShown) + " more.";
    services.prompter.Show(message, Icon::Warning, Buttons::Ok);
}

std::unique_ptr<MReadableFile> MInstFileSfz::Duplicate() const
{
    auto copy = std::make_unique<MInstFileSfz>(services);
    if (!copy->CopyFrom(*this))
        return nullptr;
    copy->document = document;
    copy->layout = layout;
    copy->dropped = dropped;
    return copy;
}

bool MSfzFormatInterpreter::Recognises(const std::string& path) const
{
    return EndsWithExtension(path, ".sfz");
}

std::unique_ptr<MReadableFile> MSfzFormatInterpreter::Create(const std::string& path) const
{
    auto instrument = std::make_unique<MInstFileSfz>(services);
    if (!instrument->OpenSfz(path))
        return nullptr;
    return instrument;
}

} // namespace cardmill
