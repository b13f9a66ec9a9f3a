#include "compiler/CardUnpacker.h"

#include "model/MCardmill.h"
#include "model/MProject.h"
#include "model/MReadableFileDispatcher.h"
#include "model/MissingFileLocator.h"
#include "model/Services.h"
#include "model/TextFields.h"
#include "model/fit/WavWriter.h"
#include "model/instrument/MInstFileCardmill.h"
#include "model/sequence/MSeqFile.h"
#include "model/sound/MSoundFile.h"
#include "platform/ByteWriter.h"
#include "platform/FileLock.h"
#include "platform/FileSystem.h"
#include "platform/ProgressView.h"
#include "platform/Prompter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace cardmill {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------------------------
// Sequences

namespace {

/// 8192001 microseconds a quarter at 8192 ticks a quarter: a tick is a hair over a millisecond,
/// so the conversion closes a time record after every tick with messages, and the ticks between
/// two groups are the milliseconds of the record between them.
constexpr std::uint16_t kTicksPerQuarter = 8192;
constexpr std::uint32_t kTempo = 8192001;

void VarLength(ByteWriter& out, std::uint32_t value)
{
    std::uint8_t bytes[5];
    int n = 0;
    bytes[n++] = value & 0x7F;
    while ((value >>= 7) != 0)
        bytes[n++] = static_cast<std::uint8_t>(0x80 | (value & 0x7F));
    while (n > 0)
        out.U8(bytes[--n]);
}

struct Group {
    std::uint32_t ms = 0;
    std::vector<std::vector<std::uint8_t>> events;
};

} // namespace

std::vector<std::uint8_t> SequenceToMidiFile(
    std::span<const std::uint8_t> data, std::uint32_t& pacing, std::vector<std::string>& notExact)
{
    std::vector<Group> groups;
    std::vector<std::vector<std::uint8_t>> tail;
    bool ended = false;
    bool damaged = false;
    std::size_t at = 0;
    while (at < data.size() && !ended && !damaged) {
        if (data[at] != 0xFF || at + 3 > data.size()) {
            damaged = true;
            break;
        }
        Group group;
        group.ms = data[at + 1] | (std::uint32_t(data[at + 2]) << 8);
        at += 3;
        std::uint8_t status = 0;
        while (at < data.size() && data[at] != 0xFF) {
            const std::uint8_t b = data[at];
            if (b == 0xFE) {
                ended = true;
                break;
            }
            std::vector<std::uint8_t> event;
            if (b == 0xF0) {
                // The conversion marks every 20th SysEx byte of the program's run with FF 07 00;
                // after a closing F7 the mark can't be told from a 7 ms record but by the count.
                event.push_back(0xF0);
                ++pacing;
                ++at;
                while (at < data.size()) {
                    const std::uint8_t c = data[at];
                    if (c == 0xFF && at + 2 < data.size() && data[at + 1] == 0x07
                        && data[at + 2] == 0x00) {
                        at += 3;
                        continue;
                    }
                    if (c >= 0x80 && c != 0xF7)
                        break;
                    event.push_back(c);
                    ++at;
                    ++pacing;
                    if (c == 0xF7) {
                        if (pacing % 20 == 0 && at + 2 < data.size() && data[at] == 0xFF
                            && data[at + 1] == 0x07 && data[at + 2] == 0x00)
                            at += 3;
                        break;
                    }
                }
            } else {
                if (b >= 0x80 && b <= 0xEF) {
                    status = b;
                    ++at;
                } else if (b >= 0x80 || status == 0) {
                    damaged = true;
                    break;
                }
                const int length = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
                event.push_back(status);
                for (int i = 0; i < length; ++i) {
                    if (at >= data.size() || data[at] >= 0x80) {
                        damaged = true;
                        break;
                    }
                    event.push_back(data[at++]);
                }
            }
            group.events.push_back(std::move(event));
        }
        groups.push_back(std::move(group));
    }
    if (damaged || !ended || groups.empty())
        notExact.push_back("A sequence is damaged; what could be read of it is kept.");
    // The last record is always 1 ms, whatever time it closed: its messages, if any, come after
    // the last full millisecond.
    if (ended && groups.size() >= 2) {
        tail = std::move(groups.back().events);
        groups.pop_back();
    } else if (ended && groups.size() == 1) {
        tail = std::move(groups.back().events);
        groups.back().events.clear();
    }

    ByteWriter track;
    VarLength(track, 0);
    track.U8(0xFF).U8(0x51).U8(0x03).U8(kTempo >> 16).U8((kTempo >> 8) & 0xFF).U8(kTempo & 0xFF);
    long long tick = -1;
    long long written = 0;
    const auto putEvent = [&](const std::vector<std::uint8_t>& event) {
        if (event.front() == 0xF0) { // a SysEx event is its length, then the bytes after F0
            track.U8(0xF0);
            VarLength(track, static_cast<std::uint32_t>(event.size() - 1));
            track.Append(std::span(event).subspan(1));
        } else {
            track.Append(event);
        }
    };
    for (std::size_t i = 0; i < groups.size(); ++i) {
        tick += groups[i].ms;
        if (groups[i].events.empty() && groups[i].ms != 65534 && i + 1 < groups.size())
            notExact.push_back(
                "A sequence has a pause the conversion of a MIDI file doesn't make.");
        for (const auto& event : groups[i].events) {
            VarLength(track, static_cast<std::uint32_t>(std::max(0LL, tick - written)));
            written = std::max(written, tick);
            putEvent(event);
        }
    }
    if (!tail.empty()) {
        // A group after the last record: the clock nearly stops, so that no millisecond closes
        // before the end.
        ++tick;
        VarLength(track, static_cast<std::uint32_t>(std::max(0LL, tick - written)));
        written = tick;
        track.U8(0xFF).U8(0x51).U8(0x03).U8(0).U8(0).U8(1);
        for (const auto& event : tail) {
            VarLength(track, 0);
            putEvent(event);
        }
    }
    VarLength(track, static_cast<std::uint32_t>(std::max(0LL, tick - written)));
    track.U8(0xFF).U8(0x2F).U8(0x00);

    ByteWriter file;
    file.Append("MThd").U32(6, Endian::Big).U16(0, Endian::Big).U16(1, Endian::Big);
    file.U16(kTicksPerQuarter, Endian::Big);
    file.Append("MTrk").U32(static_cast<std::uint32_t>(track.Size()), Endian::Big);
    file.Append(track.Bytes());
    return file.Take();
}

// ---------------------------------------------------------------------------------------------
// Bank

namespace {

/// Packs bytes into 7-bit units, lowest bits first (the inverse of the bank file's unpacking).
void Pack7(ByteWriter& out, std::span<const std::uint8_t> bytes)
{
    std::uint32_t bits = 0;
    int count = 0;
    for (const std::uint8_t b : bytes) {
        bits |= std::uint32_t { b } << count;
        count += 8;
        while (count >= 7) {
            out.U8(static_cast<std::uint8_t>(bits & 0x7F));
            bits >>= 7;
            count -= 7;
        }
    }
    if (count > 0)
        out.U8(static_cast<std::uint8_t>(bits & 0x7F));
}

struct Section {
    int messages;
    std::size_t unpacked; // bytes a message holds
    std::size_t cardAt; // where its records lie in the compiled bank
    std::size_t cardRecord; // bytes of each record there
    std::size_t skip; // bytes of a message's data the card leaves out at its start
};

} // namespace

std::vector<std::uint8_t> BankToSysexFile(
    const CardBank& bank, const std::array<std::uint8_t, 3>& maker)
{
    const bool zelta = bank.family == 0x0E;
    // The sections in the capture's order: A, B, C (and for the Zelta a closing message).
    const std::vector<Section> sections = zelta
        ? std::vector<Section> { { 128, 350, 0, 349, 1 }, { 128, 65, 58472, 55, 0 },
              { 100, 138, 44672, 138, 0 }, { 1, 20, 0, 0, 0 } }
        : std::vector<Section> { { 128, 166, 0, 166, 0 }, { 64, 24, 57088, 24, 0 },
              { 64, 560, 21248, 560, 0 } };
    ByteWriter out;
    for (const Section& section : sections) {
        for (int i = 0; i < section.messages; ++i) {
            std::vector<std::uint8_t> unpacked(section.unpacked, 0);
            const std::size_t from = section.cardAt + section.cardRecord * std::size_t(i);
            for (std::size_t k = 0; k < section.cardRecord && from + k < bank.data.size(); ++k)
                unpacked[section.skip + k] = bank.data[from + k];
            out.U8(0xF0).U8(maker[0]).U8(maker[1]).U8(maker[2]);
            out.U8(static_cast<std::uint8_t>(bank.family)).U8(0).U8(0);
            Pack7(out, unpacked);
            out.U8(0xF7);
        }
    }
    if (!zelta) {
        // The capture's last 405 bytes, which no reader looks at: one message of zeros.
        out.U8(0xF0).U8(maker[0]).U8(maker[1]).U8(maker[2]).U8(0x19).U8(0).U8(0);
        for (int i = 0; i < 405 - 8; ++i)
            out.U8(0);
        out.U8(0xF7);
    }
    return out.Take();
}

// ---------------------------------------------------------------------------------------------
// Names

namespace {

/// A voice named after its file ("kick.wav") without the old file's extension.
std::string WithoutExtension(const std::string& name)
{
    const auto dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0 && name.size() - dot >= 2 && name.size() - dot <= 5
        && std::all_of(name.begin() + static_cast<std::ptrdiff_t>(dot) + 1, name.end(),
            [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }))
        return name.substr(0, dot);
    return name;
}

} // namespace

std::string SafeFileName(
    const std::string& text, const std::string& extension, std::vector<std::string>& taken)
{
    std::string base;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        base += std::isalnum(u) || c == ' ' || c == '-' || c == '_' || c == '+' || c == '('
                || c == ')' || c == ',' || c == '#' || c == '&'
            ? c
            : '_';
    }
    while (!base.empty() && (base.back() == ' ' || base.back() == '.'))
        base.pop_back();
    while (!base.empty() && (base.front() == ' ' || base.front() == '-'))
        base.erase(base.begin());
    if (base.empty())
        base = "untitled";
    const auto lower = [](std::string s) {
        std::transform(s.begin(), s.end(), s.begin(),
            [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return s;
    };
    std::string file = base + extension;
    for (int n = 2; std::find(taken.begin(), taken.end(), lower(file)) != taken.end(); ++n)
        file = base + " " + std::to_string(n) + extension;
    taken.push_back(lower(file));
    return file;
}

// ---------------------------------------------------------------------------------------------
// Unpacking

CardUnpacker::CardUnpacker(MCardmill& cardmill, ProgressView& view)
    : controller(cardmill)
    , progress(view)
{
}

bool CardUnpacker::Fail(const std::string& text)
{
    ReportFailure(controller.GetServices().prompter, text);
    return false;
}

namespace {

/// The settings of a sample as the card plays it, at its file's rate.
SampleParams ParamsOf(
    const CardSample& sample, std::uint32_t rate, std::vector<std::string>& notExact)
{
    SampleTuning tuning;
    if (!TuningAtRate(sample.pitchWord, rate, tuning)) {
        notExact.push_back(Format("A sample's pitch word 0x%04X can't be given at %u Hz.",
            unsigned { sample.pitchWord }, rate));
        tuning = TuningOfPitchWord(sample.pitchWord);
    }
    SampleParams params;
    params.rootKey = tuning.rootKey;
    params.fineTune = tuning.fineTune;
    params.paramByte2 = static_cast<std::int16_t>(sample.tuningByte * 100);
    params.volume = VolumeFromByte(sample.volumeByte);
    params.startFrame = sample.startFrame;
    params.loopStart = sample.loopStart;
    params.loopEnd = sample.loopEnd;
    params.looping = sample.looping ? 1 : 0;
    return params;
}

/// Flushes every file of a folder to disk; false (errno set) when one can't be.
bool SyncFilesIn(const std::string& folder)
{
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const int fd = ::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return false;
        const bool synced = ::fsync(fd) == 0;
        ::close(fd);
        if (!synced)
            return false;
    }
    return !error;
}

/// Settings that play the whole of a file's data: a sharer with them widens its owner's data
/// to all of it.
SampleParams Whole(SampleParams params, const CardRegion& region)
{
    params.startFrame = 0;
    params.looping = 1;
    params.loopStart = region.frames > 9 ? 1 : 0;
    params.loopEnd = region.frames > 8 ? region.frames - 8 : region.frames;
    return params;
}

/// What a sound file says of its own settings: the smpl chunk holds only a tuning upwards, so a
/// fine tune below the root is told as the next root up.
SampleParams WavSettings(SampleParams params)
{
    if (params.fineTune < 0 && params.rootKey < 127) {
        params.rootKey = static_cast<std::uint16_t>(params.rootKey + 1);
        params.fineTune = static_cast<std::int16_t>(params.fineTune + 25600);
    }
    return params;
}

} // namespace

bool CardUnpacker::Unpack(std::span<const std::uint8_t> image, const CardContents& card,
    const std::string& folderGiven, std::string& projectPath)
{
    Services& services = controller.GetServices();
    std::vector<std::string> notExact = card.notExact;
    finalFolder = AbsolutePath(folderGiven);
    while (finalFolder.size() > 1 && finalFolder.back() == '/')
        finalFolder.pop_back();

    // Names first, so that files in the way are named before anything is made.
    std::vector<std::string> taken;
    const std::string projectName
        = SafeFileName(card.cardName.empty() ? "card" : card.cardName, ".cmr", taken);
    regionFiles.assign(card.regions.size(), {});
    std::vector<std::pair<int, int>> owner(card.regions.size(), { -1, -1 });
    for (std::size_t v = 0; v < card.voices.size(); ++v) {
        const CardVoice& voice = card.voices[v];
        const std::string name = WithoutExtension(voice.name.empty() ? "voice" : voice.name);
        for (std::size_t k = 0; k < voice.samples.size(); ++k) {
            const int r = voice.samples[k].region;
            if (r < 0 || !regionFiles[std::size_t(r)].empty())
                continue;
            owner[std::size_t(r)] = { int(v), int(k) };
            regionFiles[std::size_t(r)] = SafeFileName(
                voice.isSound ? name : name + " " + std::to_string(k + 1), ".wav", taken);
        }
        for (const int r : voice.hiddenRegions) {
            owner[std::size_t(r)] = { int(v), -1 };
            regionFiles[std::size_t(r)] = SafeFileName(name + " more", ".wav", taken);
        }
    }
    voiceFiles.assign(card.voices.size(), {});
    for (std::size_t v = 0; v < card.voices.size(); ++v) {
        const CardVoice& voice = card.voices[v];
        voiceFiles[v] = voice.isSound
            ? regionFiles[std::size_t(voice.samples.front().region)]
            : SafeFileName(
                WithoutExtension(voice.name.empty() ? "voice" : voice.name), ".cmt", taken);
    }
    sequenceFiles.clear();
    for (std::size_t i = 0; i < card.sequences.size(); ++i)
        sequenceFiles.push_back(SafeFileName("sequence " + std::to_string(i + 1), ".mid", taken));
    bankFile = card.bank
        ? SafeFileName(card.bank->family == 0x19 ? "percula bank" : "zelta bank", ".syx", taken)
        : "";

    std::vector<std::string> inTheWay;
    const auto check = [&](const std::string& name) {
        if (!name.empty() && StatFile(finalFolder + "/" + name))
            inTheWay.push_back(name);
    };
    check(projectName);
    for (const auto& name : regionFiles)
        check(name);
    for (std::size_t v = 0; v < card.voices.size(); ++v)
        if (!card.voices[v].isSound)
            check(voiceFiles[v]);
    for (const auto& name : sequenceFiles)
        check(name);
    check(bankFile);
    if (!inTheWay.empty()) {
        std::string list;
        for (std::size_t i = 0; i < inTheWay.size() && i < 5; ++i)
            list += (i ? ", '" : "'") + inTheWay[i] + "'";
        if (inTheWay.size() > 5)
            list += Format(" and %zu more", inTheWay.size() - 5);
        if (services.prompter.Ask(finalFolder + " already holds " + list + ".  Replace them?",
                Icon::Warning, Buttons::OkCancel, Answer::Cancel)
            != Answer::Ok)
            return false;
    }
    if (const auto status = StatFile(finalFolder); status && !status->directory)
        return Fail("Nothing is unpacked because " + finalFolder + " is a file, not a folder.");
    // A project open in Cardmill's window, or being changed by a command, is not replaced under
    // it; the lock is held until the new one has taken its place.
    FileLock projectLock;
    if (const std::string project = finalFolder + "/" + projectName; StatFile(project)
        && projectLock.Lock(project, std::chrono::seconds(2)) == FileLock::Result::Busy)
        return Fail("Nothing is unpacked because the project " + project
            + " is in use by another program (Cardmill's window, or a cardmill command).");

    // Everything is made in a folder of its own beside the destination.
    const std::string parent = FolderOf(finalFolder);
    std::string pattern = (parent.empty() ? std::string("./") : parent) + "."
        + FileNameOf(finalFolder) + ".unpack-XXXXXX";
    if (!MakeFolders(parent.empty() ? "." : parent) || !mkdtemp(pattern.data()))
        return Fail("Nothing is unpacked because a folder can't be made beside " + finalFolder
            + ": " + std::strerror(errno) + ".");
    const std::string temporary = pattern;
    // A folder of mkdtemp's is the user's alone; the unpacked one is like any other they make.
    const mode_t mask = umask(0);
    umask(mask);
    chmod(temporary.c_str(), 0777 & ~mask);
    const auto cleanUp = [&] {
        std::error_code ignored;
        fs::remove_all(temporary, ignored);
    };
    // The folder is the unpack's own until it is moved into place, so nothing waits for the disk
    // file by file; the fingerprints of the bytes just written spare reading them back.
    const auto write = [&](const std::string& name, std::span<const std::uint8_t> bytes) {
        const std::string path = temporary + "/" + name;
        if (WriteFileAtomically(path, bytes, false)) {
            RememberFingerprint(path, FingerprintOf(bytes));
            return true;
        }
        return Fail("Nothing is unpacked because '" + name + "' can't be written in " + temporary
            + ": " + std::strerror(errno) + ".");
    };

    // One WAV file a stretch of sample data, at the rate its first sample is heard at best.
    std::vector<std::uint32_t> rates(card.regions.size(), 48000);
    for (std::size_t r = 0; r < card.regions.size(); ++r) {
        if (progress.StopRequested()) {
            cleanUp();
            return false;
        }
        progress.SetPhase("Writing Sound File:  ", regionFiles[r]);
        progress.SetPercent(
            static_cast<int>(r * 80 / std::max<std::size_t>(1, card.regions.size())));
        const CardRegion& region = card.regions[r];
        const auto [v, k] = owner[r];
        SampleParams params;
        if (k >= 0) {
            const CardSample& first = card.voices[std::size_t(v)].samples[std::size_t(k)];
            rates[r] = TuningOfPitchWord(first.pitchWord).rate;
            params = WavSettings(ParamsOf(first, rates[r], notExact));
            // A file whose data the card keeps further than its samples play: its own loop
            // reaches there, so that a sound loaded with the file's settings first widens the
            // data as the card's did.
            if (region.widened && region.frames > 9)
                params = Whole(params, region);
        } else {
            params = Whole(params, region);
        }
        const std::vector<std::int16_t> frames = RegionFrames(image, region);
        if (!write(regionFiles[r], BuildWav16(frames, 1, rates[r], params))) {
            cleanUp();
            return false;
        }
    }

    // The sounds as files the project and instruments name: where they will be once moved.
    FileLocator* locator = services.locator;
    std::unique_ptr<MissingFileLocator> ownLocator;
    if (!locator) {
        ownLocator = std::make_unique<MissingFileLocator>(services.prompter, nullptr);
        locator = ownLocator.get();
        services.locator = locator;
    }
    locator->SetProjectMove(finalFolder, temporary);
    struct Restore {
        Services& services;
        FileLocator* locator;
        bool own;
        ~Restore()
        {
            locator->SetProjectMove({}, {});
            if (own)
                services.locator = nullptr;
        }
    } restore { services, locator, ownLocator != nullptr };

    std::vector<const CardSample*> firstUse(card.regions.size(), nullptr);
    for (const CardVoice& voice : card.voices)
        for (const CardSample& sample : voice.samples)
            if (sample.region >= 0 && !firstUse[std::size_t(sample.region)])
                firstUse[std::size_t(sample.region)] = &sample;
    std::vector<FileRecord> regionRecords(card.regions.size());
    std::vector<std::uint64_t> regionBytes(card.regions.size());
    for (std::size_t r = 0; r < card.regions.size(); ++r) {
        auto sound = controller.SoundDispatcher().Create(temporary + "/" + regionFiles[r]);
        auto* file = dynamic_cast<MSoundFile*>(sound.get());
        if (!file) {
            cleanUp();
            return Fail("Nothing is unpacked because the sound file '" + regionFiles[r]
                + "' just written can't be read back.");
        }
        regionRecords[r] = file->Record();
        regionRecords[r].extras.fingerprint = file->Fingerprint();
        regionRecords[r].path = finalFolder + "/" + regionFiles[r];
        regionBytes[r] = file->GetFileDataSize();
    }

    // A file's data widened by a sample that is gone is widened again by a sharer loaded after
    // its owner: another sample of it (its file's or instrument file's own settings reach the
    // whole data, the project's give its own), or else a drum voice's key group that no header
    // describes, which may play anything.
    std::vector<int> usesOf(card.regions.size(), 0);
    for (const CardVoice& voice : card.voices)
        for (const CardSample& sample : voice.samples)
            if (sample.region >= 0)
                ++usesOf[std::size_t(sample.region)];
    std::vector<std::vector<std::size_t>> widenIn(card.voices.size());
    for (std::size_t r = 0; r < card.regions.size(); ++r) {
        const CardRegion& region = card.regions[r];
        if (!region.widened || region.frames <= 9 || usesOf[r] > 1 || !firstUse[r])
            continue;
        const int ownerVoice = owner[r].first;
        bool placed = false;
        for (std::size_t v = std::size_t(ownerVoice) + 1; v < card.voices.size() && !placed; ++v) {
            const CardVoice& voice = card.voices[v];
            std::size_t free = std::size_t(voice.groupCount) * std::size_t(voice.groupSize);
            free -= std::min(
                free, voice.samples.size() + voice.hiddenRegions.size() + widenIn[v].size());
            for (const CardSample& sample : voice.samples)
                if (sample.region >= 0 && card.regions[std::size_t(sample.region)].ownerMoved
                    && &sample == firstUse[std::size_t(sample.region)])
                    free -= std::min<std::size_t>(free, 1);
            if (voice.group > 7 && free > 0) {
                widenIn[v].push_back(r);
                placed = true;
            }
        }
        if (!placed)
            notExact.push_back(Format("the card keeps more of '%s' than voice %d ('%s') plays, "
                                      "and no sample after it can widen it so.",
                regionFiles[r].c_str(), ownerVoice + 1,
                card.voices[std::size_t(ownerVoice)].name.c_str()));
    }

    // An instrument file for each voice of several key groups or layers.
    for (std::size_t v = 0; v < card.voices.size(); ++v) {
        const CardVoice& voice = card.voices[v];
        if (voice.isSound)
            continue;
        InstrumentShape shape;
        shape.groupCount = voice.groupCount;
        shape.groupSize = voice.groupSize;
        shape.voiceByte14 = voice.byte14;
        shape.voiceByte15 = voice.byte15;
        for (int g = 0; g < voice.groupCount; ++g)
            shape.upperKeys[std::size_t(g)] = g < int(voice.upperKeys.size())
                ? voice.upperKeys[std::size_t(g)]
                : static_cast<std::uint8_t>(128 - voice.groupCount + g);
        std::vector<SampleRecord> records;
        std::uint64_t bytes = 0;
        const auto recordOf = [&](const CardSample& sample) {
            const std::size_t r = std::size_t(sample.region);
            SampleRecord record;
            record.file = regionRecords[r];
            record.smoothing = sample.smooth ? 1 : 0;
            record.params = ParamsOf(sample, rates[r], notExact);
            // An instrument file's start smooths every attack of the instrument: a start the
            // card plays unsmoothed is the project's setting, as Sample Info makes it.
            if (!sample.smooth)
                record.params.startFrame = 0;
            // A shared file's data the card keeps further than its samples play was widened by a
            // sample that once played it all.
            const CardRegion& region = card.regions[r];
            if (region.widened && region.frames > 9 && &sample != firstUse[r])
                record.params = Whole(record.params, region);
            // A first key group that gives its ownership away: its instrument file's settings
            // differ from the project's, so that setting these hands the data on.
            if (region.ownerMoved && &sample == firstUse[r]) {
                const SampleParams played = record.params;
                record.params = Whole(played, region);
                if (std::min(played.startFrame, played.loopStart) == 0
                    && played.loopEnd == record.params.loopEnd)
                    --record.params.loopEnd;
            }
            bytes += regionBytes[r];
            return record;
        };
        for (const CardSample& sample : voice.samples)
            records.push_back(recordOf(sample));
        // A drum voice keeps headers for its first key group only: the others' data is played by
        // no key, so their samples are given as the first one, the first of them owning the data
        // no header names.
        const std::size_t all = std::size_t(voice.groupCount) * std::size_t(voice.groupSize);
        std::vector<std::size_t> hidden(voice.hiddenRegions.begin(), voice.hiddenRegions.end());
        for (const CardSample& sample : voice.samples)
            if (sample.region >= 0 && card.regions[std::size_t(sample.region)].ownerMoved
                && &sample == firstUse[std::size_t(sample.region)])
                hidden.push_back(std::size_t(sample.region));
        hidden.insert(hidden.end(), widenIn[v].begin(), widenIn[v].end());
        for (std::size_t i = 0; records.size() < all; ++i) {
            if (i < hidden.size()) {
                const std::size_t r = hidden[i];
                SampleRecord record;
                record.file = regionRecords[r];
                record.params = Whole(record.params, card.regions[r]);
                bytes += regionBytes[r];
                records.push_back(record);
            } else {
                records.push_back(recordOf(voice.samples.front()));
            }
        }
        if (!write(voiceFiles[v], InstrumentFileBytes(shape, records, bytes))) {
            cleanUp();
            return false;
        }
    }

    std::uint32_t pacing = 0; // as a program that opens the project converts its sequences
    for (std::size_t i = 0; i < card.sequences.size(); ++i)
        if (!write(
                sequenceFiles[i], SequenceToMidiFile(card.sequences[i].data, pacing, notExact))) {
            cleanUp();
            return false;
        }
    if (card.bank && !write(bankFile, BankToSysexFile(*card.bank, services.makerId))) {
        cleanUp();
        return false;
    }

    progress.SetPhase("Building the Project...", "");
    if (!BuildProject(card, temporary, projectName)) {
        cleanUp();
        return false;
    }

    // Moved into place: the whole folder when it is new, else file by file.
    progress.SetPercent(95);
    std::error_code error;
    // Files that replace the user's own are on the disk before the old ones go.
    const bool replacing = StatFile(finalFolder).has_value();
    if (replacing && !SyncFilesIn(temporary)) {
        error = std::error_code(errno, std::generic_category());
    } else if (!replacing) {
        fs::rename(temporary, finalFolder, error);
    } else {
        for (const auto& entry : fs::directory_iterator(temporary, error)) {
            fs::rename(entry.path(), fs::path(finalFolder) / entry.path().filename(), error);
            if (error)
                break;
        }
        if (!error)
            fs::remove(temporary, error);
    }
    if (error) {
        cleanUp();
        return Fail(
            "The unpacked files can't be moved into " + finalFolder + ": " + error.message() + ".");
    }
    SyncFolder(finalFolder);
    projectPath = finalFolder + "/" + projectName;
    for (const std::string& sentence : notExact)
        services.prompter.Show(
            "This card can't come back exactly: " + sentence, Icon::Warning, Buttons::Ok);
    progress.SetPercent(100);
    return true;
}

bool CardUnpacker::BuildProject(
    const CardContents& card, const std::string& temporary, const std::string& projectName)
{
    Services& services = controller.GetServices();
    MProject& project = controller.Project();
    project.SetTarget(card.target.value_or(MProject::kZelta));
    project.SetCardName(card.cardName);
    project.SetVersion(card.version);
    project.SetCardSizeToken(CardSizeTokenFor(card.imageBytes));
    for (int g = 0; g < 11; ++g)
        project.SetGroupName(g, card.groupNames[std::size_t(g)]);
    const std::uint32_t now = SecondsSince1904(services.clock.Now());
    const bool loading = services.projectLoading;
    services.projectLoading = true; // the file's questions are the card's answers
    struct Back {
        Services& services;
        bool loading;
        ~Back() { services.projectLoading = loading; }
    } back { services, loading };

    const auto load = [&](const std::string& name) -> std::unique_ptr<MReadableFile> {
        const std::string path = temporary + "/" + name;
        auto file
            = controller.Recognise(path, MCardmill::AddFilter::Any, MCardmill::OtherKinds::Taken);
        if (!file) {
            Fail("Nothing is unpacked because '" + name + "', just written, can't be read back.");
            return nullptr;
        }
        int result = 0;
        while ((result = file->LoadStep()) == 0) { }
        if (result != 1) {
            Fail("Nothing is unpacked because '" + name + "', just written, can't be loaded.");
            return nullptr;
        }
        return file;
    };
    const auto add = [&](std::unique_ptr<MReadableFile> file) {
        MReadableFile* item = file.get();
        if (!project.CanPlace(item, item->GetCategory()) || !project.AddItem(std::move(file)))
            return Fail("Nothing is unpacked because '" + item->GetFileName()
                + "' can't be placed in " + project.GetGroupName(item->GetCategory()) + ".");
        item->Fingerprint();
        return true;
    };

    for (std::size_t v = 0; v < card.voices.size(); ++v) {
        const CardVoice& voice = card.voices[v];
        progress.SetPhase("Building the Project...  ", voiceFiles[v]);
        auto file = load(voiceFiles[v]);
        auto* item = dynamic_cast<MInstFile*>(file.get());
        if (!item)
            return false;
        item->SetCategory(static_cast<std::int16_t>(voice.group));
        item->SetShortName(voice.name);
        item->SetVoiceBytes(voice.byte14, voice.byte15);
        if (!voice.isSound) {
            const std::vector<MSoundFile*> samples = item->Samples();
            for (std::size_t k = 0; k < voice.samples.size() && k < samples.size(); ++k) {
                const CardSample& sample = voice.samples[k];
                std::vector<std::string> ignored;
                const SampleParams params = ParamsOf(
                    sample, static_cast<std::uint32_t>(samples[k]->SampleRate()), ignored);
                const SampleParams& current = samples[k]->Params();
                if (current.startFrame == params.startFrame && current.loopStart == params.loopStart
                    && current.loopEnd == params.loopEnd && current.looping == params.looping)
                    continue;
                if (!samples[k]->SetParams(params))
                    return Fail("Nothing is unpacked because the settings of '" + voiceFiles[v]
                        + "' are refused.");
            }
        } else {
            auto* sound = dynamic_cast<MSoundFile*>(item);
            const CardSample& sample = voice.samples.front();
            std::vector<std::string> ignored;
            const std::uint32_t rate = static_cast<std::uint32_t>(sound->SampleRate());
            if (!sound || !sound->SetParams(ParamsOf(sample, rate, ignored)))
                return Fail("Nothing is unpacked because the settings of '" + voiceFiles[v]
                    + "' are refused.");
            sound->SetSmoothing(sample.smooth ? 1 : 0);
        }
        item->SetChangeTime(now);
        item->UpdateCompiledSize();
        if (!add(std::move(file)))
            return false;
    }
    for (std::size_t i = 0; i < card.sequences.size(); ++i) {
        auto file = load(sequenceFiles[i]);
        auto* sequence = dynamic_cast<MSeqFile*>(file.get());
        if (!sequence)
            return false;
        sequence->SetOutPort(card.sequences[i].outPort ? 1 : 0);
        sequence->UpdateCompiledSize();
        if (!add(std::move(file)))
            return false;
    }
    if (card.bank) {
        auto file = load(bankFile);
        if (!file)
            return false;
        file->UpdateCompiledSize();
        if (!add(std::move(file)))
            return false;
    }
    controller.SetDocumentPath(temporary + "/" + projectName);
    controller.StoreFolderAs(temporary, finalFolder);
    const bool written = controller.WriteProjectFile();
    controller.StoreFolderAs({}, {});
    return written;
}

} // namespace cardmill
