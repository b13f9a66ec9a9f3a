// The project file writer of the controller: one "ORCM"/"CMpj" form, big-endian, whose chunks hold
// the card information, the eleven sound groups with a record of every file and its edited
// settings, the sequences and the program bank, and the folder the project is saved in.

#include "model/MCardmill.h"
#include "model/MProject.h"
#include "model/TextFields.h"
#include "model/bank/MParamFile.h"
#include "model/instrument/MInstFile.h"
#include "model/sequence/MSeqFile.h"
#include "model/sound/MSoundFile.h"
#include "model/sound/SampleRecord.h"
#include "platform/FileSystem.h"

namespace cardmill {

namespace {

constexpr std::size_t kItemRecordBytes = 522;
constexpr std::size_t kHomeLimit = 4096;
constexpr std::size_t kSampleRecordBytes = 392;

/// The file of each stored record, in file order: the writer refuses the whole project before it
/// writes anything when one of them cannot be stored.
std::vector<const MReadableFile*> StoredFiles(const MProject& project)
{
    std::vector<const MReadableFile*> files;
    for (int group = 0; group < MProject::kGroupCount; ++group) {
        for (int index = 0; index < project.CountItems(group); ++index) {
            MReadableFile* file = project.GetItem(group, index);
            files.push_back(file);
            if (auto* voice = dynamic_cast<MInstFile*>(file); voice && voice->ChangeTime() != 0)
                for (const MSoundFile* sample : voice->Samples())
                    files.push_back(sample);
        }
    }
    return files;
}

/// A file's record as the project keeps it: with the fingerprint of what the file holds now, by
/// which a file found again is known to be the same (older readers skip it).
void WriteRecordOf(ByteWriter& out, const MReadableFile& file, const std::string& path)
{
    FileRecord record = file.Record();
    record.path = path;
    record.extras.fingerprint = file.Fingerprint();
    record.WriteStored(out);
}

/// k: the sample records that follow an item record.
std::uint16_t SampleRecordCount(MInstFile& voice)
{
    if (voice.ChangeTime() == 0)
        return 0;
    return static_cast<std::uint16_t>(voice.Samples().size());
}

} // namespace

bool MCardmill::WriteProjectFile()
{
    for (const MReadableFile* file : StoredFiles(*project)) {
        if (!file->Record().Storable()) {
            ReportFailure(platform.prompter,
                "The project can't be saved because the path of the file '" + file->GetPath()
                    + "' is longer than 255 characters, more than a project file can "
                      "store.  Move the file to a shorter path and add it again.");
            return false;
        }
    }

    std::unique_ptr<SafeOutput> file;
    std::string backupName;
    if (!CreateSafely(documentPath, keepBackup, file, backupName))
        return false;
    if (!WriteFileHeader(*file) || !WriteBody(*file)) {
        AbortSafely(documentPath, keepBackup, file, backupName);
        return false;
    }
    if (!CommitSafely(documentPath, keepBackup, file, backupName))
        return false;
    project->ClearDirty();
    return true;
}

bool MCardmill::WriteBytes(SafeOutput& file, const ByteWriter& bytes)
{
    if (file.Write(bytes.Bytes()))
        return true;
    ReportWriteError(&file);
    return false;
}

bool MCardmill::WriteFileHeader(SafeOutput& file)
{
    ByteWriter out;
    out.Append("ORCM").U32(0, Endian::Big).Append("CMpj");
    out.Append("VERS").U32(2, Endian::Big).U8(3).U8(0);
    out.Append("CHDR").U32(22, Endian::Big);
    WriteLengthPrefixed(out, project->GetCardName(), 12);
    WriteLengthPrefixed(out, project->GetVersion(), 6);
    out.U8(0);
    out.U8(static_cast<std::uint8_t>(project->GetCardSizeToken() + 1));
    out.U16(project->GetTarget(), Endian::Big);
    return WriteBytes(file, out);
}

bool MCardmill::WriteBody(SafeOutput& file)
{
    for (int group = 0; group < MProject::kSoundGroups; ++group)
        if (!WriteSoundGroup(file, group))
            return false;
    return WriteSequenceGroup(file) && WriteProgramGroup(file) && WriteProjectFolder(file)
        && FinishFormLength(file);
}

bool MCardmill::WriteSoundGroup(SafeOutput& file, int group)
{
    const int count = project->CountItems(group);
    std::vector<std::uint16_t> k;
    std::uint64_t length = 12;
    for (int index = 0; index < count; ++index) {
        auto* voice = dynamic_cast<MInstFile*>(project->GetItem(group, index));
        k.push_back(voice ? SampleRecordCount(*voice) : 0);
        length += kItemRecordBytes + kSampleRecordBytes * k.back();
    }
    ByteWriter head;
    head.Append("VGRP").U32(static_cast<std::uint32_t>(length), Endian::Big);
    WriteLengthPrefixed(head, project->GetGroupName(group), 8);
    head.U16(static_cast<std::uint16_t>(count), Endian::Big)
        .U16(static_cast<std::uint16_t>(group), Endian::Big);
    if (!WriteBytes(file, head))
        return false;
    for (int index = 0; index < count; ++index)
        if (!WriteItemRecord(
                file, *project->GetItem(group, index), k[static_cast<std::size_t>(index)]))
            return false;
    return true;
}

bool MCardmill::WriteItemRecord(SafeOutput& file, MReadableFile& item, std::uint16_t k)
{
    auto* voice = dynamic_cast<MInstFile*>(&item);
    ByteWriter out;
    WriteRecordOf(out, item, StoredPath(item.GetPath()));
    WriteLengthPrefixed(out, item.GetShortName(), 12);
    out.U32(voice ? voice->ChangeTime() : 0, Endian::Big);
    out.U8(static_cast<std::uint8_t>(voice ? voice->GroupCount() : 0));
    out.U8(static_cast<std::uint8_t>(voice ? voice->GroupSize() : 0));
    out.U8(static_cast<std::uint8_t>(voice ? voice->VoiceByte14() : 0));
    out.U8(static_cast<std::uint8_t>(voice ? voice->VoiceByte15() : 0));
    if (const std::uint8_t* keys = voice ? voice->UpperKeys() : nullptr)
        out.Append(std::span<const std::uint8_t>(keys, 128));
    else
        out.Fill(128, 0x80);
    out.U16(k, Endian::Big);
    if (!WriteBytes(file, out))
        return false;

    std::uint16_t written = 0;
    if (voice && voice->ChangeTime() != 0) {
        for (const MSoundFile* sample : voice->Samples()) {
            ByteWriter record;
            SampleRecord stored = SampleRecord::Of(*sample);
            stored.file.path = StoredPath(stored.file.path);
            stored.Write(record);
            if (!WriteBytes(file, record))
                return false;
            ++written;
        }
    }
    if (written != k) {
        ReportFailure(platform.prompter,
            "The project couldn't be written due to an error writing the sample information.");
        return false;
    }
    return true;
}

bool MCardmill::WriteSequenceGroup(SafeOutput& file)
{
    const int count = project->CountItems(MProject::kSequenceGroup);
    ByteWriter out;
    out.Append("SGRP").U32(static_cast<std::uint32_t>(2 + 374 * count), Endian::Big);
    out.U16(static_cast<std::uint16_t>(count), Endian::Big);
    for (int index = 0; index < count; ++index) {
        const MReadableFile* item = project->GetItem(MProject::kSequenceGroup, index);
        WriteRecordOf(out, *item, StoredPath(item->GetPath()));
        const auto* sequence = dynamic_cast<const MSeqFile*>(item);
        out.U16(sequence ? sequence->GetOutPort() : 0, Endian::Big);
    }
    return WriteBytes(file, out);
}

bool MCardmill::WriteProgramGroup(SafeOutput& file)
{
    const int count = project->CountItems(MProject::kProgramGroup);
    ByteWriter out;
    out.Append("PGRP").U32(static_cast<std::uint32_t>(2 + FileRecord::kSize * count), Endian::Big);
    out.U16(static_cast<std::uint16_t>(count), Endian::Big);
    for (int index = 0; index < count; ++index) {
        const MReadableFile& item = *project->GetItem(MProject::kProgramGroup, index);
        WriteRecordOf(out, item, StoredPath(item.GetPath()));
    }
    return WriteBytes(file, out);
}

bool MCardmill::WriteProjectFolder(SafeOutput& file)
{
    // Where the project is saved, for finding its files again when the folder moves with them;
    // a project that names no file needs none.
    bool namesFiles = false;
    for (int group = 0; group < MProject::kGroupCount; ++group)
        namesFiles = namesFiles || project->CountItems(group) > 0;
    if (!namesFiles)
        return true;
    const std::string folder
        = FolderOf(StoredPath(AbsolutePath(documentPath))).substr(0, kHomeLimit);
    ByteWriter body;
    body.U16(static_cast<std::uint16_t>(folder.size()), Endian::Big).Append(folder);
    body.Fill(body.Size() & 1);
    ByteWriter out;
    out.Append("HOME").U32(static_cast<std::uint32_t>(body.Size()), Endian::Big);
    out.Append(body.Bytes());
    return WriteBytes(file, out);
}

void MCardmill::StoreFolderAs(const std::string& from, const std::string& to)
{
    storedFrom = from.empty() ? std::string() : from + "/";
    storedTo = to + "/";
}

std::string MCardmill::StoredPath(const std::string& path) const
{
    if (storedFrom.empty() || path.compare(0, storedFrom.size(), storedFrom) != 0)
        return path;
    return storedTo + path.substr(storedFrom.size());
}

bool MCardmill::FinishFormLength(SafeOutput& file)
{
    const auto end = file.Tell();
    ByteWriter length;
    length.U32(end ? static_cast<std::uint32_t>(*end - 8) : 0, Endian::Big);
    if (!end || !file.Seek(4)) {
        ReportWriteError(&file);
        return false;
    }
    return WriteBytes(file, length);
}

} // namespace cardmill
