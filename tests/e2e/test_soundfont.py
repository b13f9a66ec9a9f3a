"""Libraries of presets as instruments: Debian's GM SoundFont against the SFZ that an independent
editor (Polyphone) exports from it, an SF3 made from an SF2, DLS files, and the choices and
mistakes of a user."""

import json
import math
import os
import shutil
import struct
import subprocess
import sys
import unittest

from cardmill_e2e import CARDMILL, CardmillTestCase

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "fuzz"))
from seeds import dls, soundfont  # noqa: E402  the seed builders: two presets, looped samples

GM = "/usr/share/sounds/sf2/TimGM6mb.sf2"
MAKE_SF3 = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sf3_from_sf2.py")


class SoundFonts(CardmillTestCase):
    def assertSameCardWithinTheCodecsLoss(self, a, b):
        """The same card but the sample words, which differ from the first that does by no more
        than Ogg Vorbis's loss (25 dB below the signal)."""
        self.assertEqual(len(a), len(b))
        first = next(i for i in range(len(a)) if a[i] != b[i] and i > 200) // 2 * 2
        words = (len(a) - first) // 2
        x = struct.unpack(">%dh" % words, a[first:first + 2 * words])
        y = struct.unpack(">%dh" % words, b[first:first + 2 * words])
        noise = sum((p - q) ** 2 for p, q in zip(x, y)) or 1
        self.assertGreater(10 * math.log10(sum(p * p for p in x) / noise), 25)

    def assertSameCardButTheName(self, a, b):
        self.assertEqual(len(a), len(b))
        differing = [i for i in range(len(a)) if a[i] != b[i]]
        # The voice's name is 10 bytes of its voice record.
        self.assertTrue(not differing or differing[-1] - differing[0] < 10, differing[:20])

    @unittest.skipUnless(os.path.exists(GM) and shutil.which("polyphone"),
                         "needs timgm6mb-soundfont and polyphone")
    def test_gm_presets_give_the_card_of_their_polyphone_sfz_export(self):
        (catalog,), _ = self.info(GM)
        self.assertEqual(catalog["kind"], "instrument library")
        self.assertEqual(len(catalog["presets"]), 136)
        exported = self.path("export")
        os.mkdir(exported)
        subprocess.run(["polyphone", "-3", "-i", GM, "-d", exported, "-c", "100"], check=True,
                       capture_output=True, env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
        for preset, sfz in (("0:0", "000_Piano 1.sfz"), ("0:48", "048_Strings CLP.sfz"),
                            ("128:0", "000_Standard.sfz")):
            with self.subTest(preset=preset):
                a = self.image_of("sf2-" + preset, "--preset", preset, GM)
                b = self.image_of("sfz-" + preset, os.path.join(exported, "TimGM6mb", sfz))
                self.assertGreater(len(a), 100000)
                self.assertSameCardButTheName(a, b)

    @unittest.skipUnless(shutil.which("polyphone"), "needs polyphone")
    def test_the_two_sides_of_a_stereo_sample_give_the_stereo_card_of_the_export(self):
        # Polyphone makes the SoundFont from an SFZ of a stereo WAV (two linked samples panned
        # hard left and right) and exports it again as one stereo WAV.
        self.sox("pad.wav", "0.3", "sine", "440", "sine", "660", channels=2)
        self.write("pad.sfz", b"<region> sample=pad.wav pitch_keycenter=60 loop_mode=loop_continuous"
                              b" loop_start=100 loop_end=5000 volume=-3\n")
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        folder = os.path.dirname(self.path("pad.sfz"))
        subprocess.run(["polyphone", "-1", "-i", self.path("pad.sfz"), "-d", folder, "-o", "pad2"],
                       check=True, capture_output=True, env=env)
        exported = self.path("export")
        os.mkdir(exported)
        subprocess.run(["polyphone", "-3", "-i", self.path("pad2.sf2"), "-d", exported, "-c", "000"],
                       check=True, capture_output=True, env=env)
        (instrument,), _ = self.info("--preset", "0:0", self.path("pad2.sf2"))
        self.assertEqual(len(instrument["instrument"]["samples"]), 1)
        self.assertSameCardButTheName(self.image_of("st-a", self.path("pad2.sf2")),
                                      self.image_of("st-b", os.path.join(exported, "pad2", "pad.sfz")))

    def test_an_sf3_made_from_an_sf2_gives_its_keys_and_its_samples_within_the_codecs_loss(self):
        # The stereo sides' Ogg streams differ in their bytes; they decode to as many frames.
        for name, data, preset, channels in (("keys", soundfont(samples=2), "Grand", 1),
                                             ("pad", soundfont(stereo=True), "Pad", 2)):
            with self.subTest(preset):
                sf2, sf3 = self.write(name + ".sf2", data), self.path(name + ".sf3")
                subprocess.run(["/usr/bin/python3", MAKE_SF3, sf2, sf3], check=True)
                (from_sf2,), _ = self.info("--preset", preset, sf2)
                (from_sf3,), result = self.info("--preset", preset, sf3)
                self.assertEqual(from_sf3["format"], "SoundFont 3")
                self.assertNotIn("pan", result.stderr)
                for field in ("upperKeys", "groupSize"):
                    self.assertEqual(from_sf3["instrument"][field], from_sf2["instrument"][field])
                fields = ("name", "channels", "rootKey", "fineTune", "volume", "looping", "loopStart", "loopEnd")
                self.assertEqual([[s[f] for f in fields] for s in from_sf3["instrument"]["samples"]],
                                 [[s[f] for f in fields] for s in from_sf2["instrument"]["samples"]])
                self.assertEqual(from_sf3["instrument"]["samples"][0]["channels"], channels)
                self.assertSameCardWithinTheCodecsLoss(self.image_of(name + "2", "--preset", preset, sf2),
                                                       self.image_of(name + "3", "--preset", preset, sf3))

    def test_a_preset_is_chosen_by_name_or_number_and_mistakes_are_named(self):
        font = self.write("two.sf2", soundfont())
        project = self.new_project("p.cmr")
        result = self.run_cardmill("add", project, font, check=2)
        self.assertIn("holds 2 presets; name the one to add with --preset", result.stderr)
        result = self.run_cardmill("add", project, "--preset", "Piano", font, check=2)
        self.assertIn("holds no preset 'Piano'", result.stderr)
        added = self.run_cardmill("add", project, "--preset", "grand", font, check=0)
        # What the card can't hold is told when the preset is added, not each time the project opens:
        # one line, the list after it.
        self.assertRegex(added.stderr, r"\d+ kinds? of setting in the preset 'Grand' of two.sf2 (are|is) "
                                       r"not on the card.\ntwo.sf2, instrument 'Keys': ")
        self.assertNotIn("not on the card", self.run_cardmill("list", project, check=0).stderr)
        self.run_cardmill("add", project, "--group", "d1", "--preset", "128:0", font, check=0)
        files = [f for g in self.listing(project)["groups"] for f in g["files"]]
        self.assertEqual([f["file"] for f in files], ["Grand", "Kit"])
        # The project keeps the preset: read again, the card is the same.
        first = self.image_of("again", "--preset", "Grand", font)
        self.assertEqual(len(first), len(self.image_of("again2", "--preset", "0:0", font)))
        # A moved SoundFont is found where the user says, its presets chosen again.
        moved = os.path.join(os.path.dirname(project), "moved")
        os.mkdir(moved)
        os.rename(font, os.path.join(moved, "two.sf2"))
        result = self.run_cardmill("list", project, check=1)
        self.assertIn("two.sf2", result.stderr)
        listed = json.loads(self.run_cardmill("--search-dir", moved, "--json", "list", project, check=0).stdout)
        self.assertEqual([f["file"] for g in listed["groups"] for f in g["files"]], ["Grand", "Kit"])
        # A pipe is not looked into to see whether it is a SoundFont: it would wait for a writer.
        pipe = self.path("pipe")
        os.mkfifo(pipe)
        for args in (("info", pipe), ("add", project, pipe)):
            result = subprocess.run([CARDMILL, *args], capture_output=True, text=True, timeout=20)
            self.assertEqual(result.returncode, 1, result.stderr)
            self.assertIn("a device, a pipe or a socket", result.stderr)
        # A damaged one is named with what is wrong.
        with open(os.path.join(moved, "two.sf2"), "r+b") as f:
            f.truncate(300)
        result = self.run_cardmill("info", os.path.join(moved, "two.sf2"), check=1)
        self.assertIn("can't understand the instrument file", result.stderr)

    def test_a_preset_written_as_sfz_gives_the_same_card(self):
        font = self.write("two.sf2", soundfont())
        out = self.path("out")
        os.mkdir(out)
        self.run_cardmill("instrument", "--sfz", os.path.join(out, "grand.sfz"), "--preset", "Grand", font, check=0)
        self.assertEqual(sorted(os.listdir(out)), ["Tone 0.wav", "Tone 1.wav", "grand.sfz"])
        self.assertSameCardButTheName(self.image_of("sf2", "--preset", "Grand", font),
                                      self.image_of("sfz", os.path.join(out, "grand.sfz")))

    def test_dls_instruments_give_their_regions_and_waves(self):
        for level in (1, 2):
            with self.subTest(level=level):
                font = self.write("gm%d.dls" % level, dls(level2=level == 2))
                (catalog,), _ = self.info(font)
                self.assertEqual([(p["bank"], p["program"], p["name"]) for p in catalog["presets"]],
                                 [(0, 5, "Organ"), (128, 0, "Kit")])
                (organ,), result = self.info("--preset", "organ", font)
                self.assertEqual(organ["format"], "DLS")
                self.assertEqual(organ["instrument"]["upperKeys"], [59, 127])
                samples = organ["instrument"]["samples"]
                # The wave's own loop and root, then the region's over them.
                self.assertEqual([(s["name"], s["rootKey"], s["looping"], s["loopStart"], s["loopEnd"]) for s in samples],
                                 [("Sine", 60, True, 8, 55), ("Sine", 72, True, 4, 43)])
                self.assertEqual(samples[1]["fineTune"], 10 * 256)
                self.assertIn("articulation: envelopes and LFOs are not on the card", result.stderr)
                out = self.path("dls%d" % level)
                os.mkdir(out)
                self.run_cardmill("instrument", "--sfz", os.path.join(out, "organ.sfz"), "--preset", "0:5", font, check=0)
                self.assertSameCardButTheName(self.image_of("dls-a%d" % level, "--preset", "Organ", font),
                                              self.image_of("dls-b%d" % level, os.path.join(out, "organ.sfz")))


if __name__ == "__main__":
    unittest.main()
