#include "model/instrument/InstrumentLibrary.h"

#include "model/TextFields.h"
#include "platform/ByteReader.h"

#include <fstream>
#include <memory>

namespace cardmill {

namespace {

constexpr std::string_view kPresetMark = "#preset=";

bool IsSoundFontName(const std::string& file)
{
    return EndsWithExtension(file, ".sf2") || EndsWithExtension(file, ".sf3");
}

bool HasSoundFontHead(const std::string& file)
{
    std::uint64_t size = 0;
    const auto head = FileRanges(file, size)(0, 12);
    return head && ByteReader(*head).HasCodeAt(0, "RIFF") && ByteReader(*head).HasCodeAt(8, "sfbk");
}

} // namespace

LibraryPath SplitLibraryPath(const std::string& path)
{
    const std::size_t mark = path.rfind(kPresetMark);
    if (mark == std::string::npos)
        return { path, {} };
    return { path.substr(0, mark), path.substr(mark + kPresetMark.size()) };
}

std::string JoinLibraryPath(const std::string& file, const LibraryPath& preset)
{
    return preset.preset.empty() ? file : file + std::string(kPresetMark) + preset.preset;
}

std::string JoinLibraryPath(const std::string& file, const LibraryPreset& preset)
{
    return JoinLibraryPath(
        file, { {}, std::to_string(preset.bank) + ":" + std::to_string(preset.program) });
}

bool IsInstrumentLibrary(const std::string& path)
{
    const std::string file = SplitLibraryPath(path).file;
    return IsSoundFontName(file) || HasSoundFontHead(file);
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
    const std::string file = SplitLibraryPath(path).file;
    std::uint64_t size = 0;
    const RangeReader read = FileRanges(file, size);
    const auto font = ReadSoundFont(read, size, error);
    if (!font)
        return std::nullopt;
    return LibraryCatalog { font->Compressed() ? "SoundFont 3" : "SoundFont 2", font->Catalog() };
}

} // namespace cardmill
