"""Fit to Card from the window: the plan a person reads before anything changes, Apply that
makes the project fit its card, and Undo that gives back the project as it was, byte for byte."""

import json
import unittest

from desktop import DesktopTestCase, wait_for


class FitToCard(DesktopTestCase):
    def setUp(self):
        super().setUp()
        self.project = self.path("live.cmr")
        self.cardmill("new", self.project, "--name", "Live", "--card-size", "256K")
        # Three seconds of 48 kHz sound: over a 256 K card until a rate comes down.
        for name, seconds, frequency in (("pad.wav", "2", "220"), ("bell.wav", "1", "880")):
            self.sox("-n", "-r", "48000", "-b", "16", "-c", "1", self.path(name), "synth",
                     seconds, "sine", frequency)
            self.cardmill("add", self.project, self.path(name))

    def project_bytes(self):
        with open(self.project, "rb") as f:
            return f.read()

    def listing(self):
        return json.loads(self.cardmill("list", "--json", self.project).stdout)

    def test_apply_makes_the_project_fit_and_undo_gives_it_back(self):
        before = self.project_bytes()
        self.assertGreater(self.listing()["totalBytes"], self.listing()["cardBytes"])
        gui = self.gui(self.project)
        desktop = self.desktop
        wait_for("the project loaded", lambda: "pad" in desktop.read("loaded", gui.window))
        desktop.key("alt+p", "d")
        dialog = desktop.wait_window("^Fit to Card$")
        shown = desktop.read("the-plan", dialog)
        for words in ("pad", "bell", "48000 -> ", "the card holds 262144"):
            self.assertIn(words, shown)
        desktop.key("Return")
        desktop.wait_gone(dialog)
        desktop.activate(gui.window)
        desktop.key("ctrl+s")
        fitted = wait_for("the fitted project saved", lambda: self.project_bytes() != before
                          and self.project_bytes())
        listing = self.listing()
        self.assertLessEqual(listing["totalBytes"], listing["cardBytes"])
        desktop.screenshot("fitted", gui.window)

        desktop.key("ctrl+z")
        desktop.key("ctrl+s")
        wait_for("the project saved as it was", lambda: self.project_bytes() == before)
        desktop.screenshot("undone", gui.window)
        self.assertNotEqual(fitted, before)


if __name__ == "__main__":
    unittest.main(verbosity=2)
