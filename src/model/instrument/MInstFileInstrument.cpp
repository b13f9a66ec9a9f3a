#include "model/instrument/MInstFileInstrument.h"

#include "model/MReadableFileDispatcher.h"
#include "model/MissingFileLocator.h"
#include "model/Services.h"
#include "model/sound/MSoundFile.h"
#include "model/sound/SampleRecord.h"
#include "platform/ProgressView.h"

#include <algorithm>

namespace cardmill {

MInstFileInstrument::MInstFileInstrument(Services& sharedServices)
    : MInstFile(sharedServices)
{
    groupCount = 1;
    groupSize = 1;
    upperKeys.fill(0);
}

MInstFileInstrument::~MInstFileInstrument() = default;

MSoundFile* MInstFileInstrument::SampleAt(int group, int layer) const
{
    if (group < 0 || group >= kMaxGroups || layer < 0 || layer >= kMaxLayers)
        return nullptr;
    return services.sounds.Find(
        sampleIds[static_cast<std::size_t>(group)][static_cast<std::size_t>(layer)]);
}

bool MInstFileInstrument::AdvanceGroup(Position& position) const
{
    if (++position.layer >= groupSize) {
        position.layer = 0;
        ++position.group;
    }
    return position.group < groupCount;
}

MSoundFile* MInstFileInstrument::FirstSample()
{
    walk = {};
    walkDone = groupCount == 0;
    return NextSample();
}

MSoundFile* MInstFileInstrument::NextSample()
{
    if (walkDone)
        return nullptr;
    MSoundFile* sample = SampleAt(walk.group, walk.layer);
    walkDone = !AdvanceGroup(walk);
    return sample;
}

bool MInstFileInstrument::SeenBefore(Position at) const
{
    const std::uint32_t id
        = sampleIds[static_cast<std::size_t>(at.group)][static_cast<std::size_t>(at.layer)];
    for (Position earlier;
         earlier.group < at.group || (earlier.group == at.group && earlier.layer < at.layer);
         AdvanceGroup(earlier))
        if (id != 0
            && sampleIds[static_cast<std::size_t>(earlier.group)]
                        [static_cast<std::size_t>(earlier.layer)]
                == id)
            return true;
    return false;
}

std::vector<MSoundFile*> MInstFileInstrument::Samples()
{
    std::vector<MSoundFile*> samples;
    Position at;
    do {
        if (MSoundFile* sample = SampleAt(at.group, at.layer); sample && !SeenBefore(at))
            samples.push_back(sample);
    } while (AdvanceGroup(at));
    return samples;
}

std::uint32_t MInstFileInstrument::GetVoiceHeaderSize() const
{
    const std::uint32_t n = category <= 7 ? groupCount : 1;
    return 16 + ((n + 1) & ~1u) + std::uint32_t { groupSize } * n * 12;
}

bool MInstFileInstrument::UpdateCompiledSize()
{
    std::uint64_t size = GetVoiceHeaderSize();
    for (MSoundFile* sample : Samples())
        size += sample->GetSampleDataSize();
    const auto next = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, UINT32_MAX));
    const bool changed = next != compiledSize;
    compiledSize = next;
    return changed;
}

bool MInstFileInstrument::UpdateCompiledSizeStep(bool restart)
{
    if (restart) {
        sizeTotal = GetVoiceHeaderSize();
        sizePosition = {};
    }
    if (sizePosition.group < groupCount) {
        if (MSoundFile* sample = SampleAt(sizePosition.group, sizePosition.layer);
            sample && !SeenBefore(sizePosition))
            sizeTotal = static_cast<std::uint32_t>(std::min<std::uint64_t>(
                std::uint64_t { sizeTotal } + sample->GetSampleDataSize(), UINT32_MAX));
        if (AdvanceGroup(sizePosition))
            return false;
    }
    compiledSize = sizeTotal;
    return true;
}

std::uint64_t MInstFileInstrument::AssignCardAddress(std::uint64_t address)
{
    for (MSoundFile* sample : Samples())
        address = sample->AssignCardAddress(address);
    return address;
}

void MInstFileInstrument::WriteVoiceHeader(std::span<std::uint8_t>& cursor, std::uint8_t b)
{
    const std::uint32_t size = GetVoiceHeaderSize();
    if (cursor.size() < size)
        return;
    std::span<std::uint8_t> voice = cursor.first(size);
    WriteVoiceHead(voice, b);
    std::size_t at = 16;
    int groups = 1;
    if (category <= 7) {
        groups = groupCount;
        for (int g = 0; g < groupCount; ++g)
            voice[at++] = upperKeys[static_cast<std::size_t>(g)];
        if (groupCount % 2)
            voice[at++] = 0;
    } else {
        voice[16] = 0x80; // byte 17 stays as the compile engine prepared it
        at = 18;
    }
    std::array<std::uint8_t, MSoundFile::kSampleHeaderBytes> previous {};
    for (int g = 0; g < groups; ++g) {
        for (int layer = 0; layer < groupSize; ++layer) {
            // A missing sample repeats the previous sample header.
            if (const MSoundFile* sample = SampleAt(g, layer))
                previous = sample->BuildSampleHeader(smoothing != 0);
            std::copy(
                previous.begin(), previous.end(), voice.begin() + static_cast<std::ptrdiff_t>(at));
            at += previous.size();
        }
    }
    cursor = cursor.subspan(size);
}

void MInstFileInstrument::BeginCompile(ProgressView&)
{
    walk = {};
    walkDone = groupCount == 0;
    currentSample = nullptr;
}

int MInstFileInstrument::CompileChunk(
    ProgressView& progress, std::uint32_t& count, std::span<std::uint8_t> buffer)
{
    if (!currentSample) {
        // Missing samples and samples an earlier layer already gave are passed over.
        while (!walkDone) {
            MSoundFile* sample = SampleAt(walk.group, walk.layer);
            if (sample && !SeenBefore(walk)) {
                currentSample = sample;
                currentSample->BeginCompile(progress);
                count = 0;
                return 0;
            }
            walkDone = !AdvanceGroup(walk);
        }
        count = 0;
        return 1;
    }
    const int result = currentSample->CompileChunk(progress, count, buffer);
    if (result != 1)
        return result;
    currentSample = nullptr;
    walkDone = !AdvanceGroup(walk);
    while (!walkDone && (!SampleAt(walk.group, walk.layer) || SeenBefore(walk)))
        walkDone = !AdvanceGroup(walk);
    return walkDone ? 1 : 0;
}

bool MInstFileInstrument::Deactivate()
{
    for (MSoundFile* sample : Samples()) {
        sample->Deactivate();
    }
    UpdateCompiledSize();
    return true;
}

void MInstFileInstrument::Activate()
{
    for (MSoundFile* sample : Samples())
        sample->Activate();
    UpdateCompiledSize();
}

void MInstFileInstrument::SetChannel(std::uint16_t value)
{
    if (!isStereo || value == channel)
        return;
    channel = value;
    for (MSoundFile* sample : Samples())
        sample->SetChannel(value);
    UpdateCompiledSize();
}

bool MInstFileInstrument::RestoreFromRecord(const ByteReader& record)
{
    if (!MInstFile::RestoreFromRecord(record))
        return false;
    if (record.U8At(388) == groupCount) {
        if (const auto keys = record.SubAt(392, 128))
            std::copy(keys->Data().begin(), keys->Data().end(), upperKeys.begin());
    }
    if (record.U16At(520, Endian::Big) != loadedCount)
        return true;
    const auto samples = Samples();
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto bytes = record.SubAt(522 + SampleRecord::kSize * i, SampleRecord::kSize);
        if (!bytes)
            return false;
        const auto stored = SampleRecord::Read(*bytes);
        samples[i]->SetSmoothing(stored->smoothing);
        if (!samples[i]->SetParams(stored->params))
            return false;
        NoteSampleChanges(*samples[i]);
    }
    TellSampleChanges(
        "In the project file's settings of the instrument file '" + GetFileName() + "', ");
    UpdateCompiledSize();
    return true;
}

void MInstFileInstrument::NoteSampleChanges(MSoundFile& sample)
{
    for (std::string& change : sample.TakeValueChanges())
        sampleChanges.emplace_back(sample.GetFileName(), std::move(change));
}

void MInstFileInstrument::TellLoadChanges(const std::string& where)
{
    if (services.TellsFileChanges())
        TellSampleChanges(where);
    else
        sampleChanges.clear();
}

void MInstFileInstrument::TellSampleChanges(const std::string& where)
{
    std::vector<std::string> sentences;
    for (const auto& [name, change] : sampleChanges)
        sentences.push_back(
            (sentences.empty() ? where + "the sample '" : "The sample '") + name + "' " + change);
    sampleChanges.clear();
    TellValueChanges(services.prompter, sentences);
}

std::int16_t MInstFileInstrument::AverageKeySpan() const
{
    if (groupCount <= 1)
        return 128;
    if (groupCount == 2)
        return 64;
    int sum = 0;
    for (int i = 1; i <= groupCount - 2; ++i)
        sum += upperKeys[static_cast<std::size_t>(i)] - upperKeys[static_cast<std::size_t>(i - 1)];
    return static_cast<std::int16_t>(sum / (groupCount - 2));
}

std::array<std::uint8_t, MInstFileInstrument::kMaxGroups> MInstFileInstrument::KeyWidths() const
{
    std::array<std::uint8_t, kMaxGroups> widths {};
    const int n = std::min<int>(groupCount, kMaxGroups);
    if (n <= 1) {
        widths[0] = 128;
        return widths;
    }
    if (n == 2) {
        widths[0] = static_cast<std::uint8_t>(upperKeys[0] + 1);
        widths[1] = static_cast<std::uint8_t>(128 - widths[0]);
        return widths;
    }
    const int span = AverageKeySpan();
    int previous = std::clamp(upperKeys[0] - span, 0, 35);
    for (int i = 0; i <= n - 2; ++i) {
        widths[static_cast<std::size_t>(i)]
            = static_cast<std::uint8_t>(upperKeys[static_cast<std::size_t>(i)] - previous);
        previous = upperKeys[static_cast<std::size_t>(i)];
    }
    const int last = upperKeys[static_cast<std::size_t>(n - 2)];
    widths[static_cast<std::size_t>(n - 1)] = static_cast<std::uint8_t>(
        span + last < 96 ? 96 - last : std::min(span + last, 127) - last);
    return widths;
}

void MInstFileInstrument::BeginLoad()
{
    isLoading = true;
    services.Progress().SetPhase("Opening Instrument File:  ", GetFileName());
    SetShortName(GetFileName());
    if (services.locator)
        services.locator->NoteLoaded(GetPath());
    walk = {};
}

void MInstFileInstrument::Adopt(std::unique_ptr<MSoundFile> sound, Position at)
{
    sampleIds[static_cast<std::size_t>(at.group)][static_cast<std::size_t>(at.layer)]
        = sound->GetId();
    owned.push_back(std::move(sound));
    ++loadedCount;
}

std::unique_ptr<MSoundFile> MInstFileInstrument::LocateSample(
    const FileRecord& record, FileLocator::Status& status)
{
    const MSoundFileDispatcher sounds(services);
    // Without the application's locator the instrument's own folder is the one place to look.
    MissingFileLocator plain(services.prompter, nullptr);
    plain.RememberFolderOf(GetPath());
    FileLocator::Result located
        = (services.locator ? *services.locator : plain).Locate(record, sounds, true);
    status = located.status;
    auto* sound = dynamic_cast<MSoundFile*>(located.file.get());
    if (status != FileLocator::Status::Found || !sound)
        return nullptr;
    located.file.release();
    std::unique_ptr<MSoundFile> owned(sound);
    owned->CloseStream();
    return owned;
}

void MInstFileInstrument::CopyInstrumentFrom(const MInstFileInstrument& source)
{
    CopyInstFrom(source);
    upperKeys = source.upperKeys;
    groupTable = source.groupTable;
}

bool MInstFileInstrument::CopyFrom(const MInstFileInstrument& source)
{
    if (!source.isLoaded)
        return false;
    CopyInstrumentFrom(source);
    Position at;
    do {
        const std::uint32_t id = source.sampleIds[static_cast<std::size_t>(at.group)]
                                                 [static_cast<std::size_t>(at.layer)];
        MSoundFile* sample = source.SampleAt(at.group, at.layer);
        if (!sample)
            continue;
        // A sound that fills several layers is copied once.
        bool done = false;
        for (Position earlier; !(earlier.group == at.group && earlier.layer == at.layer);
             AdvanceGroup(earlier)) {
            if (source.sampleIds[static_cast<std::size_t>(earlier.group)]
                                [static_cast<std::size_t>(earlier.layer)]
                == id) {
                sampleIds[static_cast<std::size_t>(at.group)][static_cast<std::size_t>(at.layer)]
                    = sampleIds[static_cast<std::size_t>(earlier.group)]
                               [static_cast<std::size_t>(earlier.layer)];
                done = true;
                break;
            }
        }
        if (done)
            continue;
        auto copy = sample->Duplicate();
        auto* sound = dynamic_cast<MSoundFile*>(copy.get());
        if (!sound)
            return false;
        copy.release();
        Adopt(std::unique_ptr<MSoundFile>(sound), at);
    } while (AdvanceGroup(at));
    isLoaded = true;
    UpdateCompiledSize();
    return true;
}

} // namespace cardmill
