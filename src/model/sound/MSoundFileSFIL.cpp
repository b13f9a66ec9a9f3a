#include "model/sound/MSoundFileSFIL.h"

#include "model/TextEncoding.h"
#include "model/TextFields.h"

namespace cardmill {

namespace {

constexpr std::size_t kMarkerSlots = 348;
constexpr std::size_t kMarkerSlotBytes = 40;
constexpr int kMarkerSlotCount = 10;

} // namespace

MSoundFileSFIL::MSoundFileSFIL(Services& services)
    : MSoundFile(services)
{
    littleEndian = false;
}

std::unique_ptr<MReadableFile> MSoundFileSFIL::Duplicate() const
{
    auto copy = std::make_unique<MSoundFileSFIL>(services);
    CopyTo(*copy);
    return copy;
}

bool MSoundFileSFIL::OpenSound(const std::string& path)
{
    const bool opened = SetFile(path) && ReadSoundDesigner();
    CloseStream();
    return opened;
}

std::optional<std::vector<std::uint8_t>> MSoundFileSFIL::ReadHeaderBlock()
{
    std::vector<std::uint8_t> header(kHeaderBytes);
    if (!Seek(0) || !Read(header) || ByteReader(header).U16At(0, Endian::Big) != kHeaderBytes)
        return std::nullopt;
    return header;
}

bool MSoundFileSFIL::ReadSoundDesigner()
{
    const auto header = ReadHeaderBlock();
    if (!header)
        return Refuse("Its Sound Designer header is cut short.");
    if (!ParseHeader(*header))
        return false;
    FinishHeader();
    return true;
}

bool MSoundFileSFIL::ParseHeader(const std::vector<std::uint8_t>& bytes)
{
    const ByteReader header(bytes);
    const auto rate = static_cast<std::int32_t>(*header.U32At(1020, Endian::Big));
    // A rate of 0 would divide by zero wherever seconds or pitch are computed.
    if (rate <= 0)
        return Refuse("Its sample rate is not a rate.");
    dataOffset = kHeaderBytes;
    frameCount = static_cast<std::uint32_t>(
        std::min<std::uint64_t>((fileSize - kHeaderBytes) / 2, UINT32_MAX));
    bytesPerSample = 2;
    channelCount = 1;
    isStereo = false;
    loopCount = 0;
    sampleRate = static_cast<float>(rate);

    const auto loop = [&](std::size_t startAt, std::size_t endAt, std::size_t modeAt) {
        const auto start = static_cast<std::int32_t>(*header.U32At(startAt, Endian::Big));
        const auto end = static_cast<std::int32_t>(*header.U32At(endAt, Endian::Big));
        const std::uint8_t mode = *header.U8At(modeAt);
        if (start < 0 || start >= end)
            return;
        const bool on = mode == 1 || mode == 2;
        SetLoopEntry(loopCount, static_cast<std::uint32_t>(start / 2),
            static_cast<std::uint32_t>(end / 2), on, mode == 2);
        if (on)
            ++loopCount;
    };
    loop(752, 756, 1332);
    loop(1324, 1328, 1333);

    markerCount = 0;
    for (int k = 0; k < kMarkerSlotCount && markerCount < kMaxMarkers; ++k) {
        const std::size_t slot = kMarkerSlots + kMarkerSlotBytes * static_cast<std::size_t>(k);
        if (*header.U8At(slot) != 0)
            continue;
        SoundMarker& marker = markers[static_cast<std::size_t>(markerCount++)];
        marker.frame = *header.U32At(slot + 2, Endian::Big) / 2;
        marker.id = static_cast<std::uint16_t>(k + 1);
        marker.name = DecodeText(
            ReadLengthPrefixed(header, slot + 6, kMarkerNameLimit + 1), Charset::MacRoman);
        marker.named = !marker.name.empty();
    }
    comment = DecodeText(
        ReadLengthPrefixed(header, 763, 256).substr(0, kCommentLimit), Charset::MacRoman);
    return true;
}

bool MSFILFormatInterpreter::Recognises(const std::string& path) const
{
    if (EndsWithExtension(path, ".sd"))
        return true;
    MSoundFileSFIL probe(services);
    return probe.SetFile(path) && probe.ReadHeaderBlock().has_value();
}

std::unique_ptr<MReadableFile> MSFILFormatInterpreter::Create(const std::string& path) const
{
    auto sound = std::make_unique<MSoundFileSFIL>(services);
    if (!sound->OpenSound(path))
        return nullptr;
    return sound;
}

} // namespace cardmill
