#include "model/project/MProjectFile.h"

#include "model/MCardmill.h"
#include "model/MProject.h"
#include "model/MissingFileLocator.h"
#include "model/Services.h"
#include "model/TextFields.h"
#include "model/instrument/InstrumentLibrary.h"
#include "model/instrument/MInstFile.h"
#include "model/sequence/MSeqFile.h"
#include "model/sound/SampleRecord.h"
#include "platform/ProgressView.h"

namespace cardmill {

namespace {

constexpr std::size_t kChunkHead = 8;
constexpr std::size_t kGroupHead = 12;
constexpr std::size_t kItemRecord = 522;
constexpr std::size_t kSampleRecord = 392;
constexpr std::size_t kOldItemRecord = 126; // files of version 2.x, minor below 0x60
constexpr std::size_t kMiddleItemRecord = 386; // version 2.x, minor 0x60

bool IsInstrumentName(const std::string& name)
{
    return EndsWithExtension(name, ".cmt") || EndsWithExtension(name, ".ins")
        || EndsWithExtension(name, ".sc1") || EndsWithExtension(name, ".sc2")
        || EndsWithExtension(name, ".sfz") || EndsWithExtension(name, ".dspreset")
        || IsInstrumentLibrary(name);
}

/// The files of the sound groups: an instrument when the file found is one, else a sound (raw
/// sample data when no format understands it). The file is told apart once it has been found,
/// since a moved instrument can be recognised only by its contents.
class VoiceFileDispatcher final : public MReadableFileDispatcher {
public:
    VoiceFileDispatcher(Services& services, const MReadableFileDispatcher& instruments,
        const MReadableFileDispatcher& sounds, bool instrumentRecord)
        : MReadableFileDispatcher(services, instrumentRecord ? "instrument file" : "sound file")
        , inst(instruments)
        , sound(sounds)
    {
    }
    bool Recognises(const std::string& path) const override
    {
        return inst.Recognises(path) || sound.Recognises(path);
    }
    std::unique_ptr<MReadableFile> Create(const std::string& path) const override
    {
        return inst.Recognises(path) ? inst.Create(path) : sound.Create(path);
    }
    std::unique_ptr<MReadableFile> CreateRaw(const std::string& path) const override
    {
        return sound.CreateRaw(path);
    }

private:
    const MReadableFileDispatcher& inst;
    const MReadableFileDispatcher& sound;
};

/// The settings an item record keeps that differ from the item's own now: its key table and,
/// sample by sample, root key, fine tune, volume, start and loop. Empty when none differ.
std::string DescribeStoredSettings(MInstFile& voice, const ByteReader& record)
{
    std::vector<std::string> parts;
    const std::uint8_t* keys = voice.UpperKeys();
    const auto stored = record.SubAt(392, voice.GroupCount());
    if (keys && record.U8At(388) == voice.GroupCount() && stored
        && !std::equal(stored->Data().begin(), stored->Data().end(), keys)) {
        std::string list;
        for (const std::uint8_t key : stored->Data())
            list += (list.empty() ? "" : ",") + std::to_string(key);
        parts.push_back("keys " + list);
    }
    const auto samples = voice.Samples();
    const std::size_t count
        = std::min<std::size_t>(record.U16At(520, Endian::Big).value_or(0), samples.size());
    for (std::size_t i = 0; i < count; ++i) {
        const auto bytes = record.SubAt(kItemRecord + kSampleRecord * i, kSampleRecord);
        const auto kept = bytes ? SampleRecord::Read(*bytes) : std::nullopt;
        if (!kept)
            continue;
        const SampleParams& was = kept->params;
        const SampleParams& is = samples[i]->Params();
        std::vector<std::string> values;
        if (was.rootKey != is.rootKey)
            values.push_back("root key " + std::to_string(was.rootKey));
        if (was.fineTune != is.fineTune)
            values.push_back(Format("fine tune %.2f cents", was.fineTune / 256.0));
        if (VolumeByte(was.volume) != VolumeByte(is.volume))
            values.push_back("volume " + std::to_string(VolumeByte(was.volume)));
        if (was.startFrame != is.startFrame)
            values.push_back("start " + std::to_string(was.startFrame));
        if (was.looping != is.looping
            || (was.looping && (was.loopStart != is.loopStart || was.loopEnd != is.loopEnd)))
            values.push_back(was.looping ? Format("loop %u to %u", was.loopStart, was.loopEnd)
                                         : std::string("no loop"));
        if (values.empty())
            continue;
        std::string text
            = samples.size() > 1 ? "sample '" + samples[i]->GetFileName() + "': " : std::string();
        for (std::size_t v = 0; v < values.size(); ++v)
            text += (v ? ", " : "") + values[v];
        parts.push_back(text);
    }
    std::string described;
    for (const std::string& part : parts)
        described += (described.empty() ? "" : "; ") + part;
    return described;
}

} // namespace

MProjectFile::MProjectFile(Services& services)
    : MReadableFile(services)
    , ownLocator(services.prompter, nullptr)
{
    littleEndian = false; // big-endian chunk lengths
}

FileLocator& MProjectFile::Locator()
{
    return services.locator ? *services.locator : ownLocator;
}

MProjectFile::~MProjectFile()
{
    if (active) {
        services.projectLoading = false;
        services.openingProject = false;
        Locator().SetProjectMove({}, {});
    }
}

bool MProjectFile::OpenProjectFile(const std::string& path)
{
    if (!SetFile(path))
        return false;
    bool opened = FindForm(FourCC("ORCM"), FourCC("CMpj"));
    if (!opened)
        Refuse(FileSize() < 12 ? "It is cut short." : "It is not a Cardmill project.");
    if (opened && !CheckVersion())
        opened = Refuse(fileMajor == 0
                ? "It has no version (\"VERS\" chunk), or the file is cut short."
                : Format("It was saved by a later version of Cardmill (project version %u.%u).",
                    unsigned { fileMajor }, unsigned { fileMinor } >> 4));
    cutShort = opened && !ChunksWhole();
    CloseStream();
    return opened;
}

std::optional<std::vector<std::uint8_t>> MProjectFile::ReadProjectChunk(
    std::uint32_t chunkId, int index)
{
    // In a file cut short, the records before the cut are still read.
    return cutShort ? ReadChunkAsHeld(chunkId, index) : ReadChunk(chunkId, index);
}

bool MProjectFile::ChunksWhole()
{
    if (formEnd > FileSize())
        return false;
    std::uint64_t offset = formStart;
    while (offset < formEnd) {
        std::uint8_t head[8];
        if (!Seek(offset) || !Read(head))
            return false;
        const std::uint64_t length = *ByteReader(head).U32At(4, Endian::Big);
        offset += 8 + length + (length & 1);
        // The last chunk's pad byte may be missing: it holds nothing.
        if (offset - (length & 1) > formEnd)
            return false;
    }
    return true;
}

bool MProjectFile::CheckVersion()
{
    const auto chunk = ReadChunk(FourCC("VERS"), 0);
    if (!chunk || chunk->size() < kChunkHead + 2)
        return false;
    fileMajor = (*chunk)[8];
    fileMinor = (*chunk)[9] & 0xF0;
    return fileMajor < 3 || (fileMajor == 3 && fileMinor == 0);
}

int MProjectFile::LoadStep()
{
    if (completed)
        return -1;
    active = true;
    services.projectLoading = true;
    services.openingProject = true;
    int result = -1;
    switch (loadPhase) {
    case 0:
        result = BeginLoad();
        break;
    case 1:
        result = ReadCardHeader();
        break;
    case 2:
        result = SoundGroupStep();
        break;
    case 3:
        result = ListStep(Records::Sequences);
        break;
    case 4:
        result = ListStep(Records::Programs);
        break;
    default:
        break;
    }
    if (result == 1 && loadPhase == 4) {
        // A project whose files were found elsewhere has changed: a save keeps where they are.
        services.project->ClearDirty();
        if (pathsChanged)
            services.project->SetDirty();
        TellWhatWasNotAsSaved();
        completed = true;
        result = -1;
    } else if (result == 1) {
        ++loadPhase;
        listOpened = false;
        return 0;
    }
    if (result == -1) {
        active = false;
        services.projectLoading = false;
        services.openingProject = false;
        Locator().SetProjectMove({}, {});
        loading.reset();
        groupChunk.reset();
        sequenceChunk.reset();
        programChunk.reset();
        CloseStream();
    }
    return result;
}

int MProjectFile::BeginLoad()
{
    MCardmill* controller = services.controller;
    if (!controller || !services.project)
        return -1;
    services.Progress().SetPhase("Opening Project File:  ", GetFileName());
    services.Progress().SetSector("", "");
    if (!controller->AskSaveChanges())
        return -1;
    controller->Ui().ResetView();
    services.project->Reset();
    controller->SetDocumentPath(GetPath());
    Locator().TakeFoundElsewhere();
    Locator().SetProjectMove(SavedFolder(), FolderOf(AbsolutePath(GetPath())));
    if (cutShort)
        ReportDamage("it is cut short: it ends before its last part.  What can be read is loaded");
    return 1;
}

std::string MProjectFile::SavedFolder()
{
    const auto chunk = ReadProjectChunk(FourCC("HOME"), 0);
    if (!chunk)
        return {};
    const ByteReader body(*chunk);
    const auto length = body.U16At(kChunkHead, Endian::Big);
    const auto text = length ? body.SubAt(kChunkHead + 2, *length) : std::nullopt;
    if (!text)
        return {};
    return std::string(text->Data().begin(), text->Data().end());
}

void MProjectFile::TellWhatWasNotAsSaved()
{
    std::vector<std::string> lines = Locator().TakeFoundElsewhere();
    lines.insert(lines.end(), setAside.begin(), setAside.end());
    if (lines.empty())
        return;
    // The project keeps other settings than its file.
    services.project->SetDirty();
    std::string details;
    for (const std::string& line : lines)
        details += (details.empty() ? "" : "\n") + line + ".";
    services.prompter.ShowWithDetails("Some of what the project '" + GetFileName()
            + "' names is not as it was saved: " + std::to_string(lines.size())
            + (lines.size() == 1 ? " file" : " files") + " found elsewhere or changed.",
        details, Icon::Warning, Buttons::Ok);
}

int MProjectFile::ReadCardHeader()
{
    const auto chunk = ReadProjectChunk(FourCC("CHDR"), 0);
    if (!chunk)
        return 1;
    const auto body = ByteReader(*chunk).From(kChunkHead);
    if (!body || body->Size() < 22) {
        ReportDamage();
        return 1;
    }
    MProject& project = *services.project;
    project.SetCardName(ReadLengthPrefixed(*body, 0, 12));
    project.SetVersion(ReadLengthPrefixed(*body, 12, 6));
    defaultOutPort = fileMajor < 3 && (*body->U8At(18) & 2);
    project.SetCardSizeToken(static_cast<std::uint16_t>(*body->U8At(19) - 1));
    project.SetTarget(OldRecords() ? MProject::kZelta : *body->U16At(20, Endian::Big));
    return 1;
}

void MProjectFile::ReportDamage()
{
    ReportDamage("some of its records can't be read and are left out");
}

void MProjectFile::ReportDamage(const std::string& what)
{
    if (services.controller)
        services.controller->SetDocumentDamaged();
    if (damageReported)
        return;
    damageReported = true;
    ReportFailure(
        services.prompter, "The project file '" + GetFileName() + "' is damaged: " + what + ".");
}

bool MProjectFile::GroupIsFull(int group)
{
    const MProject& project = *services.project;
    const int capacity = project.GetCapacity(group);
    if (project.CountItems(group) < capacity)
        return false;
    const int leftOut = recordCount - recordIndex;
    if (services.controller)
        services.controller->SetDocumentDamaged();
    ReportFailure(services.prompter,
        Format("The project file '%s' is damaged: the group '%s' holds at most %d file%s, so %d "
               "of its records %s left out.",
            GetFileName().c_str(), project.GetGroupName(group).c_str(), capacity,
            capacity == 1 ? "" : "s", leftOut, leftOut == 1 ? "is" : "are"));
    return true;
}

int MProjectFile::Resolve(
    const FileRecord& record, const MReadableFileDispatcher& dispatcher, bool rawFallback)
{
    FileLocator::Result result = Locator().Locate(record, dispatcher, rawFallback);
    if (result.status == FileLocator::Status::Cancelled)
        return -1;
    if (result.status == FileLocator::Status::Skipped || !result.file)
        return 1;
    loading = std::move(result.file);
    // The file as the record saw it, by its date and size: its fingerprint need not be read.
    if (record.extras.fingerprint && loading->Record().modDate == record.modDate)
        RememberFingerprint(SplitLibraryPath(loading->GetPath()).file, *record.extras.fingerprint);
    pathsChanged = pathsChanged || loading->GetPath() != record.path;
    return 0;
}

int MProjectFile::LoadCurrent()
{
    const int result = loading->LoadStep();
    if (result == 0 || result == 1)
        return result;
    // The file has said why it failed; it is left out and the project goes on loading, so that
    // every file that is missing or damaged gets named in one go.
    loading.reset();
    return 2;
}

int MProjectFile::SoundGroupStep()
{
    if (loading) {
        const int result = LoadCurrent();
        return result == 1 ? AddSoundItem() : 0;
    }
    if (!groupChunk) {
        if (groupCounter > 10)
            return 1;
        groupChunk = ReadProjectChunk(FourCC("VGRP"), groupCounter);
        if (!groupChunk) {
            ++groupCounter;
            return 0;
        }
        const ByteReader chunk(*groupChunk);
        const auto count = chunk.U16At(kChunkHead + 8, Endian::Big);
        const auto group = chunk.U16At(kChunkHead + 10, Endian::Big);
        if (!count || !group || *group > 10) {
            ReportDamage();
            groupChunk.reset();
            ++groupCounter;
            return 0;
        }
        groupIndex = *group;
        services.project->SetGroupName(groupIndex, ReadLengthPrefixed(chunk, kChunkHead, 8));
        recordCount = *count;
        recordIndex = 0;
        recordCursor = kChunkHead + kGroupHead;
    }
    if (recordIndex >= recordCount || GroupIsFull(groupIndex)) {
        groupChunk.reset();
        ++groupCounter;
        return 0;
    }

    const ByteReader chunk(*groupChunk);
    std::size_t size
        = fileMajor < 3 ? (OldRecords() ? kOldItemRecord : kMiddleItemRecord) : kItemRecord;
    if (fileMajor >= 3) {
        const auto k = chunk.U16At(recordCursor + 520, Endian::Big);
        size = k ? kItemRecord + kSampleRecord * *k : 0;
    }
    const auto bytes = chunk.SubAt(recordCursor, size);
    if (size == 0 || !bytes) {
        // The records run past the chunk: the rest of the group is left out.
        ReportDamage();
        groupChunk.reset();
        ++groupCounter;
        return 0;
    }
    const auto record = OldRecords() ? FileRecord::ReadOld(*bytes) : FileRecord::ReadStored(*bytes);
    loadingRecord = recordCursor;
    loadingLength = size;
    recordCursor += size;
    ++recordIndex;
    if (!record)
        return 0;
    const bool instrument
        = IsInstrumentName(record->name.empty() ? StoredFileName(record->path) : record->name);
    const MCardmill& controller = *services.controller;
    const VoiceFileDispatcher dispatcher(
        services, controller.InstrumentDispatcher(), controller.SoundDispatcher(), instrument);
    const int resolved = Resolve(*record, dispatcher, !instrument);
    return resolved == 1 ? 0 : resolved;
}

int MProjectFile::AddSoundItem()
{
    std::unique_ptr<MReadableFile> file = std::move(loading);
    auto* voice = dynamic_cast<MInstFile*>(file.get());
    MProject& project = *services.project;
    const ByteReader record = *ByteReader(*groupChunk).SubAt(loadingRecord, loadingLength);
    if (!voice || !project.CanPlace(voice, groupIndex))
        return -1;
    voice->SetCategory(static_cast<std::int16_t>(groupIndex));
    const std::size_t shortNameAt = OldRecords() ? FileRecord::kOldSize : FileRecord::kSize;
    voice->SetShortName(ReadLengthPrefixed(record, shortNameAt, 12));
    if (fileMajor < 3) {
        voice->SetSmoothing(*record.U8At(shortNameAt + 13));
        voice->SetChannel(*record.U8At(shortNameAt + 12));
    }
    if (!project.AddItem(std::move(file)))
        return -1;
    if (fileMajor >= 3) {
        const std::uint32_t changeTime = *record.U32At(384, Endian::Big);
        const auto stored
            = OldRecords() ? FileRecord::ReadOld(record) : FileRecord::ReadStored(record);
        if (changeTime != 0 && stored) {
            if (SettingsStillApply(*voice, *stored, changeTime)) {
                voice->RestoreFromRecord(record);
            } else {
                // A file changed since its settings were edited keeps its own settings; what
                // is set aside is told.
                services.prompter.Beep();
                const std::string settings = DescribeStoredSettings(*voice, record);
                setAside.push_back("'" + voice->GetFileName()
                    + "' has changed since its settings were edited; its own are used"
                    + (settings.empty() ? std::string() : ", and these set aside: " + settings));
            }
        }
    }
    voice->UpdateCompiledSize();
    return 0;
}

bool MProjectFile::SettingsStillApply(
    const MInstFile& voice, const FileRecord& stored, std::uint32_t changeTime)
{
    const bool newer = voice.Record().modDate > changeTime;
    if (!stored.extras.fingerprint)
        return !newer;
    // A touched, copied or restored file whose bytes are the same keeps them; so does one whose
    // date is older than the settings and whose size is the same, without being read.
    const auto now = newer || voice.FileSize() != stored.extras.fingerprint->size
        ? voice.Fingerprint()
        : stored.extras.fingerprint;
    return now == stored.extras.fingerprint;
}

int MProjectFile::ListStep(Records kind)
{
    std::optional<std::vector<std::uint8_t>>& chunk
        = kind == Records::Sequences ? sequenceChunk : programChunk;
    MProject& project = *services.project;
    if (loading) {
        if (LoadCurrent() != 1)
            return 0;
        std::unique_ptr<MReadableFile> file = std::move(loading);
        const int group
            = kind == Records::Sequences ? MProject::kSequenceGroup : MProject::kProgramGroup;
        MReadableFile* added = file.get();
        if (!project.CanPlace(added, group) || !project.AddItem(std::move(file)))
            return -1;
        if (auto* sequence = dynamic_cast<MSeqFile*>(added)) {
            const auto flag
                = ByteReader(*chunk).U16At(loadingRecord + FileRecord::kSize, Endian::Big);
            sequence->SetOutPort(fileMajor < 3 ? defaultOutPort : (flag.value_or(0) & 1));
        }
        added->UpdateCompiledSize();
        return 0;
    }
    if (!listOpened) {
        listOpened = true;
        chunk = ReadProjectChunk(FourCC(kind == Records::Sequences ? "SGRP" : "PGRP"), 0);
        if (!chunk)
            return 1;
        recordCount = ByteReader(*chunk).U16At(kChunkHead, Endian::Big).value_or(0);
        recordIndex = 0;
        recordCursor = kChunkHead + 2;
    }
    const int group
        = kind == Records::Sequences ? MProject::kSequenceGroup : MProject::kProgramGroup;
    if (!chunk || recordIndex >= recordCount || GroupIsFull(group)) {
        chunk.reset();
        return 1;
    }
    std::size_t size = OldRecords() ? FileRecord::kOldSize : FileRecord::kSize;
    if (kind == Records::Sequences && fileMajor >= 3)
        size += 2;
    const auto bytes = ByteReader(*chunk).SubAt(recordCursor, size);
    if (!bytes) {
        ReportDamage();
        chunk.reset();
        return 1;
    }
    const auto record = OldRecords() ? FileRecord::ReadOld(*bytes) : FileRecord::ReadStored(*bytes);
    loadingRecord = recordCursor;
    recordCursor += size;
    ++recordIndex;
    const MCardmill& controller = *services.controller;
    const MReadableFileDispatcher& dispatcher = kind == Records::Sequences
        ? controller.SequenceDispatcher()
        : controller.BankDispatcher();
    const int resolved = Resolve(*record, dispatcher, false);
    return resolved == 1 ? 0 : resolved;
}

bool MProjFileInterpreter::Recognises(const std::string& path) const
{
    if (EndsWithExtension(path, ".cmr"))
        return true;
    // A project saved or renamed without its extension is still one: its form says so.
    MReadableFile probe(services);
    std::uint8_t head[12];
    return probe.SetFile(path) && probe.Read(head) && ByteReader(head).HasCodeAt(0, "ORCM")
        && ByteReader(head).HasCodeAt(8, "CMpj");
}

std::unique_ptr<MReadableFile> MProjFileInterpreter::Create(const std::string& path) const
{
    auto file = std::make_unique<MProjectFile>(services);
    if (!file->OpenProjectFile(path))
        return nullptr;
    return file;
}

} // namespace cardmill
