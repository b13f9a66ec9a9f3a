#pragma once

#include "Builders.h"

#include <string>
#include <vector>

namespace cardmill::test {

/// A Cardmill instrument file with any key table, group size and sample records.
class CmtBuilder {
public:
    struct Sample {
        std::string path;
        std::uint8_t smoothing = 0;
        std::uint8_t rootKey = 60;
        std::uint8_t fineTune = 0;
        std::uint8_t volume = 252;
        std::uint8_t channel = 0;
        std::uint8_t looping = 0;
        std::uint32_t loopStart = 0, loopEnd = 0, startFrame = 0;
    };

    CmtBuilder& Version(std::uint8_t major, std::uint8_t minor);
    CmtBuilder& Groups(std::uint8_t groupCount, std::uint8_t groupSize,
        const std::vector<std::uint8_t>& upperKeys);
    CmtBuilder& Add(const Sample& sample);
    /// The stored sample count differs from the records that follow.
    CmtBuilder& ClaimSamples(std::uint16_t count);
    Bytes Build() const;

private:
    std::uint8_t major = 3, minor = 0;
    std::uint8_t groups = 1, size = 1;
    std::vector<std::uint8_t> keys { 127 };
    std::vector<Sample> samples;
    int claimed = -1;
};

/// A SampleCell instrument in the second (big-endian "FORM") or PC (little-endian "RIFF") layout.
class SampleCellBuilder {
public:
    struct Zone {
        std::uint32_t sample;
        std::uint16_t layer = 0;
        std::uint16_t level = 99;
        std::uint16_t startOffset = 0;
        std::uint16_t rootKey = 60;
    };
    struct Map {
        std::uint8_t topKey;
        std::vector<Zone> zones;
    };
    struct SampleEntry {
        std::uint32_t file;
        std::uint16_t channel = 0;
        std::uint32_t start = 0;
        std::uint16_t fine = 63;
        std::uint16_t loopOn = 0;
        std::uint16_t tuning = 63;
    };

    SampleCellBuilder(bool pcLayout, std::string typeCode)
        : pc(pcLayout)
        , code(std::move(typeCode))
    {
    }
    SampleCellBuilder& File(const std::string& nameOrPath);
    SampleCellBuilder& Sample(const SampleEntry& entry);
    SampleCellBuilder& AddMap(const Map& map);
    SampleCellBuilder& Annotation(const std::string& text, std::uint32_t claimedLength);
    SampleCellBuilder& KeyBytes(std::size_t offset, std::uint8_t value); // a damaged key map
    Bytes Build() const;

private:
    bool pc;
    std::string code;
    std::vector<std::string> files;
    std::vector<SampleEntry> samples;
    std::vector<Map> maps;
    std::string annotation;
    std::int64_t annotationLength = -1;
    std::vector<std::pair<std::size_t, std::uint8_t>> keyPatches;
};

} // namespace cardmill::test
