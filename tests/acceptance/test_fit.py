"""Fit to Card from the window: the plan a person reads before anything changes, Apply that
makes the project fit its card, and Undo that gives back the project as it was, byte for byte."""

import os
import re
import shutil
import unittest

from desktop import DesktopTestCase, wait_for

GM = "/usr/share/sounds/sf2/TimGM6mb.sf2"


class FitToCard(DesktopTestCase):
    def setUp(self):
        super().setUp()
        self.project = self.path("live.cmr")
        self.cardmill("new", self.project, "--name", "Live", "--card-size", "256K")
        # Three seconds of 48 kHz sound: over a 256 K card until a rate comes down.
        for name, seconds, frequency in (("pad.wav", "2", "220"), ("bell.wav", "1", "880")):
            self.cardmill("add", self.project, self.tone(self.path(name), seconds, "sine", frequency, rate=48000))

    def project_bytes(self):
        with open(self.project, "rb") as f:
            return f.read()

    def test_apply_makes_the_project_fit_and_undo_gives_it_back(self):
        before = self.project_bytes()
        self.assertGreater(self.listing(self.project)["totalBytes"], self.listing(self.project)["cardBytes"])
        gui = self.gui(self.project)
        desktop = self.desktop
        # The first row is selected, white on blue: the second reads reliably.
        wait_for("the project loaded", lambda: "bell" in desktop.read("loaded", gui.window))
        desktop.key("alt+p", "d")
        dialog = desktop.wait_window("^Fit to Card$")
        shown = desktop.read("the-plan", dialog)
        for words in ("pad", "bell", "48000 -> ", "the card holds 262144"):
            self.assertIn(words, shown)
        desktop.key("Return")
        desktop.wait_gone(dialog)
        fitted = self.save(gui, "the fitted project saved", lambda: self.project_bytes() != before
                           and self.project_bytes())
        listing = self.listing(self.project)
        self.assertLessEqual(listing["totalBytes"], listing["cardBytes"])
        desktop.screenshot("fitted", gui.window)

        desktop.key("ctrl+z")
        desktop.key("ctrl+s")
        wait_for("the project saved as it was", lambda: self.project_bytes() == before)
        desktop.screenshot("undone", gui.window)
        self.assertNotEqual(fitted, before)

    @unittest.skipUnless(os.path.exists(GM), "needs timgm6mb-soundfont")
    def test_a_soundfont_drum_kit_fitted_in_the_window_keeps_its_samples_and_gives_the_command_lines_card(self):
        kit = self.path("kit.cmr")
        self.cardmill("new", kit, "--name", "Kit", "--card-size", "256K")
        self.cardmill("add", kit, "--group", "d1", "--preset", "128:0", GM)
        shutil.copy(kit, self.path("same.cmr"))
        gui = self.gui(kit)
        desktop = self.desktop
        # Loaded: the status bar says the project is over the card (the kit is in the drum group,
        # not shown).
        wait_for("the kit loaded", lambda: re.search(r"card\s*by", desktop.read("loaded", gui.window, bottom=40)))
        desktop.activate(gui.window)
        desktop.key("alt+p", "d")
        dialog = desktop.wait_window("^Fit to Card$")
        desktop.key("alt+l", "End")  # the lowest rate: 8000 Hz
        plan = wait_for("the plan at 8000 Hz", lambda: "-> 8000" in (text := desktop.read("the-plan", dialog))
                        and text)
        self.assertIn("Filter", plan)  # a sample of the kit among its rows, not the kit as one
        desktop.key("Return")
        desktop.wait_gone(dialog)
        self.save(gui, "the fitted kit saved", lambda: os.path.isdir(self.path("kit.fit"))
                  and self.listing(kit)["totalBytes"] <= 262144)
        desktop.screenshot("fitted", gui.window)
        (fitted,) = [f for g in self.listing(kit)["groups"] for f in g["files"]]
        self.assertEqual(len({s["path"] for s in fitted["samples"]}), 45)

        # The command line, from the same project, makes the same card.
        self.cardmill("fit", self.path("same.cmr"), "--min-rate", "8000")
        self.cardmill("image", kit, "-o", self.path("window.img"))
        self.cardmill("image", self.path("same.cmr"), "-o", self.path("line.img"))
        with open(self.path("window.img"), "rb") as a, open(self.path("line.img"), "rb") as b:
            self.assertEqual(a.read(), b.read())


if __name__ == "__main__":
    unittest.main(verbosity=2)
