// The text dump of the controller: a tab-separated listing of the project for spreadsheets, with
// CR LF line ends, in UTF-8, written through a temporary file that replaces the target only when
// complete.

#include "model/DeviceFamily.h"
#include "model/MCardmill.h"
#include "model/MProject.h"
#include "model/TextEncoding.h"
#include "model/TextFields.h"
#include "model/bank/MParamFile.h"
#include "model/instrument/InstrumentLibrary.h"
#include "model/instrument/MInstFile.h"
#include "model/sequence/MSeqFile.h"
#include "model/sound/MSoundFile.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <ctime>

namespace cardmill {

namespace {

constexpr const char* kInternalError
    = "Sorry, but the new file can't be created because of an internal error.";

/// The file's modification date in the short date form, or empty when it cannot be read.
std::string DateModified(const std::string& path)
{
    // A library's preset or sample is dated as its file.
    const auto status = StatFile(SplitLibraryPath(path).file);
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

bool MCardmill::DumpWrite(std::string& out, std::string_view text)
{
    out += DisplayText(text);
    return true;
}

bool MCardmill::WriteTextDump(const std::string& path)
{
    std::unique_ptr<SafeOutput> file;
    std::string backupName;
    if (!CreateSafely(path, false, file, backupName))
        return false;
    project->ComputeTotalBytes();
    std::string text;
    bool written = DumpProject(text) && DumpInstruments(text) && DumpSamples(text)
        && DumpBanks(text) && DumpSequences(text);
    // Spreadsheets take a text file for their system's 8-bit character set unless it starts with
    // the UTF-8 byte order mark; a dump of plain ASCII needs none and stays as it always was.
    const bool ascii = std::all_of(
        text.begin(), text.end(), [](char c) { return static_cast<std::uint8_t>(c) < 0x80; });
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (written && !((ascii || file->Write(kByteOrderMark)) && file->Write(text))) {
        ReportWriteError(file.get());
        written = false;
    }
    if (!written) {
        AbortSafely(path, false, file, backupName);
        return false;
    }
    return CommitSafely(path, false, file, backupName);
}

bool MCardmill::DumpProject(std::string& out)
{
    const std::uint64_t used = project->GetTotalBytes();
    const std::int64_t free = project->FreeBytes();
    return DumpWrite(
               out, "Project Name\tVersion\tTarget Device\tTotal Bytes\tFree Bytes Remaining\r\n")
        && DumpWrite(out,
            project->GetCardName() + "\t" + project->GetVersion() + "\t"
                + GetFamilyName(project->GetTarget())
                + Format("\t%lld", static_cast<long long>(used))
                + Format("\t%lld\r\n", static_cast<long long>(free)));
}

bool MCardmill::DumpInstruments(std::string& out)
{
    if (!DumpWrite(out,
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
            if (!DumpWrite(out, voice->GetPath())
                || !DumpWrite(out,
                    "\t" + voice->GetShortName() + "\t" + project->GetGroupName(group) + "\t"
                        + (voice->GetSmoothing() ? "On" : "Off") + "\t"
                        + MixText(voice->GetChannel())
                        + Format("\t%ld\r\n", static_cast<long>(voice->GetCompiledSize()))))
                return false;
        }
    }
    return true;
}

bool MCardmill::DumpSamples(std::string& out)
{
    if (!DumpWrite(out,
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
            if (!DumpWrite(out,
                    "\r\n" + voice->GetShortName()
                        + Format("\t\t%ld\r\n", static_cast<long>(voice->GetCompiledSize()))))
                return false;
            // A sample line that fails is reported and the dump goes on with the next one.
            for (const MSoundFile* sample : voice->Samples())
                DumpSampleLine(out, *sample);
        }
    }
    return true;
}

bool MCardmill::DumpSampleLine(std::string& out, const MSoundFile& sample)
{
    if (sample.GetPath().empty()) {
        ReportFailure(platform.prompter, kInternalError);
        return false;
    }
    const std::string size = sample.IsPhantom()
        ? std::string("Phantom")
        : Format("%ld", static_cast<long>(sample.GetSampleDataSize()));
    return DumpWrite(out, "\t" + sample.GetPath())
        && DumpWrite(out,
            "\t" + size + "\t" + sample.SampleRateText() + "\t" + DateModified(sample.GetPath())
                + "\t" + sample.SampleTypeText() + "\r\n");
}

bool MCardmill::DumpBanks(std::string& out)
{
    if (!DumpWrite(out, "\r\nBANKS:\r\nDisk Path\tBank Name\tBank Type\tDate Modified\tSize\r\n"))
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
    return DumpWrite(out, bank->GetPath())
        && DumpWrite(out,
            "\t" + bank->GetShortName() + "\t" + type + "\t" + DateModified(bank->GetPath())
                + Format("\t%ld\r\n", static_cast<long>(bank->GetCompiledSize())));
}

bool MCardmill::DumpSequences(std::string& out)
{
    if (!DumpWrite(out,
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
        // Appended piece by piece: g++ 12 at -O3 takes "\t" + a temporary string for an
        // overlapping copy (a false -Wrestrict).
        rest += '\t';
        rest += DateModified(sequence->GetPath());
        rest += Format("\t%ld\r\n", static_cast<long>(sequence->GetCompiledSize()));
        if (!DumpWrite(out, sequence->GetPath()) || !DumpWrite(out, rest))
            return false;
    }
    return true;
}

} // namespace cardmill
