#pragma once

#include "model/MReadableFileDispatcher.h"
#include "model/bank/MParamFile.h"

#include <cstdint>
#include <vector>

namespace cardmill {

/// A captured bulk dump of a program bank (a raw System Exclusive file) for the synthesizer
/// family (0x0E) or the drum module (0x19): every message checked, its 7-bit data unpacked, and
/// laid out at compile time as the card's bank area expects.
class MParamFileRawSex final : public MParamFile {
public:
    static constexpr std::size_t kZeltaFileBytes = 79479;
    static constexpr std::size_t kPerculaFileBytes = 69525;
    static constexpr std::size_t kZeltaBankBytes = 65512;
    static constexpr std::size_t kPerculaBankBytes = 58624;
    /// What the card's bank area starts with, before the bank's bytes.
    static constexpr std::uint8_t kZeltaBankMark[4] = { 0xA5, 0xC3, 0x5A, 0xA5 };
    static constexpr std::uint8_t kPerculaBankMark[4] = { 0x69, 0x96, 0x12, 0x48 };

    explicit MParamFileRawSex(Services& services);

    /// SetFile, then the validity test of the first 20 bytes.
    bool OpenBank(const std::string& path);

    std::unique_ptr<MReadableFile> Duplicate() const override;
    std::string GetFormatName() const override;
    std::string GetInfoLine1() const override;
    std::string GetInfoLine2() const override { return "Bulk Dump"; }
    std::string GetInfoLine3() const override;
    int LoadStep() override;
    bool UpdateCompiledSize() override;
    int CompileBank(ProgressView& progress, std::span<std::uint8_t> destination) override;

    std::uint16_t Family() const { return family; }
    std::uint8_t SourceModel() const { return sourceModel; }
    /// The bytes the compiled bank occupies (65512 or 58624).
    std::size_t CompiledBankBytes() const;

    /// The inverse of the 7-bit packing of SysEx data: `count` bytes out of the packed bytes,
    /// 8 packed bytes for each 7; false when `packed` holds too few.
    static bool Unpack(std::span<const std::uint8_t> packed, std::span<std::uint8_t> out);

private:
    bool CheckAndUnpack();
    std::size_t FileBytes() const { return family == 0x19 ? kPerculaFileBytes : kZeltaFileBytes; }

    std::vector<std::uint8_t> bank;
    int loadState = 0;
    std::uint8_t sourceModel = 0;
    std::uint16_t family = 0;
};

class MRawSexFormatInterpreter final : public MFormatInterpreter {
public:
    using MFormatInterpreter::MFormatInterpreter;
    bool Recognises(const std::string& path) const override;
    std::unique_ptr<MReadableFile> Create(const std::string& path) const override;
};

} // namespace cardmill
