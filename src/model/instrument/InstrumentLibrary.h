#pragma once

#include "model/instrument/SoundFont.h"

#include <optional>
#include <string>
#include <vector>

namespace cardmill {

/// A file of many instruments (a SoundFont) stands in a project once for each preset taken
/// from it: the stored path is the file's path followed by "#preset=BANK:PROGRAM".
struct LibraryPath {
    std::string file;
    std::string preset; // empty when the path names no preset
};

LibraryPath SplitLibraryPath(const std::string& path);
std::string JoinLibraryPath(const std::string& file, const LibraryPath& preset);
std::string JoinLibraryPath(const std::string& file, const LibraryPreset& preset);

/// Whether the file (its path with or without a preset) is a library of presets.
bool IsInstrumentLibrary(const std::string& path);

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
