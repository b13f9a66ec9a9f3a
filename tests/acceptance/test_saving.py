"""Saving from the window as a newcomer does it: a project's name typed without its extension, a
project kept under a bare name opened again, the title's mark of unsaved changes, the status bar
of a project over its card, and a sequence's name. (The instrument's and the card image's save
dialogs take bare names in test_creating_an_instrument.py and test_card.py.)"""

import os
import subprocess
import sys
import time
import unittest

from desktop import DesktopTestCase, wait_for

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from cardmill_e2e import write_song  # noqa: E402


class Saving(DesktopTestCase):
    def setUp(self):
        super().setUp()
        self.project = self.path("live.cmr")
        self.cardmill("new", self.project, "--name", "Live", "--card-size", "1M")
        for name, frequency in (("kick.wav", 60), ("snare.wav", 180)):
            self.tone(self.path(name), 0.3, "sine", str(frequency))

    def listed(self, project):
        return [[f["file"] for f in group["files"]] for group in self.listing(project)["groups"]]

    def title(self, window):
        """The window's title, as the window manager shows it in the title bar."""
        return subprocess.run(["xdotool", "getwindowname", str(window)], env=self.desktop.env,
                              capture_output=True, text=True).stdout.strip()

    def test_save_as_with_a_bare_name_saves_a_project_file_and_asks_before_replacing_it(self):
        gui = self.gui(self.project)
        self.add_file(gui, self.path("kick.wav"))
        chooser = self.menu(gui, "alt+f", "a", "^Save As$")
        self.desktop.screenshot("save-as-under-the-project-type", chooser)
        self.type_name(chooser, self.path("perc"))
        self.desktop.wait_gone(chooser)
        wait_for("perc.cmr on disk", lambda: os.path.exists(self.path("perc.cmr")))
        self.assertFalse(os.path.exists(self.path("perc")))
        self.assertEqual(self.listed(self.path("perc.cmr"))[0], ["kick.wav"])
        self.assertTrue(self.title(gui.window).endswith("perc.cmr"), self.title(gui.window))

        # The same bare name again, with more in the project: the file it names is asked about.
        self.add_file(gui, self.path("snare.wav"))
        chooser = self.menu(gui, "alt+f", "a", "^Save As$")
        self.type_name(chooser, self.path("perc"))
        asked = wait_for("the question about perc.cmr",
                         lambda: [w for w in self.desktop.windows("^Save As$") if w != chooser])[-1]
        shown = self.desktop.read("perc-cmr-is-asked-about", asked)
        self.assertIn("already exists", shown)
        self.assertIn("perc.cmr", shown)
        self.desktop.key("alt+n")
        self.desktop.wait_gone(asked)
        self.assertEqual(self.listed(self.path("perc.cmr"))[0], ["kick.wav"])
        self.type_name(chooser, self.path("perc"))
        asked = wait_for("the question again",
                         lambda: [w for w in self.desktop.windows("^Save As$") if w != chooser])[-1]
        self.desktop.activate(asked)
        self.desktop.key("alt+y")
        self.desktop.wait_gone(chooser)
        wait_for("perc.cmr replaced",
                 lambda: self.listed(self.path("perc.cmr"))[0] == ["kick.wav", "snare.wav"])

    def test_a_project_kept_without_its_extension_opens_as_a_project(self):
        self.cardmill("add", self.project, self.path("kick.wav"))
        bare = self.path("perc")
        os.rename(self.project, bare)
        # Given on the command line, as a file manager or a terminal gives it.
        gui = self.gui(bare)
        shown = self.desktop.read("opened-from-the-command-line", gui.window, top=130, right=590)
        self.assertIn("kick.wav", shown)
        # No raw-data question, no "can't understand".
        self.assertEqual(self.desktop.windows("^Cardmill$"), [])
        # And through Open, by typing its name.
        self.desktop.key("ctrl+n")
        self.desktop.wait_window("^Cardmill - untitled")
        chooser = self.menu(gui, "alt+f", "o", "^Open$")
        self.type_name(chooser, bare)
        self.desktop.wait_gone(chooser)
        self.desktop.wait_window("^Cardmill - .*/perc$")
        self.assertIn("kick.wav", self.desktop.read("opened-through-open", gui.window, top=130, right=590))
        self.assertEqual(self.desktop.windows("^Cardmill$"), [])

    def test_the_title_marks_unsaved_changes_until_they_are_saved(self):
        gui = self.gui(self.project)
        self.assertFalse(self.title(gui.window).endswith("*"), self.title(gui.window))
        self.add_file(gui, self.path("kick.wav"))
        wait_for("the mark of unsaved changes", lambda: self.title(gui.window).endswith("live.cmr*"))
        self.desktop.screenshot("marked-unsaved")
        self.desktop.key("ctrl+s")
        wait_for("the mark gone once saved", lambda: self.title(gui.window).endswith("live.cmr"))
        self.desktop.screenshot("saved")

    def test_a_sequence_is_shown_by_its_files_name(self):
        write_song(self.path("groove.mid"), 1)
        self.cardmill("add", self.project, self.path("groove.mid"))
        gui = self.gui(self.project)
        # From the file list to the groups, then to Sequences, second from the end.
        self.desktop.key("F6", "End", "Up")
        time.sleep(0.5)
        # The file list alone, right of the groups.
        shown = self.desktop.read("the-sequence-by-name", gui.window, right=590)
        self.assertNotIn("Sequence 00", shown)
        self.assertGreaterEqual(shown.count("groove"), 2, shown)


class OverTheCard(DesktopTestCase):
    def setUp(self):
        super().setUp()
        self.project = self.path("big.cmr")
        self.cardmill("new", self.project, "--name", "Big", "--card-size", "128K")
        self.cardmill("add", self.project, self.tone(self.path("pad.wav"), 2, "sine", "220", rate=44100),
                      check=None)

    def warning_pixels(self, shot):
        """How many pixels of the screenshot's bottom strip are a strong red."""
        ppm = subprocess.run(["convert", shot, "-gravity", "South", "-crop", "0x40+0+0", "+repage",
                              "ppm:-"], capture_output=True, check=True).stdout
        magic, width, height, depth, rest = ppm.split(maxsplit=4)
        pixels = rest[:int(width) * int(height) * 3]
        return sum(1 for i in range(0, len(pixels), 3)
                   if pixels[i] > 100 and pixels[i] > 3 * max(pixels[i + 1], pixels[i + 2], 10))

    def test_the_status_bar_says_by_how_much_in_red_and_send_points_to_fit_to_card(self):
        free = self.listing(self.project)["freeBytes"]
        self.assertLess(free, 0)
        gui = self.gui(self.project)
        status = wait_for("the status bar's verdict", lambda: (
            lambda text: text if "card" in text.lower() and "bytes" in text else None)(
                self.desktop.read("status-bar", gui.window, bottom=40)))
        # Bold words may read run together.
        self.assertIn("Overthecardby", status.replace(" ", ""))
        self.assertIn(f"{-free:,}", status)
        self.assertGreater(self.warning_pixels(self.desktop.screenshot("in-red", gui.window)), 30)

        self.desktop.key("alt+p")
        time.sleep(0.5)
        self.desktop.key("s")
        self.message("send-refused", "too large", "Fit to Card")


if __name__ == "__main__":
    unittest.main(verbosity=2)
