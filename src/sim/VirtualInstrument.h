#pragma once

#include "model/DeviceFamily.h"
#include "synth/MZeltaSysexHandler.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cardmill {

class ByteReader;

/// A mishap the virtual instrument stages at one message (counted from 1 over every complete
/// System Exclusive message it receives).
struct InstrumentFault {
    enum class Kind {
        Drop, ///< the message is carried out but its reply is lost
        Corrupt, ///< one bit flips on arrival (a block then fails its checksum)
        Refuse, ///< refused with `reason` instead of being carried out
        Silent, ///< no reply to this message or any after it
    };
    Kind kind = Kind::Drop;
    std::uint32_t message = 0;
    std::uint8_t reason = 0;

    /// "drop:N", "corrupt:N", "refuse:R:N" or "silent:N" (N from 1, R from 0 to 127).
    static std::optional<InstrumentFault> Parse(std::string_view text);
};

/// What the virtual instrument says it is and how its card behaves.
struct VirtualInstrumentOptions {
    MakerId makerId = kMakerId;
    std::uint16_t family = kZelta;
    /// Sent as two data bytes, low first; kept below 128 so both are data bytes.
    std::uint16_t model = 1;
    /// Four characters, sent as the version bytes.
    std::array<char, 4> firmware { '0', '1', '0', '0' };
    std::uint32_t cardBytes = 4 * 1024 * 1024;
    bool noCard = false;
    bool writeProtected = false;
    bool noEraseCommand = false;
    /// A timing-clock byte (0xF8) inside every reply, as an instrument sending MIDI clock does.
    bool clockInReplies = false;
    /// How long storing one block and erasing one sector keep the instrument busy.
    std::uint32_t writeMs = 0;
    std::uint32_t eraseMs = 0;
    std::vector<InstrumentFault> faults;

    /// "zelta", "percula" or "tinyloop" as a family code.
    static std::optional<std::uint16_t> ParseFamily(std::string_view name);
    /// Four printable ASCII characters.
    static std::optional<std::array<char, 4>> ParseFirmware(std::string_view text);
};

/// The instrument's side of the System Exclusive link, without any I/O: bytes that arrived go
/// in (split anywhere, several messages at once, stray bytes between messages), the reply bytes
/// come out. It answers identity requests, erases sectors and writes blocks of the card it keeps
/// in memory, and refuses what a real instrument would. Not thread-safe: one feeder at a time.
class VirtualInstrument {
public:
    /// Refusal reasons of its own beyond the protocol's 0 to 4: an address past the card's end
    /// (the user's message then advises checking the card size), and an erase command on an
    /// instrument that has none.
    static constexpr std::uint8_t kReasonOutOfRange = MZeltaSysexHandler::kReasonPastTheEnd;
    static constexpr std::uint8_t kReasonNoEraseCommand = 6;

    explicit VirtualInstrument(VirtualInstrumentOptions options);

    /// Takes the bytes that arrived and returns the replies they caused, in order.
    std::vector<std::uint8_t> Receive(std::span<const std::uint8_t> bytes);

    /// One line per message received and per reply sent.
    void SetLog(std::function<void(const std::string&)> sink) { log = std::move(sink); }
    /// Every byte that arrives, as it arrives (a MIDI monitor's log of the transfer).
    void SetRecord(std::function<void(std::span<const std::uint8_t>)> sink)
    {
        record = std::move(sink);
    }

    /// The card's contents (all FF when erased).
    std::span<const std::uint8_t> Card() const { return card; }
    /// Fills the card from a file (the rest stays erased); false with `error` set when the file
    /// cannot be read or is larger than the card.
    bool LoadCard(const std::string& path, std::string& error);
    /// Told of every change to the card as it is made, before the reply goes out: where it
    /// starts and the bytes now there. A card kept in a file is written through this, so the
    /// file holds everything the instrument acknowledged, however the program ends.
    void SetStore(std::function<void(std::size_t, std::span<const std::uint8_t>)> sink)
    {
        store = std::move(sink);
    }
    std::uint32_t MessagesReceived() const { return messageCount; }
    /// How long the messages handled since the last call keep the instrument busy: writeMs for
    /// each block stored (a block sent again included) and eraseMs for each sector erased. The
    /// instrument itself never waits; whoever carries its bytes delays the replies by this much.
    std::uint32_t TakeBusyMs()
    {
        const std::uint32_t taken = busyMs;
        busyMs = 0;
        return taken;
    }

private:
    void Arrived(std::vector<std::uint8_t> message);
    void Act(std::span<const std::uint8_t> message, const InstrumentFault* fault,
        const std::string& note);
    /// Both return the refusal reason, or nothing when done.
    std::optional<std::uint8_t> Erase(std::uint32_t sector);
    std::optional<std::uint8_t> Write(const ByteReader& message);
    void Conclude(std::optional<std::uint8_t> refusal);
    void Refuse(std::uint8_t reason);
    void Reply(const std::vector<std::uint8_t>& bytes, const std::string& what);
    void AddBusy(std::uint32_t ms);
    void Log(const std::string& line) const;
    std::uint32_t SectorCount() const;

    VirtualInstrumentOptions options;
    std::vector<std::uint8_t> card;
    std::vector<std::uint8_t> pending;
    bool inMessage = false;
    bool overflowed = false;
    bool silent = false;
    bool dropReply = false;
    std::uint32_t messageCount = 0;
    std::uint32_t busyMs = 0;
    std::vector<std::uint8_t> replies;
    std::function<void(const std::string&)> log;
    std::function<void(std::span<const std::uint8_t>)> record;
    std::function<void(std::size_t, std::span<const std::uint8_t>)> store;
};

} // namespace cardmill
