"""What the information dialogs change, changed from the command line: a voice's name and key
groups, a sample's settings, and the instrument command's key layouts; list --json shows them."""

import os
import unittest

from cardmill_e2e import SNDFILE_WRITER, CardmillTestCase, read


class DialogCommands(CardmillTestCase):
    def setUp(self):
        super().setUp()
        # Plain WAV files from sox take the root key 60.
        self.sounds = [self.sox(name, "0.1", "sine", "440") for name in ("low.wav", "mid.wav", "high.wav")]
        self.project = self.new_project("dialogs.cmr", "--name", "Dialogs")

    def files(self, group=0):
        return {g["group"]: g for g in self.listing(self.project)["groups"]}[group]["files"]

    def upper_keys(self, instrument):
        return self.info(instrument)[0][0]["instrument"]["upperKeys"]

    def test_instrument_keys_layouts(self):
        out = self.path("inst.cmt")
        # libsndfile writes three piano notes with their root keys in the sampler chunk.
        notes = [self.path(name) for name in ("c1.wav", "c3.wav", "c5.wav")]
        for note, root in zip(notes, ("36", "60", "84")):
            self.tool(SNDFILE_WRITER, note, "4410", "44100", "1", "16", "root", root)
        for keys, sounds, upper in (((), self.sounds, [125, 126, 127]),
                                    (("--keys", "59,C4,127"), self.sounds, [59, 72, 127]),
                                    (("--keys", "auto"), notes, [48, 72, 127])):
            with self.subTest(keys=keys):
                self.run_cardmill("instrument", "-o", out, *keys, *sounds, check=0)
                self.assertEqual(self.upper_keys(out), upper)
        # Roots that do not rise would leave a group without keys: the sounds are named.
        result = self.run_cardmill("instrument", "-o", out, "--keys", "auto", *self.sounds, check=1)
        names = [os.path.basename(s) for s in self.sounds]
        self.assertIn(f"but '{names[1]}' (root 60) follows '{names[0]}' (root 60).  Name the sounds from the "
                      "lowest root up, or give each sound's upper key.", result.stderr)
        for bad in ("59,72", "72,59,127", "59,72,126", "x,1,127"):
            self.run_cardmill("instrument", "-o", out, "--keys", bad, *self.sounds, check=2)
        self.assertEqual(self.upper_keys(out), [48, 72, 127])

    def voice(self, *args, check=0):
        return self.run_cardmill("voice", self.project, "k1", "1", *args, check=check)

    def test_voice_keys_and_name_with_the_dialogs_checks(self):
        inst = self.path("piano.cmt")
        self.run_cardmill("instrument", "-o", inst, "--keys", "59,71,127", *self.sounds, check=0)
        self.run_cardmill("add", self.project, "--group", "k1", inst, check=0)
        self.assertEqual(self.files()[0]["upperKeys"], [59, 71, 127])

        # The third group's lower key down to C3 (60): the earlier groups move down, one key each
        # where they must, and the user is told.
        result = self.voice("--lower", "3=C3")
        self.assertIn("Some or all previous key groups have been adjusted for the new Lower Key.", result.stderr)
        self.assertEqual(self.files()[0]["upperKeys"], [58, 59, 127])
        self.voice("--keys", "59,71,127")

        # The second group up to 127 while one follows: refused, nothing saved.
        before = read(self.project)
        result = self.voice("--keys", "59,127,127", check=1)
        self.assertIn("The Upper Key must not overlap the following key groups.", result.stderr)
        self.assertEqual(read(self.project), before)

        # Raising the first group pushes the second; the message is told and the command goes on,
        # and says what it changed.
        result = self.voice("--keys", "80,90,127", "--name", "Piano")
        self.assertIn("Some or all following key groups have been adjusted", result.stderr)
        self.assertIn("Changed 'piano.cmt', file 1 of k1 (noname): the name from 'piano.cmt' to 'Piano'; the key "
                      "groups from C-2..B2 C3..B3 C4..G8 to C-2..G#4 A4..F#5 G5..G8.", result.stderr)
        self.assertEqual((self.files()[0]["upperKeys"], self.files()[0]["name"]), ([80, 90, 127], "Piano"))
        self.assertIn("Nothing changed in 'piano.cmt', file 1 of k1 (noname)", self.voice("--name", "Piano").stderr)
        self.assertEqual(self.voice("-q", "--name", "Piano").stderr, "")

        self.assertIn("Please enter the voice name.", self.voice("--name", "", check=1).stderr)
        self.voice("--keys", "1,2", check=2)
        self.run_cardmill("voice", self.project, "k1", "9", "--name", "X", check=1)

    def test_sample_settings_are_stored_and_listed(self):
        self.run_cardmill("add", self.project, "--group", "k2", self.sox("pad.wav", "0.1", "sine", "440", channels=2),
                          check=0)

        def sample(*args, check=0):
            return self.run_cardmill("sample", self.project, "k2", "1", *args, check=check)

        told = sample("--root", "F#2", "--volume", "200", "--start", "10", "--loop", "100", "--smooth", "on",
                      "--channel", "right").stderr
        self.assertEqual(told, "Changed 'pad.wav', file 1 of k2 (noname): the root key from C3 to F#2; the volume "
                         "from 252 to 200; the start frame from 0 to 10; the loop from off to 100-4410; the "
                         "smoothing from off to on; the channel from mix to right.\n")
        entry = self.files(1)[0]
        self.assertEqual(entry["channel"], "right")
        stored = entry["samples"][0]
        self.assertEqual([stored[k] for k in ("rootKey", "volume", "startFrame", "looping", "loopStart", "loopEnd",
                                              "smoothing")], [54, 200, 10, True, 100, 4410, True])

        before = read(self.project)
        for args, message in ((("--volume", "253"), "The volume must be 0-252. Please enter a valid volume."),
                              (("--start", "4410"),
                               "The start frame must be 0-4409. Please enter a valid start frame."),
                              (("--root", "A8"), "The root note must be within the range C-2 to G8.")):
            self.assertIn(message, sample(*args, check=1).stderr)
        for bad in (["--volume", "-1"], ["--root", "H2"], ["--channel", "both"], ["--sample", "2"]):
            sample(*bad, check=2)
        self.assertEqual(read(self.project), before)

        sample("--loop", "off", "--volume", "252")
        stored = self.files(1)[0]["samples"][0]
        self.assertEqual((stored["looping"], stored["volume"]), (False, 252))

        # An instrument's sample is named by its number and file; info --json and list --json
        # give its channel in one form.
        inst = self.path("pad.cmt")
        self.run_cardmill("instrument", "-o", inst, self.sounds[0], self.path("pad.wav"), check=0)
        self.run_cardmill("add", self.project, "--group", "k3", inst, check=0)
        told = self.run_cardmill("sample", self.project, "k3", "1", "--sample", "2", "--channel", "left",
                                 check=0).stderr
        self.assertIn("Changed sample 2 ('pad.wav') of 'pad.cmt', file 1 of k3 (noname): the channel from mix to "
                      "left.", told)
        self.assertEqual([s["channel"] for s in self.info(inst)[0][0]["instrument"]["samples"]], ["mix", "mix"])
        self.assertEqual([s["channel"] for s in self.files(2)[0]["samples"]], ["mix", "left"])


if __name__ == "__main__":
    unittest.main()
