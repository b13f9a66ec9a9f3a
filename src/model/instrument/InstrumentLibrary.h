#pragma once

#include "model/instrument/SoundFont.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cardmill {

/// A file of many instruments (a SoundFont, a DLS file) stands in a project once for each preset
/// taken from it: the stored path is the file's path followed by "#preset=BANK:PROGRAM". A sample
/// of it, which an instrument file may name on its own, is the file's path followed by
/// "#sample=" and the sample's key in the library.
struct LibraryPath {
    std::string file;
    std::string preset; // empty when the path names no preset
    std::string sample; // empty when the path names no sample
};

LibraryPath SplitLibraryPath(const std::string& path);
std::string JoinLibraryPath(const std::string& file, const LibraryPath& place);
std::string JoinLibraryPath(const std::string& file, const LibraryPreset& preset);

/// The presets of a library file, their regions and their samples, whatever its format.
class InstrumentLibrary {
public:
    virtual ~InstrumentLibrary() = default;
    virtual std::string FormatName() const = 0;
    virtual std::vector<LibraryPreset> Catalog() const = 0;
    /// A preset's regions as an SFZ file would state them, `sample` naming a sample of the
    /// library (its index as text).
    virtual SfzDocument Regions(std::size_t preset, const std::string& fileName) const = 0;
    virtual std::string SampleName(const std::string& sample) const = 0;
    /// A region's sample as a WAV file; nothing, with the reason in `error`, when it can't be read.
    virtual std::optional<std::vector<std::uint8_t>> SampleWav(
        const std::string& sample, std::string& error) const = 0;

protected:
    /// A sample's index written as text; SIZE_MAX for any other text.
    static std::size_t Index(std::string_view sample);
};

/// Opens a library file (the path with or without a preset) and reads its lists; nothing, with
/// the reason in `error`, when it is damaged.
std::shared_ptr<const InstrumentLibrary> OpenInstrumentLibrary(
    const std::string& path, std::string& error);

/// Whether the file (its path with or without a preset) is a library of presets.
bool IsInstrumentLibrary(const std::string& path);

/// Reads bytes held in memory by range (tests, the fuzz targets); they must outlive the reader.
RangeReader MemoryRanges(const std::vector<std::uint8_t>& bytes);

/// Reads bytes of a file on disk by range; `size` is set to the file's size.
RangeReader FileRanges(const std::string& path, std::uint64_t& size);

/// The presets of a library file and its format's name; nothing, with the reason in `error`,
/// when it can't be read.
struct LibraryCatalog {
    std::string formatName;
    std::vector<LibraryPreset> presets;
};
std::optional<LibraryCatalog> ReadLibraryCatalog(const std::string& path, std::string& error);

} // namespace cardmill
