"""Adding sounds to a project and making an instrument, through the file choosers, by typing
paths as a person does on a real display with a window manager."""

import json
import unittest

from desktop import DesktopTestCase, wait_for


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
