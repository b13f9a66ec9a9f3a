#include "platform/MidiBackendAlsa.h"

#include <cstdint>
#include <filesystem>
#include <vector>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

TEST(MidiBackendAlsa, StablePortNameDropsOnlyTheClientAndPortNumbers)
{
    EXPECT_EQ(MidiBackendAlsa::StablePortName("Midi Through:Midi Through Port-0 14:0"),
        "Midi Through:Midi Through Port-0");
    EXPECT_EQ(MidiBackendAlsa::StablePortName("UM-ONE:UM-ONE MIDI 1 20:0"), "UM-ONE:UM-ONE MIDI 1");
    EXPECT_EQ(MidiBackendAlsa::StablePortName("UM-ONE:UM-ONE MIDI 1 128:12"),
        MidiBackendAlsa::StablePortName("UM-ONE:UM-ONE MIDI 1 20:0"));
    // Names that do not end in "N:N" are kept whole.
    EXPECT_EQ(MidiBackendAlsa::StablePortName("Synth Port 1"), "Synth Port 1");
    EXPECT_EQ(MidiBackendAlsa::StablePortName("Synth 1:a"), "Synth 1:a");
    EXPECT_EQ(MidiBackendAlsa::StablePortName("Synth :0"), "Synth :0");
    EXPECT_EQ(MidiBackendAlsa::StablePortName("14:0"), "14:0");
    EXPECT_EQ(MidiBackendAlsa::StablePortName(""), "");
}

void ExpectUnusable(MidiBackendAlsa& backend)
{
    EXPECT_FALSE(backend.Available());
    EXPECT_EQ(backend.Error(), "no ALSA sequencer is available");
    EXPECT_TRUE(backend.InputNames().empty());
    EXPECT_TRUE(backend.OutputNames().empty());
    EXPECT_FALSE(backend.OpenInput(0));
    EXPECT_FALSE(backend.OpenOutput(0));
    const std::vector<std::uint8_t> message { 0xF0, 0x7E, 0xF7 };
    EXPECT_FALSE(backend.Send(message, std::chrono::milliseconds(10)));
    backend.OnInput([](std::span<const std::uint8_t>) {});
    backend.Close();
}

TEST(MidiBackendAlsa, WithoutTheSequencerDeviceHasNoPortsAndSaysWhy)
{
    MidiBackendAlsa backend("Cardmill test", "/nonexistent/snd/seq");
    ExpectUnusable(backend);
}

TEST(MidiBackendAlsa, ASequencerClientThatCantBeMadeFailsCleanly)
{
    if (std::filesystem::exists("/dev/snd/seq"))
        GTEST_SKIP() << "this machine has an ALSA sequencer";
    // The device check passes, so RtMidi itself tries the missing sequencer and fails.
    MidiBackendAlsa backend("Cardmill test", "/dev/null");
    ExpectUnusable(backend);
}

} // namespace
} // namespace cardmill
