#include "synth/MZeltaSysexHandler.h"

#include "platform/ByteReader.h"
#include "platform/Prompter.h"

#include <algorithm>

namespace cardmill {

namespace {

constexpr std::uint8_t kSysexStart = 0xF0;
constexpr std::uint8_t kSysexEnd = 0xF7;
constexpr std::uint8_t kDataLimit = 0x80;

// The identity reply carries the family in bytes 8-9; the families are tried in this order.
constexpr std::array<std::uint16_t, 3> kIdentifiedFamilies { kZelta, kPercula, kTinyloop };

bool StartsWith(const ByteReader& message, std::span<const std::uint8_t> expected)
{
    auto head = message.SubAt(0, expected.size());
    if (!head)
        return false;
    const auto bytes = head->Data();
    return std::equal(bytes.begin(), bytes.end(), expected.begin());
}

} // namespace

MZeltaSysexHandler::MZeltaSysexHandler(MakerId maker) noexcept
    : makerId(maker)
{
}

std::string MZeltaSysexHandler::GetFamilyName(std::uint16_t code) const
{
    return cardmill::GetFamilyName(code);
}

std::string MZeltaSysexHandler::GetModelName(std::uint16_t code, std::uint16_t modelCode) const
{
    if (code == kZelta) {
        switch (modelCode) {
        case 1:
            return "Zelta Grand";
        case 2:
            return "Zelta Stage";
        case 3:
            return "Zelta A";
        case 4:
            return "Zelta C";
        case 5:
            return "Zelta B";
        case 6:
            return "Zelta D";
        case 13:
            return "Zelta A1";
        case 14:
            return "Zelta B1";
        case 15:
            return "Zelta C1";
        default:
            return "unknown";
        }
    }
    if (code == kTinyloop && modelCode == 0)
        return "Tinyloop";
    if (code == kPercula && modelCode == 0)
        return "Percula";
    return "unknown";
}

std::vector<std::uint8_t> MZeltaSysexHandler::MakeIdentityRequest()
{
    return { kSysexStart, 0x7E, 0x7F, 0x06, 0x01, kSysexEnd };
}

bool MZeltaSysexHandler::IsIdentityReply(std::span<const std::uint8_t> message) noexcept
{
    return message.size() >= 5 && message[0] == kSysexStart && message[1] == 0x7E
        && message[3] == 0x06 && message[4] == 0x02;
}

bool MZeltaSysexHandler::ReceiveIdentityReply(std::span<const std::uint8_t> message)
{
    // Longer than an identity reply: the link's read overflowed, nothing is parsed.
    if (message.size() > kIdentityReplyBytes)
        return false;
    const ByteReader reply(message);
    // A reply too short to hold model and version is no identification at all.
    family = 0;
    if (message.size() < kIdentityReplyBytes)
        return false;
    for (const std::uint16_t candidate : kIdentifiedFamilies) {
        const std::array<std::uint8_t, 10> expected { kSysexStart, 0x7E, 0x7F, 0x06, 0x02,
            makerId[0], makerId[1], makerId[2], static_cast<std::uint8_t>(candidate), 0x00 };
        if (StartsWith(reply, expected)) {
            family = candidate;
            break;
        }
    }
    if (family == 0)
        return false;
    model = reply.U16At(10, Endian::Little).value_or(0);
    version = reply.U32At(12, Endian::Big).value_or(0);
    return reply.U8At(16) == kSysexEnd;
}

bool MZeltaSysexHandler::ReceiveCardReply(std::span<const std::uint8_t> message)
{
    if (message.size() > kCardReplyCapacity)
        return false;
    const ByteReader reply(message);
    const auto fam = static_cast<std::uint8_t>(family);
    const std::array<std::uint8_t, 7> ack { kSysexStart, makerId[0], makerId[1], makerId[2], fam,
        kAcknowledge, kSysexEnd };
    const std::array<std::uint8_t, 6> refusal { kSysexStart, makerId[0], makerId[1], makerId[2],
        fam, kRefuse };
    if (message.size() == ack.size() && StartsWith(reply, ack)) {
        acknowledged = true;
        return true;
    }
    // The reason must be there as a data byte, with the end after it: a refusal cut short
    // carries no reason to report.
    const auto code = reply.U8At(refusal.size());
    if (message.size() == kCardReplyCapacity && StartsWith(reply, refusal) && code
        && *code < kDataLimit && reply.U8At(7) == kSysexEnd) {
        acknowledged = false;
        reason = *code;
        return true;
    }
    return false;
}

std::optional<std::vector<std::uint8_t>> MZeltaSysexHandler::MakeEraseSector(
    std::uint32_t sector) const
{
    if (sector >= kDataLimit)
        return std::nullopt;
    return std::vector<std::uint8_t> { kSysexStart, makerId[0], makerId[1], makerId[2],
        static_cast<std::uint8_t>(family), kEraseSector, static_cast<std::uint8_t>(sector),
        kSysexEnd };
}

bool MZeltaSysexHandler::MakeBlock(
    std::uint32_t sector, std::uint32_t block, std::span<const std::uint8_t> data)
{
    if (sector >= kDataLimit || block >= kBlocksPerSector || data.size() != kBlockBytes)
        return false;
    const auto sectorByte = static_cast<std::uint8_t>(sector);
    const auto blockByte = static_cast<std::uint8_t>(block);
    const std::array<std::uint8_t, 8> header { kSysexStart, makerId[0], makerId[1], makerId[2],
        static_cast<std::uint8_t>(family), kWriteBlock, sectorByte, blockByte };
    const std::span<std::uint8_t> message(blockMessage);
    std::copy(header.begin(), header.end(), message.begin());
    const auto packed = message.subspan<header.size(), kPackedBytes>();
    PackBlock(data.first<kBlockBytes>(), packed);
    message[kBlockMessageBytes - 2] = BlockChecksum(packed, sectorByte, blockByte);
    message[kBlockMessageBytes - 1] = kSysexEnd;
    blockKept = true;
    return true;
}

std::span<const std::uint8_t> MZeltaSysexHandler::GetBlockMessage() const
{
    if (!blockKept)
        return {};
    return blockMessage;
}

void MZeltaSysexHandler::PackBlock(std::span<const std::uint8_t, kBlockBytes> data,
    std::span<std::uint8_t, kPackedBytes> packed) noexcept
{
    // The block as one little-endian bit stream cut into 7-bit pieces, lowest bits first; the
    // last piece holds the two bits left over.
    std::uint32_t bits = 0;
    int held = 0;
    std::size_t out = 0;
    for (const std::uint8_t byte : data) {
        bits |= std::uint32_t { byte } << held;
        held += 8;
        while (held >= 7) {
            packed[out++] = static_cast<std::uint8_t>(bits & 0x7F);
            bits >>= 7;
            held -= 7;
        }
    }
    if (held > 0)
        packed[out] = static_cast<std::uint8_t>(bits & 0x7F);
}

std::uint8_t MZeltaSysexHandler::BlockChecksum(
    std::span<const std::uint8_t> packed, std::uint8_t sector, std::uint8_t block) noexcept
{
    unsigned sum = unsigned { sector } + block;
    for (const std::uint8_t byte : packed)
        sum += byte;
    return static_cast<std::uint8_t>(sum & 0x7F);
}

std::string MZeltaSysexHandler::ReasonText(std::uint8_t code, std::string_view cardAdvice)
{
    switch (code) {
    case 0:
        return "there is no card present, or the card is not a 5 volt FLASH type.";
    case 1:
        return "the card is write protected.";
    case 2:
        return "of a FLASH time out error.";
    case 3:
        return "of a MIDI checksum error.";
    case 4:
        return "the card is not erased.  ";
    case kReasonPastTheEnd:
        return "the card ends before the address written.";
    default:
        return std::string("of an unknown error.  ")
            + "Make sure the memory card is seated properly, and that the "
            + (cardAdvice.empty()
                    ? std::string("card size agrees with the settings in the \"Card Info\" dialog.")
                    : std::string(cardAdvice));
    }
}

bool MZeltaSysexHandler::ReportError(Prompter& prompter, std::string_view prefix, bool retryAllowed,
    std::string_view cardAdvice) const
{
    const std::string text = std::string(prefix) + ReasonText(reason, cardAdvice);
    if (!retryAllowed) {
        prompter.Show(text, Icon::Error, Buttons::Ok);
        return false;
    }
    return prompter.Show(text, Icon::Error, Buttons::RetryCancel) == Answer::Retry;
}

std::string MZeltaSysexHandler::DeviceBanner() const
{
    // The version comes off the wire: whatever it holds, the banner shows only printable text.
    const auto character = [this](int shift) {
        const auto byte = static_cast<std::uint8_t>(version >> shift);
        return byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '?';
    };
    std::string banner = "Orvane Device: " + GetModelName(family, model) + " v";
    banner += character(24);
    banner += character(16);
    banner += '.';
    banner += character(8);
    banner += character(0);
    return banner;
}

} // namespace cardmill
