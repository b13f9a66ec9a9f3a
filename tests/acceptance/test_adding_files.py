"""Adding sounds to a project and making an instrument, through the file choosers, by typing
paths as a person does on a real display with a window manager."""

import os
import sys
import time
import unittest

from desktop import DesktopTestCase

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "fuzz"))
from seeds import soundfont  # noqa: E402  the seed builder: presets "Grand" and "Kit"


# Debian's General MIDI SoundFont (scripts/install-deps installs it): 136 presets, kept in the
# file in no order of bank and program.
GM = "/usr/share/sounds/sf2/TimGM6mb.sf2"
# From the file name field past the file type to the list of files to add, its first file chosen.
LOOK_AT_THE_FIRST_FILE_TO_ADD = ("Tab", "Tab", "space")
# The width of the add-files dialog's panel of files to add, read apart from the chooser.
PANEL = 440
# A message box's focus from its OK button to "Show Details...", pressed.
SHOW_DETAILS = ("Tab", "space")


class AddingFiles(DesktopTestCase):
    def setUp(self):
        super().setUp()
        self.project = self.path("live.cmr")
        self.cardmill("new", self.project, "--name", "Live", "--card-size", "1M")
        self.tone(self.path("low.wav"), 0.3, "sine", "220")

    def listed(self):
        """The project as `cardmill list` reads it back from the file the window saved."""
        return [[f["file"] for f in group["files"]] for group in self.listing(self.project)["groups"]]

    def test_add_files_asks_which_presets_of_a_soundfont_to_add(self):
        font = self.two_presets()
        gui = self.gui(self.project)
        desktop = self.desktop
        desktop.key("ctrl+d")
        dialog = desktop.wait_window("^Add files to project$")
        # From the name field to the kind of files shown: instruments.
        desktop.key("Tab", "Down", "shift+Tab")
        self.assertIn("Instrument Files", desktop.read("instrument-files-are-shown", dialog, bottom=40))
        desktop.type(font)
        desktop.key("Return")
        picker = desktop.wait_window("^Choose Presets$")
        shown = desktop.read("the-presets-are-listed", picker)
        for name in ("Grand", "Kit", "SoundFont 2", "presets"):
            self.assertIn(name, shown)
        # From the filter field into the list, where all are chosen.
        desktop.key("Tab", "ctrl+a", "alt+a")
        desktop.wait_gone(picker)
        shown = self.files_to_add("both-presets-wait-in-the-list", dialog)
        self.assertIn("Grand", shown)
        self.assertIn("Kit", shown)
        desktop.key("alt+d")
        desktop.wait_gone(dialog)
        # What the card can't hold of each preset is told as it loads.
        for preset in ("grand", "kit"):
            self.message(preset + "-what-the-card-cant-hold", "not on the card")
        self.save_and_expect(gui, ["Grand", "Kit"])

    def test_typing_a_soundfont_while_sound_files_are_shown_asks_for_its_presets(self):
        font = self.two_presets()
        gui = self.gui(self.project)
        desktop = self.desktop
        desktop.key("ctrl+d")
        dialog = desktop.wait_window("^Add files to project$")
        self.assertIn("Sound Files", desktop.read("sound-files-are-shown", dialog, bottom=40))
        desktop.type(font)
        desktop.key("Return")
        # Its presets are offered, not its bytes as raw sample data.
        picker = desktop.wait_window("^Choose Presets$")
        shown = desktop.read("its-presets-are-offered", picker)
        self.assertIn("Grand", shown)
        self.assertIn("Kit", shown)
        desktop.key("Return")
        desktop.wait_gone(picker)
        shown = self.files_to_add("grand-waits-in-the-list", dialog)
        self.assertIn("Grand", shown)
        self.assertNotIn("understand", shown)
        desktop.key("alt+d")
        desktop.wait_gone(dialog)
        _, shown = self.message("what-grand-leaves-out", "not on the card")
        self.assertNotIn("understand", shown)
        self.save_and_expect(gui, ["Grand"])

    def test_choose_presets_lists_by_bank_and_program_and_narrows_as_one_types(self):
        self.assertTrue(os.path.exists(GM), GM + ": scripts/install-deps installs it")
        gui = self.gui(self.project)
        desktop = self.desktop
        dialog, picker = self.choose_presets_of(GM)
        shown = desktop.read("the-presets-by-bank-and-program", picker)
        self.assertIn("136 presets", shown)
        # 0:0 first (chosen, so light on dark), and the file's first preset (0:73 Flute TB) far
        # down the list.
        self.assertRegex(shown, r"instrument\. 0:0 .*?0:1 Piano 2 0:2 Piano 3")
        self.assertNotIn("Flute", shown)
        desktop.type("strings")
        shown = desktop.read("narrowed-to-strings", picker)
        self.assertIn("Strings CLP", shown)
        self.assertIn("Synth Strings", shown)
        self.assertNotIn("Piano", shown)
        # From 0:44 Strings (Tremelo) to 0:48 Strings CLP, without leaving the field.
        desktop.key("Down")
        desktop.screenshot("strings-clp-chosen", picker)
        desktop.key("Return")
        desktop.wait_gone(picker)
        self.assertIn("Strings CLP", self.files_to_add("strings-clp-waits-in-the-list", dialog))
        desktop.key("alt+d")
        desktop.wait_gone(dialog)
        self.acknowledge_what_is_left_out()
        self.save_and_expect(gui, ["Strings CLP"])

    def test_what_a_preset_leaves_out_is_told_once_in_one_line_with_the_list_under_details(self):
        self.assertTrue(os.path.exists(GM), GM + ": scripts/install-deps installs it")
        gui = self.gui(self.project)
        desktop = self.desktop
        dialog, picker = self.choose_presets_of(GM)
        desktop.type("flute tb")
        self.assertIn("Flute TB", desktop.read("flute-tb-found", picker))
        desktop.key("Return")
        desktop.wait_gone(picker)
        # Looked at in the list of files to add, it says so in a line of the panel, no message.
        desktop.key(*LOOK_AT_THE_FIRST_FILE_TO_ADD)
        shown = self.files_to_add("looking-at-it-says-it-in-a-line", dialog)
        self.assertIn("kinds of setting are not on the card", shown.lower())
        self.assertEqual(desktop.windows("^Cardmill$"), [])
        desktop.key("alt+d")
        desktop.wait_gone(dialog)
        told, shown = self.message("one-message-of-one-line", close=None)
        self.assertRegex(shown.lower(), r"kinds of setting in the preset .flute tb. of timgm6mb.sf2 are "
                                        r"not on the card")
        self.assertEqual(shown.count("not on the card"), 1)
        desktop.key(*SHOW_DETAILS)
        shown = desktop.read("the-list-under-details", told)
        self.assertGreaterEqual(shown.count("not on the card"), 4)
        self.assertIn("instrument", shown)
        self.assertIn("times in all", shown)
        desktop.key("Escape")
        desktop.wait_gone(told)
        # Added, it is not told again.
        time.sleep(3)
        desktop.screenshot("no-second-message")
        self.assertEqual(desktop.windows("^Cardmill$"), [])
        self.save_and_expect(gui, ["Flute TB"])

    def test_a_file_name_the_instrument_cant_show_is_told_with_the_name_it_shows(self):
        sound = self.path("Klavier ♪.wav")
        os.rename(self.path("low.wav"), sound)
        gui = self.gui(self.project)
        desktop = self.desktop
        desktop.key("ctrl+d")
        dialog = desktop.wait_window("^Add files to project$")
        # A name one can't type is chosen from the completions of its beginning.
        desktop.type(self.path("Kla"))
        desktop.key("Down", "Return")
        self.assertIn("Klavier", self.files_to_add("the-sound-waits-in-the-list", dialog))
        desktop.key("alt+d")
        desktop.wait_gone(dialog)
        self.message("the-name-the-instrument-shows", "shows on the instrument as", "Klavier")
        self.save(gui, "the project saved with the sound", lambda: self.listed()[0])
        self.assertEqual(self.listing(self.project)["groups"][0]["files"][0]["name"], "Klavier_.w")

    def two_presets(self):
        """A SoundFont of the presets "Grand" and "Kit", beside the project."""
        font = self.path("two.sf2")
        with open(font, "wb") as f:
            f.write(soundfont())
        return font

    def choose_presets_of(self, path):
        """Add Files, the library's path typed: the dialog and its Choose Presets."""
        self.desktop.key("ctrl+d")
        dialog = self.desktop.wait_window("^Add files to project$")
        self.desktop.type(path)
        self.desktop.key("Return")
        return dialog, self.desktop.wait_window("^Choose Presets$")

    def save_and_expect(self, gui, names):
        """Ctrl+S in the main window, and the first group as the saved project holds it."""
        self.save(gui, "the project saved with %s" % names, lambda: self.listed()[0] == names)
        self.desktop.screenshot("the-presets-are-in-the-project")

    def files_to_add(self, step, dialog):
        """What the add-files dialog shows, its panel of files to add also read apart: a short name
        alone in the list escapes tesseract now and then, in the window or in the panel alone."""
        return (self.desktop.read(step, dialog) + " "
                + self.desktop.read(step + "-panel", dialog, right=PANEL))

    def acknowledge_what_is_left_out(self):
        """OK to the one message of what the card can't hold, when the instrument has one."""
        try:
            self.desktop.wait_window("^Cardmill$", timeout=10)
        except AssertionError:
            return
        self.message("what-it-leaves-out", "not on the card")


if __name__ == "__main__":
    unittest.main(verbosity=2)
