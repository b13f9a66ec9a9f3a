#include "model/instrument/RiffChunks.h"

namespace cardmill {

namespace {

constexpr auto le = Endian::Little;

std::string_view Code(std::span<const std::uint8_t> bytes)
{
    return { reinterpret_cast<const char*>(bytes.data()), 4 };
}

} // namespace

bool IsRiffForm(const RangeReader& read, std::string_view type)
{
    const auto head = read(0, 12);
    return head && head->size() == 12 && ByteReader(*head).HasCodeAt(0, "RIFF")
        && Code(std::span(*head).subspan(8)) == type;
}

std::vector<RiffChunk> RangeChunks(
    const RangeReader& read, std::uint64_t from, std::uint64_t end, std::size_t most)
{
    std::vector<RiffChunk> chunks;
    for (std::uint64_t at = from; at + 8 <= end && chunks.size() < most;) {
        const auto head = read(at, 8);
        if (!head || head->size() < 8)
            break;
        const std::uint64_t size = *ByteReader(*head).U32At(4, le);
        if (at + 8 + size > end)
            break;
        RiffChunk chunk { std::string(Code(*head)), {}, at + 8, size };
        if (chunk.id == "LIST" && size >= 4) {
            const auto type = read(at + 8, 4);
            if (!type || type->size() < 4)
                break;
            chunk.type = Code(*type);
            chunk.at += 4;
            chunk.size -= 4;
        }
        chunks.push_back(std::move(chunk));
        at += 8 + size + (size & 1);
    }
    return chunks;
}

void EachChunk(const ByteReader& body,
    const std::function<void(std::string_view id, std::string_view type, const ByteReader& chunk)>&
        visit)
{
    for (std::size_t at = 0; at + 8 <= body.Size();) {
        const std::uint64_t size = *body.U32At(at + 4, le);
        const auto chunk = body.SubAt(at + 8, static_cast<std::size_t>(size));
        if (!chunk)
            return;
        const std::string_view id = Code(body.Data().subspan(at, 4));
        if (id == "LIST" && chunk->Size() >= 4)
            visit(id, Code(chunk->Data()), *chunk->SubAt(4, chunk->Size() - 4));
        else
            visit(id, {}, *chunk);
        at += 8 + static_cast<std::size_t>(size + (size & 1));
    }
}

} // namespace cardmill
