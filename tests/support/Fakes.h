#pragma once

#include "model/instrument/MInstFile.h"
#include "model/sequence/MSeqFile.h"

#include <vector>

namespace cardmill::test {

/// A sequence whose card data is given.
class FakeSequence final : public MSeqFile {
public:
    FakeSequence(Services& services, std::vector<std::uint8_t> data, std::uint16_t outPort = 0)
        : MSeqFile(services)
        , bytes(std::move(data))
    {
        viaOutPort = outPort;
        compiledSize = static_cast<std::uint32_t>(bytes.size());
    }
    std::span<const std::uint8_t> CompiledSequence(ProgressView&, bool) override { return bytes; }
    bool UpdateCompiledSize() override { return false; }

private:
    std::vector<std::uint8_t> bytes;
};

/// A voice of a given header size with no sample data (its header bytes are 0xAB).
class FakeVoice final : public MInstFile {
public:
    FakeVoice(Services& services, std::int16_t group, std::uint32_t headerBytes)
        : MInstFile(services)
        , size(headerBytes)
    {
        category = group;
        compiledSize = headerBytes;
    }
    std::uint32_t GetVoiceHeaderSize() const override { return size; }
    void WriteVoiceHeader(std::span<std::uint8_t>& cursor, std::uint8_t) override
    {
        std::fill_n(cursor.begin(), size, 0xAB);
        cursor = cursor.subspan(size);
    }

private:
    std::uint32_t size;
};

} // namespace cardmill::test
