"""`cardmill fit` over random projects of every kind of file a musician brings (WAV files with
their settings edited, SFZ, SoundFont 2 and 3, DLS, DecentSampler libraries, Cardmill
instruments): what the fit must keep, it keeps, and what its plan says is what the project takes."""

import os
import random
import shutil
import subprocess
import time
import unittest

from cardmill_e2e import CardmillTestCase
from library_files import dslibrary, random_dls, random_soundfont, tone, wav
from test_fit import digest

MAKE_SF3 = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sf3_from_sf2.py")
RATES = (48000, 44100, 32000, 24000, 22050, 16000, 11025, 8000)
CARDS = ((0, 131072), (1, 262144), (2, 524288), (3, 1048576), (4, 2097152))


class FitKeeps(CardmillTestCase):
    def samples_of(self, listing):
        """Every item's samples, in the project's order."""
        return [(g["group"], f["file"], f.get("upperKeys"), f.get("samples", []))
                for g in listing["groups"] if g["group"] < 11 for f in g["files"]]

    def random_project(self, rng, number):
        """Files of every kind, some sounds played in several places, settings edited."""
        folder = self.path("p%d" % number)
        os.mkdir(folder)
        project = self.new_project(os.path.join(folder, "song.cmr"), "--card-size", "8M")
        wavs = []
        for n in range(rng.randint(2, 4)):
            rate = rng.choice((48000, 44100, 32000))
            frames = rng.randint(8000, 30000)
            channels = rng.choice((1, 1, 2))
            loop = None
            if rng.random() < 0.6:
                start = rng.randint(frames // 5, frames // 2)
                loop = (start, rng.randint(start + 500, frames - 1))
            path = os.path.join(folder, "w%d.wav" % n)
            with open(path, "wb") as f:
                f.write(wav(tone(rng, frames, rate, channels), rate, channels, root=rng.randint(40, 80),
                            cents=rng.randint(0, 40), loop=loop))
            wavs.append((path, frames, loop))
        added = [p for p, _, _ in wavs[:2]]
        self.run_cardmill("add", project, *added, check=0)
        # Settings edited as people do: a start, a volume.
        for index, (path, frames, loop) in enumerate(wavs[:2], start=1):
            edits = ["--volume", str(rng.choice((148, 200, 252)))]
            if rng.random() < 0.5:
                edits += ["--start", str((loop[0] if loop else frames) // 3)]
            self.run_cardmill("sample", project, "k1", str(index), *edits, check=0)

        # An SFZ of two regions over one WAV (played again on its own above) and another.
        sfz = os.path.join(folder, "two.sfz")
        with open(sfz, "w") as f:
            f.write("<region> lokey=0 hikey=59 pitch_keycenter=55 tune=%d sample=w0.wav\n" % rng.randint(-40, 40))
            f.write("<region> lokey=60 hikey=127 pitch_keycenter=72 offset=%d sample=w0.wav\n" % rng.randint(0, 200))
            f.write("<region> lokey=60 hikey=127 lovel=100 pitch_keycenter=72 sample=w1.wav\n")
        self.run_cardmill("add", project, "--group", "k2", sfz, check=0)

        # A SoundFont kit: many zones over a few samples, two presets sharing them.
        font = os.path.join(folder, "kit.sf2")
        with open(font, "wb") as f:
            f.write(random_soundfont(rng, early_loops=False))
        self.run_cardmill("add", project, "--group", "d1", "--preset", "128:0", font, check=0)
        self.run_cardmill("add", project, "--group", "k3", "--preset", "0:5", font, check=0)
        if rng.random() < 0.5 and shutil.which("oggenc"):
            sf3 = os.path.join(folder, "kit.sf3")
            subprocess.run(["/usr/bin/python3", MAKE_SF3, font, sf3], check=True, capture_output=True)
            self.run_cardmill("add", project, "--group", "k4", "--preset", "0:5", sf3, check=0)

        # A DLS file of two instruments over two waves, one region with a wsmp of its own.
        library = os.path.join(folder, "gm.dls")
        with open(library, "wb") as f:
            f.write(random_dls(rng))
        self.run_cardmill("add", project, "--group", "k5", "--preset", "Organ", library, check=0)

        # A DecentSampler library whose preset plays one sample twice.
        rate = rng.choice((48000, 44100))
        one = wav(tone(rng, rng.randint(6000, 15000), rate), rate)
        regions = [{"path": "Samples/a.wav", "root": 48, "lo": 0, "hi": 59, "tuning": rng.choice((0, 0.25))},
                   {"path": "Samples/a.wav", "root": 60, "lo": 60, "hi": 127, "volume": -6, "start": 100}]
        zipped = os.path.join(folder, "keys.dslibrary")
        with open(zipped, "wb") as f:
            f.write(dslibrary({"Keys/piano": regions}, {"Keys/Samples/a.wav": one}))
        self.run_cardmill("add", project, "--group", "k6", zipped, check=0)

        # A Cardmill instrument of two of the WAV files.
        cmt = os.path.join(folder, "pair.cmt")
        self.run_cardmill("instrument", "-o", cmt, "--keys", "60,127", wavs[-1][0], wavs[0][0], check=0)
        self.run_cardmill("add", project, "--group", "k7", cmt, check=0)
        return project

    def assertKept(self, before, after, rates, trimmed, normalised):
        self.assertEqual(len(before), len(after))
        # One sound before is one sound after, and two stay two: a fit never joins samples.
        renamed = {}
        for (group, name, keys, old), (group2, name2, keys2, new) in zip(before, after):
            where = "%s in group %d" % (name, group)
            self.assertEqual((group, keys, len(old)), (group2, keys2, len(new)), where)
            for a, b in zip(old, new):
                renamed.setdefault(a["path"], set()).add(b["path"])
                self.assertIn(b["rate"], [a["rate"]] + [r for r in rates if r < a["rate"]], where)
                for key in ("rootKey", "fineTune", "channel", "looping", "smoothing"):
                    self.assertEqual(a[key], b[key], "%s: %s" % (where, key))
                if normalised and b["volume"] != a["volume"]:
                    self.assertLess(b["volume"], a["volume"], where)
                else:
                    self.assertEqual(a["volume"], b["volume"], where)
                # Loops and starts keep their places in time, to a frame or two of each rate and
                # a loop's move to a zero crossing (4 frames). A trim cuts the silence before a
                # sound played from its first frame.
                step = 1 / a["rate"] + 8 / b["rate"]
                if a["looping"]:
                    self.assertAlmostEqual((a["loopEnd"] - a["loopStart"]) / a["rate"],
                                           (b["loopEnd"] - b["loopStart"]) / b["rate"], delta=2 / b["rate"] + 1 / a["rate"],
                                           msg=where)
                    if not trimmed or a["startFrame"] > 0:
                        self.assertAlmostEqual((a["loopStart"] - a["startFrame"]) / a["rate"],
                                               (b["loopStart"] - b["startFrame"]) / b["rate"], delta=step, msg=where)
                if not trimmed:
                    self.assertAlmostEqual(a["startFrame"] / a["rate"], b["startFrame"] / b["rate"], delta=step,
                                           msg=where)
        self.assertTrue(all(len(paths) == 1 for paths in renamed.values()), renamed)
        self.assertEqual(len({next(iter(p)) for p in renamed.values()}), len(renamed))

    def test_random_projects_keep_every_sample_and_setting_and_take_what_the_plan_says(self):
        for number in range(8):
            rng = random.Random(1000 + number)
            with self.subTest(project=number):
                project = self.random_project(rng, number)
                listing = self.listing(project)
                total = listing["totalBytes"]
                token, card = max(c for c in CARDS if c[1] < total) if total > CARDS[0][1] else CARDS[0]
                options = [o for o in ("--trim", "--normalize") if rng.random() < 0.5]
                before = self.samples_of(listing)
                saved = digest(project)
                result = self.run_cardmill("fit", project, "--card-size", str(token), "--min-rate", "8000",
                                           *options)
                totals = next(line for line in result.stdout.splitlines() if line.startswith("Total: "))
                planned = int(totals.split(", ")[1].split()[0])
                if result.returncode == 1:
                    self.assertIn("can't fit the card even", result.stdout)
                    self.assertGreater(planned, card)
                    self.assertEqual(digest(project), saved)
                    continue
                if "Nothing to change" in result.stderr:
                    self.assertEqual((planned, digest(project)), (total, saved))
                    continue
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertIn("fit --undo", result.stderr)
                after = self.listing(project)
                self.assertEqual(after["totalBytes"], planned)
                self.assertLessEqual(planned, card)
                self.assertKept(before, self.samples_of(after), RATES, "--trim" in options, "--normalize" in options)
                # Opened again later, after the files' dates have passed the project's.
                time.sleep(1.1)
                self.assertEqual(self.listing(project), after)
                self.run_cardmill("image", project, "-o", project + ".img", check=0)
                # Undone: the project byte for byte as it was.
                self.run_cardmill("fit", "--undo", project, check=0)
                self.assertEqual(digest(project), saved)


if __name__ == "__main__":
    unittest.main()
