#include "model/instrument/DecentSamplerLibrary.h"

#include "model/TextFields.h"
#include "model/instrument/DecentSamplerParser.h"
#include "model/sound/MSoundFileSndfile.h"
#include "platform/ByteReader.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <zip.h>

namespace cardmill {

namespace {

constexpr std::uint64_t kMostEntryBytes = 256u << 20;
constexpr zip_int64_t kMostEntries = 100000;

class Archive {
public:
    explicit Archive(zip_t* opened, std::vector<std::uint8_t> held = {})
        : zip(opened, &zip_discard)
        , bytes(std::move(held))
    {
    }

    zip_int64_t Count() const { return std::min(zip_get_num_entries(zip.get(), 0), kMostEntries); }
    std::string Name(zip_int64_t index) const
    {
        const char* name = zip_get_name(zip.get(), static_cast<zip_uint64_t>(index), 0);
        return name ? name : "";
    }
    /// An entry's bytes, at most `limit` of them; nothing when it can't be read or is larger.
    std::optional<std::vector<std::uint8_t>> Read(zip_int64_t index, std::uint64_t limit) const
    {
        zip_stat_t stat;
        if (zip_stat_index(zip.get(), static_cast<zip_uint64_t>(index), 0, &stat) != 0
            || !(stat.valid & ZIP_STAT_SIZE) || stat.size > limit)
            return std::nullopt;
        const std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> file(
            zip_fopen_index(zip.get(), static_cast<zip_uint64_t>(index), 0), &zip_fclose);
        if (!file)
            return std::nullopt;
        std::vector<std::uint8_t> out(static_cast<std::size_t>(stat.size));
        // The stated size is believed only as a limit: a damaged entry may give fewer bytes.
        const zip_int64_t got = zip_fread(file.get(), out.data(), out.size());
        if (got < 0 || static_cast<std::uint64_t>(got) != stat.size)
            return std::nullopt;
        return out;
    }

private:
    std::unique_ptr<zip_t, void (*)(zip_t*)> zip;
    std::vector<std::uint8_t> bytes; // the zip's own bytes, when read from memory
};

class DecentSamplerLibrary final : public InstrumentLibrary {
public:
    explicit DecentSamplerLibrary(std::shared_ptr<const Archive> zip)
        : archive(std::move(zip))
    {
        std::map<std::string, zip_int64_t> entries; // name in capitals -> index
        for (zip_int64_t i = 0; i < archive->Count(); ++i) {
            const std::string name = archive->Name(i);
            entries[UpperAscii(name)] = i;
            if (EndsWithExtension(name, ".dspreset") && !name.starts_with("__MACOSX/"))
                presetEntries.push_back(i);
        }
        for (std::size_t p = 0; p < presetEntries.size(); ++p) {
            const std::string name = archive->Name(presetEntries[p]);
            const auto text = archive->Read(presetEntries[p], SfzLimits {}.maxFileBytes);
            SfzDocument document = text
                ? ParseDecentSampler(
                    std::string_view(reinterpret_cast<const char*>(text->data()), text->size()),
                    std::filesystem::path(name).filename().string())
                : SfzDocument {};
            // Each sample's path, relative to its preset, becomes the index of a zip entry.
            for (SfzRegion& region : document.regions) {
                const std::string inside = std::filesystem::path(FolderOf(name) + region.sample)
                                               .lexically_normal()
                                               .generic_string();
                const auto found = entries.find(UpperAscii(inside));
                const auto known = std::find(samples.begin(), samples.end(), inside);
                if (found != entries.end() && known == samples.end()) {
                    samples.push_back(inside);
                    sampleEntries.push_back(found->second);
                }
                region.sample = found == entries.end()
                    ? "missing:" + inside
                    : std::to_string(
                        std::find(samples.begin(), samples.end(), inside) - samples.begin());
            }
            catalog.push_back(CatalogEntry(std::filesystem::path(name).stem().string(), 0,
                static_cast<int>(p), document.regions));
            documents.push_back(std::move(document));
        }
    }

    bool Empty() const { return catalog.empty(); }
    std::string FormatName() const override { return "DecentSampler library"; }
    std::vector<LibraryPreset> Catalog() const override { return catalog; }
    SfzDocument Regions(std::size_t preset, const std::string&) const override
    {
        if (preset >= documents.size())
            return {};
        SfzDocument document = documents[preset];
        // A sample the preset names and the zip doesn't hold is named, and its region left out.
        std::erase_if(document.regions, [&](const SfzRegion& region) {
            if (!region.sample.starts_with("missing:"))
                return false;
            document.dropped.push_back({ region.file, region.line, "path",
                "the library holds no sample '" + region.sample.substr(8) + "'; left out" });
            return true;
        });
        return document;
    }
    std::string SampleName(const std::string& key) const override
    {
        const std::size_t sample = Index(key);
        return sample < samples.size() ? std::filesystem::path(samples[sample]).filename().string()
                                       : std::string();
    }
    std::optional<std::vector<std::uint8_t>> SampleWav(
        const std::string& key, std::string& error) const override
    {
        const std::size_t sample = Index(key);
        if (sample >= sampleEntries.size()) {
            error = "It names a sample it doesn't hold.";
            return std::nullopt;
        }
        auto bytes = archive->Read(sampleEntries[sample], kMostEntryBytes);
        if (!bytes) {
            error = "The sample '" + samples[sample] + "' can't be read out of the library.";
            return std::nullopt;
        }
        const ByteReader head(*bytes);
        if (head.HasCodeAt(0, "RIFF") && head.HasCodeAt(8, "WAVE"))
            return bytes;
        // Other formats (AIFF, FLAC, Ogg) become a WAV image, as libsndfile decodes them; no
        // other decoder of the library sees a sample of a library.
        const bool aiff
            = head.HasCodeAt(0, "FORM") && (head.HasCodeAt(8, "AIFF") || head.HasCodeAt(8, "AIFC"));
        if (!aiff && !head.HasCodeAt(0, "fLaC") && !head.HasCodeAt(0, "OggS")) {
            error = "The sample '" + samples[sample] + "' is no WAV, AIFF, FLAC or Ogg file.";
            return std::nullopt;
        }
        auto decoded = DecodeSound(*bytes, error);
        if (!decoded) {
            error = "The sample '" + samples[sample] + "' can't be decoded: " + error;
            return std::nullopt;
        }
        return WavImage(*decoded);
    }

private:
    std::shared_ptr<const Archive> archive;
    std::vector<zip_int64_t> presetEntries;
    std::vector<LibraryPreset> catalog;
    std::vector<SfzDocument> documents;
    std::vector<std::string> samples; // paths in the zip
    std::vector<zip_int64_t> sampleEntries;
};

std::shared_ptr<const InstrumentLibrary> Library(
    std::shared_ptr<const Archive> archive, std::string& error)
{
    auto library = std::make_shared<DecentSamplerLibrary>(std::move(archive));
    if (library->Empty()) {
        error = "It holds no DecentSampler preset (.dspreset).";
        return nullptr;
    }
    return library;
}

std::string ZipError(int code)
{
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    return "It is no zip archive that can be read (" + text + ").";
}

} // namespace

std::shared_ptr<const InstrumentLibrary> ReadDecentSamplerLibrary(
    const std::string& path, std::string& error)
{
    int code = 0;
    zip_t* zip = zip_open(path.c_str(), ZIP_RDONLY, &code);
    if (!zip) {
        error = ZipError(code);
        return nullptr;
    }
    return Library(std::make_shared<Archive>(zip), error);
}

std::shared_ptr<const InstrumentLibrary> ReadDecentSamplerLibrary(
    std::vector<std::uint8_t> bytes, std::string& error)
{
    zip_error_t problem;
    zip_error_init(&problem);
    zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &problem);
    zip_t* zip = source ? zip_open_from_source(source, ZIP_RDONLY, &problem) : nullptr;
    if (!zip) {
        if (source)
            zip_source_free(source);
        error = ZipError(zip_error_code_zip(&problem));
        zip_error_fini(&problem);
        return nullptr;
    }
    zip_error_fini(&problem);
    return Library(std::make_shared<Archive>(zip, std::move(bytes)), error);
}

} // namespace cardmill
