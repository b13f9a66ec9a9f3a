"""The command line's contract: help and usage errors, preferences in the settings file,
recognition errors and the MIDI port list."""

import json
import os
import unittest

from cardmill_e2e import CardmillTestCase, read

HAS_SEQUENCER = os.path.exists("/dev/snd/seq")


class Preferences(CardmillTestCase):
    def test_a_change_persists_into_the_ini_file_for_the_next_run(self):
        self.run_cardmill("prefs", "SplitStereoFiles=1", check=0)
        self.assertIn(b"SplitStereoFiles=1", read(os.path.join(self.config, "Cardmill.conf")))
        again = json.loads(self.run_cardmill("--json", "prefs", check=0).stdout)
        self.assertEqual(again["User"]["SplitStereoFiles"], 1)
        self.assertEqual(self.run_cardmill("prefs", "SplitStereoFiles", check=0).stdout, "1\n")
        # --config-dir wins over the environment.
        other = self.path("other")
        self.run_cardmill("--config-dir", other, "prefs", "StartMarker=go here", check=0)
        self.assertIn(b"StartMarker=go here", read(os.path.join(other, "Cardmill.conf")))

    def test_bad_values_are_usage_errors_that_name_the_key_and_change_nothing(self):
        for value in ("7", "-0", "+1", " 1", "1 ", "01x", "65537"):
            result = self.run_cardmill("prefs", f"AllowPhantoms={value}", check=2)
            self.assertIn("AllowPhantoms", result.stderr)
        result = self.run_cardmill("prefs", "NoSuchKey=1", check=2)
        self.assertIn("unknown preference 'NoSuchKey'", result.stderr)
        self.assertEqual(self.run_cardmill("prefs", "AllowPhantoms", check=0).stdout, "1\n")


class Recognition(CardmillTestCase):
    def test_a_file_not_understood_or_missing_gives_exactly_the_message(self):
        path = self.write("notes.txt", "not a sound\n")
        result = self.run_cardmill("info", path, check=1)
        self.assertEqual(result.stderr, f"Sorry, but Cardmill can't understand the file '{path}'\n")
        self.assertEqual(result.stdout, "")
        # In JSON the error stands in place of the file.
        missing = self.path("gone.wav")
        files, result = self.info(missing)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(files, [{"path": missing, "error": f"Sorry, but the file '{missing}' doesn't exist."}])


class Usage(CardmillTestCase):
    def test_help_and_version(self):
        self.assertIn("info", self.run_cardmill("help", check=0).stdout)
        self.assertIn("Usage: cardmill prefs", self.run_cardmill("prefs", "--help", check=0).stdout)
        self.assertRegex(self.run_cardmill("--version", check=0).stdout, r"^cardmill \d+\.\d+\.\d+\n$")

    def test_usage_errors_say_what_was_wrong_and_change_nothing(self):
        project = self.new_project("p.cmr")
        sound = self.sox("tone.wav", "0.05", "sine", "440")
        for args, message in (
                ((), "Usage: cardmill"),
                (("bogus",), "cardmill: no command 'bogus'\n"),
                (("info",), "name at least one file"),
                (("--maker-id", "GG0000", "info", "x"), "--maker-id takes six hex digits"),
                (("ports", "extra"), "unexpected argument extra"),
                (("new", self.path("empty.cmr"), "--name", ""), "--name needs at least one character"),
                (("add", project, "--group", "seq", sound),
                 "tone.wav' is a sound or instrument file, which can't go to Sequences")):
            with self.subTest(args=args):
                result = self.run_cardmill(*args, check=2)
                self.assertIn(message, result.stdout + result.stderr)
        self.assertFalse(os.path.exists(self.path("empty.cmr")))
        self.assertEqual(self.listing(project)["groups"][0]["files"], [])


class Ports(CardmillTestCase):
    def test_json_lists_both_sides_with_the_virtual_instrument_last(self):
        ports = json.loads(self.run_cardmill("ports", "--json", check=0).stdout)
        self.assertEqual(sorted(ports), ["alsa", "inputs", "outputs", "paces"])
        self.assertIs(ports["alsa"], HAS_SEQUENCER)
        # No port has been paced in these fresh settings.
        self.assertEqual(ports["paces"], {})
        for side in ("inputs", "outputs"):
            self.assertEqual(ports[side][-1], "sim")
            # ALSA's changing client numbers never reach the names.
            for name in ports[side]:
                self.assertNotRegex(name, r" \d+:\d+$")

    @unittest.skipIf(HAS_SEQUENCER, "this machine has an ALSA sequencer")
    def test_without_a_sequencer_it_says_so_and_succeeds(self):
        result = self.run_cardmill("ports", check=0)
        self.assertNotIn("ALSA lib", result.stderr)
        lines = result.stdout.splitlines()
        self.assertEqual(lines[:2], ["MIDI inputs:", "  (no ALSA sequencer is available)"])
        self.assertEqual(lines[lines.index("MIDI outputs:") - 1], "  sim")


if __name__ == "__main__":
    unittest.main()
