#include "model/sound/MSoundFileSndfile.h"

#include "model/TextFields.h"
#include "platform/ByteReader.h"
#include "platform/ByteWriter.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <sndfile.h>

namespace cardmill {

namespace {

/// libsndfile reads from bytes in memory: the file read once, or a fuzzer's input.
struct MemoryFile {
    std::span<const std::uint8_t> bytes;
    sf_count_t at = 0;

    static sf_count_t Length(void* self) { return Of(self).Size(); }
    static sf_count_t Seek(sf_count_t offset, int whence, void* self)
    {
        MemoryFile& file = Of(self);
        const sf_count_t base = whence == SEEK_CUR ? file.at : whence == SEEK_END ? file.Size() : 0;
        file.at = std::clamp<sf_count_t>(base + offset, 0, file.Size());
        return file.at;
    }
    static sf_count_t Read(void* out, sf_count_t count, void* self)
    {
        MemoryFile& file = Of(self);
        const sf_count_t n = std::clamp<sf_count_t>(count, 0, file.Size() - file.at);
        if (n > 0) // an empty file has no bytes to copy from
            std::memcpy(out, file.bytes.data() + file.at, static_cast<std::size_t>(n));
        file.at += n;
        return n;
    }
    static sf_count_t Write(const void*, sf_count_t, void*) { return 0; }
    static sf_count_t Tell(void* self) { return Of(self).at; }

    sf_count_t Size() const { return static_cast<sf_count_t>(bytes.size()); }
    static MemoryFile& Of(void* self) { return *static_cast<MemoryFile*>(self); }
};

/// The sampler chunk a FLAC file carries among its RIFF chunks (APPLICATION blocks "riff"),
/// whole with its header; nothing when there is none.
std::optional<std::vector<std::uint8_t>> FlacSamplerChunk(std::span<const std::uint8_t> bytes)
{
    const ByteReader file(bytes);
    if (!file.HasCodeAt(0, "fLaC"))
        return std::nullopt;
    std::size_t at = 4;
    for (int block = 0; block < 1024; ++block) {
        const auto head = file.U32At(at, Endian::Big);
        if (!head)
            return std::nullopt;
        const std::size_t length = *head & 0xFFFFFF;
        const unsigned type = (*head >> 24) & 0x7F;
        if (type == 2 && length >= 12 && file.HasCodeAt(at + 4, "riff")
            && file.HasCodeAt(at + 8, "smpl")) {
            if (const auto size = file.U32At(at + 12, Endian::Little);
                size && 8 + std::size_t { *size } <= length - 4) {
                const auto chunk = file.SubAt(at + 8, 8 + std::size_t { *size });
                if (chunk)
                    return std::vector<std::uint8_t>(chunk->Data().begin(), chunk->Data().end());
            }
        }
        if (*head & 0x80000000u)
            return std::nullopt; // the last metadata block
        at += 4 + length;
    }
    return std::nullopt;
}

/// A sampler chunk of libsndfile's instrument data: root key, fine tune and loops.
std::vector<std::uint8_t> SamplerChunk(const SF_INSTRUMENT& instrument, int rate)
{
    const int loops = std::clamp(instrument.loop_count, 0, 16);
    ByteWriter out;
    constexpr auto le = Endian::Little;
    out.Append("smpl").U32(static_cast<std::uint32_t>(36 + 24 * loops), le).U32(0, le).U32(0, le);
    out.U32(rate > 0 ? 1000000000u / static_cast<std::uint32_t>(rate) : 0, le);
    out.U32(static_cast<std::uint32_t>(instrument.basenote), le);
    const int cents = std::clamp<int>(instrument.detune, 0, 99);
    out.U32(static_cast<std::uint32_t>((std::uint64_t(cents) << 32) / 100), le);
    out.U32(0, le).U32(0, le).U32(static_cast<std::uint32_t>(loops), le).U32(0, le);
    for (int i = 0; i < loops; ++i) {
        const auto& loop = instrument.loops[i];
        out.U32(static_cast<std::uint32_t>(i), le)
            .U32(loop.mode == SF_LOOP_ALTERNATING ? 1 : 0, le)
            .U32(loop.start, le)
            .U32(loop.end, le)
            .U32(0, le)
            .U32(loop.count, le);
    }
    return out.Take();
}

/// A WAV file of floating-point samples, as audio programs export them (the WAV reader takes
/// whole numbers only): its format chunk, found among the first chunks, says format 3 (or 3 in
/// an extensible format's subformat).
bool IsFloatWav(const ByteReader& bytes)
{
    constexpr std::uint16_t kFloat = 3;
    if (!bytes.HasCodeAt(0, "RIFF") || !bytes.HasCodeAt(8, "WAVE"))
        return false;
    std::size_t at = 12;
    for (int chunk = 0; chunk < 64; ++chunk) {
        const auto size = bytes.U32At(at + 4, Endian::Little);
        if (!size)
            return false;
        if (bytes.HasCodeAt(at, "fmt ")) {
            const auto tag = bytes.U16At(at + 8, Endian::Little);
            const auto sub = bytes.U16At(at + 8 + 24, Endian::Little);
            return tag == kFloat || (tag == 0xFFFE && sub == kFloat);
        }
        at += 8 + std::size_t { *size } + (*size & 1);
    }
    return false;
}

/// Whether the first bytes are those of a format we hand to libsndfile: FLAC, Ogg, CAF, Wave64
/// or AIFF-C. Only those reach it, so no other decoder of the library sees a file of ours.
bool IsSndfileFormat(std::span<const std::uint8_t> head)
{
    const ByteReader bytes(head);
    return bytes.HasCodeAt(0, "fLaC") || bytes.HasCodeAt(0, "OggS") || bytes.HasCodeAt(0, "caff")
        || bytes.HasCodeAt(0, "riff") || (bytes.HasCodeAt(0, "FORM") && bytes.HasCodeAt(8, "AIFC"))
        || IsFloatWav(bytes);
}

std::string FormatNameOf(int format)
{
    SF_FORMAT_INFO info {};
    info.format = format & SF_FORMAT_TYPEMASK;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) != 0 || !info.name)
        return "libsndfile";
    return info.name;
}

} // namespace

MSoundFileSndfile::MSoundFileSndfile(Services& services)
    : MSoundFileWAV(services)
{
}

std::unique_ptr<MReadableFile> MSoundFileSndfile::Duplicate() const
{
    auto copy = std::make_unique<MSoundFileSndfile>(services);
    CopyTo(*copy);
    copy->formatName = formatName;
    return copy;
}

std::optional<DecodedSound> DecodeSound(std::span<const std::uint8_t> bytes, std::string& error)
{
    MemoryFile memory { bytes };
    SF_VIRTUAL_IO io { &MemoryFile::Length, &MemoryFile::Seek, &MemoryFile::Read,
        &MemoryFile::Write, &MemoryFile::Tell };
    SF_INFO info {};
    const std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> file(
        sf_open_virtual(&io, SFM_READ, &info, &memory), &sf_close);
    if (!file) {
        error = std::string("It is no sound file that libsndfile reads (") + sf_strerror(nullptr)
            + ").";
        return std::nullopt;
    }
    if (info.channels < 1 || info.channels > 2) {
        error = Format(
            "It has %d channels; the card takes mono and stereo sounds only.", info.channels);
        return std::nullopt;
    }
    if (info.samplerate < 1000 || info.samplerate > 384000) {
        error = Format("It gives the rate %d Hz, which no sound has.", info.samplerate);
        return std::nullopt;
    }
    DecodedSound sound;
    sound.rate = info.samplerate;
    sound.channels = info.channels;
    const int sub = info.format & SF_FORMAT_SUBMASK;
    sound.bits = sub == SF_FORMAT_PCM_24 || sub == SF_FORMAT_PCM_32 || sub == SF_FORMAT_FLOAT
            || sub == SF_FORMAT_DOUBLE || sub == SF_FORMAT_ALAC_24 || sub == SF_FORMAT_ALAC_32
        ? 24
        : 16;
    const auto channels = static_cast<std::size_t>(info.channels);
    const std::uint64_t mostFrames = MSoundFileSndfile::kMostSampleBytes / (channels * 3);
    sf_command(file.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);

    // The frames, left-justified in 32 bits, cut to the word size of the WAV image.
    std::vector<int> chunk(4096 * channels);
    std::uint64_t frames = 0;
    while (const sf_count_t got = sf_readf_int(file.get(), chunk.data(), 4096)) {
        if (got < 0 || (frames += static_cast<std::uint64_t>(got)) > mostFrames) {
            error = "It holds more sound than Cardmill decodes.";
            return std::nullopt;
        }
        for (std::size_t i = 0; i < static_cast<std::size_t>(got) * channels; ++i) {
            const auto word = static_cast<std::uint32_t>(chunk[i]);
            if (sound.bits == 24)
                sound.data.push_back(static_cast<std::uint8_t>(word >> 8));
            sound.data.push_back(static_cast<std::uint8_t>(word >> 16));
            sound.data.push_back(static_cast<std::uint8_t>(word >> 24));
        }
    }
    if (sf_error(file.get()) != SF_ERR_NO_ERROR) {
        error = std::string("It can't be decoded to its end (") + sf_strerror(file.get()) + ").";
        return std::nullopt;
    }
    sound.sampler = FlacSamplerChunk(bytes).value_or(std::vector<std::uint8_t>());
    SF_INSTRUMENT instrument {};
    if (sound.sampler.empty()
        && sf_command(file.get(), SFC_GET_INSTRUMENT, &instrument, sizeof instrument) == SF_TRUE)
        sound.sampler = SamplerChunk(instrument, info.samplerate);
    sound.formatName = FormatNameOf(info.format);
    return sound;
}

std::vector<std::uint8_t> WavImage(const DecodedSound& sound)
{
    constexpr auto le = Endian::Little;
    const auto blockAlign = static_cast<std::uint16_t>(sound.channels * (sound.bits / 8));
    const auto& sampler = sound.sampler;
    const std::size_t samplerBytes = sampler.size() + (sampler.size() & 1);
    ByteWriter wav;
    wav.Append("RIFF")
        .U32(static_cast<std::uint32_t>(4 + 24 + samplerBytes + 8 + sound.data.size()), le)
        .Append("WAVE");
    wav.Append("fmt ").U32(16, le).U16(1, le).U16(static_cast<std::uint16_t>(sound.channels), le);
    wav.U32(static_cast<std::uint32_t>(sound.rate), le)
        .U32(static_cast<std::uint32_t>(sound.rate) * blockAlign, le)
        .U16(blockAlign, le)
        .U16(static_cast<std::uint16_t>(sound.bits), le);
    wav.Append(sampler);
    wav.Fill(sampler.size() & 1);
    wav.Append("data").U32(static_cast<std::uint32_t>(sound.data.size()), le).Append(sound.data);
    return wav.Take();
}

bool MSoundFileSndfile::OpenSound(const std::string& path)
{
    if (!SetFile(path))
        return Refuse("It can't be read.");
    if (FileSize() > kMostSampleBytes)
        return Refuse(Format("It holds %llu bytes; Cardmill decodes sound files of at most %llu.",
            static_cast<unsigned long long>(FileSize()),
            static_cast<unsigned long long>(kMostSampleBytes)));
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(FileSize()));
    const bool read = bytes.empty() || Read(bytes);
    CloseStream();
    if (!read)
        return Refuse("It can't be read to its end.");
    if (!IsSndfileFormat(bytes))
        return Refuse("It is no FLAC, Ogg, Wave64, CAF, AIFF-C or floating-point WAV file.");
    std::string error;
    std::optional<DecodedSound> sound = DecodeSound(bytes, error);
    if (!sound)
        return Refuse(error);
    std::vector<std::uint8_t>().swap(bytes);
    formatName = sound->formatName;
    AttachMemory(WavImage(*sound));
    sound.reset();
    SetFile(path);
    if (const auto status = StatFile(path))
        record.modDate = SecondsSince1904(status->modified);
    const bool opened = ReadHeader();
    CloseStream();
    return opened;
}

bool MSndfileFormatInterpreter::Recognises(const std::string& path) const
{
    for (const char* extension : { ".flac", ".ogg", ".oga", ".opus", ".w64", ".caf", ".aifc" })
        if (EndsWithExtension(path, extension))
            return true;
    MReadableFile probe(services);
    // Enough for a WAV file's format chunk after a few others.
    std::vector<std::uint8_t> head(static_cast<std::size_t>(
        std::min<std::uint64_t>(probe.SetFile(path) ? probe.FileSize() : 0, 4096)));
    return head.size() >= 12 && probe.Read(head) && IsSndfileFormat(head);
}

std::unique_ptr<MReadableFile> MSndfileFormatInterpreter::Create(const std::string& path) const
{
    auto sound = std::make_unique<MSoundFileSndfile>(services);
    if (!sound->OpenSound(path))
        return nullptr;
    return sound;
}

} // namespace cardmill
