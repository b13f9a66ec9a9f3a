"""How the windows look, at the desktop's default scale and at 150 % (QT_SCALE_FACTOR=1.5): the
comments under their heading, file sizes whole in the file dialogs, a question about a file over
the window that asked it, and dialogs without a spare strip at their bottom edge."""

import os
import re
import subprocess
import sys
import time
import unittest

from desktop import CARDMILL_GUI, DesktopTestCase
from looks import geometry, words, write_wav

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from cardmill_e2e import write_song  # noqa: E402


class Looks:
    """The checks, run at one scale by each of the two classes below."""

    SCALE = None

    def setUp(self):
        super().setUp()
        if self.SCALE:
            self.desktop.env["QT_SCALE_FACTOR"] = str(self.SCALE)
        self.factor = self.SCALE or 1
        self.project = self.path("live.cmr")
        self.cardmill("new", self.project, "--name", "Live", "--card-size", "1M")
        # 22050 frames of 16 bits: 43.1 KiB.
        write_wav(self.path("pad.wav"), 60, "Warm pad", frames=22050)
        self.cardmill("add", self.project, "--group", "k1", self.path("pad.wav"))

    def test_the_comment_stands_under_its_heading(self):
        gui = self.gui(self.project)
        shot = self.desktop.screenshot("the-comment-column", gui.window)
        found = words(shot)
        heading = next((w for w in found if w[0] == "Comment"), None)
        comment = next((w for w in found if w[0] == "Warm"), None)
        self.assertIsNotNone(heading, "the heading is read")
        self.assertIsNotNone(comment, "the comment is read")
        self.assertLessEqual(abs(heading[1] - comment[1]), 6 * self.factor,
                             f"the comment begins at {comment[1]}, its heading at {heading[1]}")

    def test_the_file_dialog_shows_sizes_whole(self):
        self.gui(self.project)
        desktop = self.desktop
        desktop.key("ctrl+d")
        dialog = desktop.wait_window("^Add files to project$")
        # The folder of the sound, listed with its size.
        desktop.type(self.dir + "/")
        desktop.key("Return")
        time.sleep(1)
        shown = desktop.read("the-sound-with-its-size", dialog)
        self.assertRegex(shown, r"43[.,]\d+ KiB")

    def assert_over(self, box, window, what):
        """The question stands in the middle of the window, as a dialog is centred on its owner."""
        bx, by, bw, bh = geometry(self.desktop, box)
        wx, wy, ww, wh = geometry(self.desktop, window)
        off = (abs(bx + bw // 2 - (wx + ww // 2)), abs(by + bh // 2 - (wy + wh // 2)))
        self.assertTrue(off[0] <= ww // 6 and off[1] <= wh // 6,
                        f"the question is {off} off the middle of {what} {(wx, wy, ww, wh)}")

    def test_the_raw_data_question_stands_over_the_window(self):
        junk = self.path("junk.bin")
        with open(junk, "wb") as out:
            out.write(bytes(range(256)) * 8)
        desktop = self.desktop
        # Given at start, the question is asked as the window appears.
        desktop._spawn([CARDMILL_GUI, "--no-splash", "--config-dir", self.config, junk],
                       "cardmill-gui.log")
        question = desktop.wait_window("^Cardmill$")
        time.sleep(0.5)
        desktop.screenshot("asked-at-start")
        window = desktop.wait_window("^Cardmill - ")
        self.assert_over(question, window, "the main window")
        desktop.activate(question)
        desktop.key("Escape")
        desktop.wait_gone(question)
        # Typed into Add Files, over that dialog.
        desktop.activate(window)
        desktop.key("ctrl+d")
        dialog = desktop.wait_window("^Add files to project$")
        desktop.type(junk)
        desktop.key("Return")
        question = desktop.wait_window("^Cardmill$")
        time.sleep(0.5)
        desktop.screenshot("asked-in-add-files")
        self.assert_over(question, dialog, "Add Files")
        desktop.key("Escape")

    def test_dialogs_end_at_their_contents(self):
        """No strip under a dialog's own contents: the window manager draws a resize handle under
        every window that can be resized, and a dialog of a few fields has no use for one."""
        gui = self.gui(self.project)
        desktop = self.desktop
        for menu, letter, title in (("alt+p", "c", "^Card Info$"),
                                    ("alt+p", "r", "^Keyboard Group 1$"),
                                    ("alt+e", "f", "^Preferences$")):
            dialog = self.menu(gui, menu, letter, title)
            time.sleep(0.5)
            name = title.strip("^$").replace(" ", "-").lower()
            desktop.screenshot(name, dialog)
            desktop.screenshot(name + "-on-the-screen")
            self.assert_no_strip_under(dialog, title)
            desktop.key("Escape")
            desktop.wait_gone(dialog)

    def assert_no_strip_under(self, dialog, title):
        # Left, right, top and bottom of the frame around the dialog: at the bottom only its
        # border, as at its sides.
        extents = subprocess.run(["xprop", "-id", str(dialog), "_NET_FRAME_EXTENTS"],
                                 env=self.desktop.env, capture_output=True, text=True).stdout
        left, _, _, bottom = (int(n) for n in re.findall(r"\d+", extents.split("=")[1]))
        self.assertLessEqual(bottom, left, f"{title}: a strip of {bottom} pixels under it")

    def test_each_dialog_shows_its_labels_whole(self):
        """A tour of the other dialogs, each left as a screenshot to look at, its labels read
        whole. Voice Info (its keyboard) and MIDI Setup (long port names) can be made larger,
        and keep the window manager's handle for it."""
        write_song(self.path("song.mid"), 4)
        self.cardmill("add", self.project, self.path("song.mid"))
        gui = self.gui(self.project)
        desktop = self.desktop
        tour = ((["Down"], "alt+p", "v", "^Voice Info$", ("edit samples", "Lower Key", "Upper Key")),
                ([], "alt+p", "m", "^MIDI Setup$", ("MIDI Input Port", "MIDI Output Port")),
                (["F6", "End", "Up"], "alt+p", "q", "^Sequence Info$",
                 ("Sequence Data via Out Port",)))
        for before, menu, letter, title, labels in tour:
            desktop.activate(gui.window)
            if before:
                desktop.key(*before)
            if letter == "q":
                # The song, clicked in the list.
                subprocess.run(["xdotool", "mousemove", "--window", str(gui.window),
                                str(160 * self.factor), str(92 * self.factor), "click", "1"],
                               env=desktop.env)
            dialog = self.menu(gui, menu, letter, title)
            time.sleep(0.5)
            shown = desktop.read(title.strip("^$").replace(" ", "-").lower(), dialog)
            for label in labels:
                self.assertIn(label, shown)
            if letter == "q":
                self.assert_no_strip_under(dialog, title)
            desktop.key("Escape")
            desktop.wait_gone(dialog)


class LooksAtDefaultScale(Looks, DesktopTestCase):
    SCALE = None


class LooksAtOneAndAHalf(Looks, DesktopTestCase):
    SCALE = 1.5


if __name__ == "__main__":
    unittest.main(verbosity=2)
