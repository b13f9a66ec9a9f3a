#include "model/sound/MSoundFile.h"

#include "model/APrefs.h"
#include "model/FileLocator.h"
#include "model/Services.h"
#include "model/TextFields.h"
#include "model/instrument/InstrumentLibrary.h"
#include "model/sound/SampleRecord.h"
#include "platform/ProgressView.h"
#include "platform/Prompter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <span>
#include <vector>

namespace cardmill {

MSoundFile* MSoundFileArray::Find(std::uint32_t id) const
{
    if (id == 0)
        return nullptr;
    for (MSoundFile* sound : sounds)
        if (sound->GetId() == id)
            return sound;
    return nullptr;
}

std::uint8_t VolumeByte(float volumeDb)
{
    const double linear = 255.0 * std::pow(10.0, static_cast<double>(volumeDb) / 20.0);
    double value = std::trunc(linear);
    if (!(value > 0.0)) // also minus infinity dB and NaN
        value = 0.0;
    value = std::min(value, 255.0);
    return static_cast<std::uint8_t>(static_cast<unsigned>(value) & ~3u);
}

float VolumeFromByte(unsigned volumeByte)
{
    return static_cast<float>(20.0 * std::log10(static_cast<double>(volumeByte) / 252.0));
}

// ---------------------------------------------------------------------------------------------

MSoundFile::MSoundFile(Services& sharedServices)
    : MInstFile(sharedServices)
{
    groupCount = 1;
    groupSize = 1;
}

MSoundFile::~MSoundFile()
{
    UnloadPreview();
    inactive = true;
    Unshare();
    services.sounds.Remove(this);
}

bool MSoundFile::OpenSound(const std::string& path)
{
    if (!SetFile(path))
        return false;
    isRaw = true;
    frameCount = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(fileSize / (channelCount * bytesPerSample), UINT32_MAX));
    return true;
}

bool MSoundFile::FormatUsable() const
{
    return (channelCount == 1 || channelCount == 2) && bytesPerSample >= 1 && bytesPerSample <= 4
        && std::isfinite(sampleRate) && sampleRate >= 1.0f;
}

void MSoundFile::LimitFramesToFile()
{
    const std::uint64_t frameBytes = std::uint64_t { channelCount } * bytesPerSample;
    const std::uint64_t held = dataOffset <= fileSize ? (fileSize - dataOffset) / frameBytes : 0;
    frameCount = static_cast<std::uint32_t>(std::min<std::uint64_t>(frameCount, held));
}

void TellValueChanges(Prompter& prompter, const std::vector<std::string>& sentences)
{
    if (sentences.empty())
        return;
    std::string text;
    for (const std::string& sentence : sentences)
        text += (text.empty() ? "" : "  ") + sentence + ".";
    prompter.Show(text, Icon::Warning, Buttons::Ok);
}

namespace {

std::string RootKeyChange(std::uint32_t given)
{
    return Format(
        "gives the root key %u; it is used as %u", given, unsigned { MSoundFile::kHighestKey });
}

/// The last frame of the data, where a loop that runs past it is cut.
std::uint32_t LastFrame(std::uint32_t frames)
{
    return frames > 0 ? frames - 1 : 0;
}

/// A loop that ends past the data, cut: its new end, or nothing when no loop is left.
std::optional<std::uint32_t> CutLoop(
    std::uint32_t start, std::uint32_t end, std::uint32_t frames, std::string& change)
{
    if (start < LastFrame(frames)) {
        change = Format("says its loop ends at frame %u, past its %u frames; the loop is cut to "
                        "end at frame %u",
            end, frames, LastFrame(frames));
        return LastFrame(frames);
    }
    change = Format("says its loop runs from frame %u to frame %u, past its %u frames; it is "
                    "played without that loop",
        start, end, frames);
    return std::nullopt;
}

} // namespace

void MSoundFile::NoteValueChange(std::string change, bool first)
{
    for (const auto* list : { &valueChanges, &takenValueChanges })
        if (std::find(list->begin(), list->end(), change) != list->end())
            return;
    valueChanges.insert(first ? valueChanges.begin() : valueChanges.end(), std::move(change));
}

std::vector<std::string> MSoundFile::TakeValueChanges()
{
    std::vector<std::string> taken = std::move(valueChanges);
    valueChanges.clear();
    takenValueChanges.insert(takenValueChanges.end(), taken.begin(), taken.end());
    return taken;
}

void MSoundFile::TellOwnChanges(const std::string& subject)
{
    std::vector<std::string> sentences;
    for (const std::string& change : TakeValueChanges())
        sentences.push_back((sentences.empty() ? subject : "It ") + change);
    TellValueChanges(services.prompter, sentences);
}

void MSoundFile::FinishHeader()
{
    DropWholeFileLoops();
    LimitLoopsToData();
    FindStartMarker();
}

void MSoundFile::LimitLoopsToData()
{
    // An end at frameCount itself is where this class ends a loop over the whole data.
    for (int i = 0; i < loopCount && i < kMaxLoops; ++i) {
        SoundLoop& loop = loops[static_cast<std::size_t>(i)];
        if (!loop.valid || loop.end <= frameCount)
            continue;
        std::string change;
        const auto end = CutLoop(loop.start, loop.end, frameCount, change);
        loop.valid = end.has_value();
        loop.end = end.value_or(loop.end);
        NoteValueChange(std::move(change));
    }
}

void MSoundFile::SetLoopEntry(
    int index, std::uint32_t start, std::uint32_t end, bool valid, bool alternating)
{
    if (index < 0 || index >= kMaxLoops)
        return;
    // A loop whose end does not lie after its start would make the card data size wrap around.
    loops[static_cast<std::size_t>(index)] = { start, end, valid && end > start, alternating };
}

std::string MSoundFile::GetInfoLine1() const
{
    std::string text;
    if (bytesPerSample >= 1 && bytesPerSample <= 3)
        text = Format("%d-bit ", 8 * bytesPerSample);
    if (channelCount == 1)
        text += "Mono";
    else if (channelCount == 2)
        text += "Stereo";
    return text;
}

std::string MSoundFile::GetInfoLine2() const
{
    // Under ten seconds a tenth tells short sounds apart (a 0.3 s hit is no "0 Seconds").
    const double seconds = frameCount / static_cast<double>(sampleRate);
    if (seconds < 9.95)
        return Format("%.1f Seconds", seconds);
    return Format("%.0f Seconds", seconds);
}

std::string MSoundFile::GetInfoLine3() const
{
    return Format("%d Hz", static_cast<int>(sampleRate));
}

int MSoundFile::LoadStep()
{
    services.Progress().SetPhase("Opening Sound File:  ", GetFileName());
    SetShortName(GetFileName());
    return ApplyDefaults() ? 1 : -1;
}

bool MSoundFile::ApplyDefaults()
{
    int first = -1;
    int second = -1;
    SampleParams defaults;
    if (ChooseLoops(first, second) > 0) {
        defaults.looping = 1;
        defaults.loopStart = loops[static_cast<std::size_t>(first)].start;
        defaults.loopEnd = loops[static_cast<std::size_t>(first)].end;
    }
    if (startMarkerFrame > 0) {
        smoothing = 1;
        hasStartOffset = true;
    }
    if (channelCount > 1)
        isStereo = true;
    if (fileRootKey > kHighestKey)
        NoteValueChange(RootKeyChange(fileRootKey), true); // before the loops the header cut
    defaults.rootKey
        = static_cast<std::uint16_t>(std::min<std::uint32_t>(fileRootKey, kHighestKey));
    defaults.fineTune = static_cast<std::int16_t>(fileFineTune);
    defaults.paramByte2 = 0;
    defaults.channel = 0;
    defaults.volume = fileGain;
    defaults.startFrame = startMarkerFrame;
    if (!SetParams(defaults))
        return false;
    if (services.TellsFileChanges())
        TellOwnChanges("The sound file '" + GetFileName() + "' ");
    else
        TakeValueChanges();
    Register();
    if (services.locator)
        services.locator->NoteLoaded(GetPath());
    return true;
}

int MSoundFile::ChooseLoops(int& first, int& second) const
{
    first = -1;
    second = -1;
    int count = 0;
    for (int i = 0; i < kMaxLoops && i < loopCount; i += 2) {
        const SoundLoop& loop = loops[static_cast<std::size_t>(i)];
        if (!loop.valid)
            continue;
        ++count;
        if (first < 0 || loop.start < loops[static_cast<std::size_t>(first)].start) {
            second = first;
            first = i;
        } else if (second < 0 || loop.start < loops[static_cast<std::size_t>(second)].start) {
            second = i;
        }
    }
    if (count < 2)
        second = -1;
    return std::min(count, 2);
}

bool MSoundFile::GetLoop(SoundLoop& out, int index) const
{
    if (index < 0 || index >= loopCount || index >= kMaxLoops)
        return false;
    out = loops[static_cast<std::size_t>(index)];
    return true;
}

SampleParams MSoundFile::Settle(SampleParams next, std::uint32_t frameCount,
    std::vector<std::string>* changes, bool* wholeFileLoop)
{
    const auto note = [changes](std::string change) {
        if (changes)
            changes->push_back(std::move(change));
    };
    if (next.rootKey > kHighestKey) {
        note(RootKeyChange(next.rootKey));
        next.rootKey = kHighestKey;
    }
    if (next.looping && next.loopEnd > frameCount) {
        std::string change;
        const auto end = CutLoop(next.loopStart, next.loopEnd, frameCount, change);
        next.looping = end ? next.looping : 0;
        next.loopEnd = end.value_or(next.loopEnd);
        note(std::move(change));
    }
    // A loop whose end does not lie after its start is no loop (a damaged record).
    if (next.looping && next.loopEnd <= next.loopStart)
        next.looping = 0;
    std::uint64_t loopStart = next.loopStart;
    if (!next.looping) {
        // A sound without a loop ends in a loop over 8 silent frames past its end.
        loopStart = std::uint64_t { frameCount } + 1;
        next.loopStart = static_cast<std::uint32_t>(loopStart);
        next.loopEnd
            = static_cast<std::uint32_t>(std::min<std::uint64_t>(loopStart + 8, UINT32_MAX));
    }
    // A loop start past the card's reach: only a loop over the whole file describes the sound.
    if (loopStart > kLoopStartLimit) {
        if (wholeFileLoop)
            *wholeFileLoop = true;
        next.looping = 1;
        next.loopStart = 0;
        next.loopEnd = frameCount;
    }
    if (next.startFrame > frameCount)
        next.startFrame = 0;
    // The card plays a start after the loop start (its sample header flags it), but not one
    // after the loop end, where the sound would run backwards into its loop.
    if (next.startFrame > next.loopEnd) {
        note(Format("says it starts at frame %u, after its loop end at frame %u; it starts at its "
                    "loop start, frame %u",
            next.startFrame, next.loopEnd, next.loopStart));
        next.startFrame = next.loopStart;
    }
    return next;
}

bool MSoundFile::SetParams(const SampleParams& record)
{
    std::vector<std::string> changes;
    bool wholeFileLoop = false;
    const SampleParams next = Settle(record, frameCount, &changes, &wholeFileLoop);
    if (wholeFileLoop && !services.projectLoading) {
        const std::string question = "The sound file " + GetFileName()
            + " is too long to be non-looping or contains a loop start out of range.\n\n"
              "You can still use this file in the project if you choose to set a default loop of "
              "the entire file.";
        if (services.prompter.Show(question, Icon::Warning, Buttons::OkCancel) != Answer::Ok)
            return false;
    }
    for (std::string& change : changes)
        NoteValueChange(std::move(change));
    const std::uint32_t oldFirst = firstUsedFrame;
    const std::uint32_t oldEnd = params.loopEnd;
    firstUsedFrame = std::min(next.startFrame, next.loopStart);
    const std::uint16_t oldChannel = params.channel;
    params = next;
    params.channel = oldChannel;
    // The card data must cover the new start and loop: a registered sound re-shares its data.
    if (soundId != 0 && (firstUsedFrame != oldFirst || params.loopEnd != oldEnd)) {
        Unshare();
        ShareData();
        UpdateCompiledSize();
    }
    SetStartFrame(next.startFrame);
    SetChannel(next.channel);
    return true;
}

bool MSoundFile::SetStartFrame(std::uint32_t frame)
{
    const std::uint32_t highest = frameCount > params.loopEnd ? params.loopStart : frameCount;
    if (frame > highest)
        return false;
    params.startFrame = frame;
    startMarkerFrame = frame;
    const std::uint32_t oldFirst = firstUsedFrame;
    firstUsedFrame = std::min(frame, params.loopStart);
    if (frame != 0) {
        smoothing = 1;
        hasStartOffset = true;
    }
    if (firstUsedFrame != oldFirst) {
        Unshare();
        ShareData();
        UpdateCompiledSize();
    }
    return true;
}

bool MSoundFile::SetRootKey(std::uint16_t key)
{
    if (key > 127)
        return false;
    params.rootKey = key;
    return true;
}

bool MSoundFile::SetVolumeByte(unsigned volumeByte)
{
    if (volumeByte > 252)
        return false;
    params.volume = VolumeFromByte(volumeByte);
    return true;
}

bool MSoundFile::SetLoop(bool looping, std::uint32_t loopStart)
{
    SampleParams next = params;
    next.looping = looping ? 1 : 0;
    next.loopStart = loopStart;
    // A sound that had no loop ends in 8 silent frames past its data; a loop switched on ends
    // with the data instead, so that it does not play the silence.
    if (looping && !params.looping)
        next.loopEnd = frameCount;
    return SetParams(next);
}

void MSoundFile::SetChannel(std::uint16_t value)
{
    if (channelCount < 2 || value > 2 || value == channel)
        return;
    Unshare();
    channel = value;
    params.channel = value;
    ShareData();
    UpdateCompiledSize();
}

bool MSoundFile::RestoreFromRecord(const ByteReader& record)
{
    if (!MInstFile::RestoreFromRecord(record))
        return false;
    const auto count = record.U16At(520, Endian::Big);
    const auto bytes = record.SubAt(522, SampleRecord::kSize);
    if (!count || *count < 1 || !bytes)
        return true;
    const auto stored = SampleRecord::Read(*bytes);
    SetSmoothing(stored->smoothing);
    if (!SetParams(stored->params))
        return false;
    TellOwnChanges("In the project file's settings, the sound file '" + GetFileName() + "' ");
    return true;
}

SoundIdentity MSoundFile::Identity() const
{
    const LibraryPath place = SplitLibraryPath(GetPath());
    return { AbsolutePath(place.file), place.sample };
}

// ---------------------------------------------------------------------------------------------
// Sharing

void MSoundFile::BuildShareKey()
{
    std::string name = GetFileName();
    if (const auto mark = name.find_last_of('\xA5'); mark != std::string::npos)
        name.resize(mark);
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    shareKey = UpperAscii(name);
}

void MSoundFile::ResetOwnSpan()
{
    spanFirst = firstUsedFrame;
    spanLast = params.loopEnd;
}

void MSoundFile::WidenSpan(const MSoundFile& sharer)
{
    spanFirst = std::min(spanFirst, sharer.firstUsedFrame);
    spanLast = std::max(spanLast, sharer.params.loopEnd);
}

void MSoundFile::Register()
{
    if (soundId != 0) {
        Unshare();
        services.sounds.Remove(this);
    }
    soundId = services.sounds.NextId();
    ResetOwnSpan();
    BuildShareKey();
    ShareData();
    services.sounds.Add(this);
}

bool MSoundFile::ShareData()
{
    const APrefs& prefs = services.prefs;
    if (!prefs.allowPhantoms || inactive || soundId == 0)
        return sharedWith != 0;
    // A library's sample is in its library's folder, whatever its key says.
    const auto folderOf
        = [](const MSoundFile& sound) { return FolderOf(SplitLibraryPath(sound.GetPath()).file); };
    const std::string folder = folderOf(*this);
    for (MSoundFile* other : services.sounds.All()) {
        if (other == this || other->soundId == soundId || other->inactive || other->sharedWith != 0
            || other->shareKey != shareKey || other->channel != channel)
            continue;
        if (!prefs.allowPhantomsInAnyFolder && folderOf(*other) != folder)
            continue;
        // Files that only share a name (kick.wav of two drum kits) must not play each other:
        // the same name, format and length, and the same bytes.
        if (other->channelCount != channelCount || other->bytesPerSample != bytesPerSample
            || other->sampleRate != sampleRate || other->frameCount != frameCount
            || other->isUnsigned8 != isUnsigned8 || other->littleEndian != littleEndian)
            continue;
        const auto hash = SampleDataHash();
        if (!hash || other->SampleDataHash() != hash)
            continue;
        sharedWith = other->soundId;
        other->WidenSpan(*this);
        return true;
    }
    return sharedWith != 0;
}

SampleFormat MSoundFile::DataFormat() const
{
    SampleFormat format;
    format.bytesPerSample = bytesPerSample;
    format.channelCount = channelCount;
    format.littleEndian = littleEndian;
    format.unsigned8 = isUnsigned8;
    format.channel = params.channel;
    return format;
}

std::unique_ptr<ByteStream> MSoundFile::OpenSampleData() const
{
    auto stream = OpenSecondStream();
    if (!stream || !stream->Seek(dataOffset))
        return nullptr;
    return stream;
}

std::optional<std::uint64_t> MSoundFile::SampleDataHash() const
{
    if (dataHash)
        return *dataHash;
    dataHash = std::optional<std::uint64_t>();
    auto stream = OpenSecondStream();
    if (!stream || !stream->Seek(dataOffset))
        return std::nullopt;
    Digester digest;
    std::uint64_t left = std::uint64_t { frameCount } * bytesPerSample * channelCount;
    std::vector<std::uint8_t> buffer(std::size_t { 1 } << 16);
    while (left > 0) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
        const std::size_t got = stream->Read(std::span(buffer).first(want));
        if (got != want)
            return std::nullopt;
        digest.Add(std::span(buffer).first(got));
        left -= got;
    }
    stream->Close();
    const std::uint64_t hash = digest.Finish();
    dataHash = hash;
    return hash;
}

void MSoundFile::Unshare()
{
    ResetOwnSpan();
    sharedWith = 0;
    // A sound that was never registered shares nothing and nobody shares it.
    if (soundId == 0)
        return;
    MSoundFile* newOwner = nullptr;
    for (MSoundFile* other : services.sounds.All()) {
        if (other == this || other->sharedWith != soundId)
            continue;
        if (!newOwner) {
            newOwner = other;
            other->sharedWith = 0;
            other->ResetOwnSpan();
        } else {
            other->sharedWith = newOwner->soundId;
            newOwner->WidenSpan(*other);
        }
    }
}

MSoundFile* MSoundFile::Owner() const
{
    return sharedWith ? services.sounds.Find(sharedWith) : nullptr;
}

bool MSoundFile::Deactivate()
{
    inactive = true;
    UnloadPreview();
    Unshare();
    UpdateCompiledSize();
    return true;
}

void MSoundFile::Activate()
{
    ResetOwnSpan();
    inactive = false;
    ShareData();
    UpdateCompiledSize();
}

// ---------------------------------------------------------------------------------------------
// Copies

bool MSoundFile::CopyTo(MSoundFile& other) const
{
    other.CopyInstFrom(*this);
    other.frameCount = frameCount;
    other.isRaw = isRaw;
    other.sampleRate = sampleRate;
    other.bytesPerSample = bytesPerSample;
    other.channelCount = channelCount;
    other.fileGain = fileGain;
    other.fileFineTune = fileFineTune;
    other.fileLowKey = fileLowKey;
    other.fileRootKey = fileRootKey;
    other.fileHighKey = fileHighKey;
    other.fileLowVelocity = fileLowVelocity;
    other.fileHighVelocity = fileHighVelocity;
    other.loopCount = loopCount;
    other.loops = loops;
    other.markerCount = markerCount;
    other.markers = markers;
    other.startMarkerFrame = startMarkerFrame;
    other.params = params;
    other.dataOffset = dataOffset;
    other.isUnsigned8 = isUnsigned8;
    other.shareKey = shareKey;
    other.dataHash = dataHash;
    other.firstUsedFrame = firstUsedFrame;
    other.spanFirst = spanFirst;
    other.spanLast = spanLast;
    other.cardAddress = cardAddress;
    // A copy starts registered but inactive: it neither shares nor is shared until activated.
    other.inactive = true;
    other.sharedWith = 0;
    other.soundId = services.sounds.NextId();
    services.sounds.Add(&other);
    return true;
}

std::unique_ptr<MReadableFile> MSoundFile::Duplicate() const
{
    auto copy = std::make_unique<MSoundFile>(services);
    CopyTo(*copy);
    return copy;
}

std::unique_ptr<MReadableFile> MSoundFile::DuplicateActive() const
{
    auto copy = Duplicate();
    if (auto* sound = dynamic_cast<MSoundFile*>(copy.get()))
        sound->inactive = false;
    return copy;
}

// ---------------------------------------------------------------------------------------------
// The card

std::uint32_t MSoundFile::GetSampleDataSize() const
{
    if (sharedWith != 0)
        return 0;
    const std::uint64_t bytes = (std::uint64_t { spanLast } - spanFirst + 8) * 2;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes, UINT32_MAX));
}

std::uint64_t MSoundFile::GetFileDataSize() const
{
    return std::uint64_t { channelCount } * bytesPerSample * frameCount;
}

bool MSoundFile::UpdateCompiledSize()
{
    const std::uint64_t size = std::uint64_t { GetSampleDataSize() } + kVoiceBytes;
    const auto next = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, UINT32_MAX));
    const bool changed = next != compiledSize;
    compiledSize = next;
    return changed;
}

std::uint64_t MSoundFile::AssignCardAddress(std::uint64_t address)
{
    if (sharedWith != 0)
        return address;
    cardAddress = address;
    return address + (std::uint64_t { spanLast } - spanFirst + 8);
}

std::array<std::uint8_t, MSoundFile::kSampleHeaderBytes> MSoundFile::BuildSampleHeader(
    bool smooth) const
{
    std::array<std::uint8_t, kSampleHeaderBytes> h {};
    const double octaves = std::log2(48000.0 / static_cast<double>(sampleRate));
    const long pitch = static_cast<long>(params.rootKey) * 256 - params.fineTune / 100
        - static_cast<long>(std::trunc(-3072.0 * octaves));
    h[0] = static_cast<std::uint8_t>(pitch >> 8);
    h[1] = static_cast<std::uint8_t>(pitch);
    h[2] = static_cast<std::uint8_t>(params.paramByte2 / 100);
    h[3] = VolumeByte(params.volume);

    std::uint32_t baseFirst = spanFirst;
    std::uint64_t baseAddress = cardAddress;
    if (const MSoundFile* owner = Owner()) {
        baseFirst = owner->spanFirst;
        baseAddress = owner->cardAddress;
    }
    const std::uint32_t start = params.startFrame;
    const std::uint32_t d
        = (params.loopStart > start ? params.loopStart - start : start - params.loopStart)
        & 0x3FFFF;
    h[3] = static_cast<std::uint8_t>(h[3] | (d >> 16));
    h[4] = static_cast<std::uint8_t>(d >> 8);
    h[5] = static_cast<std::uint8_t>(d);
    // The card keeps 24 bits of a word address.
    const auto s = static_cast<std::uint32_t>((start - baseFirst + baseAddress) & 0xFFFFFF);
    h[9] = static_cast<std::uint8_t>(s >> 16);
    h[10] = static_cast<std::uint8_t>(s >> 8);
    h[11] = static_cast<std::uint8_t>(s);
    const std::uint32_t e = (params.loopEnd - start + s) & 0xFFFFFF;
    h[6] = static_cast<std::uint8_t>(e >> 8);
    h[7] = static_cast<std::uint8_t>(e);
    h[8] = static_cast<std::uint8_t>(e >> 16);
    if (params.loopStart < start)
        h[9] |= 0x80;
    if (smooth && start > 0)
        h[8] |= 0x80;
    return h;
}

void MSoundFile::WriteVoiceHeader(std::span<std::uint8_t>& cursor, std::uint8_t b)
{
    if (cursor.size() < kVoiceBytes)
        return;
    WriteVoiceHead(cursor, b);
    cursor[16] = 0x80;
    const auto header = BuildSampleHeader(smoothing != 0);
    std::copy(header.begin(), header.end(), cursor.begin() + 18);
    cursor = cursor.subspan(kVoiceBytes);
}

void MSoundFile::BeginCompile(ProgressView& progress)
{
    progress.SetPhase("Compiling Sound File:  ", GetFileName());
    framesToRead = 0;
    zerosToWrite = 0;
    if (sharedWith != 0)
        return;
    const std::uint64_t frameBytes = std::uint64_t { channelCount } * bytesPerSample;
    const std::uint64_t words = std::uint64_t { spanLast } + 8 - spanFirst;
    const std::uint64_t inFile = frameCount > spanFirst ? frameCount - spanFirst : 0;
    framesToRead = std::min(inFile, words);
    zerosToWrite = words - framesToRead;
    converter
        = ChooseConverter({ bytesPerSample, channelCount, littleEndian, isUnsigned8, channel });
    rawAt = rawEnd = 0;
    rawFrames.resize(kReadAheadBytes);
    if (framesToRead > 0)
        Seek(dataOffset + spanFirst * frameBytes);
}

int MSoundFile::CompileChunk(ProgressView&, std::uint32_t& count, std::span<std::uint8_t> buffer)
{
    if (sharedWith != 0) {
        count = 0;
        return 1;
    }
    const std::size_t frameBytes = std::size_t { channelCount } * bytesPerSample;
    if (rawAt == rawEnd && framesToRead > 0) {
        // Frames are read in large pieces, straight past the stream's own buffer.
        const auto frames = static_cast<std::size_t>(
            std::min<std::uint64_t>(framesToRead, kReadAheadBytes / frameBytes));
        if (!converter || !Read(std::span(rawFrames).first(frames * frameBytes))) {
            CloseStream();
            std::vector<std::uint8_t>().swap(rawFrames);
            ReportFailure(services.prompter,
                "Sorry, but Cardmill can't read the sound file '" + GetPath() + "'"
                    + (readError != 0 ? Format(": %s.", std::strerror(readError)) : ""));
            count = 0;
            return -1;
        }
        framesToRead -= frames;
        rawAt = 0;
        rawEnd = frames;
    }
    if (rawAt < rawEnd) {
        const auto frames = std::min<std::size_t>({ count, rawEnd - rawAt, buffer.size() / 2 });
        converter(rawFrames.data() + rawAt * frameBytes, buffer.data(), frames);
        rawAt += frames;
        count = static_cast<std::uint32_t>(frames);
        return 0;
    }
    const auto zeros = static_cast<std::size_t>(
        std::min<std::uint64_t>({ count, zerosToWrite, buffer.size() / 2 }));
    std::memset(buffer.data(), 0, zeros * 2);
    zerosToWrite -= zeros;
    count = static_cast<std::uint32_t>(zeros);
    if (zerosToWrite > 0)
        return 0;
    CloseStream();
    std::vector<std::uint8_t>().swap(rawFrames); // a project of many sounds holds none of it
    return 1;
}

bool MSoundFile::DropWholeFileLoops()
{
    bool dropped = false;
    for (int i = 0; i < loopCount && i < kMaxLoops; ++i) {
        SoundLoop& loop = loops[static_cast<std::size_t>(i)];
        if (loop.valid && loop.start == 0 && loop.end >= frameCount) {
            loop.valid = false;
            dropped = true;
        }
    }
    return dropped;
}

void MSoundFile::FindStartMarker()
{
    startMarkerFrame = 0;
    std::uint32_t frame = 0;
    if (FindMarker(frame, services.prefs.startMarker))
        startMarkerFrame = frame;
}

bool MSoundFile::FindMarker(std::uint32_t& frame, std::string_view name) const
{
    for (int i = 0; i < markerCount && i < kMaxMarkers; ++i) {
        const SoundMarker& marker = markers[static_cast<std::size_t>(i)];
        if (marker.named && EqualsIgnoringCase(marker.name, name)) {
            frame = marker.frame;
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Preview: the sound's frames as native 16-bit samples for the audio output.

bool MSoundFile::CanPreview() const
{
    std::error_code error;
    return !isRaw && std::filesystem::is_regular_file(GetPath(), error);
}

bool MSoundFile::UpdatePreview()
{
    previewLoaded = CanPreview();
    return previewLoaded;
}

void MSoundFile::UnloadPreview()
{
    if (services.player)
        services.player->Forget(this);
    EndPreview();
    previewLoaded = false;
}

bool MSoundFile::BeginPreview()
{
    EndPreview();
    if (isRaw)
        return false;
    previewStream = OpenSecondStream();
    if (!previewStream || !previewStream->Seek(dataOffset)) {
        previewStream.reset();
        return false;
    }
    previewFramesLeft = frameCount;
    return true;
}

std::size_t MSoundFile::ReadPreview(std::span<std::int16_t> samples)
{
    if (!previewStream || channelCount == 0)
        return 0;
    const std::size_t frameBytes = std::size_t { channelCount } * bytesPerSample;
    const auto frames = static_cast<std::size_t>(
        std::min<std::uint64_t>(samples.size() / channelCount, previewFramesLeft));
    previewBuffer.resize(frames * frameBytes);
    const std::size_t got = previewStream->Read(previewBuffer) / frameBytes;
    previewFramesLeft = got < frames ? 0 : previewFramesLeft - got;
    const std::size_t count = got * channelCount;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* s = previewBuffer.data() + i * bytesPerSample;
        int value;
        if (bytesPerSample == 1)
            value = (isUnsigned8 ? s[0] - 128 : static_cast<std::int8_t>(s[0])) * 256;
        else if (littleEndian)
            value = static_cast<std::int16_t>((s[bytesPerSample - 1] << 8) | s[bytesPerSample - 2]);
        else
            value = static_cast<std::int16_t>((s[0] << 8) | s[1]);
        samples[i] = static_cast<std::int16_t>(value);
    }
    return count;
}

void MSoundFile::EndPreview()
{
    if (previewStream)
        previewStream->Close();
    previewStream.reset();
    previewFramesLeft = 0;
}

} // namespace cardmill
