"""The command line's contract: help, preferences in the settings file, and recognition errors."""

import json
import os
import unittest

from cardmill_e2e import CardmillTestCase


class Preferences(CardmillTestCase):
    def test_defaults_with_an_empty_settings_folder(self):
        result = self.run_cardmill("prefs", "--json", check=0)
        self.assertEqual(json.loads(result.stdout), {
            "Hardware": {"MidiInputPort": "", "MidiOutputPort": ""},
            "User": {"StartMarker": "start here", "AllowPhantoms": 1,
                     "AllowPhantomsInAnyFolder": 1, "EraseSectorBeforeWriting": 1,
                     "SplitStereoFiles": 0, "DefaultCardSizeToken": 1}})

    def test_a_change_persists_into_the_ini_file_for_the_next_run(self):
        self.run_cardmill("prefs", "SplitStereoFiles=1", check=0)
        with open(os.path.join(self.config, "Cardmill.conf")) as ini:
            self.assertIn("SplitStereoFiles=1", ini.read())
        again = json.loads(self.run_cardmill("--json", "prefs", check=0).stdout)
        self.assertEqual(again["User"]["SplitStereoFiles"], 1)
        self.assertEqual(self.run_cardmill("prefs", "SplitStereoFiles", check=0).stdout, "1\n")

    def test_the_config_dir_option_wins_over_the_environment(self):
        other = self.path("other")
        self.run_cardmill("--config-dir", other, "prefs", "StartMarker=go here", check=0)
        with open(os.path.join(other, "Cardmill.conf")) as ini:
            self.assertIn("StartMarker=go here", ini.read())

    def test_bad_values_are_usage_errors_and_change_nothing(self):
        self.run_cardmill("prefs", "AllowPhantoms=7", check=2)
        self.run_cardmill("prefs", "NoSuchKey=1", check=2)
        self.assertEqual(self.run_cardmill("prefs", "AllowPhantoms", check=0).stdout, "1\n")


class Recognition(CardmillTestCase):
    def test_an_unknown_file_gives_exactly_the_message(self):
        path = self.path("notes.txt")
        with open(path, "w") as f:
            f.write("not a sound\n")
        result = self.run_cardmill("info", path, check=1)
        self.assertEqual(result.stderr, f"Sorry, but Cardmill can't understand the file '{path}'\n")
        self.assertEqual(result.stdout, "")

    def test_json_reports_the_error_in_place(self):
        missing = self.path("gone.wav")
        files, result = self.info(missing)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(files, [{"path": missing, "error": f"Sorry, but the file '{missing}' doesn't exist."}])


class Usage(CardmillTestCase):
    def test_help_and_usage_errors(self):
        self.assertIn("info", self.run_cardmill("help", check=0).stdout)
        self.assertIn("Usage: cardmill prefs", self.run_cardmill("prefs", "--help", check=0).stdout)
        self.run_cardmill(check=2)
        self.run_cardmill("frobnicate", check=2)
        self.run_cardmill("info", check=2)
        self.run_cardmill("--maker-id", "GG0000", "info", "x", check=2)


if __name__ == "__main__":
    unittest.main()
