#pragma once

#include "model/DeviceFamily.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cardmill {

class Prompter;

/// The System Exclusive protocol with the instrument: builds every message the program sends,
/// parses the instrument's replies and remembers what the last identity reply and the last card
/// reply said. It does no I/O and keeps no time: the link sends the bytes it builds and hands it
/// the messages that arrive; time-outs, retries and the order of messages belong to the drivers.
/// One object per application, used from one thread at a time.
class MZeltaSysexHandler {
public:
    static constexpr MakerId kMakerId = cardmill::kMakerId;

    static constexpr std::size_t kBlockBytes = 1024;
    static constexpr std::size_t kBlocksPerSector = 128;
    /// 146 groups of 7 bytes become 8 bytes each; the last two bytes become 3.
    static constexpr std::size_t kPackedBytes = 146 * 8 + 3;
    static constexpr std::size_t kBlockMessageBytes = 8 + kPackedBytes + 2;
    static constexpr std::size_t kIdentityReplyBytes = 17;
    static constexpr std::size_t kCardReplyCapacity = 8;

    static constexpr std::uint8_t kEraseSector = 0x11;
    static constexpr std::uint8_t kWriteBlock = 0x12;
    static constexpr std::uint8_t kAcknowledge = 0x14;
    static constexpr std::uint8_t kRefuse = 0x15;
    /// A refusal beyond the card's own reasons 0 to 4 that the virtual instrument gives (and a
    /// card controller may): the address lies past the end of the card.
    static constexpr std::uint8_t kReasonPastTheEnd = 5;

    /// `makerId` is the run's manufacturer identifier (the built-in one unless overridden).
    explicit MZeltaSysexHandler(MakerId makerId = kMakerId) noexcept;
    virtual ~MZeltaSysexHandler() = default;

    virtual std::string GetFamilyName(std::uint16_t family) const;
    virtual std::string GetModelName(std::uint16_t family, std::uint16_t model) const;
    virtual std::uint32_t GetVersion() const { return version; }
    virtual std::uint16_t GetFamily() const { return family; }
    virtual std::uint16_t GetModel() const { return model; }
    const MakerId& GetMakerId() const { return makerId; }

    /// The Universal Non-Real-Time Identity Request to all devices.
    static std::vector<std::uint8_t> MakeIdentityRequest();
    /// True for any device's Universal Identity Reply (F0 7E <device> 06 02 ...), whoever made
    /// it: the replies the card messages get never look like one.
    static bool IsIdentityReply(std::span<const std::uint8_t> message) noexcept;
    /// Parses one received message (F0 to F7) as an identity reply of this maker; true when it
    /// is a complete one. A reply of the right start but another maker or family sets the family
    /// to 0; a message longer than an identity reply is not looked at.
    virtual bool ReceiveIdentityReply(std::span<const std::uint8_t> message);
    /// Parses one received message as an acknowledgement or a refusal for the identified
    /// family; true when it was one of them (the findings are then in the fields).
    virtual bool ReceiveCardReply(std::span<const std::uint8_t> message);
    virtual bool WasAcknowledged() const { return acknowledged; }
    std::uint8_t GetReason() const { return reason; }

    /// The erase message for a sector, or nothing when the sector does not fit a data byte
    /// (128 and above: cards over 16 MB).
    std::optional<std::vector<std::uint8_t>> MakeEraseSector(std::uint32_t sector) const;
    /// Builds the write message of one 1024-byte block and keeps it for re-sending; false (and
    /// the kept message unchanged) when sector or block do not fit a data byte or the data is
    /// not 1024 bytes.
    bool MakeBlock(std::uint32_t sector, std::uint32_t block, std::span<const std::uint8_t> data);
    /// The kept write message (empty before the first block was built).
    std::span<const std::uint8_t> GetBlockMessage() const;

    /// The 7-bit form of a block: 1024 bytes in, 1171 bytes out.
    static void PackBlock(std::span<const std::uint8_t, kBlockBytes> data,
        std::span<std::uint8_t, kPackedBytes> packed) noexcept;
    /// Sum of the packed bytes, the sector and the block, modulo 128.
    static std::uint8_t BlockChecksum(
        std::span<const std::uint8_t> packed, std::uint8_t sector, std::uint8_t block) noexcept;

    /// The words that complete a refusal message after its prefix ("... because "). An unknown
    /// reason ends in advice about the card: `cardAdvice`, or the desktop application's.
    static std::string ReasonText(std::uint8_t reason, std::string_view cardAdvice = {});
    /// Shows prefix + the last refusal's reason; true only when retry was allowed and chosen.
    virtual bool ReportError(Prompter& prompter, std::string_view prefix, bool retryAllowed,
        std::string_view cardAdvice = {}) const;
    /// "Orvane Device: <model name> vAB.CD" from the last identification: the version bytes as
    /// characters, first byte first; a byte that is no printable character shows as '?'.
    std::string DeviceBanner() const;

private:
    MakerId makerId;
    std::array<std::uint8_t, kBlockMessageBytes> blockMessage {};
    bool blockKept = false;
    std::uint32_t version = 0;
    std::uint16_t family = 0;
    std::uint16_t model = 0;
    bool acknowledged = false;
    std::uint8_t reason = 0;
};

} // namespace cardmill
