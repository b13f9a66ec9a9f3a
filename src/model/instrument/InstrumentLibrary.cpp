#include "model/instrument/InstrumentLibrary.h"

#include "model/TextFields.h"
#include "model/instrument/DecentSamplerLibrary.h"
#include "model/instrument/Dls.h"
#include "platform/ByteReader.h"

#include <charconv>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>

namespace cardmill {

namespace {

constexpr std::string_view kPresetMark = "#preset=";
constexpr std::string_view kSampleMark = "#sample=";

enum class Kind { None, SoundFont, Dls, DecentSampler };

Kind KindOf(const std::string& file)
{
    if (EndsWithExtension(file, ".sf2") || EndsWithExtension(file, ".sf3"))
        return Kind::SoundFont;
    if (EndsWithExtension(file, ".dls"))
        return Kind::Dls;
    if (EndsWithExtension(file, ".dslibrary"))
        return Kind::DecentSampler;
    // Only a regular file is looked into: opening a pipe would wait for a writer.
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(file, ignored))
        return Kind::None;
    std::uint64_t size = 0;
    const auto head = FileRanges(file, size)(0, 12);
    if (!head || !ByteReader(*head).HasCodeAt(0, "RIFF"))
        return Kind::None;
    return ByteReader(*head).HasCodeAt(8, "sfbk") ? Kind::SoundFont
        : ByteReader(*head).HasCodeAt(8, "DLS ")  ? Kind::Dls
                                                  : Kind::None;
}

class SoundFontLibrary final : public InstrumentLibrary {
public:
    SoundFontLibrary(SoundFont readFont, RangeReader reader)
        : font(std::move(readFont))
        , read(std::move(reader))
    {
    }
    std::string FormatName() const override
    {
        return font.Compressed() ? "SoundFont 3" : "SoundFont 2";
    }
    std::vector<LibraryPreset> Catalog() const override { return font.Catalog(); }
    SfzDocument Regions(std::size_t preset, const std::string& fileName) const override
    {
        return SoundFontRegions(font, preset, fileName);
    }
    std::string SampleName(const std::string& sample) const override
    {
        // A stereo pair is named after its left side.
        const std::size_t index = Index(sample.substr(0, sample.find(',')));
        return index < font.samples.size() ? font.samples[index].name : std::string();
    }
    std::optional<std::vector<std::uint8_t>> SampleWav(
        const std::string& sample, std::string& error) const override
    {
        return SoundFontSampleWav(font, sample, read, error);
    }

private:
    SoundFont font;
    RangeReader read;
};

class DlsLibrary final : public InstrumentLibrary {
public:
    DlsLibrary(DlsFile readFile, RangeReader reader)
        : file(std::move(readFile))
        , read(std::move(reader))
    {
    }
    std::string FormatName() const override { return "DLS"; }
    std::vector<LibraryPreset> Catalog() const override { return file.Catalog(); }
    SfzDocument Regions(std::size_t preset, const std::string& fileName) const override
    {
        return DlsRegions(file, preset, fileName);
    }
    std::string SampleName(const std::string& sample) const override
    {
        const std::size_t index = Index(sample);
        if (index >= file.waves.size())
            return {};
        return file.waves[index].name.empty() ? "wave " + std::to_string(index + 1)
                                              : file.waves[index].name;
    }
    std::optional<std::vector<std::uint8_t>> SampleWav(
        const std::string& sample, std::string& error) const override
    {
        return DlsSampleWav(file, Index(sample), read, error);
    }

private:
    DlsFile file;
    RangeReader read;
};

} // namespace

std::size_t InstrumentLibrary::Index(std::string_view sample)
{
    std::size_t value = 0;
    const auto [end, fault] = std::from_chars(sample.data(), sample.data() + sample.size(), value);
    return fault == std::errc() && end == sample.data() + sample.size() ? value : SIZE_MAX;
}

LibraryPath SplitLibraryPath(const std::string& path)
{
    // A sample's key (a path inside a zip archive) may hold any text: its mark is the first.
    if (const std::size_t mark = path.find(kSampleMark); mark != std::string::npos)
        return { path.substr(0, mark), {}, path.substr(mark + kSampleMark.size()) };
    if (const std::size_t mark = path.rfind(kPresetMark); mark != std::string::npos)
        return { path.substr(0, mark), path.substr(mark + kPresetMark.size()), {} };
    return { path, {}, {} };
}

std::string JoinLibraryPath(const std::string& file, const LibraryPath& place)
{
    if (!place.sample.empty())
        return file + std::string(kSampleMark) + place.sample;
    return place.preset.empty() ? file : file + std::string(kPresetMark) + place.preset;
}

std::string JoinLibraryPath(const std::string& file, const LibraryPreset& preset)
{
    return JoinLibraryPath(
        file, { {}, std::to_string(preset.bank) + ":" + std::to_string(preset.program), {} });
}

bool IsInstrumentLibrary(const std::string& path)
{
    return KindOf(SplitLibraryPath(path).file) != Kind::None;
}

std::shared_ptr<const InstrumentLibrary> OpenInstrumentLibrary(
    const std::string& path, std::string& error)
{
    const std::string file = SplitLibraryPath(path).file;
    const Kind kind = KindOf(file);
    if (kind == Kind::DecentSampler)
        return ReadDecentSamplerLibrary(file, error);
    std::uint64_t size = 0;
    RangeReader read = FileRanges(file, size);
    if (kind == Kind::Dls) {
        auto dls = ReadDls(read, size, error);
        if (!dls)
            return nullptr;
        return std::make_shared<DlsLibrary>(std::move(*dls), std::move(read));
    }
    auto font = ReadSoundFont(read, size, error);
    if (!font)
        return nullptr;
    return std::make_shared<SoundFontLibrary>(std::move(*font), std::move(read));
}

RangeReader MemoryRanges(const std::vector<std::uint8_t>& bytes)
{
    return [&bytes](
               std::uint64_t at, std::uint64_t count) -> std::optional<std::vector<std::uint8_t>> {
        if (at > bytes.size() || count > bytes.size() - at)
            return std::nullopt;
        return std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(at),
            bytes.begin() + static_cast<std::ptrdiff_t>(at + count));
    };
}

RangeReader FileRanges(const std::string& path, std::uint64_t& size)
{
    auto in = std::make_shared<std::ifstream>(path, std::ios::binary);
    size = 0;
    if (*in) {
        in->seekg(0, std::ios::end);
        const auto end = in->tellg();
        size = end > 0 ? static_cast<std::uint64_t>(end) : 0;
    }
    return [in, size](
               std::uint64_t at, std::uint64_t count) -> std::optional<std::vector<std::uint8_t>> {
        if (!in->is_open() || at > size || count > size - at)
            return std::nullopt;
        in->clear();
        in->seekg(static_cast<std::streamoff>(at));
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
        in->read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
        if (static_cast<std::uint64_t>(in->gcount()) != count)
            return std::nullopt;
        return bytes;
    };
}

std::optional<LibraryCatalog> ReadLibraryCatalog(const std::string& path, std::string& error)
{
    const auto library = OpenInstrumentLibrary(path, error);
    if (!library)
        return std::nullopt;
    return LibraryCatalog { library->FormatName(), library->Catalog() };
}

} // namespace cardmill
