// Standard MIDI files written by python3-mido (format 0 and 1, tempo changes, running status,
// SysEx), converted and decoded: every event must appear in order, with the time in
// milliseconds that mido's own tempo map gives it (within 2 ms).

#include "model/sequence/MSeqFileMidi.h"
#include "support/Midi.h"
#include "support/Steps.h"
#include "support/TestEnv.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace cardmill {
namespace {

const char* const kWriter = R"PY(
import random, sys
import mido

folder, count = sys.argv[1], int(sys.argv[2])
for n in range(count):
    rng = random.Random(n)
    kind = n % 2
    ppq = rng.choice([24, 96, 120, 480, 960])
    mid = mido.MidiFile(type=kind, ticks_per_beat=ppq)
    for t in range(1 if kind == 0 else rng.randint(2, 4)):
        track = mido.MidiTrack()
        mid.tracks.append(track)
        if t == 0:
            track.append(mido.MetaMessage("track_name", name="song %d" % n, time=0))
        for e in range(rng.randint(5, 60)):
            delta = rng.choice([0, 0, 1, 5, 30, ppq, 3 * ppq, rng.randint(0, 4 * ppq)])
            what = rng.random()
            channel = rng.randint(0, 2)
            if what < 0.08 and t == 0:
                track.append(mido.MetaMessage("set_tempo", tempo=rng.randint(150000, 1500000), time=delta))
            elif what < 0.14:
                data = [rng.randint(0, 127) for _ in range(rng.randint(1, 45))]
                track.append(mido.Message("sysex", data=data, time=delta))
            elif what < 0.2:
                track.append(mido.Message("program_change", channel=channel, program=rng.randint(0, 127), time=delta))
            elif what < 0.25:
                track.append(mido.Message("aftertouch", channel=channel, value=rng.randint(0, 127), time=delta))
            elif what < 0.3:
                track.append(mido.Message("pitchwheel", channel=channel, pitch=rng.randint(-8192, 8191), time=delta))
            elif what < 0.35:
                track.append(mido.Message("control_change", channel=channel, control=7, value=rng.randint(0, 127), time=delta))
            else:
                track.append(mido.Message("note_on", channel=channel, note=rng.randint(30, 90),
                                          velocity=rng.randint(0, 127), time=delta))
    path = "%s/song%d.mid" % (folder, n)
    mid.save(path)
    seconds = 0.0
    with open(path + ".expected", "w") as out:
        for message in mido.MidiFile(path):
            seconds += message.time
            if not message.is_meta:
                out.write("%.6f %s\n" % (seconds * 1000.0, " ".join(str(b) for b in message.bytes())))
)PY";

struct Expected {
    double milliseconds;
    test::Bytes bytes;
};

std::vector<Expected> ReadExpected(const std::string& path)
{
    std::vector<Expected> events;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        Expected event;
        fields >> event.milliseconds;
        for (int byte; fields >> byte;)
            event.bytes.push_back(static_cast<std::uint8_t>(byte));
        events.push_back(event);
    }
    return events;
}

TEST(MidoSequences, EveryEventAtTheTimeMidosTempoMapGives)
{
    test::TempDir dir;
    const std::string script = dir.Write("write.py", std::string(kWriter));
    constexpr int kFiles = 40;
    ASSERT_EQ(std::system(("/usr/bin/python3 '" + script + "' '" + dir.Path() + "' "
                  + std::to_string(kFiles))
                              .c_str()),
        0);

    test::TestEnv env;
    for (int n = 0; n < kFiles; ++n) {
        const std::string path = dir.File("song" + std::to_string(n) + ".mid");
        const auto expected = ReadExpected(path + ".expected");
        MSeqFileMidi sequence(env.services);
        ASSERT_TRUE(sequence.OpenSequence(path)) << path;
        EXPECT_EQ(sequence.GetComment(), "song " + std::to_string(n));
        const std::uint32_t pacing = env.services.sysexPacing;
        ASSERT_EQ(test::LoadFully(sequence), 1) << path;
        const test::Bytes converted(
            sequence.ConvertedData().begin(), sequence.ConvertedData().end());
        const auto decoded = test::DecodeSequence(converted, pacing);
        ASSERT_TRUE(decoded.wellFormed) << path;
        ASSERT_EQ(decoded.messages.size(), expected.size()) << path;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            ASSERT_EQ(decoded.messages[i].bytes, expected[i].bytes) << path << " event " << i;
            // The first group of the stream stands at 1 ms.
            const double time = static_cast<double>(decoded.messages[i].time) - 1.0;
            ASSERT_NEAR(time, expected[i].milliseconds, 2.0) << path << " event " << i;
        }
    }
}

} // namespace
} // namespace cardmill
