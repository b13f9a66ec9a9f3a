"""Telling the groups apart as a person does, by looking: each keyboard and drum group shows its
token (K1..K8, D1..D3, as the command line names them) and a picture of its kind beside its name,
in the main window and in Add Files' group chooser; and Add Files lists every file waiting to be
added with the group it goes to, whatever the chooser shows."""

import os
import subprocess
import sys
import time
import unittest

from desktop import DesktopTestCase
from looks import geometry, pixels, read_box, words, write_wav

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from cardmill_e2e import write_song  # noqa: E402
from library_files import bank_capture  # noqa: E402

# From the file name field to the kind of files listed, "All Files" (the last) chosen.
ALL_FILES = ("Tab", "Down", "Down", "Down", "Down", "shift+Tab")


def reddish(pixel):
    r, g, b = pixel
    return r > 140 and g < 100 and b < 100


def dark(pixel):
    return max(pixel) < 80


class Groups(DesktopTestCase):
    def setUp(self):
        super().setUp()
        self.project = self.path("live.cmr")
        self.cardmill("new", self.project, "--name", "Live", "--card-size", "1M")
        self.cardmill("set", self.project, "--group-name", "k2=Piano", "--group-name", "d1=Kit")

    def icon_left_of(self, found, shot, word):
        """The pixels left of a word's box (the picture in front of it)."""
        box = next((w for w in found if w[0] == word), None)
        self.assertIsNotNone(box, f"'{word}' is read")
        _, left, top, width, height = box
        return pixels(shot, max(0, left - 24 * self.factor), top - 2, 20 * self.factor, height + 4)[0]

    def assert_groups_shown(self, text):
        # The tokens OCR reads reliably at this size (K5 and K7 come out as KS and K?).
        for token, name in (("K1", "empty"), ("K2", "Piano"), ("K3", "empty"), ("K4", "empty"),
                            ("K6", "empty"), ("D1", "Kit"), ("D2", "empty"), ("D3", "empty")):
            # A 1 is read as l or I now and then.
            self.assertRegex(text, token.replace("1", "[1lI]") + rf"\S?\s+{name}")

    def test_each_group_shows_its_token_and_a_picture_of_its_kind(self):
        self.factor = 1
        gui = self.gui(self.project)
        desktop = self.desktop
        # Programs chosen (and read light on dark, which OCR misses), the groups read apart from
        # their pictures.
        desktop.key("F6", "End")
        shot = desktop.screenshot("the-groups", gui.window)
        width = 136
        text = read_box(shot, 22, 60, width - 22, 300)
        self.assert_groups_shown(text)
        self.assertIn("Sequences", text)
        self.assertNotIn("K9", text)
        found = words(shot)
        # Keys (white and black) before a keyboard group, a red drum before a drum group.
        keys = self.icon_left_of(found, shot, "K2")
        self.assertTrue(any(dark(p) for p in keys) and not any(reddish(p) for p in keys))
        self.assertTrue(any(reddish(p) for p in self.icon_left_of(found, shot, "D1")))

        # Add Files' chooser of groups, opened on K8 (the list opened then stands K8 over the
        # chooser): the same tokens, names and pictures.
        desktop.key("Home", *["Down"] * 7, "ctrl+d")
        dialog = desktop.wait_window("^Add files to project$")
        shot = desktop.screenshot("add-files", dialog)
        # The chooser stands over the list's title, "Files to add:".
        title = next((w for w in words(shot) if w[0] == "Files"), None)
        self.assertIsNotNone(title, "the panel's title is read")
        _, left, top, _, height = title
        top -= 24 * self.factor
        subprocess.run(["xdotool", "mousemove", "--window", str(dialog), str(left + 80),
                        str(top + height // 2), "click", "1"], env=desktop.env)
        time.sleep(1)
        # The list opened is a window of its own, over the dialog: read from the screen.
        shot = desktop.screenshot("the-chooser-lists-the-groups")
        x, y, _, _ = geometry(desktop, dialog)
        left, top = x + left, y + top
        self.assert_groups_shown(read_box(shot, left + 30 * self.factor, top - 200 * self.factor,
                                          250 * self.factor, 400 * self.factor))
        self.assertTrue(any(reddish(p) for p in self.icon_left_of(words(shot), shot, "D1")))
        desktop.key("Escape")

    def test_add_files_lists_every_waiting_file_with_its_group(self):
        write_wav(self.path("pad.wav"), 60)
        write_song(self.path("song.mid"), 1)
        with open(self.path("bank.syx"), "wb") as bank:
            bank.write(bank_capture())
        gui = self.gui(self.project)
        desktop = self.desktop
        desktop.key("ctrl+d")
        dialog = desktop.wait_window("^Add files to project$")
        desktop.key(*ALL_FILES)
        self.assertIn("All Files", desktop.read("all-files-are-listed", dialog, bottom=40))
        for name in ("pad.wav", "song.mid", "bank.syx"):
            desktop.type(self.path(name))
            desktop.key("Return")
        shown = desktop.read("every-file-with-its-group", dialog, right=440)
        self.assertRegex(shown, r"pad\.wav \(K[1lI]\S?\s+empty\)")
        self.assertRegex(shown, r"song\.mid \(Sequences\)")
        self.assertRegex(shown, r"bank\.syx \(Programs\)")
        desktop.key("alt+d")
        desktop.wait_gone(dialog)

        def saved():
            groups = [[f["file"] for f in group["files"]] for group in self.listing(self.project)["groups"]]
            return groups if groups[0] and groups[11] and groups[12] else None
        groups = self.save(gui, "the project saved with the three files", saved)
        self.assertEqual((groups[0], groups[11], groups[12]),
                         (["pad.wav"], ["song.mid"], ["bank.syx"]))


if __name__ == "__main__":
    unittest.main(verbosity=2)
