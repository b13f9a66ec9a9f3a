#include "model/sound/MSoundFileWAV.h"

#include "model/TextEncoding.h"
#include "model/TextFields.h"

namespace cardmill {

namespace {

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;
// Files with thousands of LIST chunks must not make opening quadratic.
constexpr int kListLimit = 256;

} // namespace

MSoundFileWAV::MSoundFileWAV(Services& services)
    : MSoundFile(services)
{
    littleEndian = true;
    isUnsigned8 = true;
}

std::unique_ptr<MReadableFile> MSoundFileWAV::Duplicate() const
{
    auto copy = std::make_unique<MSoundFileWAV>(services);
    CopyTo(*copy);
    return copy;
}

bool MSoundFileWAV::OpenSound(const std::string& path)
{
    const bool opened = SetFile(path) && ReadHeader();
    CloseStream();
    return opened;
}

bool MSoundFileWAV::ReadHeader()
{
    if (!FindForm(FourCC("RIFF"), FourCC("WAVE")))
        return Refuse("It is not a RIFF WAVE file.");
    if (!ReadChunks())
        return false;
    FinishHeader();
    return true;
}

bool MSoundFileWAV::ReadChunks()
{
    if (!ReadFormat() || !ReadDataInfo())
        return false;
    ReadSampler();
    ReadLists();
    return true;
}

bool MSoundFileWAV::ReadFormat()
{
    const auto chunk = ReadChunk(FourCC("fmt "), 0);
    if (!chunk)
        return Refuse("It has no format chunk (\"fmt \"), or the file is cut short.");
    const ByteReader body = *ByteReader(*chunk).From(8);
    const auto tag = body.U16At(0, Endian::Little);
    const auto channels = body.U16At(2, Endian::Little);
    const auto rate = body.U32At(4, Endian::Little);
    const auto bits = body.U16At(14, Endian::Little);
    if (!tag || !channels || !rate || !bits)
        return Refuse("Its format chunk is cut short.");
    bool pcm = *tag == kFormatPcm;
    // WAVE_FORMAT_EXTENSIBLE (written by sox for 24-bit data) is plain PCM when its sub-format
    // GUID begins with the PCM tag.
    if (*tag == kFormatExtensible)
        pcm = body.U16At(24, Endian::Little) == kFormatPcm;
    // A header that would divide by zero or that no converter can take is not understood.
    const std::uint16_t format = *tag == kFormatExtensible ? *body.U16At(24, Endian::Little) : *tag;
    if (!pcm)
        return Refuse(format == 3 ? "Its samples are 32-bit floating point; the card takes whole "
                                    "numbers (PCM) only."
                : format == 6     ? "Its samples are A-law compressed; the card takes PCM only."
                : format == 7     ? "Its samples are mu-law compressed; the card takes PCM only."
                                  : Format("Its samples are compressed (WAVE format %u); the card "
                                               "takes PCM only.",
                                      unsigned { format }));
    if (*channels < 1 || *channels > 2)
        return Refuse(Format(
            "It has %u channels; the card takes mono or stereo sounds.", unsigned { *channels }));
    if (*bits == 0 || *bits > 32)
        return Refuse(Format("Its samples have %u bits.", unsigned { *bits }));
    if (static_cast<std::int32_t>(*rate) <= 0)
        return Refuse("Its sample rate is not a rate.");
    channelCount = static_cast<std::uint8_t>(*channels);
    isStereo = channelCount > 1;
    sampleRate = static_cast<float>(static_cast<std::int32_t>(*rate));
    bytesPerSample = static_cast<std::uint8_t>((*bits - 1) / 8 + 1);
    return true;
}

bool MSoundFileWAV::ReadDataInfo()
{
    std::uint8_t head[8];
    if (!FindChunk(FourCC("data"), 0) || !Read(head))
        return Refuse("It has no sample data (\"data\" chunk), or the file is cut short.");
    const auto position = Tell();
    if (!position || *position > UINT32_MAX)
        return false;
    dataOffset = static_cast<std::uint32_t>(*position);
    const std::uint32_t length = *ByteReader(head).U32At(4, Endian::Little);
    frameCount = length / (std::uint32_t { channelCount } * bytesPerSample);
    // A data chunk that claims more than the file holds gives the frames really there.
    LimitFramesToFile();
    return true;
}

void MSoundFileWAV::ReadSampler()
{
    const auto chunk = ReadChunk(FourCC("smpl"), 0);
    if (!chunk)
        return;
    const ByteReader body = *ByteReader(*chunk).From(8);
    if (const auto note = body.U32At(12, Endian::Little))
        fileRootKey = *note;
    if (const auto fraction = body.U32At(16, Endian::Little))
        fileFineTune = static_cast<std::uint16_t>((std::uint64_t { *fraction } * 25) >> 22);
    const auto count = body.U32At(28, Endian::Little);
    if (!count)
        return;
    const int wanted = std::min<int>(static_cast<std::uint16_t>(*count), kMaxLoops);
    loopCount = 0;
    for (int i = 0; i < wanted; ++i) {
        const auto record = body.SubAt(36 + 24 * static_cast<std::size_t>(i), 24);
        if (!record)
            break;
        SetLoopEntry(i, *record->U32At(8, Endian::Little), *record->U32At(12, Endian::Little), true,
            *record->U32At(4, Endian::Little) == 1);
        loopCount = i + 1;
    }
}

void MSoundFileWAV::ReadLists()
{
    for (int index = 0; index < kListLimit && ReadList(index); ++index) { }
}

bool MSoundFileWAV::ReadList(int index)
{
    const auto head = ReadChunkHead(FourCC("LIST"), index, 12);
    if (!head || head->size() < 12)
        return false;
    if (!ByteReader(*head).HasCodeAt(8, "INFO"))
        return true;
    const auto inside = Tell();
    if (!inside)
        return false;
    const std::uint64_t savedStart = formStart;
    const std::uint64_t savedEnd = formEnd;
    formStart = *inside;
    formEnd = *inside + *ByteReader(*head).U32At(4, Endian::Little) - 4;
    ReadComment();
    formStart = savedStart;
    formEnd = savedEnd;
    return true;
}

void MSoundFileWAV::ReadComment()
{
    if (!comment.empty())
        return;
    const auto chunk = ReadChunk(FourCC("ICMT"), 0);
    if (!chunk)
        return;
    const auto text = std::span<const std::uint8_t>(*chunk).subspan(8);
    comment = DecodeText(ReadTerminated(text).substr(0, kCommentLimit), Charset::Windows1252);
}

bool MWAVFormatInterpreter::Recognises(const std::string& path) const
{
    if (EndsWithExtension(path, ".wav"))
        return true;
    MReadableFile probe(services);
    return probe.SetFile(path) && probe.FindForm(FourCC("RIFF"), FourCC("WAVE"));
}

std::unique_ptr<MReadableFile> MWAVFormatInterpreter::Create(const std::string& path) const
{
    auto sound = std::make_unique<MSoundFileWAV>(services);
    if (!sound->OpenSound(path))
        return nullptr;
    return sound;
}

} // namespace cardmill
