#pragma once

#include "platform/MidiBackend.h"
#include "sim/VirtualInstrument.h"
#include "support/TestEnv.h"
#include "synth/AMidi.h"
#include "synth/MZeltaSysexHandler.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace cardmill::test {

using Bytes = std::vector<std::uint8_t>;

/// A block (or `size` bytes) whose bytes all differ from their neighbours, with every bit pattern
/// in play; the pattern moves on at every 64 KB, so that no two sectors of a card are alike.
inline Bytes PatternBlock(unsigned seed, std::size_t size = 1024)
{
    Bytes data(size);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 37 + seed * 101 + (i >> 8) + (i >> 16));
    return data;
}

/// Whether the card holds the image and, after it, nothing but erased bytes.
inline bool CardHolds(std::span<const std::uint8_t> card, const Bytes& image)
{
    return card.size() >= image.size() && std::ranges::equal(card.first(image.size()), image)
        && std::ranges::all_of(
            card.subspan(image.size()), [](std::uint8_t b) { return b == 0xFF; });
}

/// The virtual instrument behind a MIDI back-end that answers at once, on the caller's thread,
/// with every message sent kept for the test to read. Time is the manual clock's: a wait for a
/// reply that never comes moves it on by the link's silence time-out.
class InstrumentBackend final : public MidiBackend {
public:
    explicit InstrumentBackend(VirtualInstrumentOptions options)
        : instrument(std::move(options))
    {
    }
    std::vector<std::string> InputNames() const override { return { "sim" }; }
    std::vector<std::string> OutputNames() const override { return { "sim" }; }
    bool OpenInput(int index) override { return index == 0; }
    bool OpenOutput(int index) override { return index == 0; }
    void Close() override { }
    bool Send(std::span<const std::uint8_t> message, std::chrono::milliseconds) override
    {
        sent.emplace_back(message.begin(), message.end());
        // The instrument acts on a paced message when its last piece has come.
        if (beforeEachMessage && !message.empty() && message.back() == 0xF7)
            beforeEachMessage();
        if (connected) {
            auto replies = instrument.Receive(interfaceBefore
                    ? std::span<const std::uint8_t>(interfaceBefore(message))
                    : message);
            // A message the instrument takes longer over than the wait for it: its reply comes
            // only with the reply to the message after it.
            if (sent.size() == lateReplyTo) {
                late = std::move(replies);
                return true;
            }
            replies.insert(replies.begin(), late.begin(), late.end());
            late.clear();
            if (!replies.empty() && handler)
                handler(replies);
        }
        return true;
    }
    void OnInput(std::function<void(std::span<const std::uint8_t>)> h) override { handler = h; }

    /// "identify", "erase 3", "block 3 17" for each message sent from the write `from` on, in
    /// order.
    std::vector<std::string> Messages(std::size_t from = 0) const
    {
        // A paced message comes in pieces: each F0 starts the next message.
        std::vector<std::vector<std::uint8_t>> messages;
        for (std::size_t i = from; i < sent.size(); ++i) {
            const auto& piece = sent[i];
            if (messages.empty() || (!piece.empty() && piece.front() == 0xF0))
                messages.emplace_back();
            messages.back().insert(messages.back().end(), piece.begin(), piece.end());
        }
        std::vector<std::string> names;
        for (const auto& m : messages) {
            if (m.size() > 5 && m[1] == 0x7E)
                names.push_back("identify");
            else if (m.size() == 8 && m[5] == MZeltaSysexHandler::kEraseSector)
                names.push_back("erase " + std::to_string(m[6]));
            else if (m.size() > 8 && m[5] == MZeltaSysexHandler::kWriteBlock)
                names.push_back("block " + std::to_string(m[6]) + " " + std::to_string(m[7]));
            else
                names.push_back("other");
        }
        return names;
    }

    VirtualInstrument instrument;
    bool connected = true;
    std::vector<std::vector<std::uint8_t>> sent;
    std::function<void(std::span<const std::uint8_t>)> handler;
    /// Runs as each message reaches the instrument, before the instrument acts on it.
    std::function<void()> beforeEachMessage;
    /// What an interface between program and instrument makes of each write; none: it passes.
    std::function<std::vector<std::uint8_t>(std::span<const std::uint8_t>)> interfaceBefore;
    /// The message (from 1) whose reply is late; 0: none.
    std::size_t lateReplyTo = 0;
    std::vector<std::uint8_t> late;
};

/// The default instrument with mishaps staged at its messages: Faults({ "drop:3", "silent:9" }).
inline VirtualInstrumentOptions Faults(std::initializer_list<const char*> texts)
{
    VirtualInstrumentOptions options;
    for (const char* text : texts)
        options.faults.push_back(*InstrumentFault::Parse(text));
    return options;
}

/// Options with one field changed: With(&VirtualInstrumentOptions::writeProtected, true).
template <typename T, typename V>
VirtualInstrumentOptions With(
    T VirtualInstrumentOptions::*field, V value, VirtualInstrumentOptions options = {})
{
    options.*field = static_cast<T>(value);
    return options;
}

/// The link the operations need: back-end, open ports, handler, on the test's services.
struct InstrumentLink {
    explicit InstrumentLink(TestEnv& env, VirtualInstrumentOptions options = {})
        : backend(std::move(options))
        , midi(backend, env.clock, {})
    {
        midi.OpenDevices(0, 0);
    }
    InstrumentBackend backend;
    AMidi midi;
    MZeltaSysexHandler handler;
};

} // namespace cardmill::test
