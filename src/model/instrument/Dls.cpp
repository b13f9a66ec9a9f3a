#include "model/instrument/Dls.h"

#include "model/TextEncoding.h"
#include "model/instrument/RiffChunks.h"
#include "platform/ByteReader.h"
#include "platform/ByteWriter.h"

#include <algorithm>
#include <functional>

namespace cardmill {

namespace {

constexpr auto le = Endian::Little;
constexpr std::uint32_t kDrumBank = 0x80000000u;

std::string InfoName(const ByteReader& info)
{
    std::string name;
    EachChunk(info, [&](std::string_view id, std::string_view, const ByteReader& body) {
        if (id == "INAM") {
            name.assign(body.Data().begin(), body.Data().end());
            name.resize(std::min(name.find('\0'), name.size()));
        }
    });
    return DecodeText(name, Charset::Windows1252);
}

std::optional<DlsSampleInfo> ReadWsmp(const ByteReader& wsmp)
{
    const auto size = wsmp.U32At(0, le);
    const auto unity = wsmp.U16At(4, le);
    const auto fine = wsmp.U16At(6, le);
    const auto gain = wsmp.U32At(8, le);
    const auto loops = wsmp.U32At(16, le);
    if (!size || !unity || !fine || !gain || !loops)
        return std::nullopt;
    DlsSampleInfo info;
    info.unityNote = *unity;
    info.fineTune = static_cast<std::int16_t>(*fine);
    // The gain is in DLS's relative gain units, 200 * 65536 * log10 of the amplitude ratio: a
    // 65536th of a centibel, 1/655360 dB (DLS level 1, "wsmp" lAttenuation; level 2, lGain).
    info.gain = static_cast<std::int32_t>(*gain) / 655360.0;
    if (*loops > 0) {
        const std::size_t loop = *size;
        const auto type = wsmp.U32At(loop + 4, le);
        const auto start = wsmp.U32At(loop + 8, le);
        const auto length = wsmp.U32At(loop + 12, le);
        if (type && start && length && *length > 0) {
            info.looped = true;
            info.releaseLoop = *type == 1;
            info.loopStart = *start;
            info.loopLength = *length;
        }
    }
    return info;
}

} // namespace

std::optional<DlsFile> ReadDls(
    const RangeReader& read, std::uint64_t size, std::string& error, const DlsLimits& limits)
{
    if (!IsRiffForm(read, "DLS ")) {
        error = "It is not a DLS file.";
        return std::nullopt;
    }
    DlsFile file;
    std::optional<std::vector<std::uint8_t>> lins, ptbl;
    std::uint64_t poolAt = 0, poolEnd = 0;
    for (const RiffChunk& chunk : RangeChunks(read, 12, size)) {
        if (chunk.type == "lins") {
            if (chunk.size > limits.maxListBytes) {
                error = "Its instrument list is larger than Cardmill reads.";
                return std::nullopt;
            }
            lins = read(chunk.at, chunk.size);
        } else if (chunk.id == "ptbl") {
            ptbl = read(chunk.at, std::min<std::uint64_t>(chunk.size, limits.maxListBytes));
        } else if (chunk.type == "wvpl") {
            poolAt = chunk.at;
            poolEnd = chunk.at + chunk.size;
        }
    }
    if (!lins || !ptbl || poolAt == 0) {
        error = std::string("It has no ")
            + (!lins        ? "instrument list"
                    : !ptbl ? "pool table"
                            : "wave pool")
            + ": it is damaged.";
        return std::nullopt;
    }

    // The waves, found where the pool table says, each read up to its data.
    const ByteReader table(*ptbl);
    const std::uint32_t cues = table.U32At(4, le).value_or(0);
    const std::size_t first = table.U32At(0, le).value_or(8);
    for (std::uint32_t cue = 0; cue < cues && cue < (1u << 20); ++cue) {
        const auto offset = table.U32At(first + 4 * std::size_t { cue }, le);
        if (!offset)
            break;
        DlsFile::Wave wave;
        // The wave list that the offset names, and the chunks in it.
        const std::uint64_t at = poolAt + *offset;
        const auto waves = RangeChunks(read, at, poolEnd, 1);
        if (!waves.empty() && waves.front().type == "wave") {
            const RiffChunk& list = waves.front();
            for (const RiffChunk& part : RangeChunks(read, list.at, list.at + list.size)) {
                if (part.id == "data") {
                    wave.dataAt = part.at;
                    wave.dataBytes = part.size;
                    continue;
                }
                if (part.size > 4096)
                    continue;
                const auto body = part.id == "fmt " || part.id == "wsmp" || part.type == "INFO"
                    ? read(part.at, part.size)
                    : std::nullopt;
                if (body && part.id == "fmt ")
                    wave.format = *body;
                else if (body && part.id == "wsmp")
                    wave.sample = ReadWsmp(ByteReader(*body));
                else if (body)
                    wave.name = InfoName(ByteReader(*body));
            }
        }
        file.waves.push_back(std::move(wave));
    }

    std::size_t regionCount = 0;
    EachChunk(
        ByteReader(*lins), [&](std::string_view, std::string_view type, const ByteReader& ins) {
            if (type != "ins " || file.instruments.size() >= limits.maxInstruments)
                return;
            DlsFile::Instrument instrument;
            EachChunk(
                ins, [&](std::string_view id, std::string_view listType, const ByteReader& body) {
                    if (id == "insh") {
                        const std::uint32_t bank = body.U32At(4, le).value_or(0);
                        const std::uint32_t program = body.U32At(8, le).value_or(0);
                        const int number
                            = static_cast<int>(((bank >> 8) & 0x7F) << 7 | (bank & 0x7F));
                        instrument.bank = (bank & kDrumBank) ? 128 + number : number;
                        instrument.program = static_cast<int>(program & 0x7F);
                    } else if (listType == "INFO") {
                        instrument.name = InfoName(body);
                    } else if (listType == "lart" || listType == "lar2") {
                        instrument.articulated = true;
                    } else if (listType == "lrgn") {
                        EachChunk(body,
                            [&](std::string_view, std::string_view rgnType, const ByteReader& rgn) {
                                if ((rgnType != "rgn " && rgnType != "rgn2")
                                    || ++regionCount > limits.maxRegions)
                                    return;
                                DlsFile::Region region;
                                EachChunk(rgn,
                                    [&](std::string_view part, std::string_view partType,
                                        const ByteReader& data) {
                                        if (part == "rgnh") {
                                            region.lokey = data.U16At(0, le).value_or(0);
                                            region.hikey = data.U16At(2, le).value_or(127);
                                            region.lovel = data.U16At(4, le).value_or(0);
                                            region.hivel = data.U16At(6, le).value_or(127);
                                        } else if (part == "wsmp") {
                                            region.sample = ReadWsmp(data);
                                        } else if (part == "wlnk") {
                                            region.wave = data.U32At(8, le).value_or(0xFFFFFFFF);
                                        } else if (partType == "lart" || partType == "lar2") {
                                            region.articulated = true;
                                        }
                                    });
                                instrument.regions.push_back(region);
                            });
                    }
                });
            file.instruments.push_back(std::move(instrument));
        });
    if (file.instruments.empty()) {
        error = "It holds no instrument.";
        return std::nullopt;
    }
    return file;
}

std::vector<LibraryPreset> DlsFile::Catalog() const
{
    std::vector<LibraryPreset> catalog;
    for (std::size_t i = 0; i < instruments.size(); ++i)
        catalog.push_back(CatalogEntry(instruments[i].name, instruments[i].bank,
            instruments[i].program, DlsRegions(*this, i, {}).regions));
    return catalog;
}

SfzDocument DlsRegions(const DlsFile& file, std::size_t index, const std::string& fileName)
{
    SfzDocument document;
    if (index >= file.instruments.size())
        return document;
    const DlsFile::Instrument& instrument = file.instruments[index];
    const std::string where = fileName + ", instrument '" + instrument.name + "'";
    auto drop = [&](const std::string& what, std::string reason) {
        if (document.dropped.size() < 1000)
            document.dropped.push_back({ where, 0, what, std::move(reason) });
    };
    if (instrument.articulated)
        drop("articulation", "envelopes and LFOs are not on the card");
    for (const DlsFile::Region& region : instrument.regions) {
        if (region.articulated)
            drop("articulation", "envelopes and LFOs are not on the card");
        if (region.wave >= file.waves.size()) {
            drop("wlnk", "names a wave the file doesn't hold; the region is left out");
            continue;
        }
        const DlsFile::Wave& wave = file.waves[region.wave];
        const DlsSampleInfo info = region.sample.value_or(wave.sample.value_or(DlsSampleInfo {}));
        SfzRegion out;
        out.file = fileName;
        out.sample = std::to_string(region.wave);
        out.lokey = region.lokey;
        out.hikey = std::min(region.hikey, 127);
        out.lovel = std::max(region.lovel, 1);
        out.hivel = std::min(region.hivel, 127);
        out.keycenter = std::clamp(info.unityNote, 0, 127);
        out.tune = info.fineTune;
        out.volume = info.gain;
        if (info.looped) {
            out.loopMode = info.releaseLoop ? SfzLoopMode::Sustain : SfzLoopMode::Continuous;
            out.loopStart = info.loopStart;
            out.loopEnd = std::int64_t { info.loopStart } + info.loopLength - 1;
        } else {
            out.loopMode = SfzLoopMode::NoLoop;
        }
        document.regions.push_back(std::move(out));
    }
    return document;
}

std::optional<std::vector<std::uint8_t>> DlsSampleWav(const DlsFile& file, std::size_t index,
    const RangeReader& read, std::string& error, const DlsLimits& limits)
{
    if (index >= file.waves.size()) {
        error = "It names a wave it doesn't hold.";
        return std::nullopt;
    }
    const DlsFile::Wave& wave = file.waves[index];
    if (wave.format.size() < 16 || wave.dataAt == 0) {
        error = "The wave '" + wave.name + "' has no format or no data.";
        return std::nullopt;
    }
    if (wave.dataBytes > limits.maxWaveBytes) {
        error = "The wave '" + wave.name + "' is larger than Cardmill reads.";
        return std::nullopt;
    }
    const auto data = read(wave.dataAt, wave.dataBytes);
    if (!data) {
        error = "The wave '" + wave.name + "' can't be read.";
        return std::nullopt;
    }
    ByteWriter out;
    out.Append("RIFF")
        .U32(static_cast<std::uint32_t>(
                 4 + 8 + wave.format.size() + (wave.format.size() & 1) + 8 + data->size()),
            le)
        .Append("WAVE");
    out.Append("fmt ").U32(static_cast<std::uint32_t>(wave.format.size()), le).Append(wave.format);
    out.Fill(wave.format.size() & 1);
    out.Append("data").U32(static_cast<std::uint32_t>(data->size()), le).Append(*data);
    return out.Take();
}

} // namespace cardmill
