"""`cardmill fit` on a project over its card, as a musician runs it: the plan first, then the
project fitted, the original files untouched, and a second run that changes nothing."""

import hashlib
import math
import os
import struct
import unittest
import wave

from cardmill_e2e import CardmillTestCase, read


def frames_of(path):
    with wave.open(path, "rb") as w:
        data = w.readframes(w.getnframes())
        return w.getframerate(), list(struct.unpack(f"<{len(data) // 2}h", data))


def frequency(samples, rate):
    """From the first to the last rising zero crossing, interpolated between frames."""
    crossings = [i - 1 + samples[i - 1] / (samples[i - 1] - samples[i])
                 for i in range(1, len(samples)) if samples[i - 1] < 0 <= samples[i]]
    return (len(crossings) - 1) * rate / (crossings[-1] - crossings[0])


def tone_with_loop(path, seconds, hz, rate, start, end):
    """A 16-bit mono sine with a sampler chunk holding one forward loop."""
    count = int(seconds * rate)
    data = struct.pack(f"<{count}h", *(round(0.7 * 32767 * math.sin(2 * math.pi * hz * i / rate)) for i in range(count)))
    smpl = struct.pack("<9I", 0, 0, 10 ** 9 // rate, 60, 0, 0, 0, 1, 0) + struct.pack("<6I", 0, 0, start, end, 0, 0)
    fmt = struct.pack("<HHIIHH", 1, 1, rate, rate * 2, 2, 16)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"smpl" + struct.pack("<I", len(smpl)) + smpl \
        + b"data" + struct.pack("<I", len(data)) + data
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", len(body)) + body)
    return path


def digest(path):
    return hashlib.sha256(read(path)).hexdigest()


class Fit(CardmillTestCase):
    def setUp(self):
        super().setUp()
        self.project = self.new_project("live.cmr", "--card-size", "256K")
        self.hum = self.sox("hum.wav", "1.5", "sine", "100", rate=48000)
        self.bright = self.sox("bright.aif", "1.0", "sine", "440", "sine", "18000", rate=48000)
        self.looped = tone_with_loop(self.path("loop.wav"), 1.2, 441, 48000, 1003, 40001)
        # An instrument of two sounds, one of them also a sound of its own in the project.
        self.low = self.sox("low.wav", "0.5", "sine", "220", rate=48000)
        self.instrument = self.path("two.cmt")
        self.run_cardmill("instrument", "-o", self.instrument, "--keys", "60,127", self.low, self.hum, check=0)
        self.originals = {p: digest(p) for p in (self.hum, self.bright, self.looped, self.low, self.instrument)}
        self.run_cardmill("add", self.project, self.hum, self.bright, self.looped, check=0)
        self.run_cardmill("add", self.project, "--group", "k2", self.instrument, check=0)

    def totals(self):
        listing = self.listing(self.project)
        return listing["totalBytes"], listing["cardBytes"]

    def test_a_project_over_its_card_fits_and_a_second_fit_changes_nothing(self):
        before = digest(self.project)
        dry = self.run_cardmill("fit", self.project, "--dry-run", check=0)
        self.assertIn("hum.wav", dry.stdout)
        self.assertIn("48000 -> ", dry.stdout)
        self.assertEqual(digest(self.project), before)
        self.assertFalse(os.path.exists(self.path("live.fit")))
        total, card = self.totals()
        self.assertGreater(total, card)

        self.run_cardmill("fit", self.project, "--normalize", check=0)
        total, card = self.totals()
        self.assertLessEqual(total, card)
        self.run_cardmill("image", self.project, "-o", self.path("card.img"), check=0)
        self.assertEqual({p: digest(p) for p in self.originals}, self.originals)
        # The hum, with nothing above 11 kHz, went first and furthest.
        groups = self.listing(self.project)["groups"]
        files = [f for g in groups for f in g["files"]]
        self.assertTrue(all(f["path"].startswith(self.path("live.fit") + "/") for f in files if "hum" in f["file"]))
        # The instrument is written anew beside the project, its samples the fitted ones.
        two = next(f for f in files if f["file"] == "two.cmt")
        self.assertEqual(two["path"], self.path("live.fit/two.cmt"))
        self.assertEqual([s["file"] for s in two["samples"]], ["low.wav", "hum.wav"])
        self.assertLess(frames_of(self.path("live.fit/low.wav"))[0], 48000)
        # The tone at 0.7 of full scale is raised by 252/180 (+2.9 dB) and its volume lowered as much.
        looped = next(f for f in files if f["file"] == "loop.wav")
        self.assertEqual(looped["samples"][0]["volume"], 180)
        self.assertAlmostEqual(max(map(abs, frames_of(looped["path"])[1])) / 32767, 0.7 * 252 / 180, delta=0.01)

        fitted = digest(self.project)
        folder = {n: digest(self.path("live.fit/" + n)) for n in os.listdir(self.path("live.fit"))}
        again = self.run_cardmill("fit", self.project, "--normalize", check=0)
        self.assertIn("Nothing to change", again.stderr)
        self.assertEqual(digest(self.project), fitted)
        self.assertEqual({n: digest(self.path("live.fit/" + n)) for n in os.listdir(self.path("live.fit"))}, folder)

        # Fitted again onto a smaller card: new files beside the earlier ones, which stay as
        # they were (an earlier project or an Undo may still play them).
        self.run_cardmill("fit", self.project, "--card-size", "128K", "--min-rate", "8000", check=0)
        self.assertEqual({n: digest(self.path("live.fit/" + n)) for n in folder}, folder)
        self.assertIn("hum-2.wav", os.listdir(self.path("live.fit")))

    def test_the_resampled_tone_agrees_with_sox_keeps_its_pitch_and_its_loop_length(self):
        # 3 s at 48 kHz is over a 256 K card, and still over it at 44.1 kHz.
        tone = tone_with_loop(self.path("tone.wav"), 3.0, 441, 48000, 10003, 143001)
        project = self.new_project("tone.cmr", "--card-size", "256K")
        self.run_cardmill("add", project, tone, check=0)
        self.run_cardmill("fit", project, "--min-rate", "32000", check=0)
        fitted = self.path("tone.fit/tone.wav")
        rate, ours = frames_of(fitted)
        self.assertEqual(rate, 32000)
        self.assertLess(abs(1200 * math.log2(frequency(ours, rate) / 441)), 1.0)
        sound = self.info(fitted)[0][0]["sound"]
        self.assertLessEqual(abs((sound["loopEnd"] - sound["loopStart"]) / rate - (143001 - 10003) / 48000), 1 / rate)
        self.tool("sox", tone, "-r", "32000", self.path("sox.wav"), "rate", "-v")
        _, theirs = frames_of(self.path("sox.wav"))
        n = min(len(ours), len(theirs))
        signal = sum(s * s for s in theirs[:n])
        noise = sum((a - b) ** 2 for a, b in zip(ours[:n], theirs[:n]))
        self.assertGreater(10 * math.log10(signal / max(noise, 1)), 60)

    def test_a_project_that_cant_fit_is_said_so_and_left_as_it_was(self):
        before = digest(self.project)
        result = self.run_cardmill("fit", self.project, "--card-size", "128K", "--min-rate", "44100", check=1)
        self.assertIn("can't fit the card even", result.stdout)
        self.assertIn("nothing is changed", result.stderr)
        self.assertEqual(digest(self.project), before)
        self.assertFalse(os.path.exists(self.path("live.fit")))
        for args in (("--trim=5",), ("--min-rate", "96000"), ("--card-size", "3M")):
            self.run_cardmill("fit", self.project, *args, check=2)


if __name__ == "__main__":
    unittest.main()
