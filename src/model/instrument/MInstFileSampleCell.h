#pragma once

#include "model/MReadableFileDispatcher.h"
#include "model/TextEncoding.h"
#include "model/instrument/MInstFileInstrument.h"

#include <array>
#include <optional>
#include <vector>

namespace cardmill {

/// The four type codes of SampleCell instruments: multi- or single-sample, mono or stereo.
enum class SampleCellType { In, Sd, Si, Ss };

constexpr const char* SampleCellCode(SampleCellType type)
{
    switch (type) {
    case SampleCellType::In:
        return "SCin";
    case SampleCellType::Sd:
        return "SCsd";
    case SampleCellType::Si:
        return "SCsi";
    case SampleCellType::Ss:
        break;
    }
    return "SCss";
}
constexpr bool IsStereoType(SampleCellType type)
{
    return type == SampleCellType::Si || type == SampleCellType::Ss;
}
constexpr bool IsMultiSampleType(SampleCellType type)
{
    return type == SampleCellType::In || type == SampleCellType::Si;
}

/// The instrument files of the SampleCell sampler card, another vendor's format: sound files
/// laid out in key maps, each split into zones by a layer value. Three layouts (first, second,
/// PC) and four type codes; the first layout is recognised but never opened.
class MInstFileSampleCell : public MInstFileInstrument {
public:
    MInstFileSampleCell(Services& services, SampleCellType fileType)
        : MInstFileInstrument(services)
        , type(fileType)
    {
        // The mono types are forced to mono: their samples take both channels mixed.
        isStereo = IsStereoType(type);
    }

    /// The type code: the form type the file must carry.
    virtual const char* TypeCode() const = 0;
    /// Opens the file in this class's layout; false when it is not one.
    virtual bool OpenSampleCell(const std::string& path) = 0;

    /// A SampleCell tuning value t in the model's units: (t x 5 - 315) x 40.
    static int Convert(int value) { return (value * 5 - 315) * 40; }
    /// A SampleCell level (0 to 99) as a volume in dB.
    static float LevelVolume(int level) { return static_cast<float>(99 - level) * -0.25f; }

protected:
    SampleCellType type;
};

/// The first layout: its classes exist but open no file.
class MInstFileSampleCell_1 : public MInstFileSampleCell {
public:
    MInstFileSampleCell_1(Services& services, SampleCellType fileType)
        : MInstFileSampleCell(services, fileType)
        , layoutValue(IsStereoType(fileType) ? 1001 : 1000)
    {
    }
    std::string GetFormatName() const override { return "SampleCell (TM)"; }
    bool OpenSampleCell(const std::string&) override { return false; }
    std::uint16_t LayoutValue() const { return layoutValue; }

private:
    std::uint16_t layoutValue;
};

/// The second and PC layouts: three chunks (file list, sample table, key maps), big-endian in
/// the second layout ("FORM"), little-endian in the PC layout ("RIFF"). Every index, count and
/// size in them is checked when the file is opened, so loading can trust them.
class MInstFileSampleCellChunked : public MInstFileSampleCell {
public:
    MInstFileSampleCellChunked(Services& services, SampleCellType fileType, bool pcLayout);

    bool OpenSampleCell(const std::string& path) override;
    int LoadStep() override;

    std::uint16_t LayerMode() const { return layerMode; }
    const std::array<std::uint16_t, 3>& KeptLayers() const { return keptLayers; }
    bool Simplified() const { return simplified; }

private:
    struct Zone {
        std::uint32_t sampleIndex;
        std::uint16_t layer;
        std::uint16_t level;
        std::uint16_t startOffset;
        std::uint16_t rootKey;
    };
    struct Map {
        std::uint8_t topKey;
        std::vector<Zone> zones;
    };

    bool ReadChunks();
    bool ParseMaps();
    bool CheckIndices() const;
    void ReleaseChunks();
    void ChooseKeptLayers();
    /// The zone of a map for a kept layer value: the first whose upper bound (the next zone's
    /// layer value, 15 for the last zone) is at least the kept value, or the last zone.
    std::size_t FindZone(const Map& map, std::uint16_t kept);
    std::optional<ByteReader> SampleRecordAt(std::uint32_t index) const;
    std::optional<FileRecord> FileEntryAt(std::uint32_t index) const;
    bool LoadZone();

    Endian Order() const { return pc ? Endian::Little : Endian::Big; }
    /// The PC layout is written by the Windows program, the others by the Mac one.
    Charset TextCharset() const { return pc ? Charset::Windows1252 : Charset::MacRoman; }

    bool pc;
    std::optional<std::vector<std::uint8_t>> fileList, sampleTable, keyMaps;
    std::vector<Map> maps;
    std::vector<std::size_t> pathEntries; // PC layout: where each entry of the path list starts
    std::uint16_t currentMap = 0;
    std::uint16_t layerPosition = 0;
    std::array<std::uint16_t, 3> keptLayers { 15, 15, 15 };
    std::uint16_t layerMode = 1;
    bool simplified = false;
    std::size_t previousZone = SIZE_MAX;
};

class MInstFileSampleCell_2 : public MInstFileSampleCellChunked {
public:
    MInstFileSampleCell_2(Services& services, SampleCellType fileType)
        : MInstFileSampleCellChunked(services, fileType, false)
    {
    }
    std::string GetFormatName() const override { return "SampleCell II (TM)"; }
};

class MInstFileSampleCell_PC : public MInstFileSampleCellChunked {
public:
    MInstFileSampleCell_PC(Services& services, SampleCellType fileType)
        : MInstFileSampleCellChunked(services, fileType, true)
    {
    }
    std::string GetFormatName() const override { return "SampleCell PC (TM)"; }
};

/// One type code of one layout.
template <typename Layout, SampleCellType Type> class MInstFileSCType final : public Layout {
public:
    explicit MInstFileSCType(Services& services)
        : Layout(services, Type)
    {
    }

    const char* TypeCode() const override { return SampleCellCode(Type); }
    std::string GetInfoLine1() const override
    {
        return IsMultiSampleType(Type) ? "Multi-Sample Instrument" : "Single-Sample Instrument";
    }
    std::string GetInfoLine2() const override { return IsStereoType(Type) ? "Stereo" : "Mono"; }
    std::unique_ptr<MReadableFile> Duplicate() const override
    {
        auto copy = std::make_unique<MInstFileSCType>(this->services);
        if (!copy->CopyFrom(*this))
            return nullptr;
        return copy;
    }
};

using MInstFileSCin_1 = MInstFileSCType<MInstFileSampleCell_1, SampleCellType::In>;
using MInstFileSCsd_1 = MInstFileSCType<MInstFileSampleCell_1, SampleCellType::Sd>;
using MInstFileSCsi_1 = MInstFileSCType<MInstFileSampleCell_1, SampleCellType::Si>;
using MInstFileSCss_1 = MInstFileSCType<MInstFileSampleCell_1, SampleCellType::Ss>;
using MInstFileSCin_2 = MInstFileSCType<MInstFileSampleCell_2, SampleCellType::In>;
using MInstFileSCsd_2 = MInstFileSCType<MInstFileSampleCell_2, SampleCellType::Sd>;
using MInstFileSCsi_2 = MInstFileSCType<MInstFileSampleCell_2, SampleCellType::Si>;
using MInstFileSCss_2 = MInstFileSCType<MInstFileSampleCell_2, SampleCellType::Ss>;
using MInstFileSCin_PC = MInstFileSCType<MInstFileSampleCell_PC, SampleCellType::In>;
using MInstFileSCsd_PC = MInstFileSCType<MInstFileSampleCell_PC, SampleCellType::Sd>;
using MInstFileSCsi_PC = MInstFileSCType<MInstFileSampleCell_PC, SampleCellType::Si>;
using MInstFileSCss_PC = MInstFileSCType<MInstFileSampleCell_PC, SampleCellType::Ss>;

/// Recognises SampleCell files by their type code at offset 8 and picks the class that opens
/// them: for files of at least 122 bytes the PC layout, then the second; then the first.
class MSampleCellFormatInterpreter final : public MFormatInterpreter {
public:
    using MFormatInterpreter::MFormatInterpreter;
    bool Recognises(const std::string& path) const override;
    std::unique_ptr<MReadableFile> Create(const std::string& path) const override;
    /// The type of a file's code at offset 8, if it is one.
    static std::optional<SampleCellType> TypeAt(std::span<const std::uint8_t> head);
};

} // namespace cardmill
