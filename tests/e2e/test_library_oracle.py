"""Cardmill's SoundFont and DLS readers held against an independent one: libinstpatch, the reader
of Swami and FluidSynth, through the instpatch_regions tool (tests/e2e/tools). Every library the
tests make is read by both: the fuzz seeds' SoundFonts and DLS files, random ones as the fit's
tests make them, Debian's GM SoundFont, a stereo SoundFont that Polyphone makes; each preset's card instrument (`info --json`) must play
what libinstpatch's regions say: the keys, the pitch, the loop and the level.

libinstpatch reads no SF3 (it refuses SoundFonts of version 3), so the SF3 files of the tests are
held against the SF2 they are made from, in test_soundfont.py."""

import json
import os
import random
import shutil
import subprocess
import sys
import unittest

from cardmill_e2e import CardmillTestCase
from library_files import random_dls, random_soundfont

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "fuzz"))
from seeds import dls, soundfont  # noqa: E402  the seed builders

INSTPATCH = os.environ.get("INSTPATCH_REGIONS", "")
GM = "/usr/share/sounds/sf2/TimGM6mb.sf2"


def instpatch(path, preset=None):
    """What libinstpatch reads: the file's fields, then its presets or the preset's regions."""
    result = subprocess.run([INSTPATCH, path] + ([preset] if preset else []), capture_output=True,
                            text=True, timeout=60)
    if result.returncode != 0:
        raise AssertionError(f"libinstpatch can't read {path} {preset or ''}: {result.stderr}")
    lines = [json.loads(line) for line in result.stdout.splitlines()]
    return lines[0], lines[1:]


def card_volume(db):
    """The card's volume byte for a level in dB: 255 at full amplitude, in steps of 4, 0 and 0 dB
    its ends."""
    return min(int(255 * 10 ** (min(db, 0.0) / 20)), 255) & ~3


def sf2_region(voice, paired):
    """A libinstpatch voice as the card would play it. Pitch: the cents the sample is shifted at
    key 60. Level: libinstpatch gives the attenuation in centibels; the card takes SoundFonts at
    the level of their SFZ exports (0.4 of the attenuation, scaled by 0.397, a tremolo's depth
    taken off), and a stereo pair 3 dB above its sides, which were panned hard to one side."""
    root = voice["rootOverride"] if voice["rootOverride"] >= 0 else voice["sampleRoot"]
    cents = (60 - root + voice["coarseTune"]) * 100 + voice["fineTune"] + voice["sampleFineTune"]
    tremolo = abs(voice["tremolo"])
    db = (-0.397 * (0.04 * max(voice["attenuation"], 0) + 0.1 * tremolo) if voice["attenuationSet"]
          else -0.1 * tremolo) + (3 if paired else 0)
    looped = voice["sampleModes"] & 3 in (1, 3)
    return dict(keys=voice["keys"], name=voice["sample"], pitch=cents, volume=card_volume(db),
                looped=looped, loop=(voice["loopStart"], min(voice["loopEnd"], voice["frames"]) - 1),
                start=voice["start"])


def dls_region(region):
    """A libinstpatch DLS region as the card would play it; its gain in dB by libinstpatch's own
    conversion of the wsmp chunk's unit."""
    return dict(keys=region["keys"], name=region["sample"],
                pitch=(60 - region["rootKey"]) * 100 + region["fineTune"],
                volume=card_volume(region["gainDb"]), looped=region["loop"] != "none",
                loop=(region["loopStart"], min(region["loopEnd"], region["frames"]) - 1), start=0)


def card_sample(sample):
    return dict(name=sample["name"], pitch=(60 - sample["rootKey"]) * 100 + sample["fineTune"] / 256,
                volume=sample["volume"], looped=sample["looping"],
                loop=(sample["loopStart"], sample["loopEnd"]), start=sample["startFrame"])


@unittest.skipUnless(INSTPATCH and os.path.exists(INSTPATCH),
                     "needs libinstpatch-dev: the instpatch_regions tool was not built")
class LibraryOracle(CardmillTestCase):
    def regions(self, path, preset):
        """libinstpatch's regions of a preset as the card would play them; a SoundFont's left side
        followed by its right at the same keys also as the one stereo region they may make."""
        head, items = instpatch(path, preset)
        if head["format"] == "DLS":
            return [dict(dls_region(r), pair=False) for r in items]
        # Samples in a synthesizer's memory are not on the card (and said so).
        voices = [v for v in items if not v["rom"]]
        regions = []
        for i, voice in enumerate(voices):
            regions.append(dict(sf2_region(voice, False), pair=False))
            after = voices[i + 1] if i + 1 < len(voices) else None
            if voice["channel"] == "left" and after and after["channel"] == "right" \
                    and voice["linked"] == after["sample"] and after["keys"] == voice["keys"]:
                regions.append(dict(sf2_region(voice, True), pair=True))
        return regions

    def assertPlaysAsLibinstpatchReads(self, path):
        """Every preset: its catalog entry, its card instrument's key groups ending where
        libinstpatch's regions end, and every sample of it played as a region of libinstpatch's
        with that sample plays: at the same pitch, level, start and loop."""
        _, listed = instpatch(path)
        (catalog,), _ = self.info(path)
        entries = lambda presets: sorted((p["bank"], p["program"], p["name"]) for p in presets)
        self.assertEqual(entries(catalog["presets"]), entries(listed))
        for bank, program, _ in entries(listed):
            preset = "%d:%d" % (bank, program)
            with self.subTest(file=os.path.basename(path), preset=preset):
                regions = self.regions(path, preset)
                (instrument,), _ = self.info("--preset", preset, path)
                card = instrument["instrument"]
                self.assertLessEqual(set(card["upperKeys"]), {r["keys"][1] for r in regions})
                for sample in card["samples"]:
                    ours = card_sample(sample)
                    theirs = [r for r in regions
                              if r["name"] == ours["name"] and r["pair"] == (sample["channels"] == 2)]
                    self.assertTrue(theirs, f"libinstpatch has no region of {ours}")
                    best = min(theirs, key=lambda r: (abs(r["pitch"] - ours["pitch"]),
                                                      abs(r["volume"] - ours["volume"]),
                                                      r["looped"] != ours["looped"],
                                                      r["loop"] != ours["loop"]))
                    self.assertLessEqual(abs(best["pitch"] - ours["pitch"]), 1, (ours, best))
                    self.assertLessEqual(abs(best["volume"] - ours["volume"]), 4, (ours, best))
                    self.assertEqual((best["looped"], best["start"]), (ours["looped"], ours["start"]),
                                     (ours, best))
                    if ours["looped"]:
                        self.assertEqual(best["loop"], ours["loop"], (ours, best))

    def test_the_seeds_soundfonts_and_dls_files(self):
        for name, data in (("two.sf2", soundfont()), ("deep.sf2", soundfont(samples=1, sm24=True)),
                           ("stereo.sf2", soundfont(stereo=True)), ("level1.dls", dls()),
                           ("level2.dls", dls(level2=True))):
            self.assertPlaysAsLibinstpatchReads(self.write(name, data))

    def test_random_soundfonts_and_dls_files(self):
        rng = random.Random(2028)
        for n in range(12):
            self.assertPlaysAsLibinstpatchReads(self.write("r%d.sf2" % n, random_soundfont(rng)))
            self.assertPlaysAsLibinstpatchReads(self.write("r%d.dls" % n, random_dls(rng)))

    def test_a_region_at_minus_6_db_plays_at_half_the_amplitude(self):
        # The seeds' keyboard states -6 dB for its upper region (wsmp, 1/655360 dB).
        path = self.write("organ.dls", dls())
        (organ,), _ = self.info("--preset", "0:5", path)
        _, regions = instpatch(path, "0:5")
        self.assertAlmostEqual(regions[1]["gainDb"], -6.0, places=5)
        self.assertEqual([s["volume"] for s in organ["instrument"]["samples"]], [252, 124])

    @unittest.skipUnless(os.path.exists(GM), "needs timgm6mb-soundfont")
    def test_debians_gm_soundfont(self):
        self.assertPlaysAsLibinstpatchReads(GM)

    @unittest.skipUnless(shutil.which("polyphone"), "needs polyphone")
    def test_a_stereo_soundfont_polyphone_makes(self):
        self.sox("pad.wav", "0.3", "sine", "440", "sine", "660", channels=2)
        self.write("pad.sfz", b"<region> sample=pad.wav pitch_keycenter=62 tune=-20 loop_mode=loop_continuous"
                              b" loop_start=100 loop_end=5000 volume=-9\n")
        subprocess.run(["polyphone", "-1", "-i", self.path("pad.sfz"), "-d", self.dir, "-o", "pad"],
                       check=True, capture_output=True, env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
        self.assertPlaysAsLibinstpatchReads(self.path("pad.sf2"))


if __name__ == "__main__":
    unittest.main()
