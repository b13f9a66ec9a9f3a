#include "Midi.h"

namespace cardmill::test {

namespace {

Bytes VariableLength(std::uint64_t value)
{
    Bytes out { static_cast<std::uint8_t>(value & 0x7F) };
    while (value >>= 7)
        out.insert(out.begin(), static_cast<std::uint8_t>(0x80 | (value & 0x7F)));
    return out;
}

void PutU32(Bytes& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

} // namespace

TrackBuilder& TrackBuilder::Event(std::uint32_t delta, const Bytes& event)
{
    const Bytes time = VariableLength(delta);
    bytes.insert(bytes.end(), time.begin(), time.end());
    bytes.insert(bytes.end(), event.begin(), event.end());
    return *this;
}

TrackBuilder& TrackBuilder::Note(
    std::uint32_t delta, std::uint8_t status, std::uint8_t key, std::uint8_t velocity)
{
    return Event(delta, { status, key, velocity });
}

TrackBuilder& TrackBuilder::Tempo(std::uint32_t delta, std::uint32_t us)
{
    return Event(delta,
        { 0xFF, 0x51, 3, static_cast<std::uint8_t>(us >> 16), static_cast<std::uint8_t>(us >> 8),
            static_cast<std::uint8_t>(us) });
}

TrackBuilder& TrackBuilder::SysEx(std::uint32_t delta, const Bytes& data)
{
    Bytes event { 0xF0 };
    const Bytes length = VariableLength(data.size());
    event.insert(event.end(), length.begin(), length.end());
    event.insert(event.end(), data.begin(), data.end());
    return Event(delta, event);
}

TrackBuilder& TrackBuilder::Name(std::uint32_t delta, const std::string& text)
{
    Bytes event { 0xFF, 0x03 };
    const Bytes length = VariableLength(text.size());
    event.insert(event.end(), length.begin(), length.end());
    event.insert(event.end(), text.begin(), text.end());
    return Event(delta, event);
}

TrackBuilder& TrackBuilder::End(std::uint32_t delta)
{
    return Event(delta, { 0xFF, 0x2F, 0x00 });
}

Bytes MidiFile(std::uint16_t format, std::uint16_t division, const std::vector<Bytes>& tracks,
    int announcedTracks)
{
    const auto count
        = static_cast<std::uint16_t>(announcedTracks >= 0 ? announcedTracks : tracks.size());
    Bytes out { 'M', 'T', 'h', 'd', 0, 0, 0, 6 };
    for (std::uint16_t value : { format, count, division }) {
        out.push_back(static_cast<std::uint8_t>(value >> 8));
        out.push_back(static_cast<std::uint8_t>(value));
    }
    for (const Bytes& track : tracks) {
        out.insert(out.end(), { 'M', 'T', 'r', 'k' });
        PutU32(out, static_cast<std::uint32_t>(track.size()));
        out.insert(out.end(), track.begin(), track.end());
    }
    return out;
}

Decoded DecodeSequence(const Bytes& stream, std::uint32_t pacing)
{
    Decoded decoded;
    std::uint64_t time = 0;
    std::uint8_t running = 0;
    std::size_t i = 0;
    const auto dataBytes = [](std::uint8_t status) {
        return (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
    };
    if (stream.size() < 3 || stream[0] != 0xFF)
        return decoded;
    while (i < stream.size()) {
        const std::uint8_t byte = stream[i];
        if (byte == 0xFE) {
            decoded.wellFormed = decoded.records.size() >= 1 && decoded.records.back() == 1
                && (i + 1 == stream.size() || (i + 2 == stream.size() && stream[i + 1] == 0xFE))
                && stream.size() % 2 == 0;
            return decoded;
        }
        if (byte == 0xFF) {
            if (i + 3 > stream.size())
                return decoded;
            const std::uint32_t value = stream[i + 1] | (stream[i + 2] << 8);
            decoded.records.push_back(value);
            time += value;
            running = 0;
            i += 3;
            continue;
        }
        if (byte == 0xF0) {
            Bytes message { 0xF0 };
            ++pacing;
            ++i;
            while (i < stream.size()) {
                const std::uint8_t b = stream[i++];
                message.push_back(b);
                if (++pacing % 20 == 0) {
                    if (i + 3 > stream.size() || stream[i] != 0xFF || stream[i + 1] != 7
                        || stream[i + 2] != 0)
                        return decoded; // a pause was due here
                    i += 3;
                }
                if (b == 0xF7)
                    break;
            }
            decoded.messages.push_back({ time, message });
            continue;
        }
        Bytes message;
        if (byte >= 0x80) {
            running = byte;
            ++i;
        }
        if (running == 0)
            return decoded;
        message.push_back(running);
        for (int d = 0; d < dataBytes(running) && i < stream.size(); ++d)
            message.push_back(stream[i++]);
        decoded.messages.push_back({ time, message });
    }
    return decoded;
}

} // namespace cardmill::test
