#pragma once

#include "model/instrument/SoundFont.h"
#include "platform/ByteReader.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace cardmill {

/// One chunk of a RIFF file read by range: its code, a LIST's type (empty for other chunks), and
/// where its body lies (after a LIST's type).
struct RiffChunk {
    std::string id;
    std::string type;
    std::uint64_t at = 0;
    std::uint64_t size = 0;
};

/// Whether the file starts as a RIFF form of `type` ("sfbk", "DLS ").
bool IsRiffForm(const RangeReader& read, std::string_view type);

/// The chunks between `from` and `end` (at most `most` of them), read by range; the walk stops
/// at a chunk whose head can't be read or whose body runs past `end`.
std::vector<RiffChunk> RangeChunks(
    const RangeReader& read, std::uint64_t from, std::uint64_t end, std::size_t most = SIZE_MAX);

/// Calls `visit(id, listType, body)` for each chunk of a RIFF body in memory (the list type empty
/// for other chunks); stops at the first chunk whose body runs past the end.
void EachChunk(const ByteReader& body,
    const std::function<void(std::string_view id, std::string_view type, const ByteReader& chunk)>&
        visit);

} // namespace cardmill
