// The text dump of the controller: a tab-separated listing of the project for spreadsheets, with
// CR LF line ends, written through a temporary file that replaces the target only when complete.

#include "model/DeviceFamily.h"
#include "model/MCardmill.h"
#include "model/MProject.h"
#include "model/TextFields.h"
#include "model/bank/MParamFile.h"
#include "model/instrument/MInstFile.h"
#include "model/sequence/MSeqFile.h"
#include "model/sound/MSoundFile.h"
#include "platform/FileSystem.h"

#include <ctime>

namespace cardmill {

namespace {

constexpr const char* kInternalError
    = "Sorry, but the new file can't be created because of an internal error.";

/// The file's modification date in the short date form, or empty when it cannot be read.
std::string DateModified(const std::string& path)
{
    const auto status = StatFile(path);
    if (!status)
        return {};
    const std::time_t time = static_cast<std::time_t>(status->modified);
    std::tm local {};
    if (!localtime_r(&time, &local))
        return {};
    char text[64];
    return std::strftime(text, sizeof text, "%x", &local) ? std::string(text) : std::string();
}

const char* MixText(std::uint16_t channel)
{
    return channel == 1 ? "Left" : channel == 2 ? "Right" : "50/50";
}

} // namespace

bool MCardmill::DumpWrite(SafeOutput& file, std::string_view text)
{
    if (file.Write(text))
        return true;
    ReportWriteError();
    return false;
}

bool MCardmill::WriteTextDump(const std::string& path)
{
    std::unique_ptr<SafeOutput> file;
    std::string backupName;
    if (!CreateSafely(path, false, file, backupName))
        return false;
    project->ComputeTotalBytes();
    const bool written = DumpProject(*file) && DumpInstruments(*file) && DumpSamples(*file)
        && DumpBanks(*file) && DumpSequences(*file);
    if (!written) {
        AbortSafely(path, false, file, backupName);
        return false;
    }
    return CommitSafely(path, false, file, backupName);
}

bool MCardmill::DumpProject(SafeOutput& file)
{
    const std::uint64_t used = project->GetTotalBytes();
    const std::int64_t free = project->FreeBytes();
    return DumpWrite(
               file, "Project Name\tVersion\tTarget Device\tTotal Bytes\tFree Bytes Remaining\r\n")
        && DumpWrite(file,
            project->GetCardName() + "\t" + project->GetVersion() + "\t"
                + GetFamilyName(project->GetTarget())
                + Format("\t%lld", static_cast<long long>(used))
                + Format("\t%lld\r\n", static_cast<long long>(free)));
}

bool MCardmill::DumpInstruments(SafeOutput& file)
{
    if (!DumpWrite(file,
            "\r\nINSTRUMENTS:\r\nDisk Path\tInstrument Name\tSound "
            "Group\tSmoothing\tMix\tSize\r\n"))
        return false;
    for (int group = 0; group < MProject::kSoundGroups; ++group) {
        for (int index = 0; index < project->CountItems(group); ++index) {
            auto* voice = dynamic_cast<MInstFile*>(project->GetItem(group, index));
            if (!voice || voice->GetPath().empty()) {
                ReportFailure(platform.prompter, kInternalError);
                return false;
            }
            if (!DumpWrite(file, voice->GetPath())
                || !DumpWrite(file,
                    "\t" + voice->GetShortName() + "\t" + project->GetGroupName(group) + "\t"
                        + (voice->GetSmoothing() ? "On" : "Off") + "\t"
                        + MixText(voice->GetChannel())
                        + Format("\t%ld\r\n", static_cast<long>(voice->GetCompiledSize()))))
                return false;
        }
    }
    return true;
}

bool MCardmill::DumpSamples(SafeOutput& file)
{
    if (!DumpWrite(file,
            "\r\nSAMPLES:\r\nInstrument\tDisk Path\tSize\tSample Rate\tDate Modified\tSample "
            "Type\r\n"))
        return false;
    for (int group = 0; group < MProject::kSoundGroups; ++group) {
        for (int index = 0; index < project->CountItems(group); ++index) {
            auto* voice = dynamic_cast<MInstFile*>(project->GetItem(group, index));
            if (!voice) {
                ReportFailure(platform.prompter, kInternalError);
                return false;
            }
            if (!DumpWrite(file,
                    "\r\n" + voice->GetShortName()
                        + Format("\t\t%ld\r\n", static_cast<long>(voice->GetCompiledSize()))))
                return false;
            // A sample line that fails is reported and the dump goes on with the next one.
            for (const MSoundFile* sample : voice->Samples())
                DumpSampleLine(file, *sample);
        }
    }
    return true;
}

bool MCardmill::DumpSampleLine(SafeOutput& file, const MSoundFile& sample)
{
    if (sample.GetPath().empty()) {
        ReportFailure(platform.prompter, kInternalError);
        return false;
    }
    const std::string size = sample.IsPhantom()
        ? std::string("Phantom")
        : Format("%ld", static_cast<long>(sample.GetSampleDataSize()));
    return DumpWrite(file, "\t" + sample.GetPath())
        && DumpWrite(file,
            "\t" + size + "\t" + sample.SampleRateText() + "\t" + DateModified(sample.GetPath())
                + "\t" + sample.SampleTypeText() + "\r\n");
}

bool MCardmill::DumpBanks(SafeOutput& file)
{
    if (!DumpWrite(file, "\r\nBANKS:\r\nDisk Path\tBank Name\tBank Type\tDate Modified\tSize\r\n"))
        return false;
    if (project->CountItems(MProject::kProgramGroup) == 0)
        return true;
    const auto* bank
        = dynamic_cast<const MParamFile*>(project->GetItem(MProject::kProgramGroup, 0));
    if (!bank || bank->GetPath().empty()) {
        ReportFailure(platform.prompter, kInternalError);
        return false;
    }
    const char* type = project->GetTarget() == MProject::kZelta ? "Zelta" : "Percula";
    return DumpWrite(file, bank->GetPath())
        && DumpWrite(file,
            "\t" + bank->GetShortName() + "\t" + type + "\t" + DateModified(bank->GetPath())
                + Format("\t%ld\r\n", static_cast<long>(bank->GetCompiledSize())));
}

bool MCardmill::DumpSequences(SafeOutput& file)
{
    if (!DumpWrite(file,
            "\r\nSEQUENCES:\r\nDisk Path\tSequence Name\tSequence Type\tDate Modified\tSize\r\n"))
        return false;
    for (int n = 0; n < project->CountItems(MProject::kSequenceGroup); ++n) {
        const auto* sequence
            = dynamic_cast<const MSeqFile*>(project->GetItem(MProject::kSequenceGroup, n));
        if (!sequence || sequence->GetPath().empty()) {
            ReportFailure(platform.prompter, kInternalError);
            return false;
        }
        std::string rest = "\tSequence ";
        if (n < 10)
            rest += "0";
        rest += Format("%ld\t", static_cast<long>(n));
        if (const auto format = sequence->MidiFormat())
            rest += Format("Type %ld", static_cast<long>(*format + 1));
        rest += "\t" + DateModified(sequence->GetPath())
            + Format("\t%ld\r\n", static_cast<long>(sequence->GetCompiledSize()));
        if (!DumpWrite(file, sequence->GetPath()) || !DumpWrite(file, rest))
            return false;
    }
    return true;
}

} // namespace cardmill
