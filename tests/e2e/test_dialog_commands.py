"""What the information dialogs change, changed from the command line: a voice's name and key
groups, a sample's settings, and the instrument command's key layouts; list --json shows them."""

import json
import unittest

from cardmill_e2e import SNDFILE_WRITER, CardmillTestCase


class DialogCommands(CardmillTestCase):
    def setUp(self):
        super().setUp()
        # Plain WAV files from sox take the root key 60; libsndfile writes three piano notes with
        # their root keys in the sampler chunk.
        for name, channels in (("low.wav", "1"), ("mid.wav", "1"), ("high.wav", "1"),
                               ("pad.wav", "2")):
            self.tool("sox", "-n", "-r", "44100", "-b", "16", "-c", channels, self.path(name),
                      "synth", "0.1", "sine", "440")
        self.project = self.path("dialogs.cmr")
        self.run_cardmill("new", self.project, "--name", "Dialogs", check=0)

    def listing(self):
        return json.loads(self.run_cardmill("--json", "list", self.project, check=0).stdout)

    def project_bytes(self):
        with open(self.project, "rb") as f:
            return f.read()

    def files(self, group=0):
        return {g["group"]: g for g in self.listing()["groups"]}[group]["files"]

    def test_instrument_keys_layouts(self):
        sounds = [self.path(n) for n in ("low.wav", "mid.wav", "high.wav")]
        packed = self.path("packed.cmt")
        self.run_cardmill("instrument", "-o", packed, *sounds, check=0)
        self.assertEqual(self.info(packed)[0][0]["instrument"]["upperKeys"], [125, 126, 127])
        given = self.path("given.cmt")
        self.run_cardmill("instrument", "-o", given, "--keys", "59,C4,127", *sounds, check=0)
        self.assertEqual(self.info(given)[0][0]["instrument"]["upperKeys"], [59, 72, 127])
        notes = []
        for name, root in (("c1.wav", 36), ("c3.wav", 60), ("c5.wav", 84)):
            self.tool(SNDFILE_WRITER, self.path(name), "4410", "44100", "1", "16", "root", str(root))
            notes.append(self.path(name))
        auto = self.path("auto.cmt")
        self.run_cardmill("instrument", "-o", auto, "--keys", "auto", *notes, check=0)
        self.assertEqual(self.info(auto)[0][0]["instrument"]["upperKeys"], [48, 72, 127])
        # Roots that do not rise leave a group without keys: refused as Voice Info refuses.
        result = self.run_cardmill("instrument", "-o", auto, "--keys", "auto", *sounds)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("The Lower Key must be less than or equal to the Upper Key.", result.stderr)
        for bad in ("59,72", "72,59,127", "59,72,126", "x,1,127"):
            result = self.run_cardmill("instrument", "-o", given, "--keys", bad, *sounds)
            self.assertEqual(result.returncode, 2, bad)

    def test_voice_keys_and_name_with_the_dialogs_checks(self):
        inst = self.path("piano.cmt")
        self.run_cardmill("instrument", "-o", inst, "--keys", "59,71,127",
                          *[self.path(n) for n in ("low.wav", "mid.wav", "high.wav")], check=0)
        self.run_cardmill("add", self.project, "--group", "k1", inst, check=0)
        self.assertEqual(self.files()[0]["upperKeys"], [59, 71, 127])

        # The third group's lower key down to C3 (60): the earlier groups move down, one key each
        # where they must, and the user is told.
        result = self.run_cardmill("voice", self.project, "k1", "1", "--lower", "3=C3", check=0)
        self.assertIn("Some or all previous key groups have been adjusted for the new Lower Key.",
                      result.stderr)
        self.assertEqual(self.files()[0]["upperKeys"], [58, 59, 127])
        self.run_cardmill("voice", self.project, "k1", "1", "--keys", "59,71,127", check=0)

        # The second group up to 127 while one follows: refused, nothing saved.
        before = self.project_bytes()
        result = self.run_cardmill("voice", self.project, "k1", "1", "--keys", "59,127,127")
        self.assertEqual(result.returncode, 1)
        self.assertIn("The Upper Key must not overlap the following key groups.", result.stderr)
        self.assertEqual(self.project_bytes(), before)

        # Raising the first group pushes the second; the message is told and the command goes on.
        result = self.run_cardmill("voice", self.project, "k1", "1", "--keys", "80,90,127",
                                   "--name", "Piano", check=0)
        self.assertIn("Some or all following key groups have been adjusted", result.stderr)
        entry = self.files()[0]
        self.assertEqual(entry["upperKeys"], [80, 90, 127])
        self.assertEqual(entry["name"], "Piano")

        result = self.run_cardmill("voice", self.project, "k1", "1", "--name", "")
        self.assertEqual(result.returncode, 1)
        self.assertIn("Please enter the voice name.", result.stderr)
        self.assertEqual(self.run_cardmill("voice", self.project, "k1", "1", "--keys", "1,2").returncode, 2)
        self.assertEqual(self.run_cardmill("voice", self.project, "k1", "9", "--name", "X").returncode, 1)

    def test_sample_settings_are_stored_and_listed(self):
        self.run_cardmill("add", self.project, "--group", "k2", self.path("pad.wav"), check=0)
        self.run_cardmill("sample", self.project, "k2", "1", "--root", "F#2", "--volume", "200",
                          "--start", "10", "--loop", "100", "--smooth", "on", "--channel", "right",
                          check=0)
        entry = self.files(1)[0]
        self.assertEqual(entry["channel"], "right")
        sample = entry["samples"][0]
        self.assertEqual((sample["rootKey"], sample["volume"], sample["startFrame"]), (54, 200, 10))
        self.assertEqual((sample["looping"], sample["loopStart"], sample["loopEnd"]), (True, 100, 4410))
        self.assertTrue(sample["smoothing"])

        before = self.project_bytes()
        result = self.run_cardmill("sample", self.project, "k2", "1", "--volume", "253")
        self.assertEqual(result.returncode, 1)
        self.assertIn("The volume must be 0-252. Please enter a valid volume.", result.stderr)
        result = self.run_cardmill("sample", self.project, "k2", "1", "--start", "4410")
        self.assertIn("The start frame must be 0-4409. Please enter a valid start frame.", result.stderr)
        result = self.run_cardmill("sample", self.project, "k2", "1", "--root", "A8")
        self.assertIn("The root note must be within the range C-2 to G8.", result.stderr)
        self.assertEqual(self.project_bytes(), before)
        for bad in (["--volume", "-1"], ["--root", "H2"], ["--channel", "both"], ["--sample", "2"]):
            self.assertEqual(self.run_cardmill("sample", self.project, "k2", "1", *bad).returncode, 2, bad)

        self.run_cardmill("sample", self.project, "k2", "1", "--loop", "off", "--volume", "252", check=0)
        sample = self.files(1)[0]["samples"][0]
        self.assertEqual((sample["looping"], sample["volume"]), (False, 252))


if __name__ == "__main__":
    unittest.main()
