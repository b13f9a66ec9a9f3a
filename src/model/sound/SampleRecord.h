#pragma once

#include "model/FileRecord.h"
#include "model/sound/MSoundFile.h"

#include <optional>

namespace cardmill {

/// The 392-byte record of one sample in instrument and project files: the sample's file record,
/// then its settings (smoothing, root key, fine tune, tuning value, volume byte, channel,
/// looping, loop start, loop end and start frame; the numbers big-endian).
struct SampleRecord {
    static constexpr std::size_t kSize = 392;

    FileRecord file;
    std::uint8_t smoothing = 0;
    SampleParams params;

    /// The record of a sound as it stands.
    static SampleRecord Of(const MSoundFile& sound);
    static std::optional<SampleRecord> Read(const ByteReader& bytes);
    void Write(ByteWriter& out) const;
};

} // namespace cardmill
