#include "model/instrument/MInstFileSampleCell.h"

#include "model/Services.h"
#include "model/TextEncoding.h"
#include "model/TextFields.h"
#include "model/sound/MSoundFile.h"
#include "platform/ProgressView.h"

#include <algorithm>
#include <map>

namespace cardmill {

namespace {

constexpr std::size_t kZoneStride = 18;
constexpr std::size_t kSampleRecordUsed = 64; // the sample record's fields end at 64
constexpr std::size_t kFileRecordUsed = 68; // the file list record's fields end at 68
constexpr std::uint16_t kNoLayer = 15;
constexpr std::size_t kMinimumLayoutBytes = 122;

/// A file name stored in a 32-byte field: a Pascal string (a length byte, then the characters)
/// or, when the first byte cannot be a length, a NUL-terminated text.
std::string NameField(const ByteReader& field)
{
    const auto length = field.U8At(0);
    if (length && *length > 0 && *length < field.Size()) {
        const auto text = field.SubAt(1, *length);
        bool printable = true;
        for (const std::uint8_t c : text->Data())
            printable = printable && c >= 0x20;
        if (printable)
            return std::string(text->Data().begin(), text->Data().end());
    }
    return ReadTerminated(field.Data());
}

} // namespace

MInstFileSampleCellChunked::MInstFileSampleCellChunked(
    Services& services, SampleCellType fileType, bool pcLayout)
    : MInstFileSampleCell(services, fileType)
    , pc(pcLayout)
{
    littleEndian = pc;
}

bool MInstFileSampleCellChunked::OpenSampleCell(const std::string& path)
{
    const bool opened = SetFile(path)
        && FindForm(FourCC(pc ? "RIFF" : "FORM"), FourCCOf(TypeCode())) && ReadChunks()
        && ParseMaps() && CheckIndices();
    CloseStream();
    if (!opened)
        ReleaseChunks();
    return opened;
}

bool MInstFileSampleCellChunked::ReadChunks()
{
    fileList = ReadChunk(FourCC(pc ? "FPTH" : "FILP"), 0);
    sampleTable = ReadChunk(FourCC("KeyS"), 0);
    keyMaps = ReadChunk(FourCC("KeyP"), 0);
    if (!fileList || !sampleTable || !keyMaps)
        return false;
    const ByteReader table(*sampleTable);
    const ByteReader keys(*keyMaps);
    const auto value = table.U32At(16, Order());
    const auto mapCount = keys.U16At(8, Order());
    if (!value || !mapCount || *mapCount == 0 || *mapCount > kMaxGroups)
        return false;
    sampleBytes = *value;
    groupCount = *mapCount;
    if (pc) {
        // The path list: a length, then that many bytes of a path, one entry after the other.
        pathEntries.clear();
        const ByteReader list(*fileList);
        for (std::uint64_t at = 12;;) {
            const auto length = list.U32At(static_cast<std::size_t>(at), Order());
            if (!length || at + 4 + *length > list.Size())
                break;
            pathEntries.push_back(static_cast<std::size_t>(at));
            at += 4 + std::uint64_t { *length };
        }
    }
    if (const auto annotation = ReadChunk(FourCC("ANNO"), 0)) {
        const ByteReader anno(*annotation);
        const auto length = anno.U32At(4, Order());
        if (length && *length > 1) {
            const auto text = anno.From(8);
            comment = DecodeText(
                ReadTerminated(text->Data().first(std::min<std::size_t>(*length, text->Size())))
                    .substr(0, kCommentLimit),
                TextCharset());
        }
    }
    return true;
}

bool MInstFileSampleCellChunked::ParseMaps()
{
    const ByteReader keys(*keyMaps);
    const auto perMap = keys.U16At(10, Order());
    const auto zoneLess4 = keys.U16At(12, Order());
    if (!perMap || !zoneLess4)
        return false;
    maps.clear();
    std::uint64_t offset = 14;
    for (int m = 0; m < groupCount; ++m) {
        const auto key = keys.U16At(static_cast<std::size_t>(offset), Order());
        const auto zoneCount = keys.U16At(static_cast<std::size_t>(offset) + 4, Order());
        if (!key || !zoneCount || *zoneCount == 0)
            return false;
        Map map { static_cast<std::uint8_t>(*key >> 8), {} };
        for (std::size_t z = 0; z < *zoneCount; ++z) {
            const auto zone
                = keys.SubAt(static_cast<std::size_t>(offset) + 6 + kZoneStride * z, kZoneStride);
            if (!zone)
                return false;
            std::uint32_t index = *zone->U32At(0, Order());
            if (index == 0xFFFFFFFF)
                index = *zone->U32At(4, Order());
            map.zones.push_back({ index, *zone->U16At(8, Order()), *zone->U16At(10, Order()),
                *zone->U16At(14, Order()), *zone->U16At(16, Order()) });
        }
        maps.push_back(std::move(map));
        offset += std::uint64_t { *zoneCount } * (std::uint64_t { *zoneLess4 } + 4) + *perMap;
        offset
            = std::min<std::uint64_t>(offset, keys.Size() + 1); // past the end: the next map fails
    }
    return true;
}

std::optional<ByteReader> MInstFileSampleCellChunked::SampleRecordAt(std::uint32_t index) const
{
    const ByteReader table(*sampleTable);
    const auto size = table.U32At(12, Order());
    if (!size || *size < kSampleRecordUsed)
        return std::nullopt;
    const std::uint64_t at = std::uint64_t { *size } * index + 20;
    if (at > table.Size())
        return std::nullopt;
    return table.SubAt(static_cast<std::size_t>(at), kSampleRecordUsed);
}

std::optional<FileRecord> MInstFileSampleCellChunked::FileEntryAt(std::uint32_t index) const
{
    const ByteReader list(*fileList);
    FileRecord record;
    if (pc) {
        if (index >= pathEntries.size())
            return std::nullopt;
        const std::size_t at = pathEntries[index];
        const auto path = list.SubAt(at + 4, *list.U32At(at, Order()));
        record.path = DecodeText(ReadTerminated(path->Data()), Charset::Windows1252);
        record.name = CutText(StoredFileName(record.path), kNameLimit);
        return record;
    }
    const auto size = list.U32At(12, Order());
    if (!size || *size < kFileRecordUsed)
        return std::nullopt;
    const std::uint64_t at = std::uint64_t { *size } * index + 16;
    if (at > list.Size())
        return std::nullopt;
    const auto entry = list.SubAt(static_cast<std::size_t>(at), kFileRecordUsed);
    if (!entry)
        return std::nullopt;
    record.volumeRef = static_cast<std::int16_t>(*entry->U32At(28, Order()));
    record.directoryId = *entry->U32At(64, Order());
    record.name
        = CutText(DecodeText(NameField(*entry->SubAt(32, 32)), Charset::MacRoman), kNameLimit);
    record.path = record.name;
    return record;
}

bool MInstFileSampleCellChunked::CheckIndices() const
{
    std::map<std::uint32_t, bool> checked;
    for (const Map& map : maps) {
        for (const Zone& zone : map.zones) {
            if (checked.count(zone.sampleIndex))
                continue;
            const auto record = SampleRecordAt(zone.sampleIndex);
            if (!record || !FileEntryAt(*record->U32At(0, Order())))
                return false;
            checked[zone.sampleIndex] = true;
        }
    }
    return true;
}

void MInstFileSampleCellChunked::ReleaseChunks()
{
    fileList.reset();
    sampleTable.reset();
    keyMaps.reset();
}

void MInstFileSampleCellChunked::ChooseKeptLayers()
{
    for (std::size_t m = 0; m < maps.size(); ++m) {
        upperKeys[m] = maps[m].topKey;
        groupTable[m] = static_cast<std::uint8_t>(std::min<std::size_t>(maps[m].zones.size(), 255));
    }
    const auto widths = KeyWidths();
    // How often each value occurs as a zone's upper bound, weighted by the keys of its map.
    std::array<long, 16> weight {};
    std::array<bool, 16> seen {};
    for (std::size_t m = 0; m < maps.size(); ++m) {
        const auto& zones = maps[m].zones;
        for (std::size_t z = 0; z < zones.size(); ++z) {
            const std::uint16_t upper = z + 1 < zones.size() ? zones[z + 1].layer : kNoLayer;
            if (upper >= 1 && upper <= kNoLayer) {
                weight[upper] += widths[m];
                seen[upper] = true;
            }
        }
    }
    const int distinct = static_cast<int>(std::count(seen.begin(), seen.end(), true));
    layerMode = static_cast<std::uint16_t>(std::clamp(distinct, 1, 3));
    keptLayers = { kNoLayer, kNoLayer, kNoLayer };
    // The heaviest values below "none", as the fallback when no map shows the layers itself.
    std::vector<std::uint16_t> byWeight;
    for (std::uint16_t value = 1; value < kNoLayer; ++value)
        if (seen[value])
            byWeight.push_back(value);
    std::stable_sort(byWeight.begin(), byWeight.end(),
        [&](std::uint16_t a, std::uint16_t b) { return weight[a] > weight[b]; });

    if (layerMode == 2) {
        for (const Map& map : maps)
            if (map.zones.size() == 2)
                keptLayers[0] = map.zones[1].layer;
        if (keptLayers[0] == kNoLayer && !byWeight.empty())
            keptLayers[0] = byWeight.front();
    } else if (layerMode == 3) {
        long heaviest = -1;
        for (std::size_t m = 0; m < maps.size(); ++m) {
            if (maps[m].zones.size() == 3 && widths[m] > heaviest) {
                heaviest = widths[m];
                keptLayers[0] = maps[m].zones[1].layer;
                keptLayers[1] = maps[m].zones[2].layer;
            }
        }
        if (heaviest < 0 && byWeight.size() >= 2) {
            keptLayers[0] = std::min(byWeight[0], byWeight[1]);
            keptLayers[1] = std::max(byWeight[0], byWeight[1]);
        }
    }
    groupSize = layerMode;
    const auto bound = [](std::uint16_t kept) {
        return static_cast<std::uint16_t>(kept >= kNoLayer ? 128 : (kept + 1) * 8);
    };
    voiceByte14 = bound(keptLayers[0]);
    voiceByte15 = bound(keptLayers[1]);
}

std::size_t MInstFileSampleCellChunked::FindZone(const Map& map, std::uint16_t kept)
{
    const auto& zones = map.zones;
    std::size_t z = 0;
    std::uint16_t upper = kNoLayer;
    for (; z < zones.size(); ++z) {
        upper = z + 1 < zones.size() ? zones[z + 1].layer : kNoLayer;
        if (upper >= kept)
            break;
    }
    z = std::min(z, zones.size() - 1);
    if (upper != kept || zones.size() != layerMode)
        simplified = true;
    return z;
}

int MInstFileSampleCellChunked::LoadStep()
{
    if (isLoaded)
        return 1;
    if (!keyMaps)
        return -1;
    if (!isLoading) {
        BeginLoad();
        currentMap = 0;
        layerPosition = 0;
        previousZone = SIZE_MAX;
        ChooseKeptLayers();
    }
    if (!LoadZone()) {
        isLoading = false;
        ReleaseChunks();
        return -1;
    }
    if (++layerPosition >= layerMode) {
        layerPosition = 0;
        ++currentMap;
    }
    if (currentMap < maps.size())
        return 0;
    isLoading = false;
    ReleaseChunks();
    isLoaded = true;
    TellLoadChanges("In the instrument file '" + GetFileName() + "', ");
    UpdateCompiledSize();
    return 1;
}

bool MInstFileSampleCellChunked::LoadZone()
{
    const Map& map = maps[currentMap];
    const std::size_t z = FindZone(map, keptLayers[layerPosition]);
    const Position at { currentMap, layerPosition };
    if (layerPosition != 0 && z == previousZone) {
        sampleIds[currentMap][layerPosition] = sampleIds[currentMap][layerPosition - 1u];
        return true;
    }
    previousZone = z;
    const Zone& zone = map.zones[z];
    const ByteReader record = *SampleRecordAt(zone.sampleIndex);
    const FileRecord file = *FileEntryAt(*record.U32At(0, Order()));
    services.Progress().SetSector("Opening Sound File:  ", file.name);
    FileLocator::Status status = FileLocator::Status::Skipped;
    std::unique_ptr<MSoundFile> owned = LocateSample(file, status);
    if (!owned)
        return false;

    SampleParams params;
    params.rootKey = zone.rootKey;
    params.fineTune = static_cast<std::int16_t>(Convert(*record.U16At(54, Order())));
    int first = -1, second = -1;
    SoundLoop loop;
    const bool looped = owned->ChooseLoops(first, second) == 1 && *record.U16At(60, Order()) != 0
        && owned->GetLoop(loop, first);
    params.paramByte2 = static_cast<std::int16_t>(Convert(looped ? *record.U16At(62, Order()) : 0));
    params.channel = owned->IsStereo() && isStereo ? *record.U16At(8, Order()) : 0;
    params.volume = LevelVolume(zone.level);
    params.startFrame = owned->GetStartFrame();
    if (params.startFrame == 0)
        params.startFrame = *record.U32At(50, Order()) + 256u * zone.startOffset;
    if (params.startFrame != 0)
        hasStartOffset = true;
    if (looped) {
        params.loopStart = loop.start;
        params.loopEnd = loop.end;
        params.looping = 1;
    } else {
        owned->TakeValueChanges(); // what the sound file said of its loops is not played
    }
    if (!owned->SetParams(params))
        return false;
    NoteSampleChanges(*owned);
    owned->Register();
    Adopt(std::move(owned), at);
    return true;
}

std::optional<SampleCellType> MSampleCellFormatInterpreter::TypeAt(
    std::span<const std::uint8_t> head)
{
    const ByteReader bytes(head);
    for (SampleCellType type :
        { SampleCellType::In, SampleCellType::Sd, SampleCellType::Si, SampleCellType::Ss })
        if (bytes.HasCodeAt(8, SampleCellCode(type)))
            return type;
    return std::nullopt;
}

bool MSampleCellFormatInterpreter::Recognises(const std::string& path) const
{
    MReadableFile probe(services);
    std::uint8_t head[12];
    return probe.SetFile(path) && probe.Read(head) && TypeAt(head).has_value();
}

namespace {

template <SampleCellType Type>
std::unique_ptr<MInstFileSampleCell> OpenAs(
    Services& services, const std::string& path, std::uint64_t size)
{
    std::vector<std::unique_ptr<MInstFileSampleCell>> candidates;
    if (size >= kMinimumLayoutBytes) {
        candidates.push_back(
            std::make_unique<MInstFileSCType<MInstFileSampleCell_PC, Type>>(services));
        candidates.push_back(
            std::make_unique<MInstFileSCType<MInstFileSampleCell_2, Type>>(services));
    }
    candidates.push_back(std::make_unique<MInstFileSCType<MInstFileSampleCell_1, Type>>(services));
    for (auto& candidate : candidates)
        if (candidate->OpenSampleCell(path))
            return std::move(candidate);
    return nullptr;
}

} // namespace

std::unique_ptr<MReadableFile> MSampleCellFormatInterpreter::Create(const std::string& path) const
{
    MReadableFile probe(services);
    std::uint8_t head[12];
    if (!probe.SetFile(path) || !probe.Read(head))
        return nullptr;
    const auto type = TypeAt(head);
    const std::uint64_t size = probe.FileSize();
    switch (type.value_or(SampleCellType::In)) {
    case SampleCellType::In:
        return OpenAs<SampleCellType::In>(services, path, size);
    case SampleCellType::Sd:
        return OpenAs<SampleCellType::Sd>(services, path, size);
    case SampleCellType::Si:
        return OpenAs<SampleCellType::Si>(services, path, size);
    case SampleCellType::Ss:
        break;
    }
    return OpenAs<SampleCellType::Ss>(services, path, size);
}

} // namespace cardmill
