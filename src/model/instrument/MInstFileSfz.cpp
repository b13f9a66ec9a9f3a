#include "model/instrument/MInstFileSfz.h"

#include "model/Services.h"
#include "model/TextFields.h"
#include "model/instrument/DecentSamplerParser.h"
#include "model/sound/MSoundFile.h"
#include "platform/FileSystem.h"
#include "platform/ProgressView.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace cardmill {

namespace {

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
    : MInstFileRegions(services)
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

std::optional<std::vector<std::uint8_t>> MInstFileSfz::ReadText(const std::string& path)
{
    if (!SetFile(path))
        return std::nullopt;
    if (FileSize() > SfzLimits {}.maxFileBytes) {
        CloseStream();
        Refuse("The file is too large to be a" + std::string(kind.starts_with('S') ? "n " : " ")
            + kind + ".");
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(FileSize()));
    const bool read = bytes.empty() || Read(bytes);
    CloseStream();
    if (!read) {
        Refuse("It can't be read to its end.");
        return std::nullopt;
    }
    return bytes;
}

bool MInstFileSfz::OpenDecentSampler(const std::string& path)
{
    const SfzLimits limits;
    kind = "DecentSampler preset";
    formatName = "DecentSampler";
    const auto bytes = ReadText(path);
    if (!bytes)
        return false;
    SfzDocument document = ParseDecentSampler(
        std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()),
        GetFileName(), limits);
    if (document.regions.empty() && !document.dropped.empty() && document.dropped.back().line >= 0
        && document.dropped.back().reason.starts_with("it is no XML"))
        return Refuse("It " + document.dropped.back().reason.substr(3) + " (line "
            + std::to_string(document.dropped.back().line) + ").");
    return TakeRegions(std::move(document),
        "The preset holds no <sample> in a <group> of <groups> that a key plays.");
}

bool MInstFileSfz::OpenSfz(const std::string& path)
{
    const SfzLimits limits;
    const auto read = ReadText(path);
    if (!read)
        return false;
    const std::vector<std::uint8_t>& bytes = *read;
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
    return TakeRegions(ParseSfz(text, GetFileName(), reader, limits),
        "The SFZ file holds no region with a sample that a key plays.");
}

std::string MInstFileSfz::Described() const
{
    return "the " + kind + " '" + GetFileName() + "'";
}

std::unique_ptr<MSoundFile> MInstFileSfz::OpenSample(const SfzRegion& region)
{
    FileRecord file;
    file.path = SamplePath(region.sample);
    file.name = StoredFileName(file.path);
    services.Progress().SetSector("Opening Sound File:  ", file.name);
    FileLocator::Status status = FileLocator::Status::Skipped;
    std::unique_ptr<MSoundFile> owned = LocateSample(file, status);
    if (status == FileLocator::Status::Skipped) {
        // The search for a moved file knows only the file's name: where it was looked for first
        // is the SFZ file's to say.
        services.prompter.Show("The " + kind + " '" + GetFileName() + "' names the sample '"
                + region.sample + "' at line " + std::to_string(region.sampleLine)
                + (region.sampleFile == GetFileName() ? "" : " of '" + region.sampleFile + "'")
                + ", but there is no file '" + file.path
                + "', nor one whose name differs from it only in case.",
            Icon::Warning, Buttons::Ok);
        missingSample = true;
    }
    return owned;
}

std::unique_ptr<MReadableFile> MInstFileSfz::Duplicate() const
{
    auto copy = std::make_unique<MInstFileSfz>(services);
    if (!copy->CopyFrom(*this))
        return nullptr;
    copy->CopyRegionsFrom(*this);
    copy->kind = kind;
    copy->formatName = formatName;
    return copy;
}

bool MSfzFormatInterpreter::Recognises(const std::string& path) const
{
    return EndsWithExtension(path, ".sfz") || EndsWithExtension(path, ".dspreset");
}

std::unique_ptr<MReadableFile> MSfzFormatInterpreter::Create(const std::string& path) const
{
    auto instrument = std::make_unique<MInstFileSfz>(services);
    if (!(EndsWithExtension(path, ".dspreset") ? instrument->OpenDecentSampler(path)
                                               : instrument->OpenSfz(path)))
        return nullptr;
    return instrument;
}

} // namespace cardmill
