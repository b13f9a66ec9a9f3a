#include "Instruments.h"

#include "model/FileRecord.h"
#include "platform/FileSystem.h"

namespace cardmill::test {

CmtBuilder& CmtBuilder::Version(std::uint8_t majorVersion, std::uint8_t minorVersion)
{
    major = majorVersion;
    minor = minorVersion;
    return *this;
}

CmtBuilder& CmtBuilder::Groups(
    std::uint8_t groupCount, std::uint8_t groupSize, const std::vector<std::uint8_t>& upperKeys)
{
    groups = groupCount;
    size = groupSize;
    keys = upperKeys;
    return *this;
}

CmtBuilder& CmtBuilder::Add(const Sample& sample)
{
    samples.push_back(sample);
    return *this;
}

CmtBuilder& CmtBuilder::ClaimSamples(std::uint16_t count)
{
    claimed = count;
    return *this;
}

Bytes CmtBuilder::Build() const
{
    ByteWriter inst;
    inst.U8(static_cast<std::uint8_t>(groups - 1))
        .U8(static_cast<std::uint8_t>(size - 1))
        .U8(0)
        .U8(0);
    for (std::size_t k = 0; k < 128; ++k)
        inst.U8(k < keys.size() ? keys[k] : 0);
    inst.U32(12345, Endian::Big);
    inst.U16(static_cast<std::uint16_t>(claimed >= 0 ? claimed : static_cast<int>(samples.size())),
        Endian::Big);
    for (const Sample& sample : samples) {
        FileRecord record;
        record.path = sample.path;
        record.name = FileNameOf(sample.path);
        record.WriteStored(inst);
        inst.U8(0)
            .U8(sample.smoothing)
            .U8(sample.rootKey)
            .U8(sample.fineTune)
            .U8(0)
            .U8(sample.volume);
        inst.U8(sample.channel).U8(sample.looping);
        inst.U32(sample.loopStart, Endian::Big)
            .U32(sample.loopEnd, Endian::Big)
            .U32(sample.startFrame, Endian::Big);
    }
    return FormBuilder("ORCM", "CMin", Endian::Big, false)
        .Chunk("VERS", { major, minor })
        .Chunk("INST", inst.Bytes())
        .Build();
}

SampleCellBuilder& SampleCellBuilder::File(const std::string& nameOrPath)
{
    files.push_back(nameOrPath);
    return *this;
}

SampleCellBuilder& SampleCellBuilder::Sample(const SampleEntry& entry)
{
    samples.push_back(entry);
    return *this;
}

SampleCellBuilder& SampleCellBuilder::AddMap(const Map& map)
{
    maps.push_back(map);
    return *this;
}

SampleCellBuilder& SampleCellBuilder::Annotation(
    const std::string& text, std::uint32_t claimedLength)
{
    annotation = text;
    annotationLength = claimedLength;
    return *this;
}

SampleCellBuilder& SampleCellBuilder::KeyBytes(std::size_t offset, std::uint8_t value)
{
    keyPatches.emplace_back(offset, value);
    return *this;
}

Bytes SampleCellBuilder::Build() const
{
    const Endian order = pc ? Endian::Little : Endian::Big;
    ByteWriter list;
    list.Fill(4); // chunk offsets 8 to 11 are not used
    if (pc) {
        for (const std::string& path : files)
            list.U32(static_cast<std::uint32_t>(path.size()), order).Append(path);
    } else {
        list.U32(72, order);
        for (const std::string& name : files) {
            ByteWriter record;
            record.Fill(28).U32(7, order).U8(static_cast<std::uint8_t>(name.size())).Append(name);
            record.Fill(64 - record.Size()).U32(99, order).Fill(4);
            list.Append(record.Bytes());
        }
    }
    ByteWriter table;
    table.Fill(4).U32(64, order).U32(0xFFFFFFFF, order);
    for (const SampleEntry& sample : samples) {
        ByteWriter record;
        record.U32(sample.file, order)
            .Fill(4)
            .U16(sample.channel, order)
            .Fill(50 - 10)
            .U32(sample.start, order);
        record.U16(sample.fine, order).Fill(4).U16(sample.loopOn, order).U16(sample.tuning, order);
        table.Append(record.Bytes());
    }
    ByteWriter keys;
    keys.U16(static_cast<std::uint16_t>(maps.size()), order).U16(6, order).U16(14, order);
    for (const Map& map : maps) {
        keys.U16(static_cast<std::uint16_t>(map.topKey << 8), order)
            .Fill(2)
            .U16(static_cast<std::uint16_t>(map.zones.size()), order);
        for (const Zone& zone : map.zones) {
            keys.U32(zone.sample, order)
                .Fill(4)
                .U16(zone.layer, order)
                .U16(zone.level, order)
                .Fill(2);
            keys.U16(zone.startOffset, order).U16(zone.rootKey, order);
        }
    }
    Bytes keyBytes = keys.Take();
    for (const auto& [offset, value] : keyPatches)
        keyBytes[offset - 8] = value;

    FormBuilder form(pc ? "RIFF" : "FORM", code, order);
    form.Chunk(pc ? "FPTH" : "FILP", list.Bytes())
        .Chunk("KeyS", table.Bytes())
        .Chunk("KeyP", keyBytes);
    if (annotationLength >= 0)
        form.ChunkClaiming("ANNO", static_cast<std::uint32_t>(annotationLength),
            Bytes(annotation.begin(), annotation.end()));
    return form.Build();
}

} // namespace cardmill::test
