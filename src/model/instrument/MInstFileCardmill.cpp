#include "model/instrument/MInstFileCardmill.h"

#include "model/ASafeFile.h"
#include "model/Services.h"
#include "model/TextFields.h"
#include "model/instrument/KeyGroupEdit.h"
#include "model/sound/MSoundFile.h"
#include "model/sound/SampleRecord.h"
#include "platform/ProgressView.h"
#include "platform/Prompter.h"

#include <algorithm>

namespace cardmill {

namespace {

constexpr std::size_t kInstHead = 138; // the contents before the sample records

} // namespace

MInstFileCardmill::MInstFileCardmill(Services& services)
    : MInstFileInstrument(services)
{
    littleEndian = false;
    noPadding = true;
}

bool MInstFileCardmill::OpenInstrument(const std::string& path)
{
    const bool opened = SetFile(path) && ReadHeader();
    if (!opened)
        inst.reset();
    CloseStream();
    return opened;
}

bool MInstFileCardmill::ReadHeader()
{
    if (!FindForm(FourCC("ORCM"), FourCC("CMin")) || !CheckVersion() || !ReadInst())
        return false;
    const ByteReader contents = *ByteReader(*inst).From(8);
    groupCount = static_cast<std::uint16_t>(*contents.U8At(0) + 1);
    groupSize = static_cast<std::uint16_t>(*contents.U8At(1) + 1);
    sampleBytes = *contents.U32At(132, Endian::Big);
    storedSamples = *contents.U16At(136, Endian::Big);
    // Every count is checked against the chunk: the key table holds 128 groups, a group at most
    // three layers, and the records must all be there.
    return groupCount <= kMaxGroups && groupSize <= kMaxLayers
        && contents.Size() >= kInstHead + SampleRecord::kSize * std::size_t { storedSamples };
}

bool MInstFileCardmill::CheckVersion()
{
    const auto chunk = ReadChunk(FourCC("VERS"), 0);
    if (!chunk || chunk->size() < 10)
        return false;
    const std::uint8_t major = (*chunk)[8];
    const std::uint8_t minor = (*chunk)[9];
    return major < 3 || (major == 3 && minor < 16);
}

bool MInstFileCardmill::ReadInst()
{
    inst = ReadChunk(FourCC("INST"), 0);
    return inst && inst->size() >= 8 + kInstHead;
}

void MInstFileCardmill::ReadKeyTable()
{
    for (int g = 0; g < groupCount; ++g)
        upperKeys[static_cast<std::size_t>(g)] = (*inst)[8 + 4 + static_cast<std::size_t>(g)];
}

int MInstFileCardmill::LoadStep()
{
    if (isLoaded)
        return 1;
    if (!isLoading) {
        if (!inst)
            return -1;
        BeginLoad();
        ReadKeyTable();
        const ByteReader contents = *ByteReader(*inst).From(8);
        voiceByte14 = *contents.U8At(2);
        voiceByte15 = *contents.U8At(3);
        walk = {};
    }
    if (!LoadSample(walk) && !missingSample) {
        isLoading = false;
        isLoaded = false;
        return -1;
    }
    if (AdvanceGroup(walk))
        return 0;
    isLoading = false;
    inst.reset();
    // Every sample that could not be found has been named by now: the instrument is not added.
    if (missingSample)
        return -1;
    isLoaded = true;
    TellLoadChanges("In the instrument file '" + GetFileName() + "', ");
    UpdateCompiledSize();
    return 1;
}

bool MInstFileCardmill::LoadSample(Position at)
{
    const std::size_t index
        = static_cast<std::size_t>(at.group) * groupSize + static_cast<std::size_t>(at.layer);
    if (index >= storedSamples)
        return false;
    const ByteReader contents = *ByteReader(*inst).From(8);
    const auto record = SampleRecord::Read(
        *contents.SubAt(kInstHead + SampleRecord::kSize * index, SampleRecord::kSize));
    if (!record)
        return false;
    services.Progress().SetSector("Opening Sound File:  ", record->file.name);
    FileLocator::Status status = FileLocator::Status::Skipped;
    std::unique_ptr<MSoundFile> owned = LocateSample(record->file, status);
    if (status == FileLocator::Status::Skipped) {
        // Go on, so that every missing file is named before the load fails.
        missingSample = true;
        return false;
    }
    if (!owned)
        return false;

    SampleParams params = record->params;
    params.channel = owned->ChannelCount() == 2 && !isStereo ? record->params.channel : 0;
    if (params.startFrame != 0) {
        smoothing = 1;
        hasStartOffset = true;
    }
    owned->SetSmoothing(record->smoothing);
    owned->TakeValueChanges(); // the record's loop is played, not the one the sound file gives
    if (!owned->SetParams(params))
        return false;
    NoteSampleChanges(*owned);
    owned->Register();
    Adopt(std::move(owned), at);
    return true;
}

std::unique_ptr<MReadableFile> MInstFileCardmill::Duplicate() const
{
    auto copy = std::make_unique<MInstFileCardmill>(services);
    if (!copy->CopyFrom(*this))
        return nullptr;
    return copy;
}

bool MCardmillFormatInterpreter::Recognises(const std::string& path) const
{
    MReadableFile probe(services);
    std::uint8_t head[12];
    return probe.SetFile(path) && probe.Read(head) && ByteReader(head).HasCodeAt(8, "CMin");
}

std::unique_ptr<MReadableFile> MCardmillFormatInterpreter::Create(const std::string& path) const
{
    auto instrument = std::make_unique<MInstFileCardmill>(services);
    if (!instrument->OpenInstrument(path))
        return nullptr;
    return instrument;
}

namespace {

/// The key table of a written instrument; nothing (told why) when the checks refuse it.
std::optional<std::array<std::uint8_t, MInstFileInstrument::kMaxGroups>> InstrumentKeyTable(
    const std::vector<std::unique_ptr<MSoundFile>>& sounds, const InstrumentKeys& keys,
    Prompter& prompter)
{
    const int n = static_cast<int>(sounds.size());
    std::array<std::uint8_t, MInstFileInstrument::kMaxGroups> packed {};
    for (int k = 0; k < n; ++k)
        packed[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(128 - n + k);
    if (keys.layout == InstrumentKeys::Layout::Packed)
        return packed;
    std::vector<int> upper = keys.upperKeys;
    if (keys.layout == InstrumentKeys::Layout::HalfWay) {
        upper.clear();
        for (std::size_t i = 1; i < sounds.size(); ++i) {
            const MSoundFile& sound = *sounds[i];
            const MSoundFile& before = *sounds[i - 1];
            if (sound.GetRootKey() <= before.GetRootKey()) {
                ReportFailure(prompter,
                    "The keyboard is split half-way between the sounds' root keys, which must "
                    "rise from sound to sound, but '"
                        + sound.GetFileName() + "' (root " + std::to_string(sound.GetRootKey())
                        + ") follows '" + before.GetFileName() + "' (root "
                        + std::to_string(before.GetRootKey())
                        + ").  Name the sounds from the lowest root up, or give each sound's upper "
                          "key.");
                return std::nullopt;
            }
        }
        for (int g = 0; g + 1 < n; ++g)
            upper.push_back((sounds[static_cast<std::size_t>(g)]->GetRootKey()
                                + sounds[static_cast<std::size_t>(g + 1)]->GetRootKey())
                / 2);
        upper.push_back(KeyGroupEdit::kHighestKey);
    }
    if (upper.size() != sounds.size()) {
        ReportFailure(prompter, "The instrument needs one upper key for each of its samples.");
        return std::nullopt;
    }
    // The groups are set from the lowest up, each through the voice dialog's checks; starting
    // from the packed table, a rising list ending at 127 never pushes a later group.
    KeyGroupEdit edit(packed.data(), n);
    for (int g = 0; g < n; ++g)
        if (edit.Apply(g, edit.Lower(g), upper[static_cast<std::size_t>(g)], prompter)
            == KeyGroupEdit::Outcome::Refused)
            return std::nullopt;
    auto table = edit.Keys();
    std::fill(table.begin() + n, table.end(), std::uint8_t { 0 });
    return table;
}

/// `ByRoot`: the sounds sorted by root key for `HalfWay`, or, when two share a root, left in
/// their order to share the keyboard evenly, as the user is told.
InstrumentKeys OrderByRoot(std::vector<std::unique_ptr<MSoundFile>>& sounds, Prompter& prompter)
{
    std::vector<std::size_t> order(sounds.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return sounds[a]->GetRootKey() < sounds[b]->GetRootKey();
    });
    InstrumentKeys keys;
    for (std::size_t i = 1; i < order.size(); ++i) {
        const MSoundFile& before = *sounds[order[i - 1]];
        const MSoundFile& sound = *sounds[order[i]];
        if (sound.GetRootKey() != before.GetRootKey())
            continue;
        const auto n = static_cast<int>(sounds.size());
        for (int g = 0; g < n; ++g)
            keys.upperKeys.push_back((g + 1) * (KeyGroupEdit::kHighestKey + 1) / n - 1);
        keys.layout = InstrumentKeys::Layout::Given;
        prompter.Show("'" + before.GetFileName() + "' and '" + sound.GetFileName()
                + "' have the same root key, " + KeyName(sound.GetRootKey())
                + ", so the keyboard can't be split between the samples' root keys.  The "
                + std::to_string(n)
                + " samples share it evenly instead, in the order they were chosen; Voice Info "
                  "changes their key groups.",
            Icon::Information, Buttons::Ok);
        return keys;
    }
    std::vector<std::unique_ptr<MSoundFile>> sorted;
    for (const std::size_t i : order)
        sorted.push_back(std::move(sounds[i]));
    sounds = std::move(sorted);
    keys.layout = InstrumentKeys::Layout::HalfWay;
    return keys;
}

} // namespace

namespace {

ByteWriter InstrumentBytes(
    const InstrumentShape& shape, std::span<const SampleRecord> records, std::uint64_t dataBytes)
{
    const auto n = static_cast<std::uint32_t>(records.size());
    ByteWriter out;
    out.Append("ORCM").U32(0, Endian::Big).Append("CMin");
    out.Append("VERS").U32(2, Endian::Big).U8(3).U8(0);
    out.Append("INST").U32(
        static_cast<std::uint32_t>(kInstHead + SampleRecord::kSize * n), Endian::Big);
    out.U8(static_cast<std::uint8_t>(shape.groupCount - 1))
        .U8(static_cast<std::uint8_t>(shape.groupSize - 1))
        .U8(static_cast<std::uint8_t>(shape.voiceByte14))
        .U8(static_cast<std::uint8_t>(shape.voiceByte15));
    out.Append(shape.upperKeys);
    out.U32(
        static_cast<std::uint32_t>(std::min<std::uint64_t>(dataBytes, UINT32_MAX)), Endian::Big);
    out.U16(static_cast<std::uint16_t>(n), Endian::Big);
    for (const SampleRecord& record : records)
        record.Write(out);
    return out;
}

ByteWriter InstrumentBytes(const InstrumentShape& shape, std::span<const MSoundFile* const> samples)
{
    std::vector<SampleRecord> records;
    std::uint64_t total = 0;
    for (const MSoundFile* sound : samples) {
        total += sound->GetFileDataSize();
        records.push_back(SampleRecord::Of(*sound));
    }
    return InstrumentBytes(shape, records, total);
}

} // namespace

std::vector<std::uint8_t> InstrumentFileBytes(
    const MInstFileInstrument& layout, std::span<const MSoundFile* const> samples)
{
    InstrumentShape shape;
    shape.groupCount = layout.GroupCount();
    shape.groupSize = layout.GroupSize();
    shape.voiceByte14 = layout.VoiceByte14();
    shape.voiceByte15 = layout.VoiceByte15();
    std::copy_n(layout.UpperKeys(), shape.upperKeys.size(), shape.upperKeys.begin());
    return InstrumentBytes(shape, samples).Take();
}

std::vector<std::uint8_t> InstrumentFileBytes(
    const InstrumentShape& shape, std::span<const SampleRecord> records, std::uint64_t dataBytes)
{
    return InstrumentBytes(shape, records, dataBytes).Take();
}

bool WriteInstrumentFile(ASafeFile& writer, Prompter& prompter, const std::string& destination,
    std::vector<std::unique_ptr<MSoundFile>> sounds, const InstrumentKeys& keys)
{
    if (sounds.empty()) {
        ReportFailure(prompter, "A Cardmill Instrument file must contain at least one sample.");
        return false;
    }
    if (sounds.size() > MInstFileInstrument::kMaxGroups) {
        ReportFailure(prompter, "A Cardmill Instrument file can hold at most 128 samples.");
        return false;
    }
    for (const auto& sound : sounds) {
        if (!sound->Record().Storable()) {
            ReportFailure(prompter,
                "The instrument can't be written because the path of the sound file '"
                    + sound->GetPath()
                    + "' is longer than 255 characters, more than an instrument file can "
                      "store.  Move the file to a shorter path.");
            return false;
        }
    }

    // The defaults first: the root keys they set may place the key groups.
    for (auto& sound : sounds)
        if (!sound->ApplyDefaults())
            return false;
    const auto table = InstrumentKeyTable(sounds,
        keys.layout == InstrumentKeys::Layout::ByRoot ? OrderByRoot(sounds, prompter) : keys,
        prompter);
    if (!table)
        return false;

    std::vector<const MSoundFile*> samples;
    for (const auto& sound : sounds)
        samples.push_back(sound.get());
    InstrumentShape shape;
    shape.groupCount = static_cast<int>(sounds.size());
    shape.upperKeys = *table;
    const ByteWriter out = InstrumentBytes(shape, samples);
    sounds.clear();

    std::unique_ptr<SafeOutput> file;
    std::string backupName;
    if (!writer.CreateSafely(destination, false, file, backupName))
        return false;
    if (!file->Write(out.Bytes())) {
        writer.ReportWriteError(file.get());
        writer.AbortSafely(destination, false, file, backupName);
        return false;
    }
    return writer.CommitSafely(destination, false, file, backupName);
}

} // namespace cardmill
