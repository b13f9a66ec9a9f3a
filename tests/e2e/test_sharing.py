"""What reaches the card when sounds share data: the halves of a split stereo file, same-named
files of two drum kits, and copies of one file in several folders."""

import json
import os
import shutil
import struct
import unittest

from cardmill_e2e import CardmillTestCase


def data_chunk(path):
    with open(path, "rb") as f:
        wav = f.read()
    at = wav.index(b"data")
    return wav[at + 8:at + 8 + struct.unpack("<I", wav[at + 4:at + 8])[0]]


def card_words(samples):
    """16-bit little-endian samples as the card holds them: big-endian words."""
    return b"".join(samples[i:i + 2][::-1] for i in range(0, len(samples), 2))


class Sharing(CardmillTestCase):
    def setUp(self):
        super().setUp()
        self.project = self.path("kit.cmr")
        self.run_cardmill("new", self.project, "--card-size", "1M", check=0)

    def image(self):
        self.run_cardmill("image", self.project, "-o", self.path("card.img"), check=0)
        with open(self.path("card.img"), "rb") as f:
            return f.read()

    def sizes(self):
        listing = json.loads(self.run_cardmill("--json", "list", self.project, check=0).stdout)
        return [f["size"] for g in listing["groups"] for f in g["files"]]

    def test_the_halves_of_a_split_stereo_file_hold_the_left_and_the_right_channel(self):
        stereo = self.path("stereo.wav")
        self.tool("sox", "-n", "-r", "44100", "-b", "16", "-c", "2", stereo, "synth", "0.05", "sine", "100",
                  "sine", "1300")
        self.run_cardmill("add", self.project, "--split-stereo", stereo, check=0)
        frames = data_chunk(stereo)
        left = b"".join(frames[i:i + 2] for i in range(0, len(frames), 4))
        right = b"".join(frames[i + 2:i + 4] for i in range(0, len(frames), 4))
        card = self.image()
        self.assertIn(card_words(left), card)
        self.assertIn(card_words(right), card)
        listing = json.loads(self.run_cardmill("--json", "list", self.project, check=0).stdout)
        self.assertEqual([f["name"] for f in listing["groups"][0]["files"]], ["stereo.waL", "stereo.waR"])

    def test_same_named_files_share_only_when_their_bytes_are_the_same(self):
        for kit, frequency in (("rock", "60"), ("jazz", "90"), ("copy", "60")):
            os.makedirs(self.path(kit))
            self.tool("sox", "-n", "-r", "44100", "-b", "16", "-c", "1", self.path(f"{kit}/kick.wav"),
                      "synth", "0.1", "sine", frequency)
        shutil.copy(self.path("rock/kick.wav"), self.path("copy/kick.wav"))
        self.run_cardmill("add", self.project, self.path("rock/kick.wav"), self.path("jazz/kick.wav"),
                          self.path("copy/kick.wav"), check=0)
        rock, jazz, copy = self.sizes()
        self.assertEqual(rock, jazz)  # both carry their own data
        self.assertEqual(copy, 30)  # a phantom: only its voice header
        card = self.image()
        self.assertIn(card_words(data_chunk(self.path("rock/kick.wav"))), card)
        self.assertIn(card_words(data_chunk(self.path("jazz/kick.wav"))), card)


if __name__ == "__main__":
    unittest.main()
