#include "sim/VirtualInstrument.h"

#include "platform/ByteReader.h"
#include "platform/FileSystem.h"
#include "synth/MZeltaSysexHandler.h"

#include <algorithm>

namespace cardmill {

namespace {

using Handler = MZeltaSysexHandler;

constexpr std::uint8_t kSysexStart = 0xF0;
constexpr std::uint8_t kSysexEnd = 0xF7;
constexpr std::uint8_t kFirstRealTime = 0xF8;
constexpr std::uint8_t kTimingClock = 0xF8;
constexpr std::uint32_t kSectorBytes = Handler::kBlocksPerSector * Handler::kBlockBytes;
// The longest message the instrument understands; anything longer is only counted.
constexpr std::size_t kLongestMessage = Handler::kBlockMessageBytes;

std::optional<std::uint32_t> ParseCount(
    std::string_view text, std::uint32_t low, std::uint32_t high)
{
    std::uint32_t value = 0;
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (value < low || value > high)
        return std::nullopt;
    return value;
}

std::string Number(std::uint32_t value)
{
    return std::to_string(value);
}

// The block from its 7-bit form: the packed bytes are one little-endian bit stream, 7 bits a
// byte; the five bits past the block's end are padding.
std::vector<std::uint8_t> Unpack(std::span<const std::uint8_t> packed)
{
    std::vector<std::uint8_t> data;
    data.reserve(Handler::kBlockBytes);
    std::uint32_t bits = 0;
    int held = 0;
    for (const std::uint8_t byte : packed) {
        bits |= std::uint32_t { byte & 0x7Fu } << held;
        held += 7;
        if (held >= 8 && data.size() < Handler::kBlockBytes) {
            data.push_back(static_cast<std::uint8_t>(bits & 0xFF));
            bits >>= 8;
            held -= 8;
        }
    }
    return data;
}

} // namespace

std::optional<InstrumentFault> InstrumentFault::Parse(std::string_view text)
{
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    const auto message = ParseCount(text.substr(colon + 1), 1, 999999999);
    if (!message)
        return std::nullopt;
    const std::string_view kind = text.substr(0, colon);
    InstrumentFault fault;
    fault.message = *message;
    if (kind == "drop") {
        fault.kind = Kind::Drop;
    } else if (kind == "corrupt") {
        fault.kind = Kind::Corrupt;
    } else if (kind == "silent") {
        fault.kind = Kind::Silent;
    } else if (kind.starts_with("refuse:")) {
        const auto reason = ParseCount(kind.substr(7), 0, 127);
        if (!reason)
            return std::nullopt;
        fault.kind = Kind::Refuse;
        fault.reason = static_cast<std::uint8_t>(*reason);
    } else {
        return std::nullopt;
    }
    return fault;
}

std::optional<std::uint16_t> VirtualInstrumentOptions::ParseFamily(std::string_view name)
{
    if (name == "zelta")
        return kZelta;
    if (name == "percula")
        return kPercula;
    if (name == "tinyloop")
        return kTinyloop;
    return std::nullopt;
}

std::optional<std::array<char, 4>> VirtualInstrumentOptions::ParseFirmware(std::string_view text)
{
    if (text.size() != 4)
        return std::nullopt;
    std::array<char, 4> firmware {};
    for (std::size_t i = 0; i < 4; ++i) {
        if (text[i] < 0x20 || text[i] > 0x7E)
            return std::nullopt;
        firmware[i] = text[i];
    }
    return firmware;
}

VirtualInstrument::VirtualInstrument(VirtualInstrumentOptions instrumentOptions)
    : options(std::move(instrumentOptions))
    , card(options.cardBytes, 0xFF)
{
}

std::vector<std::uint8_t> VirtualInstrument::Receive(std::span<const std::uint8_t> bytes)
{
    replies.clear();
    if (record)
        record(bytes);
    ByteReader input(bytes);
    while (const auto next = input.U8()) {
        const std::uint8_t byte = *next;
        if (byte >= kFirstRealTime)
            continue; // real-time bytes may come between any two bytes and belong to no message
        if (byte == kSysexStart) {
            // A start inside a message cuts the one before short: it is lost.
            pending.assign(1, byte);
            inMessage = true;
            overflowed = false;
        } else if (!inMessage) {
            continue; // stray bytes between messages
        } else if (byte == kSysexEnd) {
            inMessage = false;
            if (overflowed)
                pending.clear();
            else
                pending.push_back(byte);
            Arrived(std::move(pending));
            pending.clear();
        } else if (byte & 0x80) {
            inMessage = false; // another status byte ends the message unfinished
            pending.clear();
        } else if (pending.size() < kLongestMessage) {
            pending.push_back(byte);
        } else {
            overflowed = true;
        }
    }
    return std::move(replies);
}

void VirtualInstrument::Arrived(std::vector<std::uint8_t> message)
{
    ++messageCount;
    const InstrumentFault* fault = nullptr;
    for (const InstrumentFault& candidate : options.faults)
        if (candidate.message == messageCount) {
            fault = &candidate;
            break;
        }
    std::string note;
    if (fault && fault->kind == InstrumentFault::Kind::Silent) {
        silent = true;
        note = " (fault: silent from here on)";
    } else if (fault && fault->kind == InstrumentFault::Kind::Corrupt && message.size() > 2) {
        // A block's first packed byte, so its checksum fails; in a short message the byte after
        // the start, so the message is no longer addressed to this instrument.
        const std::size_t at = message.size() > 9 ? 8 : 1;
        message[at] ^= 0x01;
        note = " (fault: bit 0 of byte " + Number(static_cast<std::uint32_t>(at)) + " flipped)";
    } else if (silent) {
        note = " (silent)";
    } else if (fault && fault->kind == InstrumentFault::Kind::Refuse) {
        note = " (fault: refused with reason " + Number(fault->reason) + ")";
    }
    if (message.empty()) {
        Log("#" + Number(messageCount) + " received a message longer than "
            + Number(static_cast<std::uint32_t>(kLongestMessage)) + " bytes, ignored" + note);
        return;
    }
    Act(message, fault, note);
}

void VirtualInstrument::Act(
    std::span<const std::uint8_t> message, const InstrumentFault* fault, const std::string& note)
{
    const ByteReader m(message);
    const std::string number = "#" + Number(messageCount) + " ";
    const auto identityRequest = Handler::MakeIdentityRequest();
    const MakerId& maker = options.makerId;
    const bool ours = message.size() >= 7 && m.U8At(1) == maker[0] && m.U8At(2) == maker[1]
        && m.U8At(3) == maker[2] && m.U8At(4) == (options.family & 0x7F);
    const std::uint8_t command = ours ? m.U8At(5).value_or(0) : 0;

    const bool identity = std::ranges::equal(message, identityRequest);
    const bool erase = command == Handler::kEraseSector && message.size() == 8;
    const bool write
        = command == Handler::kWriteBlock && message.size() == Handler::kBlockMessageBytes;
    std::string what;
    if (identity)
        what = "identity request";
    else if (erase)
        what = "erase sector " + Number(m.U8At(6).value_or(0));
    else if (write)
        what = "write block " + Number(m.U8At(7).value_or(0)) + " of sector "
            + Number(m.U8At(6).value_or(0));
    else if (command == Handler::kEraseSector || command == Handler::kWriteBlock)
        what = "damaged " + std::string(command == Handler::kEraseSector ? "erase" : "write")
            + " message";
    else
        what = "message not for this instrument";
    Log(number + "received " + what + " (" + Number(static_cast<std::uint32_t>(message.size()))
        + " bytes)" + note);
    if (silent)
        return;
    if (fault && fault->kind == InstrumentFault::Kind::Refuse) {
        Refuse(fault->reason);
        return;
    }
    dropReply = fault && fault->kind == InstrumentFault::Kind::Drop;
    if (identity) {
        const std::uint16_t model = options.model;
        std::vector<std::uint8_t> reply { kSysexStart, 0x7E, 0x7F, 0x06, 0x02, maker[0], maker[1],
            maker[2], static_cast<std::uint8_t>(options.family & 0x7F), 0x00,
            static_cast<std::uint8_t>(model & 0x7F),
            static_cast<std::uint8_t>((model >> 8) & 0x7F) };
        for (const char c : options.firmware)
            reply.push_back(static_cast<std::uint8_t>(c & 0x7F));
        reply.push_back(kSysexEnd);
        Reply(reply, "identity reply");
    } else if (erase) {
        Conclude(Erase(m.U8At(6).value_or(0)));
    } else if (write) {
        Conclude(Write(m));
    } else if (command == Handler::kEraseSector || command == Handler::kWriteBlock) {
        // Bytes were lost on the way: the instrument asks for the message again.
        Refuse(3);
    }
    dropReply = false;
}

std::optional<std::uint8_t> VirtualInstrument::Erase(std::uint32_t sector)
{
    if (options.noCard)
        return 0;
    if (options.writeProtected)
        return 1;
    if (options.noEraseCommand)
        return kReasonNoEraseCommand;
    const std::uint32_t sectors = SectorCount();
    // The driver asks for the next sector's erase before it learns that the image has ended.
    if (sector == sectors)
        return std::nullopt;
    if (sector > sectors)
        return kReasonOutOfRange;
    const std::size_t start = std::size_t { sector } * kSectorBytes;
    const std::size_t end = std::min(card.size(), start + kSectorBytes);
    std::fill(card.begin() + static_cast<std::ptrdiff_t>(start),
        card.begin() + static_cast<std::ptrdiff_t>(end), std::uint8_t { 0xFF });
    if (store)
        store(start, std::span(card).subspan(start, end - start));
    AddBusy(options.eraseMs);
    return std::nullopt;
}

std::optional<std::uint8_t> VirtualInstrument::Write(const ByteReader& message)
{
    const std::uint8_t sector = message.U8At(6).value_or(0);
    const std::uint8_t block = message.U8At(7).value_or(0);
    const auto packed = message.SubAt(8, Handler::kPackedBytes);
    if (!packed
        || Handler::BlockChecksum(packed->Data(), sector, block)
            != message.U8At(Handler::kBlockMessageBytes - 2))
        return 3;
    if (options.noCard)
        return 0;
    if (options.writeProtected)
        return 1;
    const std::size_t offset
        = (std::size_t { sector } * Handler::kBlocksPerSector + block) * Handler::kBlockBytes;
    if (block >= Handler::kBlocksPerSector || offset + Handler::kBlockBytes > card.size())
        return kReasonOutOfRange;
    const std::vector<std::uint8_t> data = Unpack(packed->Data());
    const auto target = std::span(card).subspan(offset, Handler::kBlockBytes);
    // A block sent again after its acknowledgement was lost finds its own bytes there.
    const bool same = std::ranges::equal(target, data);
    if (!options.noEraseCommand && !same
        && !std::ranges::all_of(target, [](std::uint8_t byte) { return byte == 0xFF; }))
        return 4;
    // A block sent again costs its write time too.
    AddBusy(options.writeMs);
    if (!same) {
        std::ranges::copy(data, target.begin());
        if (store)
            store(offset, target);
    }
    return std::nullopt;
}

void VirtualInstrument::Conclude(std::optional<std::uint8_t> refusal)
{
    if (refusal)
        Refuse(*refusal);
    else
        Reply({ kSysexStart, options.makerId[0], options.makerId[1], options.makerId[2],
                  static_cast<std::uint8_t>(options.family & 0x7F), Handler::kAcknowledge,
                  kSysexEnd },
            "acknowledgement");
}

void VirtualInstrument::Refuse(std::uint8_t reason)
{
    Reply({ kSysexStart, options.makerId[0], options.makerId[1], options.makerId[2],
              static_cast<std::uint8_t>(options.family & 0x7F), Handler::kRefuse,
              static_cast<std::uint8_t>(reason & 0x7F), kSysexEnd },
        "refusal, reason " + Number(reason));
}

void VirtualInstrument::Reply(const std::vector<std::uint8_t>& bytes, const std::string& what)
{
    const std::string number = "#" + Number(messageCount) + " ";
    if (dropReply) {
        Log(number + "lost " + what + " (fault: drop)");
        return;
    }
    const auto at = replies.insert(replies.end(), bytes.begin(), bytes.end());
    // Real-time bytes may go out between any two bytes, those of a System Exclusive message too.
    if (options.clockInReplies && bytes.size() > 2)
        replies.insert(at + 2, kTimingClock);
    Log(number + "sent " + what);
}

void VirtualInstrument::AddBusy(std::uint32_t ms)
{
    busyMs = ms > UINT32_MAX - busyMs ? UINT32_MAX : busyMs + ms;
}

void VirtualInstrument::Log(const std::string& line) const
{
    if (log)
        log(line);
}

std::uint32_t VirtualInstrument::SectorCount() const
{
    return static_cast<std::uint32_t>((card.size() + kSectorBytes - 1) / kSectorBytes);
}

bool VirtualInstrument::LoadCard(const std::string& path, std::string& error)
{
    const auto status = StatFile(path);
    if (!status || !status->regular) {
        error = "can't read the card file '" + path + "'";
        return false;
    }
    if (status->size > card.size()) {
        error = "the card file '" + path + "' holds " + std::to_string(status->size)
            + " bytes, more than the card's " + std::to_string(card.size());
        return false;
    }
    const auto bytes = ReadWholeFile(path, card.size());
    if (!bytes) {
        error = "can't read the card file '" + path + "'";
        return false;
    }
    std::fill(card.begin(), card.end(), std::uint8_t { 0xFF });
    std::ranges::copy(*bytes, card.begin());
    return true;
}

} // namespace cardmill
