#include "model/sound/MSoundFileEmbedded.h"

#include "model/TextEncoding.h"
#include "model/instrument/InstrumentLibrary.h"
#include "platform/FileSystem.h"

namespace cardmill {

bool MSoundFileEmbedded::OpenEmbedded(std::vector<std::uint8_t> wav, const std::string& libraryPath,
    const std::string& sampleKey, const std::string& sampleName, std::string formatName)
{
    format = std::move(formatName);
    AttachMemory(std::move(wav));
    SetFile(JoinLibraryPath(libraryPath, { {}, {}, sampleKey }));
    record.name = CutText(sampleName.empty() ? "sample" : sampleName, kNameLimit);
    const bool opened = ReadHeader();
    CloseStream();
    return opened;
}

std::vector<std::uint8_t> MSoundFileEmbedded::WavBytes() const
{
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(fileSize));
    const auto stream = OpenSecondStream();
    bytes.resize(stream ? stream->Read(bytes) : 0);
    return bytes;
}

std::unique_ptr<MReadableFile> MSoundFileEmbedded::Duplicate() const
{
    auto copy = std::make_unique<MSoundFileEmbedded>(services);
    CopyTo(*copy);
    copy->format = format;
    return copy;
}

} // namespace cardmill
