#pragma once

#include "platform/ByteReader.h"
#include "platform/ByteWriter.h"
#include "platform/FileSystem.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace cardmill {

/// The description of a file on disk in the shape of a classic desktop file record. Stored in
/// instrument and project files as 372 bytes (112 in the oldest project files).
struct FileRecord {
    static constexpr std::size_t kSize = 372;
    static constexpr std::size_t kOldSize = 112;
    static constexpr std::size_t kNameField = 64;
    static constexpr std::size_t kVolumeField = 28;
    static constexpr std::size_t kPathField = 260;

    std::array<std::uint8_t, 4> fileType { 'M', 'D', 'O', 'S' };
    std::int16_t volumeRef = -1;
    std::uint32_t directoryId = 0;
    std::string name; // at most 63 characters
    std::string volumeName; // at most 27 characters; empty on Linux
    std::uint32_t modDate = 0;
    std::array<std::uint8_t, 4> creator { 'M', 'D', 'O', 'S' };
    std::uint16_t fileFlags = 0;
    std::string path;

    /// What the classic record has no room for, kept in the bytes after an empty volume label's
    /// length byte: older readers take the label as empty and look no further, and an empty
    /// label is all this system ever writes.
    struct Extras {
        bool tuned = false; // the two tunings are here
        std::int16_t fineTune = 0; // whole, in 1/256 cent: a sample record keeps its low byte
        std::int16_t paramByte2 = 0; // whole: a sample record keeps its low byte
        /// The file's contents when the record was written: a file found again is the same
        /// file when its fingerprint is.
        std::optional<FileFingerprint> fingerprint;
    };
    Extras extras;

    /// True when the texts fit the stored record's length-prefixed fields (a path of at most
    /// 255 bytes).
    bool Storable() const;
    /// The stored form: numbers little-endian, the three texts as length-prefixed strings.
    /// Callers check Storable() first; texts that do not fit are cut.
    void WriteStored(ByteWriter& out) const;
    /// Reads the stored form from the first 372 bytes of `bytes`.
    static std::optional<FileRecord> ReadStored(const ByteReader& bytes);
    /// Reads the oldest 112-byte form, which has no path: the name stands in for it.
    static std::optional<FileRecord> ReadOld(const ByteReader& bytes);
};

/// The file name of a stored path, which may come from another system: the part after the last
/// "\" or "/" (and after a drive colon).
std::string StoredFileName(std::string_view storedPath);

} // namespace cardmill
