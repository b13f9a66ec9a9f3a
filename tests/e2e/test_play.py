"""`cardmill play`: a voice heard as the card will play it, from a project, a card image or a
MIDI file, written to a WAV file here (the sound output is heard in the acceptance tests)."""

import math
import re
import unittest

from cardmill_e2e import CardmillTestCase
from test_fit import frames_of, frequency, tone_with_loop


def energy(samples):
    return sum(s * s for s in samples)


def spectral_difference_db(reference, other):
    """How far two sounds differ, in dB below the reference's energy, as the levels of bands
    280 Hz wide in frames of 43 ms: a sound at another rate comes back with its pitch kept to
    the card's 1/256 semitone, which moves a partial by a fraction of a cent, and then drifts in
    phase against the original, though it sounds the same."""
    import numpy
    n = min(len(reference), len(other))
    window = numpy.hanning(2048)

    def levels(samples):
        x = numpy.asarray(samples[:n], dtype=float)
        power = numpy.abs(numpy.fft.rfft([x[i:i + 2048] * window for i in range(0, n - 2048, 512)], axis=1)) ** 2
        return numpy.sqrt(power[:, :1020].reshape(power.shape[0], -1, 12).sum(axis=2))

    a, b = levels(reference), levels(other)
    return 10 * math.log10(float(((a - b) ** 2).sum() / (a ** 2).sum()))


class Play(CardmillTestCase):
    def render(self, *args, name="out.wav"):
        out = self.path(name)
        self.run_cardmill("play", *args, "-o", out, check=0)
        rate, samples = frames_of(out)
        self.assertEqual(rate, 48000)
        return samples

    def test_after_fit_the_voice_sounds_as_before_within_the_loss_the_plan_reported(self):
        # A plucked string (nothing above 10 kHz) with partials at 13 and 19 kHz, at 44.1 kHz:
        # fit to 32 kHz loses the one above 16 kHz and keeps the rest, and the plan says how much.
        sound = self.path("pluck.wav")
        self.tool("sox", "-n", "-r", "44100", "-b", "16", "-c", "1", sound, "synth", "1.5",
                  "pluck", "A2", "synth", "1.5", "sine", "mix", "13000", "synth", "1.5", "sine",
                  "mix", "19000", "vol", "0.3")
        project = self.new_project("live.cmr", "--card-size", "128K")
        self.run_cardmill("add", project, sound, check=0)
        before = self.render(project, "k1", "1", "--keys", "60,48", "--hold", "1500", name="before.wav")
        plan = self.run_cardmill("fit", project, check=0).stdout
        row = next(line for line in plan.splitlines() if "pluck.wav" in line)
        self.assertIn("44100 -> ", row)
        loss = float(re.findall(r"(-?\d+\.\d)", row)[-1])
        after = self.render(project, "k1", "1", "--keys", "60,48", "--hold", "1500", name="after.wav")
        difference_db = spectral_difference_db(before, after)
        self.assertLess(loss, -0.5)
        self.assertLessEqual(difference_db, loss + 0.5, f"plan: {row}")

    def test_the_card_image_plays_as_the_project_and_each_key_at_its_pitch(self):
        tone = tone_with_loop(self.path("tone.wav"), 1.0, 441, 22050, 1000, 1000 + 50 * 100 - 1)
        project = self.new_project("p.cmr")
        self.run_cardmill("add", project, tone, check=0)
        image = self.path("card.img")
        self.run_cardmill("image", project, "-o", image, check=0)
        from_project = self.render(project, "k1", "1", "--keys", "C3,G3", "--hold", "2000")
        from_card = self.render("--card", image, "k1", "1", "--keys", "C3,G3", "--hold", "2000", name="card.wav")
        self.assertEqual(from_project, from_card)
        # Held past the end of its data, the loop goes on: C3 is the root, G3 a fifth up.
        self.assertAlmostEqual(1200 * math.log2(frequency(from_card[24000:90000], 48000) / 441), 0, delta=1)
        second = from_card[int(2.18 * 48000) + 24000:int(2.18 * 48000) + 90000]
        self.assertAlmostEqual(1200 * math.log2(frequency(second, 48000) / 441), 700, delta=1)

    def test_a_midi_file_plays_its_notes_of_every_channel_through_the_voice(self):
        sound = self.sox("sine.wav", "0.3", "sine", "440", rate=48000)
        project = self.new_project("p.cmr")
        self.run_cardmill("add", project, sound, check=0)
        import mido  # Debian's python3-mido, seen only by /usr/bin/python3
        song = self.path("song.mid")
        # Two tracks and channels, 120 beats a minute: a note at 0 s and one at 1 s.
        midi = mido.MidiFile(ticks_per_beat=480)
        midi.tracks += [mido.MidiTrack([mido.Message("note_on", channel=0, note=60, velocity=100, time=0),
                                        mido.Message("note_off", channel=0, note=60, velocity=0, time=240)]),
                        mido.MidiTrack([mido.Message("note_on", channel=5, note=72, velocity=100, time=960),
                                        mido.Message("note_on", channel=5, note=72, velocity=0, time=240)])]
        midi.save(song)
        samples = self.render(project, "k1", "1", "--midi", song)
        # The sound lasts 0.3 s: an octave up, 0.15 s.
        first, second = samples[:12000], samples[48200:55000]
        self.assertAlmostEqual(1200 * math.log2(frequency(first, 48000) / 440), 0, delta=1)
        self.assertAlmostEqual(1200 * math.log2(frequency(second, 48000) / 880), 0, delta=1)
        self.assertLess(energy(samples[30000:46000]), energy(first) / 1000)

    def test_mistakes_are_told(self):
        project = self.new_project("p.cmr")
        self.run_cardmill("add", project, self.sox("a.wav", "0.2", "sine", "440"), check=0)
        for args, code, said in (
                ([project, "k2", "1"], 1, "group k2 has no voice 1: it is empty"),
                ([project, "k1", "2"], 1, "it holds 1 voice"),
                ([project, "x9", "1"], 2, "no sound group 'x9'"),
                ([project, "k1", "1", "--keys", "C3,H3"], 2, "--keys takes keys"),
                ([project, "k1", "1", "--keys", "60", "--midi", "a.mid"], 2, "can't be given together"),
                ([project, "k1", "1", "--midi", self.path("none.mid")], 1, "can't read the MIDI file"),
                ([project, "k1", "1", "--midi", project], 1, "no standard MIDI file"),
                (["--card", project, "k1", "1"], 1, ""),
                ([self.path("gone.cmr"), "k1", "1"], 1, "")):
            result = self.run_cardmill("play", *args, "-o", self.path("x.wav"))
            self.assertEqual(result.returncode, code, result.stderr)
            self.assertIn(said, result.stderr)
        # No sound server: said, and where the sound can go instead.
        result = self.run_cardmill("play", project, "k1", "1", env={"PULSE_SERVER": "unix:/nonexistent"})
        self.assertEqual(result.returncode, 1)
        self.assertIn("-o OUT.wav", result.stderr)


if __name__ == "__main__":
    unittest.main()
