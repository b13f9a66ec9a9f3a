"""Adding sounds to a project and making an instrument, through the file choosers, by typing
paths as a person does on a real display with a window manager."""

import json
import os
import sys
import unittest

from desktop import DesktopTestCase, wait_for

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "fuzz"))
from seeds import soundfont  # noqa: E402  the seed builder: presets "Grand" and "Kit"


class AddingFiles(DesktopTestCase):
    def setUp(self):
        super().setUp()
        self.project = self.path("live.cmr")
        self.cardmill("new", self.project, "--name", "Live", "--card-size", "1M")
        for name, frequency in (("kick.wav", 60), ("low.wav", 220), ("high.wav", 880)):
            self.sox("-n", "-r", "22050", "-b", "16", "-c", "1", self.path(name), "synth",
                     "0.3", "sine", str(frequency))

    def listed(self):
        """The project as `cardmill list` reads it back from the file the window saved."""
        listing = json.loads(self.cardmill("list", "--json", self.project).stdout)
        return [[f["file"] for f in group["files"]] for group in listing["groups"]]

    def test_add_files_by_typing_a_path_adds_the_sound(self):
        gui = self.gui(self.project)
        desktop = self.desktop
        desktop.key("ctrl+d")
        dialog = desktop.wait_window("^Add files to project$")
        desktop.screenshot("add-files-opens")
        desktop.type(self.path("kick.wav"))
        desktop.key("Return")
        self.assertIn("kick.wav", desktop.read("the-sound-waits-in-the-list", dialog))
        desktop.key("alt+d")
        desktop.wait_gone(dialog)
        desktop.activate(gui.window)
        desktop.key("ctrl+s")
        wait_for("the project saved with the sound", lambda: "kick.wav" in self.listed()[0])
        desktop.screenshot("the-sound-is-in-the-project")

    def test_add_files_asks_which_presets_of_a_soundfont_to_add(self):
        font = self.path("two.sf2")
        with open(font, "wb") as f:
            f.write(soundfont())
        gui = self.gui(self.project)
        desktop = self.desktop
        desktop.key("ctrl+d")
        dialog = desktop.wait_window("^Add files to project$")
        # From the name field to the kind of files shown: instruments.
        desktop.key("Tab", "Down", "shift+Tab")
        self.assertIn("Instrument Files", desktop.read("instrument-files-are-shown", dialog))
        desktop.type(font)
        desktop.key("Return")
        picker = desktop.wait_window("^Choose Presets$")
        shown = desktop.read("the-presets-are-listed", picker)
        for name in ("Grand", "Kit", "SoundFont 2", "presets"):
            self.assertIn(name, shown)
        desktop.key("ctrl+a", "alt+a")
        desktop.wait_gone(picker)
        shown = desktop.read("both-presets-wait-in-the-list", dialog)
        self.assertIn("Grand", shown)
        self.assertIn("Kit", shown)
        desktop.key("alt+d")
        desktop.wait_gone(dialog)
        # What the card can't hold of each preset is told as it loads.
        for preset in ("grand", "kit"):
            told = desktop.wait_window("^Cardmill$")
            self.assertIn("can't go onto the card", desktop.read(preset + "-what-the-card-cant-hold", told))
            desktop.key("Return")
            desktop.wait_gone(told)
        desktop.activate(gui.window)
        desktop.key("ctrl+s")
        wait_for("the project saved with both presets", lambda: self.listed()[0] == ["Grand", "Kit"])
        desktop.screenshot("the-presets-are-in-the-project")

    def test_create_instrument_by_typing_paths_makes_it_and_adds_it(self):
        gui = self.gui(self.project)
        desktop = self.desktop
        desktop.key("alt+f", "c")
        dialog = desktop.wait_window("^Create instrument$")
        desktop.screenshot("create-instrument-opens")
        for name in ("low.wav", "high.wav"):
            desktop.type(self.path(name))
            desktop.key("Return")
        shown = desktop.read("two-samples-wait", dialog)
        self.assertIn("low.wav", shown)
        self.assertIn("high.wav", shown)
        desktop.key("alt+d")
        desktop.wait_gone(dialog)
        save = desktop.wait_window("Instrument|instrument|Save")
        desktop.screenshot("asked-where-to-save-it")
        instrument = self.path("pad.cmt")
        desktop.type(instrument)
        desktop.key("Return")
        desktop.wait_gone(save)
        info = json.loads(wait_for("the instrument file", lambda: self.cardmill(
            "info", "--json", instrument, check=None).stdout))[0]
        self.assertEqual([s["path"].split("/")[-1] for s in info["instrument"]["samples"]],
                         ["low.wav", "high.wav"])
        desktop.activate(gui.window)
        desktop.key("ctrl+s")
        wait_for("the project saved with the instrument", lambda: "pad.cmt" in self.listed()[0])
        desktop.screenshot("the-instrument-is-in-the-project")


if __name__ == "__main__":
    unittest.main(verbosity=2)
