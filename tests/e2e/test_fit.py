"""`cardmill fit` on a project over its card, as a musician runs it: the plan first, then the
project fitted, the original files untouched, and a second run that changes nothing."""

import hashlib
import math
import os
import shutil
import struct
import time
import unittest
import wave

from cardmill_e2e import KILL_AT_CALL_LIBRARY, CardmillTestCase, read
from library_files import wav


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
    """A 16-bit mono sine at 0.7 of full scale with a sampler chunk holding one forward loop."""
    sine = [round(0.7 * 32767 * math.sin(2 * math.pi * hz * i / rate)) for i in range(int(seconds * rate))]
    with open(path, "wb") as f:
        f.write(wav(sine, rate, loop=(start, end)))
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
        power = sum(s * s for s in theirs[:n])
        noise = sum((a - b) ** 2 for a, b in zip(ours[:n], theirs[:n]))
        self.assertGreater(10 * math.log10(power / max(noise, 1)), 60)

    def test_a_second_fit_makes_its_sounds_from_the_originals_as_one_fit_would(self):
        # 96 kHz -> 44.1 kHz -> 22.05 kHz must give the bytes of 96 kHz -> 22.05 kHz.
        self.sox("hi.wav", "2.8", "sine", "300", "sine", "7000", rate=96000)
        twice = self.new_project("twice.cmr", "--card-size", "256K")
        once = self.new_project("once.cmr", "--card-size", "128K")
        for project in (twice, once):  # looped whole: too long a sound to end in silence
            self.run_cardmill("--yes", "add", project, self.path("hi.wav"), check=0)
        self.run_cardmill("fit", twice, "--min-rate", "44100", check=0)
        self.assertEqual(frames_of(self.path("twice.fit/hi.wav"))[0], 44100)
        self.run_cardmill("fit", twice, "--card-size", "128K", "--min-rate", "22050", check=0)
        self.run_cardmill("fit", once, "--min-rate", "22050", check=0)
        self.assertEqual(frames_of(self.path("twice.fit/hi-2.wav")), frames_of(self.path("once.fit/hi.wav")))
        self.assertEqual(frames_of(self.path("once.fit/hi.wav"))[0], 22050)
        # Its original moved away, a fitted file is fitted from itself, and the user is told.
        os.rename(self.path("hi.wav"), self.path("elsewhere.wav"))
        result = self.run_cardmill("fit", twice, "--card-size", "128K", "--min-rate", "8000", "--trim", check=0)
        self.assertIn("was made by an earlier fit from '%s', which is gone or has changed" % self.path("hi.wav"),
                      result.stdout)

    def test_undo_gives_back_the_project_as_it_was_and_asks_when_it_changed_since(self):
        before = digest(self.project)
        result = self.run_cardmill("fit", self.project, check=0)
        self.assertIn("'cardmill fit --undo %s' gives back the project as it was" % self.project, result.stderr)
        fitted = digest(self.project)
        self.run_cardmill("fit", "--undo", self.project, check=0)
        self.assertEqual(digest(self.project), before)
        result = self.run_cardmill("fit", "--undo", self.project, check=1)
        self.assertIn("has no fit to undo", result.stderr)

        # Saved again after the fit: undoing asks, and No leaves it.
        self.run_cardmill("fit", self.project, check=0)
        time.sleep(0.01)
        self.run_cardmill("set", self.project, "--name", "Later", check=0)
        changed = digest(self.project)
        self.assertNotEqual(changed, fitted)
        result = self.run_cardmill("fit", "--undo", self.project, check=3)
        self.assertIn("was saved again after its last fit", result.stderr)
        self.assertEqual(digest(self.project), changed)
        self.run_cardmill("--yes", "fit", "--undo", self.project, check=0)
        self.assertEqual(digest(self.project), before)
        self.run_cardmill("fit", "--undo", "--trim", self.project, check=2)

    @unittest.skipUnless(KILL_AT_CALL_LIBRARY, "needs the kill_at_call library")
    def test_a_ctrl_c_at_any_point_leaves_the_project_as_it_was_or_fitted_and_no_stray_file(self):
        before = read(self.project)
        folder = self.path("live.fit")
        undo = self.path("live.before-fit.cmr")
        self.run_cardmill("fit", self.project, env={"LD_PRELOAD": KILL_AT_CALL_LIBRARY,
                                                    "KILL_AT_COUNT_FILE": self.path("count")}, check=0)
        calls = int(read(self.path("count")))
        fitted = {n: read(os.path.join(folder, n)) for n in os.listdir(folder)}
        for call in range(1, calls + 1, 2):
            with open(self.project, "wb") as f:
                f.write(before)
            shutil.rmtree(folder, ignore_errors=True)
            if os.path.exists(undo):
                os.remove(undo)
            result = self.run_cardmill("fit", self.project, env={"LD_PRELOAD": KILL_AT_CALL_LIBRARY,
                                                                 "KILL_AT_CALL": str(call), "KILL_SIGNAL": "2"})
            left = sorted(os.listdir(folder)) if os.path.exists(folder) else []
            if result.returncode == 0:
                self.assertEqual(left, sorted(fitted), f"call {call}")
                self.assertTrue(os.path.exists(undo), f"call {call}")
                continue
            self.assertEqual(result.returncode, 130, f"call {call}: {result.stderr}")
            self.assertEqual((read(self.project), left, os.path.exists(undo)), (before, [], False), f"call {call}")

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
