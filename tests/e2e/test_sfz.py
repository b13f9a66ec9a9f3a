"""SFZ files in both directions, checked with a small SFZ parser of the test's own: what
`cardmill instrument --sfz` writes uses standard opcodes with the values and units the SFZ
format documents, sample paths relative to the file with forward slashes, and loop points in
frames of the real sound files (counted with Python's wave module)."""

import filecmp
import os
import re
import struct
import unittest
import wave

from cardmill_e2e import CardmillTestCase

STANDARD = {"sample", "lokey", "hikey", "lovel", "hivel", "pitch_keycenter", "tune", "volume",
            "offset", "loop_mode", "loop_start", "loop_end"}
LOOP_MODES = {"no_loop", "one_shot", "loop_continuous", "loop_sustain"}


def write_wav(path, frames, loop=None, rate=44100):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(b"".join(struct.pack("<h", (i * 37) % 20000 - 10000) for i in range(frames)))
    if loop:
        smpl = struct.pack("<9I", 0, 0, 22675, 60, 0, 0, 0, 1, 0)
        smpl += struct.pack("<6I", 0, 0, loop[0], loop[1], 0, 0)
        with open(path, "r+b") as f:
            body = f.read()
            f.seek(0)
            body = body + b"smpl" + struct.pack("<I", len(smpl)) + smpl
            f.write(body[:4] + struct.pack("<I", len(body) - 8) + body[8:])


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
        self.low = self.path("snd/low.wav")
        self.mid = self.path("snd/sub dir/mid c4.wav")
        self.high = self.path("snd/high.wav")
        write_wav(self.low, 3000, loop=(100, 2500))
        write_wav(self.mid, 2000)
        write_wav(self.high, 4000, loop=(10, 3999))
        self.cmt = self.path("inst.cmt")
        self.run_cardmill("instrument", "-o", self.cmt, "--keys", "47,71,127",
                          self.low, self.mid, self.high, check=0)

    def frames(self, path):
        with wave.open(path, "rb") as w:
            return w.getnframes()

    def check_written(self, sfz, expected_files):
        with open(sfz, encoding="utf-8") as f:
            regions = parse_sfz(f.read())
        self.assertEqual(len(regions), 3)
        folder = os.path.dirname(sfz)
        next_key = 0
        for region, expected in zip(regions, expected_files):
            self.assertLessEqual(set(region), STANDARD)
            sample = region["sample"]
            self.assertNotIn("\\", sample)
            self.assertFalse(os.path.isabs(sample), sample)
            path = os.path.join(folder, sample)
            self.assertTrue(os.path.samefile(path, expected) or filecmp.cmp(path, expected, False))
            lokey, hikey = int(region["lokey"]), int(region["hikey"])
            self.assertEqual(lokey, next_key)
            self.assertTrue(0 <= lokey <= hikey <= 127)
            next_key = hikey + 1
            self.assertTrue(0 <= int(region["pitch_keycenter"]) <= 127)
            self.assertTrue(-100 <= int(region.get("tune", "0")) <= 100)
            self.assertTrue(-144 <= float(region["volume"]) <= 6)
            self.assertIn(region["loop_mode"], LOOP_MODES)
            frames = self.frames(path)
            if region["loop_mode"] == "loop_continuous":
                start, end = int(region["loop_start"]), int(region["loop_end"])
                self.assertTrue(0 <= start < end < frames, (start, end, frames))
        self.assertEqual(next_key, 128)
        return regions

    def test_an_instrument_is_written_as_sfz_with_standard_opcodes_and_relative_paths(self):
        os.makedirs(self.path("out"))
        sfz = self.path("out/inst.sfz")
        self.run_cardmill("instrument", "--sfz", sfz, self.cmt, check=0)
        regions = self.check_written(sfz, [self.low, self.mid, self.high])
        self.assertEqual(regions[1]["sample"], "../snd/sub dir/mid c4.wav")
        # The loops are the files' own, in frames, the end inclusive as in the WAV sampler chunk.
        self.assertEqual((regions[0]["loop_start"], regions[0]["loop_end"]), ("100", "2500"))
        self.assertEqual(regions[1]["loop_mode"], "no_loop")
        self.assertEqual([r["hikey"] for r in regions], ["47", "71", "127"])

    def test_copied_samples_lie_beside_the_sfz_file(self):
        sfz = self.path("copy/inst.sfz")
        os.makedirs(self.path("copy"))
        self.run_cardmill("instrument", "--sfz", sfz, "--copy-samples", self.cmt, check=0)
        regions = self.check_written(sfz, [self.low, self.mid, self.high])
        self.assertEqual([r["sample"] for r in regions], ["low.wav", "mid c4.wav", "high.wav"])

    def test_an_sfz_file_is_read_and_written_back_the_same(self):
        sfz = self.path("inst.sfz")
        self.run_cardmill("instrument", "--sfz", sfz, self.cmt, check=0)
        listing, result = self.info(sfz)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(listing[0]["format"] if isinstance(listing, list) else listing["format"],
                         "SFZ")
        again = self.path("again.sfz")
        self.run_cardmill("instrument", "--sfz", again, sfz, check=0)
        with open(sfz) as a, open(again) as b:
            strip = lambda text: [l for l in text.splitlines() if not l.startswith("//")]
            self.assertEqual(strip(a.read()), strip(b.read()))

    def test_a_hand_written_sfz_goes_into_a_project_with_a_report_of_what_was_left_out(self):
        sfz = self.path("snd/hand.sfz")
        with open(sfz, "w") as f:
            f.write("<group> ampeg_release=0.3\n<region> lokey=0 hikey=59 sample=low.wav\n"
                    "<region> lokey=60 hikey=127 sample=sub dir\\mid c4.wav\n")
        project = self.path("p.cmr")
        self.run_cardmill("new", project, "--card-size", "1M", check=0)
        result = self.run_cardmill("add", project, sfz, "--group", "k1", check=0)
        self.assertIn("hand.sfz:1: ampeg_release: not on the card", result.stderr)
        listing, _ = self.info(sfz)
        text = str(listing)
        self.assertIn("ampeg_release", text)


if __name__ == "__main__":
    unittest.main()
