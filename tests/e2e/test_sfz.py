"""SFZ files in both directions, checked with a small SFZ parser of the test's own: what
`cardmill instrument --sfz` writes uses standard opcodes with the values and units the SFZ
format documents, sample paths relative to the file with forward slashes, and loop points in
frames of the real sound files (counted with Python's wave module)."""

import filecmp
import os
import unittest
import wave

from cardmill_e2e import SNDFILE_WRITER, CardmillTestCase

STANDARD = {"sample", "lokey", "hikey", "lovel", "hivel", "pitch_keycenter", "tune", "volume",
            "offset", "loop_mode", "loop_start", "loop_end"}
LOOP_MODES = {"no_loop", "one_shot", "loop_continuous", "loop_sustain"}


def parse_sfz(text):
    """Regions as dicts of opcode -> value; only <region> headers are expected here."""
    regions = []
    for line in text.splitlines():
        line = line.split("//")[0].strip()
        if not line:
            continue
        assert line.startswith("<region>"), line
        body = line[len("<region>"):]
        # The sample path runs to the end of the line: split it off first.
        body, _, sample = body.partition(" sample=")
        region = dict(tok.split("=", 1) for tok in body.split())
        region["sample"] = sample
        regions.append(region)
    return regions


class Sfz(CardmillTestCase):
    def setUp(self):
        super().setUp()
        os.makedirs(self.path("snd/sub dir"))
        self.sounds = [self.path(name) for name in ("snd/low.wav", "snd/sub dir/mid c4.wav", "snd/high.wav")]
        # libsndfile takes a loop's end one past its last frame; the sampler chunk holds the last.
        for path, frames, loop in zip(self.sounds, ("3000", "2000", "4000"),
                                      (["loop", "100", "2501"], [], ["loop", "10", "4000"])):
            self.tool(SNDFILE_WRITER, path, frames, "44100", "1", "16", *loop)
        self.cmt = self.path("inst.cmt")
        self.run_cardmill("instrument", "-o", self.cmt, "--keys", "47,71,127", *self.sounds, check=0)

    def check_written(self, sfz):
        with open(sfz, encoding="utf-8") as f:
            regions = parse_sfz(f.read())
        self.assertEqual(len(regions), 3)
        next_key = 0
        for region, expected in zip(regions, self.sounds):
            self.assertLessEqual(set(region), STANDARD)
            sample = region["sample"]
            self.assertNotIn("\\", sample)
            self.assertFalse(os.path.isabs(sample), sample)
            path = os.path.join(os.path.dirname(sfz), sample)
            self.assertTrue(os.path.samefile(path, expected) or filecmp.cmp(path, expected, False))
            lokey, hikey = int(region["lokey"]), int(region["hikey"])
            self.assertEqual(lokey, next_key)
            self.assertTrue(0 <= lokey <= hikey <= 127)
            next_key = hikey + 1
            self.assertTrue(0 <= int(region["pitch_keycenter"]) <= 127)
            self.assertTrue(-100 <= int(region.get("tune", "0")) <= 100)
            self.assertTrue(-144 <= float(region["volume"]) <= 6)
            self.assertIn(region["loop_mode"], LOOP_MODES)
            with wave.open(path, "rb") as w:
                frames = w.getnframes()
            if region["loop_mode"] == "loop_continuous":
                start, end = int(region["loop_start"]), int(region["loop_end"])
                self.assertTrue(0 <= start < end < frames, (start, end, frames))
        self.assertEqual(next_key, 128)
        return regions

    def test_an_instrument_is_written_as_sfz_with_standard_opcodes_and_relative_paths(self):
        for options, folder, samples in (
                ((), "out", ["../snd/low.wav", "../snd/sub dir/mid c4.wav", "../snd/high.wav"]),
                (("--copy-samples",), "copy", ["low.wav", "mid c4.wav", "high.wav"])):
            with self.subTest(folder):
                os.makedirs(self.path(folder))
                sfz = self.path(f"{folder}/inst.sfz")
                self.run_cardmill("instrument", "--sfz", sfz, *options, self.cmt, check=0)
                regions = self.check_written(sfz)
                self.assertEqual([r["sample"] for r in regions], samples)
                # The loops are the files' own, in frames, the end inclusive as in the sampler chunk.
                self.assertEqual((regions[0]["loop_start"], regions[0]["loop_end"]), ("100", "2500"))
                self.assertEqual(regions[1]["loop_mode"], "no_loop")
                self.assertEqual([r["hikey"] for r in regions], ["47", "71", "127"])

    def test_a_hand_written_sfz_goes_into_a_project_with_a_report_of_what_was_left_out(self):
        sfz = self.write("snd/hand.sfz", "<group> ampeg_release=0.3\n<region> lokey=0 hikey=59 sample=low.wav\n"
                                         "<region> lokey=60 hikey=127 sample=sub dir\\mid c4.wav\n")
        project = self.new_project("p.cmr", "--card-size", "1M")
        result = self.run_cardmill("add", project, sfz, "--group", "k1", check=0)
        self.assertIn("hand.sfz:1: ampeg_release: not on the card", result.stderr)
        self.assertEqual(self.listing(project)["groups"][0]["files"][0]["upperKeys"], [59, 127])
        self.assertFalse(self.info(sfz)[0][0].get("comment"))  # the report is no comment of the user's


if __name__ == "__main__":
    unittest.main()
