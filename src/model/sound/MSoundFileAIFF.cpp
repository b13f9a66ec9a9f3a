#include "model/sound/MSoundFileAIFF.h"

#include "model/TextEncoding.h"
#include "model/TextFields.h"

#include <cmath>

namespace cardmill {

namespace {

/// The body of a chunk kept with its 8-byte header.
ByteReader Body(const std::vector<std::uint8_t>& chunk)
{
    return ByteReader(
        std::span<const std::uint8_t>(chunk).subspan(std::min<std::size_t>(8, chunk.size())));
}

} // namespace

MSoundFileAIFF::MSoundFileAIFF(Services& services)
    : MSoundFile(services)
{
    littleEndian = false;
    isUnsigned8 = false;
}

std::unique_ptr<MReadableFile> MSoundFileAIFF::Duplicate() const
{
    auto copy = std::make_unique<MSoundFileAIFF>(services);
    CopyTo(*copy);
    return copy;
}

bool MSoundFileAIFF::OpenSound(const std::string& path)
{
    const bool opened = SetFile(path) && ReadHeader();
    CloseStream();
    return opened;
}

double MSoundFileAIFF::ExtendedRate(std::uint16_t exponent, std::uint32_t mantissa)
{
    if (exponent >= 16414)
        return mantissa;
    return std::ldexp(static_cast<double>(mantissa), -(16414 - exponent));
}

bool MSoundFileAIFF::ReadHeader()
{
    if (!FindForm(FourCC("FORM"), FourCC("AIFF"))) {
        if (Seek(0) && FindForm(FourCC("FORM"), FourCC("AIFC")))
            return Refuse(
                "It is an AIFF-C file (compressed AIFF); the card takes plain AIFF only.");
        return Refuse("It is not an AIFF file.");
    }
    ReadChunks();
    const bool parsed = ParseChunks();
    FreeChunks();
    if (!parsed)
        return false;
    FinishHeader();
    return true;
}

void MSoundFileAIFF::ReadChunks()
{
    comm = ReadChunk(FourCC("COMM"), 0);
    inst = ReadChunk(FourCC("INST"), 0);
    mark = ReadChunk(FourCC("MARK"), 0);
    comt = ReadChunk(FourCC("COMT"), 0);
    appl = ReadChunk(FourCC("APPL"), 0);
    ssnd = ReadChunkHead(FourCC("SSND"), 0, 16);
    if (ssnd && ssnd->size() == 16) {
        if (const auto position = Tell(); position && *position <= UINT32_MAX)
            dataOffset = static_cast<std::uint32_t>(*position);
        else
            ssnd.reset();
    } else {
        ssnd.reset();
    }
}

void MSoundFileAIFF::FreeChunks()
{
    comm.reset();
    inst.reset();
    mark.reset();
    comt.reset();
    appl.reset();
    ssnd.reset();
}

bool MSoundFileAIFF::ParseChunks()
{
    if (!comm)
        return Refuse("It has no \"COMM\" chunk, or the file is cut short.");
    if (!ssnd)
        return Refuse("It has no sample data (\"SSND\" chunk), or the file is cut short.");
    const ByteReader common = Body(*comm);
    const auto channels = common.U16At(0, Endian::Big);
    const auto frames = common.U32At(2, Endian::Big);
    const auto bits = common.U16At(6, Endian::Big);
    const auto exponent = common.U16At(8, Endian::Big);
    const auto mantissa = common.U32At(10, Endian::Big);
    if (!channels || !frames || !bits || !exponent || !mantissa)
        return Refuse("Its \"COMM\" chunk is cut short.");
    // A header that would divide by zero or that no converter can take is not understood.
    if (*channels < 1 || *channels > 2)
        return Refuse(Format(
            "It has %u channels; the card takes mono or stereo sounds.", unsigned { *channels }));
    if (*bits == 0 || *bits > 32)
        return Refuse(Format("Its samples have %u bits.", unsigned { *bits }));
    channelCount = static_cast<std::uint8_t>(*channels);
    isStereo = channelCount > 1;
    frameCount = *frames;
    bytesPerSample = static_cast<std::uint8_t>((*bits - 1) / 8 + 1);
    sampleRate = static_cast<float>(ExtendedRate(*exponent, *mantissa));
    if (!FormatUsable())
        return false;

    if (inst) {
        const ByteReader instrument = Body(*inst);
        if (instrument.Size() >= 8) {
            fileRootKey = *instrument.U8At(0);
            fileFineTune
                = static_cast<std::uint16_t>(static_cast<std::int8_t>(*instrument.U8At(1)) * 256);
            fileLowKey = *instrument.U8At(2);
            fileHighKey = *instrument.U8At(3);
            fileLowVelocity = *instrument.U8At(4);
            fileHighVelocity = *instrument.U8At(5);
            fileGain = static_cast<std::int16_t>(*instrument.U16At(6, Endian::Big));
        }
    }
    if (comt) {
        const ByteReader comments = Body(*comt);
        const auto count = comments.U16At(0, Endian::Big);
        const auto length = comments.U16At(8, Endian::Big);
        if (count && *count >= 1 && length) {
            const std::size_t available = comments.Size() > 10 ? comments.Size() - 10 : 0;
            const auto text = comments.SubAt(10, std::min<std::size_t>(*length, available));
            if (text)
                comment = DecodeText(
                    std::string(text->Data().begin(), text->Data().end()).substr(0, kCommentLimit),
                    Charset::MacRoman);
        }
    }
    if (appl && comment.empty()) {
        const ByteReader application = Body(*appl);
        if (application.HasCodeAt(0, "Sd2a"))
            comment = DecodeText(ReadLengthPrefixed(application, 14, 256).substr(0, kCommentLimit),
                Charset::MacRoman);
    }
    ParseMarkers();
    ApplySoundOffset();
    return true;
}

void MSoundFileAIFF::ParseMarkers()
{
    if (!mark)
        return;
    long sustainBegin = -1, sustainEnd = -1, releaseBegin = -1, releaseEnd = -1;
    std::uint16_t sustainMode = 0, releaseMode = 0;
    if (inst) {
        const ByteReader instrument = Body(*inst);
        if (instrument.Size() >= 20) {
            sustainMode = *instrument.U16At(8, Endian::Big);
            sustainBegin = *instrument.U16At(10, Endian::Big);
            sustainEnd = *instrument.U16At(12, Endian::Big);
            releaseMode = *instrument.U16At(14, Endian::Big);
            releaseBegin = *instrument.U16At(16, Endian::Big);
            releaseEnd = *instrument.U16At(18, Endian::Big);
        }
    }

    ByteReader markers = Body(*mark);
    const auto count = markers.U16(Endian::Big);
    int sustainFound = 0;
    int releaseFound = 0;
    SoundLoop sustain, release;
    for (int i = 0; count && i < *count; ++i) {
        const auto id = markers.U16(Endian::Big);
        const auto position = markers.U32(Endian::Big);
        const auto length = markers.U8();
        if (!id || !position || !length)
            break;
        // The name's length byte and characters together fill an even number of bytes.
        const auto nameBytes = markers.Bytes(*length);
        if (!nameBytes)
            break;
        if (*length % 2 == 0)
            markers.Skip(1);
        bool matched = false;
        if (*id == sustainBegin) {
            sustain.start = *position;
            ++sustainFound;
            matched = true;
        }
        if (*id == sustainEnd) {
            sustain.end = *position;
            ++sustainFound;
            matched = true;
        }
        if (*id == releaseBegin) {
            release.start = *position;
            ++releaseFound;
            matched = true;
        }
        if (*id == releaseEnd) {
            release.end = *position;
            ++releaseFound;
            matched = true;
        }
        if (matched || markerCount >= kMaxMarkers)
            continue;
        std::string name(nameBytes->begin(), nameBytes->end());
        // Names written by some tools carry trailing NUL bytes.
        while (!name.empty() && name.back() == '\0')
            name.pop_back();
        name = DecodeText(name, Charset::MacRoman);
        SoundMarker& marker = this->markers[static_cast<std::size_t>(markerCount++)];
        marker.frame = *position;
        marker.id = *id;
        if (name.empty()) {
            marker.named = false;
        } else if (name[0] == '#') {
            const auto blank = name.find(' ');
            marker.named = false;
            marker.name = blank == std::string::npos ? std::string() : name.substr(blank + 1);
        } else {
            marker.named = true;
            marker.name = name.substr(0, kMarkerNameLimit);
        }
    }

    loopCount = 0;
    SetLoopEntry(1, release.start, release.end, false, false);
    if (sustainFound >= 2 && sustainMode != 0) {
        SetLoopEntry(0, sustain.start, sustain.end, true, sustainMode == 2);
        loopCount = 1;
    } else {
        SetLoopEntry(0, release.start, release.end, false, false);
    }
    if (releaseFound >= 2 && releaseMode != 0) {
        SetLoopEntry(loopCount, release.start, release.end, true, releaseMode == 2);
        ++loopCount;
    }
}

void MSoundFileAIFF::ApplySoundOffset()
{
    const ByteReader sound = Body(*ssnd);
    const std::uint32_t offset = *sound.U32At(0, Endian::Big);
    const std::uint32_t length = *ByteReader(*ssnd).U32At(4, Endian::Big);
    const std::uint64_t start = std::uint64_t { dataOffset } + offset;
    dataOffset = static_cast<std::uint32_t>(std::min<std::uint64_t>(start, UINT32_MAX));
    // Neither the sound chunk's nor the file's real size may be exceeded.
    const std::uint64_t frameBytes = std::uint64_t { channelCount } * bytesPerSample;
    const std::uint64_t inChunk = length > 8 + std::uint64_t { offset }
        ? (length - 8 - std::uint64_t { offset }) / frameBytes
        : 0;
    frameCount = static_cast<std::uint32_t>(std::min<std::uint64_t>(frameCount, inChunk));
    LimitFramesToFile();
}

bool MAIFFFormatInterpreter::Recognises(const std::string& path) const
{
    if (EndsWithExtension(path, ".aiff") || EndsWithExtension(path, ".aif"))
        return true;
    MReadableFile probe(services);
    return probe.SetFile(path) && probe.FindForm(FourCC("FORM"), FourCC("AIFF"));
}

std::unique_ptr<MReadableFile> MAIFFFormatInterpreter::Create(const std::string& path) const
{
    auto sound = std::make_unique<MSoundFileAIFF>(services);
    if (!sound->OpenSound(path))
        return nullptr;
    return sound;
}

} // namespace cardmill
